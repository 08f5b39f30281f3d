// SQLite: the embedded engine of the demo database and of a database a
// person keeps in a file of their own.
#include "data/engine.h"
#include "data/sqlite/session.h"
#include "data/writer.h"

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
                throw EDatabaseError("Nenhum banco de dados SQLite configurado (chave 'database').");
            return OpenSqliteSession(c.database, true, c.timeoutMs);
        },
        .openWriter = [](const EngineConnection &c, const WriterOptions &options) {
            if (c.database.empty())
                throw EDatabaseError("Nenhum banco de dados SQLite configurado (chave 'database').");
            return OpenSqliteWriter(c.database, options);
        },
    };
    return engine;
}
