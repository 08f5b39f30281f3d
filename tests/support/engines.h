#pragma once
// The engines the suites run on, each described once: the engine's own
// descriptor, why it cannot run here, and a named hook for every way the
// tests know it to differ. A suite takes the list and asks the hooks; none
// tells engines apart by name.
#include "data/engine.h"
#include "engine_env.h"

#include <functional>
#include <ostream>
#include <string>
#include <vector>

struct TestEngine {
    const char *label;  // in test names
    const DatabaseEngine &engine;
    // A parameter read back as text: Firebird must be told the type of a
    // parameter it cannot derive from its context.
    std::function<std::string(const std::string &marker)> textParam;
    // A text in ISO form taken as a date.
    std::function<std::string(const std::string &expr)> asDate;
    // What a SELECT of expressions only needs after it.
    std::string fromNothing;
    // A value longer than the column it is compared with directly (not
    // through PARAM) is refused with an error instead of matching nothing:
    // the server types the parameter after the column.
    bool refusesTextLongerThanColumn;
    // Trailing blanks are ignored when texts compare (the shorter side is padded).
    bool padsOnCompare;
    // A test trigger can be created in plain SQL, without a terminator of its own.
    bool triggersInPlainSql;
    // A statement that runs for minutes unless stopped.
    std::string slowQuery;
    // A statement of a few thousand rows of two columns, enough traffic for a
    // report read to break at chosen points.
    std::string manyRows;
    // Statements that would write, each harmless should it run: it rewrites
    // one company with the name it has.
    std::vector<std::string> writers;
    // The login that owns a server's database, for a session that may write.
    const char *ownerUser;
    const char *ownerPassword;

    // Why the engine cannot run here, or empty. A server needs its variables
    // (a database made by the engine's creation script).
    std::string Unavailable() const
    {
        if (!engine.inThisBuild)
            return std::string("built without ") + engine.title;
        if (!engine.localFile && EngineVariable(engine, "DATABASE").empty())
            return std::string(engine.variablePrefix) + "_DATABASE is not set; run the engine's creation script";
        return {};
    }
    // The server's database through the reading or the import's login.
    EngineConnection Server(EngineLogin login = EngineLogin::Reading) const { return EngineFromEnv(engine, login); }
    EngineConnection Owner() const
    {
        EngineConnection c = Server();
        c.user = ownerUser;
        c.password = EngineVariable(engine, "SYSDBA_PASSWORD", ownerPassword);
        return c;
    }
};

const DatabaseEngine &SqliteEngine();    // data/sqlite/session.h
const DatabaseEngine &FirebirdEngine();  // data/firebird/session.h
const DatabaseEngine &PostgresqlEngine();  // data/postgresql/session.h

inline const TestEngine kTestSqlite{
    .label = "Sqlite",
    .engine = SqliteEngine(),
    .textParam = [](const std::string &marker) { return marker; },
    .asDate = [](const std::string &expr) { return "DATE(" + expr + ")"; },
    .fromNothing = "",
    .refusesTextLongerThanColumn = false,
    .padsOnCompare = false,
    .triggersInPlainSql = true,
    .slowQuery = "WITH RECURSIVE C(X) AS (SELECT 1 UNION ALL SELECT X + 1 FROM C WHERE X < 2000000000) "
                 "SELECT COUNT(*) FROM C",
    .manyRows = "WITH RECURSIVE C(X) AS (SELECT 1 UNION ALL SELECT X + 1 FROM C WHERE X < 3000) "
                "SELECT X, HEX(RANDOMBLOB(16)) FROM C",
    .writers = {"UPDATE EMPRESA SET NMEMPRESA = NMEMPRESA WHERE CDEMPRESA = '01'",
                "WITH T AS (SELECT 1) UPDATE EMPRESA SET NMEMPRESA = NMEMPRESA WHERE CDEMPRESA = '01'",
                "CREATE TABLE NOVA (X INT)", "ATTACH DATABASE ':memory:' AS OUTRO", "PRAGMA user_version = 7"},
    .ownerUser = "",
    .ownerPassword = "",
};

inline const TestEngine kTestFirebird{
    .label = "Firebird",
    .engine = FirebirdEngine(),
    .textParam = [](const std::string &marker) { return "CAST(" + marker + " AS VARCHAR(40))"; },
    .asDate = [](const std::string &expr) { return "CAST(" + expr + " AS DATE)"; },
    .fromNothing = " FROM RDB$DATABASE",
    .refusesTextLongerThanColumn = true,
    .padsOnCompare = true,
    .triggersInPlainSql = false,
    .slowQuery = "SELECT COUNT(*) FROM RDB$TYPES A, RDB$TYPES B, RDB$TYPES C, RDB$TYPES D",
    .manyRows = "SELECT A.RDB$TYPE_NAME, B.RDB$FIELD_NAME FROM RDB$TYPES A, RDB$TYPES B ROWS 3000",
    .writers = {"UPDATE EMPRESA SET NMEMPRESA = NMEMPRESA WHERE CDEMPRESA = '01'",
                "EXECUTE BLOCK RETURNS (N INTEGER) AS BEGIN UPDATE EMPRESA SET NMEMPRESA = NMEMPRESA "
                "WHERE CDEMPRESA = '01'; N = ROW_COUNT; SUSPEND; END",
                "SELECT CDEMPRESA FROM EMPRESA WHERE CDEMPRESA = '01' FOR UPDATE WITH LOCK",
                "EXECUTE PROCEDURE PARAM('a')", "CREATE TABLE NOVA (X INTEGER)"},
    .ownerUser = "SYSDBA",
    .ownerPassword = "masterkey",
};

inline const TestEngine kTestPostgresql{
    .label = "Postgresql",
    .engine = PostgresqlEngine(),
    // A parameter the server cannot type is taken as text.
    .textParam = [](const std::string &marker) { return marker; },
    .asDate = [](const std::string &expr) { return "CAST(" + expr + " AS DATE)"; },
    .fromNothing = "",
    .refusesTextLongerThanColumn = false,
    .padsOnCompare = false,
    .triggersInPlainSql = false,
    .slowQuery = "SELECT pg_sleep(600)",
    .manyRows = "SELECT G, MD5(CAST(G AS TEXT)) FROM GENERATE_SERIES(1, 3000) G",
    .writers = {"UPDATE EMPRESA SET NMEMPRESA = NMEMPRESA WHERE CDEMPRESA = '01'",
                "WITH T AS (UPDATE EMPRESA SET NMEMPRESA = NMEMPRESA WHERE CDEMPRESA = '01' RETURNING 1) "
                "SELECT * FROM T",
                "SELECT CDEMPRESA FROM EMPRESA WHERE CDEMPRESA = '01' FOR UPDATE",
                "SET default_transaction_read_only = off", "CREATE TABLE NOVA (X INTEGER)"},
    // The import's login: it may write, which is all the suites need of an owner.
    .ownerUser = "fisimport",
    .ownerPassword = "fisimport",
};

inline const std::vector<const TestEngine *> kTestEngines{&kTestSqlite, &kTestFirebird, &kTestPostgresql};

inline std::ostream &operator<<(std::ostream &os, const TestEngine &e) { return os << e.label; }
inline std::ostream &operator<<(std::ostream &os, const TestEngine *e) { return os << e->label; }
