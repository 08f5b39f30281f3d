// Reading the EFD ICMS/IPI file record by record: the layout of each record
// taken, its fields checked and turned into documents and apurações.
#include "import/efd.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <utility>

namespace {

// One record's fields in the newest layout read, and how many of them each
// older layout has (fields were only ever appended).
struct Layout {
    const char *record;
    std::vector<const char *> fields;          // field 1 is REG
    std::vector<std::pair<int, int>> counts;   // from layout, fields; ascending; empty: all of them

    std::size_t Count(int layout) const
    {
        std::size_t n = fields.size();
        for (const auto &[from, count] : counts)
            if (layout >= from)
                n = static_cast<std::size_t>(count);
        return n;
    }
};

const std::vector<Layout> &layouts()
{
    static const std::vector<Layout> all{
        {"0000", {"REG", "COD_VER", "COD_FIN", "DT_INI", "DT_FIN", "NOME", "CNPJ", "CPF", "UF", "IE", "COD_MUN", "IM",
                  "SUFRAMA", "IND_PERFIL", "IND_ATIV"}, {}},
        {"0150", {"REG", "COD_PART", "NOME", "COD_PAIS", "CNPJ", "CPF", "IE", "COD_MUN", "SUFRAMA", "END", "NUM", "COMPL",
                  "BAIRRO"}, {}},
        {"0190", {"REG", "UNID", "DESCR"}, {}},
        {"0200", {"REG", "COD_ITEM", "DESCR_ITEM", "COD_BARRA", "COD_ANT_ITEM", "UNID_INV", "TIPO_ITEM", "COD_NCM", "EX_IPI",
                  "COD_GEN", "COD_LST", "ALIQ_ICMS", "CEST"}, {}},
        {"C100", {"REG", "IND_OPER", "IND_EMIT", "COD_PART", "COD_MOD", "COD_SIT", "SER", "NUM_DOC", "CHV_NFE", "DT_DOC",
                  "DT_E_S", "VL_DOC", "IND_PGTO", "VL_DESC", "VL_ABAT_NT", "VL_MERC", "IND_FRT", "VL_FRT", "VL_SEG",
                  "VL_OUT_DA", "VL_BC_ICMS", "VL_ICMS", "VL_BC_ICMS_ST", "VL_ICMS_ST", "VL_IPI", "VL_PIS", "VL_COFINS",
                  "VL_PIS_ST", "VL_COFINS_ST"}, {}},
        {"C170", {"REG", "NUM_ITEM", "COD_ITEM", "DESCR_COMPL", "QTD", "UNID", "VL_ITEM", "VL_DESC", "IND_MOV", "CST_ICMS",
                  "CFOP", "COD_NAT", "VL_BC_ICMS", "ALIQ_ICMS", "VL_ICMS", "VL_BC_ICMS_ST", "ALIQ_ST", "VL_ICMS_ST",
                  "IND_APUR", "CST_IPI", "COD_ENQ", "VL_BC_IPI", "ALIQ_IPI", "VL_IPI", "CST_PIS", "VL_BC_PIS", "ALIQ_PIS",
                  "QUANT_BC_PIS", "ALIQ_PIS_QUANT", "VL_PIS", "CST_COFINS", "VL_BC_COFINS", "ALIQ_COFINS",
                  "QUANT_BC_COFINS", "ALIQ_COFINS_QUANT", "VL_COFINS", "COD_CTA", "VL_ABAT_NT"},
         {{kEfdOldestLayout, 37}, {14, 38}}},
        {"C190", {"REG", "CST_ICMS", "CFOP", "ALIQ_ICMS", "VL_OPR", "VL_BC_ICMS", "VL_ICMS", "VL_BC_ICMS_ST", "VL_ICMS_ST",
                  "VL_RED_BC", "VL_IPI", "COD_OBS"}, {}},
        {"C197", {"REG", "COD_AJ", "DESCR_COMPL_AJ", "COD_ITEM", "VL_BC_ICMS", "ALIQ_ICMS", "VL_ICMS", "VL_OUTROS"}, {}},
        {"C500", {"REG", "IND_OPER", "IND_EMIT", "COD_PART", "COD_MOD", "COD_SIT", "SER", "SUB", "COD_CONS", "NUM_DOC",
                  "DT_DOC", "DT_E_S", "VL_DOC", "VL_DESC", "VL_FORN", "VL_SERV_NT", "VL_TERC", "VL_DA", "VL_BC_ICMS",
                  "VL_ICMS", "VL_BC_ICMS_ST", "VL_ICMS_ST", "COD_INF", "VL_PIS", "VL_COFINS", "TP_LIGACAO",
                  "COD_GRUPO_TENSAO", "CHV_DOCe", "FIN_DOCe", "CHV_DOCe_REF", "IND_DEST", "COD_MUN_DEST", "COD_CTA",
                  "COD_MOD_DOC_REF", "HASH_DOC_REF", "SER_DOC_REF", "NUM_DOC_REF", "MES_DOC_REF", "ENER_INJET",
                  "OUTRAS_DED"},
         {{kEfdOldestLayout, 27}, {14, 33}, {16, 40}}},
        {"C590", {"REG", "CST_ICMS", "CFOP", "ALIQ_ICMS", "VL_OPR", "VL_BC_ICMS", "VL_ICMS", "VL_BC_ICMS_ST", "VL_ICMS_ST",
                  "VL_RED_BC", "COD_OBS"}, {}},
        {"D100", {"REG", "IND_OPER", "IND_EMIT", "COD_PART", "COD_MOD", "COD_SIT", "SER", "SUB", "NUM_DOC", "CHV_CTE",
                  "DT_DOC", "DT_A_P", "TP_CTE", "CHV_CTE_REF", "VL_DOC", "VL_DESC", "IND_FRT", "VL_SERV", "VL_BC_ICMS",
                  "VL_ICMS", "VL_NT", "COD_INF", "COD_CTA", "COD_MUN_ORIG", "COD_MUN_DEST"}, {}},
        {"D190", {"REG", "CST_ICMS", "CFOP", "ALIQ_ICMS", "VL_OPR", "VL_BC_ICMS", "VL_ICMS", "VL_RED_BC", "COD_OBS"}, {}},
        {"E100", {"REG", "DT_INI", "DT_FIN"}, {}},
        {"E110", {"REG", "VL_TOT_DEBITOS", "VL_AJ_DEBITOS", "VL_TOT_AJ_DEBITOS", "VL_ESTORNOS_CRED", "VL_TOT_CREDITOS",
                  "VL_AJ_CREDITOS", "VL_TOT_AJ_CREDITOS", "VL_ESTORNOS_DEB", "VL_SLD_CREDOR_ANT", "VL_SLD_APURADO",
                  "VL_TOT_DED", "VL_ICMS_RECOLHER", "VL_SLD_CREDOR_TRANSPORTAR", "DEB_ESP"}, {}},
        {"E111", {"REG", "COD_AJ_APUR", "DESCR_COMPL_AJ", "VL_AJ_APUR"}, {}},
        {"E116", {"REG", "COD_OR", "VL_OR", "DT_VCTO", "COD_REC", "NUM_PROC", "IND_PROC", "PROC", "TXT_COMPL", "MES_REF"}, {}},
        {"E200", {"REG", "UF", "DT_INI", "DT_FIN"}, {}},
        {"E210", {"REG", "IND_MOV_ST", "VL_SLD_CRED_ANT_ST", "VL_DEVOL_ST", "VL_RESSARC_ST", "VL_OUT_CRED_ST",
                  "VL_AJ_CREDITOS_ST", "VL_RETENCAO_ST", "VL_OUT_DEB_ST", "VL_AJ_DEBITOS_ST", "VL_SLD_DEV_ANT_ST",
                  "VL_DEDUCOES_ST", "VL_ICMS_RECOL_ST", "VL_SLD_CRED_ST_TRANSPORTAR", "DEB_ESP_ST"}, {}},
        {"9900", {"REG", "REG_BLC", "QTD_REG_BLC"}, {}},
        {"9999", {"REG", "QTD_LIN"}, {}},
    };
    return all;
}

// A record's name as one number, so each line finds its layout and its
// handling without comparing strings.
constexpr std::uint32_t codeOf(std::string_view name)
{
    if (name.size() != 4)
        return 0;
    std::uint32_t c = 0;
    for (char ch : name)
        c = c << 8 | static_cast<unsigned char>(ch);
    return c;
}

const Layout *layoutOf(std::string_view record)
{
    static const std::vector<std::pair<std::uint32_t, const Layout *>> byCode = [] {
        std::vector<std::pair<std::uint32_t, const Layout *>> v;
        for (const Layout &l : layouts())
            v.emplace_back(codeOf(l.record), &l);
        return v;
    }();
    const std::uint32_t code = codeOf(record);
    for (const auto &[c, l] : byCode)
        if (c == code)
            return l;
    return nullptr;
}

bool validUtf8(std::string_view s)
{
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size())
            return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
                return false;
        i += n;
    }
    return true;
}

std::string utf8(std::string_view s)
{
    if (validUtf8(s))
        return std::string(s);
    std::string out;
    out.reserve(s.size() + 8);
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += ch;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool digits(std::string_view s)
{
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// One line split into its fields, with the conversions a field may need;
// each conversion names the field when it refuses.
class Record {
public:
    // `fields` is the caller's, reused from line to line.
    Record(std::string_view line, long number, std::vector<std::string_view> &fields) : line_(number), fields_(fields)
    {
        fields_.clear();
        std::size_t at = 1;
        while (at < line.size()) {
            const std::size_t bar = line.find('|', at);
            fields_.push_back(line.substr(at, bar - at));
            at = bar + 1;
        }
    }
    std::string_view Name() const { return fields_.empty() ? std::string_view() : fields_[0]; }
    std::size_t Size() const { return fields_.size(); }
    long Line() const { return line_; }
    void Use(const Layout *layout) { layout_ = layout; }

    [[noreturn]] void Fail(int n, std::string reason) const
    {
        EfdFault f;
        f.line = line_;
        f.record = std::string(Name());
        if (layout_ && n > 0 && static_cast<std::size_t>(n) <= layout_->fields.size())
            f.field = layout_->fields[static_cast<std::size_t>(n - 1)];
        f.reason = std::move(reason);
        throw f;
    }

    std::string_view Raw(int n) const { return fields_[static_cast<std::size_t>(n - 1)]; }
    std::string Text(int n) const { return utf8(Raw(n)); }

    // Fields of digits (codes, numbers): kept as written.
    std::string Code(int n) const
    {
        const std::string_view s = Raw(n);
        if (!digits(s))
            Fail(n, "valor não numérico ('" + utf8(s) + "')");
        return std::string(s);
    }
    // An access key: empty, or its 44 digits.
    std::string Key(int n) const
    {
        std::string key = Code(n);
        if (!key.empty() && key.size() != 44)
            Fail(n, "chave de acesso com " + std::to_string(key.size()) + " dígitos");
        return key;
    }
    long Number(int n) const
    {
        const std::string_view s = Raw(n);
        if (s.empty() || s.size() > 9 || !digits(s))
            Fail(n, "número inválido ('" + utf8(s) + "')");
        return std::stol(std::string(s));
    }
    // "1234,56": a comma before the decimals, no thousands separator; empty is zero.
    std::int64_t Decimal(int n, int places) const
    {
        const std::string_view s = Raw(n);
        if (s.empty())
            return 0;
        std::string_view text = s;
        const bool negative = text[0] == '-';
        if (negative)
            text.remove_prefix(1);
        std::optional<std::int64_t> v;
        if (text.find('.') == std::string_view::npos)
            v = ParseDecimal(text, places, ',');
        if (!v)
            Fail(n, "valor não numérico ('" + utf8(s) + "')");
        return negative ? -*v : *v;
    }
    Cents Amount(int n) const { return Decimal(n, 2); }
    // ddmmaaaa; empty stays empty unless required.
    std::string Date(int n, bool required = false) const
    {
        const std::string_view s = Raw(n);
        if (s.empty() && !required)
            return {};
        if (s.size() != 8 || !digits(s))
            Fail(n, "data inválida ('" + utf8(s) + "', esperado ddmmaaaa)");
        auto number = [&](std::size_t at, std::size_t n) {
            int v = 0;
            for (std::size_t i = at; i < at + n; ++i)
                v = v * 10 + (s[i] - '0');
            return v;
        };
        const int day = number(0, 2), month = number(2, 2), year = number(4, 4);
        static const int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
        if (month < 1 || month > 12 || day < 1 || day > days[month - 1] || (month == 2 && day == 29 && !leap) ||
            year < 1900)
            Fail(n, "data inválida ('" + std::string(s) + "')");
        const char iso[] = {s[4], s[5], s[6], s[7], '-', s[2], s[3], '-', s[0], s[1]};
        return std::string(iso, sizeof iso);
    }
    // A flag among the letters or digits it may be.
    std::string Flag(int n, std::string_view allowed) const
    {
        const std::string_view s = Raw(n);
        if (s.size() != 1 || allowed.find(s[0]) == std::string_view::npos)
            Fail(n, "valor inválido ('" + utf8(s) + "')");
        return std::string(s);
    }
    std::string Cfop(int n) const
    {
        const std::string_view s = Raw(n);
        if (s.size() != 4 || !digits(s))
            Fail(n, "CFOP inválido ('" + utf8(s) + "')");
        return std::string(s);
    }

private:
    long line_;
    std::vector<std::string_view> &fields_;
    const Layout *layout_ = nullptr;
};

EfdAnalytical analytical(const Record &r)
{
    EfdAnalytical a;
    a.line = r.Line();
    a.cst = r.Code(2);
    a.cfop = r.Cfop(3);
    a.rate = r.Decimal(4, 2);
    a.operation = r.Amount(5);
    a.base = r.Amount(6);
    a.icms = r.Amount(7);
    if (r.Name() == "D190") {
        a.reduction = r.Amount(8);
    } else {
        a.stBase = r.Amount(8);
        a.st = r.Amount(9);
        a.reduction = r.Amount(10);
        if (r.Name() == "C190")
            a.ipi = r.Amount(11);
    }
    return a;
}

class Parser {
public:
    Parser(EfdHandler &handler) : handler_(handler) {}

    // False to stop; raises EfdFault.
    bool Line(std::string_view text, long number)
    {
        totals_.lines = number;
        if (text.size() > kEfdLineChars)
            fail(number, "", "linha com " + std::to_string(text.size()) + " caracteres, mais que o limite de " +
                                 std::to_string(kEfdLineChars));
        if (text.size() < 2 || text.front() != '|' || text.back() != '|')
            fail(number, "", text.empty() ? "linha vazia" : "linha fora do formato |REG|...|");
        Record r(text, number, fields_);
        const std::string_view name = r.Name();
        if (!opened_ && name != "0000")
            fail(number, std::string(name), "o arquivo não começa pelo registro 0000");
        const Layout *layout = layoutOf(name);
        if (!layout) {
            ++totals_.records[std::string(name)];
            if (name.size() != 4)
                fail(number, std::string(name), "registro desconhecido");
            ++totals_.skipped;
            return flushIfOutside(name);
        }
        ++read_[layout];
        r.Use(layout);
        if (name == "0000")
            return open(r);
        const std::size_t want = layout->Count(identity_.layout);
        if (r.Size() != want)
            fail(number, std::string(name),
                 "registro com " + std::to_string(r.Size()) + " campos, o leiaute " + layoutText() + " pede " +
                     std::to_string(want),
                 r.Size() < want ? layout->fields[r.Size()] : "");
        if (!flushIfOutside(name))
            return false;
        return take(r, name);
    }

    // After the last line read; false when the file ended early.
    void End(long lines)
    {
        if (!closed_)
            fail(lines + 1, "9999", "o arquivo termina sem o registro 9999 (truncado?)");
    }
    bool Closed() const { return closed_; }

private:
    [[noreturn]] void fail(long line, const std::string &record, std::string reason, const char *field = "")
    {
        EfdFault f;
        f.line = line;
        f.record = record;
        f.field = field;
        f.reason = std::move(reason);
        throw f;
    }

    std::string layoutText() const
    {
        std::string s = std::to_string(identity_.layout);
        return std::string(3 - std::min<std::size_t>(3, s.size()), '0') + s;
    }

    bool open(Record &r)
    {
        if (opened_)
            fail(r.Line(), "0000", "registro 0000 repetido");
        opened_ = true;
        if (r.Size() < 2)
            r.Fail(2, "registro sem a versão do leiaute");
        const std::string_view version = r.Raw(2);
        if (version.size() != 3 || !digits(version))
            r.Fail(2, "versão do leiaute inválida ('" + utf8(version) + "')");
        identity_.layout = std::stoi(std::string(version));
        if (identity_.layout < kEfdOldestLayout || identity_.layout > kEfdNewestLayout)
            r.Fail(2, "versão do leiaute " + std::string(version) + " não suportada (lidas de 0" +
                          std::to_string(kEfdOldestLayout) + " a 0" + std::to_string(kEfdNewestLayout) + ")");
        const std::size_t want = layoutOf("0000")->Count(identity_.layout);
        if (r.Size() != want)
            fail(r.Line(), "0000", "registro com " + std::to_string(r.Size()) + " campos, o leiaute " + layoutText() +
                                       " pede " + std::to_string(want));
        identity_.finality = r.Flag(3, "01");
        identity_.from = r.Date(4, true);
        identity_.to = r.Date(5, true);
        if (identity_.to < identity_.from)
            r.Fail(5, "período termina antes de começar");
        identity_.name = r.Text(6);
        identity_.cnpj = r.Code(7);
        identity_.cpf = r.Code(8);
        identity_.state = r.Text(9);
        identity_.registration = r.Text(10);
        identity_.municipality = r.Code(11);
        if (identity_.registration.empty())
            r.Fail(10, "arquivo sem a inscrição estadual do contribuinte");
        return handler_.Opened(identity_);
    }

    // A document's or an apuração's children follow it; any other record ends it.
    bool flushIfOutside(std::string_view name)
    {
        if (document_ && (name == document_->record || name.substr(0, 2) != std::string_view(document_->record).substr(0, 2))) {
            const bool go = handler_.Document(*document_, tables_);
            // The next document reuses what this one's lists took.
            spare_.items = std::move(document_->items);
            spare_.lines = std::move(document_->lines);
            spare_.adjustments = std::move(document_->adjustments);
            document_.reset();
            if (!go)
                return false;
        }
        if (apuracao_ && !(name == "E111" || name == "E112" || name == "E113" || name == "E115" || name == "E116")) {
            const bool go = handler_.Apuracao(*apuracao_);
            apuracao_.reset();
            if (!go)
                return false;
        }
        return true;
    }

    void startDocument()
    {
        document_.emplace();
        spare_.items.clear();
        spare_.lines.clear();
        spare_.adjustments.clear();
        document_->items = std::move(spare_.items);
        document_->lines = std::move(spare_.lines);
        document_->adjustments = std::move(spare_.adjustments);
    }

    EfdDocument &current(const Record &r, const char *parent)
    {
        if (!document_ || document_->record != parent)
            r.Fail(0, std::string("registro fora de um ") + parent);
        return *document_;
    }

    void header(const Record &r, EfdDocument &d)
    {
        d.line = r.Line();
        d.record = std::string(r.Name());
        d.exit = r.Flag(2, "01") == "1";
        d.ownIssue = r.Flag(3, "01") == "0";
        d.participant = r.Text(4);
        d.model = r.Text(5);
        d.situation = r.Code(6);
        if (d.situation.size() != 2)
            r.Fail(6, "situação inválida ('" + d.situation + "')");
        d.series = r.Text(7);
        if (!d.Void() && !d.participant.empty() && !tables_.participants.count(d.participant))
            r.Fail(4, "participante '" + d.participant + "' sem registro 0150");
    }

    bool take(const Record &r, std::string_view name)
    {
        switch (codeOf(name)) {
        case codeOf("0150"): {
            EfdParticipant p;
            p.name = r.Text(3);
            p.country = r.Code(4);
            p.cnpj = r.Code(5);
            p.cpf = r.Code(6);
            p.registration = r.Text(7);
            p.municipality = r.Code(8);
            tables_.participants[r.Text(2)] = std::move(p);
            break;
        }
        case codeOf("0200"): {
            tables_.products[r.Text(2)] = r.Text(3);
            break;
        }
        case codeOf("C100"): {
            startDocument();
            EfdDocument &d = *document_;
            header(r, d);
            d.number = r.Number(8);
            d.key = r.Key(9);
            d.issueDate = r.Date(10, !d.Void());
            d.moveDate = r.Date(11);
            d.total = r.Amount(12);
            d.discount = r.Amount(14);
            d.goods = r.Amount(16);
            d.freight = r.Amount(18);
            d.insurance = r.Amount(19);
            d.other = r.Amount(20);
            d.base = r.Amount(21);
            d.icms = r.Amount(22);
            d.stBase = r.Amount(23);
            d.st = r.Amount(24);
            d.ipi = r.Amount(25);
            break;
        }
        case codeOf("C170"): {
            EfdDocument &d = current(r, "C100");
            EfdItem it;
            it.line = r.Line();
            it.number = static_cast<int>(r.Number(2));
            it.code = r.Text(3);
            if (!tables_.products.count(it.code))
                r.Fail(3, "item '" + it.code + "' sem registro 0200");
            it.quantity = r.Decimal(5, 3);
            it.value = r.Amount(7);
            it.discount = r.Amount(8);
            it.cst = r.Code(10);
            it.cfop = r.Cfop(11);
            it.base = r.Amount(13);
            it.rate = r.Decimal(14, 2);
            it.icms = r.Amount(15);
            it.stBase = r.Amount(16);
            it.st = r.Amount(18);
            it.ipiCst = r.Code(20);
            it.ipiBase = r.Amount(22);
            it.ipiRate = r.Decimal(23, 2);
            it.ipi = r.Amount(24);
            d.items.push_back(std::move(it));
            break;
        }
        case codeOf("C190"): {
            current(r, "C100").lines.push_back(analytical(r));
            break;
        }
        case codeOf("C197"): {
            EfdDocument &d = current(r, "C100");
            d.adjustments.push_back({r.Line(), r.Text(2), r.Text(3), r.Amount(5), r.Amount(7)});
            break;
        }
        case codeOf("C500"): {
            startDocument();
            EfdDocument &d = *document_;
            header(r, d);
            d.number = r.Number(10);
            d.issueDate = r.Date(11, !d.Void());
            d.moveDate = r.Date(12);
            d.total = r.Amount(13);
            d.discount = r.Amount(14);
            d.goods = r.Amount(15);
            d.base = r.Amount(19);
            d.icms = r.Amount(20);
            d.stBase = r.Amount(21);
            d.st = r.Amount(22);
            if (r.Size() >= 28)
                d.key = r.Key(28);
            break;
        }
        case codeOf("C590"): {
            current(r, "C500").lines.push_back(analytical(r));
            break;
        }
        case codeOf("D100"): {
            startDocument();
            EfdDocument &d = *document_;
            header(r, d);
            d.number = r.Number(9);
            d.key = r.Key(10);
            d.issueDate = r.Date(11, !d.Void());
            d.moveDate = r.Date(12);
            d.total = r.Amount(15);
            d.discount = r.Amount(16);
            d.goods = r.Amount(18);
            d.base = r.Amount(19);
            d.icms = r.Amount(20);
            break;
        }
        case codeOf("D190"): {
            current(r, "D100").lines.push_back(analytical(r));
            break;
        }
        case codeOf("E100"): {
            period_ = {r.Date(2, true), r.Date(3, true)};
            break;
        }
        case codeOf("E110"): {
            apuracao_.emplace();
            apuracao_->line = r.Line();
            apuracao_->from = period_.first;
            apuracao_->to = period_.second;
            for (int n = 2; n <= 15; ++n)
                apuracao_->field[static_cast<std::size_t>(n)] = r.Amount(n);
            break;
        }
        case codeOf("E111"): {
            if (!apuracao_)
                r.Fail(0, "registro fora de um E110");
            apuracao_->adjustments.push_back({r.Line(), r.Text(2), r.Text(3), 0, r.Amount(4)});
            break;
        }
        case codeOf("E116"): {
            if (!apuracao_)
                r.Fail(0, "registro fora de um E110");
            apuracao_->obligations.push_back({r.Line(), r.Text(2), r.Date(4), r.Text(5), r.Amount(3)});
            break;
        }
        case codeOf("E200"): {
            r.Date(3, true);
            r.Date(4, true);
            break;
        }
        case codeOf("E210"): {
            for (int n = 3; n <= 15; ++n)
                r.Amount(n);
            break;
        }
        case codeOf("9900"): {
            const std::string block = r.Text(2);
            totals_.declared[block] = {r.Number(3), r.Line()};
            break;
        }
        case codeOf("9999"): {
            totals_.declaredLines = r.Number(2);
            totals_.closingLine = r.Line();
            closed_ = true;
            for (const auto &[layout, n] : read_)
                totals_.records[layout->record] += n;
            handler_.Closed(totals_);
            return false;  // a signature may follow
        }
        }
        return true;
    }

    EfdHandler &handler_;
    std::vector<std::string_view> fields_;
    EfdIdentity identity_;
    EfdTables tables_;
    EfdTotals totals_;
    std::optional<EfdDocument> document_;
    EfdDocument spare_;                             // the lists of the last document, kept for the next
    std::unordered_map<const Layout *, long> read_;  // records read per layout
    std::optional<EfdApuracao> apuracao_;
    std::pair<std::string, std::string> period_;
    bool opened_ = false, closed_ = false;
};

} // namespace

std::string EfdFault::Place() const
{
    std::string s = "linha " + std::to_string(line);
    if (!record.empty())
        s += ", registro " + record;
    if (!field.empty())
        s += ", campo " + field;
    return s;
}

std::string EfdParticipant::State() const
{
    if (!country.empty() && country != "1058" && country != "01058")
        return "EX";
    static const std::pair<const char *, const char *> states[] = {
        {"11", "RO"}, {"12", "AC"}, {"13", "AM"}, {"14", "RR"}, {"15", "PA"}, {"16", "AP"}, {"17", "TO"},
        {"21", "MA"}, {"22", "PI"}, {"23", "CE"}, {"24", "RN"}, {"25", "PB"}, {"26", "PE"}, {"27", "AL"},
        {"28", "SE"}, {"29", "BA"}, {"31", "MG"}, {"32", "ES"}, {"33", "RJ"}, {"35", "SP"}, {"41", "PR"},
        {"42", "SC"}, {"43", "RS"}, {"50", "MS"}, {"51", "MT"}, {"52", "GO"}, {"53", "DF"}};
    for (const auto &[code, uf] : states)
        if (municipality.compare(0, 2, code) == 0)
            return uf;
    return {};
}

EfdOutcome ReadEfd(SourceStream &in, const SourceLimits &limits, EfdHandler &handler, EfdFault &fault)
{
    Parser parser(handler);
    long lines = 0;
    try {
        const bool read = ReadLines(in, std::max<std::uint64_t>(limits.lineBytes, kEfdLineChars + 2),
                                    [&](std::string_view line, long number) {
                                        lines = number;
                                        return parser.Line(line, number);
                                    });
        if (!in.Problem().empty()) {
            fault = {lines + 1, {}, {}, in.Problem()};
            return EfdOutcome::Failed;
        }
        if (!read && !parser.Closed())
            return EfdOutcome::Stopped;
        parser.End(lines);
    } catch (const EfdFault &f) {
        fault = f;
        return EfdOutcome::Failed;
    }
    return EfdOutcome::Read;
}

std::size_t EfdFieldCount(std::string_view record, int layout)
{
    const Layout *l = layoutOf(record);
    return l ? l->Count(layout) : 0;
}

std::string EfdAmountText(Cents c)
{
    std::string s = DecimalText(c, 2);
    s[s.size() - 3] = ',';
    return s;
}

std::string EfdRateText(std::int64_t hundredths) { return EfdAmountText(hundredths); }

std::string EfdDateText(const std::string &d)
{
    if (d.size() < 10)
        return {};
    return d.substr(8, 2) + d.substr(5, 2) + d.substr(0, 4);
}

bool EfdDebitCfop(std::string_view cfop)
{
    if (cfop == "1605")
        return true;
    return !cfop.empty() && cfop[0] >= '5' && cfop != "5605" && cfop != "5929" && cfop != "6929";
}

bool EfdCreditCfop(std::string_view cfop)
{
    if (cfop == "5605")
        return true;
    return !cfop.empty() && cfop[0] <= '3' && cfop != "1605";
}

const char *EfdRecordOfModel(const std::string &model)
{
    for (const char *m : {"01", "1B", "04", "55", "65"})
        if (model == m)
            return "C100";
    for (const char *m : {"06", "28", "29", "66"})
        if (model == m)
            return "C500";
    for (const char *m : {"07", "08", "8B", "09", "10", "11", "26", "27", "57", "63", "67"})
        if (model == m)
            return "D100";
    return nullptr;
}
