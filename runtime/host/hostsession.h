#pragma once
// The host's database, as its configuration names it: the embedded SQLite
// demo database by default, or a database server (data/engine.h).
#include "data/engine.h"
#include "data/session.h"
#include "host/hostconfig.h"

#include <memory>
#include <string>
#include <vector>

// The configured database, server and (reading) login.
EngineConnection HostConnection(const HostConfig &config);

// Opens the configured database read only through its engine. Raises EDatabaseError.
// `bringUpToDate`: a database made by an older version is first brought up
// to date by its engine, as far as the reading login may (the host does;
// the application server, which only serves what is there, does not).
std::unique_ptr<DatabaseSession> OpenHostSession(const HostConfig &config, bool bringUpToDate = true);

// Builds a fresh SQLite demo database at `path` from the fixtures, loaded in
// order (replacing any file there). Raises on failure.
void BuildDemoDatabase(const std::string &path,
                       const std::vector<std::string> &fixturePaths = DefaultFixturePaths());

// Builds a database a person keeps at `path`: the schema of every fixture and
// the shared reference rows (taxes, CFOP, document models, operation types,
// fiscal months, the apuração's lines)
// with the NF-e import's tables, without the demo companies, products or
// documents. Written beside the path and renamed into place; an existing
// file is refused. Raises EDatabaseError.
void CreateOwnDatabase(const std::string &path);

// Where the configuration names a database file (an engine of local files)
// that does not exist yet, creates it as above. True when it did.
bool CreateConfiguredDatabase(const HostConfig &config);

// A demo database in a new temporary folder, removed when this goes away.
class TemporaryDemoDatabase {
public:
    TemporaryDemoDatabase();
    ~TemporaryDemoDatabase();
    TemporaryDemoDatabase(const TemporaryDemoDatabase &) = delete;
    TemporaryDemoDatabase &operator=(const TemporaryDemoDatabase &) = delete;
    const std::string &Path() const { return path_; }

private:
    std::string dir_;
    std::string path_;
};
