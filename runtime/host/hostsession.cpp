#include "host/hostsession.h"

#include "data/dberrors.h"
#include "data/engine.h"
#include "data/sqlite/session.h"
#include "data/sqlscript.h"
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
    return c;
}

std::unique_ptr<DatabaseSession> OpenHostSession(const HostConfig &config, bool bringUpToDate)
{
    const DatabaseEngine &engine = EngineNamed(config.engine);
    if (bringUpToDate && engine.localFile && !config.database.empty()) {
        // Once per database and process: a server opens a session per worker.
        static std::mutex mutex;
        static std::set<std::string> checked;
        std::lock_guard<std::mutex> lock(mutex);
        if (checked.insert(config.database).second) {
            try {
                AddKeptSummary(config.database);
                AddMissingCfops(config.database);
                AddMissingColumns(config.database);
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
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw EDatabaseError(missing + path);
    std::stringstream script;
    script << in.rdbuf();
    return script.str();
}

// Which of `tables` the SQLite database lacks.
std::vector<std::string> missingTables(DatabaseSession &db, std::initializer_list<const char *> tables)
{
    std::vector<std::string> out;
    for (const char *t : tables) {
        const ResultSet has =
            db.Query(std::string("SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name = '") + t + "'", {});
        if (has.rows.empty() || has.rows[0][0].value_or("0") == "0")
            out.push_back(t);
    }
    return out;
}
} // namespace

void AddKeptSummary(const std::string &path)
{
    if (!std::filesystem::exists(path))
        return;
    {
        // Read only first: a database that has it may sit where nobody writes.
        auto reader = OpenSqliteSession(path, true);
        if (missingTables(*reader, {"RESUMOCFOPNF"}).empty())
            return;
        // Only the reference tables (no documents): nothing to keep a summary of.
        if (!missingTables(*reader, {"NOTAFISCAL", "ITEMNOTAFISC", "IMPOSTOITEMNF"}).empty())
            return;
    }
    // A database made before the summary: its documents are summed once, then
    // the triggers keep them.
    const std::string script = readFixture(DefaultSummaryFixturePath(), "Arquivo do resumo de CFOP não encontrado: ");
    std::unique_ptr<DatabaseSession> session;
    try {
        session = OpenSqliteSession(path, false);
    } catch (const Exception &e) {
        throw EDatabaseError("O banco de dados " + path + " não tem o resumo de CFOP e não pode ser alterado para "
                             "recebê-lo: " + e.Message());
    }
    session->Execute("BEGIN");
    try {
        LoadSqlScript(*session, script);
        session->Execute("COMMIT");
    } catch (...) {
        session->Execute("ROLLBACK");
        throw;
    }
}

void AddMissingCfops(const std::string &path)
{
    if (!std::filesystem::exists(path))
        return;
    std::vector<std::string> rows;
    for (std::string &statement : SplitSqlScript(readFixture(DefaultCfopFixturePath(),
                                                             "Arquivo da tabela de CFOP não encontrado: ")))
        if (Trim(statement).rfind("INSERT INTO CFOP ", 0) == 0)
            rows.push_back(Trim(statement).replace(0, 6, "INSERT OR IGNORE"));
    {
        auto reader = OpenSqliteSession(path, true);
        if (!missingTables(*reader, {"CFOP"}).empty())
            return;
        const ResultSet has = reader->Query("SELECT COUNT(*) FROM CFOP", {});
        if (has.rows.empty() || std::atol(has.rows[0][0].value_or("0").c_str()) >= static_cast<long>(rows.size()))
            return;
    }
    // The codes it lacks are added; a description someone changed stays. A
    // file that cannot be written keeps its table, whose missing codes the
    // CFOP summary's check lists.
    std::unique_ptr<DatabaseSession> session;
    try {
        session = OpenSqliteSession(path, false);
    } catch (const Exception &) {
        return;
    }
    session->Execute("BEGIN");
    try {
        for (const std::string &row : rows)
            session->Execute(row);
        session->Execute("COMMIT");
    } catch (const Exception &) {
        session->Execute("ROLLBACK");
    }
}

namespace {
std::string upper(std::string s)
{
    for (char &c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Whether `statement` (trimmed, upper case) begins with `prefix` and the
// table name there ends.
bool startsWithTable(const std::string &statement, const std::string &prefix)
{
    return statement.rfind(prefix, 0) == 0 &&
           (statement.size() == prefix.size() || statement[prefix.size()] == ' ' || statement[prefix.size()] == '(');
}
} // namespace

void AddMissingColumns(const std::string &path)
{
    if (!std::filesystem::exists(path))
        return;
    // Columns added to the fiscal tables since the first databases were made.
    static const struct {
        const char *table, *column, *type;
    } added[] = {{"IMPOSTOITEMNF", "CDCST", "VARCHAR(4)"},
                 {"NOTAFISCAL", "NRDOCPARTIC", "VARCHAR(14)"},
                 {"NOTAFISCAL", "NRIEPARTIC", "VARCHAR(20)"},
                 {"INSCRESTAD", "CDFILIAL", "VARCHAR(4)"}};
    // Tables added since, and whether every database shares their rows (the
    // fiscal months and the apuração's lines; the others are the company's).
    static const struct {
        const char *table;
        bool sharedRows;
    } addedTables[] = {{"FILIALUF", false},         {"PERIODOFISCAL", true},  {"EMPRESAATIVIDADE", false},
                       {"APURACAOAJUSTE", false},   {"APURACAOLINHA", true}};
    std::vector<std::string> missing;
    {
        auto reader = OpenSqliteSession(path, true);
        for (const auto &a : added) {
            if (!missingTables(*reader, {a.table}).empty())
                continue;
            const ResultSet has = reader->Query(std::string("SELECT COUNT(*) FROM pragma_table_info('") + a.table +
                                                    "') WHERE name = '" + a.column + "'",
                                                {});
            if (!has.rows.empty() && has.rows[0][0].value_or("0") == "0")
                missing.push_back(std::string("ALTER TABLE ") + a.table + " ADD COLUMN " + a.column + " " + a.type);
        }
        std::vector<std::string> fiscal;
        for (const auto &t : addedTables) {
            const ResultSet has = reader->Query(
                std::string("SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name = '") + t.table + "'", {});
            const bool exists = !has.rows.empty() && has.rows[0][0].value_or("0") != "0";
            long rows = 0;
            if (exists && t.sharedRows)
                rows = std::atol(reader->Query(std::string("SELECT COUNT(*) FROM ") + t.table, {})
                                     .rows[0][0].value_or("0").c_str());
            if (exists && (!t.sharedRows || rows > 0))
                continue;
            if (fiscal.empty())
                fiscal = SplitSqlScript(readFixture(DefaultFiscalFixturePath(),
                                                    "Arquivo de dados fiscais não encontrado: "));
            // A database of one's own made before the fiscal months were shared
            // has the table empty: its rows come too.
            for (const std::string &statement : fiscal) {
                const std::string s = upper(Trim(statement));
                if ((!exists && startsWithTable(s, std::string("CREATE TABLE ") + t.table)) ||
                    (t.sharedRows && startsWithTable(s, std::string("INSERT INTO ") + t.table)))
                    missing.push_back(Trim(statement));
            }
        }
    }
    if (missing.empty())
        return;
    std::unique_ptr<DatabaseSession> session;
    try {
        session = OpenSqliteSession(path, false);
    } catch (const Exception &) {
        return;  // read only: its rows lack them, as before
    }
    session->Execute("BEGIN");
    try {
        for (const std::string &statement : missing)
            session->Execute(statement);
        session->Execute("COMMIT");
    } catch (...) {
        session->Execute("ROLLBACK");
        throw;
    }
}

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
