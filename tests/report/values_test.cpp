// Values as the reports show them, and totals that stay exact.
#include "report/bands.h"
#include "report/values.h"

#include <gtest/gtest.h>

#include <random>

TEST(ReportValues, NumbersAreReadExactlyAtTheFormatsPlaces)
{
    const struct {
        const char *text;
        int places;
        std::optional<long long> units;
    } rows[] = {
        {"1234.56", 2, 123456},
        {"1234.5", 2, 123450},
        {"1234", 2, 123400},
        {"-0.125", 2, -13},  // half away from zero
        {"0.125", 2, 13},
        {"0.124999", 2, 12},
        {"0.30000000000000004", 2, 30},  // a double's shortest form
        {"2.675", 2, 268},               // as written, not as the nearest double
        {"1e-05", 4, 0},
        {"1.5E+3", 0, 1500},
        {"  42 ", 0, 42},
        {"+7.1", 1, 71},
        {".5", 0, 1},
        {"000123.4500", 3, 123450},
        {"92233720368547758.07", 2, 9223372036854775807LL},
        {"92233720368547758.08", 2, std::nullopt},  // past what fits
        {"1e400", 2, std::nullopt},
        {"1e-400", 2, 0},
        {"", 2, std::nullopt},
        {"-", 2, std::nullopt},
        {"1.2.3", 2, std::nullopt},
        {"12a", 2, std::nullopt},
        {"1e", 2, std::nullopt},
        {"1,5", 2, std::nullopt},
    };
    for (const auto &r : rows)
        EXPECT_EQ(ParseScaled(r.text, r.places), r.units) << "'" << r.text << "' at " << r.places;
}

TEST(ReportValues, FormatsAsABrazilianReaderExpects)
{
    using K = ValueFormat::Kind;
    const std::string mask = "99.99.9999;1;_";
    const struct {
        const char *raw;
        ValueFormat format;
        const char *shown;
    } rows[] = {
        {"1234.56", {K::Money, 0}, "1.234,56"},
        {"-1234567.891", {K::Money, 0}, "-1.234.567,89"},
        {"-0.001", {K::Money, 0}, "0,00"},
        {"0", {K::Money, 0}, "0,00"},
        {"999.995", {K::Money, 0}, "1.000,00"},
        {"12.5", {K::Quantity, 0}, "12,500"},
        {"1234567", {K::Integer, 0}, "1.234.567"},
        {"3.14159", {K::Decimal, 4}, "3,1416"},
        {"3.14159", {K::Decimal, 0}, "3"},
        {"18", {K::Percent, 0}, "18,00 %"},
        {"abc", {K::Money, 0}, "abc"},  // not a number: as it came
        {"5102", {K::Cfop, 0}, "5.102"},
        {" 5102 ", {K::Cfop, 0}, "5.102"},
        {"510", {K::Cfop, 0}, "510"},
        {"5.102", {K::Cfop, 0}, "5.102"},
        {"2026-01-31", {K::Date, 0}, "31/01/2026"},
        {"2026-01-31 13:45:00", {K::Date, 0}, "31/01/2026"},
        {"2026-01-31T13:45:00", {K::Date, 0}, "31/01/2026"},
        {"31/01/2026", {K::Date, 0}, "31/01/2026"},
        {"2026-1-31", {K::Date, 0}, "2026-1-31"},
        {"2026-02-01", {K::Month, 0}, "02/2026"},
        {"2026-02-01 00:00:00", {K::Month, 0}, "02/2026"},
        {"2026-2", {K::Month, 0}, "2026-2"},
        {"55667788000186", {K::TaxId, 0}, "55.667.788/0001-86"},
        {" 12345678909 ", {K::TaxId, 0}, "123.456.789-09"},
        {"A1234567", {K::TaxId, 0}, "A1234567"},  // a foreign id: as it came
        {"1234567", {K::TaxId, 0}, "1234567"},
        {"01.01.0001", {K::Product, 0}, "01.01.0001"},
        {"01010001", {K::Product, 0}, "01.01.0001"},
        {"0101", {K::Product, 0}, "01.01"},
        {"01.01", {K::Product, 0}, "01.01"},
        {"0101000199", {K::Product, 0}, "01.01.000199"},
        {"E01,S02, E05", {K::List, 0}, "E01, S02, E05"},
        {",,", {K::List, 0}, ""},
        {"texto livre", {K::Text, 0}, "texto livre"},
    };
    for (const auto &r : rows)
        EXPECT_EQ(FormatValue(r.raw, r.format, mask), r.shown) << r.raw << " as " << ValueFormatName(r.format);
    EXPECT_EQ(FormatProductCode("0101", "99-99-9999"), "01-01");
    EXPECT_EQ(FormatProductCode("ab12", "LL\\.99"), "ab.12");
    EXPECT_EQ(FormatProductCode("0101", ""), "0101");
}

namespace {
// Keeps the last totals it was given.
struct TotalsSink : ReportSink {
    std::vector<BandTotal> summary;
    std::vector<std::string> footers;
    void Begin(const ReportHeading &, const ReportLayout &, const std::vector<BandColumn> &,
               const std::vector<BandGroup> &) override
    {
    }
    void GroupHeader(std::size_t, const std::string &) override {}
    void Detail(const std::vector<BandCell> &, const std::vector<std::string> &) override {}
    void GroupFooter(std::size_t, const std::string &caption, const std::vector<BandTotal> &) override
    {
        footers.push_back(caption);
    }
    void Summary(const std::string &, const std::vector<BandTotal> &totals) override { summary = totals; }
    void Empty(const std::string &) override {}
    void Section(const std::string &, const std::vector<BandColumn> &) override {}
    void Finish() override {}
};
} // namespace

TEST(ReportValues, AMillionAmountsAddUpToTheCent)
{
    ReportLayout layout = ParseLayout(R"({"columns": [
        {"caption": "Valor", "field": "V", "format": "money", "total": "sum"},
        {"caption": "Linhas", "field": "V", "total": "count"}]})");
    TotalsSink sink;
    BandEngine engine({}, layout, "", {&sink}, nullptr);
    engine.Columns({"V"});
    // Amounts as a double column gives them: 0.1 + 0.2 is 0.30000000000000004.
    std::mt19937 random(7);
    long long expected = 0;
    std::vector<std::optional<std::string>> row(1);
    for (int i = 0; i < 1000000; ++i) {
        const long long cents = static_cast<long long>(random() % 100000) - 20000;
        expected += cents;
        char text[40];
        std::snprintf(text, sizeof text, "%.17g", static_cast<double>(cents) / 100);
        row[0] = text;
        engine.Row(row);
    }
    engine.Finish();
    ASSERT_EQ(sink.summary.size(), 2u);
    EXPECT_EQ(sink.summary[0].value, expected);
    EXPECT_EQ(sink.summary[1].value, 1000000);
}

TEST(ReportValues, ATotalTooLargeToHoldIsAnErrorNotAWrongSum)
{
    ReportLayout layout = ParseLayout(R"({"columns": [{"field": "V", "format": "money", "total": "sum"}]})");
    TotalsSink sink;
    BandEngine engine({}, layout, "", {&sink}, nullptr);
    engine.Columns({"V"});
    std::vector<std::optional<std::string>> row{"90000000000000000"};
    engine.Row(row);
    EXPECT_THROW(engine.Row(row), Exception);
}

TEST(ReportValues, ProgressIsAskedAsRowsGoAndACancelStopsTheRun)
{
    struct CancelAt : ReportProgress {
        std::size_t at, asked = 0;
        explicit CancelAt(std::size_t n) : at(n) {}
        bool Step(std::size_t rows) override
        {
            ++asked;
            return rows < at;
        }
    } progress(1000);
    ReportLayout layout = ParseLayout(R"({"columns": [{"field": "V"}]})");
    TotalsSink sink;
    BandEngine engine({}, layout, "", {&sink}, &progress);
    engine.Columns({"V"});
    std::vector<std::optional<std::string>> row{"x"};
    std::size_t fed = 0;
    try {
        for (; fed < 5000; ++fed)
            engine.Row(row);
        ADD_FAILURE() << "not cancelled";
    } catch (const ReportCancelled &) {
    }
    EXPECT_GE(fed, 999u);
    EXPECT_LT(fed, 1300u);
    EXPECT_GT(progress.asked, 1u);
}
