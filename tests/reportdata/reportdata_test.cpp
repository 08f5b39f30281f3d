// The six fiscal reports on the demo data, on SQLite with both dialects and on
// the Firebird server: each report's own statement against the same figures
// worked out from the raw rows (fiscal_model.cpp), for parameter sets that
// reach every edge row of fixtures/fiscal.sql; then a few figures read off the
// fixture by hand.
#include "fiscal_model.h"
#include "report_runner.h"

#include "../support/demo_session.h"
#include "data/firebird/session.h"
#include "data/sqlite/session.h"
#include "host/hostsession.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <tuple>

namespace {
// The demo database of the setup: a fresh SQLite copy, or the server's.
class DemoData {
public:
    explicit DemoData(const DbSetup &setup) : demo_(setup.engine)
    {
        model_ = std::make_unique<FiscalModel>(demo_.Session());
    }
    DatabaseSession &Session() { return demo_.Session(); }
    const FiscalModel &Model() const { return *model_; }

private:
    DemoSession demo_;
    std::unique_ptr<FiscalModel> model_;
};

// One parameter set: the fields as they stand when the report runs.
struct Case {
    const char *label;
    std::function<void(ReportInputs &)> fill;
    bool empty = false;  // the report has no line for it
};

ReportInputs inputs(const Case &c)
{
    ReportInputs in;
    c.fill(in);
    return in;
}

const std::vector<std::string> kCfopSummaryColumns{
    "IDENTRSAIDA", "DSENTRSAIDA", "IDORIGEM", "DSORIGEM", "CDCFOP",   "DSCFOP",     "VLCONTABIL",
    "VLBASECALC",  "VLIMPOSTO",   "VLISENTO", "VLOUTROS", "VLIPI",    "VLBASEST", "VLIMPOSTOST"};
const std::vector<std::string> kCfopCstColumns{
    "IDENTRSAIDA", "DSENTRSAIDA", "IDORIGEM", "DSORIGEM", "CDCFOP",   "DSCFOP",   "CDCST",    "PCALIQUOTA",
    "VLCONTABIL",  "VLBASECALC",  "VLIMPOSTO", "VLISENTO", "VLOUTROS", "VLIPI",    "VLBASEST", "VLIMPOSTOST"};
const std::vector<std::string> kApuracaoColumns{"CDINSCESTA", "SGESTADO", "DTMES",    "NRORDEM", "DSLINHA",
                                                "CDCFOP",     "CDAJUSTE", "DSAJUSTE", "VLVALOR"};
const std::vector<std::string> kCheckColumns{"DTENTRSAIDA", "NRNOTAFISC", "CDSERIE",   "IDENTRSAIDA",
                                             "CDCFOP",      "DSMOTIVO",   "CDNOTAFISC"};
const std::vector<std::string> kCfopProductColumns{
    "IDENTRSAIDA", "DSENTRSAIDA", "IDORIGEM", "DSORIGEM",   "CDCFOP",     "DSCFOP",
    "CDARVPROD",   "NMPRODUTO",   "QTITEM",   "VLCONTABIL", "VLBASECALC", "VLIMPOSTO",
    "VLISENTO",    "VLOUTROS",    "VLIPI",    "VLIMPOSTOST"};
const std::vector<std::string> kInvoiceColumns{
    "CDINSCESTA", "IDENTRSAIDA", "DSENTRSAIDA", "DTENTRSAIDA", "DTEMISSAO", "CDMODDOCFISC", "CDSERIE",
    "NRNOTAFISC", "NRDOCPARTIC", "NRIEPARTIC", "SGUF",       "NMPARTICIPANTE", "CDCFOP",   "PCALIQUOTA",
    "DSSITUACAO", "VLCONTABIL",  "VLBASECALC",  "VLIMPOSTO",   "VLISENTO",  "VLOUTROS",     "VLIPI",
    "VLIMPOSTOST"};
const std::vector<std::string> kStColumns{"IDENTRSAIDA", "DSENTRSAIDA", "CDARVPROD", "NMPRODUTO", "DTENTRSAIDA", "NRNOTAFISC",
                                          "CDSERIE",   "NMPARTICIPANTE", "SGUF", "CDCFOP",
                                          "QTITEM",    "VLBASEST",  "VLIMPOSTOST"};
const std::vector<std::string> kRefundColumns{"CDINSCESTA", "SGESTADO",  "DTMES",        "CDARVPROD",
                                              "NMPRODUTO",  "QTENTRADA", "VLSTENTRADA",  "VLSTMEDIO",
                                              "DTMEDIA",    "QTSAIDAINTER", "VLRESSARC", "DSOBSERVACAO"};
const std::vector<std::string> kMapColumns{"CDINSCESTA", "SGESTADO",      "SGUFST",    "VLCONTABILENT",
                                           "VLBASEENT",  "VLCREDITO",     "VLSTPAGO",  "VLCONTABILSAI",
                                           "VLBASESAI",  "VLDEBITO",      "VLSALDO",   "DSSITUACAO"};

// The period and sides of every report; then each report's own filters.
const Case kJanuary{"januaryBothSides", [](ReportInputs &in) { in.side = 'A'; }};
const Case kQuarter{"firstQuarter", [](ReportInputs &in) {
                        in.side = 'A';
                        in.to = "2026-03-31";
                    }};
const Case kCommonCases[] = {
    kJanuary,
    kQuarter,
    {"januaryEntries", [](ReportInputs &in) { in.side = 'E'; }},
    {"januaryExits", [](ReportInputs &in) { in.side = 'S'; }},
    // Both ends of the period count, the days beyond them do not.
    {"februaryOnly", [](ReportInputs &in) {
         in.side = 'A';
         in.from = "2026-02-01";
         in.to = "2026-02-28";
     }},
    {"lastDayOfJanuary", [](ReportInputs &in) {
         in.side = 'A';
         in.from = in.to = "2026-01-31";
     }},
    {"secondCompany", [](ReportInputs &in) {
         in.side = 'A';
         in.company = "02";
         in.to = "2026-03-31";
     }},
    {"companyWithoutDocuments", [](ReportInputs &in) {
         in.side = 'A';
         in.company = "03";
         in.to = "2026-12-31";
     }, true},
    {"emptyCompany", [](ReportInputs &in) { in.company = ""; }, true},
    {"periodReversed", [](ReportInputs &in) {
         in.side = 'A';
         in.from = "2026-01-31";
         in.to = "2026-01-01";
     }, true},
};

// Another tax: the Valor Contábil stays, the tax columns follow that tax's rows.
const Case kTaxCases[] = {
    {"issTax", [](ReportInputs &in) {
         in.side = 'A';
         in.tax = "02";
         in.to = "2026-03-31";
     }},
    {"ipiTax", [](ReportInputs &in) {
         in.side = 'A';
         in.tax = "03";
     }},
    {"taxWithoutRows", [](ReportInputs &in) {
         in.side = 'A';
         in.tax = "07";
     }},
    // ICMS-ST: the ST base and tax of the ICMS rows.
    {"stTax", [](ReportInputs &in) {
         in.side = 'A';
         in.tax = "06";
         in.to = "2026-03-31";
     }},
};

const Case kRegistrationCases[] = {
    {"stateRegistrationSP", [](ReportInputs &in) {
         in.side = 'A';
         in.registration = "110042490114";
     }},
    {"stateRegistrationMG", [](ReportInputs &in) {
         in.side = 'A';
         in.registration = "0623079040081";
     }},
    {"stateRegistrationOfAnotherCompany", [](ReportInputs &in) {
         in.side = 'A';
         in.registration = "244123456119";
     }, true},
    {"municipalRegistration", [](ReportInputs &in) {
         in.side = 'A';
         in.municipal = "7654321";
         in.to = "2026-03-31";
     }},
    {"bothRegistrations", [](ReportInputs &in) {
         in.side = 'S';
         in.registration = "110042490114";
         in.municipal = "1234567";
     }},
};

const Case kCfopCases[] = {
    // The cancelled document's 5405 item never counts.
    {"cfop5405", [](ReportInputs &in) {
         in.side = 'A';
         in.cfop = "5405";
     }},
    {"cfopOfTheOtherSide", [](ReportInputs &in) {
         in.side = 'E';
         in.cfop = "5102";
     }, true},
};

const Case kProductRangeCases[] = {
    {"productRange", [](ReportInputs &in) {
         in.side = 'A';
         in.productFrom = "01.01.0002";
         in.productTo = "01.02.0001";
     }},
    {"productRangeStartOnly", [](ReportInputs &in) {
         in.side = 'A';
         in.to = "2026-03-31";
         in.productFrom = "02.01.0001";
     }},
    {"productRangeEndOnly", [](ReportInputs &in) {
         in.side = 'A';
         in.productTo = "01.01.0001";
     }},
    {"productRangeOfOneProduct", [](ReportInputs &in) {
         in.side = 'A';
         in.to = "2026-03-31";
         in.productFrom = in.productTo = "01.01.0003";
     }},
};

using ModelFn = std::vector<ModelRow> (FiscalModel::*)(const ReportInputs &) const;

struct ReportCases {
    const char *file;
    const std::vector<std::string> *columns;
    ModelFn model;
    std::vector<Case> cases;
    // Cases whose emptiness is the other way round for this report.
    std::set<std::string> otherwise = {};
};

std::vector<Case> join(std::initializer_list<std::vector<Case>> parts)
{
    std::vector<Case> out;
    for (const auto &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}
template <std::size_t N>
std::vector<Case> all(const Case (&cases)[N])
{
    return std::vector<Case>(cases, cases + N);
}

std::vector<ReportCases> Reports()
{
    return {
        {kCfopSummary, &kCfopSummaryColumns, &FiscalModel::CfopSummary,
         join({all(kCommonCases), all(kTaxCases), all(kRegistrationCases), all(kCfopCases)})},
        {kCfopCst, &kCfopCstColumns, &FiscalModel::CfopCstSummary,
         join({all(kCommonCases), all(kTaxCases), all(kRegistrationCases), all(kCfopCases)})},
        {kCfopProducts, &kCfopProductColumns, &FiscalModel::CfopProducts,
         join({all(kCommonCases), all(kTaxCases), all(kRegistrationCases), all(kCfopCases),
               all(kProductRangeCases),
               {
                   // Two documents share the number in two series.
                   {"number", [](ReportInputs &in) {
                        in.side = 'S';
                        in.number = "3003";
                    }},
                   {"numberWithLeadingZeros", [](ReportInputs &in) {
                        in.side = 'S';
                        in.number = "000154";
                    }},
                   {"numberNotBooked", [](ReportInputs &in) {
                        in.side = 'A';
                        in.number = "99999999999999999999";
                    }, true},
                   {"series", [](ReportInputs &in) {
                        in.side = 'S';
                        in.series = "2";
                        in.to = "2026-03-31";
                    }},
                   {"seriesAndRange", [](ReportInputs &in) {
                        in.side = 'A';
                        in.series = "1";
                        in.productFrom = "01.01.0001";
                        in.productTo = "01.01.0003";
                    }},
               }})},
        {kInvoiceList, &kInvoiceColumns, &FiscalModel::InvoiceList,
         join({all(kCommonCases), all(kTaxCases), all(kRegistrationCases), all(kProductRangeCases),
               {
                   {"branch", [](ReportInputs &in) {
                        in.side = 'A';
                        in.branch = "0002";
                    }},
                   {"operationTypes", [](ReportInputs &in) {
                        in.side = 'A';
                        in.operationTypes = "E02,S04";
                        in.to = "2026-03-31";
                    }},
                   // "S01" must not take the entries of type 01.
                   {"operationTypeOfOneSide", [](ReportInputs &in) {
                        in.side = 'A';
                        in.operationTypes = "S01";
                    }},
                   {"models", [](ReportInputs &in) {
                        in.side = 'A';
                        in.models = "01,06,57";
                    }},
                   {"modelsAndTypes", [](ReportInputs &in) {
                        in.side = 'A';
                        in.models = "65";
                        in.operationTypes = "S01,S03";
                        in.to = "2026-03-31";
                    }},
                   {"modelNotUsed", [](ReportInputs &in) {
                        in.side = 'A';
                        in.models = "04";
                    }, true},
               }})},
        {kStByProduct, &kStColumns, &FiscalModel::StByProduct,
         join({all(kCommonCases), all(kTaxCases), all(kCfopCases), all(kProductRangeCases),
               {
                   // Both substitute registrations stand for the SP registration.
                   {"substituteRegistration", [](ReportInputs &in) {
                        in.side = 'A';
                        in.registration = "0010500001";
                        in.to = "2026-03-31";
                    }},
                   {"otherSubstituteRegistration", [](ReportInputs &in) {
                        in.side = 'E';
                        in.registration = "0020700002";
                    }},
                   {"substituteRegistrationOfTheSecondCompany", [](ReportInputs &in) {
                        in.side = 'A';
                        in.company = "02";
                        in.registration = "0030900003";
                        in.to = "2026-03-31";
                    }},
                   // A state registration is no substitute registration.
                   {"stateRegistrationGiven", [](ReportInputs &in) {
                        in.side = 'A';
                        in.registration = "110042490114";
                    }, true},
                   {"cfop1403", [](ReportInputs &in) {
                        in.side = 'A';
                        in.cfop = "1403";
                        in.to = "2026-03-31";
                    }},
                   {"operationTypes", [](ReportInputs &in) {
                        in.side = 'A';
                        in.operationTypes = "S01";
                        in.to = "2026-03-31";
                    }},
               }}),
         // No ST on the last day, on 5405 sales, on the soaps, nor on any other tax.
         {"lastDayOfJanuary", "cfop5405", "productRangeStartOnly", "issTax", "ipiTax", "taxWithoutRows"}},
        {kStRefund, &kRefundColumns, &FiscalModel::StRefund,
         join({all(kCommonCases), all(kTaxCases), all(kProductRangeCases),
               {
                   {"stateRegistration", [](ReportInputs &in) {
                        in.registration = "110042490114";
                        in.to = "2026-03-31";
                    }},
                   {"operationTypes", [](ReportInputs &in) {
                        in.operationTypes = "E01,S01";
                        in.to = "2026-03-31";
                    }},
                   {"entryTypesOnly", [](ReportInputs &in) {
                        in.operationTypes = "E01";
                        in.to = "2026-03-31";
                    }},
               }}),
         {"lastDayOfJanuary"}},
        {kApuracao, &kApuracaoColumns, &FiscalModel::Apuracao,
         join({all(kCommonCases),
               {
                   {"registrationWithACarriedCredit", [](ReportInputs &in) {
                        in.registration = "77452130";
                        in.to = "2026-03-31";
                    }},
                   {"aMonthAfterOthers", [](ReportInputs &in) {
                        in.from = "2026-03-01";
                        in.to = "2026-03-31";
                    }},
               }}),
         // Every registration has its months, movement or not.
         {"companyWithoutDocuments"}},
        {kStateMap, &kMapColumns, &FiscalModel::StateRegistrationMap,
         join({all(kCommonCases), all(kTaxCases),
               {
                   {"stateRegistration", [](ReportInputs &in) { in.registration = "0623079040081"; }},
                   {"registrationWithoutMovement", [](ReportInputs &in) {
                        in.registration = "77452130";
                        in.from = in.to = "2026-02-01";
                    }},
                   {"registrationOfAnotherCompany", [](ReportInputs &in) { in.registration = "244123456119"; },
                    true},
                   {"registrationsOfACompanyWithoutDocuments", [](ReportInputs &in) { in.company = "10"; }},
               }}),
         // Every registration of the company has its line, movement or not.
         {"companyWithoutDocuments", "periodReversed"}},
    };
}

class ReportDataTest : public testing::TestWithParam<DbSetup> {
protected:
    void SetUp() override
    {
        if (const std::string why = GetParam().engine.Unavailable(); !why.empty())
            GTEST_SKIP() << why;
        data_ = std::make_unique<DemoData>(GetParam());
    }
    ResultSet Run(const char *file, const ReportInputs &in)
    {
        return RunReport(data_->Session(), GetParam(), LoadReport(file), in);
    }
    std::unique_ptr<DemoData> data_;
};

TEST_P(ReportDataTest, EachReportGivesTheLinesWorkedOutFromTheRawRows)
{
    ASSERT_GT(data_->Model().Documents(), 50u);
    for (const ReportCases &report : Reports()) {
        for (const Case &c : report.cases) {
            SCOPED_TRACE(std::string(report.file) + " / " + c.label);
            const ReportInputs in = inputs(c);
            const std::vector<ModelRow> want = (data_->Model().*report.model)(in);
            // A case meant to find something must find something, or it proves nothing.
            EXPECT_EQ(want.empty(), c.empty != report.otherwise.count(c.label));
            ResultSet got;
            ASSERT_NO_THROW(got = Run(report.file, in));
            EXPECT_EQ(CompareRows(got, *report.columns, want), "");
        }
    }
}

TEST_P(ReportDataTest, CfopSummaryTotalsEachSideAsItsItemsSum)
{
    for (const Case &c : join({all(kCommonCases), all(kTaxCases), all(kRegistrationCases), all(kCfopCases)})) {
        SCOPED_TRACE(c.label);
        const ReportInputs in = inputs(c);
        const ResultSet got = Run(kCfopSummary, in);
        for (char side : {'E', 'S'}) {
            const bool shown = in.side == 'A' || in.side == side;
            const FiscalModel::Totals t = shown ? data_->Model().CountedItems(in, side, false, true)
                                                : FiscalModel::Totals{};
            const std::string key(1, side);
            EXPECT_EQ(SumColumn(got, "VLCONTABIL", 2, "IDENTRSAIDA", key), t.value) << side;
            EXPECT_EQ(SumColumn(got, "VLBASECALC", 2, "IDENTRSAIDA", key), t.base) << side;
            EXPECT_EQ(SumColumn(got, "VLIMPOSTO", 2, "IDENTRSAIDA", key), t.tax) << side;
        }
    }
}

// Valor Contábil = Base + Isentas + Outras + IPI + ST on every line (for
// ICMS-ST, whose base is no part of the value, without the base); a line
// where it fails must be one the check lists with its parts exceeding.
TEST_P(ReportDataTest, CfopSummaryLinesAccountForTheirValue)
{
    const ReportDefinition summary = LoadReport(kCfopSummary);
    ASSERT_EQ(summary.sections.size(), 1u);
    int checked = 0, exceeding = 0;
    for (const Case &c : join({all(kCommonCases), all(kTaxCases), all(kRegistrationCases), all(kCfopCases)})) {
        SCOPED_TRACE(c.label);
        const ReportInputs in = inputs(c);
        const ResultSet got = Run(kCfopSummary, in);
        std::set<std::string> listed;
        for (const auto &row : RunSection(data_->Session(), GetParam(), summary.sections[0], in).rows)
            if (row[5] && row[5]->find("somam mais") != std::string::npos)
                listed.insert(row[4].value_or(""));
        for (std::size_t r = 0; r < got.rows.size(); ++r) {
            ResultSet line{got.columns, {got.rows[r]}};
            auto cents = [&](const char *column) { return SumColumn(line, column, 2); };
            const long long parts = (in.tax == "06" ? 0 : cents("VLBASECALC")) + cents("VLISENTO") +
                                    cents("VLOUTROS") + cents("VLIPI") + cents("VLIMPOSTOST");
            const std::string cfop = got.rows[r][4].value_or("");
            if (parts != cents("VLCONTABIL")) {
                EXPECT_GT(parts, cents("VLCONTABIL")) << cfop;
                EXPECT_TRUE(listed.count(cfop)) << cfop;
                ++exceeding;
            }
            ++checked;
        }
    }
    EXPECT_GT(checked, 100);
    EXPECT_GT(exceeding, 0);  // the demo's deliberate line
}

// The check's lines, each document and reason once, against the raw rows.
TEST_P(ReportDataTest, CfopSummaryCheckListsEachContradiction)
{
    const ReportDefinition summary = LoadReport(kCfopSummary);
    for (const Case &c : join({all(kCommonCases), all(kTaxCases)})) {
        SCOPED_TRACE(c.label);
        const ReportInputs in = inputs(c);
        const ResultSet got = RunSection(data_->Session(), GetParam(), summary.sections[0], in);
        EXPECT_EQ(CompareRows(got, kCheckColumns, data_->Model().Contradictions(in)), "");
    }
    // The first quarter has one contradiction of each kind.
    ReportInputs quarter;
    quarter.to = "2026-03-31";
    std::set<std::string> reasons;
    for (const auto &row : RunSection(data_->Session(), GetParam(), summary.sections[0], quarter).rows)
        reasons.insert(row[1].value_or("") + " " + row[5].value_or(""));
    EXPECT_EQ(reasons, (std::set<std::string>{
                           "801 Inscrição estadual de outra UF que a da filial",
                           "1602 CFOP de saída em documento de entrada",
                           "3020 CFOP interestadual com participante da mesma UF",
                           "8211 CFOP não cadastrado na tabela de CFOP",
                           "8212 CFOP inexistente: o primeiro dígito não é 1, 2, 3, 5, 6 nem 7",
                           "3021 Documento sem itens",
                           "3022 Base, isentas, outras, IPI e ST somam mais que o Valor Contábil",
                           "1655 ICMS creditado em entrada sujeita a substituição tributária",
                           "605511 Crédito de ICMS em documento sem inscrição estadual",
                           "605511 Crédito de energia elétrica que a atividade não permite (LC 87/96, art. 33, II)",
                       }));
    // February has none.
    ReportInputs february;
    february.from = "2026-02-01";
    february.to = "2026-02-28";
    EXPECT_TRUE(RunSection(data_->Session(), GetParam(), summary.sections[0], february).rows.empty());
}

// The refund of a quarter is its three months one after the other: each
// month's exits at the average of that month's entries, or of the last month
// before it, never of entries that came after them.
TEST_P(ReportDataTest, RefundOfAQuarterIsItsMonthsOneAfterTheOther)
{
    auto run = [&](const char *from, const char *to) {
        ReportInputs in;
        in.from = from;
        in.to = to;
        return Run(kStRefund, in);
    };
    const ResultSet quarter = run("2026-01-01", "2026-03-31");
    std::multiset<std::vector<std::optional<std::string>>> months;
    long long monthsRefund = 0;
    for (const auto &[from, to] : {std::pair{"2026-01-01", "2026-01-31"}, std::pair{"2026-02-01", "2026-02-28"},
                                   std::pair{"2026-03-01", "2026-03-31"}}) {
        const ResultSet month = run(from, to);
        months.insert(month.rows.begin(), month.rows.end());
        monthsRefund += SumColumn(month, "VLRESSARC", 2);
    }
    EXPECT_EQ(std::multiset<std::vector<std::optional<std::string>>>(quarter.rows.begin(), quarter.rows.end()), months);
    EXPECT_EQ(SumColumn(quarter, "VLRESSARC", 2), monthsRefund);
    EXPECT_GT(monthsRefund, 0);

    // The water: the MG registration bought it under ST in January; the SP
    // registration sent it to other states in February and March without
    // ever buying it under ST, so another registration's average never
    // prices it: listed, with a note and no amount.
    int water = 0;
    for (const auto &row : quarter.rows)
        if (row[3] == "01.02.0001" && row[0] == "110042490114") {
            EXPECT_FALSE(row[10].has_value());
            EXPECT_EQ(row[11], "Sem entrada com ST: valor não calculado");
            ++water;
        }
    EXPECT_EQ(water, 2);
}

// The operation types choose the exits refunded, never the entries that
// make the average: a type of entry alone leaves every exit; one of exit
// keeps its exits and still prices them.
TEST_P(ReportDataTest, RefundOperationTypesChooseOnlyTheExits)
{
    ReportInputs all;
    all.to = "2026-03-31";
    const ResultSet everything = Run(kStRefund, all);
    const long long refunded = SumColumn(everything, "VLRESSARC", 2);
    ASSERT_GT(refunded, 0);
    for (const auto &types : {"E01", "E02", "E03", "E01,E02,E03", "S01", "S02", "S03", "S04", "E01,S01"}) {
        SCOPED_TRACE(types);
        ReportInputs in = all;
        in.operationTypes = types;
        const ResultSet got = Run(kStRefund, in);
        EXPECT_EQ(CompareRows(got, kRefundColumns, data_->Model().StRefund(in)), "");
        EXPECT_EQ(SumColumn(got, "VLSTENTRADA", 2), SumColumn(everything, "VLSTENTRADA", 2));
        if (types[0] == 'E' && std::string(types).find('S') == std::string::npos) {
            EXPECT_EQ(got.rows, everything.rows);
        }
        if (std::string(types).find("S01") != std::string::npos) {
            EXPECT_EQ(SumColumn(got, "VLRESSARC", 2), refunded);  // every demo exit to another state is a sale
        }
    }
}

// Goods the company sells to another state as the substitute (company 02's
// own production, 6.401) are its own substitution, not a product lacking ST
// entries.
TEST_P(ReportDataTest, RefundLeavesOutWhatTheCompanySellsAsTheSubstitute)
{
    ReportInputs march;
    march.company = "02";
    march.from = "2026-03-01";
    march.to = "2026-03-31";
    const ResultSet got = Run(kStRefund, march);
    ASSERT_EQ(got.rows.size(), 1u);  // the soap sold to RJ under 6.101, never bought under ST
    EXPECT_EQ(got.rows[0][3], "02.01.0001");
    EXPECT_EQ(SumColumn(got, "QTSAIDAINTER", 3), 900000);  // not the 500 units sold as the substitute
    EXPECT_EQ(got.rows[0][11], "Sem entrada com ST: valor não calculado");
}

// The C190 view: the demo's 1.102 of the quarter mixes a purchase taxed at
// 18 % (CST 000), an exempt one (CST 040) and an item with no ICMS row; each
// is a line of its own, and together they are the CFOP summary's line.
TEST_P(ReportDataTest, CstAndRateSplitACfopAsTheDigitalBooksDo)
{
    ReportInputs in;
    in.to = "2026-03-31";
    in.cfop = "1102";
    const ResultSet got = Run(kCfopCst, in);
    std::vector<std::pair<std::optional<std::string>, std::optional<std::string>>> lines;
    for (const auto &row : got.rows)
        lines.emplace_back(row[6], row[7]);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].first, std::nullopt);  // the item without an ICMS row
    EXPECT_EQ(lines[1].first, "000");
    EXPECT_EQ(lines[2].first, "040");
    EXPECT_EQ(SumColumn({got.columns, {got.rows[1]}}, "PCALIQUOTA", 2), 1800);
    EXPECT_EQ(SumColumn({got.columns, {got.rows[2]}}, "VLISENTO", 2), 60000);
    const ResultSet summary = Run(kCfopSummary, in);
    for (const char *column : {"VLCONTABIL", "VLBASECALC", "VLIMPOSTO", "VLISENTO", "VLOUTROS", "VLIPI"})
        EXPECT_EQ(SumColumn(got, column, 2), SumColumn(summary, column, 2)) << column;
}

// The apuração of a quarter is its three months chained: each month's
// balance carried into the next. The RJ registration debited 17.82 in
// January against 50.00 of other credits: 32.18 carried to February, and
// March's 5.00 of other debits leave 27.18 to carry on.
TEST_P(ReportDataTest, ApuracaoOfAQuarterIsItsMonthsChained)
{
    auto run = [&](const char *from, const char *to) {
        ReportInputs in;
        in.from = from;
        in.to = to;
        return Run(kApuracao, in);
    };
    const ResultSet quarter = run("2026-01-01", "2026-03-31");
    std::vector<std::vector<std::optional<std::string>>> months;
    for (const auto &[from, to] : {std::pair{"2026-01-01", "2026-01-31"}, std::pair{"2026-02-01", "2026-02-28"},
                                   std::pair{"2026-03-01", "2026-03-31"}}) {
        const ResultSet month = run(from, to);
        months.insert(months.end(), month.rows.begin(), month.rows.end());
    }
    std::sort(months.begin(), months.end());
    std::vector<std::vector<std::optional<std::string>>> chained = quarter.rows;
    std::sort(chained.begin(), chained.end());
    EXPECT_EQ(chained, months);

    auto value = [&](const char *month, int line) {
        for (const auto &row : quarter.rows)
            if (row[0] == "77452130" && row[2].value_or("").substr(0, 10) == month && row[3] == std::to_string(line))
                return SumColumn({quarter.columns, {row}}, "VLVALOR", 2);
        return -1LL;
    };
    EXPECT_EQ(value("2026-01-01", 40), 1782);
    EXPECT_EQ(value("2026-01-01", 130), 3218);
    EXPECT_EQ(value("2026-02-01", 80), 3218);
    EXPECT_EQ(value("2026-03-01", 80), 3218);
    EXPECT_EQ(value("2026-03-01", 40), 500);
    EXPECT_EQ(value("2026-03-01", 120), 0);
    EXPECT_EQ(value("2026-03-01", 130), 2718);
}

// Figures read off fixtures/fiscal.sql by hand, for the rows at the edges.
TEST_P(ReportDataTest, EdgeRowsOfTheDemoData)
{
    ReportInputs january;
    january.side = 'A';

    // The books of January: per registration (the one under none last), then
    // entries before exits, each from the 1st to the 31st, one line per
    // document, CFOP and rate; the cancelled 3008 one line of zeros.
    const ResultSet invoices = Run(kInvoiceList, january);
    ASSERT_FALSE(invoices.rows.empty());
    EXPECT_EQ(invoices.rows.front()[0], "0623079040081");
    EXPECT_EQ(invoices.rows.back()[0], "Sem inscrição estadual");
    std::vector<std::string> order;
    for (const auto &row : invoices.rows)
        if (row[0] == "110042490114")
            order.push_back(row[1].value_or("") + row[3].value_or(""));
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    int cancelledLines = 0, lines7001 = 0;
    for (const auto &row : invoices.rows) {
        if (row[7] == "3008") {
            ++cancelledLines;
            EXPECT_EQ(row[12], std::nullopt);
            EXPECT_EQ(row[14], "CANCELADA");
            EXPECT_EQ(row[15], "0");
        }
        if (row[7] == "7001")
            ++lines7001;  // 5.102 at 18 % and 5.405 at 0 %
        if (row[7] == "1501") {
            EXPECT_EQ(row[4], "2025-12-28");  // issued in December, booked in January
            EXPECT_EQ(row[8], "55667788000186");
            EXPECT_EQ(row[9], "110456789118");
        }
    }
    EXPECT_EQ(cancelledLines, 1);
    EXPECT_EQ(lines7001, 2);
    // A document with two CFOPs is tied to the summary: per side and CFOP the
    // books add up to the CFOP summary's lines.
    const ResultSet summary = Run(kCfopSummary, january);
    for (const auto &line : summary.rows) {
        ResultSet books{invoices.columns, {}};
        for (const auto &row : invoices.rows)
            if (row[1] == line[0] && row[12] == line[4])
                books.rows.push_back(row);
        for (const char *column : {"VLCONTABIL", "VLBASECALC", "VLIMPOSTO", "VLISENTO", "VLOUTROS", "VLIPI"})
            EXPECT_EQ(SumColumn(books, column, 2), SumColumn({summary.columns, {line}}, column, 2))
                << line[4].value_or("") << " " << column;
    }
    // The document without items of March has its line, with zero values.
    ReportInputs march = january;
    march.from = "2026-03-13";
    march.to = "2026-03-13";
    const ResultSet noItems = Run(kInvoiceList, march);
    ASSERT_EQ(noItems.rows.size(), 1u);
    EXPECT_EQ(noItems.rows[0][7], "3021");
    EXPECT_EQ(SumColumn(noItems, "VLCONTABIL", 2), 0);
    // An item without ICMS row adds its value, not its tax.
    const ResultSet itemWithoutIcms = Run(kInvoiceList, [] {
        ReportInputs in;
        in.side = 'E';
        in.branch = "0002";
        return in;
    }());
    ASSERT_EQ(itemWithoutIcms.rows.size(), 2u);  // the item at 18 % and the one with no rate
    EXPECT_EQ(SumColumn(itemWithoutIcms, "VLCONTABIL", 2), 114450);
    EXPECT_EQ(SumColumn(itemWithoutIcms, "VLBASECALC", 2), 54000);
    EXPECT_EQ(SumColumn(itemWithoutIcms, "VLIMPOSTO", 2), 9720);
    // ... and it is Outras less its IPI, which has a column of its own.
    EXPECT_EQ(SumColumn(itemWithoutIcms, "VLOUTROS", 2), 55000);
    EXPECT_EQ(SumColumn(itemWithoutIcms, "VLIPI", 2), 5450);

    // Purchases under tax substitution credit nothing: their ICMS is Outras.
    ReportInputs substituted = january;
    substituted.cfop = "1403";
    const ResultSet noCredit = Run(kCfopSummary, substituted);
    EXPECT_EQ(SumColumn(noCredit, "VLIMPOSTO", 2), 0);
    EXPECT_EQ(SumColumn(noCredit, "VLOUTROS", 2), 64800 + 61200 + 127200 + 25500);
    EXPECT_EQ(SumColumn(noCredit, "VLIMPOSTOST", 2), 4666 + 4406 + 9158 + 1836);
    // Tax 06 shows the ST base and ST of the same rows as its base and tax.
    substituted.tax = "06";
    const ResultSet st06 = Run(kCfopSummary, substituted);
    EXPECT_EQ(SumColumn(st06, "VLBASECALC", 2), 90720 + 85680 + 178080 + 35700);
    EXPECT_EQ(SumColumn(st06, "VLIMPOSTO", 2), 4666 + 4406 + 9158 + 1836);

    // CFOP 5405 of January: 1173.40, not the cancelled document's 4000.00 more.
    ReportInputs stSales = january;
    stSales.cfop = "5405";
    EXPECT_EQ(SumColumn(Run(kCfopSummary, stSales), "VLCONTABIL", 2), 117340);
    // The energy bill is under no registration: in the summary, not under one.
    ReportInputs energy = january;
    energy.cfop = "1253";
    EXPECT_EQ(SumColumn(Run(kCfopSummary, energy), "VLCONTABIL", 2), 234055);
    energy.registration = "110042490114";
    EXPECT_TRUE(Run(kCfopSummary, energy).rows.empty());
    // The service is under the municipal registration only, taxed by ISS.
    ReportInputs service = january;
    service.tax = "02";
    service.municipal = "1234567";
    service.cfop = "5933";
    const ResultSet iss = Run(kCfopSummary, service);
    EXPECT_EQ(SumColumn(iss, "VLBASECALC", 2), 150000);
    EXPECT_EQ(SumColumn(iss, "VLIMPOSTO", 2), 7500);

    // The fiscal map of January: the MG registration bought under ST and
    // sold substituted goods, so it has no balance; the energy bill, under
    // no registration, has its line after the registrations, without a
    // balance: a credit under no registration belongs to no apuração.
    const ResultSet map = Run(kStateMap, january);
    ASSERT_EQ(map.rows.size(), 4u);
    EXPECT_EQ(map.rows[1][0], "110042490114");
    EXPECT_EQ(map.rows[1][11], "saldo devedor");
    EXPECT_EQ(SumColumn(map, "VLSALDO", 2, "CDINSCESTA", "0623079040081"), 0);
    EXPECT_EQ(map.rows[0][11], "sem saldo");
    EXPECT_EQ(map.rows[3][0], "Sem inscrição estadual");
    EXPECT_EQ(SumColumn(map, "VLCONTABILENT", 2, "CDINSCESTA", "Sem inscrição estadual"), 234055);
    EXPECT_EQ(map.rows[3][10], std::nullopt);
    EXPECT_EQ(map.rows[3][11], "fora da apuração");
    // Under ICMS-ST the ST paid on purchases is no credit: the MG registration
    // paid 109.94 and retained nothing; SP retained 91.24 on the sale to PR,
    // owed to PR, and paid 90.72 that does not reduce it.
    ReportInputs stTax = january;
    stTax.tax = "06";
    const ResultSet stMap = Run(kStateMap, stTax);
    EXPECT_EQ(SumColumn(stMap, "VLCREDITO", 2), 0);
    EXPECT_EQ(SumColumn(stMap, "VLSTPAGO", 2, "CDINSCESTA", "0623079040081"), 9158 + 1836);
    EXPECT_EQ(SumColumn(stMap, "VLSALDO", 2, "CDINSCESTA", "0623079040081"), 0);
    EXPECT_EQ(SumColumn(stMap, "VLSTPAGO", 2, "CDINSCESTA", "110042490114"), 4666 + 4406);
    bool owedToParana = false;
    for (const auto &row : stMap.rows)
        if (row[0] == "110042490114" && row[2] == "PR") {
            owedToParana = true;
            EXPECT_EQ(SumColumn({stMap.columns, {row}}, "VLDEBITO", 2), 9124);
            EXPECT_EQ(SumColumn({stMap.columns, {row}}, "VLSALDO", 2), 9124);
        }
    EXPECT_TRUE(owedToParana);
    // Its entries are the CFOP summary's.
    ReportInputs entries = january;
    entries.side = 'E';
    EXPECT_EQ(SumColumn(map, "VLCONTABILENT", 2), SumColumn(Run(kCfopSummary, entries), "VLCONTABIL", 2));

    // The refund of January, per registration: the SP registration bought 120
    // units of cola with 46.66 of ST, 0.3888 a unit, and sent 156 units to
    // other states: 60.66. The MG registration's cola (240 units, 91.58)
    // prices none of them.
    ReportInputs refund = january;
    refund.side = 'E';  // the disabled box's choice narrows nothing
    const ResultSet cola = Run(kStRefund, refund);
    ASSERT_FALSE(cola.rows.empty());
    EXPECT_EQ(cola.rows[0][0], "0623079040081");
    ResultSet sp{cola.columns, {}};
    for (const auto &row : cola.rows)
        if (row[0] == "110042490114")
            sp.rows.push_back(row);
    EXPECT_EQ(SumColumn(sp, "VLSTMEDIO", 4, "CDARVPROD", "01.01.0001"), 3888);
    EXPECT_EQ(SumColumn(sp, "VLRESSARC", 2, "CDARVPROD", "01.01.0001"), 6066);
    EXPECT_EQ(SumColumn(cola, "VLRESSARC", 2, "CDINSCESTA", "0623079040081"), 0);

    // The substitute registration selects the SP documents, never the MG ones.
    ReportInputs substitute = january;
    substitute.registration = "0010500001";
    const ResultSet st = Run(kStByProduct, substitute);
    ASSERT_EQ(st.rows.size(), 3u);
    for (const auto &row : st.rows)
        EXPECT_NE(row[5], "88390");
}

// A booking written with a time of day (as other programs write it) belongs to
// its day: on SQLite the text would sort after the period's last day.
// Firebird's column is a DATE and keeps no time.
TEST_P(ReportDataTest, ADocumentWrittenWithATimeOfDayCountsInItsDay)
{
    if (!GetParam().engine.engine.localFile)
        GTEST_SKIP() << "the server's booking date has no time of day";
    // With the triggers that cut the time away, and as a database made
    // before them holds such rows: the statements compare by day themselves.
    for (const bool triggers : {true, false}) {
    SCOPED_TRACE(triggers ? "with the date triggers" : "written before the date triggers");
    TemporaryDemoDatabase demo;
    auto db = OpenSqliteSession(demo.Path(), /*readOnly=*/false);
    if (!triggers) {
        db->Execute("DROP TRIGGER NOTAFISCAL_DIA_INSERIDA");
        db->Execute("DROP TRIGGER NOTAFISCAL_DIA_ALTERADA");
    }
    ReportInputs january;
    january.side = 'A';
    const ResultSet before = RunReport(*db, GetParam(), LoadReport(kCfopSummary), january);

    // A copy of the entry 1501 of 1 January booked on the 31st at 15:30, and the
    // exit 7002 of the 31st moved to 23:59:59 of its own day.
    db->Execute("INSERT INTO NOTAFISCAL SELECT 90001, CDEMPRESA, CDFILIAL, IDENTRSAIDA, CDSERIE, 90001,"
                " CDMODDOCFISC, CDTIPOOPER, '2026-01-30 08:00', '2026-01-31 15:30:00', CDINSCESTA, CDINSCMUNI,"
                " NMPARTICIPANTE, SGUF, IDSITUACAO, NRDOCPARTIC, NRIEPARTIC FROM NOTAFISCAL WHERE NRNOTAFISC = 1501");
    db->Execute("INSERT INTO ITEMNOTAFISC SELECT 90001, I.NRITEM, I.CDPRODUTO, I.CDCFOP, I.QTITEM, I.VLUNITARIO,"
                " I.VLCONTABIL FROM ITEMNOTAFISC I JOIN NOTAFISCAL N ON N.CDNOTAFISC = I.CDNOTAFISC"
                " WHERE N.NRNOTAFISC = 1501");
    db->Execute("INSERT INTO IMPOSTOITEMNF SELECT 90001, T.NRITEM, T.CDIMPOSTONFE, T.VLBASECALC, T.PCALIQUOTA,"
                " T.VLIMPOSTO, T.VLISENTO, T.VLOUTROS, T.VLBASEST, T.VLIMPOSTOST, T.CDCST FROM IMPOSTOITEMNF T"
                " JOIN NOTAFISCAL N ON N.CDNOTAFISC = T.CDNOTAFISC WHERE N.NRNOTAFISC = 1501");
    db->Execute("UPDATE NOTAFISCAL SET DTENTRSAIDA = '2026-01-31 23:59:59' WHERE NRNOTAFISC = 7002");

    const ResultSet stored = db->Query("SELECT DTEMISSAO, DTENTRSAIDA FROM NOTAFISCAL WHERE NRNOTAFISC IN (90001, 7002)"
                                       " ORDER BY NRNOTAFISC",
                                       {});
    ASSERT_EQ(stored.rows.size(), 2u);
    EXPECT_EQ(stored.rows[0][1], triggers ? "2026-01-31" : "2026-01-31 23:59:59");
    EXPECT_EQ(stored.rows[1][0], triggers ? "2026-01-30" : "2026-01-30 08:00");
    EXPECT_EQ(stored.rows[1][1], triggers ? "2026-01-31" : "2026-01-31 15:30:00");

    const ResultSet invoices = RunReport(*db, GetParam(), LoadReport(kInvoiceList), january);
    std::vector<std::string> lastDay;
    for (const auto &row : invoices.rows)
        if (row[3].value_or("").substr(0, 10) == "2026-01-31")
            lastDay.push_back(row[7].value_or(""));
    EXPECT_NE(std::find(lastDay.begin(), lastDay.end(), "90001"), lastDay.end());
    EXPECT_NE(std::find(lastDay.begin(), lastDay.end(), "7002"), lastDay.end());
    const ResultSet st = RunReport(*db, GetParam(), LoadReport(kStByProduct), january);
    EXPECT_TRUE(std::any_of(st.rows.begin(), st.rows.end(), [](const auto &row) { return row[5] == "90001"; }));

    // The entries of January grow by the copy's value; the exits stay.
    const ResultSet after = RunReport(*db, GetParam(), LoadReport(kCfopSummary), january);
    const ResultSet copy = db->Query("SELECT SUM(VLCONTABIL) * 100 FROM ITEMNOTAFISC WHERE CDNOTAFISC = 90001", {});
    const long long copyCents = std::llround(std::stod(copy.rows.at(0).at(0).value_or("0")));
    ASSERT_GT(copyCents, 0);
    EXPECT_EQ(SumColumn(after, "VLCONTABIL", 2, "IDENTRSAIDA", "E"),
              SumColumn(before, "VLCONTABIL", 2, "IDENTRSAIDA", "E") + copyCents);
    EXPECT_EQ(SumColumn(after, "VLCONTABIL", 2, "IDENTRSAIDA", "S"),
              SumColumn(before, "VLCONTABIL", 2, "IDENTRSAIDA", "S"));
    // Every other report counts them in January too (the listings show the
    // date as it is stored, so they are looked at above by number).
    const FiscalModel model(*db);
    for (const ReportCases &report : Reports()) {
        if (report.file == kInvoiceList || report.file == kStByProduct)
            continue;
        SCOPED_TRACE(report.file);
        EXPECT_EQ(CompareRows(RunReport(*db, GetParam(), LoadReport(report.file), january), *report.columns,
                              (model.*report.model)(january)),
                  "");
    }
    }
}

// A sale of company 01's registration 110042490114 on `day`, without items.
void insertSale(DatabaseSession &db, int number, const std::string &day)
{
    const std::string n = std::to_string(number);
    db.Execute("INSERT INTO NOTAFISCAL VALUES (" + n + ", '01', '0001', 'S', '1', " + n + ", '55', '01', '" + day +
               "', '" + day + "', '110042490114', '1234567', 'Mercado Bom Preço Ltda', 'SP', 'N', NULL, NULL)");
}

// An amount written with a third decimal is rounded to the cent once, where
// it enters (Firebird's NUMERIC column does it; SQLite's triggers do it), so the
// kept summary and the reports that sum the rows give the same cents.
TEST_P(ReportDataTest, AmountsWithThreeDecimalsAreTheSameCentsOnEveryReport)
{
    if (!GetParam().engine.engine.localFile)
        GTEST_SKIP() << "the server's NUMERIC(15,2) columns round what they store";
    TemporaryDemoDatabase demo;
    auto db = OpenSqliteSession(demo.Path(), /*readOnly=*/false);
    insertSale(*db, 90002, "2026-01-30");
    db->Execute("INSERT INTO IMPOSTOITEMNF VALUES (90002, 1, '01', 30.025, 18, 5.4045, 0, 0, 0, 0, '000')");
    db->Execute("INSERT INTO ITEMNOTAFISC VALUES (90002, 1, '12', '5152', 1.0005, 30.025, 30.025)");
    db->Execute("INSERT INTO ITEMNOTAFISC VALUES (90002, 2, '12', '5152', 1, 1.00, 1.00)");
    db->Execute("INSERT INTO IMPOSTOITEMNF VALUES (90002, 2, '01', 1.00, 18, 0.18, 0, 0, 0, 0, '000')");
    db->Execute("UPDATE ITEMNOTAFISC SET VLCONTABIL = 1.005 WHERE CDNOTAFISC = 90002 AND NRITEM = 2");
    db->Execute("UPDATE IMPOSTOITEMNF SET VLBASECALC = 1.005 WHERE CDNOTAFISC = 90002 AND NRITEM = 2");

    const ResultSet stored = db->Query("SELECT I.VLCONTABIL, I.QTITEM, T.VLBASECALC, T.VLIMPOSTO FROM ITEMNOTAFISC I"
                                       " JOIN IMPOSTOITEMNF T ON T.CDNOTAFISC = I.CDNOTAFISC AND T.NRITEM = I.NRITEM"
                                       " WHERE I.CDNOTAFISC = 90002 ORDER BY I.NRITEM",
                                       {});
    ASSERT_EQ(stored.rows.size(), 2u);
    EXPECT_EQ(stored.rows[0], (std::vector<std::optional<std::string>>{"30.03", "1.001", "30.03", "5.4"}));
    EXPECT_EQ(stored.rows[1][0], "1.01");
    EXPECT_EQ(stored.rows[1][2], "1.01");
    // The kept summary still equals its detail.
    const ResultSet kept = db->Query("SELECT VLCONTABIL, VLBASECALC FROM RESUMOCFOPNF WHERE CDNOTAFISC = 90002"
                                     " ORDER BY CDIMPOSTONFE",
                                     {});
    ASSERT_EQ(kept.rows.size(), 2u);
    EXPECT_EQ(kept.rows[0][0], "3104");
    EXPECT_EQ(kept.rows[1][1], "3104");

    ReportInputs day;
    day.side = 'S';
    day.from = day.to = "2026-01-30";
    day.cfop = "5152";
    const ResultSet summary = RunReport(*db, GetParam(), LoadReport(kCfopSummary), day);
    const ResultSet products = RunReport(*db, GetParam(), LoadReport(kCfopProducts), day);
    const ResultSet listing = RunReport(*db, GetParam(), LoadReport(kInvoiceList), day);
    for (const char *column : {"VLCONTABIL", "VLBASECALC", "VLIMPOSTO"}) {
        SCOPED_TRACE(column);
        EXPECT_EQ(SumColumn(summary, column, 2), SumColumn(products, column, 2));
        EXPECT_EQ(SumColumn(summary, column, 2), SumColumn(listing, column, 2));
    }
    EXPECT_EQ(SumColumn(summary, "VLCONTABIL", 2), 3104 + 24000);  // with the transfer of the 30th
}

// An item whose value covers its other parts but not its ST as well: what
// is left before the ST is no Outras, under ICMS and under another tax
// (whose ST is still the ICMS row's), and the line keeps the excess.
TEST_P(ReportDataTest, WhatTheStLeavesOfAnItemIsNoOutrasUnderEveryTax)
{
    if (!GetParam().engine.engine.localFile)
        GTEST_SKIP() << "writes its own document into a copy of the demo database";
    TemporaryDemoDatabase demo;
    auto db = OpenSqliteSession(demo.Path(), /*readOnly=*/false);
    insertSale(*db, 90003, "2026-01-29");
    // 100.00: ICMS base 80.00 with 30.00 of ST, IPI 9.00 on a base of 90.00.
    db->Execute("INSERT INTO IMPOSTOITEMNF VALUES (90003, 1, '01', 80, 18, 14.40, 0, 0, 120, 30, '010')");
    db->Execute("INSERT INTO IMPOSTOITEMNF VALUES (90003, 1, '03', 90, 10, 9, 0, 0, 0, 0, '50')");
    db->Execute("INSERT INTO ITEMNOTAFISC VALUES (90003, 1, '12', '5401', 1, 100, 100)");
    const FiscalModel model(*db);
    const struct {
        const char *tax;
        long long outras, st;  // of the item's line, in cents
    } taxes[] = {{"01", 0, 3000}, {"03", 0, 3000}, {"06", 10000 - 900 - 3000, 3000}, {"02", 10000 - 900 - 3000, 3000}};
    for (const auto &t : taxes) {
        SCOPED_TRACE(std::string("tax ") + t.tax);
        ReportInputs day;
        day.side = 'S';
        day.from = day.to = "2026-01-29";
        day.cfop = "5401";
        day.tax = t.tax;
        const ResultSet got = RunReport(*db, GetParam(), LoadReport(kCfopCst), day);
        EXPECT_EQ(CompareRows(got, kCfopCstColumns, model.CfopCstSummary(day)), "");
        EXPECT_EQ(SumColumn(got, "VLOUTROS", 2), t.outras);
        EXPECT_EQ(SumColumn(got, "VLIMPOSTOST", 2), t.st);
    }

    // The period's end is found without the company's row too.
    db->Execute("UPDATE NOTAFISCAL SET CDEMPRESA = '77' WHERE CDNOTAFISC = 90003");
    ReportInputs unregistered;
    unregistered.company = "77";
    unregistered.side = 'S';
    unregistered.from = unregistered.to = "2026-01-29";
    const ResultSet got = RunReport(*db, GetParam(), LoadReport(kCfopCst), unregistered);
    EXPECT_EQ(SumColumn(got, "VLCONTABIL", 2), 10000);
    EXPECT_EQ(CompareRows(got, kCfopCstColumns, FiscalModel(*db).CfopCstSummary(unregistered)), "");
}

// The day after a day, which every period's last day is compared with.
TEST_P(ReportDataTest, TheDayAfterADayOnEveryEngine)
{
    const struct {
        const char *day, *next;
    } rows[] = {{"2026-01-31", "2026-02-01"}, {"2026-12-31", "2027-01-01"}, {"2028-02-28", "2028-02-29"},
                {"2026-02-28", "2026-03-01"}, {"2026-03-15", "2026-03-16"}};
    for (const auto &r : rows) {
        const ResultSet got = data_->Session().Query("SELECT DIASEGUINTE(:P_DTFINAL) FROM EMPRESA WHERE CDEMPRESA = '01'",
                                                     {{"P_DTFINAL", Variant(EncodeDate(std::atoi(r.day),
                                                                                       std::atoi(r.day + 5),
                                                                                       std::atoi(r.day + 8)))}});
        ASSERT_EQ(got.rows.size(), 1u);
        EXPECT_EQ(got.rows[0][0].value_or("").substr(0, 10), r.next) << r.day;
    }
    if (!GetParam().engine.engine.localFile)
        return;
    // SQLite's dates are text: a time of day is left behind, what is no date gives NULL.
    for (const auto &[text, next] : std::vector<std::pair<const char *, std::optional<std::string>>>{
             {"2026-01-31 15:30:00", "2026-02-01"}, {"2026-02-30", std::nullopt}, {"31/01/2026", std::nullopt},
             {"", std::nullopt}}) {
        const ResultSet got = data_->Session().Query("SELECT DIASEGUINTE(:P_DIA) FROM EMPRESA WHERE CDEMPRESA = '01'",
                                                     {{"P_DIA", Variant(std::string(text))}});
        EXPECT_EQ(got.rows.at(0).at(0), next) << text;
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, ReportDataTest,
                         testing::Values(kSqliteOracle, kSqliteInterBase, kFirebirdInterBase, kPostgresqlOracle),
                         [](const testing::TestParamInfo<DbSetup> &info) { return std::string(info.param.label); });
} // namespace
