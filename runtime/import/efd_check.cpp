// The check of a filed EFD: the file's own sums as it reads, then its
// documents, CFOPs and apuração against the books of its period.
#include "import/efd_check.h"

#include "rtl/sysutils.h"

#include <cctype>
#include <map>
#include <optional>
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
};

struct FileDocument {
    std::string record, key, identity;
    long line = 0, number = 0;
    bool exit = false, voided = false;
    std::string situation;
    Sums sums;
    bool matched = false;
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

class Checker : public EfdHandler {
public:
    Checker(EfdCheck &check, const std::function<bool(long)> &progress) : check_(check), progress_(progress) {}

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
        FileDocument f;
        f.record = d.record;
        f.key = d.key;
        f.line = d.line;
        f.number = d.number;
        f.exit = d.exit;
        f.voided = d.Void();
        f.situation = d.situation;
        f.identity = identityOf(d.model, d.series, d.number, d.exit);
        if (!f.voided) {
            Sums lines;
            Cents stBase = 0;
            bool contradicts = false;
            const EfdAnalytical *wrong = nullptr;
            for (const EfdAnalytical &a : d.lines) {
                lines.Add({a.operation, a.base, a.icms, a.st, a.ipi});
                stBase += a.stBase;
                const bool entryCode = !a.cfop.empty() && a.cfop[0] <= '3';
                if (entryCode == d.exit && !contradicts) {
                    contradicts = true;
                    wrong = &a;
                }
                Sums &c = cfops_[std::string(d.exit ? "S" : "E") + a.cfop];
                c.Add({a.operation, a.base, a.icms, a.st, a.ipi});
                if (EfdDebitCfop(a.cfop))
                    analyticalDebits_ += a.icms;
                else if (EfdCreditCfop(a.cfop))
                    analyticalCredits_ += a.icms;
            }
            f.sums = lines;
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
        documents_.push_back(std::move(f));
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
        static const char *const names[] = {"",
                                            "",
                                            "VL_TOT_DEBITOS",
                                            "VL_AJ_DEBITOS",
                                            "VL_TOT_AJ_DEBITOS",
                                            "VL_ESTORNOS_CRED",
                                            "VL_TOT_CREDITOS",
                                            "VL_AJ_CREDITOS",
                                            "VL_TOT_AJ_CREDITOS",
                                            "VL_ESTORNOS_DEB",
                                            "VL_SLD_CREDOR_ANT",
                                            "VL_SLD_APURADO",
                                            "VL_TOT_DED",
                                            "VL_ICMS_RECOLHER",
                                            "VL_SLD_CREDOR_TRANSPORTAR",
                                            "DEB_ESP"};
        for (const auto &[n, want] : expected)
            if (f[static_cast<std::size_t>(n)] != want)
                add("Arquivo", "erro", "E110", apuracao_->line, 0, "", "", names[n], f[static_cast<std::size_t>(n)], want,
                    "recalculado do arquivo");
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
        struct Booked {
            std::string id, side, model, series, situation, key;
            long number = 0;
            Sums sums;
            bool matched = false;
        };
        std::vector<Booked> books;
        std::unordered_map<std::string, std::size_t> byId;
        eachRow(db,
            "SELECT CAST(N.CDNOTAFISC AS VARCHAR(20)), N.IDENTRSAIDA, N.CDMODDOCFISC, N.CDSERIE, "
            "CAST(N.NRNOTAFISC AS VARCHAR(20)), N.IDSITUACAO, K.CHNFE FROM NOTAFISCAL N LEFT JOIN NFECHAVE K ON "
            "K.CDNOTAFISC = N.CDNOTAFISC WHERE N.CDEMPRESA = :P_CDEMPRESA AND N.CDINSCESTA = :P_CDINSCESTA AND "
            "N.DTENTRSAIDA >= :P_DTINICIAL AND N.DTENTRSAIDA <= :P_DTFINAL",
            values, [&](const std::vector<std::optional<std::string>> &r) {
            Booked b;
            b.id = r[0].value_or("");
            b.side = r[1].value_or("");
            b.model = r[2].value_or("");
            b.series = r[3].value_or("");
            b.number = std::stol(r[4].value_or("0"));
            b.situation = r[5].value_or("N");
            b.key = r[6].value_or("");
            if (!EfdRecordOfModel(b.model))
                return;
            byId[b.id] = books.size();
            books.push_back(std::move(b));
        });
        std::map<std::string, Sums> cfops;
        Cents debits = 0, credits = 0;
        eachRow(db,
            "SELECT CAST(N.CDNOTAFISC AS VARCHAR(20)), I.CDCFOP, CAST(ROUND(SUM(I.VLCONTABIL), 2) AS VARCHAR(30)), "
            "CAST(ROUND(SUM(COALESCE(T.VLBASECALC, 0)), 2) AS VARCHAR(30)), "
            "CAST(ROUND(SUM(COALESCE(T.VLIMPOSTO, 0)), 2) AS VARCHAR(30)), "
            "CAST(ROUND(SUM(COALESCE(T.VLIMPOSTOST, 0)), 2) AS VARCHAR(30)), "
            "CAST(ROUND(SUM(COALESCE(P.VLIMPOSTO, 0)), 2) AS VARCHAR(30)) "
            "FROM NOTAFISCAL N JOIN ITEMNOTAFISC I ON I.CDNOTAFISC = N.CDNOTAFISC "
            "LEFT JOIN IMPOSTOITEMNF T ON T.CDNOTAFISC = I.CDNOTAFISC AND T.NRITEM = I.NRITEM AND T.CDIMPOSTONFE = '01' "
            "LEFT JOIN IMPOSTOITEMNF P ON P.CDNOTAFISC = I.CDNOTAFISC AND P.NRITEM = I.NRITEM AND P.CDIMPOSTONFE = '03' "
            "WHERE N.CDEMPRESA = :P_CDEMPRESA AND N.CDINSCESTA = :P_CDINSCESTA AND N.DTENTRSAIDA >= :P_DTINICIAL AND "
            "N.DTENTRSAIDA <= :P_DTFINAL GROUP BY N.CDNOTAFISC, I.CDCFOP",
            values, [&](const std::vector<std::optional<std::string>> &r) {
            auto b = byId.find(r[0].value_or(""));
            if (b == byId.end())
                return;
            Booked &d = books[b->second];
            const Sums s{amountOf(r[2]), amountOf(r[3]), amountOf(r[4]), amountOf(r[5]), amountOf(r[6])};
            d.sums.Add(s);
            if (d.situation != "N")
                return;
            const std::string cfop = r[1].value_or("");
            cfops[d.side + cfop].Add(s);
            if (EfdDebitCfop(cfop))
                debits += s.icms;
            else if (EfdCreditCfop(cfop))
                credits += s.icms;
        });

        // Documents, by key, else by model, series, number and side.
        std::unordered_map<std::string, std::size_t> byKey, byIdentity;
        for (std::size_t i = 0; i < books.size(); ++i) {
            if (!books[i].key.empty())
                byKey[books[i].key] = i;
            byIdentity[identityOf(books[i].model, books[i].series, books[i].number, books[i].side == "S")] = i;
        }
        for (FileDocument &f : documents_) {
            std::optional<std::size_t> at;
            if (!f.key.empty()) {
                if (auto k = byKey.find(f.key); k != byKey.end())
                    at = k->second;
            }
            if (!at)
                if (auto k = byIdentity.find(f.identity); k != byIdentity.end() && !books[k->second].matched)
                    at = k->second;
            if (!at) {
                EfdFinding x = finding("Documentos", "erro", f.record, f.line, f.number, f.key, "", "");
                x.inFile = f.voided ? "cancelado/inutilizado" : EfdMoneyText(f.sums.value);
                x.inBooks = "ausente";
                check_.findings.push_back(std::move(x));
                continue;
            }
            Booked &b = books[*at];
            b.matched = f.matched = true;
            const bool bookVoid = b.situation != "N";
            if (bookVoid != f.voided) {
                EfdFinding x = finding("Documentos", "erro", f.record, f.line, f.number, f.key, "", "COD_SIT");
                x.inFile = f.situation;
                x.inBooks = bookVoid ? "cancelado" : "normal";
                check_.findings.push_back(std::move(x));
                continue;
            }
            if (bookVoid)
                continue;
            auto compare = [&](const char *field, Cents file, Cents booked) {
                if (file != booked)
                    add("Documentos", "erro", f.record, f.line, f.number, f.key, "", field, file, booked, "");
            };
            compare("VL_OPR", f.sums.value, b.sums.value);
            compare("VL_ICMS", f.sums.icms, b.sums.icms);
            compare("VL_ICMS_ST", f.sums.st, b.sums.st);
            compare("VL_IPI", f.sums.ipi, b.sums.ipi);
        }
        for (const Booked &b : books)
            if (!b.matched) {
                EfdFinding x = finding("Documentos", "erro", "", 0, b.number, b.key, "", "");
                x.inFile = "ausente";
                x.inBooks = b.situation != "N" ? "cancelado" : EfdMoneyText(b.sums.value);
                check_.findings.push_back(std::move(x));
            }

        // Per side and CFOP.
        std::map<std::string, std::pair<Sums, Sums>> both;  // file, books
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

        if (apuracao_) {
            if (apuracao_->field[2] != debits)
                add("Apuração", "erro", "E110", apuracao_->line, 0, "", "", "VL_TOT_DEBITOS", apuracao_->field[2], debits, "");
            if (apuracao_->field[6] != credits)
                add("Apuração", "erro", "E110", apuracao_->line, 0, "", "", "VL_TOT_CREDITOS", apuracao_->field[6], credits,
                    "");
        }
    }

private:
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
    std::vector<FileDocument> documents_;
    std::map<std::string, Sums> cfops_;
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
