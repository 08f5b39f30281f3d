// PostgreSQL: the server a company outgrows one machine into (replicas,
// managed services), reached by TCP.
#include "data/engine.h"
#include "data/postgresql/session.h"
#include "data/writer.h"

PostgresqlConnection PostgresqlConnectionFor(const EngineConnection &c)
{
    PostgresqlConnection p;
    p.host = c.host;
    p.port = PostgresqlEngine().PortOr(c.port);
    p.database = c.database;
    p.user = c.user;
    p.password = c.password;
    p.timeoutMs = c.timeoutMs;
    return p;
}

const DatabaseEngine &PostgresqlEngine()
{
    static const DatabaseEngine engine{
        .name = "postgresql",
        .title = "PostgreSQL",
#if FIS_WITH_POSTGRESQL
        .inThisBuild = true,
#else
        .inThisBuild = false,
#endif
        .defaultPort = 5432,
        // The Oracle statements, through the functions of postgresql-schema.sql.
        .defaultDialect = "oracle",
        .localFile = false,
        .separateWritingLogin = true,
        .addsImportTables = false,
        .schemaFixture = "postgresql-schema.sql",
        .summaryFixture = "postgresql-summary.sql",
        .variablePrefix = "FIS_PG",
        .digitsOnly = [](const std::string &column) { return column + " SIMILAR TO '[0-9]+'"; },
        .openReader = [](const EngineConnection &c) { return OpenPostgresqlSession(PostgresqlConnectionFor(c)); },
        .openWriter = [](const EngineConnection &c, const WriterOptions &) {
            return OpenPostgresqlWriter(PostgresqlConnectionFor(c));
        },
        // Only the keys' sequences: the rest of an older database is the
        // creation script's (--login-only), run by the database's owner.
        .upgrade = [](const EngineConnection &c, const UpgradeFixtures &, bool writing) {
            if (!writing)
                return;
            AddMissingSequences(*OpenPostgresqlWriter(PostgresqlConnectionFor(c)), "SELECT CAST(COUNT(*) AS VARCHAR(5)) FROM pg_class WHERE relkind = 'S' AND relname = LOWER(?)");
        },
    };
    return engine;
}
