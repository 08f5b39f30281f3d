#include "import/connection.h"

#include "data/engine.h"
#include "host/hostconfig.h"
#include "host/hostsession.h"

std::unique_ptr<ImportConnection> OpenImportConnection(const HostConfig &config)
{
    const DatabaseEngine &engine = EngineNamed(config.engine);
    EngineConnection c = HostConnection(config);
    if (engine.separateWritingLogin) {
        if (config.importUser.empty())
            throw EDatabaseError(std::string("A importação no ") + engine.title +
                                 " usa um usuário com direito de gravação: configure 'import_user' e "
                                 "'import_password'.");
        c.user = config.importUser;
        c.password = config.importPassword;
    }
    // The import writes the columns a file made before them lacks.
    if (engine.localFile && !c.database.empty())
        AddMissingColumns(c.database);
    return engine.openWriter(c, {});
}
