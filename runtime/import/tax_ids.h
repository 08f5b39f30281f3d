#pragma once
// The check digits of a company's CNPJ and of a state registration (IE),
// by the public rules of the Receita Federal and of each state. A failure
// is a warning for the person, never a refusal: a registration the rules
// here do not know is kept as typed.
#include <string>
#include <vector>

enum class TaxIdCheck {
    Valid,     // the check digits agree
    Invalid,   // they do not, or the length is not the one the rule asks for
    Unchecked, // no rule here for it (a state without one, "ISENTO", producers)
};

// A CNPJ of 14 digits, points, slash and dash allowed.
TaxIdCheck CheckCnpj(const std::string &cnpj);
// A state registration under the rule of `state` (two letters, "SP").
TaxIdCheck CheckStateRegistration(const std::string &registration, const std::string &state);

// The warning for a company's identifiers that fail their check, "" when
// none fails: "O CNPJ 12.345.678/0001-00 não confere (dígitos verificadores)."
std::string TaxIdWarning(const std::string &cnpj, const std::string &registration, const std::string &state);

// ---- the companies' register, as the "Empresas" window and `fishost
// company` keep it (the import and the books read the same rows).

class DatabaseWriter;
using ImportConnection = DatabaseWriter;  // import/connection.h

struct CompanyRow {
    std::string code;
    std::string name;
    std::string activity;  // a letter of CompanyActivities(), empty when not told
    struct Registration {
        std::string registration;  // IE as kept
        std::string state;
        std::string taxId;         // CNPJ, may be empty
        std::string branch;        // CDFILIAL, may be empty
    };
    std::vector<Registration> registrations;
};

// Every company with its state registrations, by code.
std::vector<CompanyRow> ListCompanies(ImportConnection &db);
// A company's new name; raises when the code is unknown or the name empty.
void RenameCompany(ImportConnection &db, const std::string &code, const std::string &name);
// Takes one registration off a company; the company stays. Refused while
// documents are booked under it.
void RemoveRegistration(ImportConnection &db, const std::string &code, const std::string &registration);
// Takes a company off with its registrations; refused while it has documents.
void RemoveCompany(ImportConnection &db, const std::string &code);

// What a company does, as its credit of ICMS on energy depends on it: the
// letter kept in EMPRESAATIVIDADE.IDATIVIDADE and its words.
struct CompanyActivity {
    const char *letter, *words;
};
const std::vector<CompanyActivity> &CompanyActivities();
// Raises for a letter not listed; "" (not told) passes.
void CheckActivity(const std::string &letter);
// The activity's words ("Industrial"), "" for none, the letter itself when unknown.
std::string ActivityWords(const std::string &letter);
// Sets (or, with "", clears) a company's activity; raises for a letter not listed.
void SetCompanyActivity(ImportConnection &db, const std::string &code, const std::string &activity);
// A registration's CNPJ and branch anew (empty clears them).
void ChangeRegistration(ImportConnection &db, const std::string &code, const std::string &registration,
                        const std::string &taxId, const std::string &branch);

// The warnings of TaxIdWarning and of the branch: one not registered, or
// standing in another state than the registration's. "" when none.
std::string RegistrationWarning(ImportConnection &db, const std::string &taxId, const std::string &registration,
                                const std::string &state, const std::string &branch);
