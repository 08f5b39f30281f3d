#include "fiscal_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>
#include <stdexcept>

namespace {
using Rows = std::vector<std::vector<std::optional<std::string>>>;

long long scaled(const std::optional<std::string> &text, int decimals)
{
    if (!text)
        return 0;
    return std::llround(std::strtod(text->c_str(), nullptr) * std::pow(10.0, decimals));
}
long number(const std::optional<std::string> &text) { return text ? std::atol(text->c_str()) : 0; }
std::string str(const std::optional<std::string> &text) { return text.value_or(""); }

// Half away from zero, as the databases round a decimal.
long long divideRounded(long long numerator, long long denominator)
{
    const bool negative = (numerator < 0) != (denominator < 0);
    const long long n = std::llabs(numerator), d = std::llabs(denominator);
    const long long q = (2 * n + d) / (2 * d);
    return negative ? -q : q;
}

std::vector<std::string> splitList(const std::string &list)
{
    std::vector<std::string> out;
    std::stringstream in(list);
    for (std::string key; std::getline(in, key, ',');)
        out.push_back(key);
    return out;
}
bool inList(const std::string &list, const std::string &key)
{
    const auto keys = splitList(list);
    return std::find(keys.begin(), keys.end(), key) != keys.end();
}

bool validFirstDigit(const std::string &cfop)
{
    return !cfop.empty() && std::string("123567").find(cfop[0]) != std::string::npos;
}
// A CFOP outside the table has no origin: '9'.
char origin(const std::string &cfop, const std::map<std::string, std::string> &table)
{
    if (!table.count(cfop))
        return '9';
    switch (cfop[0]) {
    case '1': case '5': return '1';
    case '2': case '6': return '2';
    case '3': case '7': return '3';
    default: return '9';
    }
}
const char *originName(char o)
{
    return o == '1' ? "Do Estado" : o == '2' ? "De Outros Estados" : o == '3' ? "Do Exterior" : "CFOP fora da tabela";
}
Cell money(long long cents) { return Cell::Amount(cents, 2); }
Cell quantity(long long thousandths) { return Cell::Amount(thousandths, 3); }
Cell text(std::string t) { return Cell::Of(std::move(t)); }
} // namespace

FiscalModel::FiscalModel(DatabaseSession &db)
{
    for (const auto &r : db.Query("SELECT CDNOTAFISC, CDEMPRESA, CDFILIAL, IDENTRSAIDA, CDSERIE, NRNOTAFISC, "
                                  "CDMODDOCFISC, CDTIPOOPER, DTENTRSAIDA, CDINSCESTA, CDINSCMUNI, NMPARTICIPANTE, "
                                  "SGUF, IDSITUACAO, DTEMISSAO, NRDOCPARTIC, NRIEPARTIC FROM NOTAFISCAL",
                                  {})
                             .rows) {
        Doc d;
        d.key = number(r[0]);
        d.company = str(r[1]);
        d.branch = str(r[2]);
        d.side = str(r[3]);
        d.series = str(r[4]);
        d.number = number(r[5]);
        d.model = str(r[6]);
        d.type = str(r[7]);
        d.booked = str(r[8]).substr(0, 10);
        d.registration = r[9];
        d.municipal = r[10];
        d.participant = r[11];
        d.uf = r[12];
        d.cancelled = str(r[13]) != "N";
        d.issued = str(r[14]).substr(0, 10);
        d.document = r[15];
        d.partyRegistration = r[16];
        docs_[d.key] = d;
    }
    for (const auto &r : db.Query("SELECT CDNOTAFISC, NRITEM, CDPRODUTO, CDCFOP, QTITEM, VLCONTABIL FROM ITEMNOTAFISC",
                                  {})
                             .rows)
        items_.push_back({number(r[0]), number(r[1]), str(r[2]), str(r[3]), scaled(r[4], 3), scaled(r[5], 2)});
    std::sort(items_.begin(), items_.end(),
              [](const Item &a, const Item &b) { return std::tie(a.doc, a.nr) < std::tie(b.doc, b.nr); });
    for (const auto &r : db.Query("SELECT CDNOTAFISC, NRITEM, CDIMPOSTONFE, VLBASECALC, VLIMPOSTO, VLISENTO, VLOUTROS, "
                                  "VLBASEST, VLIMPOSTOST, PCALIQUOTA, CDCST FROM IMPOSTOITEMNF",
                                  {})
                             .rows)
        taxes_[{number(r[0]), number(r[1]), str(r[2])}] = {scaled(r[3], 2), scaled(r[4], 2), scaled(r[5], 2),
                                                           scaled(r[6], 2), scaled(r[7], 2), scaled(r[8], 2),
                                                           scaled(r[9], 2), r[10]};
    for (const auto &r : db.Query("SELECT CDPRODUTO, CDARVPROD, NMPRODUTO FROM PRODUTO", {}).rows)
        products_[str(r[0])] = {str(r[1]), r[2]};
    for (const auto &r : db.Query("SELECT CDCFOP, DSCFOP FROM CFOP", {}).rows)
        cfops_[str(r[0])] = str(r[1]);
    registrations_ = db.Query("SELECT CDEMPRESA, CDINSCESTA, SGESTADO FROM INSCRESTAD", {}).rows;
    for (const auto &r : db.Query("SELECT CDEMPRESA, CDINSCESTA, DTMES, IDTIPO, CDAJUSTE, DSAJUSTE, VLAJUSTE "
                                  "FROM APURACAOAJUSTE",
                                  {})
                             .rows)
        adjustments_.push_back({str(r[0]), str(r[1]), str(r[2]).substr(0, 10), str(r[3]), str(r[4]), r[5], scaled(r[6], 2)});
    for (const auto &r : db.Query("SELECT NRORDEM, DSLINHA FROM APURACAOLINHA", {}).rows)
        apuracaoLines_[static_cast<int>(number(r[0]))] = str(r[1]);
    for (const auto &r : db.Query("SELECT CDEMPRESA, IDATIVIDADE FROM EMPRESAATIVIDADE", {}).rows)
        activities_[str(r[0])] = str(r[1]);
    for (const auto &r : db.Query("SELECT CDFILIAL, SGESTADO FROM FILIALUF", {}).rows)
        branchStates_[str(r[0])] = str(r[1]);
    for (const auto &r : db.Query("SELECT CDEMPRESA, CDINSCESTAST, CDINSCESTA FROM INSCRESTADST", {}).rows)
        substitutes_[{str(r[0]), str(r[1])}] = str(r[2]);
}

bool FiscalModel::counted(const Doc &d, const ReportInputs &in) const
{
    return !d.cancelled && d.company == in.company && d.booked >= in.from && d.booked <= in.to;
}

bool FiscalModel::sideMatches(const Doc &d, const ReportInputs &in) const
{
    return in.side == 'A' || d.side == std::string(1, in.side);
}

bool FiscalModel::summarised(const Doc &d, const Item &i, const ReportInputs &in) const
{
    return counted(d, in) && sideMatches(d, in) && registrationsMatch(d, in) && (in.cfop.empty() || i.cfop == in.cfop);
}

bool FiscalModel::registrationsMatch(const Doc &d, const ReportInputs &in) const
{
    if (!in.registration.empty() && d.registration != in.registration)
        return false;
    return in.municipal.empty() || d.municipal == in.municipal;
}

const FiscalModel::Product *FiscalModel::productOf(const Item &i) const
{
    auto it = products_.find(i.product);
    return it == products_.end() ? nullptr : &it->second;
}

bool FiscalModel::productInRange(const Item &i, const ReportInputs &in) const
{
    if (in.productFrom.empty() && in.productTo.empty())
        return true;
    const Product *p = productOf(i);
    return p && (in.productFrom.empty() || p->tree >= in.productFrom) && (in.productTo.empty() || p->tree <= in.productTo);
}

const FiscalModel::Tax *FiscalModel::taxOf(const Item &i, const std::string &tax) const
{
    auto it = taxes_.find({i.doc, i.nr, tax});
    return it == taxes_.end() ? nullptr : &it->second;
}

ItemSplit FiscalModel::splitOf(const Item &i, const std::string &tax) const
{
    // ICMS-ST is kept in the ICMS row: its base and tax are that row's ST ones,
    // and the ST base is no part of the document's value.
    const bool st = tax == "06";
    const Tax *t = taxOf(i, st ? "01" : tax);
    const Tax *icms = taxOf(i, "01");
    const Tax *ipi = taxOf(i, "03");
    ItemSplit s;
    s.value = i.value;
    if (t) {
        s.base = st ? t->baseSt : t->base;
        s.tax = st ? t->st : t->tax;
        s.exempt = st ? 0 : t->exempt;
        s.other = st ? 0 : t->other;
    }
    // An import's ICMS base holds its IPI already.
    const bool ipiInBase = !i.cfop.empty() && i.cfop[0] == '3' && (tax == "01" || st);
    s.ipi = ipi && !ipiInBase ? ipi->tax : 0;
    s.baseSt = icms ? icms->baseSt : 0;
    s.st = icms ? icms->st : 0;
    s.rest = s.value - (st || !t ? 0 : t->base) - s.exempt - s.other - s.ipi - s.st;
    if (s.rest > 0)
        s.other += s.rest;
    return s;
}

std::vector<ModelRow> FiscalModel::CfopSummary(const ReportInputs &in) const
{
    std::map<std::tuple<std::string, char, std::string>, ItemSplit> groups;  // side, origin, CFOP
    for (const Item &i : items_) {
        const Doc &d = docs_.at(i.doc);
        if (!summarised(d, i, in))
            continue;
        groups[{d.side, origin(i.cfop, cfops_), i.cfop}] += splitOf(i, in.tax);
    }
    std::vector<ModelRow> rows;
    for (const auto &[key, s] : groups) {
        const auto &[side, o, cfop] = key;
        auto description = cfops_.find(cfop);
        rows.push_back({text(side), text(side == "E" ? "Entradas" : "Saídas"), text(std::string(1, o)),
                        text(originName(o)), text(cfop),
                        Cell::Of(description == cfops_.end() ? std::nullopt : std::optional(description->second)),
                        money(s.value), money(s.base), money(s.tax), money(s.exempt), money(s.other), money(s.ipi),
                        money(s.baseSt), money(s.st)});
    }
    return rows;
}

std::vector<ModelRow> FiscalModel::Apuracao(const ReportInputs &in) const
{
    // What each registration moved per month up to the period's end: the
    // ICMS of its documents per side and CFOP, and its adjustments.
    using Detail = std::tuple<int, std::string, std::string>;  // line, CFOP, code
    struct Month {
        std::map<Detail, std::pair<std::optional<std::string>, long long>> details;  // description, cents
        long long debits = 0, credits = 0, deductions = 0;
    };
    std::map<std::string, std::map<std::string, Month>> byRegistration;  // registration, month
    auto inScope = [&](const std::string &registration) {
        return in.registration.empty() || registration == in.registration;
    };
    std::map<std::tuple<long, std::string>, long long> perDocument;  // document, CFOP: its ICMS
    for (const Item &i : items_) {
        const Doc &d = docs_.at(i.doc);
        if (d.cancelled || d.company != in.company || d.booked > in.to || !d.registration || !inScope(*d.registration))
            continue;
        if (const Tax *t = taxOf(i, "01"))
            perDocument[{d.key, i.cfop}] += t->tax;
    }
    for (const auto &[key, tax] : perDocument) {
        if (tax == 0)
            continue;
        const Doc &d = docs_.at(std::get<0>(key));
        Month &m = byRegistration[*d.registration][d.booked.substr(0, 8) + "01"];
        const int line = d.side == "S" ? 10 : 50;
        m.details[{line, std::get<1>(key), ""}].second += tax;
        (line == 10 ? m.debits : m.credits) += tax;
    }
    for (const Adjustment &a : adjustments_) {
        if (a.company != in.company || a.month > in.to || !inScope(a.registration))
            continue;
        const int line = a.type == "0" ? 20 : a.type == "1" ? 30 : a.type == "2" ? 60 : a.type == "3" ? 70 : 110;
        Month &m = byRegistration[a.registration][a.month];
        auto &detail = m.details[{line, "", a.code}];
        detail.first = a.description;
        detail.second += a.cents;
        (line <= 30 ? m.debits : line <= 70 ? m.credits : m.deductions) += a.cents;
    }
    const std::string first = in.from.substr(0, 8) + "01";
    for (const auto &r : registrations_)
        if (r[0] == in.company && r[1] && inScope(*r[1]))
            byRegistration[*r[1]][first];  // every registration from the period's first month on
    std::vector<ModelRow> rows;
    if (in.from > in.to)
        return rows;
    for (auto &[registration, months] : byRegistration) {
        std::optional<std::string> state;
        for (const auto &r : registrations_)
            if (r[0] == in.company && r[1] == registration)
                state = r[2];
        long long carried = 0;
        // The months one after the other, with or without movement.
        for (std::string month = months.begin()->first; month <= in.to;) {
            const Month &m = months[month];
            const long long credits = m.credits + carried;
            const long long due = m.debits > credits ? m.debits - credits : 0;
            const long long payable = due > m.deductions ? due - m.deductions : 0;
            const long long transported = credits > m.debits ? credits - m.debits : 0;
            if (month >= first) {
                auto line = [&](int order, std::optional<std::string> cfop, std::optional<std::string> code,
                                std::optional<std::string> description, long long cents) {
                    rows.push_back({text(registration), Cell::Of(state), text(month), Cell::Amount(order, 0),
                                    text(apuracaoLines_.at(order)), Cell::Of(std::move(cfop)), Cell::Of(std::move(code)),
                                    Cell::Of(std::move(description)), money(cents)});
                };
                std::map<int, long long> totals = {{40, m.debits},     {80, carried},  {90, credits},
                                                   {100, due},         {120, payable}, {130, transported}};
                std::map<Detail, std::pair<std::optional<std::string>, long long>> all = m.details;
                for (const auto &[order, cents] : totals)
                    all[{order, "", ""}] = {std::nullopt, cents};
                // A line of movement that did not move stands with 0,00.
                for (const auto &entry : apuracaoLines_) {
                    const int order = entry.first;
                    const bool moved = std::any_of(m.details.begin(), m.details.end(),
                                                   [&](const auto &d) { return std::get<0>(d.first) == order; });
                    if (!totals.count(order) && !moved)
                        all[{order, "", ""}] = {std::nullopt, 0};
                }
                for (const auto &[detail, value] : all) {
                    const auto &[order, cfop, code] = detail;
                    line(order, cfop.empty() ? std::nullopt : std::optional(cfop),
                         code.empty() ? std::nullopt : std::optional(code), value.first, value.second);
                }
            }
            carried = transported;
            const int y = std::atoi(month.c_str()), mo = std::atoi(month.c_str() + 5);
            char next[32];
            std::snprintf(next, sizeof next, "%04d-%02d-01", mo == 12 ? y + 1 : y, mo == 12 ? 1 : mo + 1);
            month = next;
        }
    }
    return rows;
}

std::vector<ModelRow> FiscalModel::CfopCstSummary(const ReportInputs &in) const
{
    // side, origin, CFOP, CST ('' without the row), rate (-1 without the row)
    std::map<std::tuple<std::string, char, std::string, std::string, long long>, std::pair<ItemSplit, bool>> groups;
    for (const Item &i : items_) {
        const Doc &d = docs_.at(i.doc);
        if (!summarised(d, i, in))
            continue;
        const Tax *t = taxOf(i, in.tax == "06" ? "01" : in.tax);
        auto &g = groups[{d.side, origin(i.cfop, cfops_), i.cfop, t && t->cst ? *t->cst : "", t ? t->rate : -1}];
        g.first += splitOf(i, in.tax);
        g.second = t && t->cst;
    }
    std::vector<ModelRow> rows;
    for (const auto &[key, g] : groups) {
        const auto &[side, o, cfop, cst, rate] = key;
        const ItemSplit &s = g.first;
        auto description = cfops_.find(cfop);
        rows.push_back({text(side), text(side == "E" ? "Entradas" : "Saídas"), text(std::string(1, o)),
                        text(originName(o)), text(cfop),
                        Cell::Of(description == cfops_.end() ? std::nullopt : std::optional(description->second)),
                        g.second ? text(cst) : Cell::Of(std::nullopt),
                        rate < 0 ? Cell::Of(std::nullopt) : Cell::Amount(rate, 2), money(s.value), money(s.base),
                        money(s.tax), money(s.exempt), money(s.other), money(s.ipi), money(s.baseSt), money(s.st)});
    }
    return rows;
}

std::vector<ModelRow> FiscalModel::CfopProducts(const ReportInputs &in) const
{
    struct Sums : ItemSplit {
        std::optional<std::string> name;
        long long quantity = 0;
    };
    std::map<std::tuple<std::string, char, std::string, std::string>, Sums> groups;  // side, origin, CFOP, tree
    for (const Item &i : items_) {
        const Doc &d = docs_.at(i.doc);
        if (!counted(d, in) || !sideMatches(d, in) || !registrationsMatch(d, in) || !productInRange(i, in))
            continue;
        if (!in.cfop.empty() && i.cfop != in.cfop)
            continue;
        if (!in.number.empty() && d.number != std::atol(in.number.c_str()))
            continue;
        if (!in.series.empty() && d.series != in.series)
            continue;
        const Product *p = productOf(i);
        Sums &s = groups[{d.side, origin(i.cfop, cfops_), i.cfop, p ? p->tree : ""}];
        s.name = p ? p->name : std::nullopt;
        s.quantity += i.quantity;
        s += splitOf(i, in.tax);
    }
    std::vector<ModelRow> rows;
    for (const auto &[key, s] : groups) {
        const auto &[side, o, cfop, tree] = key;
        auto description = cfops_.find(cfop);
        rows.push_back({text(side), text(side == "E" ? "Entradas" : "Saídas"), text(std::string(1, o)),
                        text(originName(o)), text(cfop),
                        Cell::Of(description == cfops_.end() ? std::nullopt : std::optional(description->second)),
                        text(tree), Cell::Of(s.name), quantity(s.quantity), money(s.value), money(s.base),
                        money(s.tax), money(s.exempt), money(s.other), money(s.ipi), money(s.st)});
    }
    return rows;
}

std::vector<ModelRow> FiscalModel::InvoiceList(const ReportInputs &in) const
{
    // The books: per registration, side and day, one line per document, CFOP
    // and rate of the chosen tax's row; cancelled ones too, as one line of
    // zeros; with a product range only those with an item in it, summing
    // those items.
    const std::string tax = in.tax == "06" ? "01" : in.tax;
    const bool range = !in.productFrom.empty() || !in.productTo.empty();
    struct Sums : ItemSplit {};
    // document, CFOP ('' for none), rate (-1 for none)
    std::map<std::tuple<long, std::string, long long>, Sums> lines;
    std::set<long> listed;
    for (const auto &[key, d] : docs_) {
        if (d.company != in.company || d.booked < in.from || d.booked > in.to)
            continue;
        if (!sideMatches(d, in) || !registrationsMatch(d, in))
            continue;
        if (!in.branch.empty() && d.branch != in.branch)
            continue;
        if (!in.operationTypes.empty() && !inList(in.operationTypes, d.side + d.type))
            continue;
        if (!in.models.empty() && !inList(in.models, d.model))
            continue;
        listed.insert(key);
    }
    std::set<long> withItems;
    for (const Item &i : items_) {
        if (!listed.count(i.doc) || !productInRange(i, in))
            continue;
        withItems.insert(i.doc);
        const Doc &d = docs_.at(i.doc);
        if (d.cancelled) {
            lines[{i.doc, "", -1}];
            continue;
        }
        const Tax *t = taxOf(i, tax);
        lines[{i.doc, i.cfop, t ? t->rate : -1}] += splitOf(i, in.tax);
    }
    for (long key : listed)
        if (!withItems.count(key) && !range)
            lines[{key, "", -1}];
    struct Line {
        std::tuple<int, std::string, std::string, std::string, long, long, std::string, long long> order;
        ModelRow cells;
    };
    std::vector<Line> out;
    for (const auto &[key, s] : lines) {
        const auto &[doc, cfop, rate] = key;
        const Doc &d = docs_.at(doc);
        out.push_back({{d.registration ? 0 : 1, d.registration.value_or(""), d.side, d.booked, d.number, d.key, cfop, rate},
                       {text(d.registration.value_or("Sem inscrição estadual")), text(d.side),
                        text(d.side == "E" ? "Entradas" : "Saídas"), text(d.booked), text(d.issued), text(d.model),
                        text(d.series), Cell::Amount(d.number, 0), Cell::Of(d.document), Cell::Of(d.partyRegistration),
                        Cell::Of(d.uf), Cell::Of(d.participant), cfop.empty() ? Cell::Of(std::nullopt) : text(cfop),
                        rate < 0 ? Cell::Of(std::nullopt) : Cell::Amount(rate, 2),
                        Cell::Of(d.cancelled ? std::optional<std::string>("CANCELADA") : std::nullopt), money(s.value),
                        money(s.base), money(s.tax), money(s.exempt), money(s.other), money(s.ipi), money(s.st)}});
    }
    std::sort(out.begin(), out.end(), [](const Line &a, const Line &b) { return a.order < b.order; });
    std::vector<ModelRow> rows;
    for (Line &l : out)
        rows.push_back(std::move(l.cells));
    return rows;
}

std::vector<ModelRow> FiscalModel::StByProduct(const ReportInputs &in) const
{
    std::optional<std::string> standsFor;
    if (!in.registration.empty()) {
        auto it = substitutes_.find({in.company, in.registration});
        if (it == substitutes_.end())
            return {};  // a substitute registration the company does not have selects nothing
        standsFor = it->second;
    }
    struct Line {
        const Doc *doc = nullptr;
        std::string tree, cfop;
        std::optional<std::string> name;
        long long quantity = 0, baseSt = 0, st = 0;
    };
    // side, tree, date, number, key, CFOP
    std::map<std::tuple<std::string, std::string, std::string, long, long, std::string>, Line> lines;
    for (const Item &i : items_) {
        const Doc &d = docs_.at(i.doc);
        if (!counted(d, in) || !sideMatches(d, in) || !productInRange(i, in))
            continue;
        if (standsFor && d.registration != standsFor)
            continue;
        if (!in.cfop.empty() && i.cfop != in.cfop)
            continue;
        if (!in.operationTypes.empty() && !inList(in.operationTypes, d.side + d.type))
            continue;
        const Tax *t = taxOf(i, in.tax == "06" ? "01" : in.tax);
        if (!t || (t->baseSt == 0 && t->st == 0))
            continue;
        const Product *p = productOf(i);
        const std::string tree = p ? p->tree : "";
        Line &l = lines[{d.side, tree, d.booked, d.number, d.key, i.cfop}];
        l.doc = &d;
        l.tree = tree;
        l.cfop = i.cfop;
        l.name = p ? p->name : std::nullopt;
        l.quantity += i.quantity;
        l.baseSt += t->baseSt;
        l.st += t->st;
    }
    std::vector<ModelRow> rows;
    for (const auto &[key, l] : lines)
        rows.push_back({text(l.doc->side), text(l.doc->side == "E" ? "ST pago nas entradas" : "ST retido nas saídas"),
                        text(l.tree), Cell::Of(l.name), text(l.doc->booked), Cell::Amount(l.doc->number, 0),
                        text(l.doc->series), Cell::Of(l.doc->participant), Cell::Of(l.doc->uf), text(l.cfop),
                        quantity(l.quantity), money(l.baseSt), money(l.st)});
    return rows;
}

std::vector<ModelRow> FiscalModel::StRefund(const ReportInputs &in) const
{
    // Per registration, product and month. The operation types choose the
    // exits only, and a list without an exit type leaves them all.
    const std::string tax = in.tax == "06" ? "01" : in.tax;
    bool exitTypes = false;
    for (const std::string &t : splitList(in.operationTypes))
        exitTypes = exitTypes || (!t.empty() && t[0] == 'S');
    struct Month {
        long long entered = 0, stEntered = 0;     // the whole month's ST entries
        long long inPeriod = 0, stInPeriod = 0;   // those within the period
        long long sentOut = 0, asSubstitute = 0;  // exits to other states within the period
        bool period = false;
    };
    std::map<std::tuple<std::string, std::string, std::string>, Month> months;  // registration, product, month
    for (const Item &i : items_) {
        const Doc &d = docs_.at(i.doc);
        if (d.cancelled || d.company != in.company || d.booked > in.to || !productInRange(i, in))
            continue;
        if (!in.registration.empty() && d.registration != in.registration)
            continue;
        const bool inPeriod = d.booked >= in.from;
        const Tax *t = taxOf(i, tax);
        const std::string month = d.booked.substr(0, 8) + "01";
        if (d.side == "E" && t && t->st != 0) {
            Month &m = months[{d.registration.value_or(""), i.product, month}];
            m.entered += i.quantity;
            m.stEntered += t->st;
            if (inPeriod) {
                m.inPeriod += i.quantity;
                m.stInPeriod += t->st;
                m.period = true;
            }
        }
        if (d.side == "S" && inPeriod && !i.cfop.empty() && i.cfop[0] == '6' &&
            (!exitTypes || inList(in.operationTypes, d.side + d.type))) {
            Month &m = months[{d.registration.value_or(""), i.product, month}];
            m.sentOut += i.quantity;
            if (i.cfop == "6401" || i.cfop == "6402" || i.cfop == "6403")
                m.asSubstitute += i.quantity;
            m.period = true;
        }
    }
    std::vector<ModelRow> rows;
    std::vector<std::tuple<std::string, std::string, std::string, std::string>> order;  // registration, tree, product, month
    std::map<std::tuple<std::string, std::string, std::string, std::string>, ModelRow> byOrder;
    for (const auto &[key, m] : months) {
        const auto &[registration, product, month] = key;
        if (!m.period || (m.inPeriod == 0 && m.sentOut == 0))
            continue;
        long long baseQuantity = m.inPeriod, baseSt = m.stInPeriod;
        std::optional<std::string> from;
        if (m.inPeriod == 0) {
            baseQuantity = 0;
            for (const auto &[other, o] : months)
                if (std::get<0>(other) == registration && std::get<1>(other) == product && std::get<2>(other) < month &&
                    o.entered > 0) {
                    from = std::get<2>(other);  // the map is in month order: the last one stays
                    baseQuantity = o.entered;
                    baseSt = o.stEntered;
                }
        }
        const bool priced = baseQuantity != 0;
        if (!priced && m.inPeriod == 0 && m.sentOut == m.asSubstitute)
            continue;  // only sold as the substitute: its own substitution
        const Product *p = nullptr;
        if (auto it = products_.find(product); it != products_.end())
            p = &it->second;
        std::optional<std::string> state;
        for (const auto &r : registrations_)
            if (r[0] == in.company && r[1] == registration)
                state = r[2];
        // ST per unit with 4 decimals (cents per thousandth, scaled); the
        // refund from the exact average, rounded once.
        const Cell average = priced ? Cell::Amount(divideRounded(baseSt * 100000, baseQuantity), 4) : Cell::Of(std::nullopt);
        const Cell refund = priced ? money(divideRounded(m.sentOut * baseSt, baseQuantity)) : Cell::Of(std::nullopt);
        const std::optional<std::string> note =
            !priced ? std::optional<std::string>("Sem entrada com ST: valor não calculado")
            : from  ? std::optional<std::string>("Média do último mês com entradas com ST")
                    : std::nullopt;
        const auto at = std::make_tuple(registration, p ? p->tree : "", product, month);
        byOrder[at] = {text(registration.empty() ? "Sem inscrição estadual" : registration), Cell::Of(state), text(month),
                       Cell::Of(p ? std::optional(p->tree) : std::nullopt), Cell::Of(p ? p->name : std::nullopt),
                       quantity(m.inPeriod), money(m.stInPeriod), average, Cell::Of(from),
                       quantity(priced ? m.sentOut : m.sentOut - m.asSubstitute), refund,
                       Cell::Of(note)};
    }
    for (auto &[at, row] : byOrder)
        rows.push_back(std::move(row));
    return rows;
}

std::vector<ModelRow> FiscalModel::StateRegistrationMap(const ReportInputs &in) const
{
    // ICMS-ST lives in the ICMS row; what is retained is owed to the state of
    // each exit, and the ST paid on purchases is no credit against it.
    const bool st = in.tax == "06";
    struct Sums {
        long long valueIn = 0, baseIn = 0, credit = 0, stPaid = 0, valueOut = 0, baseOut = 0, debit = 0;
    };
    using Key = std::pair<std::optional<std::string>, std::optional<std::string>>;  // registration, state owed
    std::map<Key, Sums> lines;
    for (const Item &i : items_) {
        const Doc &d = docs_.at(i.doc);
        if (!counted(d, in))
            continue;
        if (!d.registration && !in.registration.empty())
            continue;
        std::optional<std::string> owed;
        if (st) {
            owed = d.uf;
            if (!(d.side == "S" && !i.cfop.empty() && i.cfop[0] == '6'))
                for (const auto &r : registrations_)
                    if (r[0] == d.company && d.registration && r[1] == d.registration && r[2])
                        owed = r[2];
        }
        Sums &s = lines[{d.registration, owed}];
        const ItemSplit x = splitOf(i, in.tax);
        if (d.side == "E") {
            s.valueIn += i.value;
            s.baseIn += x.base;
            (st ? s.stPaid : s.credit) += x.tax;
        } else {
            s.valueOut += i.value;
            s.baseOut += x.base;
            s.debit += x.tax;
        }
    }
    std::map<std::string, std::optional<std::string>> registrations;  // sorted by code
    for (const auto &r : registrations_)
        if (r[0] == in.company && r[1] && (in.registration.empty() || *r[1] == in.registration))
            registrations[*r[1]] = r[2];
    std::vector<ModelRow> rows;
    auto line = [&](const std::string &code, const std::optional<std::string> &state,
                    const std::optional<std::string> &owed, const Sums &s, bool registered) {
        const char *situation = !registered             ? "fora da apuração"
                                : s.debit > s.credit ? "saldo devedor"
                                : s.debit < s.credit ? "saldo credor"
                                                     : "sem saldo";
        rows.push_back({text(code), Cell::Of(state), Cell::Of(owed), money(s.valueIn), money(s.baseIn),
                        money(s.credit), money(s.stPaid), money(s.valueOut), money(s.baseOut), money(s.debit),
                        registered ? money(s.debit - s.credit) : Cell::Of(std::nullopt), text(situation)});
    };
    for (const auto &[code, state] : registrations) {
        bool any = false;
        for (const auto &[key, s] : lines)
            if (key.first == code) {
                line(code, state, key.second, s, true);
                any = true;
            }
        if (!any)
            line(code, state, st ? state : std::nullopt, Sums{}, true);
    }
    for (const auto &[key, s] : lines)
        if (!key.first)
            line("Sem inscrição estadual", std::nullopt, key.second, s, false);
    return rows;
}

FiscalModel::Totals FiscalModel::CountedItems(const ReportInputs &in, char side, bool withProductRange,
                                              bool withCfop) const
{
    Totals t;
    for (const Item &i : items_) {
        const Doc &d = docs_.at(i.doc);
        if (!counted(d, in) || d.side != std::string(1, side) || !registrationsMatch(d, in))
            continue;
        if ((withProductRange && !productInRange(i, in)) || (withCfop && !in.cfop.empty() && i.cfop != in.cfop))
            continue;
        const ItemSplit x = splitOf(i, in.tax);
        t.value += x.value;
        t.base += x.base;
        t.tax += x.tax;
    }
    return t;
}

std::vector<ModelRow> FiscalModel::Contradictions(const ReportInputs &in) const
{
    struct Line {
        const Doc *doc;
        std::optional<std::string> cfop;
        std::string reason;
    };
    std::vector<Line> lines;
    std::set<long> withItems;
    auto stateOf = [&](const Doc &d) -> std::optional<std::string> {
        if (auto b = branchStates_.find(d.branch); b != branchStates_.end())
            return b->second;
        for (const auto &r : registrations_)
            if (r[0] == d.company && d.registration && r[1] == d.registration)
                return r[2];
        return std::nullopt;
    };
    for (const Item &i : items_) {
        const Doc &d = docs_.at(i.doc);
        withItems.insert(d.key);
        if (!counted(d, in))
            continue;
        const char first = i.cfop.empty() ? ' ' : i.cfop[0];
        const bool exitCfop = first == '5' || first == '6' || first == '7';
        if (d.side == "E" && exitCfop)
            lines.push_back({&d, i.cfop, "CFOP de saída em documento de entrada"});
        if (d.side == "S" && (first == '1' || first == '2' || first == '3'))
            lines.push_back({&d, i.cfop, "CFOP de entrada em documento de saída"});
        const std::optional<std::string> own = stateOf(d);
        const char o = first == '1' || first == '5' ? '1' : first == '2' || first == '6' ? '2'
                     : first == '3' || first == '7' ? '3' : ' ';
        if (d.uf) {
            if (o == '1' && own && *d.uf != *own)
                lines.push_back({&d, i.cfop, "CFOP de operação interna com participante de outra UF"});
            else if (o == '2' && *d.uf == "EX")
                lines.push_back({&d, i.cfop, "CFOP interestadual com participante do exterior"});
            else if (o == '2' && own && *d.uf == *own)
                lines.push_back({&d, i.cfop, "CFOP interestadual com participante da mesma UF"});
            else if (o == '3' && *d.uf != "EX")
                lines.push_back({&d, i.cfop, "CFOP de operação com o exterior com participante no país"});
        }
        if (!cfops_.count(i.cfop))
            lines.push_back({&d, i.cfop, validFirstDigit(i.cfop)
                                             ? "CFOP não cadastrado na tabela de CFOP"
                                             : "CFOP inexistente: o primeiro dígito não é 1, 2, 3, 5, 6 nem 7"});
        if (splitOf(i, in.tax).rest < 0)
            lines.push_back({&d, i.cfop, "Base, isentas, outras, IPI e ST somam mais que o Valor Contábil"});
        const Tax *icms = taxOf(i, "01");
        if (d.side == "E" && icms && icms->tax > 0) {
            if (i.cfop == "1403" || i.cfop == "2403" || i.cfop == "1409" || i.cfop == "2409")
                lines.push_back({&d, i.cfop, "ICMS creditado em entrada sujeita a substituição tributária"});
            if (!d.registration)
                lines.push_back({&d, std::nullopt, "Crédito de ICMS em documento sem inscrição estadual"});
            const auto activity = activities_.find(d.company);
            const bool energy = i.cfop.size() == 4 && (i.cfop[0] == '1' || i.cfop[0] == '2') && i.cfop.compare(1, 2, "25") == 0 &&
                                i.cfop[3] >= '1' && i.cfop[3] <= '7';
            if (energy && activity != activities_.end() && activity->second != "I" && activity->second != "E")
                lines.push_back({&d, i.cfop, "Crédito de energia elétrica que a atividade não permite (LC 87/96, art. 33, II)"});
        }
    }
    for (const auto &[key, d] : docs_) {
        if (!counted(d, in))
            continue;
        if (!withItems.count(key))
            lines.push_back({&d, std::nullopt, "Documento sem itens"});
        auto branch = branchStates_.find(d.branch);
        if (branch == branchStates_.end() || !d.registration)
            continue;
        for (const auto &r : registrations_)
            if (r[0] == d.company && r[1] == d.registration && r[2] && *r[2] != branch->second)
                lines.push_back({&d, std::nullopt, "Inscrição estadual de outra UF que a da filial"});
    }
    auto order = [](const Line &l) {
        return std::make_tuple(l.doc->booked, l.doc->number, l.doc->key, l.reason, l.cfop.value_or(""));
    };
    std::sort(lines.begin(), lines.end(), [&](const Line &a, const Line &b) { return order(a) < order(b); });
    lines.erase(std::unique(lines.begin(), lines.end(), [&](const Line &a, const Line &b) { return order(a) == order(b); }),
                lines.end());
    std::vector<ModelRow> rows;
    for (const Line &l : lines)
        rows.push_back({text(l.doc->booked), Cell::Amount(l.doc->number, 0), text(l.doc->series), text(l.doc->side),
                        Cell::Of(l.cfop), text(l.reason), Cell::Amount(l.doc->key, 0)});
    return rows;
}
