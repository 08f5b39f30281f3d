// SQLite: the embedded engine of the demo database and of a database a
// person keeps in a file of their own.
#include "data/engine.h"
#include "data/sqlite/session.h"
#include "data/sqlite/upgrade.h"
#include "data/writer.h"

namespace {
const char kNoDatabase[] = "Nenhum banco de dados foi indicado para este computador. Peça a quem instalou o programa "
                           "que indique o arquivo do banco da empresa.";
} // namespace

const DatabaseEngine &SqliteEngine()
{
    static const DatabaseEngine engine{
        .name = "sqlite",
        .title = "SQLite",
        .inThisBuild = true,
        .defaultPort = 0,
        .defaultDialect = "oracle",
        .localFile = true,
        .separateWritingLogin = false,
        .addsImportTables = true,
        .schemaFixture = "sqlite.sql",
        .summaryFixture = "sqlite-summary.sql",
        .variablePrefix = "FIS_SQLITE",
        .digitsOnly = [](const std::string &column) { return column + " NOT GLOB '*[^0-9]*' AND " + column + " <> ''"; },
        .openReader = [](const EngineConnection &c) -> std::unique_ptr<DatabaseSession> {
            if (c.database.empty())
                throw EDatabaseError(kNoDatabase);
            return OpenSqliteSession(c.database, true, c.timeoutMs, c.busyTimeoutMs);
        },
        .openWriter = [](const EngineConnection &c, const WriterOptions &options) {
            if (c.database.empty())
                throw EDatabaseError(kNoDatabase);
            return OpenSqliteWriter(c.database, options, c.busyTimeoutMs);
        },
        .upgrade = UpgradeSqliteDatabase,
    };
    return engine;
}
