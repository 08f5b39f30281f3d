#include "import/tax_ids.h"

#include "import/booking.h"
#include "import/connection.h"
#include "import/importer.h"
#include "rtl/sysutils.h"

#include <cctype>
#include <cstdlib>
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

TaxIdCheck verdict(bool ok) { return ok ? TaxIdCheck::Valid : TaxIdCheck::Invalid; }

bool startsWith(const std::vector<int> &d, const char *prefix)
{
    for (std::size_t i = 0; prefix[i]; ++i)
        if (i >= d.size() || d[i] != prefix[i] - '0')
            return false;
    return true;
}

// Thirteen digits, two check digits of mod 11 (Acre "01...", Distrito Federal "07...").
TaxIdCheck thirteenDigits(const std::vector<int> &d, const char *prefix)
{
    if (d.size() != 13 || !startsWith(d, prefix))
        return TaxIdCheck::Invalid;
    return verdict(mod11(weighted(d, 11, {4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2})) == d[11] &&
                   mod11(weighted(d, 12, {5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2})) == d[12]);
}

// Ten times the sum, remainder of 11; 10 gives 0 (Alagoas, Rio Grande do Norte).
int timesTenMod11(int sum)
{
    const int r = sum * 10 % 11;
    return r == 10 ? 0 : r;
}

TaxIdCheck alagoas(const std::vector<int> &d)
{
    if (d.size() != 9 || !startsWith(d, "24"))
        return TaxIdCheck::Invalid;
    return verdict(timesTenMod11(weighted(d, 8, descending(9, 8))) == d[8]);
}

TaxIdCheck amapa(const std::vector<int> &d)
{
    if (d.size() != 9 || !startsWith(d, "03"))
        return TaxIdCheck::Invalid;
    long number = 0;
    for (std::size_t i = 0; i < 8; ++i)
        number = number * 10 + d[i];
    // The range of the number adds to the sum and names the digit of a remainder of 0.
    const int p = number <= 3017000 ? 5 : number <= 3019022 ? 9 : 0;
    const int whenEleven = number > 3017000 && number <= 3019022 ? 1 : 0;
    int digit = 11 - (p + weighted(d, 8, descending(9, 8))) % 11;
    if (digit == 10)
        digit = 0;
    else if (digit == 11)
        digit = whenEleven;
    return verdict(digit == d[8]);
}

TaxIdCheck amazonas(const std::vector<int> &d)
{
    if (d.size() != 9)
        return TaxIdCheck::Invalid;
    const int sum = weighted(d, 8, descending(9, 8));
    return verdict((sum < 11 ? 11 - sum : mod11(sum)) == d[8]);
}

// Eight or nine digits; the last two are check digits, the second worked
// out first. Mod 11 when the first digit (the second, of nine) is 6, 7 or 9.
TaxIdCheck bahia(const std::vector<int> &d)
{
    const std::size_t n = d.size();
    if (n != 8 && n != 9)
        return TaxIdCheck::Invalid;
    const int key = n == 8 ? d[0] : d[1];
    const bool eleven = key == 6 || key == 7 || key == 9;
    auto digit = [eleven](int sum) {
        if (eleven)
            return mod11(sum);
        const int r = sum % 10;
        return r == 0 ? 0 : 10 - r;
    };
    std::vector<int> body(d.begin(), d.end() - 2);
    const int second = digit(weighted(body, n - 2, descending(static_cast<int>(n) - 1, n - 2)));
    body.push_back(second);
    const int first = digit(weighted(body, n - 1, descending(static_cast<int>(n), n - 1)));
    return verdict(first == d[n - 2] && second == d[n - 1]);
}

TaxIdCheck goias(const std::vector<int> &d)
{
    if (d.size() != 9)
        return TaxIdCheck::Invalid;
    const int head = d[0] * 10 + d[1];
    if (head != 10 && head != 11 && head != 15 && (head < 20 || head > 29))
        return TaxIdCheck::Invalid;
    long number = 0;
    for (std::size_t i = 0; i < 8; ++i)
        number = number * 10 + d[i];
    if (number == 11094402)
        return verdict(d[8] == 0 || d[8] == 1);  // both digits were issued
    const int r = weighted(d, 8, descending(9, 8)) % 11;
    const int digit = r == 0 ? 0 : r == 1 ? (number >= 10103105 && number <= 10119997 ? 1 : 0) : 11 - r;
    return verdict(digit == d[8]);
}

TaxIdCheck minasGerais(const std::vector<int> &d)
{
    if (d.size() != 13)
        return TaxIdCheck::Invalid;
    // A 0 after the town's three digits, weights 1 and 2 in turn, the
    // products' digits summed; the digit completes the next ten.
    std::vector<int> e(d.begin(), d.begin() + 3);
    e.push_back(0);
    e.insert(e.end(), d.begin() + 3, d.begin() + 11);
    int sum = 0;
    for (std::size_t i = 0; i < e.size(); ++i) {
        const int p = e[i] * (i % 2 == 0 ? 1 : 2);
        sum += p / 10 + p % 10;
    }
    const int first = (10 - sum % 10) % 10;
    const int second = mod11(weighted(d, 11, {3, 2, 11, 10, 9, 8, 7, 6, 5, 4, 3}) + first * 2);
    return verdict(first == d[11] && second == d[12]);
}

TaxIdCheck matoGrosso(std::vector<int> d)
{
    if (d.size() < 9 || d.size() > 11)
        return TaxIdCheck::Invalid;
    d.insert(d.begin(), 11 - d.size(), 0);  // written without its leading zeros, nine digits at least
    return verdict(mod11(weighted(d, 10, {3, 2, 9, 8, 7, 6, 5, 4, 3, 2})) == d[10]);
}

// Nine digits with two check digits; the older fourteen with one.
TaxIdCheck pernambuco(const std::vector<int> &d)
{
    if (d.size() == 9)
        return verdict(mod11(weighted(d, 7, descending(8, 7))) == d[7] && mod11(weighted(d, 8, descending(9, 8))) == d[8]);
    if (d.size() == 14) {
        int digit = 11 - weighted(d, 13, {5, 4, 3, 2, 1, 9, 8, 7, 6, 5, 4, 3, 2}) % 11;
        if (digit > 9)
            digit -= 10;
        return verdict(digit == d[13]);
    }
    return TaxIdCheck::Invalid;
}

TaxIdCheck rioGrandeDoNorte(const std::vector<int> &d)
{
    const std::size_t n = d.size();
    if ((n != 9 && n != 10) || !startsWith(d, "20"))
        return TaxIdCheck::Invalid;
    return verdict(timesTenMod11(weighted(d, n - 1, descending(static_cast<int>(n), n - 1))) == d[n - 1]);
}

// Fourteen digits; the older nine weigh only the five after the town's three.
TaxIdCheck rondonia(const std::vector<int> &d)
{
    int digit;
    if (d.size() == 14)
        digit = 11 - weighted(d, 13, {6, 5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2}) % 11;
    else if (d.size() == 9)
        digit = 11 - weighted(std::vector<int>(d.begin() + 3, d.end()), 5, descending(6, 5)) % 11;
    else
        return TaxIdCheck::Invalid;
    if (digit >= 10)
        digit -= 10;
    return verdict(digit == d.back());
}

TaxIdCheck roraima(const std::vector<int> &d)
{
    if (d.size() != 9 || !startsWith(d, "24"))
        return TaxIdCheck::Invalid;
    return verdict(weighted(d, 8, {1, 2, 3, 4, 5, 6, 7, 8}) % 9 == d[8]);
}

// Nine digits; the older eleven carry the kind (01, 02, 03, 99) in the
// third and fourth, which the sum leaves out.
TaxIdCheck tocantins(const std::vector<int> &d)
{
    if (d.size() == 9)
        return verdict(mod11(weighted(d, 8, descending(9, 8))) == d[8]);
    if (d.size() == 11) {
        const int kind = d[2] * 10 + d[3];
        if (kind != 1 && kind != 2 && kind != 3 && kind != 99)
            return TaxIdCheck::Invalid;
        const std::vector<int> body{d[0], d[1], d[4], d[5], d[6], d[7], d[8], d[9]};
        return verdict(mod11(weighted(body, 8, descending(9, 8))) == d[10]);
    }
    return TaxIdCheck::Invalid;
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
    if (state == "AC") return thirteenDigits(d, "01");
    if (state == "DF") return thirteenDigits(d, "07");
    if (state == "AL") return alagoas(d);
    if (state == "AP") return amapa(d);
    if (state == "AM") return amazonas(d);
    if (state == "BA") return bahia(d);
    if (state == "GO") return goias(d);
    if (state == "MG") return minasGerais(d);
    if (state == "MT") return matoGrosso(d);
    if (state == "PE") return pernambuco(d);
    if (state == "RN") return rioGrandeDoNorte(d);
    if (state == "RO") return rondonia(d);
    if (state == "RR") return roraima(d);
    if (state == "TO") return tocantins(d);
    return TaxIdCheck::Unchecked;  // not a state
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
            byCode[*row[0]] = CompanyRow{*row[0], row[1].value_or(""), "", {}};
    if (db.HasTable("EMPRESAATIVIDADE"))
        for (const auto &row : db.Select(db.Prepare("SELECT CDEMPRESA, IDATIVIDADE FROM EMPRESAATIVIDADE"), {}))
            if (row[0] && byCode.count(*row[0]))
                byCode[*row[0]].activity = row[1].value_or("");
    for (const auto &row : db.Select(
             db.Prepare("SELECT CDEMPRESA, CDINSCESTA, SGESTADO, NRINSJURIEST, CDFILIAL FROM INSCRESTAD"), {}))
        if (row[0] && byCode.count(*row[0]))
            byCode[*row[0]].registrations.push_back(
                {row[1].value_or(""), row[2].value_or(""), row[3].value_or(""), row[4].value_or("")});
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

namespace {
long countOf(ImportConnection &db, const std::string &sql, const ImportConnection::Values &values)
{
    const auto rows = db.Select(db.Prepare(sql), values);
    return rows.empty() || !rows[0][0] ? 0 : std::atol(rows[0][0]->c_str());
}

// Runs `work` in a transaction of its own.
template <typename Work> void inTransaction(ImportConnection &db, Work work)
{
    db.Begin();
    try {
        work();
        db.Commit();
    } catch (...) {
        db.Rollback();
        throw;
    }
}
} // namespace

void RemoveRegistration(ImportConnection &db, const std::string &code, const std::string &registration)
{
    // The documents would lose the state and the books they are kept in.
    if (const long n = countOf(db, "SELECT CAST(COUNT(*) AS VARCHAR(20)) FROM NOTAFISCAL WHERE CDEMPRESA = ? AND CDINSCESTA = ?",
                               {code, registration});
        n > 0)
        throw Exception("A inscrição estadual " + registration + " da empresa " + code + " tem " + std::to_string(n) +
                        (n == 1 ? " documento fiscal" : " documentos fiscais") + " e não pode ser excluída.");
    if (db.HasTable("APURACAOAJUSTE") &&
        countOf(db, "SELECT CAST(COUNT(*) AS VARCHAR(20)) FROM APURACAOAJUSTE WHERE CDEMPRESA = ? AND CDINSCESTA = ?",
                {code, registration}) > 0)
        throw Exception("A inscrição estadual " + registration + " da empresa " + code +
                        " tem ajustes de apuração e não pode ser excluída.");
    inTransaction(db, [&] {
        db.Run(db.Prepare("DELETE FROM INSCRESTAD WHERE CDEMPRESA = ? AND CDINSCESTA = ?"), {code, registration});
    });
}

void RemoveCompany(ImportConnection &db, const std::string &code)
{
    if (const long n = countOf(db, "SELECT CAST(COUNT(*) AS VARCHAR(20)) FROM NOTAFISCAL WHERE CDEMPRESA = ?", {code}); n > 0)
        throw Exception("A empresa " + code + " tem " + std::to_string(n) +
                        (n == 1 ? " documento fiscal" : " documentos fiscais") + " e não pode ser excluída.");
    if (db.HasTable("APURACAOAJUSTE") &&
        countOf(db, "SELECT CAST(COUNT(*) AS VARCHAR(20)) FROM APURACAOAJUSTE WHERE CDEMPRESA = ?", {code}) > 0)
        throw Exception("A empresa " + code + " tem ajustes de apuração e não pode ser excluída.");
    inTransaction(db, [&] {
        db.Run(db.Prepare("DELETE FROM INSCRESTAD WHERE CDEMPRESA = ?"), {code});
        if (db.HasTable("EMPRESAATIVIDADE"))
            db.Run(db.Prepare("DELETE FROM EMPRESAATIVIDADE WHERE CDEMPRESA = ?"), {code});
        db.Run(db.Prepare("DELETE FROM EMPRESA WHERE CDEMPRESA = ?"), {code});
    });
}

const std::vector<CompanyActivity> &CompanyActivities()
{
    static const std::vector<CompanyActivity> all = {
        {"I", "Industrial"},
        {"E", "Geração, distribuição ou comércio de energia elétrica"},
        {"C", "Comercial"},
        {"S", "Serviços"},
        {"R", "Produtor rural"},
    };
    return all;
}

std::string ActivityWords(const std::string &letter)
{
    for (const CompanyActivity &a : CompanyActivities())
        if (letter == a.letter)
            return a.words;
    return letter;
}

void CheckActivity(const std::string &letter)
{
    bool known = letter.empty();
    for (const CompanyActivity &a : CompanyActivities())
        known = known || letter == a.letter;
    if (!known)
        throw Exception("Atividade desconhecida: '" + letter + "' (use I, E, C, S ou R).");
}

void SetCompanyActivity(ImportConnection &db, const std::string &code, const std::string &activity)
{
    CheckActivity(activity);
    if (!db.HasTable("EMPRESAATIVIDADE"))
        throw EDatabaseError("O banco de dados não tem a tabela das atividades das empresas (EMPRESAATIVIDADE).");
    if (countOf(db, "SELECT CAST(COUNT(*) AS VARCHAR(20)) FROM EMPRESA WHERE CDEMPRESA = ?", {code}) == 0)
        throw Exception("A empresa " + code + " não está cadastrada.");
    inTransaction(db, [&] {
        db.Run(db.Prepare("DELETE FROM EMPRESAATIVIDADE WHERE CDEMPRESA = ?"), {code});
        if (!activity.empty())
            db.Run(db.Prepare("INSERT INTO EMPRESAATIVIDADE (CDEMPRESA, IDATIVIDADE) VALUES (?, ?)"), {code, activity});
    });
}
