#include "import_target.h"

#include "data/firebird/session.h"
#include "data/sqlite/session.h"
#include "host/hostsession.h"
#include "import/importer.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {
std::string env(const char *name, const char *fallback = "")
{
    const char *v = std::getenv(name);
    return v && *v ? v : fallback;
}
FirebirdConnection firebird(bool writer)
{
    FirebirdConnection c;
    c.host = env("FIS_FB_HOST", "127.0.0.1");
    c.port = std::atoi(env("FIS_FB_PORT", "3050").c_str());
    c.database = env("FIS_FB_DATABASE");
    c.user = writer ? env("FIS_FB_IMPORT_USER", "FISIMPORT") : env("FIS_FB_USER", "FISREAD");
    c.password = writer ? env("FIS_FB_IMPORT_PASSWORD", "fisimport") : env("FIS_FB_PASSWORD", "fisread");
    return c;
}
} // namespace

std::string ImportTarget::Unavailable(const ImportEngine &engine)
{
#if !FIS_WITH_FIREBIRD
    if (engine.firebird)
        return "built without Firebird";
#endif
    if (engine.firebird && env("FIS_FB_DATABASE").empty())
        return "FIS_FB_DATABASE is not set";
    return {};
}

ImportTarget::ImportTarget(const ImportEngine &engine) : engine_(engine)
{
    std::string pattern = (std::filesystem::temp_directory_path() / "fis-import-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("no temporary folder");
    dir_ = pattern;
    if (!engine.firebird) {
        database_ = dir_ + "/own.sqlite";
        CreateOwnDatabase(database_);
        auto db = Open();
        RegisterCompany(*db, {"01", "Empresa Teste Ltda", "110042490114", "SP", "12345678000195"});
        RegisterCompany(*db, {"02", "Outra Empresa S.A.", "244123456119", "SP", ""});
    } else {
        clean();
    }
}

ImportTarget::~ImportTarget()
{
    try {
        if (engine_.firebird)
            clean();
    } catch (...) {
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

void ImportTarget::clean() const
{
    auto db = Open();
    for (const char *table : {"IMPOSTOITEMNF", "ITEMNOTAFISC", "NOTAFISCAL"})
        db->Execute(std::string("DELETE FROM ") + table +
                    " WHERE CDNOTAFISC IN (SELECT CDNOTAFISC FROM NFECHAVE WHERE CDNOTAFISC IS NOT NULL)");
    db->Execute("DELETE FROM NFECHAVE");
    db->Execute("DELETE FROM PRODUTOPARTIC");
    db->Execute("DELETE FROM PRODUTO WHERE CDARVPROD LIKE '99%'");
    db->Execute("DELETE FROM PRODUTO WHERE CDPRODUTO IN ('7001', '7002')");  // the products test's own
    db->Execute("DELETE FROM CFOPCONVERSAO WHERE CDCFOPSAIDA = '5101'");
}

std::unique_ptr<ImportConnection> ImportTarget::Open() const
{
    return engine_.firebird ? OpenFirebirdImport(firebird(true)) : OpenSqliteImport(database_);
}

std::unique_ptr<DatabaseSession> ImportTarget::Reports() const
{
    return engine_.firebird ? OpenFirebirdSession(firebird(false)) : OpenSqliteSession(database_, true);
}

std::string ImportTarget::Write(const std::string &name, const std::string &text) const
{
    const std::string path = dir_ + "/" + name;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

std::string One(ImportConnection &db, const std::string &sql, const ImportConnection::Values &values)
{
    auto rows = db.Select(db.Prepare(sql), values);
    return rows.empty() || !rows[0][0] ? "" : *rows[0][0];
}
