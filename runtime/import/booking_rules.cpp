// The booking's rules that need no database: who books a document, its
// CFOPs, its values, its tax rows and its own row.
#include "import/booking.h"

#include <algorithm>
#include <cctype>
#include <numeric>
#include <string_view>

using Values = ImportConnection::Values;

std::string RegistrationKey(const std::string &s)
{
    std::string out;
    for (char c : s)
        if (std::isalnum(static_cast<unsigned char>(c)))
            out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string ClipText(const std::string &s, std::size_t chars)
{
    std::size_t i = 0, n = 0;
    while (i < s.size() && n < chars) {
        const auto c = static_cast<unsigned char>(s[i]);
        i += c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        ++n;
    }
    return s.substr(0, std::min(i, s.size()));
}

std::vector<Registration> LoadRegistrations(ImportConnection &db)
{
    std::vector<Registration> out;
    for (const Values &row :
         db.Select(db.Prepare("SELECT CDEMPRESA, CDINSCESTA, SGESTADO, NRINSJURIEST, CDFILIAL FROM INSCRESTAD"), {}))
        if (row[0] && row[1])
            out.push_back({*row[0], *row[1], row[2].value_or(""), RegistrationKey(*row[1]), RegistrationKey(row[3].value_or("")),
                           Trim(row[4].value_or(""))});
    return out;
}

namespace {

std::vector<const Registration *> matching(const FiscalParty &p, const std::vector<Registration> &registered)
{
    std::vector<const Registration *> out;
    const std::string key = RegistrationKey(p.registration);
    if (key.empty() || key == "ISENTO")
        return out;
    for (const Registration &r : registered)
        if (r.key == key && r.state == p.state)
            out.push_back(&r);
    return out;
}

std::string describe(const FiscalDocument &d)
{
    auto ie = [](const FiscalParty &p) { return (p.registration.empty() ? "(nenhuma)" : p.registration) + "/" + p.state; };
    std::string s = "emitente IE " + ie(d.issuer);
    if (d.recipient)
        s += ", destinatário IE " + ie(*d.recipient);
    return s;
}

} // namespace

std::optional<BookingRefusal> FindOwner(const FiscalDocument &d, const std::vector<Registration> &registered, Owner &owner)
{
    const std::vector<const Registration *> issuer = matching(d.issuer, registered);
    const std::vector<const Registration *> recipient =
        d.recipient ? matching(*d.recipient, registered) : std::vector<const Registration *>();
    if (issuer.empty() && recipient.empty())
        return BookingRefusal{DocumentField::Registration, 0, "documento de nenhuma empresa cadastrada (" + describe(d) + ")"};
    if (issuer.size() + recipient.size() > 1)
        return BookingRefusal{DocumentField::Registration, 0,
                              "documento de mais de uma inscrição cadastrada (" + describe(d) + ")"};
    owner.issued = !issuer.empty();
    owner.registration = owner.issued ? issuer[0] : recipient[0];
    if (!owner.issued && d.header.direction == Direction::Entry)
        return BookingRefusal{DocumentField::Direction, 0,
                              "nota de entrada emitida por terceiro: a operação é registrada por quem a emitiu"};
    owner.side = owner.issued && d.header.direction == Direction::Exit ? 'S' : 'E';
    return std::nullopt;
}

CfopConversions LoadCfopConversions(ImportConnection &db)
{
    CfopConversions out;
    for (const Values &row : db.Select(db.Prepare("SELECT CDCFOPSAIDA, CDCFOPENTRADA FROM CFOPCONVERSAO"), {}))
        if (row[0] && row[1])
            out[*row[0]] = *row[1];
    return out;
}

std::optional<BookingRefusal> BookedCfops(const FiscalDocument &d, const Owner &owner, const CfopConversions &conversions,
                                          std::vector<std::string> &cfops)
{
    // The company's own CFOPs must agree with its side; an issuer's exit
    // CFOPs are converted.
    const bool companys = owner.issued || d.codesFrom == CodesFrom::Company;
    cfops.clear();
    for (const FiscalItem &it : d.items) {
        const std::string &cfop = it.cfop;
        if (cfop.size() != 4 || !std::all_of(cfop.begin(), cfop.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
            std::string_view("123567").find(cfop[0]) == std::string_view::npos)
            return BookingRefusal{DocumentField::ItemCfop, it.number, "CFOP inválido ('" + cfop + "')"};
        const bool entryCode = cfop[0] <= '3';
        if (companys ? entryCode != (owner.side == 'E') : entryCode)
            return BookingRefusal{DocumentField::ItemCfop, it.number,
                                  "CFOP " + cfop + (entryCode ? " de entrada em documento de saída" : " de saída em documento de entrada")};
        if (companys) {
            cfops.push_back(cfop);
        } else if (auto c = conversions.find(cfop); c != conversions.end()) {
            cfops.push_back(c->second);
        } else {
            cfops.push_back(std::string(1, static_cast<char>(cfop[0] - 4)) + cfop.substr(1));
        }
    }
    return std::nullopt;
}

Cents SpreadTolerance(Cents itemsTotal) { return std::max<Cents>(100, (itemsTotal < 0 ? -itemsTotal : itemsTotal) / 4); }

namespace {


// An import whose total leaves out the II its items carry: the items stay as
// stated and each CFOP gets a line taking its II away.
bool importWithoutIi(const FiscalDocument &d, Cents itemsTotal, BookedAmounts &a)
{
    Cents ii = 0;
    for (const FiscalItem &it : d.items) {
        if (it.cfop.empty() || it.cfop[0] != '3')
            return false;
        ii += it.importTax;
    }
    if (ii <= 0 || itemsTotal - ii != d.total)
        return false;
    for (std::size_t i = 0; i < d.items.size(); ++i) {
        if (d.items[i].importTax == 0)
            continue;
        auto same = std::find_if(a.adjustments.begin(), a.adjustments.end(),
                                 [&](const BookedAmounts::Adjustment &x) { return d.items[x.item].cfop == d.items[i].cfop; });
        if (same == a.adjustments.end())
            a.adjustments.push_back({i, -d.items[i].importTax});
        else
            same->value -= d.items[i].importTax;
    }
    return true;
}

} // namespace

std::optional<BookingRefusal> BookedValues(const FiscalDocument &d, BookedAmounts &a)
{
    a.values.clear();
    a.adjustments.clear();
    a.spread = false;
    for (const FiscalItem &it : d.items)
        a.values.push_back(it.accountingValue);
    a.itemsTotal = std::accumulate(a.values.begin(), a.values.end(), Cents(0));
    if (a.itemsTotal == d.total || importWithoutIi(d, a.itemsTotal, a))
        return std::nullopt;
    const Cents difference = d.total - a.itemsTotal;
    if ((difference < 0 ? -difference : difference) > SpreadTolerance(a.itemsTotal))
        return BookingRefusal{DocumentField::Total, 0,
                              "total do documento (R$ " + BrlText(d.total) + ") difere da soma dos itens (R$ " + BrlText(a.itemsTotal) +
                                  ") além da tolerância de R$ " + BrlText(SpreadTolerance(a.itemsTotal)) +
                                  " (o maior entre R$ 1,00 e 25% dos itens)"};
    std::vector<Cents> shares;
    SpreadDifference(difference, a.values, shares);
    for (std::size_t i = 0; i < a.values.size(); ++i)
        a.values[i] += shares[i];
    a.spread = true;
    return std::nullopt;
}

namespace {

// YYYY-MM-DD of a real day.
bool realDay(const std::string &d)
{
    if (d.size() != 10 || d[4] != '-' || d[7] != '-')
        return false;
    for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (d[i] < '0' || d[i] > '9')
            return false;
    const int y = std::stoi(d.substr(0, 4)), m = std::stoi(d.substr(5, 2)), dd = std::stoi(d.substr(8, 2));
    static const int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return y >= 1900 && m >= 1 && m <= 12 && dd >= 1 && dd <= (m == 2 && !leap ? 28 : days[m - 1]);
}

} // namespace

std::optional<EntryDate> ParseEntryDate(const std::string &text)
{
    std::string t;
    for (char c : text)
        t += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (t == "exit" || t == "saida" || t == "saída")
        return EntryDate{EntryDateRule::Exit, {}};
    if (t == "issue" || t == "emissao" || t == "emissão")
        return EntryDate{EntryDateRule::Issue, {}};
    std::string day = t;
    if (t.size() == 10 && t[2] == '/' && t[5] == '/')
        day = t.substr(6, 4) + "-" + t.substr(3, 2) + "-" + t.substr(0, 2);
    if (!realDay(day))
        return std::nullopt;
    return EntryDate{EntryDateRule::Fixed, day};
}

std::optional<BookingRefusal> BookingDate(const FiscalDocument &d, const Owner &owner, const EntryDate &entry,
                                          std::string &day)
{
    const FiscalHeader &h = d.header;
    const std::string stated = h.moveDate.empty() ? h.issueDate : h.moveDate;
    if (owner.issued || entry.rule == EntryDateRule::Exit)
        day = stated;
    else if (entry.rule == EntryDateRule::Issue)
        day = h.issueDate;
    else
        day = entry.day;
    // Days compare as text: YYYY-MM-DD. Only the person's day can be wrong.
    if (!owner.issued && entry.rule == EntryDateRule::Fixed && day < h.issueDate)
        return BookingRefusal{DocumentField::EntryDate, 0,
                              "data de entrada (" + day + ") anterior à emissão (" + h.issueDate + ")"};
    return std::nullopt;
}

bool WithoutIcmsCredit(const std::string &cfop)
{
    return cfop == "1403" || cfop == "2403" || cfop == "1409" || cfop == "2409";
}

namespace {

// Base, rate and tax as the document states them, the ST apart, and what
// remains of the item's value (less its IPI and ST) exempt or other by the
// situation.
TaxRow icmsRow(const FiscalTax *icms, const FiscalTax *st, Cents value, Cents ipi, bool noCredit)
{
    TaxRow r{TaxTableCode(TaxCode::Icms)};
    if (st) {
        r.stBase = st->base;
        r.stValue = st->value;
    }
    const Cents operation = std::max<Cents>(0, value - ipi - r.stValue);
    if (icms && !icms->cst.empty())
        r.cst = icms->origin + icms->cst;
    if (noCredit || !icms) {
        r.other = operation;
        return r;
    }
    r.base = icms->base;
    r.rate = icms->rate;
    r.value = icms->value;
    const Cents rest = std::max<Cents>(0, operation - icms->base);
    const std::string &cst = icms->cst;
    if (cst.size() == 2 && (cst == "30" || cst == "40" || cst == "41" || cst == "20" || cst == "70"))
        r.exempt = rest;
    else
        r.other = rest;
    return r;
}

} // namespace

void TaxRowsOf(const FiscalItem &item, Cents value, bool noIcmsCredit, std::vector<TaxRow> &rows)
{
    const FiscalTax *icms = item.Tax(TaxCode::Icms), *st = item.Tax(TaxCode::IcmsSt), *ipi = item.Tax(TaxCode::Ipi),
                    *iss = item.Tax(TaxCode::Iss);
    const Cents stValue = st ? st->value : 0;
    if (icms || st)
        rows.push_back(icmsRow(icms, st, value, ipi ? ipi->value : 0, noIcmsCredit));
    if (ipi) {
        TaxRow r{TaxTableCode(TaxCode::Ipi)};
        r.cst = ipi->cst;
        if (ipi->levied) {
            r.base = ipi->base;
            r.rate = ipi->rate;
            r.value = ipi->value;
            r.other = std::max<Cents>(0, value - stValue - ipi->value - ipi->base);
        } else {
            r.exempt = std::max<Cents>(0, value - stValue);
        }
        rows.push_back(r);
    }
    if (iss) {
        TaxRow r{TaxTableCode(TaxCode::Iss)};
        r.base = iss->base;
        r.rate = iss->rate;
        r.value = iss->value;
        r.other = std::max<Cents>(0, value - iss->base);
        rows.push_back(r);
    }
}

MunicipalRegistrations LoadMunicipalRegistrations(ImportConnection &db)
{
    MunicipalRegistrations out;
    for (const Values &row : db.Select(db.Prepare("SELECT CDEMPRESA, CDINSCMUNI FROM INSCRMUNICIP"), {}))
        if (row[0] && row[1])
            out.insert(*row[0] + '\x1f' + RegistrationKey(*row[1]));
    return out;
}

const char *SituationCode(bool cancelled) { return cancelled ? "C" : "N"; }

namespace {

// A CNPJ or CPF as written; none for a foreign id or a party abroad.
std::optional<std::string> taxIdOf(const FiscalParty &p)
{
    const std::string &d = p.document;
    if (p.state == "EX" || (d.size() != 11 && d.size() != 14) ||
        !std::all_of(d.begin(), d.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return d;
}

// A recipient exempt of registration is listed as such; one who is no
// contributor has no registration in the books, whatever it states.
std::optional<std::string> registrationOf(const FiscalParty &p)
{
    if (p.contributor == '9')
        return std::nullopt;
    if (p.contributor == '2')
        return "ISENTO";
    if (p.registration.empty())
        return std::nullopt;
    return ClipText(p.registration, 20);
}

} // namespace

BookedHeader HeaderOf(const FiscalDocument &d, const Owner &owner, const MunicipalRegistrations &municipal)
{
    const Registration &reg = *owner.registration;
    const FiscalHeader &h = d.header;
    BookedHeader b;
    b.company = reg.company;
    b.side = std::string(1, owner.side);
    b.series = ClipText(h.series, 5);
    b.number = std::to_string(h.number);
    b.model = h.model;
    b.operation = h.purpose == Purpose::Return ? "02" : "01";
    b.issueDate = h.issueDate;
    b.moveDate = h.moveDate.empty() ? h.issueDate : h.moveDate;
    b.registration = reg.registration;
    if (!reg.branch.empty())
        b.branch = reg.branch;
    if (owner.issued && !d.issuer.municipalRegistration.empty() &&
        municipal.count(reg.company + '\x1f' + RegistrationKey(d.issuer.municipalRegistration)))
        b.municipal = d.issuer.municipalRegistration;
    std::string name, state;
    if (const FiscalParty *other = !owner.issued ? &d.issuer : d.recipient ? &*d.recipient : nullptr) {
        b.participantDocument = taxIdOf(*other);
        b.participantRegistration = registrationOf(*other);
    }
    if (!owner.issued) {
        name = d.issuer.name;
        state = d.issuer.state;
    } else if (d.recipient) {
        name = d.recipient->name;
        state = d.recipient->state.empty() ? reg.state : d.recipient->state;
    } else {
        name = "Consumidor não identificado";
        state = reg.state;
    }
    if (!name.empty())
        b.participant = ClipText(name, 60);
    b.state = ClipText(state, 2);
    b.situation = SituationCode(h.situation != Situation::Regular);
    return b;
}

std::string IdentityText(const FiscalHeader &h)
{
    return "modelo " + h.model + ", série " + h.series + ", número " + std::to_string(h.number);
}
