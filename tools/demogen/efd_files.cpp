#include "efd_files.h"

#include "import/efd.h"
#include "import/importer.h"
#include "import/nfe.h"
#include "rtl/sysutils.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <tuple>

namespace {

// A copy's access key: the original's with the copy's number and its check
// digit, as a filed NF-e always carries one.
std::string copyKey(const std::string &key, long number)
{
    if (key.size() != 44)
        return {};
    char digits[16];
    std::snprintf(digits, sizeof digits, "%09ld", number % 1000000000L);
    std::string k = key.substr(0, 25) + digits + key.substr(34, 9);
    return k + static_cast<char>('0' + AccessKeyCheckDigit(k));
}

using Values = ImportConnection::Values;

const std::pair<EfdDivergence, const char *> kNames[] = {
    {EfdDivergence::RecordCount, "registros"},     {EfdDivergence::LineCount, "linhas"},
    {EfdDivergence::HeaderIcms, "icms-c100"},      {EfdDivergence::DocumentTotal, "total-c100"},
    {EfdDivergence::ItemIcms, "icms-c170"},        {EfdDivergence::CfopDirection, "cfop-direcao"},
    {EfdDivergence::Apuracao, "e110"},             {EfdDivergence::Obligations, "e116"},
    {EfdDivergence::MissingDocument, "sem-documento"}, {EfdDivergence::ExtraDocument, "documento-a-mais"},
    {EfdDivergence::DocumentValue, "valor"},       {EfdDivergence::Situation, "situacao"},
};

Cents amount(const std::optional<std::string> &cell, int places = 2)
{
    if (!cell || cell->empty())
        return 0;
    std::string s = *cell;
    const bool negative = s[0] == '-';
    if (negative)
        s.erase(0, 1);
    const std::optional<std::int64_t> v = ParseDecimal(s, places);
    return v ? (negative ? -*v : *v) : 0;
}

// The books' texts are UTF-8; the file is written as filed, in ISO-8859-1.
std::string latin1(const std::string &s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            out += c == '|' ? ' ' : static_cast<char>(c);
        } else if ((c == 0xC2 || c == 0xC3) && i + 1 < s.size()) {
            out += static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(s[++i]) & 0x3F));
        } else {
            out += '?';
            while (i + 1 < s.size() && (static_cast<unsigned char>(s[i + 1]) & 0xC0) == 0x80)
                ++i;
        }
    }
    return out;
}

const char *stateCode(const std::string &uf)
{
    static const std::pair<const char *, const char *> states[] = {
        {"RO", "11"}, {"AC", "12"}, {"AM", "13"}, {"RR", "14"}, {"PA", "15"}, {"AP", "16"}, {"TO", "17"},
        {"MA", "21"}, {"PI", "22"}, {"CE", "23"}, {"RN", "24"}, {"PB", "25"}, {"PE", "26"}, {"AL", "27"},
        {"SE", "28"}, {"BA", "29"}, {"MG", "31"}, {"ES", "32"}, {"RJ", "33"}, {"SP", "35"}, {"PR", "41"},
        {"SC", "42"}, {"RS", "43"}, {"MS", "50"}, {"MT", "51"}, {"GO", "52"}, {"DF", "53"}};
    for (const auto &[s, code] : states)
        if (uf == s)
            return code;
    return nullptr;
}

std::string digitsOf(const std::string &s)
{
    std::string out;
    for (char c : s)
        if (c >= '0' && c <= '9')
            out += c;
    return out;
}

std::string record(const char *name) { return std::string("|") + name; }
std::string operator+(std::string s, const std::vector<std::string> &fields)
{
    for (const std::string &f : fields)
        (s += '|') += latin1(f);
    return s + '|';
}

struct Item {
    long number = 0;
    std::string product, name, cfop, cst;
    std::int64_t quantity = 0;
    Cents value = 0, base = 0, icms = 0, exempt = 0, other = 0, stBase = 0, st = 0, ipi = 0;
    std::int64_t rate = 0;
};

struct Document {
    std::string id, side, series, model, issueDate, moveDate, participant, state, situation, key, partyDoc, partyIe;
    long number = 0;
    std::vector<Item> items;
};

struct Line {
    Cents operation = 0, base = 0, icms = 0, stBase = 0, st = 0, reduction = 0, ipi = 0;
};
using LineKey = std::tuple<std::string, std::string, std::int64_t>;  // CST, CFOP, rate

// The CST the books imply where they do not keep one.
std::string cstOf(const Item &it, bool noCredit)
{
    if (!it.cst.empty() && it.cst.size() == 3)
        return it.cst;
    if (noCredit)
        return "060";
    if (it.base > 0)
        return it.exempt > 0 ? "020" : it.st > 0 ? "010" : it.other > 0 ? "090" : "000";
    if (it.exempt > 0)
        return it.st > 0 ? "030" : "040";
    return it.st > 0 ? "060" : "090";
}

const char *blockOf(const std::string &model) { return EfdRecordOfModel(model); }

class Writer {
public:
    explicit Writer(std::ofstream &out) : out_(out) {}
    void Put(const std::string &line)
    {
        out_ << line << "\r\n";
        const std::string name = line.substr(1, 4);
        ++counts_[name];
        ++block_[name[0]];
        ++lines_;
    }
    // The block's opening and closing, with its line count.
    void Open(char block, bool empty) { Put(record((std::string(1, block) + "001").c_str()) + std::vector<std::string>{empty ? "1" : "0"}); }
    void Close(char block) { Put(record((std::string(1, block) + "990").c_str()) + std::vector<std::string>{std::to_string(block_[block] + 1)}); }
    std::map<std::string, long> counts_;
    std::map<char, long> block_;
    long lines_ = 0;

private:
    std::ofstream &out_;
};

} // namespace

bool ParseEfdDivergence(const std::string &name, EfdDivergence &out)
{
    for (const auto &[d, n] : kNames)
        if (name == n) {
            out = d;
            return true;
        }
    return false;
}

std::vector<std::string> EfdDivergenceNames()
{
    std::vector<std::string> out;
    for (const auto &[d, n] : kNames)
        out.push_back(n);
    return out;
}

EfdFileCounts WriteEfdFile(ImportConnection &db, const EfdFileOptions &o)
{
    EnsureImportTables(db);
    auto has = [&](EfdDivergence d) {
        for (EfdDivergence x : o.divergences)
            if (x == d)
                return true;
        return false;
    };
    if (o.repeat < 1 || o.repeat > 499)
        throw Exception("repetições de 1 a 499");
    if (o.month.size() != 7)
        throw Exception("mês inválido ('" + o.month + "', esperado AAAA-MM)");
    const int year = std::stoi(o.month.substr(0, 4)), month = std::stoi(o.month.substr(5));
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const int last = days[month - 1] + (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0));
    const std::string from = o.month + "-01", to = o.month + "-" + std::to_string(last);

    const auto company = db.Select(db.Prepare("SELECT NMEMPRESA FROM EMPRESA WHERE CDEMPRESA = ?"), {o.company});
    if (company.empty())
        throw Exception("empresa " + o.company + " não cadastrada");
    const auto regs = db.Select(db.Prepare("SELECT CDINSCESTA, NRINSJURIEST, SGESTADO FROM INSCRESTAD WHERE CDEMPRESA = ? "
                                           "ORDER BY CDINSCESTA"),
                                {o.company});
    std::optional<Values> reg;
    for (const Values &r : regs)
        if (o.registration.empty() ? !reg : r[0] == o.registration)
            reg = r;
    if (!reg)
        throw Exception("inscrição estadual " + o.registration + " não cadastrada na empresa " + o.company);
    const std::string ie = reg->at(0).value_or(""), uf = reg->at(2).value_or("");

    // The books of the month.
    std::vector<Document> docs;
    std::map<std::string, std::size_t> byId;
    const std::string where = " WHERE N.CDEMPRESA = ? AND N.CDINSCESTA = ? AND N.DTENTRSAIDA >= ? AND N.DTENTRSAIDA <= ? ";
    for (const Values &r : db.Select(
             db.Prepare("SELECT CAST(N.CDNOTAFISC AS VARCHAR(20)), N.IDENTRSAIDA, N.CDSERIE, CAST(N.NRNOTAFISC AS "
                        "VARCHAR(20)), N.CDMODDOCFISC, CAST(N.DTEMISSAO AS VARCHAR(10)), CAST(N.DTENTRSAIDA AS "
                        "VARCHAR(10)), N.NMPARTICIPANTE, N.SGUF, N.IDSITUACAO, K.CHNFE, N.NRDOCPARTIC, N.NRIEPARTIC "
                        "FROM NOTAFISCAL N LEFT JOIN NFECHAVE K ON K.CDNOTAFISC = N.CDNOTAFISC" +
                        where + "ORDER BY N.CDNOTAFISC"),
             {o.company, ie, from, to})) {
        Document d;
        d.id = r[0].value_or("");
        d.side = r[1].value_or("E");
        d.series = r[2].value_or("");
        d.number = std::stol(r[3].value_or("0"));
        d.model = r[4].value_or("");
        d.issueDate = r[5].value_or("").substr(0, 10);
        d.moveDate = r[6].value_or("").substr(0, 10);
        d.participant = r[7].value_or("");
        d.state = r[8].value_or("");
        d.situation = r[9].value_or("N");
        d.key = r[10].value_or("");
        d.partyDoc = r[11].value_or("");
        d.partyIe = r[12].value_or("");
        if (!blockOf(d.model))
            continue;
        byId[d.id] = docs.size();
        docs.push_back(std::move(d));
    }
    for (const Values &r : db.Select(
             db.Prepare("SELECT CAST(I.CDNOTAFISC AS VARCHAR(20)), CAST(I.NRITEM AS VARCHAR(10)), I.CDPRODUTO, I.CDCFOP, "
                        "CAST(I.QTITEM AS VARCHAR(30)), CAST(I.VLCONTABIL AS VARCHAR(30)), "
                        "CAST(T.VLBASECALC AS VARCHAR(30)), CAST(T.PCALIQUOTA AS VARCHAR(30)), "
                        "CAST(T.VLIMPOSTO AS VARCHAR(30)), CAST(T.VLISENTO AS VARCHAR(30)), "
                        "CAST(T.VLOUTROS AS VARCHAR(30)), CAST(T.VLBASEST AS VARCHAR(30)), "
                        "CAST(T.VLIMPOSTOST AS VARCHAR(30)), CAST(P.VLIMPOSTO AS VARCHAR(30)), PR.NMPRODUTO, T.CDCST "
                        "FROM NOTAFISCAL N JOIN ITEMNOTAFISC I ON I.CDNOTAFISC = N.CDNOTAFISC "
                        "LEFT JOIN IMPOSTOITEMNF T ON T.CDNOTAFISC = I.CDNOTAFISC AND T.NRITEM = I.NRITEM AND "
                        "T.CDIMPOSTONFE = '01' "
                        "LEFT JOIN IMPOSTOITEMNF P ON P.CDNOTAFISC = I.CDNOTAFISC AND P.NRITEM = I.NRITEM AND "
                        "P.CDIMPOSTONFE = '03' "
                        "LEFT JOIN PRODUTO PR ON PR.CDPRODUTO = I.CDPRODUTO" +
                        where + "ORDER BY I.CDNOTAFISC, I.NRITEM"),
             {o.company, ie, from, to})) {
        auto d = byId.find(r[0].value_or(""));
        if (d == byId.end())
            continue;
        Item it;
        it.number = std::stol(r[1].value_or("0"));
        it.product = r[2].value_or("");
        it.cfop = r[3].value_or("");
        it.quantity = amount(r[4], 3);
        it.value = amount(r[5]);
        it.base = amount(r[6]);
        it.rate = amount(r[7]);
        it.icms = amount(r[8]);
        it.exempt = amount(r[9]);
        it.other = amount(r[10]);
        it.stBase = amount(r[11]);
        it.st = amount(r[12]);
        it.ipi = amount(r[13]);
        it.name = r[14].value_or(it.product);
        it.cst = r[15].value_or("");
        docs[d->second].items.push_back(std::move(it));
    }

    // Whose document it is: the company's own when its key carries the
    // company's CNPJ, or an exit.
    std::string cnpj = digitsOf(reg->at(1).value_or(""));
    if (cnpj.size() != 14) {
        cnpj.clear();
        for (const Document &d : docs)
            if (d.side == "S" && d.key.size() == 44) {
                cnpj = d.key.substr(6, 14);
                break;
            }
        if (cnpj.empty())
            cnpj = "00000000000000";
    }
    auto own = [&](const Document &d) { return d.side == "S" || (d.key.size() == 44 && d.key.substr(6, 14) == cnpj); };
    auto withItems = [&](const Document &d) { return !own(d) && std::string(blockOf(d.model)) == "C100"; };

    // Where each divergence goes: a regular C100 of its kind, each its own.
    EfdFileCounts counts;
    std::set<std::string> used;
    std::map<EfdDivergence, std::string> target;
    auto pick = [&](EfdDivergence kind, auto fits) {
        if (!has(kind))
            return;
        for (const Document &d : docs)
            if (d.situation == "N" && !used.count(d.id) && std::string(blockOf(d.model)) == "C100" && !d.items.empty() &&
                fits(d)) {
                used.insert(d.id);
                target[kind] = d.id;
                counts.injected.push_back({kind, d.number});
                return;
            }
        throw Exception("o mês não tem documento onde pôr a divergência pedida");
    };
    pick(EfdDivergence::ItemIcms, [&](const Document &d) {
        return withItems(d) && std::any_of(d.items.begin(), d.items.end(), [](const Item &i) { return i.icms > 0; });
    });
    pick(EfdDivergence::HeaderIcms, [&](const Document &d) { return !withItems(d); });
    pick(EfdDivergence::DocumentTotal, [&](const Document &d) { return !withItems(d); });
    pick(EfdDivergence::CfopDirection, [&](const Document &d) { return !withItems(d); });
    pick(EfdDivergence::MissingDocument, [](const Document &) { return true; });
    pick(EfdDivergence::DocumentValue, [&](const Document &d) { return !withItems(d); });
    pick(EfdDivergence::Situation, [](const Document &) { return true; });
    pick(EfdDivergence::ExtraDocument, [](const Document &) { return true; });
    auto is = [&](EfdDivergence kind, const Document &d) {
        auto t = target.find(kind);
        return t != target.end() && t->second == d.id;
    };

    // Participants and products, numbered as they first appear.
    std::map<std::string, std::string> parts;  // name|uf|doc|ie → COD_PART
    std::vector<std::pair<std::string, const Document *>> partList;
    std::map<std::string, std::string> products;
    auto partKey = [](const Document &d) { return d.participant + '\x1f' + d.state + '\x1f' + d.partyDoc + '\x1f' + d.partyIe; };
    auto consumer = [](const Document &d) {
        return d.participant.empty() || d.participant == "Consumidor não identificado";
    };
    for (const Document &d : docs) {
        if (d.situation != "N")
            continue;
        if (!consumer(d) && !parts.count(partKey(d))) {
            char code[16];
            std::snprintf(code, sizeof code, "P%05zu", parts.size() + 1);
            parts[partKey(d)] = code;
            partList.push_back({code, &d});
        }
        if (withItems(d))
            for (const Item &it : d.items)
                products.emplace(it.product, it.name);
    }

    std::ofstream out(o.path, std::ios::binary | std::ios::trunc);
    if (!out)
        throw Exception("não foi possível gravar " + o.path);
    Writer w(out);
    char version[8];
    std::snprintf(version, sizeof version, "%03d", o.layout);
    w.Put(record("0000") + std::vector<std::string>{version, "0", EfdDateText(from), EfdDateText(to),
                                                    company[0][0].value_or(""), cnpj, "", uf, ie,
                                                    std::string(stateCode(uf) ? stateCode(uf) : "35") + "00000", "", "",
                                                    "A", "1"});
    w.Open('0', false);
    for (const auto &[code, d] : partList) {
        const bool abroad = d->state == "EX";
        const std::string doc = digitsOf(d->partyDoc);
        w.Put(record("0150") + std::vector<std::string>{code, d->participant, abroad ? "2496" : "1058",
                                                        doc.size() == 14 ? doc : "", doc.size() == 11 ? doc : "",
                                                        d->partyIe,
                                                        abroad || !stateCode(d->state) ? "9999999"
                                                                                       : std::string(stateCode(d->state)) + "00000",
                                                        "", "Rua do Cadastro", "1", "", "Centro"});
    }
    if (!products.empty())
        w.Put(record("0190") + std::vector<std::string>{"UN", "Unidade"});
    for (const auto &[code, name] : products)
        w.Put(record("0200") + std::vector<std::string>{code, name, "", "", "UN", "00", "", "", "", "", "", ""});
    w.Close('0');

    // The file's own analytical figures, for the apuração.
    Cents debits = 0, credits = 0;
    auto book = [&](const std::string &cfop, Cents icms) {
        if (EfdDebitCfop(cfop))
            debits += icms;
        else if (EfdCreditCfop(cfop))
            credits += icms;
    };
    auto partOf = [&](const Document &d) {
        if (consumer(d))
            return std::string();
        auto p = parts.find(partKey(d));
        return p == parts.end() ? std::string() : p->second;
    };

    for (char block : {'B'}) {
        w.Open(block, true);
        w.Close(block);
    }
    w.Open('C', docs.empty());
    std::vector<const Document *> c500, d100;
    long extraNumber = 0;
    for (const Document &d : docs) {
        const std::string kind = blockOf(d.model);
        if (kind == "C500") {
            c500.push_back(&d);
            continue;
        }
        if (kind == "D100") {
            d100.push_back(&d);
            continue;
        }
        if (is(EfdDivergence::MissingDocument, d))
            continue;
        extraNumber = std::max(extraNumber, d.number);
        const std::string indOper = d.side == "S" ? "1" : "0", indEmit = own(d) ? "0" : "1";
        const bool cancelled = d.situation != "N" || is(EfdDivergence::Situation, d);
        if (cancelled) {
            w.Put(record("C100") + std::vector<std::string>{indOper, indEmit, "", d.model, "02", d.series,
                                                            std::to_string(d.number), d.key, "", "", "", "", "", "", "",
                                                            "", "", "", "", "", "", "", "", "", "", "", "", ""});
            ++counts.documents;
            continue;
        }
        const bool noCredit = d.side == "E";
        std::map<LineKey, Line> lines;
        Cents total = 0, goods = 0, base = 0, icms = 0, stBase = 0, st = 0, ipi = 0;
        for (const Item &it : d.items) {
            const bool withoutCredit = noCredit && (it.cfop == "1403" || it.cfop == "2403" || it.cfop == "1409" || it.cfop == "2409");
            Line &l = lines[{cstOf(it, withoutCredit), it.cfop, it.rate}];
            l.operation += it.value;
            l.base += it.base;
            l.icms += it.icms;
            l.stBase += it.stBase;
            l.st += it.st;
            l.ipi += it.ipi;
            const std::string cst = cstOf(it, withoutCredit);
            if (cst == "020" || cst == "070")
                l.reduction += it.exempt;
            total += it.value;
            goods += it.value - it.ipi - it.st;
            base += it.base;
            icms += it.icms;
            stBase += it.stBase;
            st += it.st;
            ipi += it.ipi;
        }
        if (is(EfdDivergence::DocumentValue, d)) {
            lines.begin()->second.operation += 10000;
            total += 10000;
        }
        if (is(EfdDivergence::CfopDirection, d)) {
            auto first = lines.extract(lines.begin());
            std::string &cfop = std::get<1>(first.key());
            cfop[0] = static_cast<char>(cfop[0] <= '3' ? cfop[0] + 4 : cfop[0] - 4);
            lines.insert(std::move(first));
        }
        const Cents filedTotal = total + (is(EfdDivergence::DocumentTotal, d) ? 100 : 0);
        const Cents filedIcms = icms + (is(EfdDivergence::HeaderIcms, d) ? 100 : 0);
        const std::string part = partOf(d);
        // Copies under other numbers make a big file of the same books' shape.
        for (long copy = 0; copy < std::max(1, o.repeat); ++copy) {
            w.Put(record("C100") + std::vector<std::string>{indOper, indEmit, part, d.model, "00", d.series,
                                                            std::to_string(d.number + copy * 2000000L), copy ? copyKey(d.key, d.number + copy * 2000000L) : d.key, EfdDateText(d.issueDate),
                                                            EfdDateText(d.moveDate), EfdAmountText(filedTotal), "0", "0,00",
                                                            "0,00", EfdAmountText(goods), "9", "0,00", "0,00", "0,00",
                                                            EfdAmountText(base), EfdAmountText(filedIcms),
                                                            EfdAmountText(stBase), EfdAmountText(st), EfdAmountText(ipi),
                                                            "0,00", "0,00", "0,00", "0,00"});
            ++counts.documents;
            if (withItems(d)) {
                bool changed = false;
                for (const Item &it : d.items) {
                    const bool withoutCredit = noCredit && (it.cfop == "1403" || it.cfop == "2403" || it.cfop == "1409" || it.cfop == "2409");
                    Cents itemIcms = it.icms;
                    if (copy == 0 && is(EfdDivergence::ItemIcms, d) && !changed && it.icms > 0) {
                        itemIcms += 100;
                        changed = true;
                    }
                    std::vector<std::string> f{std::to_string(it.number), it.product, "", DecimalText(it.quantity, 3),
                                               "UN", EfdAmountText(it.value - it.ipi - it.st), "0,00", "0",
                                               cstOf(it, withoutCredit), it.cfop, "", EfdAmountText(it.base),
                                               EfdRateText(it.rate), EfdAmountText(itemIcms), EfdAmountText(it.stBase),
                                               "0,00", EfdAmountText(it.st), "0", it.ipi ? "50" : "", "",
                                               EfdAmountText(it.ipi ? it.value - it.ipi - it.st : 0), "0,00",
                                               EfdAmountText(it.ipi), "", "", "", "", "", "", "", "", "", "", "", "", ""};
                    f[3].replace(f[3].find('.'), 1, ",");
                    f.resize(EfdFieldCount("C170", o.layout) - 1);
                    w.Put(record("C170") + f);
                    ++counts.items;
                }
            }
            for (const auto &[k, l] : lines) {
                const auto &[cst, cfop, rate] = k;
                w.Put(record("C190") + std::vector<std::string>{cst, cfop, EfdRateText(rate), EfdAmountText(l.operation),
                                                                EfdAmountText(l.base), EfdAmountText(l.icms),
                                                                EfdAmountText(l.stBase), EfdAmountText(l.st),
                                                                EfdAmountText(l.reduction), EfdAmountText(l.ipi), ""});
                book(cfop, l.icms);
                ++counts.analytical;
            }
        }
        if (is(EfdDivergence::ExtraDocument, d)) {
            // The same document once more under a number the books do not have.
            w.Put(record("C100") + std::vector<std::string>{indOper, indEmit, part, d.model, "00", d.series,
                                                            std::to_string(d.number + 900000), "", EfdDateText(d.issueDate),
                                                            EfdDateText(d.moveDate), EfdAmountText(total), "0", "0,00",
                                                            "0,00", EfdAmountText(goods), "9", "0,00", "0,00", "0,00",
                                                            EfdAmountText(base), EfdAmountText(icms),
                                                            EfdAmountText(stBase), EfdAmountText(st), EfdAmountText(ipi),
                                                            "0,00", "0,00", "0,00", "0,00"});
            for (auto &[kind, number] : counts.injected)
                if (kind == EfdDivergence::ExtraDocument)
                    number = d.number + 900000;
            for (const auto &[k, l] : lines) {
                const auto &[cst, cfop, rate] = k;
                w.Put(record("C190") + std::vector<std::string>{cst, cfop, EfdRateText(rate), EfdAmountText(l.operation),
                                                                EfdAmountText(l.base), EfdAmountText(l.icms),
                                                                EfdAmountText(l.stBase), EfdAmountText(l.st),
                                                                EfdAmountText(l.reduction), EfdAmountText(l.ipi), ""});
                book(cfop, l.icms);
            }
        }
    }
    for (const Document *d : c500) {
        const std::string indOper = d->side == "S" ? "1" : "0", indEmit = d->side == "S" ? "0" : "1";
        std::map<LineKey, Line> lines;
        Cents total = 0, base = 0, icms = 0, stBase = 0, st = 0;
        for (const Item &it : d->items) {
            Line &l = lines[{cstOf(it, false), it.cfop, it.rate}];
            l.operation += it.value;
            l.base += it.base;
            l.icms += it.icms;
            l.stBase += it.stBase;
            l.st += it.st;
            total += it.value;
            base += it.base;
            icms += it.icms;
            stBase += it.stBase;
            st += it.st;
        }
        const bool cancelled = d->situation != "N";
        std::vector<std::string> f{indOper, indEmit, cancelled ? "" : partOf(*d), d->model, cancelled ? "02" : "00",
                                   d->series, "", "", std::to_string(d->number), EfdDateText(d->issueDate),
                                   EfdDateText(d->moveDate), EfdAmountText(total), "0,00", EfdAmountText(total), "0,00",
                                   "0,00", "0,00", EfdAmountText(base), EfdAmountText(icms), EfdAmountText(stBase),
                                   EfdAmountText(st), "", "0,00", "0,00", "", ""};
        f.resize(EfdFieldCount("C500", o.layout) - 1);
        w.Put(record("C500") + f);
        ++counts.documents;
        if (cancelled)
            continue;
        for (const auto &[k, l] : lines) {
            const auto &[cst, cfop, rate] = k;
            w.Put(record("C590") + std::vector<std::string>{cst, cfop, EfdRateText(rate), EfdAmountText(l.operation),
                                                            EfdAmountText(l.base), EfdAmountText(l.icms),
                                                            EfdAmountText(l.stBase), EfdAmountText(l.st), "0,00", ""});
            book(cfop, l.icms);
            ++counts.analytical;
        }
    }
    w.Close('C');
    w.Open('D', d100.empty());
    for (const Document *d : d100) {
        const std::string indOper = d->side == "S" ? "1" : "0", indEmit = own(*d) ? "0" : "1";
        std::map<LineKey, Line> lines;
        Cents total = 0, base = 0, icms = 0;
        for (const Item &it : d->items) {
            Line &l = lines[{cstOf(it, false), it.cfop, it.rate}];
            l.operation += it.value;
            l.base += it.base;
            l.icms += it.icms;
            if (cstOf(it, false) == "020")
                l.reduction += it.exempt;
            total += it.value;
            base += it.base;
            icms += it.icms;
        }
        const bool cancelled = d->situation != "N";
        w.Put(record("D100") + std::vector<std::string>{indOper, indEmit, cancelled ? "" : partOf(*d), d->model,
                                                        cancelled ? "02" : "00", d->series, "", std::to_string(d->number),
                                                        d->key, EfdDateText(d->issueDate), EfdDateText(d->moveDate), "0",
                                                        "", EfdAmountText(total), "0,00", "1", EfdAmountText(total),
                                                        EfdAmountText(base), EfdAmountText(icms),
                                                        EfdAmountText(total - base), "", "", "", ""});
        ++counts.documents;
        if (cancelled)
            continue;
        for (const auto &[k, l] : lines) {
            const auto &[cst, cfop, rate] = k;
            w.Put(record("D190") + std::vector<std::string>{cst, cfop, EfdRateText(rate), EfdAmountText(l.operation),
                                                            EfdAmountText(l.base), EfdAmountText(l.icms),
                                                            EfdAmountText(l.reduction), ""});
            book(cfop, l.icms);
            ++counts.analytical;
        }
    }
    w.Close('D');

    // The apuração of the month: the file's own lines and the books' adjustments.
    w.Open('E', false);
    w.Put(record("E100") + std::vector<std::string>{EfdDateText(from), EfdDateText(to)});
    std::array<Cents, 16> e{};
    std::vector<Values> adjustments = db.Select(
        db.Prepare("SELECT IDTIPO, CDAJUSTE, DSAJUSTE, CAST(VLAJUSTE AS VARCHAR(30)) FROM APURACAOAJUSTE WHERE CDEMPRESA = ? "
                   "AND CDINSCESTA = ? AND DTMES = ? ORDER BY NRAJUSTE"),
        {o.company, ie, from});
    e[2] = debits;
    e[6] = credits;
    for (const Values &a : adjustments) {
        const Cents v = amount(a[3]);
        switch (a[0].value_or("0")[0]) {
        case '0': e[4] += v; break;
        case '1': e[5] += v; break;
        case '2': e[8] += v; break;
        case '3': e[9] += v; break;
        default: e[12] += v; break;
        }
    }
    const Cents owed = e[2] + e[3] + e[4] + e[5], held = e[6] + e[7] + e[8] + e[9] + e[10];
    e[11] = std::max<Cents>(0, owed - held);
    e[12] = std::min(e[12], e[11]);
    e[13] = e[11] - e[12];
    e[14] = std::max<Cents>(0, held - owed);
    if (has(EfdDivergence::Apuracao)) {
        e[14] += 100;
        counts.injected.push_back({EfdDivergence::Apuracao, 0});
    }
    std::vector<std::string> f;
    for (int n = 2; n <= 15; ++n)
        f.push_back(EfdAmountText(e[static_cast<std::size_t>(n)]));
    w.Put(record("E110") + f);
    for (const Values &a : adjustments)
        w.Put(record("E111") + std::vector<std::string>{a[1].value_or(""), a[2].value_or(""), EfdAmountText(amount(a[3]))});
    Cents obligation = e[13];
    if (has(EfdDivergence::Obligations)) {
        obligation += 100;
        counts.injected.push_back({EfdDivergence::Obligations, 0});
    }
    if (obligation > 0) {
        char due[16], ref[8];
        std::snprintf(due, sizeof due, "10%02d%04d", month % 12 + 1, month == 12 ? year + 1 : year);
        std::snprintf(ref, sizeof ref, "%02d%04d", month, year);
        w.Put(record("E116") + std::vector<std::string>{"000", EfdAmountText(obligation), due, "046-2", "", "", "", "", ref});
    }
    w.Close('E');
    for (char block : {'G', 'H', 'K'}) {
        w.Open(block, true);
        w.Close(block);
    }
    w.Open('1', true);
    w.Close('1');

    // The closing block counts every record, itself included.
    std::map<std::string, long> final = w.counts_;
    final["9001"] = 1;
    final["9990"] = 1;
    final["9999"] = 1;
    final["9900"] = static_cast<long>(final.size()) + (final.count("9900") ? 0 : 1);
    w.Put(record("9001") + std::vector<std::string>{"0"});
    bool bumped = false;
    for (const auto &[name, n] : final) {
        long count = n;
        if (has(EfdDivergence::RecordCount) && !bumped && name[0] == 'C') {
            ++count;
            bumped = true;
            counts.injected.push_back({EfdDivergence::RecordCount, 0});
        }
        w.Put(record("9900") + std::vector<std::string>{name, std::to_string(count)});
    }
    w.Put(record("9990") + std::vector<std::string>{std::to_string(final["9900"] + 3)});
    long total = w.lines_ + 1;
    if (has(EfdDivergence::LineCount)) {
        ++total;
        counts.injected.push_back({EfdDivergence::LineCount, 0});
    }
    w.Put(record("9999") + std::vector<std::string>{std::to_string(total)});
    counts.lines = w.lines_;
    if (!out.flush())
        throw Exception("não foi possível gravar " + o.path);
    return counts;
}
