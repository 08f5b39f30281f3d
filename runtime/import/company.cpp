// Registering a company under which documents are imported.
#include "import/booking.h"
#include "import/tax_ids.h"

#include "rtl/sysutils.h"

#include <cctype>

using Values = ImportConnection::Values;

namespace {
// What the register knows of a branch: whether it is there, whose it is,
// the state it stands in (either may be empty).
struct BranchFacts {
    bool known = false;
    std::string company, state;
};

BranchFacts branchFacts(ImportConnection &db, const std::string &branch)
{
    BranchFacts facts;
    const auto rows = db.Select(db.Prepare("SELECT CDEMPRESA FROM FILIAL WHERE CDFILIAL = ?"), {branch});
    if (rows.empty())
        return facts;
    facts.known = true;
    facts.company = rows[0][0].value_or("");
    if (db.HasTable("FILIALUF"))
        if (const auto states = db.Select(db.Prepare("SELECT SGESTADO FROM FILIALUF WHERE CDFILIAL = ?"), {branch});
            !states.empty())
            facts.state = states[0][0].value_or("");
    return facts;
}

// A branch of another company is never kept; one unknown or of another
// state is only warned about (RegistrationWarning).
void checkBranch(ImportConnection &db, const std::string &code, const std::string &branch)
{
    if (branch.empty())
        return;
    if (branch.size() > 4)
        throw Exception("O código da filial tem até 4 caracteres: '" + branch + "'.");
    const BranchFacts facts = branchFacts(db, branch);
    if (facts.known && !facts.company.empty() && facts.company != code)
        throw Exception("A filial " + branch + " é da empresa " + facts.company + ", não da " + code + ".");
}

std::optional<std::string> orNull(const std::string &s)
{
    return s.empty() ? std::nullopt : std::optional(s);
}
} // namespace

std::string RegistrationWarning(ImportConnection &db, const std::string &taxId, const std::string &registration,
                                const std::string &state, const std::string &branch)
{
    std::string out = TaxIdWarning(taxId, registration, state);
    if (branch.empty())
        return out;
    const BranchFacts facts = branchFacts(db, branch);
    std::string more;
    if (!facts.known)
        more = "A filial " + branch + " não está cadastrada.";
    else if (!facts.state.empty() && !state.empty() && facts.state != state)
        more = "A filial " + branch + " fica em " + facts.state + "; a inscrição é de " + state + ".";
    return more.empty() ? out : out + (out.empty() ? "" : " ") + more;
}

void ChangeRegistration(ImportConnection &db, const std::string &code, const std::string &registration,
                        const std::string &taxId, const std::string &branch)
{
    if (db.Select(db.Prepare("SELECT CDEMPRESA FROM INSCRESTAD WHERE CDEMPRESA = ? AND CDINSCESTA = ?"), {code, registration})
            .empty())
        throw Exception("A inscrição estadual " + registration + " não está cadastrada na empresa " + code + ".");
    const std::string key = RegistrationKey(taxId);
    if (key.size() > 20)
        throw Exception("CNPJ inválido: '" + taxId + "'.");
    checkBranch(db, code, Trim(branch));
    db.Begin();
    try {
        db.Run(db.Prepare("UPDATE INSCRESTAD SET NRINSJURIEST = ?, CDFILIAL = ? WHERE CDEMPRESA = ? AND CDINSCESTA = ?"),
               {orNull(key), orNull(Trim(branch)), code, registration});
        db.Commit();
    } catch (...) {
        db.Rollback();
        throw;
    }
}

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
    CheckActivity(c.activity);
    if (c.taxId.size() > 0 && RegistrationKey(c.taxId).size() > 20)
        bad("CNPJ inválido: '" + c.taxId + "'.");
    EnsureImportTables(db);
    checkBranch(db, c.code, Trim(c.branch));
    for (const Values &row : db.Select(db.Prepare("SELECT CDEMPRESA, CDINSCESTA FROM INSCRESTAD"), {}))
        if (row[1] && RegistrationKey(*row[1]) == key)
            bad("A inscrição estadual " + c.registration + " já está cadastrada na empresa " + row[0].value_or("") + ".");
    db.Begin();
    try {
        if (db.Select(db.Prepare("SELECT CDEMPRESA FROM EMPRESA WHERE CDEMPRESA = ?"), {c.code}).empty())
            db.Run(db.Prepare("INSERT INTO EMPRESA (CDEMPRESA, NMEMPRESA) VALUES (?, ?)"), {c.code, ClipText(c.name, 40)});
        db.Run(db.Prepare("INSERT INTO INSCRESTAD (CDEMPRESA, CDINSCESTA, NRINSJURIEST, SGESTADO, CDFILIAL) "
                          "VALUES (?, ?, ?, ?, ?)"),
               {c.code, key, c.taxId.empty() ? std::nullopt : std::optional(RegistrationKey(c.taxId)), c.state,
                orNull(Trim(c.branch))});
        if (!c.activity.empty()) {
            db.Run(db.Prepare("DELETE FROM EMPRESAATIVIDADE WHERE CDEMPRESA = ?"), {c.code});
            db.Run(db.Prepare("INSERT INTO EMPRESAATIVIDADE (CDEMPRESA, IDATIVIDADE) VALUES (?, ?)"), {c.code, c.activity});
        }
        db.Commit();
    } catch (...) {
        db.Rollback();
        throw;
    }
}

bool FindCompany(ImportConnection &db, const FiscalParty &company, const std::vector<Registration> &registered,
                 const Registration *&found, std::string &why)
{
    const std::string key = RegistrationKey(company.registration);
    found = nullptr;
    for (const Registration &r : registered)
        if (r.key == key && r.state == company.state)
            found = &r;
    const std::string who = "CNPJ " + (company.document.empty() ? std::string("(nenhum)") : company.document) + ", IE " +
                            company.registration + "/" + company.state;
    if (!found) {
        why = "arquivo de nenhuma empresa cadastrada (" + who + ")";
        return false;
    }
    // A registration kept with its CNPJ must carry the file's.
    const auto rows = db.Select(
        db.Prepare("SELECT NRINSJURIEST FROM INSCRESTAD WHERE CDEMPRESA = ? AND CDINSCESTA = ?"),
        {found->company, found->registration});
    const std::string kept = rows.empty() ? "" : RegistrationKey(rows[0][0].value_or(""));
    if (kept.size() == 14 && !company.document.empty() && kept != RegistrationKey(company.document)) {
        why = "a inscrição " + company.registration + " está cadastrada na empresa " + found->company + " com o CNPJ " +
              kept + ", não o do arquivo (" + who + ")";
        found = nullptr;
        return false;
    }
    return true;
}

ApuracaoAdjustments::ApuracaoAdjustments(ImportConnection &db) : db_(db) {}

bool ApuracaoAdjustments::Book(const Registration &company, const FiscalAdjustment &a)
{
    if (present_ < 0) {
        present_ = db_.Prepare("SELECT CAST(COUNT(*) AS VARCHAR(10)) FROM APURACAOAJUSTE WHERE CDEMPRESA = ? "
                               "AND CDINSCESTA = ? AND DTMES = ? AND CDAJUSTE = ? AND VLAJUSTE = ?");
        last_ = db_.Prepare("SELECT CAST(MAX(NRAJUSTE) AS VARCHAR(10)) FROM APURACAOAJUSTE WHERE "
                            "CDEMPRESA = ? AND CDINSCESTA = ? AND DTMES = ?");
        insert_ = db_.Prepare("INSERT INTO APURACAOAJUSTE (CDEMPRESA, CDINSCESTA, DTMES, NRAJUSTE, IDTIPO, CDAJUSTE, "
                              "DSAJUSTE, VLAJUSTE) VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
    }
    const std::string value = DecimalText(a.value, 2), code = ClipText(a.code, 10);
    const auto present = db_.Select(present_, {company.company, company.registration, a.month, code, value});
    if (!present.empty() && present[0][0].value_or("0") != "0")
        return false;
    const auto last = db_.Select(last_, {company.company, company.registration, a.month});
    const long number = last.empty() || !last[0][0] ? 1 : std::stol(*last[0][0]) + 1;
    db_.Run(insert_, {company.company, company.registration, a.month, std::to_string(number), std::string(1, a.type), code,
                      ClipText(a.description, 200), value});
    return true;
}
