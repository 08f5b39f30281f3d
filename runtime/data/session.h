#pragma once
// A read-only connection to a database, one implementation per engine
// (data/engine.h). The data sets and the application server run their
// statements through it; writing goes through the engine's writer
// (data/writer.h), and SOCI is spoken only inside the engines' folders.
#include "data/variant.h"

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct ResultSet {
    std::vector<std::string> columns;  // as the database names them
    std::vector<std::vector<std::optional<std::string>>> rows;  // nullopt is NULL
};

// Parameter values keyed by name, one entry per distinct name of the statement.
using NamedValues = std::vector<std::pair<std::string, Variant>>;

// Takes a statement's rows one at a time, as they are read.
class RowReceiver {
public:
    virtual ~RowReceiver() = default;
    // The result's columns, before any row. False stops there: the statement
    // is only described, no row is read.
    virtual bool Columns(const std::vector<std::string> &names) = 0;
    // One row, valid during the call only (its buffers are reused). False
    // stops reading.
    virtual bool Row(const std::vector<std::optional<std::string>> &cells) = 0;
};

class DatabaseSession {
public:
    virtual ~DatabaseSession() = default;
    // Runs a statement that yields rows. Every parameter marker of the statement
    // is bound by value from `params` (a name the statement lacks, or a marker
    // without a value, is an error). An empty text is bound as NULL.
    // Reports and lookups come here, so the statement may only read: one that
    // would write is refused (kWriteRefusedText) before it runs, whatever the
    // login may do.
    virtual ResultSet Query(const std::string &sql, const NamedValues &params) = 0;
    // Runs a statement that yields rows and hands them to `receiver` as they
    // are read, holding none of them, so a report of a million rows needs no
    // more memory than one of ten. Binding and errors as Query; an error
    // raised by the receiver passes on after the statement is closed.
    // Backends stream; this default reads the whole result first.
    virtual void QueryRows(const std::string &sql, const NamedValues &params, RowReceiver &receiver);
    // Runs a statement without a result (schema and fixture loading only);
    // the one way to write.
    virtual void Execute(const std::string &sql) = 0;
    virtual std::string EngineName() const = 0;
    // The plan the engine would follow for a reading statement, one step a
    // line as the engine words it; empty where the engine does not tell.
    virtual std::string Plan(const std::string &sql, const NamedValues &params)
    {
        (void)sql;
        (void)params;
        return {};
    }
    // Asks the statement running on this session to stop as soon as it can;
    // safe from any thread. The statement then fails with EDatabaseCancelled.
    // Does nothing when no statement runs; a backend that cannot interrupt
    // keeps this default.
    virtual void Interrupt() {}
    // From BeginSnapshot to EndSnapshot every query of this session runs in
    // one read-only transaction and sees the database as it was at the first
    // of them, whatever others commit meanwhile: a report's body, sections
    // and parameters block show one moment. Not nested; EndSnapshot never
    // raises. Use ReadSnapshot rather than the pair.
    virtual void BeginSnapshot() {}
    virtual void EndSnapshot() noexcept {}
};

// A snapshot for the life of the scope (none without a session).
class ReadSnapshot {
public:
    explicit ReadSnapshot(DatabaseSession *db) : db_(db)
    {
        if (db_)
            db_->BeginSnapshot();
    }
    ~ReadSnapshot()
    {
        if (db_)
            db_->EndSnapshot();
    }
    ReadSnapshot(const ReadSnapshot &) = delete;
    ReadSnapshot &operator=(const ReadSnapshot &) = delete;

private:
    DatabaseSession *db_;
};

class EDatabaseError;  // data/dberrors.h

// One value for a backend to bind: the marker as the statement spells it and
// its value, an empty text already turned into NULL.
struct BoundValue {
    std::string name;
    Variant value;
};
// Pairs every distinct spelling of a marker of `sql` with its value from
// `params` (names compare case-insensitively). Raises EDatabaseError for a
// marker without a value, a value the statement lacks, or a name given twice.
std::vector<BoundValue> ResolveBindings(const std::string &sql, const NamedValues &params);
