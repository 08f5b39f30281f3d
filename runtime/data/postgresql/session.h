#pragma once
// PostgreSQL sessions over SOCI's PostgreSQL backend, for a server reached by
// TCP. SOCI opens and owns the connection; the statements run on its libpq
// connection directly, since SOCI reads a decimal as a double and a result
// whole, where a report needs every digit and its rows one at a time.
//
// Binding: every marker is bound by value as text and the server converts it
// to the type the statement gives the parameter; one it cannot tell (`:P IS
// NULL`, `SELECT :P`) is taken as text. An EMPTY TEXT IS BOUND AS NULL, as on
// the other engines, and a name repeated in one statement is one parameter.
//
// Reading: every column comes back as text. Names PostgreSQL folded to lower
// case read in capitals, as the other engines give them; CHAR columns lose
// their right padding; decimals keep every digit without trailing fraction
// zeros ("1.50" reads "1.5"); dates read "YYYY-MM-DD", with " HH:MM:SS" when
// a time is present; booleans read "1" and "0".
//
// Each call runs in a read-only transaction of its own, committed at its end,
// so whatever the statement calls cannot write and a long-lived session reads
// what others committed meanwhile.
//
// Planning: a statement opening with common table expressions is planned
// without nested loops (the planner cannot count such a table's rows and
// would loop over it for minutes); the others plan freely, with random reads
// priced near sequential ones, since a report's indexes are read from the
// server's memory far more often than from its disk.
//
// A broken connection or a server going down fails the call with
// EDatabaseConnectionLost, and the next call connects again.
#include "data/session.h"

#include <memory>
#include <string>
#include <vector>

struct PostgresqlConnection {
    std::string host = "127.0.0.1";
    int port = 5432;
    std::string database;
    std::string user;
    std::string password;
    // How long the server may keep silent during a call before the statement
    // is cancelled and the connection dropped (EDatabaseTimeout); 0: no limit.
    int timeoutMs = 0;
};

// Raises EDatabaseError when the server refuses the connection.
std::unique_ptr<DatabaseSession> OpenPostgresqlSession(const PostgresqlConnection &c);

// The connection as libpq reads it ("host=... port=... dbname=..."), every
// value quoted, for the places that open SOCI themselves (the writers).
// Raises EDatabaseError for a port out of range or a missing database.
std::string PostgresqlConnectString(const PostgresqlConnection &c);

// What the person reads for a failure by its SQLSTATE: a lock conflict, a
// server shut down, an unavailable server, a refused login, a missing
// permission or database, a full disk, damaged data. Empty for the rest: a
// statement's own mistakes keep the engine's words, which name the spot.
std::string PostgresqlFailureText(const std::string &sqlstate);
// The same for a connection that could not be made, by libpq's words.
std::string PostgresqlConnectFailureText(const std::string &message);

// The statement as the server takes it: each distinct marker name (compared
// case-insensitively) becomes $1, $2 ... in order of first appearance;
// `names[n - 1]` is the first spelling of $n. A statement opening with WITH
// says RECURSIVE, which PostgreSQL needs before a common table expression
// that reads itself and the other engines do not.
struct PostgresqlStatementText {
    std::string sql;
    std::vector<std::string> names;
    bool commonTables = false;  // opens with WITH: planned without nested loops
};
PostgresqlStatementText PreparePostgresqlStatement(const std::string &sql);

// True when the statement starts, past blanks and comments, with a keyword a
// query starts with (SELECT, WITH, VALUES, TABLE or a parenthesis).
bool LooksLikePostgresqlQuery(const std::string &sql);

struct DatabaseEngine;
struct EngineConnection;
class DatabaseWriter;
// The engine's descriptor (data/engine.h).
const DatabaseEngine &PostgresqlEngine();
// The engine's connection as this backend takes it, the default port filled in.
PostgresqlConnection PostgresqlConnectionFor(const EngineConnection &c);
// A writer through the given login. Raises EDatabaseError; refused when built
// without PostgreSQL.
std::unique_ptr<DatabaseWriter> OpenPostgresqlWriter(const PostgresqlConnection &c);
