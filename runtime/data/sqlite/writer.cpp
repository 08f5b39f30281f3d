// The SQLite writer through the sqlite3 API itself: an import's or a load's
// throughput is mostly binding and stepping, which SOCI would double.
#include "data/sqlite/session.h"

#include "data/engine.h"
#include "data/writer.h"

#include <sqlite3.h>

#include <filesystem>

namespace {

class SqliteWriter : public DatabaseWriter {
public:
    SqliteWriter(const std::string &path, const WriterOptions &options)
    {
        if (!std::filesystem::exists(path))
            throw EDatabaseError("Banco de dados não encontrado: " + path);
        if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
            const std::string why = db_ ? sqlite3_errmsg(db_) : "sem memória";
            sqlite3_close(db_);
            db_ = nullptr;
            throw EDatabaseError("Não foi possível abrir " + path + " para gravação: " + why);
        }
        sqlite3_busy_timeout(db_, 10000);
        // Each document's savepoint keeps its undo in a sub-journal; in
        // memory it costs no file writes.
        exec("PRAGMA temp_store = MEMORY");
        if (options.scratch) {
            // A failed load discards the file, so nothing needs a journal.
            exec("PRAGMA journal_mode = OFF");
            exec("PRAGMA synchronous = OFF");
            exec("PRAGMA cache_size = -65536");
        }
    }
    ~SqliteWriter() override
    {
        for (sqlite3_stmt *st : statements_)
            sqlite3_finalize(st);
        sqlite3_finalize(savepoint_);
        sqlite3_finalize(release_);
        if (inTransaction_)
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

    void Execute(const std::string &sql) override { exec(sql); }
    // Without statistics SQLite takes a table's primary key over a covering
    // index of the same columns, and reads every row.
    void RefreshStatistics() override { exec("ANALYZE"); }

    void Begin() override
    {
        exec("BEGIN IMMEDIATE");
        inTransaction_ = true;
    }
    void Commit() override
    {
        exec("COMMIT");
        inTransaction_ = false;
    }
    void Rollback() override
    {
        inTransaction_ = false;
        exec("ROLLBACK");
    }
    // Prepared once: a savepoint per document is the import's commonest statement.
    void Mark() override { step(savepoint_, "SAVEPOINT document"); }
    void Release() override { step(release_, "RELEASE document"); }
    void Undo() override { exec("ROLLBACK TO document; RELEASE document"); }

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
        char *error = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
            const std::string why = error ? error : "erro desconhecido";
            sqlite3_free(error);
            throw EDatabaseError(why);
        }
    }

    [[noreturn]] void fail(const std::string &what) { throw EDatabaseError(what + ": " + sqlite3_errmsg(db_)); }

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
};

} // namespace

std::unique_ptr<DatabaseWriter> OpenSqliteWriter(const std::string &path, const WriterOptions &options)
{
    return std::make_unique<SqliteWriter>(path, options);
}
