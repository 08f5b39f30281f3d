// The SQLite writer through the sqlite3 API itself: an import's or a load's
// throughput is mostly binding and stepping, which SOCI would double.
#include "data/sqlite/session.h"

#include "data/engine.h"
#include "data/sqlite/statements.h"
#include "data/writer.h"

#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

namespace {

class SqliteWriter : public DatabaseWriter {
public:
    SqliteWriter(const std::string &path, const WriterOptions &options, int busyTimeoutMs)
        : busyTimeoutMs_(std::max(busyTimeoutMs, 0)), scratch_(options.scratch)
    {
        if (!std::filesystem::exists(path))
            throw EDatabaseError("Banco de dados não encontrado: " + path);
        if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
            const std::string engine = db_ ? sqlite3_errmsg(db_) : "sem memória";
            const std::string why = db_ ? SqliteFailureText(sqlite3_extended_errcode(db_)) : "";
            sqlite3_close(db_);
            db_ = nullptr;
            throw EDatabaseError("Não foi possível abrir " + path + " para gravação: " + (why.empty() ? engine : why),
                                 engine);
        }
        sqlite3_extended_result_codes(db_, 1);
        sqlite3_busy_handler(db_, &SqliteWriter::busy, this);
        // Each document's savepoint keeps its undo in a sub-journal; in
        // memory it costs no file writes.
        exec("PRAGMA temp_store = MEMORY");
        if (options.scratch) {
            // A failed load discards the file, so nothing needs a journal.
            exec("PRAGMA journal_mode = OFF");
            exec("PRAGMA synchronous = OFF");
            exec("PRAGMA cache_size = -65536");
        } else {
            // Reports keep reading while an import writes. A file that
            // cannot be written keeps its mode; writing it fails later, with
            // its own message.
            sqlite3_exec(db_, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);
        }
    }
    ~SqliteWriter() override
    {
        for (sqlite3_stmt *st : statements_)
            sqlite3_finalize(st);
        sqlite3_finalize(savepoint_);
        sqlite3_finalize(release_);
        if (!sqlite3_get_autocommit(db_))
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(db_);
    }

    const DatabaseEngine &Engine() const override { return SqliteEngine(); }

    int Prepare(const std::string &sql) override
    {
        sqlite3_stmt *st = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &st, nullptr) != SQLITE_OK)
            fail("preparando '" + sql + "'");
        statements_.push_back(st);
        return static_cast<int>(statements_.size() - 1);
    }

    void Run(int statement, const Values &values) override
    {
        sqlite3_stmt *st = bind(statement, values);
        const int rc = sqlite3_step(st);
        sqlite3_reset(st);
        if (rc != SQLITE_DONE && rc != SQLITE_ROW)
            fail("gravando");
    }

    std::vector<Values> Select(int statement, const Values &values) override
    {
        sqlite3_stmt *st = bind(statement, values);
        std::vector<Values> rows;
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            Values row;
            for (int i = 0, n = sqlite3_column_count(st); i < n; ++i) {
                const unsigned char *text = sqlite3_column_text(st, i);
                if (text)
                    row.emplace_back(reinterpret_cast<const char *>(text));
                else
                    row.emplace_back(std::nullopt);
            }
            rows.push_back(std::move(row));
        }
        sqlite3_reset(st);
        if (rc != SQLITE_DONE)
            fail("lendo");
        return rows;
    }

    bool HasTable(const std::string &name) override
    {
        sqlite3_stmt *st = nullptr;
        sqlite3_prepare_v2(db_, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND upper(name) = upper(?)", -1, &st,
                           nullptr);
        sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT);
        const bool found = sqlite3_step(st) == SQLITE_ROW;
        sqlite3_finalize(st);
        return found;
    }

    // The transaction holds the write lock (BEGIN IMMEDIATE), so the highest
    // number read once in it stays the highest until it ends.
    std::string NextKey(const KeySequence &key) override
    {
        if (!inTransaction_)
            throw EDatabaseError(std::string("número de ") + key.table + " pedido fora de uma transação");
        auto at = nextKeys_.find(key.name);
        if (at == nextKeys_.end()) {
            sqlite3_stmt *st = nullptr;
            const std::string sql = key.HighestSql(Engine());
            if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
                fail("preparando '" + sql + "'");
            const int rc = sqlite3_step(st);
            long long highest = 0;
            if (rc == SQLITE_ROW && sqlite3_column_type(st, 0) != SQLITE_NULL)
                highest = sqlite3_column_int64(st, 0);
            sqlite3_finalize(st);
            if (rc != SQLITE_ROW && rc != SQLITE_DONE)
                fail("lendo o maior número de " + std::string(key.table));
            at = nextKeys_.emplace(key.name, highest + 1).first;
        }
        return std::to_string(at->second++);
    }

    void Execute(const std::string &sql) override { exec(sql); }
    // Without statistics SQLite takes a table's primary key over a covering
    // index of the same columns, and reads every row.
    void RefreshStatistics() override { exec("ANALYZE"); }

    void Begin() override
    {
        // Another import waiting for the lock polls every few milliseconds;
        // taking it again at once after a commit would starve it.
        if (committed_ && !scratch_)
            std::this_thread::sleep_for(std::chrono::milliseconds(4 * kBusyPollMs));
        nextKeys_.clear();
        exec("BEGIN IMMEDIATE");
        inTransaction_ = true;
    }
    void Commit() override
    {
        exec("COMMIT");
        inTransaction_ = false;
        committed_ = true;
        nextKeys_.clear();
    }
    void Rollback() override
    {
        inTransaction_ = false;
        nextKeys_.clear();
        // A full disk or a failed commit may have rolled it back already;
        // the failure that did so is the one to tell.
        if (!sqlite3_get_autocommit(db_))
            exec("ROLLBACK");
    }
    // Prepared once: a savepoint per document is the import's commonest statement.
    void Mark() override { step(savepoint_, "SAVEPOINT document"); }
    void Release() override { step(release_, "RELEASE document"); }
    void Undo() override
    {
        if (sqlite3_get_autocommit(db_))
            throw EDatabaseError(lastFailure_.empty() ? "a transação foi desfeita pelo banco de dados" : lastFailure_);
        exec("ROLLBACK TO document; RELEASE document");
    }

private:
    sqlite3_stmt *bind(int statement, const Values &values)
    {
        sqlite3_stmt *st = statements_.at(static_cast<std::size_t>(statement));
        for (std::size_t i = 0; i < values.size(); ++i) {
            const int at = static_cast<int>(i + 1);
            // The values outlive the step that reads them.
            const int rc = values[i] ? sqlite3_bind_text(st, at, values[i]->data(), static_cast<int>(values[i]->size()),
                                                         SQLITE_STATIC)
                                     : sqlite3_bind_null(st, at);
            if (rc != SQLITE_OK)
                fail("associando valores");
        }
        return st;
    }

    void exec(const std::string &sql)
    {
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
            fail("");
    }

    // In Portuguese where the failure is the database's state (locked, read
    // only, full) rather than the statement's; a duplicate key is a conflict
    // a caller may redo.
    [[noreturn]] void fail(const std::string &what)
    {
        const int code = sqlite3_extended_errcode(db_);
        const std::string engine = sqlite3_errmsg(db_);
        const std::string said = what.empty() ? engine : what + ": " + engine;
        std::string text = SqliteFailureText(code);
        if ((code & 0xff) == SQLITE_BUSY || (code & 0xff) == SQLITE_LOCKED)
            text = "O banco de dados está sendo gravado por outro programa (outra importação?); esperou " +
                   std::to_string(busyTimeoutMs_ / 1000) + " s sem conseguir gravar. Tente de novo quando ela "
                   "terminar ou aumente db_busy_timeout_ms.";
        else if ((code & 0xff) == SQLITE_READONLY)
            text = "O banco de dados só pode ser lido (arquivo ou pasta sem permissão de gravação); nada foi gravado.";
        else if ((code & 0xff) == SQLITE_FULL)
            text = "O disco do banco de dados está cheio; o que não foi confirmado foi desfeito e o banco continua "
                   "íntegro.";
        if (text.empty())
            text = SqliteMissingTableText(engine);
        lastFailure_ = text.empty() ? said : text;
        if (code == SQLITE_CONSTRAINT_PRIMARYKEY || code == SQLITE_CONSTRAINT_UNIQUE)
            throw EDatabaseConflict(said, engine);
        if (!text.empty())
            throw EDatabaseError(text, said);
        throw EDatabaseError(said);
    }

    static constexpr int kBusyPollMs = 2;
    // Polls often so that a lock let go between two transactions is taken.
    static int busy(void *self, int tries)
    {
        auto *w = static_cast<SqliteWriter *>(self);
        const auto now = std::chrono::steady_clock::now();
        if (tries == 0)
            w->busySince_ = now;
        if (now - w->busySince_ >= std::chrono::milliseconds(w->busyTimeoutMs_))
            return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(kBusyPollMs));
        return 1;
    }

    void step(sqlite3_stmt *&st, const char *sql)
    {
        if (!st && sqlite3_prepare_v2(db_, sql, -1, &st, nullptr) != SQLITE_OK)
            fail(sql);
        const int rc = sqlite3_step(st);
        sqlite3_reset(st);
        if (rc != SQLITE_DONE)
            fail(sql);
    }
    sqlite3_stmt *savepoint_ = nullptr, *release_ = nullptr;

    sqlite3 *db_ = nullptr;
    std::vector<sqlite3_stmt *> statements_;
    bool inTransaction_ = false;
    const int busyTimeoutMs_;
    const bool scratch_;
    bool committed_ = false;
    std::chrono::steady_clock::time_point busySince_;
    std::map<std::string, long long> nextKeys_;  // per key, in this transaction
    std::string lastFailure_;
};

} // namespace

std::unique_ptr<DatabaseWriter> OpenSqliteWriter(const std::string &path, const WriterOptions &options,
                                                 int busyTimeoutMs)
{
    return std::make_unique<SqliteWriter>(path, options, busyTimeoutMs);
}
