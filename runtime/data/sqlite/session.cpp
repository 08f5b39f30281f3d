#include "data/sqlite/session.h"

#include "data/dberrors.h"
#include "data/sqlite/functions.h"
#include "data/sqlite/statements.h"

#include <soci/soci.h>
#include <soci/sqlite3/soci-sqlite3.h>

#include <filesystem>

namespace {
// SOCI does not export the backend's type information, so the sanitizer's
// dynamic-type check on this downcast could not even link.
__attribute__((no_sanitize("vptr"))) void *rawHandle(soci::session &session)
{
    return static_cast<soci::sqlite3_session_backend *>(session.get_backend())->conn_;
}

class SqliteSession : public DatabaseSession {
public:
    SqliteSession(const std::string &path, bool readOnly)
    {
        std::string connect = "db=" + (path.find(' ') == std::string::npos ? path : '"' + path + '"');
        if (readOnly)
            connect += " readonly=1";
        try {
            sql_.open(soci::sqlite3, connect);
        } catch (const soci::soci_error &e) {
            throw EDatabaseError("Não foi possível abrir o banco de dados '" + path + "': " +
                                 e.get_error_message());
        }
        RegisterSqliteFunctions(rawHandle(sql_));
        statements_ = std::make_unique<SqliteStatementCache>(rawHandle(sql_));
    }

    ~SqliteSession() override { statements_.reset(); }  // before the connection closes

    ResultSet Query(const std::string &sql, const NamedValues &params) override
    {
        return statements_->Query(sql, ResolveBindings(sql, params));
    }

    void QueryRows(const std::string &sql, const NamedValues &params, RowReceiver &receiver) override
    {
        statements_->QueryRows(sql, ResolveBindings(sql, params), receiver);
    }

    void Execute(const std::string &sql) override
    {
        try {
            sql_ << sql;
        } catch (const soci::sqlite3_soci_error &e) {
            if (e.result() == SQLITE_INTERRUPT)
                throw EDatabaseCancelled("Comando interrompido.");
            throw EDatabaseError(e.get_error_message());
        } catch (const soci::soci_error &e) {
            throw EDatabaseError(e.get_error_message());
        }
    }

    std::string EngineName() const override { return "sqlite"; }

    // SQLite allows this from any thread while the connection is open.
    void Interrupt() override
    {
        sqlite_api::sqlite3_interrupt(static_cast<sqlite_api::sqlite3 *>(rawHandle(sql_)));
    }

private:
    soci::session sql_;
    std::unique_ptr<SqliteStatementCache> statements_;
};
} // namespace

std::unique_ptr<DatabaseSession> OpenSqliteSession(const std::string &path, bool readOnly)
{
    std::error_code ec;
    if (readOnly && !std::filesystem::is_regular_file(path, ec))
        throw EDatabaseError("Banco de dados '" + path + "' não encontrado.");
    return std::make_unique<SqliteSession>(path, readOnly);
}
