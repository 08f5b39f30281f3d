#pragma once
// The PostgreSQL server and logins the tests use, as scripts/test.sh exports
// them: FIS_PG_HOST, FIS_PG_PORT, FIS_PG_DATABASE (empty: no server to test
// against), FIS_PG_USER and FIS_PG_PASSWORD, and the import's
// FIS_PG_IMPORT_USER and FIS_PG_IMPORT_PASSWORD.
#include "data/engine.h"
#include "data/postgresql/session.h"

#include <cstdlib>
#include <string>

inline std::string PgEnvOr(const char *name, const char *fallback = "")
{
    const char *v = std::getenv(name);
    return v && *v ? v : fallback;
}

inline PostgresqlConnection PostgresqlFromEnv()
{
    PostgresqlConnection c;
    c.host = PgEnvOr("FIS_PG_HOST", "127.0.0.1");
    c.port = std::atoi(PgEnvOr("FIS_PG_PORT", "5432").c_str());
    c.database = PgEnvOr("FIS_PG_DATABASE");
    c.user = PgEnvOr("FIS_PG_USER", "fisread");
    c.password = PgEnvOr("FIS_PG_PASSWORD", "fisread");
    return c;
}

inline PostgresqlConnection PostgresqlImportFromEnv()
{
    PostgresqlConnection c = PostgresqlFromEnv();
    c.user = PgEnvOr("FIS_PG_IMPORT_USER", "fisimport");
    c.password = PgEnvOr("FIS_PG_IMPORT_PASSWORD", "fisimport");
    return c;
}

// Why the PostgreSQL suites cannot run here, or empty.
inline std::string PostgresqlUnavailable()
{
    if (!PostgresqlEngine().inThisBuild)
        return "built without PostgreSQL";
    if (PgEnvOr("FIS_PG_DATABASE").empty())
        return "FIS_PG_DATABASE is not set; run scripts/postgresql-create-db.sh";
    return {};
}
