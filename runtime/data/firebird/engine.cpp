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
    };
    return engine;
}
