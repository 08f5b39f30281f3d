// Built instead of the PostgreSQL session and writer when the build leaves
// PostgreSQL out (FIS_WITH_POSTGRESQL=OFF): the engine is refused the way an
// unknown one is.
#include "data/postgresql/session.h"

#include "data/dberrors.h"
#include "data/engine.h"
#include "data/writer.h"

namespace {
[[noreturn]] void refuse()
{
    throw EDatabaseError("Motor de banco de dados não disponível: '" + std::string(PostgresqlEngine().name) + "'.");
}
} // namespace

std::unique_ptr<DatabaseSession> OpenPostgresqlSession(const PostgresqlConnection &) { refuse(); }
std::unique_ptr<DatabaseWriter> OpenPostgresqlWriter(const PostgresqlConnection &) { refuse(); }
