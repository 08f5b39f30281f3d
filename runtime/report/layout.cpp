#include "report/layout.h"

#include "report/expression.h"
#include "report/templates.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <strings.h>

using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;

namespace {
[[noreturn]] void fail(const std::string &message) { throw LayoutError(message); }

// Where a problem is, as the person reads it: "coluna 3 (Valor Contábil)".
std::string columnPlace(std::size_t index, const std::string &caption)
{
    std::string place = "coluna " + std::to_string(index + 1);
    return caption.empty() ? place : place + " (" + caption + ")";
}

std::string text(const Json &object, const char *key, const std::string &where, const std::string &fallback = {})
{
    auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return fallback;
    if (!it->is_string())
        fail("Layout inválido: \"" + std::string(key) + "\" " + where + " deve ser um texto.");
    return it->get<std::string>();
}

bool flag(const Json &object, const char *key, const std::string &where, bool fallback)
{
    auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return fallback;
    if (!it->is_boolean())
        fail("Layout inválido: \"" + std::string(key) + "\" " + where + " deve ser true ou false.");
    return it->get<bool>();
}

const Json *array(const Json &object, const char *key)
{
    auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return nullptr;
    if (!it->is_array())
        fail("Layout inválido: \"" + std::string(key) + "\" deve ser uma lista.");
    return &*it;
}

ValueFormat format(const Json &object, const std::string &where)
{
    const std::string name = text(object, "format", where);
    try {
        return ParseValueFormat(name);
    } catch (const LayoutError &e) {
        fail("Layout inválido " + where + ": " + e.Message());
    }
}

LayoutColumn parseColumn(const Json &c, std::size_t index)
{
    if (!c.is_object())
        fail("Layout inválido: a coluna " + std::to_string(index + 1) + " deve ser um objeto.");
    LayoutColumn col;
    col.caption = text(c, "caption", "da coluna " + std::to_string(index + 1));
    const std::string where = "na " + columnPlace(index, col.caption);
    col.field = text(c, "field", where);
    col.expression = text(c, "expression", where);
    if (col.field.empty() == col.expression.empty())
        fail("Layout inválido " + where + ": informe o campo (\"field\") ou a expressão (\"expression\"), um dos dois.");
    if (!col.expression.empty()) {
        try {
            ColumnExpression::Compile(col.expression);
        } catch (const LayoutError &e) {
            fail("Layout inválido " + where + ": " + e.Message());
        }
    }
    if (auto w = c.find("width"); w != c.end() && !w->is_null()) {
        if (!w->is_number() || !std::isfinite(w->get<double>()) || w->get<double>() <= 0)
            fail("Layout inválido " + where + ": a largura deve ser um número positivo.");
        col.width = w->get<double>();
    }
    const std::string align = text(c, "align", where, "left");
    if (align == "left") col.align = ColumnAlign::Left;
    else if (align == "center") col.align = ColumnAlign::Center;
    else if (align == "right") col.align = ColumnAlign::Right;
    else fail("Layout inválido " + where + ": alinhamento desconhecido '" + align + "' (use left, center ou right).");
    col.format = format(c, where);
    const std::string total = text(c, "total", where, "none");
    if (total == "none") col.total = ColumnTotal::None;
    else if (total == "sum") col.total = ColumnTotal::Sum;
    else if (total == "count") col.total = ColumnTotal::Count;
    else fail("Layout inválido " + where + ": total desconhecido '" + total + "' (use sum ou count).");
    if (col.total == ColumnTotal::Sum &&
        (col.format.kind == ValueFormat::Kind::Text || col.format.kind == ValueFormat::Kind::Date ||
         col.format.kind == ValueFormat::Kind::Cfop || col.format.kind == ValueFormat::Kind::Product ||
         col.format.kind == ValueFormat::Kind::List || col.format.kind == ValueFormat::Kind::Month ||
         col.format.kind == ValueFormat::Kind::TaxId))
        fail("Layout inválido " + where + ": só colunas numéricas podem ser somadas (formato '" +
             ValueFormatName(col.format) + "').");
    if (auto from = c.find("total_from_group"); from != c.end() && !from->is_null()) {
        if (!from->is_number_integer() || from->get<long long>() < 0 || from->get<long long>() > 100)
            fail("Layout inválido " + where + ": \"total_from_group\" deve ser o nível de um grupo (0, 1, ...).");
        col.totalFromGroup = from->get<int>();
    }
    const std::string overflow = text(c, "overflow", where, "ellipsis");
    if (overflow == "ellipsis") col.overflow = ColumnOverflow::Ellipsis;
    else if (overflow == "wrap") col.overflow = ColumnOverflow::Wrap;
    else fail("Layout inválido " + where + ": \"overflow\" desconhecido '" + overflow + "' (use ellipsis ou wrap).");
    col.visible = flag(c, "visible", where, true);
    return col;
}

LayoutParameter parseParameter(const Json &p, std::size_t index)
{
    const std::string where = "no parâmetro " + std::to_string(index + 1);
    if (!p.is_object())
        fail("Layout inválido: o parâmetro " + std::to_string(index + 1) + " deve ser um objeto.");
    LayoutParameter param;
    param.param = text(p, "param", where);
    if (param.param.empty())
        fail("Layout inválido " + where + ": falta o nome do parâmetro (\"param\").");
    param.label = text(p, "label", where, param.param);
    param.to = text(p, "to", where);
    param.format = format(p, where + " (" + param.label + ")");
    if (auto v = p.find("values"); v != p.end() && !v->is_null()) {
        if (!v->is_object())
            fail("Layout inválido " + where + ": \"values\" deve ser um objeto de textos.");
        for (const auto &[raw, words] : v->items()) {
            if (!words.is_string())
                fail("Layout inválido " + where + ": o valor de '" + raw + "' em \"values\" deve ser um texto.");
            param.values[raw] = words.get<std::string>();
        }
    }
    param.lookup = text(p, "lookup", where);
    param.all = text(p, "all", where, param.all);
    if (auto h = p.find("header"); h != p.end() && !h->is_null()) {
        if (h->is_boolean())
            param.header = h->get<bool>() ? ParameterHeader::Always : ParameterHeader::No;
        else if (h->is_string() && h->get<std::string>() == "when_set")
            param.header = ParameterHeader::WhenSet;
        else
            fail("Layout inválido " + where + ": \"header\" deve ser true, false ou \"when_set\".");
    }
    const std::string shows = text(p, "shows", where, "value");
    if (shows == "lookup") param.lookupOnly = true;
    else if (shows != "value") fail("Layout inválido " + where + ": \"shows\" desconhecido '" + shows + "' (use value ou lookup).");
    if (param.lookupOnly && param.lookup.empty())
        fail("Layout inválido " + where + ": \"shows\": \"lookup\" pede um \"lookup\".");
    return param;
}

std::string lowerAscii(std::string s)
{
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}
} // namespace

ValueFormat ParseValueFormat(const std::string &name)
{
    using K = ValueFormat::Kind;
    static const std::pair<const char *, K> kNames[] = {
        {"", K::Text},          {"text", K::Text},     {"money", K::Money}, {"quantity", K::Quantity},
        {"integer", K::Integer}, {"percent", K::Percent}, {"cfop", K::Cfop}, {"date", K::Date},
        {"product", K::Product}, {"list", K::List},        {"month", K::Month}, {"taxid", K::TaxId},
    };
    for (const auto &[n, kind] : kNames)
        if (name == n)
            return ValueFormat{kind, 0};
    if (name == "decimal")
        return ValueFormat{K::Decimal, 2};
    if (name.rfind("decimal:", 0) == 0) {
        int places = -1;
        const char *first = name.data() + 8, *last = name.data() + name.size();
        auto [end, ec] = std::from_chars(first, last, places);
        if (ec == std::errc() && end == last && first != last && places >= 0 && places <= 9)
            return ValueFormat{K::Decimal, places};
        fail("casas decimais inválidas em '" + name + "' (use decimal:0 a decimal:9).");
    }
    fail("formato desconhecido '" + name +
         "' (use text, money, quantity, integer, decimal:N, percent, cfop, date, month, taxid, product ou list).");
}

std::string ValueFormatName(const ValueFormat &f)
{
    using K = ValueFormat::Kind;
    switch (f.kind) {
    case K::Text: return "text";
    case K::Money: return "money";
    case K::Quantity: return "quantity";
    case K::Integer: return "integer";
    case K::Decimal: return "decimal:" + std::to_string(f.decimals);
    case K::Percent: return "percent";
    case K::Cfop: return "cfop";
    case K::Date: return "date";
    case K::Product: return "product";
    case K::List: return "list";
    case K::Month: return "month";
    case K::TaxId: return "taxid";
    }
    return "text";
}

ReportLayout ParseLayout(const std::string &layoutJson)
{
    if (JsonNestingDepth(layoutJson) > kMaxJsonDepth)
        fail("O layout do relatório aninha listas ou objetos em mais de " + std::to_string(kMaxJsonDepth) +
             " níveis.");
    Json j;
    try {
        j = Json::parse(layoutJson);
    } catch (const Json::parse_error &e) {
        fail("O layout do relatório não é um JSON válido (erro perto do caractere " + std::to_string(e.byte) + ").");
    }
    if (!j.is_object())
        fail("O layout do relatório deve ser um objeto JSON.");
    try {
        ReportLayout l;
        const std::string page = text(j, "page", "", l.page);
        if (strcasecmp(page.c_str(), "A4") == 0) l.page = "A4";
        else if (strcasecmp(page.c_str(), "Letter") == 0) l.page = "Letter";
        else fail("Layout inválido: tamanho de página desconhecido '" + page + "' (use A4 ou Letter).");
        const std::string orientation = lowerAscii(text(j, "orientation", "", "portrait"));
        if (orientation != "portrait" && orientation != "landscape")
            fail("Layout inválido: orientação desconhecida '" + orientation + "' (use portrait ou landscape).");
        l.landscape = orientation == "landscape";
        if (const Json *ps = array(j, "parameters"))
            for (std::size_t i = 0; i < ps->size(); ++i)
                l.parameters.push_back(parseParameter((*ps)[i], i));
        if (const Json *gs = array(j, "groups"))
            for (std::size_t i = 0; i < gs->size(); ++i) {
                const Json &g = (*gs)[i];
                const std::string where = "no grupo " + std::to_string(i + 1);
                if (!g.is_object())
                    fail("Layout inválido: o grupo " + std::to_string(i + 1) + " deve ser um objeto.");
                LayoutGroup group{text(g, "field", where), text(g, "header", where), text(g, "footer", where),
                                  text(g, "caption", where)};
                if (group.field.empty())
                    fail("Layout inválido " + where + ": falta o campo que forma o grupo (\"field\").");
                for (const std::string &t : {group.header, group.footer})
                    for (const TemplatePart &part : SplitTemplate(t))
                        if (part.field && !part.format.empty()) {
                            try {
                                ParseValueFormat(part.format);
                            } catch (const LayoutError &e) {
                                fail("Layout inválido " + where + ": {" + part.text + ":" + part.format + "}: " +
                                     e.Message());
                            }
                        }
                l.groups.push_back(std::move(group));
            }
        const Json *cs = array(j, "columns");
        if (cs)
            for (std::size_t i = 0; i < cs->size(); ++i)
                l.columns.push_back(parseColumn((*cs)[i], i));
        if (std::none_of(l.columns.begin(), l.columns.end(), [](const LayoutColumn &c) { return c.visible; }))
            fail("Layout inválido: o relatório não tem nenhuma coluna visível.");
        if (auto s = j.find("summary"); s != j.end() && !s->is_null()) {
            if (s->is_boolean()) {
                l.summary = s->get<bool>();
            } else if (s->is_object()) {
                l.summaryCaption = text(*s, "caption", "do resumo", l.summaryCaption);
                l.summary = flag(*s, "visible", "do resumo", true);
            } else {
                fail("Layout inválido: \"summary\" deve ser true, false ou um objeto com \"caption\".");
            }
        }
        l.emptyText = text(j, "empty", "", l.emptyText);
        return l;
    } catch (const Json::exception &) {
        // Every access above is checked first; this is only a last guard so
        // no library text reaches the person.
        fail("Layout inválido: estrutura inesperada.");
    }
}

std::string SerializeLayout(const ReportLayout &l)
{
    const ReportLayout defaults;
    const LayoutColumn defaultColumn;
    OrderedJson j;
    j["page"] = l.page;
    j["orientation"] = l.landscape ? "landscape" : "portrait";
    j["parameters"] = OrderedJson::array();
    for (const LayoutParameter &p : l.parameters) {
        OrderedJson o;
        o["label"] = p.label;
        o["param"] = p.param;
        if (!p.to.empty()) o["to"] = p.to;
        if (p.format.kind != ValueFormat::Kind::Text) o["format"] = ValueFormatName(p.format);
        if (!p.values.empty()) {
            OrderedJson values = OrderedJson::object();
            for (const auto &[raw, words] : p.values)
                values[raw] = words;
            o["values"] = values;
        }
        if (!p.lookup.empty()) o["lookup"] = p.lookup;
        o["all"] = p.all;
        if (p.lookupOnly) o["shows"] = "lookup";
        if (p.header == ParameterHeader::Always) o["header"] = true;
        if (p.header == ParameterHeader::WhenSet) o["header"] = "when_set";
        j["parameters"].push_back(o);
    }
    j["groups"] = OrderedJson::array();
    for (const LayoutGroup &g : l.groups) {
        OrderedJson o = {{"field", g.field}, {"header", g.header}, {"footer", g.footer}};
        if (!g.caption.empty())
            o["caption"] = g.caption;
        j["groups"].push_back(o);
    }
    j["columns"] = OrderedJson::array();
    for (const LayoutColumn &c : l.columns) {
        OrderedJson o;
        o["caption"] = c.caption;
        if (!c.field.empty()) o["field"] = c.field;
        if (!c.expression.empty()) o["expression"] = c.expression;
        o["width"] = c.width;
        o["align"] = c.align == ColumnAlign::Right ? "right" : c.align == ColumnAlign::Center ? "center" : "left";
        if (c.format.kind != ValueFormat::Kind::Text) o["format"] = ValueFormatName(c.format);
        if (c.total != ColumnTotal::None) o["total"] = c.total == ColumnTotal::Sum ? "sum" : "count";
        if (c.totalFromGroup > 0) o["total_from_group"] = c.totalFromGroup;
        if (c.overflow == ColumnOverflow::Wrap) o["overflow"] = "wrap";
        if (!c.visible) o["visible"] = false;
        j["columns"].push_back(o);
    }
    if (l.summary)
        j["summary"] = {{"caption", l.summaryCaption}};
    else if (l.summaryCaption == defaults.summaryCaption)
        j["summary"] = false;
    else
        j["summary"] = {{"caption", l.summaryCaption}, {"visible", false}};
    j["empty"] = l.emptyText;
    try {
        return j.dump(2);
    } catch (const OrderedJson::exception &) {
        throw LayoutError("O layout tem um texto com caracteres inválidos (UTF-8).");
    }
}

namespace {
// Calls `use(field, where)` for every field the layout names.
template <class Use>
void eachField(const ReportLayout &layout, Use use)
{
    for (std::size_t i = 0; i < layout.columns.size(); ++i) {
        const LayoutColumn &c = layout.columns[i];
        if (!c.field.empty()) {
            use(c.field, columnPlace(i, c.caption));
        } else {
            const ColumnExpression expression = ColumnExpression::Compile(c.expression);
            for (const std::string &f : expression.Fields())
                use(f, "expressão da " + columnPlace(i, c.caption));
        }
    }
    for (std::size_t i = 0; i < layout.groups.size(); ++i) {
        const LayoutGroup &g = layout.groups[i];
        const std::string where = "grupo " + std::to_string(i + 1);
        use(g.field, where);
        for (const std::string &t : {g.header, g.footer})
            for (const TemplatePart &part : SplitTemplate(t))
                if (part.field)
                    use(part.text, "título do " + where);
    }
}
} // namespace

void CheckLayoutFields(const ReportLayout &layout, const std::vector<std::string> &resultColumns)
{
    eachField(layout, [&](const std::string &field, const std::string &where) {
        const bool known = std::any_of(resultColumns.begin(), resultColumns.end(), [&](const std::string &c) {
            return strcasecmp(c.c_str(), field.c_str()) == 0;
        });
        if (!known)
            fail("O campo '" + field + "' (" + where + ") não está entre as colunas que o comando do relatório devolve.");
    });
}

std::vector<std::string> LayoutFieldNames(const ReportLayout &layout)
{
    std::vector<std::string> names;
    eachField(layout, [&](const std::string &field, const std::string &) {
        if (std::none_of(names.begin(), names.end(),
                         [&](const std::string &n) { return strcasecmp(n.c_str(), field.c_str()) == 0; }))
            names.push_back(field);
    });
    return names;
}
