// The Firebird session against a real server with the demo database
// (scripts/firebird-create-db.sh). Server tests skip unless FIS_FB_DATABASE is set.
#include "data/dberrors.h"
#include "data/firebird/session.h"
#include "../data/row_stream.h"
#include "rtl/datetime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>

namespace {
using Column = std::vector<std::optional<std::string>>;

Column firstColumn(const ResultSet &rs)
{
    Column out;
    for (const auto &row : rs.rows)
        out.push_back(row.at(0));
    return out;
}

std::string env(const char *name, const char *fallback)
{
    const char *v = std::getenv(name);
    return v && *v ? v : fallback;
}

FirebirdConnection connectionFromEnv()
{
    FirebirdConnection c;
    c.host = env("FIS_FB_HOST", "127.0.0.1");
    c.port = std::atoi(env("FIS_FB_PORT", "3050").c_str());
    c.database = env("FIS_FB_DATABASE", "");
    c.user = env("FIS_FB_USER", "FISREAD");
    c.password = env("FIS_FB_PASSWORD", "fisread");
    return c;
}

// Names a table row by its label in test output.
template <class Case>
    requires requires(const Case &c) { c.label; }
std::ostream &operator<<(std::ostream &os, const Case &c)
{
    return os << c.label;
}

// ---- statement text handed to SOCI (no server needed) ----

struct RewriteCase {
    const char *label;
    std::string sql;
    std::string sent;
    std::vector<std::string> markers;
};

class RewriteTest : public testing::TestWithParam<RewriteCase> {};

TEST_P(RewriteTest, MarkersAreDistinctAndCommentsBlank)
{
    const FirebirdStatementText t = PrepareFirebirdStatement(GetParam().sql);
    EXPECT_EQ(t.sql, GetParam().sent);
    EXPECT_EQ(t.markers, GetParam().markers);
    ASSERT_EQ(t.bindNames.size(), t.markers.size());
}

INSTANTIATE_TEST_SUITE_P(
    Statements, RewriteTest,
    testing::Values(
        RewriteCase{"repeatedName", "A = :P_X OR B = :P_X", "A = :P_X OR B = :P_X__2", {"P_X", "P_X"}},
        RewriteCase{"otherSpelling", ":a || :A", ":a || :A__2", {"a", "A"}},
        // A new name must not take the spelling of a marker still to come.
        RewriteCase{"newNameAvoidsRealOne", ":P :P :P__2", ":P :P__3 :P__2", {"P", "P", "P__2"}},
        RewriteCase{"nonAsciiName", ":DATA_INÍCIO = 1", ":P__2 = 1", {"DATA_INÍCIO"}},
        RewriteCase{"quoteInLineComment", "SELECT 1 -- don't\nFROM T WHERE A = :A",
                    "SELECT 1         \nFROM T WHERE A = :A", {"A"}},
        RewriteCase{"markerInBlockComment", "/* :X it's */ :Y", "              :Y", {"Y"}},
        RewriteCase{"colonInLiteral", "A = ':B -- x' AND C = :C", "A = ':B -- x' AND C = :C", {"C"}}),
    [](const testing::TestParamInfo<RewriteCase> &info) { return std::string(info.param.label); });

TEST(RewriteTest, QuotedIdentifierSociWouldMisreadIsRefused)
{
    EXPECT_THROW(PrepareFirebirdStatement("SELECT \"A:B\" FROM T WHERE X = :X"), EDatabaseError);
    EXPECT_THROW(PrepareFirebirdStatement("SELECT \"it's\" FROM T"), EDatabaseError);
    EXPECT_NO_THROW(PrepareFirebirdStatement("SELECT \"Name\" FROM T WHERE X = :X"));
}

TEST(FirebirdConnectTest, UnusableConnectionValuesAreRefusedBeforeConnecting)
{
    FirebirdConnection c;
    EXPECT_THROW(OpenFirebirdSession(c), EDatabaseError);  // no database
    c.database = "/tmp/x.fdb";
    c.password = "a \"b";  // SOCI cannot carry a double quote together with a blank
    EXPECT_THROW(OpenFirebirdSession(c), EDatabaseError);
}

// ---- against the server ----

class FirebirdTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (env("FIS_FB_DATABASE", "").empty())
            GTEST_SKIP() << "FIS_FB_DATABASE is not set; run scripts/firebird-create-db.sh";
        db = OpenFirebirdSession(connectionFromEnv());
    }
    std::unique_ptr<DatabaseSession> db;
};

TEST_F(FirebirdTest, WrongPasswordIsRefused)
{
    FirebirdConnection c = connectionFromEnv();
    c.password += "-wrong";
    EXPECT_THROW(OpenFirebirdSession(c), EDatabaseError);
}

struct FilterCase {
    const char *label;
    Variant value;
    Column codes;
};

// Optional filter through PARAM/NVLSTR: NULL (or empty text) keeps every row
// whose column is not NULL; a value keeps the matching rows.
class ParamFilterTest : public FirebirdTest, public testing::WithParamInterface<FilterCase> {};

TEST_P(ParamFilterTest, SeriesByMunicipalRegistration)
{
    auto rs = db->Query("SELECT CDSERIE FROM SERIENF, PARAM(:P_INSCMUNI) P_INSCMUNI "
                        "WHERE (CDINSCMUNI = NVLSTR(P_INSCMUNI.PARAM, CDINSCMUNI)) "
                        "ORDER BY CDEMPRESA, CDINSCESTA, CDSERIE, CDINSCMUNI",
                        {{"P_INSCMUNI", GetParam().value}});
    EXPECT_EQ(firstColumn(rs), GetParam().codes);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ParamFilterTest,
    testing::Values(FilterCase{"null", Variant::Null(), {"3", "U", "1", "1", "2", "1", "A"}},
                    FilterCase{"emptyTextIsNull", Variant(""), {"3", "U", "1", "1", "2", "1", "A"}},
                    FilterCase{"value", Variant("55501"), {"1", "A"}},
                    FilterCase{"sqlInValue", Variant("' OR 1=1 --"), {}}),
    [](const testing::TestParamInfo<FilterCase> &info) { return std::string(info.param.label); });

TEST_F(FirebirdTest, CompanyLookupThroughParam)
{
    const std::string sql = "SELECT CDEMPRESA, NMEMPRESA FROM EMPRESA, PARAM(:P_EMPRESA) P_EMPRESA "
                            "WHERE (CDEMPRESA = NVLSTR(P_EMPRESA.PARAM, CDEMPRESA)) ORDER BY CDEMPRESA";
    auto all = db->Query(sql, {{"P_EMPRESA", Variant::Null()}});
    EXPECT_EQ(all.columns, (std::vector<std::string>{"CDEMPRESA", "NMEMPRESA"}));
    EXPECT_EQ(firstColumn(all), (Column{"01", "02", "03", "09", "10"}));
    EXPECT_EQ(all.rows.at(3).at(1), std::nullopt);  // company without a name reads NULL, not ""

    auto one = db->Query(sql, {{"P_EMPRESA", "01"}});
    ASSERT_EQ(one.rows.size(), 1u);
    EXPECT_EQ(one.rows[0][1], "Comercial Andorinha Ltda");
}

TEST_F(FirebirdTest, RepeatedNameGetsTheSameValueEachTime)
{
    // The second use sits in a function argument, where a lost NULL would show.
    const std::string sql = "SELECT CDEMPRESA FROM EMPRESA WHERE CDEMPRESA = :P_EMPRESA "
                            "OR CDEMPRESA = NVLSTR(:p_empresa, '10') ORDER BY CDEMPRESA";
    EXPECT_EQ(firstColumn(db->Query(sql, {{"P_EMPRESA", "02"}})), (Column{"02"}));
    EXPECT_EQ(firstColumn(db->Query(sql, {{"P_EMPRESA", Variant::Null()}})), (Column{"10"}));
}

struct AllFlagCase {
    const char *label;
    Variant code;
    Variant all;
    std::size_t rows;
};

class AllFlagTest : public FirebirdTest, public testing::WithParamInterface<AllFlagCase> {};

TEST_P(AllFlagTest, FlagTakesEveryRow)
{
    auto rs = db->Query("SELECT CDEMPRESA, CDINSCMUNI FROM INSCRMUNICIP "
                        "WHERE (CDINSCMUNI = :P_INSCMUNI OR :P_TINSCMUNI = 'T')",
                        {{"P_INSCMUNI", GetParam().code}, {"P_TINSCMUNI", GetParam().all}});
    EXPECT_EQ(rs.rows.size(), GetParam().rows);
}

INSTANTIATE_TEST_SUITE_P(
    Values, AllFlagTest,
    testing::Values(AllFlagCase{"nullFlagFilters", "55501", Variant::Null(), 1},
                    AllFlagCase{"emptyFlagFilters", "55501", "", 1},
                    AllFlagCase{"flagT", "55501", "T", 4},
                    AllFlagCase{"flagTWithoutCode", Variant::Null(), "T", 4},
                    AllFlagCase{"neither", Variant::Null(), Variant::Null(), 0},
                    AllFlagCase{"otherFlag", "55501", "F", 1}),
    [](const testing::TestParamInfo<AllFlagCase> &info) { return std::string(info.param.label); });

TEST_F(FirebirdTest, ConcatenatedKeyIsNamedByItsAlias)
{
    auto rs = db->Query("SELECT IDENTRSAIDOP||CDTIPOOPER AS CHAVE, NMTIPOOPER FROM TIPOOPERAC "
                        "WHERE IDENTRSAIDOP = :P_ES ORDER BY 1",
                        {{"P_ES", "S"}});
    EXPECT_EQ(rs.columns, (std::vector<std::string>{"CHAVE", "NMTIPOOPER"}));
    EXPECT_EQ(firstColumn(rs), (Column{"S01", "S02", "S03", "S04"}));
}

TEST_F(FirebirdTest, CommentWithApostropheBeforeAMarker)
{
    auto rs = db->Query("SELECT CDEMPRESA -- the company's code\n"
                        "FROM EMPRESA /* it's */ WHERE CDEMPRESA = :P AND NMEMPRESA <> ':P'",
                        {{"P", "03"}});
    EXPECT_EQ(firstColumn(rs), (Column{"03"}));
}

TEST_F(FirebirdTest, ReadOnlyLoginCannotWrite)
{
    EXPECT_THROW(db->Execute("INSERT INTO EMPRESA VALUES ('99', 'Nova')"), EDatabaseError);
    EXPECT_THROW(db->Query("UPDATE EMPRESA SET NMEMPRESA = 'x'", {}), EDatabaseError);
    // The session survives the refusal and nothing was written.
    auto rs = db->Query("SELECT COUNT(*) FROM EMPRESA WHERE CDEMPRESA = '99' OR NMEMPRESA = 'x'", {});
    EXPECT_EQ(firstColumn(rs), (Column{"0"}));
}

TEST_F(FirebirdTest, ServerErrorsAreDatabaseErrors)
{
    EXPECT_THROW(db->Query("SELECT NOSUCHCOLUMN FROM EMPRESA", {}), EDatabaseError);
    EXPECT_THROW(db->Query("SELECT CDEMPRESA FROM EMPRESA WHERE CDEMPRESA = :P", {}), EDatabaseError);
    EXPECT_THROW(db->Query("SELECT 1 FROM RDB$DATABASE", {{"P", "x"}}), EDatabaseError);
    EXPECT_EQ(db->Query("SELECT 1 FROM RDB$DATABASE", {}).rows.size(), 1u);
}

TEST_F(FirebirdTest, EachQuerySeesAFreshSnapshot)
{
    // Monitoring tables stay frozen for the life of a transaction, so a second
    // attachment shows up only if the next query runs in a new one.
    const std::string count =
        "SELECT COUNT(*) FROM MON$ATTACHMENTS WHERE MON$USER = CURRENT_USER";
    const std::string before = *db->Query(count, {}).rows.at(0).at(0);
    auto other = OpenFirebirdSession(connectionFromEnv());
    other->Query("SELECT 1 FROM RDB$DATABASE", {});
    const std::string after = *db->Query(count, {}).rows.at(0).at(0);
    EXPECT_GT(std::stoi(after), std::stoi(before));  // other test runs may connect too
}

struct CellCase {
    const char *label;
    std::string expr;
    std::optional<std::string> text;
};

class CellTextTest : public FirebirdTest, public testing::WithParamInterface<CellCase> {};

TEST_P(CellTextTest, ColumnReadsAs)
{
    auto rs = db->Query("SELECT " + GetParam().expr + " AS V FROM RDB$DATABASE", {});
    ASSERT_EQ(rs.rows.size(), 1u);
    EXPECT_EQ(rs.rows[0][0], GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Types, CellTextTest,
    testing::Values(CellCase{"varcharKeepsBlanks", "CAST('ab  ' AS VARCHAR(10))", "ab  "},
                    CellCase{"charLosesPadding", "CAST('ab' AS CHAR(5))", "ab"},
                    CellCase{"charMultiByte", "CAST('ção' AS CHAR(6))", "ção"},
                    CellCase{"literalIsChar", "'T'", "T"},
                    CellCase{"binaryCharKeepsBytes", "x'6120'", "a "},
                    CellCase{"nullStaysNull", "CAST(NULL AS VARCHAR(5))", std::nullopt},
                    CellCase{"integer", "CAST(-42 AS INTEGER)", "-42"},
                    CellCase{"bigintEveryDigit", "CAST(9007199254740993 AS BIGINT)", "9007199254740993"},
                    CellCase{"decimal", "CAST(1.50 AS NUMERIC(15,2))", "1.5"},
                    CellCase{"negativeDecimal", "CAST(-0.5 AS NUMERIC(9,2))", "-0.5"},
                    CellCase{"double", "CAST(2.5 AS DOUBLE PRECISION)", "2.5"},
                    CellCase{"float", "CAST(0.1 AS FLOAT)", "0.1"},
                    CellCase{"date", "DATE '2024-03-01'", "2024-03-01"},
                    CellCase{"timestamp", "TIMESTAMP '2024-03-01 10:20:30'", "2024-03-01 10:20:30"},
                    CellCase{"midnight", "TIMESTAMP '2024-03-01 00:00:00'", "2024-03-01"},
                    CellCase{"time", "TIME '10:20:30'", "10:20:30"},
                    CellCase{"boolean", "TRUE", "TRUE"},
                    CellCase{"textBlob", "CAST('ção ' AS BLOB SUB_TYPE TEXT)", "ção "}),
    [](const testing::TestParamInfo<CellCase> &info) { return std::string(info.param.label); });

struct BindCase {
    const char *label;
    std::string expr;  // uses :P
    Variant value;
    std::optional<std::string> text;  // nullopt: NULL
};

class BindTest : public FirebirdTest, public testing::WithParamInterface<BindCase> {};

TEST_P(BindTest, ValueArrivesAs)
{
    auto rs = db->Query("SELECT " + GetParam().expr + " AS V FROM RDB$DATABASE",
                        {{"P", GetParam().value}});
    ASSERT_EQ(rs.rows.size(), 1u);
    EXPECT_EQ(rs.rows[0][0], GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, BindTest,
    testing::Values(BindCase{"textThroughParam", "(SELECT PARAM FROM PARAM(:P))", "ção", "ção"},
                    BindCase{"blankIsNotNull", "(SELECT PARAM FROM PARAM(:P))", " ", " "},
                    BindCase{"nullInCoalesce", "COALESCE(:P, 'none')", Variant::Null(), "none"},
                    BindCase{"emptyInCoalesce", "COALESCE(:P, 'none')", "", "none"},
                    BindCase{"numberToInteger", "CAST(:P AS INTEGER) + 1", 41.0, "42"},
                    BindCase{"numberToDouble", "CAST(:P AS DOUBLE PRECISION) * 2", 1.25, "2.5"},
                    BindCase{"numberToDecimal", "CAST(:P AS NUMERIC(15,2))", 0.29, "0.29"},
                    BindCase{"dateToDate", "CAST(:P AS DATE)", Variant(EncodeDate(2024, 3, 1)), "2024-03-01"},
                    BindCase{"textToDate", "CAST(:P AS DATE)", "2024-02-29", "2024-02-29"},
                    BindCase{"textToTimestamp", "CAST(:P AS TIMESTAMP)", "2024-02-29T08:00:05",
                             "2024-02-29 08:00:05"},
                    BindCase{"textToTime", "CAST(:P AS TIME)", "08:00", "08:00:00"},
                    BindCase{"dateToTimestamp", "CAST(:P AS TIMESTAMP)",
                             Variant(TDateTime(EncodeDate(2024, 3, 1).Val + 0.5)), "2024-03-01 12:00:00"},
                    BindCase{"nullToDate", "CAST(:P AS DATE)", Variant::Null(), std::nullopt}),
    [](const testing::TestParamInfo<BindCase> &info) { return std::string(info.param.label); });

TEST_F(FirebirdTest, ValuesThatCannotBeTakenSafelyAreRefused)
{
    for (const char *date : {"2024-02-30", "01/02/2024", "TODAY", "2024-3-1"})
        EXPECT_THROW(db->Query("SELECT CAST(:P AS DATE) FROM RDB$DATABASE", {{"P", date}}),
                     EDatabaseError)
            << date;
    EXPECT_THROW(db->Query("SELECT CAST(:P AS INTEGER) FROM RDB$DATABASE", {{"P", "12x"}}),
                 EDatabaseError);
    // Longer than the column it is compared with.
    EXPECT_THROW(db->Query("SELECT 1 FROM EMPRESA WHERE CDEMPRESA = :P", {{"P", "001"}}),
                 EDatabaseError);
}
} // namespace

TEST_F(FirebirdTest, RowsStreamAsTheWholeResultReads)
{
    CheckRowStreaming(*db,
                      "SELECT CDEMPRESA, NMEMPRESA, CAST(NULL AS VARCHAR(5)) AS NADA, CAST(1.5 AS NUMERIC(9,2)) AS NUM "
                      "FROM EMPRESA WHERE CDEMPRESA <> CAST(:P AS VARCHAR(2)) ORDER BY CDEMPRESA",
                      {{"P", "zz"}});
}
