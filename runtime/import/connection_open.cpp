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
    // What an older database lacks, as far as the writing login may: a
    // file's columns and tables, a server's key sequences.
    if (!c.database.empty())
        engine.upgrade(c, UpgradeFixturesFor(engine), true);
    return engine.openWriter(c, {});
}
