// Firebird 3: the server a company keeps its books on, reached by TCP.
#include "data/engine.h"
#include "data/firebird/session.h"
#include "data/writer.h"

FirebirdConnection FirebirdConnectionFor(const EngineConnection &c)
{
    FirebirdConnection f;
    f.host = c.host;
    f.port = FirebirdEngine().PortOr(c.port);
    f.database = c.database;
    f.user = c.user;
    f.password = c.password;
    f.timeoutMs = c.timeoutMs;
    return f;
}

const DatabaseEngine &FirebirdEngine()
{
    static const DatabaseEngine engine{
        .name = "firebird",
        .title = "Firebird",
#if FIS_WITH_FIREBIRD
        .inThisBuild = true,
#else
        .inThisBuild = false,
#endif
        .defaultPort = 3050,
        .defaultDialect = "interbase",
        .localFile = false,
        .separateWritingLogin = true,
        .addsImportTables = false,
        .schemaFixture = "firebird-schema.sql",
        .summaryFixture = "firebird-summary.sql",
        .variablePrefix = "FIS_FB",
        .digitsOnly = [](const std::string &column) { return column + " SIMILAR TO '[0-9]+'"; },
        .openReader = [](const EngineConnection &c) { return OpenFirebirdSession(FirebirdConnectionFor(c)); },
        .openWriter = [](const EngineConnection &c, const WriterOptions &) {
            return OpenFirebirdWriter(FirebirdConnectionFor(c));
        },
        // Only the keys' sequences: the rest of an older database is the
        // creation script's (--login-only), run by the database's owner.
        .upgrade = [](const EngineConnection &c, const UpgradeFixtures &, bool writing) {
            if (!writing)
                return;
            AddMissingSequences(*OpenFirebirdWriter(FirebirdConnectionFor(c)), "SELECT CAST(COUNT(*) AS VARCHAR(5)) FROM RDB$GENERATORS WHERE RDB$GENERATOR_NAME = ?");
        },
    };
    return engine;
}
