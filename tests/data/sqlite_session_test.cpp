#include "data/dberrors.h"
#include "data/sqlquery.h"
#include "row_stream.h"
#include "testdb.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <unistd.h>

namespace {
using Column = std::vector<std::optional<std::string>>;

Column firstColumn(const ResultSet &rs)
{
    Column out;
    for (const auto &row : rs.rows)
        out.push_back(row.at(0));
    return out;
}

class SqliteTest : public testing::Test {
protected:
    std::unique_ptr<DatabaseSession> db = ReferenceDb();
};

struct BindCase {
    const char *label;
    Variant value;
    std::optional<std::string> arrives;  // as read back; nullopt is NULL
};

class BindTest : public SqliteTest, public testing::WithParamInterface<BindCase> {};

TEST_P(BindTest, ValueArrivesAs)
{
    TSQLQuery qry(db.get());
    qry.SetSQL("SELECT :P IS NULL AS IS_NULL, :P AS V");
    qry.ParamByName("P")->SetAsVariant(GetParam().value);
    EXPECT_EQ(qry.ParamByName("P")->AsVariant(), GetParam().value);  // the param keeps ""
    qry.Open();
    ASSERT_EQ(qry.RecordCount(), 1);
    EXPECT_EQ(qry.FieldByName("IS_NULL")->AsString(), GetParam().arrives ? "0" : "1");
    EXPECT_EQ((*qry.CurrentRow())[1], GetParam().arrives);
}

INSTANTIATE_TEST_SUITE_P(
    Values, BindTest,
    testing::Values(BindCase{"emptyTextIsNull", Variant(""), std::nullopt},
                    BindCase{"null", Variant::Null(), std::nullopt},
                    BindCase{"text", Variant("x"), "x"},
                    BindCase{"blank", Variant(" "), " "},
                    BindCase{"number", Variant(2.5), "2.5"},
                    BindCase{"date", Variant(EncodeDate(2024, 3, 1)), "2024-03-01"}),
    [](const testing::TestParamInfo<BindCase> &info) { return std::string(info.param.label); });

TEST_F(SqliteTest, BindingNamesMustMatchTheStatement)
{
    EXPECT_THROW(db->Query("SELECT :A", {}), EDatabaseError);
    EXPECT_THROW(db->Query("SELECT 1", {{"A", "x"}}), EDatabaseError);
    EXPECT_THROW(db->Query("SELECT :A", {{"A", "x"}, {"a", "y"}}), EDatabaseError);
    auto rs = db->Query("SELECT :A || :a || ':A'", {{"a", "x"}});
    EXPECT_EQ(firstColumn(rs), (Column{"xx:A"}));
}

struct FunctionCase {
    const char *label;
    std::string sql;
    Variant empresa;
    Column codes;
};

class FunctionTest : public SqliteTest, public testing::WithParamInterface<FunctionCase> {};

TEST_P(FunctionTest, OptionalFilterThroughParam)
{
    auto rs = db->Query(GetParam().sql, {{"P_EMPRESA", GetParam().empresa}});
    EXPECT_EQ(rs.columns, (std::vector<std::string>{"CDEMPRESA", "NMEMPRESA"}));
    EXPECT_EQ(firstColumn(rs), GetParam().codes);
}

const std::string kNvlStr =
    "SELECT CDEMPRESA, NMEMPRESA FROM EMPRESA, PARAM(:P_EMPRESA) P_EMPRESA "
    "WHERE (CDEMPRESA = NVLSTR(P_EMPRESA.PARAM, CDEMPRESA)) ORDER BY CDEMPRESA";
const std::string kNvl =
    "SELECT CDEMPRESA, NMEMPRESA FROM EMPRESA WHERE CDEMPRESA = NVL(:P_EMPRESA, CDEMPRESA) "
    "ORDER BY CDEMPRESA";
const Column kAll{"01", "02", "03", "09", "10"};

INSTANTIATE_TEST_SUITE_P(
    Fixture, FunctionTest,
    testing::Values(FunctionCase{"paramNull", kNvlStr, Variant::Null(), kAll},
                    FunctionCase{"paramEmpty", kNvlStr, Variant(""), kAll},
                    FunctionCase{"paramValue", kNvlStr, Variant("01"), {"01"}},
                    FunctionCase{"paramNoMatch", kNvlStr, Variant("99"), {}},
                    FunctionCase{"nvlNull", kNvl, Variant::Null(), kAll},
                    FunctionCase{"nvlValue", kNvl, Variant("09"), {"09"}}),
    [](const testing::TestParamInfo<FunctionCase> &info) { return std::string(info.param.label); });

TEST_F(SqliteTest, FunctionsKeepNullsAndValues)
{
    auto rs = db->Query("SELECT NVL(NULL, 'b'), NVLSTR('a', 'b'), NVL(NULL, NULL), P.PARAM "
                        "FROM PARAM(NULL) P",
                        {});
    ASSERT_EQ(rs.rows.size(), 1u);
    EXPECT_EQ(rs.rows[0], (Column{"b", "a", std::nullopt, std::nullopt}));
    EXPECT_EQ(firstColumn(db->Query("SELECT PARAM FROM PARAM(7)", {})), (Column{"7"}));
}

TEST_F(SqliteTest, ValuesHoldingSqlAreData)
{
    for (const char *hostile : {"01' OR '1'='1", "' OR 1=1 --", "x'; DROP TABLE EMPRESA; --",
                                "01\"", ":P_EMPRESA"}) {
        TSQLQuery qry(db.get());
        qry.SetSQL("SELECT CDEMPRESA FROM EMPRESA WHERE CDEMPRESA = :P_EMPRESA");
        qry.ParamByName("P_EMPRESA")->SetAsString(hostile);
        qry.Open();
        EXPECT_TRUE(qry.IsEmpty()) << hostile;
    }
    auto rs = db->Query("SELECT COUNT(*) FROM EMPRESA", {});
    EXPECT_EQ(firstColumn(rs), (Column{"5"}));
}

TEST_F(SqliteTest, DatabaseErrorsCarryTheMessage)
{
    try {
        db->Query("SELECT NOPE FROM EMPRESA", {});
        FAIL();
    } catch (const EDatabaseError &e) {
        EXPECT_NE(std::string(e.what()).find("NOPE"), std::string::npos) << e.what();
    }
    EXPECT_THROW(db->Execute("INSERT INTO EMPRESA VALUES ('01', 'dup')"), EDatabaseError);
}

TEST_F(SqliteTest, ColumnTypesReadAsText)
{
    db->Execute("CREATE TABLE TIPOS (I INTEGER, R REAL, N NUMERIC(10,2), D DATE, T TEXT)");
    db->Execute("INSERT INTO TIPOS VALUES (42, 1.5, 3, '2024-05-06', 'ok')");
    db->Execute("INSERT INTO TIPOS VALUES (NULL, NULL, NULL, NULL, NULL)");
    auto rs = db->Query("SELECT I, R, N, D, T FROM TIPOS ORDER BY I DESC", {});
    ASSERT_EQ(rs.rows.size(), 2u);
    EXPECT_EQ(rs.rows[0], (Column{"42", "1.5", "3", "2024-05-06", "ok"}));
    EXPECT_EQ(rs.rows[1], Column(5, std::nullopt));
    EXPECT_EQ(db->Query("SELECT I FROM TIPOS WHERE 1 = 0", {}).columns,
              (std::vector<std::string>{"I"}));
}

TEST_F(SqliteTest, FixtureLoaded)
{
    EXPECT_EQ(firstColumn(db->Query("SELECT COUNT(*) FROM PRODUTO", {})), (Column{"16"}));
    EXPECT_EQ(firstColumn(db->Query("SELECT NMEMPRESA FROM EMPRESA WHERE CDEMPRESA = '09'", {})),
              (Column{std::nullopt}));
}

TEST(SqliteSession, ReadOnlyRefusesWritesAndMissingFiles)
{
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("fis_data_ro_" + std::to_string(getpid()) + ".db")).string();
    {
        auto rw = OpenSqliteSession(path, false);
        rw->Execute("CREATE TABLE T (A TEXT)");
    }
    {
        auto ro = OpenSqliteSession(path, true);
        EXPECT_EQ(ro->EngineName(), "sqlite");
        EXPECT_THROW(ro->Execute("INSERT INTO T VALUES ('x')"), EDatabaseError);
        EXPECT_EQ(ro->Query("SELECT COUNT(*) FROM T", {}).rows.at(0).at(0), "0");
    }
    std::filesystem::remove(path);
    const std::string mistyped = path + ".typo";
    EXPECT_THROW(OpenSqliteSession(mistyped, true), EDatabaseError);
    EXPECT_FALSE(std::filesystem::exists(mistyped));
}

TEST(LoadSqlScript, NamesTheFailingStatement)
{
    auto db = OpenSqliteSession(":memory:", false);
    try {
        LoadSqlScript(*db, "CREATE TABLE T (A TEXT);\nINSERT INTO NOPE VALUES (1);\n");
        FAIL();
    } catch (const EDatabaseError &e) {
        EXPECT_NE(std::string(e.what()).find("2"), std::string::npos) << e.what();
    }
}
} // namespace

TEST_F(SqliteTest, RowsStreamAsTheWholeResultReads)
{
    CheckRowStreaming(*db,
                      "SELECT CDEMPRESA, NMEMPRESA, NULL AS NADA, 1.5 AS NUM, 7 AS INTEIRO FROM EMPRESA "
                      "WHERE CDEMPRESA <> :P ORDER BY CDEMPRESA",
                      {{"P", "zz"}});
}
