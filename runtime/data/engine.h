#pragma once
// Everything that sets one database engine apart, in one descriptor: how its
// sessions and its writer open, its default port, its fixtures and the few
// questions where its SQL or its habits differ. Callers choose an engine by
// asking the registry and then its descriptor, never by comparing names.
//
// A new engine is a folder beside sqlite/ and firebird/ holding its session,
// its writer and its descriptor, plus one line in the list of engine.cpp.
#include "data/session.h"

#include <memory>
#include <string>
#include <vector>

class DatabaseWriter;  // data/writer.h

// How long a writer of a local file waits for another's write lock, unless
// configured (db_busy_timeout_ms): long enough for one batch of another import.
inline constexpr int kDefaultBusyTimeoutMs = 60000;

// Where the database is and as whom to reach it.
struct EngineConnection {
    std::string database;  // a file, or the server's database path or alias
    std::string host;      // a server engine's machine
    int port = 0;          // 0: the engine's default port
    std::string user;
    std::string password;
    // How long the engine may keep silent during one call (0: no limit).
    int timeoutMs = 0;
    // How long a local file's writer waits for another's lock.
    int busyTimeoutMs = kDefaultBusyTimeoutMs;
};

// Where an older database's upgrade finds what it lacks: the engine's kept
// CFOP summary, the CFOP table and the fiscal tables' fixtures.
struct UpgradeFixtures {
    std::string summary, cfop, fiscal;
};

struct WriterOptions {
    // The database is thrown away unless the whole load succeeds, so the
    // engine may skip what only protects a half-done write (a journal).
    bool scratch = false;
};

struct DatabaseEngine {
    const char *name;   // as the configuration's `engine` key names it
    const char *title;  // as a person reads it in a message
    // The build holds the engine's client library; otherwise opening refuses.
    bool inThisBuild;
    int defaultPort;    // 0: no server, the database is a local file
    // The statement variant written for the engine itself (the host may
    // still choose another its compatibility functions run).
    const char *defaultDialect;
    // The database is a local file: a missing one is created empty of demo
    // data, an empty name stands for a temporary demo copy, and a file made
    // by an older version is brought up to date when the host opens it.
    bool localFile;
    // The import writes through a login of its own (import_user), kept apart
    // from the reading login of the reports.
    bool separateWritingLogin;
    // The import creates its own tables where they lack; on a server the
    // engine's creation script made them with their grants.
    bool addsImportTables;
    // The engine's own fixtures, in fixtures/: loaded after the shared ones,
    // its schema (functions, indexes) and the kept CFOP summary with what
    // keeps it.
    const char *schemaFixture;
    const char *summaryFixture;
    // Where the tests and benches find a server of this engine: PREFIX_DATABASE
    // (empty: none here), _HOST, _PORT, _USER, _PASSWORD, _IMPORT_USER and
    // _IMPORT_PASSWORD; FIS_BENCH_<PREFIX without FIS_>_DATABASE for the benches.
    const char *variablePrefix;
    // A condition true when `column` holds digits only (and at least one).
    std::string (*digitsOnly)(const std::string &column);
    // Read-only session for reports and lookups. Raises EDatabaseError.
    std::unique_ptr<DatabaseSession> (*openReader)(const EngineConnection &);
    // The one prepare/bind/bulk-insert writer of the engine: the import, the
    // demo generator and the benches write through it. Raises EDatabaseError.
    std::unique_ptr<DatabaseWriter> (*openWriter)(const EngineConnection &, const WriterOptions &);
    // Brings a database made by an older version up to date as far as the
    // login may: the host calls it with its reading login, the import with
    // its writing one (`writing`). What cannot be done is left for the step
    // that needs it to say so. Raises EDatabaseError only where the database
    // cannot serve without it.
    void (*upgrade)(const EngineConnection &, const UpgradeFixtures &, bool writing);

    int PortOr(int port) const { return port ? port : defaultPort; }
};

// Every engine this program knows, the default (a local file) first.
const std::vector<const DatabaseEngine *> &DatabaseEngines();
const DatabaseEngine &DefaultEngine();
// Null for a name no engine has.
const DatabaseEngine *FindEngine(const std::string &name);
// Raises EDatabaseError naming the engine when no engine has the name.
const DatabaseEngine &EngineNamed(const std::string &name);
