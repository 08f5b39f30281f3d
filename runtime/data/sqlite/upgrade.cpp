#include "data/sqlite/upgrade.h"

#include "data/dberrors.h"
#include "data/sqlite/session.h"
#include "data/sqlscript.h"
#include "rtl/files.h"
#include "rtl/sysutils.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <utility>
#include <unistd.h>

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

bool hasTable(DatabaseSession &db, const std::string &table)
{
    const ResultSet has =
        db.Query("SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name = '" + table + "'", {});
    return !has.rows.empty() && has.rows[0][0].value_or("0") != "0";
}

long count(DatabaseSession &db, const std::string &sql)
{
    const ResultSet rs = db.Query(sql, {});
    return rs.rows.empty() ? 0 : std::atol(rs.rows[0][0].value_or("0").c_str());
}

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

// What `plan` finds missing, written in one transaction under the write lock
// after planning again there: another program may have done it meanwhile.
// False when the file cannot be opened for writing and `mustWrite` is off.
using Plan = std::function<std::vector<std::string>(DatabaseSession &)>;
bool writePlanned(const std::string &path, int busyTimeoutMs, const Plan &plan, bool mustWrite,
                  const std::string &cannotWrite)
{
    std::unique_ptr<DatabaseSession> session;
    try {
        session = OpenSqliteSession(path, false, 0, busyTimeoutMs);
        session->Execute("BEGIN IMMEDIATE");
    } catch (const Exception &e) {
        if (!mustWrite)
            return false;
        throw EDatabaseError(cannotWrite + e.Message());
    }
    try {
        for (const std::string &statement : plan(*session))
            LoadSqlScript(*session, statement);
        session->Execute("COMMIT");
    } catch (...) {
        session->Execute("ROLLBACK");
        throw;
    }
    return true;
}
} // namespace

void UseWriteAheadLog(const std::string &path, int busyTimeoutMs)
{
    if (::access(path.c_str(), W_OK) != 0)
        return;
    try {
        OpenSqliteSession(path, false, 0, busyTimeoutMs)->Execute("PRAGMA journal_mode = WAL");
    } catch (const Exception &) {
        // Another program holds it: the next opening tries again.
    }
}

void AddKeptSummary(const std::string &path, const UpgradeFixtures &fixtures, int busyTimeoutMs)
{
    if (!std::filesystem::exists(path))
        return;
    // A database made before the summary: its documents are summed once,
    // then the triggers keep them. One made before a later block of the
    // summary file (the daily ICMS the apuração reads, then the books per
    // CST and rate the EFD check reads) gets the blocks from the first it
    // lacks. Only the reference tables: nothing to keep.
    static constexpr std::pair<const char *, const char *> kBlocks[] = {
        {"APURACAODIA", "-- The ICMS of each day, kept per registration, side and CFOP"},
        {"RESUMOCSTNF", "-- The books per CST and rate, kept per document and CFOP"},
    };
    const Plan plan = [&](DatabaseSession &db) -> std::vector<std::string> {
        const bool hasSummary = hasTable(db, "RESUMOCFOPNF");
        const char *firstMissing = nullptr;
        for (const auto &[table, marker] : kBlocks)
            if (!firstMissing && !hasTable(db, table))
                firstMissing = marker;
        if (hasSummary && !firstMissing)
            return {};
        for (const char *t : {"NOTAFISCAL", "ITEMNOTAFISC", "IMPOSTOITEMNF"})
            if (!hasTable(db, t))
                return {};
        std::string script = readFixture(fixtures.summary, "Arquivo do resumo de CFOP não encontrado: ");
        if (hasSummary) {
            const std::size_t block = script.find(firstMissing);
            if (block == std::string::npos)
                throw EDatabaseError("O arquivo do resumo de CFOP não traz o bloco \"" +
                                     std::string(firstMissing + 3) + "\": " + fixtures.summary);
            script.erase(0, block);
        }
        return {script};
    };
    if (plan(*OpenSqliteSession(path, true, 0, busyTimeoutMs)).empty())
        return;
    writePlanned(path, busyTimeoutMs, plan, true,
                 "O banco de dados " + path + " não tem o resumo de CFOP e não pode ser alterado para recebê-lo: ");
}

void AddMissingCfops(const std::string &path, const UpgradeFixtures &fixtures, int busyTimeoutMs)
{
    if (!std::filesystem::exists(path))
        return;
    std::vector<std::string> rows;
    for (std::string &statement : SplitSqlScript(readFixture(fixtures.cfop, "Arquivo da tabela de CFOP não encontrado: ")))
        if (Trim(statement).rfind("INSERT INTO CFOP ", 0) == 0)
            rows.push_back(Trim(statement).replace(0, 6, "INSERT OR IGNORE") + ";");
    const Plan plan = [&](DatabaseSession &db) -> std::vector<std::string> {
        if (!hasTable(db, "CFOP") || count(db, "SELECT COUNT(*) FROM CFOP") >= static_cast<long>(rows.size()))
            return {};
        return rows;
    };
    if (plan(*OpenSqliteSession(path, true, 0, busyTimeoutMs)).empty())
        return;
    // A file that cannot be written keeps its table, whose missing codes the
    // CFOP summary's check lists.
    try {
        writePlanned(path, busyTimeoutMs, plan, false, "");
    } catch (const Exception &) {
    }
}

void AddMissingColumns(const std::string &path, const UpgradeFixtures &fixtures, int busyTimeoutMs)
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
    std::vector<std::string> fiscal;
    const Plan plan = [&](DatabaseSession &db) {
        std::vector<std::string> missing;
        for (const auto &a : added)
            if (hasTable(db, a.table) && count(db, std::string("SELECT COUNT(*) FROM pragma_table_info('") + a.table +
                                                       "') WHERE name = '" + a.column + "'") == 0)
                missing.push_back(std::string("ALTER TABLE ") + a.table + " ADD COLUMN " + a.column + " " + a.type + ";");
        for (const auto &t : addedTables) {
            const bool exists = hasTable(db, t.table);
            if (exists && (!t.sharedRows || count(db, std::string("SELECT COUNT(*) FROM ") + t.table) > 0))
                continue;
            if (fiscal.empty())
                fiscal = SplitSqlScript(readFixture(fixtures.fiscal, "Arquivo de dados fiscais não encontrado: "));
            // A database of one's own made before the fiscal months were
            // shared has the table empty: its rows come too.
            for (const std::string &statement : fiscal) {
                const std::string s = upper(Trim(statement));
                if ((!exists && startsWithTable(s, std::string("CREATE TABLE ") + t.table)) ||
                    (t.sharedRows && startsWithTable(s, std::string("INSERT INTO ") + t.table)))
                    missing.push_back(Trim(statement) + ";");
            }
        }
        return missing;
    };
    if (plan(*OpenSqliteSession(path, true, 0, busyTimeoutMs)).empty())
        return;
    writePlanned(path, busyTimeoutMs, plan, false, "");  // read only: its rows lack them, as before
}

void UpgradeSqliteDatabase(const EngineConnection &c, const UpgradeFixtures &fixtures, bool)
{
    if (c.database.empty() || !std::filesystem::exists(c.database))
        return;
    UseWriteAheadLog(c.database, c.busyTimeoutMs);
    // The columns first: the kept summary's views read some of them.
    AddMissingColumns(c.database, fixtures, c.busyTimeoutMs);
    AddKeptSummary(c.database, fixtures, c.busyTimeoutMs);
    AddMissingCfops(c.database, fixtures, c.busyTimeoutMs);
}
