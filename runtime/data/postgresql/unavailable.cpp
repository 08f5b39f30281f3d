// Built instead of the PostgreSQL session when the build leaves PostgreSQL out
// (FIS_WITH_POSTGRESQL=OFF): the engine is refused the way an unknown one is.
#include "data/postgresql/session.h"

#include "data/dberrors.h"

std::unique_ptr<DatabaseSession> OpenPostgresqlSession(const PostgresqlConnection &)
{
    throw EDatabaseError("Motor de banco de dados não disponível: 'postgresql'.");
}
