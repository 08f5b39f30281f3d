#include "data/dberrors.h"
#include "data/params.h"
#include "data/sqlparams.h"
#include "data/sqlscript.h"

#include <gtest/gtest.h>

namespace {
using Names = std::vector<std::string>;

struct MarkerCase {
    const char *label;
    std::string sql;
    Names names;
};

class ParamNamesTest : public testing::TestWithParam<MarkerCase> {};

TEST_P(ParamNamesTest, FindsDistinctMarkersOutsideLiteralsAndComments)
{
    EXPECT_EQ(ParamNames(GetParam().sql), GetParam().names);
}

INSTANTIATE_TEST_SUITE_P(
    Sql, ParamNamesTest,
    testing::Values(
        MarkerCase{"plain", "SELECT * FROM T WHERE A = :A AND B = :B", {"A", "B"}},
        MarkerCase{"repeated", "WHERE A = :P OR B = :P OR C = :p", {"P"}},
        MarkerCase{"literal", "WHERE A = ':X' AND B = :Y", {"Y"}},
        MarkerCase{"escapedQuote", "WHERE A = 'it''s :X' AND B = :Y", {"Y"}},
        MarkerCase{"quotedIdentifier", "SELECT \":X\" FROM T WHERE B = :Y", {"Y"}},
        MarkerCase{"lineComment", "SELECT 1 -- :X\nFROM T WHERE B = :Y", {"Y"}},
        MarkerCase{"blockComment", "SELECT /* :X \n :Z */ 1 FROM T WHERE B = :Y", {"Y"}},
        MarkerCase{"unterminatedComment", "SELECT :A /* :X", {"A"}},
        MarkerCase{"cast", "SELECT A::INTEGER, :B::TEXT FROM T", {"B"}},
        MarkerCase{"digitsAndUnderscores", "WHERE A = :P_INSC_2 AND B = :_x1", {"P_INSC_2", "_x1"}},
        MarkerCase{"notANameStart", "WHERE A = :1 AND B = : C", {}},
        MarkerCase{"atEnd", "WHERE A = :LAST", {"LAST"}},
        MarkerCase{"allFlagIdiom", "WHERE (CDINSCMUNI = :P_INSCMUNI OR :P_TINSCMUNI = 'T')",
                   {"P_INSCMUNI", "P_TINSCMUNI"}}),
    [](const testing::TestParamInfo<MarkerCase> &info) { return std::string(info.param.label); });

TEST(FindParamMarkers, ReportsOffsetsOfEveryOccurrence)
{
    const std::string sql = "A = :P OR B = :P";
    auto markers = FindParamMarkers(sql);
    ASSERT_EQ(markers.size(), 2u);
    EXPECT_EQ(sql.substr(markers[1].offset, markers[1].length), ":P");
}

TEST(TParams, ParseLookupAndMissingName)
{
    TParams params;
    params.ParseSQL("WHERE A = :P_EMPRESA AND B = :P_Serie");
    ASSERT_EQ(params.Count(), 2);
    EXPECT_EQ(params.ParamByName("p_empresa"), params.Items(0));
    EXPECT_EQ(params.FindParam("NOPE"), nullptr);
    try {
        params.ParamByName("P_X");
        FAIL() << "missing parameter accepted";
    } catch (const EDatabaseError &e) {
        EXPECT_STREQ(e.what(), "Parâmetro 'P_X' não encontrado.");
    }
    EXPECT_THROW(params.Items(2), EDatabaseError);
}

TEST(TParam, EmptyTextStaysTextAndClearMeansNull)
{
    TParam p("P");
    EXPECT_TRUE(p.IsNull());
    p.SetAsString("");
    EXPECT_FALSE(p.IsNull());
    EXPECT_EQ(p.AsVariant(), Variant(""));
    p.SetAsString("x");
    EXPECT_EQ(p.AsString(), "x");
    p.Clear();
    EXPECT_TRUE(p.IsNull());
    EXPECT_EQ(p.AsString(), "");
}

TEST(Variant, TextForms)
{
    EXPECT_EQ(Variant().asString(), "");
    EXPECT_EQ(Variant(2.5).asString(), "2.5");
    EXPECT_EQ(Variant(3.0).asString(), "3");
    EXPECT_EQ(Variant(EncodeDate(2024, 2, 29)).asString(), "2024-02-29");
    EXPECT_EQ(Variant(TDateTime(EncodeDate(2024, 2, 29).Val + 0.75)).asString(),
              "2024-02-29 18:00:00");
    // A time that rounds up to midnight belongs to the next day.
    EXPECT_EQ(Variant(TDateTime(EncodeDate(2024, 2, 29).Val + 0.9999999)).asString(),
              "2024-03-01");
}

TEST(Variant, Conversions)
{
    EXPECT_DOUBLE_EQ(Variant(" 12.5 ").asNumber(), 12.5);
    EXPECT_DOUBLE_EQ(Variant("-3").asNumber(), -3);
    for (const char *bad : {"", "12a", "abc", "1,5"})
        EXPECT_THROW(Variant(bad).asNumber(), EConvertError) << bad;
    EXPECT_THROW(Variant().asNumber(), EConvertError);
    EXPECT_THROW(Variant("2024-01-01").asDateTime(), EConvertError);
    EXPECT_EQ(Variant(45000.0).asDateTime(), TDateTime(45000.0));
}

TEST(SplitSqlScript, StatementsCommentsAndLiterals)
{
    const std::string script =
        "-- header; with a semicolon\n"
        "CREATE TABLE T (\n  A VARCHAR(5));\n"
        "INSERT INTO T VALUES ('a;b');\n"
        "INSERT INTO T VALUES ('x;\n-- not a comment');  -- trailing\n"
        "INSERT INTO T VALUES ('it''s') ;\n"
        "SELECT 1";
    EXPECT_EQ(SplitSqlScript(script),
              (Names{"CREATE TABLE T (\n  A VARCHAR(5))", "INSERT INTO T VALUES ('a;b')",
                     "INSERT INTO T VALUES ('x;\n-- not a comment')",
                     "INSERT INTO T VALUES ('it''s')", "SELECT 1"}));
}
} // namespace

namespace {

// Statements' parameter names are remembered; past a few thousand the memory
// starts again. Lists handed out before that must stay whole, and every
// statement must still give its own names afterwards.
TEST(TParams, NamesStayRightWhenTheRememberedStatementsTurnOver)
{
    TParams early;
    early.ParseSQL("SELECT 1 FROM T WHERE A = :P_FIRST AND B = :P_SECOND");
    for (int i = 0; i < 5000; ++i) {
        TParams p;
        const std::string name = "P_" + std::to_string(i);
        p.ParseSQL("SELECT :" + name + " FROM T" + std::to_string(i) + " WHERE X = :Q");
        ASSERT_EQ(p.Count(), 2) << i;
        EXPECT_EQ(p.Items(0)->Name, name);
    }
    ASSERT_EQ(early.Count(), 2);
    EXPECT_EQ(early.Items(0)->Name, "P_FIRST");
    EXPECT_EQ(early.Items(1)->Name, "P_SECOND");
    TParams again;
    again.ParseSQL("SELECT 1 FROM T WHERE A = :P_FIRST AND B = :P_SECOND");
    EXPECT_NE(again.FindParam("P_SECOND"), nullptr);
    EXPECT_EQ(again.Count(), 2);
}

} // namespace
