#include "host/hostsession.h"

#include "data/dberrors.h"
#include "data/engine.h"
#include "data/sqlite/session.h"
#include "data/sqlscript.h"
#include "rtl/files.h"
#include "rtl/sysutils.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <unistd.h>

EngineConnection HostConnection(const HostConfig &config)
{
    EngineConnection c;
    c.database = config.database;
    c.host = config.dbHost;
    c.port = config.dbPort;
    c.user = config.dbUser;
    c.password = config.dbPassword;
    c.timeoutMs = config.dbTimeoutMs;
    c.busyTimeoutMs = config.dbBusyTimeoutMs;
    return c;
}

std::unique_ptr<DatabaseSession> OpenHostSession(const HostConfig &config, bool bringUpToDate)
{
    const DatabaseEngine &engine = EngineNamed(config.engine);
    if (bringUpToDate && !config.database.empty()) {
        // Once per database and process: a server opens a session per worker.
        static std::mutex mutex;
        static std::set<std::string> checked;
        std::lock_guard<std::mutex> lock(mutex);
        if (checked.insert(config.database).second) {
            try {
                engine.upgrade(HostConnection(config), UpgradeFixturesFor(engine), false);
            } catch (...) {
                checked.erase(config.database);
                throw;
            }
        }
    }
    return engine.openReader(HostConnection(config));
}

namespace {
// A fixture file whole; `missing` starts the message when it cannot be read.
std::string readFixture(const std::string &path, const std::string &missing)
{
    try {
        return ReadWholeFile(path);
    } catch (const Exception &) {
        throw EDatabaseError(missing + path);
    }
}

std::string upper(std::string s)
{
    for (char &c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}
} // namespace

void BuildDemoDatabase(const std::string &path, const std::vector<std::string> &fixturePaths)
{
    // Every file is read before the old database goes.
    std::vector<std::string> scripts;
    for (const std::string &fixture : fixturePaths)
        scripts.push_back(readFixture(fixture, "Arquivo de dados de demonstração não encontrado: "));
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

namespace {
// The statements of a fixture a database of one's own takes: every table,
// column and index, and the rows of the tables everyone shares.
bool sharedStatement(const std::string &statement)
{
    static const char *const shared[] = {"IMPOSTONFE", "IMPOSTO",       "MODDOCFISC",   "TIPOOPERAC",
                                         "CFOP",       "APURACAOLINHA", "PERIODOFISCAL"};
    const std::string s = upper(Trim(statement));
    if (s.rfind("CREATE ", 0) == 0 || s.rfind("ALTER TABLE ", 0) == 0)
        return true;
    for (const char *table : shared) {
        const std::string prefix = std::string("INSERT INTO ") + table;
        if (s.rfind(prefix, 0) == 0 && (s[prefix.size()] == ' ' || s[prefix.size()] == '('))
            return true;
    }
    return false;
}
} // namespace

void CreateOwnDatabase(const std::string &path)
{
    namespace fs = std::filesystem;
    if (fs::exists(path))
        throw EDatabaseError("O banco de dados já existe: " + path);
    std::vector<std::string> statements;
    std::vector<std::string> fixtures = DefaultFixturePaths();
    fixtures.push_back(DefaultImportFixturePath());
    for (const std::string &fixture : fixtures) {
        const std::string script = readFixture(fixture, "Arquivo de dados de referência não encontrado: ");
        const bool own = fixture == DefaultImportFixturePath();
        for (std::string &statement : SplitSqlScript(script))
            if (own || sharedStatement(statement))
                statements.push_back(std::move(statement));
    }
    const fs::path target(path);
    if (target.has_parent_path())
        fs::create_directories(target.parent_path());
    const std::string temporary = (target.parent_path() / ("." + target.filename().string() + ".new-" +
                                                           std::to_string(::getpid()))).string();
    fs::remove(temporary);
    try {
        {
            auto session = OpenSqliteSession(temporary, false);
            session->Execute("BEGIN");
            for (const std::string &statement : statements)
                session->Execute(statement);
            session->Execute("COMMIT");
            // Reports read while an import writes.
            session->Execute("PRAGMA journal_mode = WAL");
        }
        fs::rename(temporary, target);
    } catch (const std::exception &e) {
        std::error_code ec;
        fs::remove(temporary, ec);
        throw EDatabaseError("Não foi possível criar o banco de dados " + path + ": " + e.what());
    }
}

bool CreateConfiguredDatabase(const HostConfig &config)
{
    if (!EngineNamed(config.engine).localFile || config.database.empty() ||
        std::filesystem::exists(config.database))
        return false;
    CreateOwnDatabase(config.database);
    return true;
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
