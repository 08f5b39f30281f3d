// The check of a filed EFD: the file's own sums as it reads, then its
// documents, CFOPs and apuração against the books of its period.
#include "import/efd_check.h"

#include "rtl/sysutils.h"

#include <sqlite3.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <memory>
#include <map>
#include <optional>
#include <set>
#include <tuple>
#include <unordered_map>

namespace {

struct Sums {
    Cents value = 0, base = 0, icms = 0, st = 0, ipi = 0;
    void Add(const Sums &o)
    {
        value += o.value;
        base += o.base;
        icms += o.icms;
        st += o.st;
        ipi += o.ipi;
    }
    bool operator==(const Sums &) const = default;
};

std::string digitsOf(const std::string &s)
{
    std::string out;
    for (char c : s)
        if (std::isalnum(static_cast<unsigned char>(c)))
            out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string identityOf(const std::string &model, const std::string &series, long number, bool exit)
{
    std::string s = series;
    while (s.size() > 1 && s[0] == '0')
        s.erase(0, 1);
    return model + '|' + s + '|' + std::to_string(number) + '|' + (exit ? 'S' : 'E');
}

Cents amountOf(const std::optional<std::string> &cell)
{
    if (!cell || cell->empty())
        return 0;
    std::string s = *cell;
    const bool negative = s[0] == '-';
    if (negative)
        s.erase(0, 1);
    const auto v = ParseDecimal(s, 2);
    return v ? (negative ? -*v : *v) : 0;
}

// A statement's rows handed on one at a time, none of them kept.
void eachRow(DatabaseSession &db, const std::string &sql, const NamedValues &values,
             const std::function<void(const std::vector<std::optional<std::string>> &)> &take)
{
    struct Receiver : RowReceiver {
        const std::function<void(const std::vector<std::optional<std::string>> &)> &take;
        explicit Receiver(const std::function<void(const std::vector<std::optional<std::string>> &)> &t) : take(t) {}
        bool Columns(const std::vector<std::string> &) override { return true; }
        bool Row(const std::vector<std::optional<std::string>> &cells) override
        {
            take(cells);
            return true;
        }
    } receiver(take);
    db.QueryRows(sql, values, receiver);
}

long numberOf(const std::optional<std::string> &cell)
{
    if (!cell || cell->empty())
        return 0;
    try {
        return std::stol(*cell);
    } catch (const std::exception &) {
        return 0;
    }
}

// The documents of both sides are matched in a scratch SQLite file rather
// than in memory, so a file of a million documents takes the memory of one.
class Ledger {
public:
    class Statement {
    public:
        Statement(sqlite3 *db, const char *sql) : db_(db)
        {
            if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK)
                throw Exception(std::string("conferência: ") + sqlite3_errmsg(db));
        }
        ~Statement() { sqlite3_finalize(stmt_); }
        Statement(const Statement &) = delete;
        Statement &operator=(const Statement &) = delete;
        Statement &Bind(int n, std::int64_t v)
        {
            sqlite3_bind_int64(stmt_, n, v);
            return *this;
        }
        Statement &Bind(int n, const std::string &v)
        {
            sqlite3_bind_text(stmt_, n, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
            return *this;
        }
        // True while there is a row; a statement that wrote resets itself.
        bool Step()
        {
            const int rc = sqlite3_step(stmt_);
            if (rc == SQLITE_ROW)
                return true;
            sqlite3_reset(stmt_);
            if (rc != SQLITE_DONE)
                throw Exception(std::string("conferência: ") + sqlite3_errmsg(db_));
            return false;
        }
        std::int64_t Int(int col) const { return sqlite3_column_int64(stmt_, col); }
        bool Null(int col) const { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }
        std::string Text(int col) const
        {
            const auto *t = sqlite3_column_text(stmt_, col);
            return t ? std::string(reinterpret_cast<const char *>(t)) : std::string();
        }

    private:
        sqlite3 *db_;
        sqlite3_stmt *stmt_ = nullptr;
    };

    Ledger()
    {
        path_ = (std::filesystem::temp_directory_path() /
                 ("fis-efd-ledger-" + std::to_string(::getpid()) + "-" +
                  std::to_string(reinterpret_cast<std::uintptr_t>(this)) + ".sqlite"))
                    .string();
        std::filesystem::remove(path_);
        if (sqlite3_open(path_.c_str(), &db_) != SQLITE_OK) {
            const std::string why = db_ ? sqlite3_errmsg(db_) : "sem memória";
            sqlite3_close(db_);
            throw Exception("conferência: " + path_ + ": " + why);
        }
        // Scratch data: nothing to recover after a crash, the cache kept small.
        Exec("PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; PRAGMA cache_size = -4096; "
             "PRAGMA temp_store = FILE;"
             "CREATE TABLE F (LINE INTEGER PRIMARY KEY, RECORD TEXT, NUMBER INTEGER, KEY TEXT, IDENT TEXT, "
             "VOIDED INTEGER, SITUATION TEXT, VALUE INTEGER, ICMS INTEGER, ST INTEGER, IPI INTEGER, B INTEGER, "
             "BY_IDENT INTEGER);"
             "CREATE TABLE B (ID INTEGER PRIMARY KEY, NUMBER INTEGER, KEY TEXT, IDENT TEXT, VOIDED INTEGER, "
             "VALUE INTEGER, ICMS INTEGER, ST INTEGER, IPI INTEGER);"
             "BEGIN");
    }
    ~Ledger()
    {
        sqlite3_close(db_);
        std::error_code ec;
        std::filesystem::remove(path_, ec);
    }
    Ledger(const Ledger &) = delete;
    Ledger &operator=(const Ledger &) = delete;

    void Exec(const char *sql)
    {
        char *error = nullptr;
        if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
            const std::string why = error ? error : "erro";
            sqlite3_free(error);
            throw Exception("conferência: " + why);
        }
    }
    std::unique_ptr<Statement> Prepare(const char *sql) { return std::make_unique<Statement>(db_, sql); }

private:
    std::string path_;
    sqlite3 *db_ = nullptr;
};

// Per side and CFOP, and per side, CFOP, CST and rate.
using CfopKey = std::string;                                    // "S5102"
using RateKey = std::tuple<std::string, std::string, std::int64_t>;  // "S5102", CST, rate

const char *const kE110Fields[] = {"", "", "VL_TOT_DEBITOS", "VL_AJ_DEBITOS", "VL_TOT_AJ_DEBITOS", "VL_ESTORNOS_CRED",
                                   "VL_TOT_CREDITOS", "VL_AJ_CREDITOS", "VL_TOT_AJ_CREDITOS", "VL_ESTORNOS_DEB",
                                   "VL_SLD_CREDOR_ANT", "VL_SLD_APURADO", "VL_TOT_DED", "VL_ICMS_RECOLHER",
                                   "VL_SLD_CREDOR_TRANSPORTAR", "DEB_ESP"};

// The CST without its origin digit, as both the file and the books keep it.
std::string cstOf(const std::string &cst) { return cst.size() == 3 ? cst.substr(1) : cst; }

class Checker : public EfdHandler {
public:
    Checker(EfdCheck &check, const std::function<bool(long)> &progress)
        : check_(check), progress_(progress),
          insertFile_(ledger_.Prepare("INSERT INTO F (LINE, RECORD, NUMBER, KEY, IDENT, VOIDED, SITUATION, VALUE, ICMS, "
                                      "ST, IPI) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"))
    {
    }

    bool Opened(const EfdIdentity &id) override
    {
        check_.identity = id;
        return true;
    }

    bool Document(const EfdDocument &d, const EfdTables &) override
    {
        ++check_.documents;
        if (progress_ && check_.documents % 1000 == 0 && !progress_(d.line))
            return false;
        Sums lines;
        if (!d.Void()) {
            Cents stBase = 0;
            const EfdAnalytical *wrong = nullptr;
            const std::string side = d.exit ? "S" : "E";
            for (const EfdAnalytical &a : d.lines) {
                const Sums s{a.operation, a.base, a.icms, a.st, a.ipi};
                lines.Add(s);
                stBase += a.stBase;
                const bool entryCode = !a.cfop.empty() && a.cfop[0] <= '3';
                if (entryCode == d.exit && !wrong)
                    wrong = &a;
                cfops_[side + a.cfop].Add(s);
                rates_[{side + a.cfop, cstOf(a.cst), a.rate}].Add(s);
                if (EfdDebitCfop(a.cfop))
                    analyticalDebits_ += a.icms;
                else if (EfdCreditCfop(a.cfop))
                    analyticalCredits_ += a.icms;
            }
            const std::string lineRecord = d.record.substr(0, 2) + "90";
            auto header = [&](const char *field, Cents filed, Cents sum) {
                if (filed != sum)
                    add("Arquivo", "erro", d.record, d.line, d.number, d.key, "", field, filed, sum,
                        "soma dos " + lineRecord);
            };
            header("VL_BC_ICMS", d.base, lines.base);
            header("VL_ICMS", d.icms, lines.icms);
            if (d.record != "D100") {
                header("VL_BC_ICMS_ST", d.stBase, stBase);
                header("VL_ICMS_ST", d.st, lines.st);
            }
            if (d.record == "C100")
                header("VL_IPI", d.ipi, lines.ipi);
            if (d.total != lines.value)
                add("Arquivo", "aviso", d.record, d.line, d.number, d.key, "", "VL_DOC", d.total, lines.value,
                    "soma dos VL_OPR");
            if (wrong) {
                EfdFinding x = finding("Arquivo", "erro", lineRecord, wrong->line, d.number, d.key, wrong->cfop, "CFOP");
                x.inFile = wrong->cfop;
                x.inBooks = d.exit ? "CFOP de saída (IND_OPER 1)" : "CFOP de entrada (IND_OPER 0)";
                check_.findings.push_back(std::move(x));
            }
            if (!d.items.empty())
                itemsAgainstLines(d);
        }
        for (const EfdAdjustment &a : d.adjustments)
            if (a.code.size() >= 4 && a.code[3] == '0') {
                if (a.code[2] == '0' || a.code[2] == '1')
                    documentDebits_ += a.value;
                else if (a.code[2] == '2' || a.code[2] == '3')
                    documentCredits_ += a.value;
            }
        insertFile_->Bind(1, d.line)
            .Bind(2, d.record)
            .Bind(3, d.number)
            .Bind(4, d.key)
            .Bind(5, identityOf(d.model, d.series, d.number, d.exit))
            .Bind(6, d.Void() ? 1 : 0)
            .Bind(7, d.situation)
            .Bind(8, lines.value)
            .Bind(9, lines.icms)
            .Bind(10, lines.st)
            .Bind(11, lines.ipi)
            .Step();
        return true;
    }

    bool Apuracao(const EfdApuracao &a) override
    {
        apuracao_ = a;
        return true;
    }

    void Closed(const EfdTotals &t) override { check_.totals = t; }

    // What only the whole file tells: its counts and its apuração.
    void Finish()
    {
        const EfdTotals &t = check_.totals;
        for (const auto &[record, declared] : t.declared) {
            auto read = t.records.find(record);
            const long n = read == t.records.end() ? 0 : read->second;
            if (n != declared.first)
                addCount("9900", declared.second, record, "QTD_REG_BLC", declared.first, n);
        }
        for (const auto &[record, n] : t.records)
            if (!t.declared.count(record))
                addCount("9900", 0, record, "QTD_REG_BLC", 0, n);
        if (t.declaredLines != t.closingLine)
            addCount("9999", t.closingLine, "", "QTD_LIN", t.declaredLines, t.closingLine);
        if (!apuracao_)
            return;
        const auto &f = apuracao_->field;
        for (const EfdAdjustment &x : apuracao_->adjustments)
            check_.adjustments.push_back({x.line, x.code, x.description, x.value});
        std::map<char, Cents> e111;
        for (const EfdAdjustment &x : apuracao_->adjustments)
            if (x.code.size() >= 4 && x.code[2] == '0')
                e111[x.code[3]] += x.value;
        const Cents owed = f[2] + f[3] + f[4] + f[5], held = f[6] + f[7] + f[8] + f[9] + f[10];
        const std::pair<int, Cents> expected[] = {
            {2, analyticalDebits_},
            {3, documentDebits_},
            {4, e111['0']},
            {5, e111['1']},
            {6, analyticalCredits_},
            {7, documentCredits_},
            {8, e111['2']},
            {9, e111['3']},
            {11, std::max<Cents>(0, owed - held)},
            {12, e111['4']},
            {13, f[11] - f[12]},
            {14, std::max<Cents>(0, held - owed)},
        };
        for (const auto &[n, want] : expected)
            if (f[static_cast<std::size_t>(n)] != want)
                add("Arquivo", "erro", "E110", apuracao_->line, 0, "", "", kE110Fields[n], f[static_cast<std::size_t>(n)],
                    want, "recalculado do arquivo");
        Cents obligations = 0;
        for (const EfdObligation &o : apuracao_->obligations)
            obligations += o.value;
        if (obligations != f[13] + f[15])
            add("Arquivo", "erro", "E116", apuracao_->obligations.empty() ? apuracao_->line : apuracao_->obligations[0].line,
                0, "", "", "VL_OR", obligations, f[13] + f[15], "VL_ICMS_RECOLHER + DEB_ESP do E110");
    }

    // The books of the file's company and period.
    void AgainstBooks(DatabaseSession &db)
    {
        const EfdIdentity &id = check_.identity;
        const ResultSet regs = db.Query("SELECT I.CDEMPRESA, E.NMEMPRESA, I.CDINSCESTA, I.SGESTADO FROM INSCRESTAD I "
                                        "JOIN EMPRESA E ON E.CDEMPRESA = I.CDEMPRESA",
                                        {});
        std::string registration;
        for (const auto &r : regs.rows)
            if (digitsOf(r[2].value_or("")) == digitsOf(id.registration) && r[3].value_or("") == id.state) {
                check_.company = r[0].value_or("");
                check_.companyName = r[1].value_or("");
                registration = r[2].value_or("");
            }
        if (check_.company.empty()) {
            EfdFinding x = finding("Documentos", "erro", "0000", 1, 0, "", "", "IE");
            x.inFile = id.registration + "/" + id.state;
            x.inBooks = "nenhuma empresa cadastrada com essa inscrição";
            check_.findings.push_back(std::move(x));
            return;
        }
        const NamedValues values{{"P_CDEMPRESA", Variant(check_.company)},
                                 {"P_CDINSCESTA", Variant(registration)},
                                 {"P_DTINICIAL", Variant(id.from)},
                                 {"P_DTFINAL", Variant(id.to)}};
        const std::string period = " WHERE N.CDEMPRESA = :P_CDEMPRESA AND N.CDINSCESTA = :P_CDINSCESTA AND "
                                   "N.DTENTRSAIDA >= :P_DTINICIAL AND N.DTENTRSAIDA <= :P_DTFINAL ";

        // Each document of the books with its sums per CFOP from the kept
        // summary (in cents): the row without tax holds the items' value,
        // ST and IPI, the ICMS row its base and tax.
        std::map<CfopKey, Sums> cfops;
        Cents debits = 0, credits = 0;
        {
            auto insert = ledger_.Prepare(
                "INSERT INTO B (ID, NUMBER, KEY, IDENT, VOIDED, VALUE, ICMS, ST, IPI) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
            long current = -1;
            Sums sums;
            std::string key, ident;
            long number = 0;
            bool voided = false, wanted = false;
            auto flush = [&] {
                if (current < 0 || !wanted)
                    return;
                insert->Bind(1, current)
                    .Bind(2, number)
                    .Bind(3, key)
                    .Bind(4, ident)
                    .Bind(5, voided ? 1 : 0)
                    .Bind(6, sums.value)
                    .Bind(7, sums.icms)
                    .Bind(8, sums.st)
                    .Bind(9, sums.ipi)
                    .Step();
            };
            eachRow(db,
                    "SELECT N.CDNOTAFISC, N.IDENTRSAIDA, N.CDMODDOCFISC, N.CDSERIE, N.NRNOTAFISC, N.IDSITUACAO, K.CHNFE, "
                    "A.CDCFOP, A.VLCONTABIL, B.VLBASECALC, B.VLIMPOSTO, A.VLIMPOSTOST, A.VLIPI "
                    "FROM NOTAFISCAL N LEFT JOIN NFECHAVE K ON K.CDNOTAFISC = N.CDNOTAFISC "
                    "LEFT JOIN RESUMOCFOPNF A ON A.CDNOTAFISC = N.CDNOTAFISC AND A.CDIMPOSTONFE = '' "
                    "LEFT JOIN RESUMOCFOPNF B ON B.CDNOTAFISC = A.CDNOTAFISC AND B.CDIMPOSTONFE = '01' AND "
                    "B.CDCFOP = A.CDCFOP" +
                        period + "ORDER BY N.CDNOTAFISC",
                    values, [&](const std::vector<std::optional<std::string>> &r) {
                        const long doc = numberOf(r[0]);
                        if (doc != current) {
                            flush();
                            current = doc;
                            sums = {};
                            const std::string side = r[1].value_or(""), model = r[2].value_or("");
                            number = numberOf(r[4]);
                            voided = r[5].value_or("N") != "N";
                            key = r[6].value_or("");
                            ident = identityOf(model, r[3].value_or(""), number, side == "S");
                            wanted = EfdRecordOfModel(model) != nullptr;
                        }
                        if (!wanted || !r[7])
                            return;
                        const Sums s{numberOf(r[8]), numberOf(r[9]), numberOf(r[10]), numberOf(r[11]), numberOf(r[12])};
                        sums.Add(s);
                        if (voided)
                            return;
                        const std::string cfop = *r[7];
                        cfops[r[1].value_or("") + cfop].Add(s);
                        if (EfdDebitCfop(cfop))
                            debits += s.icms;
                        else if (EfdCreditCfop(cfop))
                            credits += s.icms;
                    });
            flush();
        }
        matchDocuments();

        // Per side and CFOP.
        std::map<CfopKey, std::pair<Sums, Sums>> both;  // file, books
        for (const auto &[k, s] : cfops_)
            both[k].first = s;
        for (const auto &[k, s] : cfops)
            both[k].second = s;
        for (const auto &[k, p] : both) {
            const std::string cfop = k.substr(1);
            auto compare = [&](const char *field, Cents file, Cents booked) {
                if (file != booked)
                    add("CFOP", "erro", "", 0, 0, "", cfop, field, file, booked, "");
            };
            compare("VL_OPR", p.first.value, p.second.value);
            compare("VL_BC_ICMS", p.first.base, p.second.base);
            compare("VL_ICMS", p.first.icms, p.second.icms);
            compare("VL_ICMS_ST", p.first.st, p.second.st);
            compare("VL_IPI", p.first.ipi, p.second.ipi);
        }
        perRate(db, period, values, both);

        if (apuracao_) {
            check_.debits = {apuracao_->field[2], debits};
            check_.credits = {apuracao_->field[6], credits};
            if (apuracao_->field[2] != debits)
                add("Apuração", "erro", "E110", apuracao_->line, 0, "", "", "VL_TOT_DEBITOS", apuracao_->field[2], debits, "");
            if (apuracao_->field[6] != credits)
                add("Apuração", "erro", "E110", apuracao_->line, 0, "", "", "VL_TOT_CREDITOS", apuracao_->field[6], credits,
                    "");
        }
    }

private:
    // By key, else by model, series, number and side; each document of the
    // books answers one of the file's, the first one in the file.
    void matchDocuments()
    {
        ledger_.Exec("CREATE INDEX B_KEY ON B (KEY) WHERE KEY <> '';"
                     "CREATE INDEX B_IDENT ON B (IDENT);"
                     "UPDATE F SET B = (SELECT MIN(ID) FROM B WHERE B.KEY = F.KEY) WHERE KEY <> '';"
                     "CREATE INDEX F_B ON F (B);"
                     "UPDATE F SET B = (SELECT MIN(B.ID) FROM B WHERE B.IDENT = F.IDENT AND NOT EXISTS "
                     "(SELECT 1 FROM F G WHERE G.B = B.ID)), BY_IDENT = 1 WHERE B IS NULL;"
                     // Two of the file's documents of one identity: the first one has it.
                     "UPDATE F SET B = NULL WHERE BY_IDENT = 1 AND B IS NOT NULL AND "
                     "LINE > (SELECT MIN(G.LINE) FROM F G WHERE G.B = F.B);");
        auto differing = ledger_.Prepare(
            "SELECT F.LINE, F.RECORD, F.NUMBER, F.KEY, F.VOIDED, F.SITUATION, F.VALUE, F.ICMS, F.ST, F.IPI, B.ID, "
            "B.VOIDED, B.VALUE, B.ICMS, B.ST, B.IPI FROM F LEFT JOIN B ON B.ID = F.B WHERE B.ID IS NULL OR "
            "F.VOIDED <> B.VOIDED OR (F.VOIDED = 0 AND (F.VALUE <> B.VALUE OR F.ICMS <> B.ICMS OR F.ST <> B.ST OR "
            "F.IPI <> B.IPI)) ORDER BY F.LINE");
        while (differing->Step()) {
            const std::string record = differing->Text(1), key = differing->Text(3);
            const long line = static_cast<long>(differing->Int(0)), number = static_cast<long>(differing->Int(2));
            const bool voided = differing->Int(4) != 0;
            if (differing->Null(10)) {
                EfdFinding x = finding("Documentos", "erro", record, line, number, key, "", "");
                x.inFile = voided ? "cancelado/inutilizado" : EfdMoneyText(differing->Int(6));
                x.inBooks = "ausente";
                check_.findings.push_back(std::move(x));
                continue;
            }
            const bool bookVoid = differing->Int(11) != 0;
            if (bookVoid != voided) {
                EfdFinding x = finding("Documentos", "erro", record, line, number, key, "", "COD_SIT");
                x.inFile = differing->Text(5);
                x.inBooks = bookVoid ? "cancelado" : "normal";
                check_.findings.push_back(std::move(x));
                continue;
            }
            const char *fields[] = {"VL_OPR", "VL_ICMS", "VL_ICMS_ST", "VL_IPI"};
            for (int n = 0; n < 4; ++n)
                if (differing->Int(6 + n) != differing->Int(12 + n))
                    add("Documentos", "erro", record, line, number, key, "", fields[n], differing->Int(6 + n),
                        differing->Int(12 + n), "");
        }
        auto absent = ledger_.Prepare("SELECT NUMBER, KEY, VOIDED, VALUE FROM B WHERE NOT EXISTS "
                                      "(SELECT 1 FROM F WHERE F.B = B.ID) ORDER BY ID");
        while (absent->Step()) {
            EfdFinding x = finding("Documentos", "erro", "", 0, static_cast<long>(absent->Int(0)), absent->Text(1), "", "");
            x.inFile = "ausente";
            x.inBooks = absent->Int(2) ? "cancelado" : EfdMoneyText(absent->Int(3));
            check_.findings.push_back(std::move(x));
        }
    }

    // Per CST and rate under each CFOP where the books' tax rows have them;
    // a CFOP already apart as a whole is not repeated line by line.
    void perRate(DatabaseSession &db, const std::string &period, const NamedValues &values,
                 const std::map<CfopKey, std::pair<Sums, Sums>> &cfops)
    {
        std::map<RateKey, Sums> books;
        std::set<CfopKey> unsplit;  // a CFOP with items of no CST, or of a CSOSN
        bool any = false;
        eachRow(db,
                "SELECT N.IDENTRSAIDA, I.CDCFOP, T.CDCST, CAST(T.PCALIQUOTA AS VARCHAR(20)), "
                "CAST(ROUND(SUM(I.VLCONTABIL), 2) AS VARCHAR(30)), CAST(ROUND(SUM(T.VLBASECALC), 2) AS VARCHAR(30)), "
                "CAST(ROUND(SUM(T.VLIMPOSTO), 2) AS VARCHAR(30)) "
                "FROM NOTAFISCAL N JOIN ITEMNOTAFISC I ON I.CDNOTAFISC = N.CDNOTAFISC "
                "LEFT JOIN IMPOSTOITEMNF T ON T.CDNOTAFISC = I.CDNOTAFISC AND T.NRITEM = I.NRITEM AND T.CDIMPOSTONFE = '01'" +
                    period + "AND N.IDSITUACAO = 'N' GROUP BY N.IDENTRSAIDA, I.CDCFOP, T.CDCST, T.PCALIQUOTA",
                values, [&](const std::vector<std::optional<std::string>> &r) {
                    const CfopKey cfop = r[0].value_or("") + r[1].value_or("");
                    // Origin and CST; the four digits of a CSOSN are no CST to compare.
                    if (!r[2] || (r[2]->size() != 2 && r[2]->size() != 3)) {
                        unsplit.insert(cfop);
                        return;
                    }
                    any = true;
                    books[{cfop, cstOf(*r[2]), amountOf(r[3])}].Add(
                        {amountOf(r[4]), amountOf(r[5]), amountOf(r[6]), 0, 0});
                });
        if (!any)
            return;
        std::map<RateKey, std::pair<Sums, Sums>> both;
        for (const auto &[k, s] : rates_)
            both[k].first = s;
        for (const auto &[k, s] : books)
            both[k].second = s;
        for (const auto &[k, p] : both) {
            const auto &[cfop, cst, rate] = k;
            auto whole = cfops.find(cfop);
            if (unsplit.count(cfop) || (whole != cfops.end() && !(whole->second.first == whole->second.second)))
                continue;
            const std::string place = " (CST " + cst + ", " + EfdMoneyText(rate) + "%)";
            auto compare = [&](const char *field, Cents file, Cents booked) {
                if (file != booked)
                    add("CFOP", "erro", "", 0, 0, "", cfop.substr(1), field + place, file, booked, "");
            };
            compare("VL_OPR", p.first.value, p.second.value);
            compare("VL_BC_ICMS", p.first.base, p.second.base);
            compare("VL_ICMS", p.first.icms, p.second.icms);
        }
    }

    EfdFinding finding(const char *section, const char *severity, const std::string &record, long line, long number,
                       const std::string &key, const std::string &cfop, const std::string &field) const
    {
        EfdFinding x;
        x.section = section;
        x.severity = severity;
        x.record = record;
        x.line = line;
        x.document = number;
        x.key = key;
        x.cfop = cfop;
        x.field = field;
        return x;
    }
    void add(const char *section, const char *severity, const std::string &record, long line, long number,
             const std::string &key, const std::string &cfop, const std::string &field, Cents file, Cents books,
             const std::string &booksLabel)
    {
        EfdFinding x = finding(section, severity, record, line, number, key, cfop, field);
        x.inFile = EfdMoneyText(file);
        x.inBooks = EfdMoneyText(books) + (booksLabel.empty() ? "" : " (" + booksLabel + ")");
        x.difference = file - books;
        check_.findings.push_back(std::move(x));
    }
    void addCount(const char *record, long line, const std::string &counted, const char *field, long declared, long read)
    {
        EfdFinding x = finding("Arquivo", "erro", record, line, 0, "", "", std::string(field) + (counted.empty() ? "" : " " + counted));
        x.inFile = std::to_string(declared);
        x.inBooks = std::to_string(read) + " (contados no arquivo)";
        check_.findings.push_back(std::move(x));
    }

    // C190 against its C170, per CST, CFOP and rate.
    void itemsAgainstLines(const EfdDocument &d)
    {
        using Key = std::tuple<std::string, std::string, std::int64_t>;
        std::map<Key, std::pair<Sums, Sums>> groups;  // lines, items
        std::map<Key, long> lineOf;
        for (const EfdAnalytical &a : d.lines) {
            const Key k{a.cst, a.cfop, a.rate};
            groups[k].first.Add({0, a.base, a.icms, a.st, a.ipi});
            lineOf.emplace(k, a.line);
        }
        for (const EfdItem &it : d.items)
            groups[{it.cst, it.cfop, it.rate}].second.Add({0, it.base, it.icms, it.st, it.ipi});
        for (const auto &[k, p] : groups) {
            const long line = lineOf.count(k) ? lineOf[k] : d.line;
            auto compare = [&](const char *field, Cents lines, Cents items) {
                if (lines != items)
                    add("Arquivo", "erro", "C190", line, d.number, d.key, std::get<1>(k), field, lines, items,
                        "soma dos C170");
            };
            compare("VL_BC_ICMS", p.first.base, p.second.base);
            compare("VL_ICMS", p.first.icms, p.second.icms);
            compare("VL_ICMS_ST", p.first.st, p.second.st);
            compare("VL_IPI", p.first.ipi, p.second.ipi);
        }
    }

    EfdCheck &check_;
    const std::function<bool(long)> &progress_;
    Ledger ledger_;
    std::unique_ptr<Ledger::Statement> insertFile_;
    std::map<CfopKey, Sums> cfops_;
    std::map<RateKey, Sums> rates_;
    std::optional<EfdApuracao> apuracao_;
    Cents analyticalDebits_ = 0, analyticalCredits_ = 0, documentDebits_ = 0, documentCredits_ = 0;
};

} // namespace

long EfdCheck::Count(const std::string &section) const
{
    long n = 0;
    for (const EfdFinding &f : findings)
        n += f.section == section;
    return n;
}

std::string EfdMoneyText(Cents c)
{
    const std::string plain = DecimalText(c < 0 ? -c : c, 2);
    const std::size_t whole = plain.size() - 3;
    std::string s = c < 0 ? "-" : "";
    for (std::size_t i = 0; i < whole; ++i) {
        if (i > 0 && (whole - i) % 3 == 0)
            s += '.';
        s += plain[i];
    }
    return s + ',' + plain.substr(whole + 1);
}

EfdCheck CheckEfdFile(const std::string &path, DatabaseSession *books, const std::function<bool(long)> &progress)
{
    EfdCheck check;
    check.file = path;
    Checker checker(check, progress);
    std::optional<std::string> failure;
    bool seen = false;
    SourceLimits limits;
    ReadSource({path, false, {}}, limits, [&](SourceEntry &e) {
        if (seen)
            return false;
        seen = true;
        if (!e.stream) {
            failure = e.problem;
            return false;
        }
        EfdFault fault;
        switch (ReadEfd(*e.stream, limits, checker, fault)) {
        case EfdOutcome::Read: break;
        case EfdOutcome::Stopped: failure = "conferência cancelada"; break;
        case EfdOutcome::Failed:
            failure = e.name + ", " + fault.Place() + ": " + fault.reason;
            break;
        }
        return false;
    });
    if (!seen && !failure)
        failure = path + ": arquivo vazio";
    if (failure)
        throw Exception(*failure);
    checker.Finish();
    if (books)
        checker.AgainstBooks(*books);
    return check;
}
