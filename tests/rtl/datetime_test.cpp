// Dates written as people here read them, as databases exchange them and as
// file names carry them, from a date value or from a database's text.
#include "rtl/datetime.h"

#include <gtest/gtest.h>

namespace {
TEST(FormatDate, EveryFormatOfADate)
{
    const struct {
        int y, m, d;
        const char *br, *iso, *compact;
    } rows[] = {
        {2026, 1, 31, "31/01/2026", "2026-01-31", "20260131"},
        {2024, 2, 29, "29/02/2024", "2024-02-29", "20240229"},
        {1899, 12, 30, "30/12/1899", "1899-12-30", "18991230"},  // the zero date
        {1, 1, 1, "01/01/0001", "0001-01-01", "00010101"},
        {9999, 12, 31, "31/12/9999", "9999-12-31", "99991231"},
    };
    for (const auto &r : rows) {
        const TDateTime date = EncodeDate(r.y, r.m, r.d);
        EXPECT_EQ(FormatDate(date), r.br);
        EXPECT_EQ(FormatDate(date, DateFormat::Iso), r.iso);
        EXPECT_EQ(FormatDate(date, DateFormat::Compact), r.compact);
        EXPECT_EQ(FormatDate(TDateTime(date.Val + 0.75)), r.br) << "the time of day is no part of the date";
    }
}

TEST(FormatDate, ADatabasesDateTextAndAnyOtherTextAsItIs)
{
    const struct {
        const char *text, *br, *iso;
    } rows[] = {
        {"2026-01-31", "31/01/2026", "2026-01-31"},
        {"2026-01-31 13:45:00", "31/01/2026", "2026-01-31"},
        {"2026-01-31T13:45", "31/01/2026", "2026-01-31"},
        {"2024-02-29", "29/02/2024", "2024-02-29"},
        {"2026-02-29", "2026-02-29", "2026-02-29"},  // no such day
        {"2026-13-01", "2026-13-01", "2026-13-01"},
        {"2026-1-31", "2026-1-31", "2026-1-31"},
        {"2026-01-31x", "2026-01-31x", "2026-01-31x"},
        {"2026-01-3a", "2026-01-3a", "2026-01-3a"},
        {"31/01/2026", "31/01/2026", "31/01/2026"},
        {"", "", ""},
    };
    for (const auto &r : rows) {
        EXPECT_EQ(FormatDateText(r.text), r.br) << r.text;
        EXPECT_EQ(FormatDateText(r.text, DateFormat::Iso), r.iso) << r.text;
    }
}

// Each day of two centuries written and read back in both directions.
TEST(FormatDate, EveryDayReadsBackAsItself)
{
    for (double day = EncodeDate(1900, 1, 1).Val; day <= EncodeDate(2100, 12, 31).Val; ++day) {
        const TDateTime date(day);
        ASSERT_EQ(ParseIsoDate(FormatDate(date, DateFormat::Iso)), date) << day;
        ASSERT_EQ(ParseDateBr(FormatDate(date)), date) << day;
    }
}
} // namespace
