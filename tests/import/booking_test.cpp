// The booking's rules without a database, on neutral documents: who books
// one, the CFOPs it is booked under, and the tax rows of what an invoice
// seldom states (ST without own ICMS, IPI not levied, an analytical line).
#include "import/booking.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

const std::vector<Registration> kRegistered = {
    {"01", "110042490114", "SP", "110042490114", "", ""},
    {"02", "244123456119", "SP", "244123456119", "", ""},
    {"03", "11.004.249-0114", "RJ", "110042490114", "", ""},  // company 01's number, in another state
};

FiscalParty party(const std::string &ie, const std::string &uf = "SP") { return {"11222333000181", "Alguém", ie, "", uf}; }

FiscalDocument document(const std::string &issuerIe, const std::string &recipientIe, Direction direction = Direction::Exit)
{
    FiscalDocument d;
    d.header.direction = direction;
    d.issuer = party(issuerIe);
    if (!recipientIe.empty())
        d.recipient = party(recipientIe);
    return d;
}

TEST(BookingOwner, TheOneRegistrationADocumentCarriesBooksIt)
{
    FiscalDocument abroad = document("999", "110042490114");
    abroad.issuer.state = "EX";
    FiscalDocument otherState = document("110042490114", "");
    otherState.issuer.state = "RJ";
    struct Row {
        const char *name;
        FiscalDocument doc;
        const char *company;  // empty: refused
        bool issued;
        char side;
        DocumentField field;
        const char *reason;
    } rows[] = {
        {"own exit", document("110042490114", "999"), "01", true, 'S', {}, ""},
        {"own entry", document("110.042.490.114", "999", Direction::Entry), "01", true, 'E', {}, ""},
        {"received", document("999", "244123456119"), "02", false, 'E', {}, ""},
        {"received from abroad", abroad, "01", false, 'E', {}, ""},
        {"the same number in its own state", otherState, "03", true, 'S', {}, ""},
        {"nobody's", document("999", "888"), "", false, 0, DocumentField::Registration, "nenhuma empresa cadastrada"},
        {"exempt is no registration", document("ISENTO", "isento"), "", false, 0, DocumentField::Registration,
         "nenhuma empresa cadastrada"},
        {"between two companies", document("110042490114", "244123456119"), "", false, 0, DocumentField::Registration,
         "mais de uma inscrição"},
        {"a third party's entry", document("999", "244123456119", Direction::Entry), "", false, 0, DocumentField::Direction,
         "nota de entrada emitida por terceiro"},
    };
    for (const Row &r : rows) {
        Owner owner;
        const auto refusal = FindOwner(r.doc, kRegistered, owner);
        if (*r.company) {
            ASSERT_FALSE(refusal) << r.name << ": " << refusal->reason;
            EXPECT_EQ(owner.registration->company, r.company) << r.name;
            EXPECT_EQ(owner.issued, r.issued) << r.name;
            EXPECT_EQ(owner.side, r.side) << r.name;
        } else {
            ASSERT_TRUE(refusal) << r.name;
            EXPECT_EQ(refusal->field, r.field) << r.name;
            EXPECT_NE(refusal->reason.find(r.reason), std::string::npos) << r.name << ": " << refusal->reason;
        }
    }
}

TEST(BookingCfops, AnInvoiceReceivedIsConvertedTheCompanysOwnAreKept)
{
    const CfopConversions conversions = {{"5405", "1403"}, {"5101", "1102"}};
    const Registration reg{"01", "1", "SP", "1", "", ""};
    const Owner issued{&reg, true, 'S'}, issuedEntry{&reg, true, 'E'}, received{&reg, false, 'E'};
    struct Row {
        const char *name;
        Owner owner;
        CodesFrom codesFrom;
        std::vector<std::string> cfops;
        std::vector<std::string> booked;  // empty: refused
        const char *reason;
    } rows[] = {
        {"own exit", issued, CodesFrom::Issuer, {"5102", "6102", "7101"}, {"5102", "6102", "7101"}, ""},
        {"own entry", issuedEntry, CodesFrom::Issuer, {"1202", "3102"}, {"1202", "3102"}, ""},
        {"received invoice", received, CodesFrom::Issuer, {"5102", "6403", "5405", "5101"}, {"1102", "2403", "1403", "1102"}, ""},
        {"received, as the company books it", received, CodesFrom::Company, {"1102", "2403"}, {"1102", "2403"}, ""},
        {"entry CFOP on an own exit", issued, CodesFrom::Issuer, {"5102", "1102"}, {}, "CFOP 1102 de entrada em documento de saída"},
        {"exit CFOP on an own entry", issuedEntry, CodesFrom::Issuer, {"5102"}, {}, "CFOP 5102 de saída em documento de entrada"},
        {"entry CFOP from a supplier", received, CodesFrom::Issuer, {"1102"}, {}, "CFOP 1102 de entrada em documento de saída"},
        {"exit CFOP in the company's books", received, CodesFrom::Company, {"5102"}, {}, "CFOP 5102 de saída em documento de entrada"},
        {"not a CFOP", received, CodesFrom::Company, {"11O2"}, {}, "CFOP inválido ('11O2')"},
        {"no CFOP", issued, CodesFrom::Issuer, {""}, {}, "CFOP inválido ('')"},
        {"no such first digit", received, CodesFrom::Issuer, {"9102"}, {}, "CFOP inválido ('9102')"},
    };
    for (const Row &r : rows) {
        FiscalDocument d;
        d.codesFrom = r.codesFrom;
        for (const std::string &c : r.cfops) {
            FiscalItem it;
            it.number = static_cast<int>(d.items.size()) + 1;
            it.cfop = c;
            d.items.push_back(it);
        }
        std::vector<std::string> booked;
        const auto refusal = BookedCfops(d, r.owner, conversions, booked);
        if (!r.booked.empty()) {
            ASSERT_FALSE(refusal) << r.name << ": " << refusal->reason;
            EXPECT_EQ(booked, r.booked) << r.name;
        } else {
            ASSERT_TRUE(refusal) << r.name;
            EXPECT_EQ(refusal->field, DocumentField::ItemCfop);
            EXPECT_EQ(refusal->item, static_cast<int>(r.cfops.size())) << r.name;
            EXPECT_EQ(refusal->reason, r.reason) << r.name;
        }
    }
}

std::string text(const TaxRow &r)
{
    return std::string(r.tax) + ": " + DecimalText(r.base, 2) + " " + DecimalText(r.rate, 2) + " " + DecimalText(r.value, 2) +
           " " + DecimalText(r.exempt, 2) + " " + DecimalText(r.other, 2) + " " + DecimalText(r.stBase, 2) + " " +
           DecimalText(r.stValue, 2);
}

TEST(BookingTaxRows, EachTaxByTheBooksRules)
{
    const FiscalTax icms00{TaxCode::Icms, "00", 10000, 1800, 1800, true}, icms20{TaxCode::Icms, "20", 6000, 1080, 1800, true},
        csosn{TaxCode::Icms, "102", 0, 0, 0, true}, st{TaxCode::IcmsSt, "", 14000, 720, 0, true},
        ipi{TaxCode::Ipi, "50", 10000, 1000, 1000, true}, ipiNot{TaxCode::Ipi, "53", 0, 0, 0, false},
        ipiValueOnly{TaxCode::Ipi, "", 0, 1000, 0, true}, iss{TaxCode::Iss, "", 8000, 400, 500, true},
        pis{TaxCode::Pis, "01", 10000, 165, 165, true};
    // rows as "tax: base rate value exempt other stBase stValue"
    struct Row {
        const char *name;
        std::vector<FiscalTax> taxes;
        Cents value;
        bool noCredit;
        std::vector<std::string> want;
    } rows[] = {
        {"ICMS 00", {icms00}, 10000, false, {"01: 100.00 18.00 18.00 0.00 0.00 0.00 0.00"}},
        {"ICMS 20: the reduction exempt", {icms20}, 10000, false, {"01: 60.00 18.00 10.80 40.00 0.00 0.00 0.00"}},
        {"CSOSN: other", {csosn}, 10000, false, {"01: 0.00 0.00 0.00 0.00 100.00 0.00 0.00"}},
        {"ST on the ICMS row, IPI and ST out of the rest",
         {icms00, st, ipi},
         11720,
         false,
         {"01: 100.00 18.00 18.00 0.00 0.00 140.00 7.20", "03: 100.00 10.00 10.00 0.00 0.00 0.00 0.00"}},
        {"ST alone still has its ICMS row", {st}, 10720, false, {"01: 0.00 0.00 0.00 0.00 100.00 140.00 7.20"}},
        {"no credit: all of it other", {icms00, st}, 10720, true, {"01: 0.00 0.00 0.00 0.00 100.00 140.00 7.20"}},
        {"IPI not levied: exempt", {ipiNot}, 10000, false, {"03: 0.00 0.00 0.00 100.00 0.00 0.00 0.00"}},
        {"an analytical line's IPI value without base", {icms00, ipiValueOnly}, 11000, false,
         {"01: 100.00 18.00 18.00 0.00 0.00 0.00 0.00", "03: 0.00 0.00 10.00 0.00 100.00 0.00 0.00"}},
        {"ISS: the rest other", {iss}, 10000, false, {"02: 80.00 5.00 4.00 0.00 20.00 0.00 0.00"}},
        {"a tax the books have no rule for is not booked", {pis}, 10000, false, {}},
        {"a value below the taxes never goes negative", {icms00, st}, 500, false, {"01: 100.00 18.00 18.00 0.00 0.00 140.00 7.20"}},
    };
    for (const Row &r : rows) {
        FiscalItem it;
        it.taxes = r.taxes;
        std::vector<TaxRow> got;
        TaxRowsOf(it, r.value, r.noCredit, got);
        std::vector<std::string> texts;
        for (const TaxRow &t : got)
            texts.push_back(text(t));
        EXPECT_EQ(texts, r.want) << r.name;
    }
}

// Items of the given CFOPs, values and II.
FiscalDocument valued(Cents total, std::vector<std::tuple<const char *, Cents, Cents>> items)
{
    FiscalDocument d;
    d.total = total;
    int n = 0;
    for (auto &[cfop, value, ii] : items) {
        FiscalItem it;
        it.number = ++n;
        it.cfop = cfop;
        it.accountingValue = value;
        it.importTax = ii;
        d.items.push_back(it);
    }
    return d;
}

TEST(BookingValues, SpreadsWithinTheToleranceAdjustsAnImportWithoutIiRefusesTheRest)
{
    using Adjust = std::vector<std::pair<std::size_t, Cents>>;
    struct Row {
        const char *name;
        FiscalDocument d;
        bool refused;
        std::vector<Cents> values;
        bool spread;
        Adjust adjustments;
    } rows[] = {
        {"exact", valued(30000, {{"5102", 10000, 0}, {"5102", 20000, 0}}), false, {10000, 20000}, false, {}},
        {"a cent of rounding", valued(30001, {{"5102", 10000, 0}, {"5102", 20000, 0}}), false, {10000, 20001}, true, {}},
        {"within a quarter", valued(37500, {{"5102", 10000, 0}, {"5102", 20000, 0}}), false, {12500, 25000}, true, {}},
        {"past a quarter", valued(37501, {{"5102", 10000, 0}, {"5102", 20000, 0}}), true, {}, false, {}},
        {"a total of zero", valued(0, {{"5102", 10000, 0}}), true, {}, false, {}},
        {"a million times the items", valued(1000000000000, {{"5102", 10000, 0}}), true, {}, false, {}},
        {"small amounts: R$ 1,00 of tolerance", valued(150, {{"5102", 60, 0}}), false, {150}, true, {}},
        {"an import whose total holds the II", valued(15000, {{"3102", 15000, 5000}}), false, {15000}, false, {}},
        {"an import whose total leaves out the II", valued(10000, {{"3102", 15000, 5000}}), false, {15000}, false,
         {{0, -5000}}},
        {"one adjustment per CFOP", valued(15000, {{"3102", 15000, 5000}, {"3101", 3000, 1000}, {"3102", 4000, 1000}}),
         false, {15000, 3000, 4000}, false, {{0, -6000}, {1, -1000}}},
        {"II on a domestic entry is no reason to adjust", valued(10000, {{"3102", 15000, 5000}, {"1102", 100, 0}}), true,
         {}, false, {}},
        {"a total short of more than the II", valued(9000, {{"3102", 15000, 5000}}), true, {}, false, {}},
    };
    for (const Row &r : rows) {
        BookedAmounts a;
        const auto refusal = BookedValues(r.d, a);
        EXPECT_EQ(refusal.has_value(), r.refused) << r.name;
        if (refusal) {
            EXPECT_EQ(refusal->field, DocumentField::Total) << r.name;
            EXPECT_NE(refusal->reason.find("difere da soma dos itens"), std::string::npos) << refusal->reason;
            continue;
        }
        EXPECT_EQ(a.values, r.values) << r.name;
        EXPECT_EQ(a.spread, r.spread) << r.name;
        Adjust got;
        for (const auto &x : a.adjustments)
            got.emplace_back(x.item, x.value);
        EXPECT_EQ(got, r.adjustments) << r.name;
    }
    BookedAmounts a;
    const auto why = BookedValues(valued(0, {{"5102", 123456, 0}}), a);
    ASSERT_TRUE(why);
    EXPECT_NE(why->reason.find("(R$ 0,00)"), std::string::npos) << why->reason;
    EXPECT_NE(why->reason.find("(R$ 1.234,56)"), std::string::npos) << why->reason;
}

TEST(BookingDate, AReceivedDocumentByThePersonsRuleTheCompanysOwnAsStated)
{
    const Registration reg{"01", "1", "SP", "1", "", ""};
    const Owner own{&reg, true, 'S'}, received{&reg, false, 'E'};
    FiscalDocument d;
    d.header.issueDate = "2027-01-30";
    d.header.moveDate = "2027-02-02";
    FiscalDocument noExit = d;
    noExit.header.moveDate.clear();
    struct Row {
        const char *name;
        const FiscalDocument &d;
        Owner owner;
        const char *rule;
        const char *want;  // nullptr: refused
    } rows[] = {
        {"received, by its exit date", d, received, "exit", "2027-02-02"},
        {"received without exit date: issue", noExit, received, "exit", "2027-01-30"},
        {"received, by its issue date", d, received, "issue", "2027-01-30"},
        {"received, on the batch's day", d, received, "2027-02-10", "2027-02-10"},
        {"the batch's day as written here", d, received, "10/02/2027", "2027-02-10"},
        {"the batch's day before the issue", d, received, "2027-01-29", nullptr},
        {"the company's own keeps its date", d, own, "2027-02-10", "2027-02-02"},
    };
    for (const Row &r : rows) {
        const auto rule = ParseEntryDate(r.rule);
        ASSERT_TRUE(rule) << r.rule;
        std::string day;
        const auto refusal = BookingDate(r.d, r.owner, *rule, day);
        if (!r.want) {
            EXPECT_TRUE(refusal) << r.name;
            continue;
        }
        ASSERT_FALSE(refusal) << r.name << ": " << refusal->reason;
        EXPECT_EQ(day, r.want) << r.name;
    }
    for (const char *bad : {"", "2027-02-30", "amanhã", "2027-2-1", "31/02/2027"})
        EXPECT_FALSE(ParseEntryDate(bad)) << bad;
}

} // namespace
