// The credit balance the apuração carries from month to month, through
// months that owe, months that move nothing and credit that comes back: the
// same in a period of six months as in each month alone, in both dialects.
#include "report_runner.h"

#include "../support/demo_session.h"
#include "../support/temp_folder.h"
#include "data/sqlite/session.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

namespace {
// The RJ registration carries 27,18 out of March 2026 and moves nothing after
// it in the demo; these adjustments move it in 2027.
struct Adjustment {
    const char *month, *type, *amount;
};
const Adjustment kAdjustments[] = {
    {"2027-01-01", "2", "100.00"},  // other credits
    {"2027-02-01", "0", "200.00"},  // other debits: owes 72,82
    {"2027-04-01", "2", "30.00"},   // after a month without movement
    {"2027-05-01", "0", "10.00"},   {"2027-05-01", "2", "5.00"},
    {"2027-06-01", "0", "25.00"},   // owes nothing, carries nothing
    {"2027-06-01", "4", "3.00"},    // a deduction with nothing due
};

// Per month: balance carried in (line 80), saldo devedor (100), a recolher
// (120), balance carried out (130), in cents.
struct Expected {
    const char *month;
    long long carriedIn, due, payable, carriedOut;
};
const Expected kExpected[] = {
    {"2027-01-01", 2718, 0, 0, 12718},
    {"2027-02-01", 12718, 7282, 7282, 0},
    {"2027-03-01", 0, 0, 0, 0},
    {"2027-04-01", 0, 0, 0, 3000},
    {"2027-05-01", 3000, 0, 0, 2500},
    {"2027-06-01", 2500, 0, 0, 0},
};

std::map<std::pair<std::string, int>, long long> linesOf(const ResultSet &rows)
{
    std::map<std::pair<std::string, int>, long long> out;
    for (const auto &row : rows.rows)
        if (row[0] == "77452130" && !row[5] && !row[6])
            out[{row[2].value_or("").substr(0, 10), std::stoi(row[3].value_or("0"))}] =
                SumColumn({rows.columns, {row}}, "VLVALOR", 2);
    return out;
}

TEST(ApuracaoChain, CarriesTheBalanceThroughOwingAndQuietMonths)
{
    TempFolder folder("fis-apuracao");
    TemporaryDemoDatabase demo;
    const std::string path = folder.file("apuracao.sqlite");
    std::filesystem::copy_file(demo.Path(), path);
    {
        auto db = OpenSqliteSession(path, false);
        int n = 900;
        for (const Adjustment &a : kAdjustments)
            db->Execute(std::string("INSERT INTO APURACAOAJUSTE VALUES ('01', '77452130', '") + a.month + "', " +
                        std::to_string(++n) + ", '" + a.type + "', 'RJ0" + a.type + "9999', 'Teste', " + a.amount +
                        ")");
    }
    auto db = OpenSqliteSession(path, true);
    for (const DbSetup *setup : {&kSqliteOracle, &kSqliteInterBase}) {
        ReportInputs half;
        half.from = "2027-01-01";
        half.to = "2027-06-30";
        const auto together = linesOf(RunReport(*db, *setup, LoadReport(kApuracao), half));
        for (const Expected &e : kExpected) {
            ReportInputs month;
            month.from = e.month;
            month.to = std::string(e.month).substr(0, 8) + "28";
            const auto alone = linesOf(RunReport(*db, *setup, LoadReport(kApuracao), month));
            for (const auto *lines : {&together, &alone}) {
                const std::string where = std::string(setup->label) + " " + e.month +
                                          (lines == &together ? " in the half year" : " alone");
                auto at = [&](int line) {
                    const auto it = lines->find({e.month, line});
                    return it == lines->end() ? -1LL : it->second;
                };
                EXPECT_EQ(at(80), e.carriedIn) << where;
                EXPECT_EQ(at(100), e.due) << where;
                EXPECT_EQ(at(120), e.payable) << where;
                EXPECT_EQ(at(130), e.carriedOut) << where;
            }
        }
    }
}
} // namespace
