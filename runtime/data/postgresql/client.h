#pragma once
// Private to the PostgreSQL backend (session.cpp, writer.cpp): what both need
// of SOCI's PostgreSQL objects and of libpq's failures.
#include "data/postgresql/session.h"
#include "data/server_calls.h"

#include <libpq-fe.h>
#include <soci/soci.h>

#include <memory>
#include <mutex>
#include <string>

// libpq's connection under a SOCI session.
PGconn *PostgresqlConnectionOf(soci::session &session);

// SOCI's session opened on `connect`, or EDatabaseError saying in Portuguese
// why it could not be (EDatabaseConnectionLost where the server could not be
// reached); `what` names the database in the message.
std::unique_ptr<soci::session> OpenPostgresqlSoci(const std::string &connect, const std::string &what);

// A failed call by its SQLSTATE (empty where libpq failed) and its message.
ServerFailure PostgresqlFailureOf(PGconn *conn, const std::string &state, const std::string &message);
// The same from its result, null where libpq gave none.
ServerFailure PostgresqlFailureOf(PGconn *conn, const PGresult *r);

// libpq's connection as other threads may reach it: a cancel request, and
// the socket shut so that every wait on it ends.
class PostgresqlCanceller {
public:
    void Set(PGconn *conn);
    void Cancel();
    void Cut();

private:
    std::mutex mutex_;
    PGconn *conn_ = nullptr;
};
