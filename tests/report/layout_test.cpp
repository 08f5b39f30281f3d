// The layout model read from and written back to a definition's "layout":
// every shipped layout survives the round trip, and a layout the engine
// cannot use is refused with a message that says what and where.
#include "report/layout.h"
#include "report/templates.h"
#include "rtl/files.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {
std::string shippedLayout(const fs::path &file)
{
    return nlohmann::json::parse(ReadWholeFile(file)).at("layout").dump();
}

// A layout with one column, changed by `edit` (a JSON merge patch).
std::string layoutWith(const std::string &patch)
{
    auto j = nlohmann::json::parse(R"({"columns":[{"caption":"Valor","field":"VLCONTABIL","format":"money"}]})");
    j.merge_patch(nlohmann::json::parse(patch));
    return j.dump();
}
} // namespace

TEST(Layout, ShippedLayoutsSurviveTheRoundTrip)
{
    int seen = 0;
    for (const auto &e : fs::directory_iterator(fs::path(FIS_SOURCE_DIR) / "reports" / "FIS028")) {
        SCOPED_TRACE(e.path().filename().string());
        const ReportLayout layout = ParseLayout(shippedLayout(e.path()));
        EXPECT_TRUE(layout.landscape);
        EXPECT_FALSE(layout.columns.empty());
        EXPECT_EQ(ParseLayout(SerializeLayout(layout)), layout);
        ++seen;
    }
    EXPECT_EQ(seen, 8);
}

TEST(Layout, EveryFieldOfTheModelRoundTrips)
{
    ReportLayout l;
    l.page = "Letter";
    l.landscape = true;
    l.parameters.push_back({"Período", "P_DTINICIAL", "P_DTFINAL", {ValueFormat::Kind::Date, 0}, {}, "", "Todo",
                            ParameterHeader::Always});
    l.parameters.push_back({"E/S", "P_ES", "", {}, {{"E", "Entrada"}, {"S", "Saída"}}, "SELECT 1", "Ambos",
                            ParameterHeader::No});
    l.parameters.push_back({"CNPJ", "P_IE", "", {ValueFormat::Kind::TaxId, 0}, {}, "SELECT 2", "Todas",
                            ParameterHeader::WhenSet, true});
    l.groups.push_back({"IDORIGEM", "{DSORIGEM}", "", "Origem"});
    l.groups.push_back({"CDCFOP", "", "Total {CDCFOP}", ""});
    LayoutColumn c;
    c.caption = "Média";
    c.expression = "(A + B) / -C";
    c.width = 12.5;
    c.align = ColumnAlign::Center;
    c.format = {ValueFormat::Kind::Decimal, 4};
    c.total = ColumnTotal::Count;
    c.overflow = ColumnOverflow::Wrap;
    c.visible = false;
    l.columns.push_back(c);
    l.columns.push_back({"Valor", "VL", "", 60, ColumnAlign::Right, {ValueFormat::Kind::Money, 0}, ColumnTotal::Sum,
                         ColumnOverflow::Ellipsis, true, 1});
    l.emptyText = "Nada.";
    for (bool summary : {true, false})
        for (const char *caption : {"Total geral", "Soma"}) {
            l.summary = summary;
            l.summaryCaption = caption;
            EXPECT_EQ(ParseLayout(SerializeLayout(l)), l) << summary << caption;
        }
}

TEST(Layout, FormatNames)
{
    using K = ValueFormat::Kind;
    const struct {
        const char *name;
        ValueFormat format;
        const char *canonical;
    } rows[] = {
        {"", {K::Text, 0}, "text"},          {"money", {K::Money, 0}, "money"},
        {"quantity", {K::Quantity, 0}, "quantity"}, {"integer", {K::Integer, 0}, "integer"},
        {"decimal:4", {K::Decimal, 4}, "decimal:4"}, {"decimal", {K::Decimal, 2}, "decimal:2"},
        {"decimal:0", {K::Decimal, 0}, "decimal:0"}, {"percent", {K::Percent, 0}, "percent"},
        {"cfop", {K::Cfop, 0}, "cfop"},      {"date", {K::Date, 0}, "date"},
        {"product", {K::Product, 0}, "product"}, {"list", {K::List, 0}, "list"},
    };
    for (const auto &r : rows) {
        EXPECT_EQ(ParseValueFormat(r.name), r.format) << r.name;
        EXPECT_EQ(ValueFormatName(r.format), r.canonical) << r.name;
    }
    for (const char *bad : {"moeda", "decimal:", "decimal:10", "decimal:-1", "decimal:2x", "Money"})
        EXPECT_THROW(ParseValueFormat(bad), LayoutError) << bad;
}

TEST(Layout, BrokenLayoutsSayWhatAndWhere)
{
    const struct {
        const char *what;
        std::string json;
        const char *message;  // a part of the message
    } rows[] = {
        {"not JSON", "{\"columns\": [", "não é um JSON válido"},
        {"not an object", "[1, 2]", "deve ser um objeto JSON"},
        {"no columns", "{}", "nenhuma coluna visível"},
        {"empty column list", layoutWith(R"({"columns":[]})"), "nenhuma coluna visível"},
        {"every column hidden", layoutWith(R"({"columns":[{"field":"A","visible":false}]})"), "nenhuma coluna visível"},
        {"columns not a list", layoutWith(R"({"columns":{"a":1}})"), "\"columns\" deve ser uma lista"},
        {"column not an object", layoutWith(R"({"columns":[3]})"), "a coluna 1 deve ser um objeto"},
        {"unknown format", layoutWith(R"({"columns":[{"caption":"Valor","field":"V","format":"moeda"}]})"),
         "coluna 1 (Valor): formato desconhecido 'moeda'"},
        {"neither field nor expression", layoutWith(R"({"columns":[{"caption":"X"}]})"), "coluna 1 (X): informe o campo"},
        {"both field and expression", layoutWith(R"({"columns":[{"field":"A","expression":"B"}]})"), "um dos dois"},
        {"expression that does not parse", layoutWith(R"({"columns":[{"expression":"A / (B"}]})"), "falta ')'"},
        {"expression with a stray sign", layoutWith(R"({"columns":[{"expression":"A $ B"}]})"), "'$' inesperado na posição 3"},
        {"expression ends early", layoutWith(R"({"columns":[{"expression":"A *"}]})"), "falta um valor no fim"},
        {"zero width", layoutWith(R"({"columns":[{"field":"A","width":0}]})"), "a largura deve ser um número positivo"},
        {"width as text", layoutWith(R"({"columns":[{"field":"A","width":"60"}]})"), "a largura deve ser um número positivo"},
        {"unknown alignment", layoutWith(R"({"columns":[{"field":"A","align":"middle"}]})"), "alinhamento desconhecido 'middle'"},
        {"unknown total", layoutWith(R"({"columns":[{"field":"A","total":"avg"}]})"), "total desconhecido 'avg'"},
        {"sum of a text", layoutWith(R"({"columns":[{"field":"A","total":"sum"}]})"), "só colunas numéricas podem ser somadas"},
        {"unknown overflow", layoutWith(R"({"columns":[{"field":"A","overflow":"clip"}]})"), "\"overflow\" desconhecido"},
        {"caption not a text", layoutWith(R"({"columns":[{"field":"A","caption":7}]})"), "\"caption\" da coluna 1 deve ser um texto"},
        {"group without a field", layoutWith(R"({"groups":[{"header":"x"}]})"), "grupo 1: falta o campo"},
        {"template with an unknown format", layoutWith(R"({"groups":[{"field":"A","footer":"Total {A:moeda}"}]})"),
         "grupo 1: {A:moeda}: formato desconhecido 'moeda'"},
        {"unknown page", layoutWith(R"({"page":"A3"})"), "tamanho de página desconhecido 'A3'"},
        {"unknown orientation", layoutWith(R"({"orientation":"sideways"})"), "orientação desconhecida"},
        {"parameter without a name", layoutWith(R"({"parameters":[{"label":"Empresa"}]})"), "parâmetro 1: falta o nome"},
        {"parameter values not texts", layoutWith(R"({"parameters":[{"param":"P","values":{"E":1}}]})"),
         "o valor de 'E' em \"values\" deve ser um texto"},
        {"header of a wrong kind", layoutWith(R"({"parameters":[{"param":"P","header":"sempre"}]})"),
         "\"header\" deve ser true, false ou \"when_set\""},
        {"unknown way to show", layoutWith(R"({"parameters":[{"param":"P","shows":"name"}]})"), "\"shows\" desconhecido 'name'"},
        {"a lookup's answer without a lookup", layoutWith(R"({"parameters":[{"param":"P","shows":"lookup"}]})"),
         "pede um \"lookup\""},
        {"summary of a wrong kind", layoutWith(R"({"summary":"sim"})"), "\"summary\" deve ser"},
        {"arrays nested past any use", "{\"a\":" + std::string(200000, '[') + std::string(200000, ']') + "}",
         "em mais de 64 níveis"},
        {"brackets in a text are no nesting", R"({"emptyText":"\")" + std::string(100, '[') + R"("})",
         "nenhuma coluna visível"},
        {"parentheses nested past any use",
         layoutWith(R"({"columns":[{"expression":")" + std::string(30000, '(') + "A" + std::string(30000, ')') + R"("}]})"),
         "mais de 200 parênteses ou sinais aninhados"},
        {"signs nested past any use", layoutWith(R"({"columns":[{"expression":")" + std::string(30000, '-') + R"(A"}]})"),
         "mais de 200 parênteses ou sinais aninhados"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.what);
        try {
            ParseLayout(r.json);
            ADD_FAILURE() << "accepted";
        } catch (const LayoutError &e) {
            EXPECT_NE(e.Message().find(r.message), std::string::npos) << e.Message();
            EXPECT_EQ(e.Message().find("json.exception"), std::string::npos) << e.Message();
        }
    }
}

TEST(Layout, FieldsAreCheckedAgainstTheResultColumns)
{
    const ReportLayout layout = ParseLayout(R"({
        "groups": [{"field": "IDES", "header": "{DSES}", "footer": "Total {DSES} {1} {a b}"}],
        "columns": [{"caption": "Valor", "field": "VL"}, {"caption": "Média", "expression": "VL / QT"}]})");
    const std::vector<std::string> all = {"IDES", "dses", "VL", "QT"};  // names compare without case
    EXPECT_NO_THROW(CheckLayoutFields(layout, all));
    const struct {
        const char *missing;
        const char *message;
    } rows[] = {
        {"VL", "O campo 'VL' (coluna 1 (Valor))"},
        {"QT", "O campo 'QT' (expressão da coluna 2 (Média))"},
        {"IDES", "O campo 'IDES' (grupo 1)"},
        {"dses", "O campo 'DSES' (título do grupo 1)"},
    };
    for (const auto &r : rows) {
        std::vector<std::string> columns;
        for (const auto &c : all)
            if (c != r.missing)
                columns.push_back(c);
        try {
            CheckLayoutFields(layout, columns);
            ADD_FAILURE() << r.missing << " not missed";
        } catch (const LayoutError &e) {
            EXPECT_NE(e.Message().find(r.message), std::string::npos) << e.Message();
        }
    }
}

TEST(Layout, TemplatesNameFieldsAndTheirFormats)
{
    const struct {
        const char *pattern;
        std::vector<TemplatePart> parts;
    } rows[] = {
        {"Total das {DSES}", {{"Total das ", false, ""}, {"DSES", true, ""}}},
        {"CFOP {CDCFOP:cfop} – {DS}", {{"CFOP ", false, ""}, {"CDCFOP", true, "cfop"}, {" – ", false, ""}, {"DS", true, ""}}},
        {"{A:decimal:2}", {{"A", true, "decimal:2"}}},
        {"{1} {a b} {} {", {{"{1} {a b} {} {", false, ""}}},
        {"", {}},
    };
    for (const auto &r : rows) {
        const auto parts = SplitTemplate(r.pattern);
        ASSERT_EQ(parts.size(), r.parts.size()) << r.pattern;
        for (std::size_t i = 0; i < parts.size(); ++i) {
            EXPECT_EQ(parts[i].text, r.parts[i].text) << r.pattern;
            EXPECT_EQ(parts[i].field, r.parts[i].field) << r.pattern;
            EXPECT_EQ(parts[i].format, r.parts[i].format) << r.pattern;
        }
    }
}
