#include "data/postgresql/client.h"

#include <soci/postgresql/soci-postgresql.h>

#include <sys/socket.h>

#include <thread>

// SOCI exports no type information for its backends, so the sanitizer's
// dynamic-type check on this downcast could not even link.
__attribute__((no_sanitize("vptr"))) PGconn *PostgresqlConnectionOf(soci::session &session)
{
    return static_cast<soci::postgresql_session_backend *>(session.get_backend())->conn_;
}

std::unique_ptr<soci::session> OpenPostgresqlSoci(const std::string &connect, const std::string &what)
{
    auto session = std::make_unique<soci::session>();
    try {
        session->open(soci::postgresql, connect);
    } catch (const soci::soci_error &e) {
        const std::string engineText = e.get_error_message();
        const std::string why = PostgresqlConnectFailureText(engineText);
        const std::string message = "Não foi possível abrir o banco de dados " + what + ": " + why;
        if (why == PostgresqlFailureText("08006"))
            throw EDatabaseConnectionLost(message, engineText);
        throw EDatabaseError(message, engineText);
    }
    return session;
}

ServerFailure PostgresqlFailureOf(PGconn *conn, const std::string &state, const std::string &message)
{
    ServerFailure f;
    f.engineText = message;
    const bool shutdown = state == "57P01" || state == "57P02" || state == "57P03";
    f.lost = !conn || PQstatus(conn) == CONNECTION_BAD || shutdown || state.compare(0, 2, "08") == 0;
    if (shutdown)
        f.lostText = PostgresqlFailureText(state);
    f.cancelled = state == "57014";
    f.writeRefused = state == "25006";
    f.text = PostgresqlFailureText(state);
    return f;
}

ServerFailure PostgresqlFailureOf(PGconn *conn, const PGresult *r)
{
    const char *state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    std::string message = r ? PQresultErrorMessage(r) : "";
    if (message.empty() && conn)
        message = PQerrorMessage(conn);
    while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
        message.pop_back();
    return PostgresqlFailureOf(conn, state ? state : "", message);
}

void PostgresqlCanceller::Set(PGconn *conn)
{
    std::lock_guard lock(mutex_);
    conn_ = conn;
}

// libpq's cancel request goes over a connection of its own and waits for
// the server to close it, which a frozen server never does: it is sent from
// a thread of its own, so the deadline's next round still cuts the connection.
void PostgresqlCanceller::Cancel()
{
    PGcancel *request = nullptr;
    {
        std::lock_guard lock(mutex_);
        if (conn_)
            request = PQgetCancel(conn_);
    }
    if (!request)
        return;
    std::thread([request] {
        char why[256];
        PQcancel(request, why, sizeof why);
        PQfreeCancel(request);
    }).detach();
}

void PostgresqlCanceller::Cut()
{
    std::lock_guard lock(mutex_);
    if (conn_)
        ::shutdown(PQsocket(conn_), SHUT_RDWR);
}
