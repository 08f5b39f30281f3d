#include "import/tax_ids.h"

#include "import/booking.h"
#include "import/connection.h"
#include "import/importer.h"
#include "rtl/sysutils.h"

#include <cctype>
#include <map>
#include <vector>

namespace {

// The digits of a text; nothing when it holds any other character than
// digits and the usual separators.
bool digitsOf(const std::string &text, std::vector<int> &out)
{
    out.clear();
    for (char c : text) {
        if (std::isdigit(static_cast<unsigned char>(c)))
            out.push_back(c - '0');
        else if (c != '.' && c != '/' && c != '-' && c != ' ')
            return false;
    }
    return true;
}

int weighted(const std::vector<int> &d, std::size_t count, const std::vector<int> &weights)
{
    int sum = 0;
    for (std::size_t i = 0; i < count; ++i)
        sum += d[i] * weights[i];
    return sum;
}

// The most common rule: remainder of 11; 0 or 1 give the digit 0.
int mod11(int sum)
{
    const int r = sum % 11;
    return r < 2 ? 0 : 11 - r;
}

// Weights from `high` down to 2, for `count` digits.
std::vector<int> descending(int high, std::size_t count)
{
    std::vector<int> w;
    for (std::size_t i = 0; i < count; ++i)
        w.push_back(high - static_cast<int>(i));
    return w;
}

// Nine digits, the last the check digit over the eight before with
// weights 9..2 (Espírito Santo, Santa Catarina, Paraíba, Piauí, Ceará,
// Sergipe; Mato Grosso do Sul, Maranhão and Pará with their prefix).
TaxIdCheck nineDigits(const std::vector<int> &d, const char *prefix = "")
{
    if (d.size() != 9)
        return TaxIdCheck::Invalid;
    for (std::size_t i = 0; prefix[i]; ++i)
        if (d[i] != prefix[i] - '0')
            return TaxIdCheck::Invalid;
    return mod11(weighted(d, 8, descending(9, 8))) == d[8] ? TaxIdCheck::Valid : TaxIdCheck::Invalid;
}

TaxIdCheck saoPaulo(const std::vector<int> &d)
{
    if (d.size() != 12)
        return TaxIdCheck::Invalid;
    // The digit is the rightmost of the remainder of 11.
    const int ninth = weighted(d, 8, {1, 3, 4, 5, 6, 7, 8, 10}) % 11 % 10;
    const int twelfth = weighted(d, 11, {3, 2, 10, 9, 8, 7, 6, 5, 4, 3, 2}) % 11 % 10;
    return ninth == d[8] && twelfth == d[11] ? TaxIdCheck::Valid : TaxIdCheck::Invalid;
}

TaxIdCheck rioDeJaneiro(const std::vector<int> &d)
{
    if (d.size() != 8)
        return TaxIdCheck::Invalid;
    return mod11(weighted(d, 7, {2, 7, 6, 5, 4, 3, 2})) == d[7] ? TaxIdCheck::Valid : TaxIdCheck::Invalid;
}

TaxIdCheck parana(const std::vector<int> &d)
{
    if (d.size() != 10)
        return TaxIdCheck::Invalid;
    const bool first = mod11(weighted(d, 8, {3, 2, 7, 6, 5, 4, 3, 2})) == d[8];
    const bool second = mod11(weighted(d, 9, {4, 3, 2, 7, 6, 5, 4, 3, 2})) == d[9];
    return first && second ? TaxIdCheck::Valid : TaxIdCheck::Invalid;
}

TaxIdCheck rioGrandeDoSul(const std::vector<int> &d)
{
    if (d.size() != 10)
        return TaxIdCheck::Invalid;
    int digit = 11 - weighted(d, 9, {2, 9, 8, 7, 6, 5, 4, 3, 2}) % 11;
    if (digit >= 10)
        digit = 0;
    return digit == d[9] ? TaxIdCheck::Valid : TaxIdCheck::Invalid;
}

} // namespace

TaxIdCheck CheckCnpj(const std::string &cnpj)
{
    std::vector<int> d;
    if (!digitsOf(cnpj, d) || d.size() != 14)
        return TaxIdCheck::Invalid;
    bool same = true;
    for (int x : d)
        same = same && x == d[0];
    if (same)
        return TaxIdCheck::Invalid;  // 00.000.000/0000-00 and its kind pass the sums
    const int first = mod11(weighted(d, 12, {5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2}));
    const int second = mod11(weighted(d, 13, {6, 5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2}));
    return first == d[12] && second == d[13] ? TaxIdCheck::Valid : TaxIdCheck::Invalid;
}

TaxIdCheck CheckStateRegistration(const std::string &registration, const std::string &state)
{
    std::vector<int> d;
    std::string upper;
    for (char c : registration)
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper.find("ISENT") != std::string::npos || upper.empty())
        return TaxIdCheck::Unchecked;
    if (!digitsOf(registration, d))
        return state == "SP" && upper[0] == 'P' ? TaxIdCheck::Unchecked : TaxIdCheck::Invalid;  // SP's rural producers
    if (state == "SP") return saoPaulo(d);
    if (state == "RJ") return rioDeJaneiro(d);
    if (state == "PR") return parana(d);
    if (state == "RS") return rioGrandeDoSul(d);
    if (state == "ES" || state == "SC" || state == "PB" || state == "PI" || state == "CE" || state == "SE")
        return nineDigits(d);
    if (state == "MS") return nineDigits(d, "28");
    if (state == "MA") return nineDigits(d, "12");
    if (state == "PA") return nineDigits(d, "15");
    return TaxIdCheck::Unchecked;
}

std::string TaxIdWarning(const std::string &cnpj, const std::string &registration, const std::string &state)
{
    std::string out;
    if (!cnpj.empty() && CheckCnpj(cnpj) == TaxIdCheck::Invalid)
        out += "O CNPJ " + cnpj + " não confere (dígitos verificadores ou tamanho).";
    if (!registration.empty() && CheckStateRegistration(registration, state) == TaxIdCheck::Invalid)
        out += std::string(out.empty() ? "" : " ") + "A inscrição estadual " + registration + " não confere com a regra de " +
               state + " (dígitos verificadores ou tamanho).";
    return out;
}

// ---------------------------------------------------------------- register

std::vector<CompanyRow> ListCompanies(ImportConnection &db)
{
    EnsureImportTables(db);
    std::map<std::string, CompanyRow> byCode;
    for (const auto &row : db.Select(db.Prepare("SELECT CDEMPRESA, NMEMPRESA FROM EMPRESA"), {}))
        if (row[0])
            byCode[*row[0]] = CompanyRow{*row[0], row[1].value_or(""), {}};
    for (const auto &row :
         db.Select(db.Prepare("SELECT CDEMPRESA, CDINSCESTA, SGESTADO, NRINSJURIEST FROM INSCRESTAD"), {}))
        if (row[0] && byCode.count(*row[0]))
            byCode[*row[0]].registrations.push_back({row[1].value_or(""), row[2].value_or(""), row[3].value_or("")});
    std::vector<CompanyRow> out;
    for (auto &[code, company] : byCode)
        out.push_back(std::move(company));
    return out;
}

void RenameCompany(ImportConnection &db, const std::string &code, const std::string &name)
{
    if (Trim(name).empty())
        throw Exception("Informe o nome da empresa.");
    if (db.Select(db.Prepare("SELECT CDEMPRESA FROM EMPRESA WHERE CDEMPRESA = ?"), {code}).empty())
        throw Exception("A empresa " + code + " não está cadastrada.");
    db.Begin();
    try {
        db.Run(db.Prepare("UPDATE EMPRESA SET NMEMPRESA = ? WHERE CDEMPRESA = ?"), {ClipText(Trim(name), 40), code});
        db.Commit();
    } catch (...) {
        db.Rollback();
        throw;
    }
}

void RemoveRegistration(ImportConnection &db, const std::string &code, const std::string &registration)
{
    db.Begin();
    try {
        db.Run(db.Prepare("DELETE FROM INSCRESTAD WHERE CDEMPRESA = ? AND CDINSCESTA = ?"), {code, registration});
        db.Commit();
    } catch (...) {
        db.Rollback();
        throw;
    }
}
