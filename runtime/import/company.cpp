// Registering a company under which documents are imported.
#include "import/booking.h"

#include "rtl/sysutils.h"

#include <cctype>

using Values = ImportConnection::Values;

void RegisterCompany(ImportConnection &db, const CompanyRegistration &c)
{
    auto bad = [](const std::string &why) { throw Exception(why); };
    if (c.code.empty() || c.code.size() > 2)
        bad("O código da empresa tem 1 ou 2 caracteres.");
    if (Trim(c.name).empty())
        bad("Informe o nome da empresa.");
    const std::string key = RegistrationKey(c.registration);
    if (key.empty() || key == "ISENTO" || key.size() > 16)
        bad("Inscrição estadual inválida: '" + c.registration + "'.");
    if (c.state.size() != 2 || !std::isupper(static_cast<unsigned char>(c.state[0])) ||
        !std::isupper(static_cast<unsigned char>(c.state[1])))
        bad("UF inválida: '" + c.state + "' (duas letras maiúsculas, como SP).");
    EnsureImportTables(db);
    for (const Values &row : db.Select(db.Prepare("SELECT CDEMPRESA, CDINSCESTA FROM INSCRESTAD"), {}))
        if (row[1] && RegistrationKey(*row[1]) == key)
            bad("A inscrição estadual " + c.registration + " já está cadastrada na empresa " + row[0].value_or("") + ".");
    db.Begin();
    try {
        if (db.Select(db.Prepare("SELECT CDEMPRESA FROM EMPRESA WHERE CDEMPRESA = ?"), {c.code}).empty())
            db.Run(db.Prepare("INSERT INTO EMPRESA (CDEMPRESA, NMEMPRESA) VALUES (?, ?)"), {c.code, ClipText(c.name, 40)});
        db.Run(db.Prepare("INSERT INTO INSCRESTAD (CDEMPRESA, CDINSCESTA, NRINSJURIEST, SGESTADO) VALUES (?, ?, ?, ?)"),
               {c.code, key, c.taxId.empty() ? std::nullopt : std::optional(RegistrationKey(c.taxId)), c.state});
        db.Commit();
    } catch (...) {
        db.Rollback();
        throw;
    }
}
