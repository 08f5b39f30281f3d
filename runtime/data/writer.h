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
class DatabaseWriter;

// A key the database hands out, one number to one writer whoever else writes
// meanwhile: a sequence on a server, the table's highest inside the write
// transaction on a local file.
struct KeySequence {
    const char *name;    // the server's sequence (generator)
    const char *table;
    const char *column;
    bool text;           // a text column; only its codes made of digits count
    // The statement of the highest number the table holds, as text.
    std::string HighestSql(const DatabaseEngine &engine) const;
};
// Documents and products, the keys the import creates.
extern const KeySequence kDocumentNumbers;
extern const KeySequence kProductCodes;
// Every one of them, for an older database's upgrade.
const std::vector<const KeySequence *> &KeySequences();
// Creates the sequences of KeySequences() the database lacks, where the
// login may (a server engine's upgrade); `countSql` counts the sequences of
// the name its one marker gives. The first NextKey starts each past the
// table's highest.
void AddMissingSequences(DatabaseWriter &writer, const std::string &countSql);
// What the person reads when a server's database lacks the sequence (made
// by an older version, and the writing login may not create it).
std::string MissingSequenceText(const KeySequence &key, const DatabaseEngine &engine);

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
    // The next number of `key`, never handed to another writer. A server's
    // sequence first moves past the table's highest (rows written without
    // it); a local file needs the transaction, which holds the write lock.
    virtual std::string NextKey(const KeySequence &key) = 0;
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
