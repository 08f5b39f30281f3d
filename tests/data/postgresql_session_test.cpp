// PostgreSQL's own: how statements reach the server, how its values read and
// what a person reads for its failures. The shared promises of every session
// are in session_test.cpp.
#include "../support/postgresql_env.h"
#include "data/dberrors.h"
#include "data/writer.h"

#include <gtest/gtest.h>

#include <functional>

namespace {
using Column = std::vector<std::optional<std::string>>;

struct RewriteCase {
    const char *label;
    std::string sql;
    std::string server;
    std::vector<std::string> names;
    bool commonTables = false;
};

class PostgresqlRewriteTest : public testing::TestWithParam<RewriteCase> {};

TEST_P(PostgresqlRewriteTest, MarkersBecomeNumberedParameters)
{
    const PostgresqlStatementText t = PreparePostgresqlStatement(GetParam().sql);
    EXPECT_EQ(t.sql, GetParam().server);
    EXPECT_EQ(t.names, GetParam().names);
    EXPECT_EQ(t.commonTables, GetParam().commonTables);
}

INSTANTIATE_TEST_SUITE_P(
    Statements, PostgresqlRewriteTest,
    testing::Values(
        RewriteCase{"none", "SELECT 1", "SELECT 1", {}},
        RewriteCase{"repeatedNameIsOneParameter", "SELECT :A, :B, :a", "SELECT $1, $2, $1", {"A", "B"}},
        RewriteCase{"castIsNoMarker", "SELECT :A::text, CAST(:B AS INT)", "SELECT $1::text, CAST($2 AS INT)",
                    {"A", "B"}},
        RewriteCase{"quotedAndCommentedMarkersStay", "SELECT ':A', \":B\" -- :C\n, :D /* :E */",
                    "SELECT ':A', \":B\" -- :C\n, $1 /* :E */", {"D"}},
        RewriteCase{"nonAsciiName", "SELECT :AÇÃO || :ação", "SELECT $1 || $1", {"AÇÃO"}},
        RewriteCase{"withSaysRecursive", "WITH C (N) AS (SELECT :A UNION ALL SELECT N + 1 FROM C) SELECT N FROM C",
                    "WITH RECURSIVE C (N) AS (SELECT $1 UNION ALL SELECT N + 1 FROM C) SELECT N FROM C", {"A"}, true},
        RewriteCase{"withAfterAComment", "-- why\nwith T AS (SELECT 1) SELECT * FROM T",
                    "-- why\nwith RECURSIVE T AS (SELECT 1) SELECT * FROM T", {}, true},
        RewriteCase{"recursiveSaidOnce", "WITH  recursive T AS (SELECT 1) SELECT * FROM T",
                    "WITH  recursive T AS (SELECT 1) SELECT * FROM T", {}, true},
        RewriteCase{"withElsewhereStays", "SELECT * FROM (WITH T AS (SELECT 1) SELECT * FROM T) X",
                    "SELECT * FROM (WITH T AS (SELECT 1) SELECT * FROM T) X", {}},
        RewriteCase{"withoutIsAName", "SELECT WITHOUT FROM T", "SELECT WITHOUT FROM T", {}}),
    [](const testing::TestParamInfo<RewriteCase> &info) { return std::string(info.param.label); });

TEST(PostgresqlQueryShape, OnlyWhatStartsAQueryRuns)
{
    const std::pair<const char *, bool> cases[] = {
        {"SELECT 1", true},
        {"  \n select 1", true},
        {"-- why\n/* what */ WITH T AS (SELECT 1) SELECT * FROM T", true},
        {"(SELECT 1) UNION (SELECT 2)", true},
        {"VALUES (1)", true},
        {"TABLE EMPRESA", true},
        {"SELECTX 1", false},
        {"SET ROLE fis_owner", false},
        {"CALL p()", false},
        {"DO $$ BEGIN END $$", false},
        {"-- only a comment", false},
        {"/* never closed SELECT 1", false},
        {"", false},
    };
    for (const auto &[sql, query] : cases)
        EXPECT_EQ(LooksLikePostgresqlQuery(sql), query) << sql;
}

TEST(PostgresqlFailureText, TheServersFailuresInPortugueseAStatementsMistakesAsTheyAre)
{
    const std::pair<const char *, const char *> cases[] = {
        {"53100", "disco do servidor"},      {"40P01", "bloqueados"},     {"55P03", "bloqueados"},
        {"57P01", "desligado no servidor"},  {"28P01", "recusou o usuário"}, {"42501", "não tem permissão"},
        {"3D000", "não existe no servidor"}, {"08006", "não está disponível"}, {"XX001", "danificados"},
        {"42703", ""},                       {"22P02", ""},               {"", ""},
    };
    for (const auto &[state, words] : cases) {
        const std::string text = PostgresqlFailureText(state);
        if (*words == '\0')
            EXPECT_EQ(text, "") << state;
        else
            EXPECT_NE(text.find(words), std::string::npos) << state << ": " << text;
    }
}

TEST(PostgresqlConnectTest, ConnectStringQuotesEveryValueAndRefusesUnusableOnes)
{
    PostgresqlConnection c;
    c.database = "fis demo";
    c.user = "o'brien";
    c.password = "a\\b c";
    const std::string s = PostgresqlConnectString(c);
    EXPECT_NE(s.find("dbname='fis demo'"), std::string::npos) << s;
    EXPECT_NE(s.find("user='o\\'brien'"), std::string::npos) << s;
    EXPECT_NE(s.find("password='a\\\\b c'"), std::string::npos) << s;
    c.port = 70000;
    EXPECT_THROW(PostgresqlConnectString(c), EDatabaseError);
    c.port = 5432;
    c.database.clear();
    EXPECT_THROW(OpenPostgresqlSession(c), EDatabaseError);
}

class PostgresqlTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (const std::string why = PostgresqlUnavailable(); !why.empty())
            GTEST_SKIP() << why;
        db = OpenPostgresqlSession(PostgresqlFromEnv());
    }
    std::unique_ptr<DatabaseSession> db;
};

TEST_F(PostgresqlTest, ARefusedConnectionSaysWhyAndKeepsTheEnginesWords)
{
    struct Case {
        const char *label;
        std::function<void(PostgresqlConnection &)> spoil;
        const char *says;
    };
    const Case cases[] = {
        {"wrong password", [](PostgresqlConnection &c) { c.password += "-errada"; }, "recusou o usuário ou a senha"},
        {"no server on the port", [](PostgresqlConnection &c) { c.port = 1; }, "não está disponível ou recusou"},
        {"missing database", [](PostgresqlConnection &c) { c.database += "_nao_existe"; }, "não existe no servidor"},
    };
    for (const Case &k : cases) {
        PostgresqlConnection c = PostgresqlFromEnv();
        k.spoil(c);
        try {
            OpenPostgresqlSession(c);
            ADD_FAILURE() << k.label << ": connected";
        } catch (const EDatabaseError &e) {
            EXPECT_NE(std::string(e.what()).find(k.says), std::string::npos) << k.label << ": " << e.what();
            EXPECT_FALSE(e.EngineText().empty()) << k.label;
        }
    }
}

TEST_F(PostgresqlTest, ReadOnlyLoginCannotWriteEvenThroughExecute)
{
    EXPECT_THROW(db->Execute("UPDATE EMPRESA SET NMEMPRESA = 'x'"), EDatabaseError);
    EXPECT_EQ(db->Query("SELECT COUNT(*) FROM EMPRESA WHERE NMEMPRESA = 'x'", {}).rows.at(0).at(0), "0");
}

TEST_F(PostgresqlTest, EachCallRunsInATransactionOfItsOwn)
{
    // A transaction kept open between calls would pin the snapshot of its start.
    const std::string sql = "SELECT CAST(transaction_timestamp() AS TEXT)";
    const auto first = db->Query(sql, {}).rows.at(0).at(0);
    const auto second = db->Query(sql, {}).rows.at(0).at(0);
    EXPECT_NE(first, second);
}

struct CellCase {
    const char *label;
    std::string expr;
    std::optional<std::string> text;
};

class PostgresqlCellTest : public PostgresqlTest, public testing::WithParamInterface<CellCase> {};

TEST_P(PostgresqlCellTest, ColumnReadsAs)
{
    auto rs = db->Query("SELECT " + GetParam().expr + " AS V", {});
    ASSERT_EQ(rs.rows.size(), 1u);
    EXPECT_EQ(rs.columns, (std::vector<std::string>{"V"}));
    EXPECT_EQ(rs.rows[0][0], GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Types, PostgresqlCellTest,
    testing::Values(CellCase{"varcharKeepsBlanks", "CAST('ab  ' AS VARCHAR(10))", "ab  "},
                    CellCase{"charLosesPadding", "CAST('ab' AS CHAR(5))", "ab"},
                    CellCase{"charMultiByte", "CAST('ção' AS CHAR(6))", "ção"},
                    CellCase{"nullStaysNull", "CAST(NULL AS VARCHAR(5))", std::nullopt},
                    CellCase{"bigintEveryDigit", "CAST(9007199254740993 AS BIGINT)", "9007199254740993"},
                    CellCase{"decimal", "CAST(1.50 AS NUMERIC(15,2))", "1.5"},
                    CellCase{"decimalWhole", "CAST(2 AS NUMERIC(15,2))", "2"},
                    CellCase{"decimalEveryDigit", "CAST(1234567890123.45 AS NUMERIC(15,2))", "1234567890123.45"},
                    CellCase{"negativeZero", "CAST(-0.001 AS NUMERIC(9,2))", "0"},
                    CellCase{"integerKeepsZeros", "CAST(100 AS INTEGER)", "100"},
                    CellCase{"double", "CAST(2.5 AS DOUBLE PRECISION)", "2.5"},
                    CellCase{"doubleMillionInPlainDigits", "CAST(1000000 AS DOUBLE PRECISION)", "1000000"},
                    CellCase{"date", "DATE '2024-03-01'", "2024-03-01"},
                    CellCase{"timestamp", "TIMESTAMP '2024-03-01 10:20:30'", "2024-03-01 10:20:30"},
                    CellCase{"midnight", "TIMESTAMP '2024-03-01 00:00:00'", "2024-03-01"},
                    CellCase{"time", "TIME '10:20:30'", "10:20:30"},
                    CellCase{"boolean", "TRUE", "1"},
                    CellCase{"nextDay", "DIASEGUINTE(DATE '2024-02-28')", "2024-02-29"},
                    CellCase{"instr", "INSTR(',A,B,', ',B,')", "3"},
                    CellCase{"nvlKeepsNull", "NVL(CAST(NULL AS VARCHAR(2)), NULL)", std::nullopt}),
    [](const testing::TestParamInfo<CellCase> &info) { return std::string(info.param.label); });

TEST_F(PostgresqlTest, QuotedNamesKeepTheirCase)
{
    auto rs = db->Query("SELECT 1 AS \"Valor\", 2 AS total, 3 AS \"TOTAL2\"", {});
    EXPECT_EQ(rs.columns, (std::vector<std::string>{"Valor", "TOTAL", "TOTAL2"}));
}

TEST_F(PostgresqlTest, AParameterUsedOnlyWhereNoTypeShowsIsText)
{
    const std::string sql = "SELECT CDEMPRESA FROM EMPRESA WHERE (:P_T = 'T' OR :P_T IS NULL) "
                            "AND CDEMPRESA = NVL(:P_EMPRESA, CDEMPRESA) ORDER BY 1";
    EXPECT_EQ(db->Query(sql, {{"P_T", "T"}, {"P_EMPRESA", "02"}}).rows.size(), 1u);
    EXPECT_EQ(db->Query(sql, {{"P_T", "F"}, {"P_EMPRESA", "02"}}).rows.size(), 0u);
    EXPECT_EQ(db->Query(sql, {{"P_T", Variant::Null()}, {"P_EMPRESA", Variant::Null()}}).rows.size(), 5u);
    // Tested for NULL before the comparison that would type it.
    const std::string nullFirst = "SELECT COUNT(*) FROM EMPRESA WHERE (:P IS NULL OR CDEMPRESA = :P)";
    EXPECT_EQ(db->Query(nullFirst, {{"P", "01"}}).rows.at(0).at(0), "1");
    EXPECT_EQ(db->Query(nullFirst, {{"P", ""}}).rows.at(0).at(0), "5");
    // Tested for NULL, then compared with a number.
    const std::string number = "SELECT COUNT(*) FROM NOTAFISCAL WHERE (:P IS NULL OR NRNOTAFISC = :P)";
    EXPECT_EQ(db->Query(number, {{"P", ""}}).rows.at(0).at(0),
              db->Query("SELECT COUNT(*) FROM NOTAFISCAL", {}).rows.at(0).at(0));
    EXPECT_NO_THROW(db->Query(number, {{"P", "1"}}));
    EXPECT_EQ(db->Query(number, {{"P", "99999999999999999999"}}).rows.at(0).at(0), "0");
    // Past nine parameters, where the server's quote of the statement is cut short.
    std::string many = "SELECT COUNT(*) FROM EMPRESA WHERE CDEMPRESA <> :A1";
    NamedValues values{{"A1", "x"}};
    for (int i = 2; i <= 12; ++i) {
        const std::string name = "A" + std::to_string(i);
        many += " AND (:" + name + " IS NULL OR CDEMPRESA = :" + name + ")";
        values.emplace_back(name, "");
    }
    EXPECT_EQ(db->Query(many, values).rows.at(0).at(0), "5");
}

TEST_F(PostgresqlTest, OnlyAStatementOpeningWithCommonTablesIsPlannedWithoutNestedLoops)
{
    const std::string plain = "SELECT current_setting('enable_nestloop')";
    const std::string common = "WITH T (V) AS (SELECT current_setting('enable_nestloop')) SELECT V FROM T";
    // Each in turn, alone and within a snapshot, where the setting must not
    // outlive its statement in the held transaction.
    for (const bool snapshot : {false, true}) {
        if (snapshot)
            db->BeginSnapshot();
        for (int round = 0; round < 2; ++round) {
            EXPECT_EQ(db->Query(plain, {}).rows.at(0).at(0), "on") << snapshot << round;
            EXPECT_EQ(db->Query(common, {}).rows.at(0).at(0), "off") << snapshot << round;
        }
        EXPECT_EQ(db->Query(plain, {}).rows.at(0).at(0), "on") << snapshot;
        if (snapshot)
            db->EndSnapshot();
    }
}

TEST_F(PostgresqlTest, AnOptionalFilterIsPlannedForTheValueBound)
{
    // Left in the plan, the filter's every branch is planned and estimated.
    struct Case {
        const char *label;
        std::string sql;
        NamedValues values;
    };
    const Case cases[] = {
        {"emptyFilter", "SELECT COUNT(*) FROM EMPRESA WHERE (:P IS NULL OR CDEMPRESA = :P)", {{"P", ""}}},
        {"givenFilter", "SELECT COUNT(*) FROM EMPRESA WHERE (:P IS NULL OR CDEMPRESA = :P)", {{"P", "01"}}},
        {"typedLaterInASubquery",
         "SELECT COUNT(*) FROM EMPRESA M WHERE (:A IS NULL AND :B IS NULL OR EXISTS (SELECT 1 FROM EMPRESA E"
         " WHERE E.CDEMPRESA = M.CDEMPRESA AND (:A IS NULL OR E.CDEMPRESA >= :A) AND (:B IS NULL OR E.CDEMPRESA <= :B)))",
         {{"A", ""}, {"B", ""}}},
        {"numberTestedForNullFirst", "SELECT COUNT(*) FROM NOTAFISCAL WHERE (:P IS NULL OR NRNOTAFISC = :P)", {{"P", ""}}},
    };
    for (const Case &c : cases) {
        for (int round = 0; round < 2; ++round) {  // the types learnt, then kept
            const std::string plan = db->Plan(c.sql, c.values);
            EXPECT_EQ(plan.find('$'), std::string::npos) << c.label << " " << round << ":\n" << plan;
        }
        EXPECT_NO_THROW(db->Query(c.sql, c.values)) << c.label;
    }
}

TEST_F(PostgresqlTest, TheImportsLoginRefreshesTheDocumentsStatistics)
{
    // It owns no table: a plain ANALYZE of its own would be skipped with a warning.
    const std::string when = "SELECT COALESCE(CAST(MAX(last_analyze) AS TEXT), '') FROM pg_stat_user_tables"
                             " WHERE relname IN ('notafiscal', 'itemnotafisc', 'impostoitemnf', 'resumocfopnf')"
                             " GROUP BY relname ORDER BY relname";
    const ResultSet before = db->Query(when, {});
    ASSERT_EQ(before.rows.size(), 4u);
    OpenPostgresqlWriter(PostgresqlImportFromEnv())->RefreshStatistics();
    const ResultSet after = db->Query(when, {});
    ASSERT_EQ(after.rows.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_GT(after.rows[i].at(0).value_or(""), before.rows[i].at(0).value_or("")) << i;
}

TEST_F(PostgresqlTest, ValuesTheServerCannotTakeAreRefused)
{
    for (const char *date : {"2024-02-30", "TODAY-ish", "2024-13-01"})
        EXPECT_THROW(db->Query("SELECT CAST(:P AS DATE)", {{"P", date}}), EDatabaseError) << date;
    EXPECT_THROW(db->Query("SELECT CAST(:P AS INTEGER)", {{"P", "12x"}}), EDatabaseError);
    EXPECT_EQ(db->Query("SELECT 1", {}).rows.size(), 1u);
}
} // namespace
