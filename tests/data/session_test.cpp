// What every database session promises, checked on each engine: SQLite always,
// the Firebird server when FIS_FB_DATABASE names the demo database
// (scripts/firebird-create-db.sh), skipped otherwise. Where the engines differ
// in spelling or in what they refuse, the engine says so through a named hook.
#include "../support/engines.h"
#include "../support/firebird_env.h"
#include "../support/temp_folder.h"
#include "data/dberrors.h"
#include "data/firebird/session.h"
#include "data/sqlite/statements.h"
#include "data/sqlquery.h"
#include "data/writer.h"
#include "row_stream.h"
#include "testdb.h"

#include <gtest/gtest.h>

#include <sqlite3.h>
#if FIS_WITH_FIREBIRD
#include <ibase.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <atomic>
#include <chrono>
#include <set>
#include <thread>
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

using Engine = const TestEngine *;
const Engine kSqlite = &kTestSqlite;
const Engine kFirebird = &kTestFirebird;
const Engine kPostgresql = &kTestPostgresql;

// The reference data on the engine: a copy of its own for a local file, the
// server's demo database otherwise.
std::unique_ptr<DatabaseSession> openOn(const TestEngine &e)
{
    return e.engine.localFile ? ReferenceDb() : e.engine.openReader(e.Server());
}

// The same database with a deadline for the engine's answers.
std::unique_ptr<DatabaseSession> openWithDeadline(const TestEngine &e, int timeoutMs)
{
    EngineConnection c = e.Server();
    if (e.engine.localFile) {
        // A file, so a second connection sees the same data.
        static const TempFolder folder("fis-session");
        static const std::string path = [] {
            const std::string p = folder.file("demo.sqlite");
            LoadSqlScript(*OpenSqliteSession(p, false), ReadFixture());
            return p;
        }();
        c = {};
        c.database = path;
    }
    c.timeoutMs = timeoutMs;
    return e.engine.openReader(c);
}

// The same database through a login that may write.
std::unique_ptr<DatabaseSession> openWriter(const TestEngine &e)
{
    return e.engine.localFile ? ReferenceDb() : e.engine.openReader(e.Owner());
}

// Names a table row by its label in test output.
template <class Case>
    requires requires(const Case &c) { c.label; }
std::ostream &operator<<(std::ostream &os, const Case &c)
{
    return os << c.label;
}

template <class Param> class EngineTestBase : public testing::TestWithParam<Param> {
protected:
    void SetUp() override
    {
        if (const std::string why = engine().Unavailable(); !why.empty())
            GTEST_SKIP() << why;
        db = openOn(engine());
    }
    const TestEngine &engine() const
    {
        if constexpr (std::is_same_v<Param, Engine>)
            return *this->GetParam();
        else
            return *std::get<0>(this->GetParam());
    }
    ResultSet select(const std::string &exprs, const NamedValues &params)
    {
        return db->Query("SELECT " + exprs + engine().fromNothing, params);
    }
    std::unique_ptr<DatabaseSession> db;
};

using SessionTest = EngineTestBase<Engine>;

std::string engineName(const testing::TestParamInfo<Engine> &info) { return info.param->label; }

template <class Case> std::string engineAndCase(const testing::TestParamInfo<std::tuple<Engine, Case>> &info)
{
    return std::string(std::get<0>(info.param)->label) + "_" + std::get<1>(info.param).label;
}

// ---- binding ----

struct BindCase {
    const char *label;
    std::function<std::string(const TestEngine &)> expr;  // uses :P
    Variant value;
    std::optional<std::string> arrives;  // as read back; nullopt is NULL
};

std::string asText(const TestEngine &e) { return e.textParam(":P"); }

const BindCase kBindCases[] = {
    {"emptyTextIsNull", asText, Variant(""), std::nullopt},
    {"null", asText, Variant::Null(), std::nullopt},
    {"text", asText, Variant("ção"), "ção"},
    {"blankIsNotNull", asText, Variant(" "), " "},
    {"number", asText, Variant(2.5), "2.5"},
    {"millionInPlainDigits", asText, Variant(1000000.0), "1000000"},
    {"date", asText, Variant(EncodeDate(2024, 3, 1)), "2024-03-01"},
    {"nullInCoalesce", [](const TestEngine &e) { return "COALESCE(" + asText(e) + ", 'none')"; }, Variant::Null(),
     "none"},
    {"emptyInCoalesce", [](const TestEngine &e) { return "COALESCE(" + asText(e) + ", 'none')"; }, Variant(""),
     "none"},
    {"numberToInteger", [](const TestEngine &) { return std::string("CAST(:P AS INTEGER) + 1"); }, Variant(41.0),
     "42"},
    {"textToDate", [](const TestEngine &e) { return e.asDate(":P"); }, Variant("2024-02-29"), "2024-02-29"},
    {"dateToDate", [](const TestEngine &e) { return e.asDate(":P"); }, Variant(EncodeDate(2024, 3, 1)),
     "2024-03-01"},
    {"nullToDate", [](const TestEngine &e) { return e.asDate(":P"); }, Variant::Null(), std::nullopt},
};

class BindTest : public EngineTestBase<std::tuple<Engine, BindCase>> {};

TEST_P(BindTest, ValueArrivesAs)
{
    const BindCase &c = std::get<1>(GetParam());
    TSQLQuery qry(db.get());
    qry.SetSQL("SELECT " + c.expr(engine()) + " AS V" + engine().fromNothing);
    qry.ParamByName("P")->SetAsVariant(c.value);
    EXPECT_EQ(qry.ParamByName("P")->AsVariant(), c.value);  // the parameter keeps ""
    qry.Open();
    ASSERT_EQ(qry.RecordCount(), 1);
    EXPECT_EQ((*qry.CurrentRow())[0], c.arrives);
}

INSTANTIATE_TEST_SUITE_P(Values, BindTest,
                         testing::Combine(testing::Values(kSqlite, kFirebird, kPostgresql), testing::ValuesIn(kBindCases)),
                         engineAndCase<BindCase>);

TEST_P(SessionTest, BindingNamesMustMatchTheStatement)
{
    EXPECT_THROW(select(engine().textParam(":A"), {}), EDatabaseError);
    EXPECT_THROW(select("1", {{"A", "x"}}), EDatabaseError);
    EXPECT_THROW(select(engine().textParam(":A"), {{"A", "x"}, {"a", "y"}}), EDatabaseError);
    const auto rs =
        select(engine().textParam(":A") + " || " + engine().textParam(":a") + " || ':A'", {{"a", "x"}});
    EXPECT_EQ(firstColumn(rs), (Column{"xx:A"}));
}

TEST_P(SessionTest, RepeatedNameGetsTheSameValueEachTime)
{
    // The second use sits in a function argument, where a lost NULL would show.
    const std::string sql = "SELECT CDEMPRESA FROM EMPRESA WHERE CDEMPRESA = :P_EMPRESA "
                            "OR CDEMPRESA = NVLSTR(:p_empresa, '10') ORDER BY CDEMPRESA";
    EXPECT_EQ(firstColumn(db->Query(sql, {{"P_EMPRESA", "02"}})), (Column{"02"}));
    EXPECT_EQ(firstColumn(db->Query(sql, {{"P_EMPRESA", Variant::Null()}})), (Column{"10"}));
}

TEST_P(SessionTest, ValuesHoldingSqlAreData)
{
    for (const char *hostile : {"01' OR '1'='1", "' OR 1=1 --", "x'; DROP TABLE EMPRESA; --", "01\"",
                                ":P_EMPRESA"}) {
        TSQLQuery qry(db.get());
        qry.SetSQL("SELECT CDEMPRESA FROM EMPRESA WHERE CDEMPRESA = :P_EMPRESA");
        qry.ParamByName("P_EMPRESA")->SetAsString(hostile);
        if (engine().refusesTextLongerThanColumn) {
            EXPECT_THROW(qry.Open(), EDatabaseError) << hostile;
            continue;
        }
        qry.Open();
        EXPECT_TRUE(qry.IsEmpty()) << hostile;
    }
    EXPECT_EQ(firstColumn(db->Query("SELECT COUNT(*) FROM EMPRESA", {})), (Column{"5"}));
}

// ---- the fixture's statements ----

struct FilterCase {
    const char *label;
    Variant value;
    Column codes;
};

// Optional filter through PARAM/NVLSTR: NULL (or empty text) keeps every row
// whose column is not NULL; a value keeps the matching rows.
class ParamFilterTest : public EngineTestBase<std::tuple<Engine, FilterCase>> {};

TEST_P(ParamFilterTest, SeriesByMunicipalRegistration)
{
    auto rs = db->Query("SELECT CDSERIE FROM SERIENF, PARAM(:P_INSCMUNI) P_INSCMUNI "
                        "WHERE (CDINSCMUNI = NVLSTR(P_INSCMUNI.PARAM, CDINSCMUNI)) "
                        "ORDER BY CDEMPRESA, CDINSCESTA, CDSERIE, CDINSCMUNI",
                        {{"P_INSCMUNI", std::get<1>(GetParam()).value}});
    EXPECT_EQ(firstColumn(rs), std::get<1>(GetParam()).codes);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ParamFilterTest,
    testing::Combine(testing::Values(kSqlite, kFirebird, kPostgresql),
                     testing::Values(FilterCase{"null", Variant::Null(), {"3", "U", "1", "1", "2", "1", "A"}},
                                     FilterCase{"emptyTextIsNull", Variant(""), {"3", "U", "1", "1", "2", "1", "A"}},
                                     FilterCase{"value", Variant("55501"), {"1", "A"}},
                                     FilterCase{"sqlInValue", Variant("' OR 1=1 --"), {}})),
    engineAndCase<FilterCase>);

TEST_P(SessionTest, CompanyLookupThroughParam)
{
    const std::string sql = "SELECT CDEMPRESA, NMEMPRESA FROM EMPRESA, PARAM(:P_EMPRESA) P_EMPRESA "
                            "WHERE (CDEMPRESA = NVLSTR(P_EMPRESA.PARAM, CDEMPRESA)) ORDER BY CDEMPRESA";
    for (const Variant &all : {Variant::Null(), Variant("")}) {
        auto rs = db->Query(sql, {{"P_EMPRESA", all}});
        EXPECT_EQ(rs.columns, (std::vector<std::string>{"CDEMPRESA", "NMEMPRESA"}));
        EXPECT_EQ(firstColumn(rs), (Column{"01", "02", "03", "09", "10"}));
        EXPECT_EQ(rs.rows.at(3).at(1), std::nullopt);  // company without a name reads NULL, not ""
    }
    auto one = db->Query(sql, {{"P_EMPRESA", "01"}});
    ASSERT_EQ(one.rows.size(), 1u);
    EXPECT_EQ(one.rows[0][1], "Comercial Andorinha Ltda");
    EXPECT_TRUE(db->Query(sql, {{"P_EMPRESA", "99"}}).rows.empty());
}

struct AllFlagCase {
    const char *label;
    Variant code;
    Variant all;
    std::size_t rows;
};

class AllFlagTest : public EngineTestBase<std::tuple<Engine, AllFlagCase>> {};

TEST_P(AllFlagTest, FlagTakesEveryRow)
{
    const AllFlagCase &c = std::get<1>(GetParam());
    auto rs = db->Query("SELECT CDEMPRESA, CDINSCMUNI FROM INSCRMUNICIP "
                        "WHERE (CDINSCMUNI = :P_INSCMUNI OR :P_TINSCMUNI = 'T')",
                        {{"P_INSCMUNI", c.code}, {"P_TINSCMUNI", c.all}});
    EXPECT_EQ(rs.rows.size(), c.rows);
}

INSTANTIATE_TEST_SUITE_P(
    Values, AllFlagTest,
    testing::Combine(testing::Values(kSqlite, kFirebird, kPostgresql),
                     testing::Values(AllFlagCase{"nullFlagFilters", "55501", Variant::Null(), 1},
                                     AllFlagCase{"emptyFlagFilters", "55501", "", 1},
                                     AllFlagCase{"flagT", "55501", "T", 4},
                                     AllFlagCase{"flagTWithoutCode", Variant::Null(), "T", 4},
                                     AllFlagCase{"neither", Variant::Null(), Variant::Null(), 0},
                                     AllFlagCase{"otherFlag", "55501", "F", 1})),
    engineAndCase<AllFlagCase>);

TEST_P(SessionTest, ConcatenatedKeyIsNamedByItsAlias)
{
    auto rs = db->Query("SELECT IDENTRSAIDOP||CDTIPOOPER AS CHAVE, NMTIPOOPER FROM TIPOOPERAC "
                        "WHERE IDENTRSAIDOP = :P_ES ORDER BY 1",
                        {{"P_ES", "S"}});
    EXPECT_EQ(rs.columns, (std::vector<std::string>{"CHAVE", "NMTIPOOPER"}));
    EXPECT_EQ(firstColumn(rs), (Column{"S01", "S02", "S03", "S04"}));
}

TEST_P(SessionTest, CommentWithApostropheBeforeAMarker)
{
    auto rs = db->Query("SELECT CDEMPRESA -- the company's code\n"
                        "FROM EMPRESA /* it's */ WHERE CDEMPRESA = :P AND NMEMPRESA <> ':P'",
                        {{"P", "03"}});
    EXPECT_EQ(firstColumn(rs), (Column{"03"}));
}

TEST_P(SessionTest, FixtureLoaded)
{
    EXPECT_EQ(db->EngineName(), engine().engine.name);
    EXPECT_EQ(firstColumn(db->Query("SELECT COUNT(*) FROM PRODUTO", {})), (Column{"16"}));
    EXPECT_EQ(firstColumn(db->Query("SELECT NMEMPRESA FROM EMPRESA WHERE CDEMPRESA = '09'", {})),
              (Column{std::nullopt}));
    EXPECT_EQ(db->Query("SELECT CDEMPRESA FROM EMPRESA WHERE 1 = 0", {}).columns,
              (std::vector<std::string>{"CDEMPRESA"}));
}

// ---- errors and streaming ----

TEST_P(SessionTest, DatabaseErrorsCarryTheMessageAndTheSessionGoesOn)
{
    try {
        db->Query("SELECT NOPE FROM EMPRESA", {});
        FAIL();
    } catch (const EDatabaseError &e) {
        EXPECT_NE(std::string(e.what()).find("NOPE"), std::string::npos) << e.what();
    }
    EXPECT_THROW(db->Execute("INSERT INTO EMPRESA VALUES ('01', 'dup')"), EDatabaseError);
    EXPECT_THROW(db->Query("SELECT CDEMPRESA FROM EMPRESA WHERE CDEMPRESA = :P", {}), EDatabaseError);
    EXPECT_EQ(select("1", {}).rows.size(), 1u);
}

TEST_P(SessionTest, RowsStreamAsTheWholeResultReads)
{
    CheckRowStreaming(*db,
                      "SELECT CDEMPRESA, NMEMPRESA, CAST(NULL AS VARCHAR(5)) AS NADA, "
                      "CAST(1.5 AS NUMERIC(9,2)) AS NUM, 7 AS INTEIRO "
                      "FROM EMPRESA WHERE CDEMPRESA <> CAST(:P AS VARCHAR(2)) ORDER BY CDEMPRESA",
                      {{"P", "zz"}});
}

// ---- reading only ----

TEST_P(SessionTest, StatementsThatWouldWriteAreRefusedWhateverTheLogin)
{
    std::unique_ptr<DatabaseSession> writer;
    try {
        writer = openWriter(engine());
    } catch (const EDatabaseError &e) {
        GTEST_SKIP() << "no login that may write: " << e.what();
    }
    for (const std::string &sql : engine().writers) {
        SCOPED_TRACE(sql);
        try {
            RowCollector rows;
            writer->QueryRows(sql, {}, rows);
            ADD_FAILURE() << "ran";
        } catch (const EDatabaseError &e) {
            EXPECT_EQ(std::string(e.what()), kWriteRefusedText);
        }
        EXPECT_THROW(writer->Query(sql, {}), EDatabaseError);
    }
    EXPECT_EQ(writer->Query("SELECT CDEMPRESA FROM EMPRESA", {}).rows.size(), 5u);  // still reads
}

// ---- interrupting ----

TEST_P(SessionTest, InterruptFromAnotherThreadStopsTheRunningStatement)
{
    std::atomic<bool> done{false};
    std::thread stopper([&] {
        // Repeated: a stop that comes before the statement starts is lost.
        while (!done) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            db->Interrupt();
        }
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(db->Query(engine().slowQuery, {}), EDatabaseCancelled);
    done = true;
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(select("1", {}).rows.size(), 1u);  // the session goes on
}

TEST_P(SessionTest, InterruptBetweenRowsStopsTheStream)
{
    struct StopAtSecond : RowReceiver {
        DatabaseSession *db;
        int rows = 0;
        bool Columns(const std::vector<std::string> &) override { return true; }
        bool Row(const std::vector<std::optional<std::string>> &) override
        {
            if (++rows == 2)
                db->Interrupt();
            return true;
        }
    } receiver;
    receiver.db = db.get();
    EXPECT_THROW(db->QueryRows("SELECT CDEMPRESA FROM EMPRESA", {}, receiver), EDatabaseCancelled);
    EXPECT_EQ(receiver.rows, 2);
    // A stop with nothing running is forgotten: the next statement runs whole.
    db->Interrupt();
    EXPECT_EQ(select("1", {}).rows.size(), 1u);
    EXPECT_GT(db->Query("SELECT CDEMPRESA FROM EMPRESA", {}).rows.size(), 2u);
}

TEST_P(SessionTest, DeadlineStopsASilentDatabaseButNotASlowReader)
{
    auto timed = openWithDeadline(engine(), 300);
    const auto start = std::chrono::steady_clock::now();
    try {
        timed->Query(engine().slowQuery, {});
        FAIL() << "no deadline";
    } catch (const EDatabaseTimeout &e) {
        EXPECT_NE(std::string(e.what()).find("não respondeu em 0,3 s"), std::string::npos) << e.what();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

    // The caller's own time with a row is not the database's silence.
    struct Slow : RowReceiver {
        int rows = 0;
        bool Columns(const std::vector<std::string> &) override { return true; }
        bool Row(const std::vector<std::optional<std::string>> &) override
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            return ++rows < 3;
        }
    } slow;
    timed->QueryRows("SELECT CDEMPRESA FROM EMPRESA", {}, slow);
    EXPECT_EQ(slow.rows, 3);
}

// ---- one moment ----

// A reader and a writer on one database, and a table of the test's own.
struct SnapshotPair {
    std::unique_ptr<DatabaseSession> reader, writer;
    std::string count;                  // the rows the test added, as a reader sees them
    std::function<void(int)> insert;    // one more, through the writer
    std::vector<std::string> cleanup;
};

SnapshotPair snapshotPair(const TestEngine &engine)
{
    SnapshotPair p;
    const std::string table = "FIS_MOMENT_" + std::to_string(::getpid());
    auto ownTable = [&] {
        p.writer->Execute("CREATE TABLE " + table + " (N INTEGER)");
        p.count = "SELECT COUNT(*) FROM " + table;
        p.insert = [w = p.writer.get(), table](int n) {
            w->Execute("INSERT INTO " + table + " VALUES (" + std::to_string(n) + ")");
        };
        p.cleanup.push_back("DROP TABLE " + table);
    };
    if (engine.engine.localFile) {
        static const TempFolder folder("fis-moment");
        const std::string path = folder.file("moment.sqlite");
        p.writer = OpenSqliteSession(path, false);
        // Readers beside a writer, as the import runs.
        p.writer->Execute("PRAGMA journal_mode=WAL");
        ownTable();
        p.reader = OpenSqliteSession(path, true);
    } else {
        // The read-only login may not read a table the test creates.
        p.writer = openWriter(engine);
        try {
            ownTable();
        } catch (const EDatabaseError &) {
            // A writing login that may not create tables: rows of its own
            // in a table the import writes.
            const std::string key = "M" + std::to_string(::getpid()) + "_";
            p.count = "SELECT COUNT(*) FROM NFEGRUPOPRODUTO WHERE CDARVPROD LIKE '" + key + "%'";
            p.insert = [w = p.writer.get(), key](int n) {
                w->Execute("INSERT INTO NFEGRUPOPRODUTO (CDARVPROD, NMGRUPO) VALUES ('" + key +
                                  std::to_string(n) + "', 'moment')");
            };
            p.writer->Execute("DELETE FROM NFEGRUPOPRODUTO WHERE CDARVPROD LIKE '" + key + "%'");
            p.cleanup.push_back("DELETE FROM NFEGRUPOPRODUTO WHERE CDARVPROD LIKE '" + key + "%'");
        }
        p.reader = openWriter(engine);
    }
    p.insert(1);
    return p;
}

TEST_P(SessionTest, ASnapshotSeesOneMomentWhateverIsCommittedMeanwhile)
{
    SnapshotPair p;
    try {
        p = snapshotPair(engine());
    } catch (const EDatabaseError &e) {
        GTEST_SKIP() << "no login that may write: " << e.what();
    }
    const std::string count = p.count;
    auto seen = [&] { return p.reader->Query(count, {}).rows.at(0).at(0).value_or("NULL"); };
    {
        const ReadSnapshot moment(p.reader.get());
        EXPECT_EQ(seen(), "1");
        p.insert(2);
        EXPECT_EQ(seen(), "1") << "the second statement saw a later moment";
        RowCollector streamed;
        p.reader->QueryRows(count, {}, streamed);
        ASSERT_EQ(streamed.rows.size(), 1u);
        EXPECT_EQ(streamed.rows[0].at(0), "1");
    }
    EXPECT_EQ(seen(), "2") << "after the snapshot each statement sees the latest";
    {
        const ReadSnapshot moment(p.reader.get());
        EXPECT_EQ(seen(), "2");
    }
    p.reader.reset();  // its transaction would hold the table
    for (const std::string &sql : p.cleanup)
        p.writer->Execute(sql);
}

INSTANTIATE_TEST_SUITE_P(Engines, SessionTest, testing::Values(kSqlite, kFirebird, kPostgresql), engineName);

// ---- SQLite's own ----

class SqliteTest : public testing::Test {
protected:
    std::unique_ptr<DatabaseSession> db = ReferenceDb();
};

TEST_F(SqliteTest, FunctionsKeepNullsAndValues)
{
    auto rs = db->Query("SELECT NVL(NULL, 'b'), NVLSTR('a', 'b'), NVL(NULL, NULL), P.PARAM "
                        "FROM PARAM(NULL) P",
                        {});
    ASSERT_EQ(rs.rows.size(), 1u);
    EXPECT_EQ(rs.rows[0], (Column{"b", "a", std::nullopt, std::nullopt}));
    EXPECT_EQ(firstColumn(db->Query("SELECT PARAM FROM PARAM(7)", {})), (Column{"7"}));
    const std::string nvl = "SELECT CDEMPRESA FROM EMPRESA WHERE CDEMPRESA = NVL(:P, CDEMPRESA) "
                            "ORDER BY CDEMPRESA";
    EXPECT_EQ(firstColumn(db->Query(nvl, {{"P", Variant::Null()}})), (Column{"01", "02", "03", "09", "10"}));
    EXPECT_EQ(firstColumn(db->Query(nvl, {{"P", "09"}})), (Column{"09"}));
}

TEST_F(SqliteTest, ColumnTypesReadAsText)
{
    db->Execute("CREATE TABLE TIPOS (I INTEGER, R REAL, N NUMERIC(10,2), D DATE, T TEXT)");
    db->Execute("INSERT INTO TIPOS VALUES (42, 1.5, 3, '2024-05-06', 'ok')");
    db->Execute("INSERT INTO TIPOS VALUES (41, 1000000.0, 1234.5, NULL, NULL)");
    db->Execute("INSERT INTO TIPOS VALUES (NULL, NULL, NULL, NULL, NULL)");
    auto rs = db->Query("SELECT I, R, N, D, T FROM TIPOS ORDER BY I DESC", {});
    ASSERT_EQ(rs.rows.size(), 3u);
    EXPECT_EQ(rs.rows[0], (Column{"42", "1.5", "3", "2024-05-06", "ok"}));
    EXPECT_EQ(rs.rows[1], (Column{"41", "1000000", "1234.5", std::nullopt, std::nullopt}));
    EXPECT_EQ(rs.rows[2], Column(5, std::nullopt));
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
        EXPECT_THROW(ro->Execute("INSERT INTO T VALUES ('x')"), EDatabaseError);
        EXPECT_EQ(ro->Query("SELECT COUNT(*) FROM T", {}).rows.at(0).at(0), "0");
    }
    std::filesystem::remove(path);
    const std::string mistyped = path + ".typo";
    EXPECT_THROW(OpenSqliteSession(mistyped, true), EDatabaseError);
    EXPECT_FALSE(std::filesystem::exists(mistyped));
}

TEST(SqliteSession, EngineFailuresReachThePersonInPortugueseAndTheLogInFull)
{
    TempFolder folder("fis-sqlite-failures");
    const std::string locked = folder.file("locked.db"), damaged = folder.file("damaged.db");
    LoadSqlScript(*OpenSqliteSession(locked, false), "CREATE TABLE T (A TEXT);");
    auto holder = OpenSqliteSession(locked, false);
    holder->Execute("BEGIN EXCLUSIVE");
    {
        std::ofstream out(damaged, std::ios::binary);
        out << "SQLite format 3" << '\0' << std::string(4096, '\x7f');
    }
    const struct {
        const char *label;
        std::string path;
        const char *says;
    } rows[] = {
        {"locked by another connection", locked, "bloqueado por outra operação"},
        {"damaged file", damaged, "danificado"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.label);
        try {
            OpenSqliteSession(r.path, true)->Query("SELECT COUNT(*) FROM T", {});
            ADD_FAILURE() << "read";
        } catch (const EDatabaseError &e) {
            EXPECT_NE(std::string(e.what()).find(r.says), std::string::npos) << e.what();
            EXPECT_FALSE(e.EngineText().empty());
        }
    }
    holder->Execute("COMMIT");
}

#if FIS_WITH_FIREBIRD
TEST(FirebirdFailureText, TheServersFailuresInPortugueseAStatementsMistakesAsTheyAre)
{
    using V = std::vector<std::intptr_t>;
    static const char kWords[] = "x";  // a string argument: only its place counts
    const auto text = reinterpret_cast<std::intptr_t>(kWords);
    const struct {
        const char *label;
        V status;
        const char *says;  // empty: no translation, the engine's words stay
    } rows[] = {
        {"lock conflict", {isc_arg_gds, isc_lock_conflict, isc_arg_gds, isc_concurrent_transaction, isc_arg_number, 12, isc_arg_end},
         "bloqueados por outra operação"},
        {"deadlock", {isc_arg_gds, isc_deadlock, isc_arg_gds, isc_update_conflict, isc_arg_end}, "bloqueados"},
        {"lock timeout", {isc_arg_gds, isc_lock_timeout, isc_arg_end}, "bloqueados"},
        {"database shut down", {isc_arg_gds, isc_shutdown, isc_arg_string, text, isc_arg_end}, "desligado no servidor"},
        {"attachment shut down", {isc_arg_gds, isc_att_shutdown, isc_arg_end}, "desligado no servidor"},
        {"unavailable database", {isc_arg_gds, isc_unavailable, isc_arg_end}, "não está disponível ou recusou"},
        {"refused connection",
         {isc_arg_gds, isc_network_error, isc_arg_string, text, isc_arg_gds, isc_net_connect_err, isc_arg_unix, ECONNREFUSED,
          isc_arg_end},
         "não está disponível ou recusou"},
        {"login refused", {isc_arg_gds, isc_login, isc_arg_end}, "recusou o usuário ou a senha"},
        {"no permission",
         {isc_arg_gds, isc_no_priv, isc_arg_string, text, isc_arg_string, text, isc_arg_string, text, isc_arg_end},
         "não tem permissão"},
        {"disk full",
         {isc_arg_gds, isc_io_error, isc_arg_string, text, isc_arg_string, text, isc_arg_gds, isc_io_write_err, isc_arg_unix,
          ENOSPC, isc_arg_end},
         "disco do servidor do banco de dados está cheio"},
        {"damaged file", {isc_arg_gds, isc_bad_db_format, isc_arg_string, text, isc_arg_end}, "danificado"},
        {"missing file",
         {isc_arg_gds, isc_io_error, isc_arg_string, text, isc_arg_string, text, isc_arg_gds, isc_io_open_err, isc_arg_unix,
          ENOENT, isc_arg_end},
         "não foi encontrado"},
        // A counted string takes three places; its length is no code.
        {"counted string before the code", {isc_arg_cstring, isc_login, text, isc_arg_gds, isc_deadlock, isc_arg_end},
         "bloqueados"},
        {"counted string whose length looks like a code", {isc_arg_cstring, isc_login, text, isc_arg_end}, ""},
        {"unknown column", {isc_arg_gds, isc_dsql_error, isc_arg_gds, isc_dsql_field_err, isc_arg_end}, ""},
        {"nothing after the end", {isc_arg_end, isc_arg_gds, isc_login}, ""},
        {"empty", {}, ""},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.label);
        const std::string got = FirebirdFailureText(r.status);
        if (*r.says == 0)
            EXPECT_EQ(got, "");
        else
            EXPECT_NE(got.find(r.says), std::string::npos) << got;
    }
}

TEST(FirebirdFailureText, ARefusedConnectionSaysWhyAndKeepsTheEnginesWords)
{
    if (EnvOr("FIS_FB_DATABASE").empty())
        GTEST_SKIP() << "FIS_FB_DATABASE is not set; run scripts/firebird-create-db.sh";
    const struct {
        const char *label;
        std::function<void(FirebirdConnection &)> spoil;
        const char *says;
        bool unreachable;  // the server out of reach, not a refusal it worded
    } rows[] = {
        {"wrong password", [](FirebirdConnection &c) { c.password += "-errada"; }, "recusou o usuário ou a senha", false},
        {"no server on the port", [](FirebirdConnection &c) { c.port = 1; }, "não está disponível ou recusou", true},
        {"missing database file", [](FirebirdConnection &c) { c.database += ".nao-existe"; }, "não foi encontrado",
         false},
    };
    // The reading session and the writer say the same, in Portuguese.
    const std::function<void(const FirebirdConnection &)> opens[] = {
        [](const FirebirdConnection &c) { OpenFirebirdSession(c)->Query("SELECT 1 FROM RDB$DATABASE", {}); },
        [](const FirebirdConnection &c) { (void)OpenFirebirdWriter(c); },
    };
    for (const auto &open : opens)
        for (const auto &r : rows) {
            SCOPED_TRACE(r.label);
            FirebirdConnection c = FirebirdFromEnv();
            r.spoil(c);
            try {
                open(c);
                ADD_FAILURE() << "opened";
            } catch (const EDatabaseError &e) {
                EXPECT_NE(std::string(e.what()).find(r.says), std::string::npos) << e.what();
                EXPECT_EQ(std::string(e.what()).rfind("Não foi possível abrir o banco de dados", 0), 0u) << e.what();
                EXPECT_EQ(dynamic_cast<const EDatabaseConnectionLost *>(&e) != nullptr, r.unreachable) << e.what();
                EXPECT_FALSE(e.EngineText().empty());
            }
        }
}
#endif

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

// The statements the cache holds prepared, as the connection lists them.
std::set<std::string> preparedStatements(sqlite3 *db)
{
    std::set<std::string> out;
    for (sqlite3_stmt *s = sqlite3_next_stmt(db, nullptr); s; s = sqlite3_next_stmt(db, s))
        out.insert(sqlite3_sql(s));
    return out;
}

TEST(SqliteStatementCache, KeepsTheMostRecentlyUsedAndFinalizesTheRest)
{
    sqlite3 *raw = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &raw), SQLITE_OK);
    const std::unique_ptr<sqlite3, int (*)(sqlite3 *)> close(raw, sqlite3_close);
    const auto statement = [](std::size_t i) { return "SELECT " + std::to_string(i); };
    {
        SqliteStatementCache cache(raw);
        const std::size_t capacity = SqliteStatementCache::kCapacity;
        for (std::size_t i = 0; i < capacity; ++i)
            cache.Query(statement(i), {});
        EXPECT_EQ(preparedStatements(raw).size(), capacity);
        cache.Query(statement(0), {});  // the oldest becomes the most recent
        EXPECT_EQ(preparedStatements(raw).size(), capacity);  // found, not prepared again

        cache.Query(statement(capacity), {});
        const std::set<std::string> kept = preparedStatements(raw);
        EXPECT_EQ(kept.size(), capacity);
        EXPECT_TRUE(kept.count(statement(0)));
        EXPECT_FALSE(kept.count(statement(1)));  // the least recently used went
        EXPECT_TRUE(kept.count(statement(capacity)));
        // An evicted statement is prepared again and still answers.
        EXPECT_EQ(cache.Query(statement(1), {}).rows.at(0).at(0), "1");
        EXPECT_FALSE(preparedStatements(raw).count(statement(2)));
    }
    EXPECT_TRUE(preparedStatements(raw).empty());  // all go with the cache
}

// ---- Firebird's own ----

// The statement text handed to SOCI and to the client library (no server needed).
struct RewriteCase {
    const char *label;
    std::string sql;
    std::string sent;
    std::vector<std::string> markers;
    std::string positional;
};

class RewriteTest : public testing::TestWithParam<RewriteCase> {};

TEST_P(RewriteTest, MarkersAreDistinctAndCommentsBlank)
{
    const FirebirdStatementText t = PrepareFirebirdStatement(GetParam().sql);
    EXPECT_EQ(t.sql, GetParam().sent);
    EXPECT_EQ(t.markers, GetParam().markers);
    EXPECT_EQ(t.positional, GetParam().positional);
    ASSERT_EQ(t.bindNames.size(), t.markers.size());
}

INSTANTIATE_TEST_SUITE_P(
    Statements, RewriteTest,
    testing::Values(
        RewriteCase{"repeatedName", "A = :P_X OR B = :P_X", "A = :P_X OR B = :P_X__2", {"P_X", "P_X"}, "A = ? OR B = ?"},
        RewriteCase{"otherSpelling", ":a || :A", ":a || :A__2", {"a", "A"}, "? || ?"},
        // A new name must not take the spelling of a marker still to come.
        RewriteCase{"newNameAvoidsRealOne", ":P :P :P__2", ":P :P__3 :P__2", {"P", "P", "P__2"}, "? ? ?"},
        RewriteCase{"nonAsciiName", ":DATA_INÍCIO = 1", ":P__2 = 1", {"DATA_INÍCIO"}, "? = 1"},
        RewriteCase{"quoteInLineComment", "SELECT 1 -- don't\nFROM T WHERE A = :A",
                    "SELECT 1         \nFROM T WHERE A = :A", {"A"},
                    "SELECT 1         \nFROM T WHERE A = ?"},
        RewriteCase{"markerInBlockComment", "/* :X it's */ :Y", "              :Y", {"Y"}, "              ?"},
        RewriteCase{"colonInLiteral", "A = ':B -- x' AND C = :C", "A = ':B -- x' AND C = :C", {"C"},
                    "A = ':B -- x' AND C = ?"}),
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

class FirebirdTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (const std::string why = kFirebird->Unavailable(); !why.empty())
            GTEST_SKIP() << why;
        db = OpenFirebirdSession(FirebirdFromEnv());
    }
    std::unique_ptr<DatabaseSession> db;
};

TEST_F(FirebirdTest, WrongPasswordIsRefused)
{
    FirebirdConnection c = FirebirdFromEnv();
    c.password += "-wrong";
    EXPECT_THROW(OpenFirebirdSession(c), EDatabaseError);
}

TEST_F(FirebirdTest, ReadOnlyLoginCannotWrite)
{
    EXPECT_THROW(db->Query("UPDATE EMPRESA SET NMEMPRESA = 'x'", {}), EDatabaseError);
    // The session survives the refusal and nothing was written.
    auto rs = db->Query("SELECT COUNT(*) FROM EMPRESA WHERE NMEMPRESA = 'x'", {});
    EXPECT_EQ(firstColumn(rs), (Column{"0"}));
}

TEST_F(FirebirdTest, EachQuerySeesAFreshSnapshot)
{
    // Monitoring tables stay frozen for the life of a transaction, so an
    // attachment made after the first query shows up only if the next query
    // runs in a new one. The attachment is looked for by its own number, so
    // other clients of the server coming and going do not matter.
    db->Query("SELECT COUNT(*) FROM MON$ATTACHMENTS", {});
    auto other = OpenFirebirdSession(FirebirdFromEnv());
    const std::string id = *other->Query("SELECT CURRENT_CONNECTION FROM RDB$DATABASE", {}).rows.at(0).at(0);
    const auto seen = db->Query("SELECT COUNT(*) FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID = :ID", {{"ID", id}});
    EXPECT_EQ(firstColumn(seen), (Column{"1"}));
}

struct CellCase {
    const char *label;
    std::string expr;
    std::optional<std::string> text;
};

class FirebirdCellTest : public FirebirdTest, public testing::WithParamInterface<CellCase> {};

TEST_P(FirebirdCellTest, ColumnReadsAs)
{
    auto rs = db->Query("SELECT " + GetParam().expr + " AS V FROM RDB$DATABASE", {});
    ASSERT_EQ(rs.rows.size(), 1u);
    EXPECT_EQ(rs.rows[0][0], GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Types, FirebirdCellTest,
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
                    CellCase{"doubleMillionInPlainDigits", "CAST(1000000 AS DOUBLE PRECISION)", "1000000"},
                    CellCase{"float", "CAST(0.1 AS FLOAT)", "0.1"},
                    CellCase{"date", "DATE '2024-03-01'", "2024-03-01"},
                    CellCase{"timestamp", "TIMESTAMP '2024-03-01 10:20:30'", "2024-03-01 10:20:30"},
                    CellCase{"midnight", "TIMESTAMP '2024-03-01 00:00:00'", "2024-03-01"},
                    CellCase{"time", "TIME '10:20:30'", "10:20:30"},
                    CellCase{"boolean", "TRUE", "TRUE"},
                    CellCase{"textBlob", "CAST('ção ' AS BLOB SUB_TYPE TEXT)", "ção "}),
    [](const testing::TestParamInfo<CellCase> &info) { return std::string(info.param.label); });

struct FirebirdBindCase {
    const char *label;
    std::string expr;  // uses :P
    Variant value;
    std::optional<std::string> text;  // nullopt: NULL
};

class FirebirdBindTest : public FirebirdTest, public testing::WithParamInterface<FirebirdBindCase> {};

TEST_P(FirebirdBindTest, ValueArrivesAs)
{
    auto rs = db->Query("SELECT " + GetParam().expr + " AS V FROM RDB$DATABASE", {{"P", GetParam().value}});
    ASSERT_EQ(rs.rows.size(), 1u);
    EXPECT_EQ(rs.rows[0][0], GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, FirebirdBindTest,
    testing::Values(FirebirdBindCase{"textThroughParam", "(SELECT PARAM FROM PARAM(:P))", "ção", "ção"},
                    FirebirdBindCase{"numberToDouble", "CAST(:P AS DOUBLE PRECISION) * 2", 1.25, "2.5"},
                    FirebirdBindCase{"numberToDecimal", "CAST(:P AS NUMERIC(15,2))", 0.29, "0.29"},
                    FirebirdBindCase{"millionToInteger", "CAST(:P AS INTEGER)", 1000000.0, "1000000"},
                    FirebirdBindCase{"textToTimestamp", "CAST(:P AS TIMESTAMP)", "2024-02-29T08:00:05",
                                     "2024-02-29 08:00:05"},
                    FirebirdBindCase{"textToTime", "CAST(:P AS TIME)", "08:00", "08:00:00"},
                    FirebirdBindCase{"dateToTimestamp", "CAST(:P AS TIMESTAMP)",
                                     Variant(TDateTime(EncodeDate(2024, 3, 1).Val + 0.5)), "2024-03-01 12:00:00"}),
    [](const testing::TestParamInfo<FirebirdBindCase> &info) { return std::string(info.param.label); });

TEST_F(FirebirdTest, ValuesThatCannotBeTakenSafelyAreRefused)
{
    for (const char *date : {"2024-02-30", "01/02/2024", "TODAY", "2024-3-1"})
        EXPECT_THROW(db->Query("SELECT CAST(:P AS DATE) FROM RDB$DATABASE", {{"P", date}}), EDatabaseError)
            << date;
    EXPECT_THROW(db->Query("SELECT CAST(:P AS INTEGER) FROM RDB$DATABASE", {{"P", "12x"}}), EDatabaseError);
}
} // namespace
