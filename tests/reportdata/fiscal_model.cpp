#include "fiscal_model.h"

#include <algorithm>
#include <cmath>
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

char origin(const std::string &cfop)
{
    switch (cfop.empty() ? ' ' : cfop[0]) {
    case '1': case '5': return '1';
    case '2': case '6': return '2';
    default: return '3';
    }
}
const char *originName(char o)
{
    return o == '1' ? "Do Estado" : o == '2' ? "De Outros Estados" : "Do Exterior";
}
Cell money(long long cents) { return Cell::Amount(cents, 2); }
Cell quantity(long long thousandths) { return Cell::Amount(thousandths, 3); }
Cell text(std::string t) { return Cell::Of(std::move(t)); }
} // namespace

FiscalModel::FiscalModel(DatabaseSession &db)
{
    for (const auto &r : db.Query("SELECT CDNOTAFISC, CDEMPRESA, CDFILIAL, IDENTRSAIDA, CDSERIE, NRNOTAFISC, "
                                  "CDMODDOCFISC, CDTIPOOPER, DTENTRSAIDA, CDINSCESTA, CDINSCMUNI, NMPARTICIPANTE, "
                                  "SGUF, IDSITUACAO FROM NOTAFISCAL",
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
        docs_[d.key] = d;
    }
    for (const auto &r : db.Query("SELECT CDNOTAFISC, NRITEM, CDPRODUTO, CDCFOP, QTITEM, VLCONTABIL FROM ITEMNOTAFISC",
                                  {})
                             .rows)
        items_.push_back({number(r[0]), number(r[1]), str(r[2]), str(r[3]), scaled(r[4], 3), scaled(r[5], 2)});
    std::sort(items_.begin(), items_.end(),
              [](const Item &a, const Item &b) { return std::tie(a.doc, a.nr) < std::tie(b.doc, b.nr); });
    for (const auto &r : db.Query("SELECT CDNOTAFISC, NRITEM, CDIMPOSTONFE, VLBASECALC, VLIMPOSTO, VLISENTO, VLOUTROS, "
                                  "VLBASEST, VLIMPOSTOST FROM IMPOSTOITEMNF",
                                  {})
                             .rows)
        taxes_[{number(r[0]), number(r[1]), str(r[2])}] = {scaled(r[3], 2), scaled(r[4], 2), scaled(r[5], 2),
                                                           scaled(r[6], 2), scaled(r[7], 2), scaled(r[8], 2)};
    for (const auto &r : db.Query("SELECT CDPRODUTO, CDARVPROD, NMPRODUTO FROM PRODUTO", {}).rows)
        products_[str(r[0])] = {str(r[1]), r[2]};
    for (const auto &r : db.Query("SELECT CDCFOP, DSCFOP FROM CFOP", {}).rows)
        cfops_[str(r[0])] = str(r[1]);
    registrations_ = db.Query("SELECT CDEMPRESA, CDINSCESTA, SGESTADO FROM INSCRESTAD", {}).rows;
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

std::vector<ModelRow> FiscalModel::CfopSummary(const ReportInputs &in) const
{
    struct Sums {
        long long value = 0, base = 0, tax = 0, exempt = 0, other = 0, baseSt = 0, st = 0;
    };
    std::map<std::tuple<std::string, char, std::string>, Sums> groups;  // side, origin, CFOP
    for (const Item &i : items_) {
        const Doc &d = docs_.at(i.doc);
        if (!counted(d, in) || !sideMatches(d, in) || !registrationsMatch(d, in))
            continue;
        if (!in.cfop.empty() && i.cfop != in.cfop)
            continue;
        Sums &s = groups[{d.side, origin(i.cfop), i.cfop}];
        s.value += i.value;
        if (const Tax *t = taxOf(i, in.tax)) {
            s.base += t->base;
            s.tax += t->tax;
            s.exempt += t->exempt;
            s.other += t->other;
            s.baseSt += t->baseSt;
            s.st += t->st;
        }
    }
    std::vector<ModelRow> rows;
    for (const auto &[key, s] : groups) {
        const auto &[side, o, cfop] = key;
        auto description = cfops_.find(cfop);
        rows.push_back({text(side), text(side == "E" ? "Entradas" : "Saídas"), text(std::string(1, o)),
                        text(originName(o)), text(cfop),
                        Cell::Of(description == cfops_.end() ? std::nullopt : std::optional(description->second)),
                        money(s.value), money(s.base), money(s.tax), money(s.exempt), money(s.other), money(s.baseSt),
                        money(s.st)});
    }
    return rows;
}

std::vector<ModelRow> FiscalModel::CfopProducts(const ReportInputs &in) const
{
    struct Sums {
        std::optional<std::string> name;
        long long quantity = 0, value = 0, base = 0, tax = 0;
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
        Sums &s = groups[{d.side, origin(i.cfop), i.cfop, p ? p->tree : ""}];
        s.name = p ? p->name : std::nullopt;
        s.quantity += i.quantity;
        s.value += i.value;
        if (const Tax *t = taxOf(i, in.tax)) {
            s.base += t->base;
            s.tax += t->tax;
        }
    }
    std::vector<ModelRow> rows;
    for (const auto &[key, s] : groups) {
        const auto &[side, o, cfop, tree] = key;
        auto description = cfops_.find(cfop);
        rows.push_back({text(side), text(side == "E" ? "Entradas" : "Saídas"), text(std::string(1, o)),
                        text(originName(o)), text(cfop),
                        Cell::Of(description == cfops_.end() ? std::nullopt : std::optional(description->second)),
                        text(tree), Cell::Of(s.name), quantity(s.quantity), money(s.value), money(s.base),
                        money(s.tax)});
    }
    return rows;
}

std::vector<ModelRow> FiscalModel::InvoiceList(const ReportInputs &in) const
{
    struct Sums {
        long long value = 0, base = 0, tax = 0;
    };
    std::map<long, Sums> perDoc;
    for (const Item &i : items_) {
        const Doc &d = docs_.at(i.doc);
        if (!counted(d, in) || !sideMatches(d, in) || !registrationsMatch(d, in) || !productInRange(i, in))
            continue;
        if (!in.branch.empty() && d.branch != in.branch)
            continue;
        if (!in.operationTypes.empty() && !inList(in.operationTypes, d.side + d.type))
            continue;
        if (!in.models.empty() && !inList(in.models, d.model))
            continue;
        Sums &s = perDoc[d.key];
        s.value += i.value;
        if (const Tax *t = taxOf(i, in.tax)) {
            s.base += t->base;
            s.tax += t->tax;
        }
    }
    std::vector<const Doc *> order;
    for (const auto &entry : perDoc)
        order.push_back(&docs_.at(entry.first));
    std::sort(order.begin(), order.end(), [](const Doc *a, const Doc *b) {
        return std::tie(a->booked, a->number, a->key) < std::tie(b->booked, b->number, b->key);
    });
    std::vector<ModelRow> rows;
    for (const Doc *d : order) {
        const Sums &s = perDoc.at(d->key);
        rows.push_back({text(d->booked), Cell::Amount(d->number, 0), text(d->series), text(d->model), text(d->side),
                        text(d->type), text(d->branch), Cell::Of(d->participant), Cell::Of(d->uf), money(s.value),
                        money(s.base), money(s.tax)});
    }
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
    std::map<std::tuple<std::string, std::string, long, long, std::string>, Line> lines;  // tree, date, number, key, CFOP
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
        const Tax *t = taxOf(i, in.tax);
        if (!t || (t->baseSt == 0 && t->st == 0))
            continue;
        const Product *p = productOf(i);
        const std::string tree = p ? p->tree : "";
        Line &l = lines[{tree, d.booked, d.number, d.key, i.cfop}];
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
        rows.push_back({text(l.tree), Cell::Of(l.name), text(l.doc->booked), Cell::Amount(l.doc->number, 0),
                        text(l.doc->series), Cell::Of(l.doc->participant), Cell::Of(l.doc->uf), text(l.cfop),
                        quantity(l.quantity), money(l.baseSt), money(l.st)});
    return rows;
}

std::vector<ModelRow> FiscalModel::StRefund(const ReportInputs &in) const
{
    struct Sums {
        std::optional<std::string> name;
        long long entered = 0, stEntered = 0, sentOut = 0;
    };
    std::map<std::string, Sums> perProduct;
    for (const Item &i : items_) {
        const Doc &d = docs_.at(i.doc);
        // Both sides make the refund, whatever the entry/exit choice says.
        if (!counted(d, in) || !productInRange(i, in))
            continue;
        if (!in.registration.empty() && d.registration != in.registration)
            continue;
        if (!in.operationTypes.empty() && !inList(in.operationTypes, d.side + d.type))
            continue;
        const Product *p = productOf(i);
        Sums &s = perProduct[p ? p->tree : ""];
        s.name = p ? p->name : std::nullopt;
        const Tax *t = taxOf(i, in.tax);
        if (d.side == "E" && t && t->st != 0) {
            s.entered += i.quantity;
            s.stEntered += t->st;
        }
        if (d.side == "S" && !i.cfop.empty() && i.cfop[0] == '6')
            s.sentOut += i.quantity;
    }
    std::vector<ModelRow> rows;
    for (const auto &[tree, s] : perProduct) {
        if (s.entered == 0 && s.sentOut == 0)
            continue;
        // ST per unit with 4 decimals: cents per thousandth of a unit, scaled.
        const long long average = s.entered == 0 ? 0 : divideRounded(s.stEntered * 100000, s.entered);
        const long long refund = divideRounded(s.sentOut * average, 100000);
        rows.push_back({text(tree), Cell::Of(s.name), quantity(s.entered), money(s.stEntered),
                        Cell::Amount(average, 4), quantity(s.sentOut), money(refund)});
    }
    return rows;
}

std::vector<ModelRow> FiscalModel::StateRegistrationMap(const ReportInputs &in) const
{
    struct Sums {
        long long valueIn = 0, baseIn = 0, credit = 0, valueOut = 0, baseOut = 0, debit = 0;
    };
    std::map<std::string, Sums> perRegistration;
    for (const Item &i : items_) {
        const Doc &d = docs_.at(i.doc);
        if (!counted(d, in) || !d.registration)
            continue;
        Sums &s = perRegistration[*d.registration];
        const Tax *t = taxOf(i, in.tax);
        if (d.side == "E") {
            s.valueIn += i.value;
            s.baseIn += t ? t->base : 0;
            s.credit += t ? t->tax : 0;
        } else {
            s.valueOut += i.value;
            s.baseOut += t ? t->base : 0;
            s.debit += t ? t->tax : 0;
        }
    }
    std::map<std::string, std::optional<std::string>> registrations;  // sorted by code
    for (const auto &r : registrations_)
        if (r[0] == in.company && r[1] && (in.registration.empty() || *r[1] == in.registration))
            registrations[*r[1]] = r[2];
    std::vector<ModelRow> rows;
    for (const auto &[code, state] : registrations) {
        const Sums s = perRegistration.count(code) ? perRegistration.at(code) : Sums{};
        rows.push_back({text(code), Cell::Of(state), money(s.valueIn), money(s.baseIn), money(s.credit),
                        money(s.valueOut), money(s.baseOut), money(s.debit), money(s.debit - s.credit),
                        text(s.debit > s.credit ? "a recolher" : "saldo credor")});
    }
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
        t.value += i.value;
        if (const Tax *x = taxOf(i, in.tax)) {
            t.base += x->base;
            t.tax += x->tax;
        }
    }
    return t;
}
