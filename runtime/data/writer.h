#pragma once
// An engine's writing connection: prepared statements with '?' markers,
// values and results as texts (NULL as nullopt), one transaction with a
// savepoint per unit of work. The import, the demo generator and the benches
// write through it; reports never do (data/session.h).
#include "data/dberrors.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

struct DatabaseEngine;  // data/engine.h

class DatabaseWriter {
public:
    using Values = std::vector<std::optional<std::string>>;
    virtual ~DatabaseWriter() = default;

    virtual const DatabaseEngine &Engine() const = 0;
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
    // Schema statements; outside Begin/Commit each is committed at once.
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
    // After a bulk load through an owner's login: rebuilds the statistics of
    // the indexes of `tables` where the engine takes them only when an index
    // is built, so the optimizer stops planning for empty tables.
    virtual void RefreshIndexStatistics(const std::vector<std::string> &tables) { (void)tables; }
};
