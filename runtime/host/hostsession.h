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
// `bringUpToDate`: a SQLite database made before the kept summary, the CFOP
// codes or the columns added since gets them first (the host does; the
// application server, which only serves what is there, does not).
std::unique_ptr<DatabaseSession> OpenHostSession(const HostConfig &config, bool bringUpToDate = true);

// Gives a SQLite database made before the kept CFOP summary its summary and
// the triggers that keep it (one made before the daily ICMS the apuração
// reads, that alone); nothing where it has them, or where it lacks the
// document tables the summary is kept from. Raises EDatabaseError.
void AddKeptSummary(const std::string &path);
// Gives a SQLite database whose CFOP table lacks codes of the annex
// (fixtures/cfop.sql) the ones it lacks, keeping the descriptions it has;
// a database that cannot be written is left as it is.
void AddMissingCfops(const std::string &path);
// Gives a SQLite database made before them the columns added since (a tax
// row's CST, a document's participant CNPJ/CPF and IE), empty on the rows it
// holds, and the tables added since (branches' states, fiscal months, the
// company's activity, the apuração's lines and adjustments), with the rows
// every database shares; a database that cannot be written is left.
void AddMissingColumns(const std::string &path);

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
