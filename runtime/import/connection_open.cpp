#include "import/connection.h"

#include "data/firebird/session.h"
#include "host/hostconfig.h"
#include "host/hostsession.h"

#if !FIS_WITH_FIREBIRD
std::unique_ptr<ImportConnection> OpenFirebirdImport(const FirebirdConnection &)
{
    throw EDatabaseError("Este programa foi compilado sem suporte ao Firebird.");
}
#endif

std::unique_ptr<ImportConnection> OpenImportConnection(const HostConfig &config)
{
    if (config.engine == "sqlite") {
        if (config.database.empty())
            throw EDatabaseError("Nenhum banco de dados foi indicado para este computador. Peça a quem instalou o programa que indique o arquivo do banco da empresa.");
        // The import writes the columns a database made before them lacks.
        AddMissingColumns(config.database);
        return OpenSqliteImport(config.database);
    }
    if (config.engine == "firebird") {
        if (config.importUser.empty())
            throw EDatabaseError("A importação no Firebird usa um usuário com direito de gravação: "
                                 "configure 'import_user' e 'import_password'.");
        FirebirdConnection c = HostFirebirdConnection(config);
        c.user = config.importUser;
        c.password = config.importPassword;
        return OpenFirebirdImport(c);
    }
    throw EDatabaseError("Motor de banco de dados não disponível: '" + config.engine + "'.");
}
