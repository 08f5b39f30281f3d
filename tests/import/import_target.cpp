#include "import_target.h"

#include "host/hostsession.h"
#include "import/importer.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

std::string ImportTarget::Unavailable(const ImportEngine &engine) { return engine.Unavailable(); }

ImportTarget::ImportTarget(const ImportEngine &engine) : engine_(engine)
{
    std::string pattern = (std::filesystem::temp_directory_path() / "fis-import-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("no temporary folder");
    dir_ = pattern;
    if (engine.engine.localFile) {
        database_ = dir_ + "/own.sqlite";
        CreateOwnDatabase(database_);
        auto db = Open();
        RegisterCompany(*db, {"01", "Empresa Teste Ltda", "110042490114", "SP", "12345678000195", "", ""});
        RegisterCompany(*db, {"02", "Outra Empresa S.A.", "244123456119", "SP", "", "", ""});
    } else {
        clean();
    }
}

ImportTarget::~ImportTarget()
{
    try {
        if (!engine_.engine.localFile)
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

EngineConnection ImportTarget::connection(EngineLogin login) const
{
    if (!engine_.engine.localFile)
        return engine_.Server(login);
    EngineConnection c;
    c.database = database_;
    return c;
}

std::unique_ptr<ImportConnection> ImportTarget::Open() const
{
    return engine_.engine.openWriter(connection(EngineLogin::Writing), {});
}

std::unique_ptr<DatabaseSession> ImportTarget::Reports() const
{
    return engine_.engine.openReader(connection(EngineLogin::Reading));
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
