// Numbers as text, the one form every engine and the data sets give.
#include "data/numbertext.h"
#include "data/variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>

TEST(NumberText, PlainDecimalDigitsInTheShortestForm)
{
    const struct {
        double value;
        const char *text;
    } rows[] = {
        {1000000, "1000000"},  // the shortest form would be "1e+06"
        {1234.5, "1234.5"},
        {0, "0"},
        {-0.0, "0"},
        {-42, "-42"},
        {0.1, "0.1"},
        {0.29, "0.29"},
        {0.1 + 0.2, "0.30000000000000004"},
        {1e-7, "0.0000001"},
        {123456789012345678.0, "123456789012345680"},
        {1e21, "1000000000000000000000"},
        {-2.5e-3, "-0.0025"},
    };
    for (const auto &row : rows) {
        EXPECT_EQ(NumberText(row.value), row.text) << row.text;
        EXPECT_EQ(Variant(row.value).asString(), row.text) << row.text;
    }
}

TEST(NumberText, ExtremesReadBackExactly)
{
    for (double n : {std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest(),
                     std::numeric_limits<double>::min(), std::numeric_limits<double>::denorm_min()}) {
        const std::string text = NumberText(n);
        EXPECT_EQ(text.find_first_of("eE"), std::string::npos) << text;
        EXPECT_EQ(std::strtod(text.c_str(), nullptr), n) << text;
    }
}

TEST(NumberText, SinglePrecisionKeepsItsOwnShortestForm)
{
    EXPECT_EQ(NumberText(0.1f), "0.1");
    EXPECT_EQ(NumberText(1e6f), "1000000");
    EXPECT_EQ(NumberText(-1.5f), "-1.5");
}
