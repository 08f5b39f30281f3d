#pragma once
// The import's writing connection: prepared statements with '?' markers,
// values and results as texts (NULL as nullopt), and one transaction with a
// savepoint per document. Unlike the report sessions it writes, so it opens
// the database with a login of its own on Firebird.
#include "data/dberrors.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

struct HostConfig;

class ImportConnection {
public:
    using Values = std::vector<std::optional<std::string>>;
    virtual ~ImportConnection() = default;

    virtual std::string Engine() const = 0;  // "sqlite" or "firebird"
    // Prepares once; the handle stays valid while the connection lives.
    virtual int Prepare(const std::string &sql) = 0;
    virtual void Run(int statement, const Values &values) = 0;
    // The same statement for several rows; a server may take them in one go.
    virtual void RunMany(int statement, const std::vector<Values> &rows)
    {
        for (const Values &row : rows)
            Run(statement, row);
    }
    // Every column of a select must come back as text (cast it otherwise).
    virtual std::vector<Values> Select(int statement, const Values &values) = 0;
    virtual bool HasTable(const std::string &name) = 0;
    // Schema statements, outside any transaction.
    virtual void Execute(const std::string &sql) = 0;

    virtual void Begin() = 0;
    virtual void Commit() = 0;
    virtual void Rollback() = 0;
    // A savepoint inside the transaction: Release keeps its work, Undo drops it.
    virtual void Mark() = 0;
    virtual void Release() = 0;
    virtual void Undo() = 0;

    // After many documents: refreshes what the query planner knows of the
    // tables, so the reports keep choosing their covering indexes. Engines
    // that keep their own statistics leave this empty.
    virtual void RefreshStatistics() {}
};

// Opens an existing SQLite file for writing. Raises EDatabaseError.
std::unique_ptr<ImportConnection> OpenSqliteImport(const std::string &path);

struct FirebirdConnection;
// Raises EDatabaseError; refused when built without Firebird.
std::unique_ptr<ImportConnection> OpenFirebirdImport(const FirebirdConnection &c);

// The configured database with its writing login (`import_user` on Firebird).
std::unique_ptr<ImportConnection> OpenImportConnection(const HostConfig &config);
