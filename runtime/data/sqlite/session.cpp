#include "data/sqlite/session.h"

#include "data/dberrors.h"
#include "data/engine.h"
#include "data/sqlite/functions.h"
#include "data/sqlite/statements.h"
#include "data/watchdog.h"

#include <soci/soci.h>
#include <soci/sqlite3/soci-sqlite3.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>

namespace {
// SOCI does not export the backend's type information, so the sanitizer's
// dynamic-type check on this downcast could not even link.
__attribute__((no_sanitize("vptr"))) void *rawHandle(soci::session &session)
{
    return static_cast<soci::sqlite3_session_backend *>(session.get_backend())->conn_;
}

// Hands rows on with the deadline's clock stopped while the caller works.
class PausingReceiver : public RowReceiver {
public:
    PausingReceiver(RowReceiver &inner, CallWatchdog &dog) : inner_(inner), dog_(dog) {}
    bool Columns(const std::vector<std::string> &names) override
    {
        dog_.Pause();
        const bool wanted = inner_.Columns(names);
        dog_.Resume();
        return wanted;
    }
    bool Row(const std::vector<std::optional<std::string>> &cells) override
    {
        dog_.Pause();
        const bool wanted = inner_.Row(cells);
        dog_.Resume();
        return wanted;
    }

private:
    RowReceiver &inner_;
    CallWatchdog &dog_;
};

class SqliteSession : public DatabaseSession {
public:
    SqliteSession(const std::string &path, bool readOnly, int timeoutMs, int busyTimeoutMs)
        // Every round interrupts again: one that lands between two steps is lost.
        : watchdog_(std::chrono::milliseconds(std::max(timeoutMs, 0)), [this](int) { Interrupt(); })
    {
        std::string connect = "db=" + (path.find(' ') == std::string::npos ? path : '"' + path + '"');
        if (readOnly)
            connect += " readonly=1";
        try {
            sql_.open(soci::sqlite3, connect);
        } catch (const soci::sqlite3_soci_error &e) {
            std::string why = SqliteFailureText(e.result());
            throw EDatabaseError("Não foi possível abrir o banco de dados '" + path + "': " +
                                     (why.empty() ? e.get_error_message() : why),
                                 e.get_error_message());
        } catch (const soci::soci_error &e) {
            throw EDatabaseError("Não foi possível abrir o banco de dados '" + path + "': " +
                                 e.get_error_message());
        }
        sqlite_api::sqlite3_busy_timeout(static_cast<sqlite_api::sqlite3 *>(rawHandle(sql_)), std::max(busyTimeoutMs, 0));
        RegisterSqliteFunctions(rawHandle(sql_));
        statements_ = std::make_unique<SqliteStatementCache>(rawHandle(sql_));
    }

    ~SqliteSession() override { statements_.reset(); }  // before the connection closes

    ResultSet Query(const std::string &sql, const NamedValues &params) override
    {
        const std::vector<BoundValue> bound = ResolveBindings(sql, params);
        const CallWatchdog::Call call(watchdog_);
        try {
            return statements_->Query(sql, bound);
        } catch (const EDatabaseCancelled &e) {
            throwIfLate(e);
            throw;
        }
    }

    void QueryRows(const std::string &sql, const NamedValues &params, RowReceiver &receiver) override
    {
        const std::vector<BoundValue> bound = ResolveBindings(sql, params);
        const CallWatchdog::Call call(watchdog_);
        PausingReceiver paused(receiver, watchdog_);
        try {
            statements_->QueryRows(sql, bound, paused);
        } catch (const EDatabaseCancelled &e) {
            throwIfLate(e);
            throw;
        }
    }

    void Execute(const std::string &sql) override
    {
        const CallWatchdog::Call call(watchdog_);
        try {
            sql_ << sql;
        } catch (const soci::sqlite3_soci_error &e) {
            if (e.result() == SQLITE_INTERRUPT) {
                const EDatabaseCancelled cancelled("Comando interrompido.");
                throwIfLate(cancelled);
                throw cancelled;
            }
            if (std::string why = SqliteFailureText(e.result()); !why.empty())
                throw EDatabaseError(std::move(why), e.get_error_message());
            throw EDatabaseError(e.get_error_message());
        } catch (const soci::soci_error &e) {
            throw EDatabaseError(e.get_error_message());
        }
    }

    std::string EngineName() const override { return SqliteEngine().name; }

    std::string Plan(const std::string &sql, const NamedValues &params) override
    {
        const ResultSet plan = Query("EXPLAIN QUERY PLAN " + sql, params);
        std::map<std::string, int> depth;  // a step's id, and how deep it sits
        std::string out;
        for (const auto &row : plan.rows) {
            const int d = row[1] && depth.count(*row[1]) ? depth[*row[1]] + 1 : 0;
            depth[row[0].value_or("")] = d;
            out += std::string(static_cast<std::size_t>(d) * 2, ' ') + row[3].value_or("") + "\n";
        }
        return out;
    }

    // A deferred transaction: the first read fixes what every later read of
    // it sees (in WAL mode a snapshot; otherwise its shared lock keeps
    // writers from committing until the end).
    void BeginSnapshot() override
    {
        auto *db = static_cast<sqlite_api::sqlite3 *>(rawHandle(sql_));
        if (!sqlite_api::sqlite3_get_autocommit(db))
            return;
        const CallWatchdog::Call call(watchdog_);
        char *error = nullptr;
        if (sqlite_api::sqlite3_exec(db, "BEGIN DEFERRED", nullptr, nullptr, &error) != SQLITE_OK) {
            const std::string text = error ? error : "BEGIN";
            sqlite_api::sqlite3_free(error);
            throw EDatabaseError(text);
        }
    }

    void EndSnapshot() noexcept override
    {
        auto *db = static_cast<sqlite_api::sqlite3 *>(rawHandle(sql_));
        if (sqlite_api::sqlite3_get_autocommit(db))
            return;
        // Nothing was written: ending it either way lets go of the read.
        if (sqlite_api::sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
            sqlite_api::sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    }

    // SQLite allows this from any thread while the connection is open.
    void Interrupt() override
    {
        sqlite_api::sqlite3_interrupt(static_cast<sqlite_api::sqlite3 *>(rawHandle(sql_)));
    }

private:
    void throwIfLate(const EDatabaseCancelled &e) const
    {
        if (watchdog_.Late())
            throw EDatabaseTimeout(DatabaseTimeoutText(watchdog_.Limit().count()), e.Message());
    }

    soci::session sql_;
    std::unique_ptr<SqliteStatementCache> statements_;
    CallWatchdog watchdog_;  // last: stopped before the connection closes
};
} // namespace

std::unique_ptr<DatabaseSession> OpenSqliteSession(const std::string &path, bool readOnly, int timeoutMs,
                                                   int busyTimeoutMs)
{
    std::error_code ec;
    if (readOnly && !std::filesystem::is_regular_file(path, ec))
        throw EDatabaseError("Banco de dados '" + path + "' não encontrado.");
    return std::make_unique<SqliteSession>(path, readOnly, timeoutMs, busyTimeoutMs);
}
