#include "host/hostsession.h"

#include "data/dberrors.h"
#include "data/firebird/session.h"
#include "data/sqlite/session.h"
#include "data/sqlscript.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

std::unique_ptr<DatabaseSession> OpenHostSession(const HostConfig &config)
{
    if (config.engine == "sqlite") {
        if (config.database.empty())
            throw EDatabaseError("Nenhum banco de dados SQLite configurado (chave 'database').");
        return OpenSqliteSession(config.database, true, config.dbTimeoutMs);
    }
    if (config.engine == "firebird") {
        FirebirdConnection c;
        c.host = config.dbHost;
        c.port = config.dbPort;
        c.database = config.database;
        c.user = config.dbUser;
        c.password = config.dbPassword;
        c.timeoutMs = config.dbTimeoutMs;
        return OpenFirebirdSession(c);
    }
    throw EDatabaseError("Motor de banco de dados não disponível: '" + config.engine + "'.");
}

void BuildDemoDatabase(const std::string &path, const std::vector<std::string> &fixturePaths)
{
    // Every file is read before the old database goes.
    std::vector<std::string> scripts;
    for (const std::string &fixture : fixturePaths) {
        std::ifstream in(fixture, std::ios::binary);
        if (!in)
            throw EDatabaseError("Arquivo de dados de demonstração não encontrado: " + fixture);
        std::stringstream script;
        script << in.rdbuf();
        scripts.push_back(script.str());
    }
    std::error_code ec;
    std::filesystem::remove(path, ec);
    auto session = OpenSqliteSession(path, false);
    // One transaction: a commit per row would cost a disk flush each.
    session->Execute("BEGIN");
    for (std::size_t i = 0; i < scripts.size(); ++i) {
        try {
            LoadSqlScript(*session, scripts[i]);
        } catch (const Exception &e) {
            throw EDatabaseError(fixturePaths[i] + ": " + e.Message());
        }
    }
    session->Execute("COMMIT");
}

TemporaryDemoDatabase::TemporaryDemoDatabase()
{
    // The process in the name lets a later run remove what a killed one left.
    std::string pattern =
        (std::filesystem::temp_directory_path() / ("fisdemo-" + std::to_string(::getpid()) + "-XXXXXX")).string();
    if (!mkdtemp(pattern.data()))
        throw EDatabaseError("Não foi possível criar uma pasta temporária.");
    dir_ = pattern;
    path_ = dir_ + "/demo.sqlite";
    BuildDemoDatabase(path_);
}

TemporaryDemoDatabase::~TemporaryDemoDatabase()
{
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}
