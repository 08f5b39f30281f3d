#pragma once
// Prepared statements on a raw SQLite connection, kept for reuse: a screen
// sends the same dozen statements over and over. Kept apart because SOCI's
// SQLite header wraps <sqlite3.h> in a namespace of its own.
#include "data/session.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

// What the person reads for an engine failure of this result code (locked,
// damaged, unreadable, full...), or empty where the engine's text says more.
std::string SqliteFailureText(int code);
// What the person reads for the engine's "no such table: X", or empty for
// any other text.
std::string SqliteMissingTableText(const std::string &engineText);
// Raises the connection's last error: EDatabaseCancelled when an interrupt
// stopped the statement, EDatabaseError otherwise, in Portuguese where
// SqliteFailureText has words for it. `db` is the raw handle.
[[noreturn]] void FailSqlite(void *db);

class SqliteStatementCache {
public:
    // Few statements repeat; an unbounded cache would keep every ad-hoc one.
    // Past this many, the least recently used statement is finalized.
    static constexpr std::size_t kCapacity = 64;

    // `db` is the raw sqlite3 handle; it must outlive the cache.
    explicit SqliteStatementCache(void *db);
    ~SqliteStatementCache();
    SqliteStatementCache(const SqliteStatementCache &) = delete;
    SqliteStatementCache &operator=(const SqliteStatementCache &) = delete;

    // Runs `sql` with the values bound by marker name (NULL for a null
    // value); every column is read as text. Raises EDatabaseError, also for
    // a statement that would write or attach a file: these only read.
    ResultSet Query(const std::string &sql, const std::vector<BoundValue> &bound);
    // The same, handing each row to `receiver` as it is read. The statement
    // is prepared for this run alone, so the receiver may run others.
    void QueryRows(const std::string &sql, const std::vector<BoundValue> &bound, RowReceiver &receiver);

private:
    struct Cache;
    std::unique_ptr<Cache> cache_;
};
