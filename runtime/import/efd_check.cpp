// The check of a filed EFD: the file's own sums as it reads, then its
// documents, CFOPs and apuração against the books of its period.
#include "import/efd_check.h"

#include "rtl/sysutils.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <deque>
#include <exception>
#include <map>
#include <optional>
#include <set>
#include <tuple>

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

// How a document without an access key is known on both sides: model,
// series without its leading zeros, number and side. Empty where the model
// or series is longer than the books keep, so it answers none of them.
struct Identity {
    std::array<char, 2> model{};
    std::array<char, 5> series{};
    bool exit = false;
    long number = 0;
    bool operator==(const Identity &) const = default;
};

struct IdentityLess {
    bool operator()(const Identity &x, const Identity &y) const
    {
        return std::tie(x.number, x.exit, x.model, x.series) < std::tie(y.number, y.exit, y.model, y.series);
    }
};

std::optional<Identity> identityOf(const std::string &model, std::string_view series, long number, bool exit)
{
    while (series.size() > 1 && series[0] == '0')
        series.remove_prefix(1);
    Identity i;
    if (model.size() > i.model.size() || series.size() > i.series.size())
        return std::nullopt;
    std::copy(model.begin(), model.end(), i.model.begin());
    std::copy(series.begin(), series.end(), i.series.begin());
    i.exit = exit;
    i.number = number;
    return i;
}

// An access key as both sides keep it: its 44 digits, or none.
using AccessKey = std::array<char, 44>;
std::optional<AccessKey> keyOf(std::string_view text)
{
    if (text.size() != 44)
        return std::nullopt;
    AccessKey k;
    std::copy(text.begin(), text.end(), k.begin());
    return k;
}

// A document's amounts as the Documentos section compares them.
struct Amounts {
    Cents value = 0, icms = 0, st = 0, ipi = 0;
};

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
    long n = 0;
    if (cell)
        std::from_chars(cell->data(), cell->data() + cell->size(), n);
    return n;
}

// The period's documents of the books, matched against the file's as it is
// read: the file is never held, only the books' side of one period, about
// 140 bytes a document (kept in chunks, so growing never copies them), found
// through two sorted lists rather than hash tables.
class BookDocuments {
public:
    struct Document {
        long id = 0, number = 0;
        std::array<char, 44> key{};
        std::uint8_t keyLength = 0;
        bool voided = false, hasIdentity = false;
        bool byKey = false, byIdentity = false;  // answered a document of the file
        Identity identity;
        Amounts sums;
        std::string Key() const { return std::string(key.data(), keyLength); }
        std::string_view FullKey() const { return {key.data(), keyLength == key.size() ? key.size() : 0}; }
    };

    // In the order of their numbers in the books (CDNOTAFISC).
    void Add(long id, long number, const std::optional<Identity> &identity, bool voided, const Amounts &sums)
    {
        Document &d = docs_.emplace_back();
        d.id = id;
        d.number = number;
        d.voided = voided;
        d.hasIdentity = identity.has_value();
        if (identity)
            d.identity = *identity;
        d.sums = sums;
    }
    // The key of the document `id`, where it is one of them (the first one
    // read, should the books have two).
    void SetKey(long id, const std::string &key)
    {
        auto at = std::lower_bound(docs_.begin(), docs_.end(), id, [](const Document &d, long v) { return d.id < v; });
        if (at == docs_.end() || at->id != id || at->keyLength)
            return;
        at->keyLength = static_cast<std::uint8_t>(std::min(key.size(), at->key.size()));
        std::copy_n(key.begin(), at->keyLength, at->key.begin());
    }
    // After the last Add and SetKey. Equal keys and identities keep the books' order,
    // so the first of them answers first.
    void Index()
    {
        for (std::uint32_t n = 0; n < docs_.size(); ++n) {
            if (!docs_[n].FullKey().empty())
                keys_.push_back(n);
            if (docs_[n].hasIdentity)
                identities_.emplace_back(docs_[n].identity, n);
        }
        std::stable_sort(keys_.begin(), keys_.end(),
                         [this](std::uint32_t x, std::uint32_t y) { return docs_[x].FullKey() < docs_[y].FullKey(); });
        std::stable_sort(identities_.begin(), identities_.end(),
                         [](const auto &x, const auto &y) { return IdentityLess()(x.first, y.first); });
    }

    // The first document of the books with the key, marked as answered.
    Document *ByKey(const AccessKey &key)
    {
        const std::string_view k(key.data(), key.size());
        auto at = std::lower_bound(keys_.begin(), keys_.end(), k,
                                   [this](std::uint32_t n, std::string_view v) { return docs_[n].FullKey() < v; });
        if (at == keys_.end() || docs_[*at].FullKey() != k)
            return nullptr;
        docs_[*at].byKey = true;
        return &docs_[*at];
    }
    // The first of the identity that nothing answered yet: two of the file
    // with one identity take two of the books, never one twice. Before the
    // whole file is read (`final` false) one with a key is not taken, since
    // a later document of the file may still answer it by its key: `wait`
    // says so.
    Document *ByIdentity(const Identity &identity, bool final, bool &wait)
    {
        wait = false;
        auto at = std::lower_bound(identities_.begin(), identities_.end(), identity,
                                   [](const auto &x, const Identity &v) { return IdentityLess()(x.first, v); });
        for (; at != identities_.end() && at->first == identity; ++at) {
            Document &d = docs_[at->second];
            if (d.byKey || d.byIdentity)
                continue;
            if (!final && !d.FullKey().empty()) {
                wait = true;
                return nullptr;
            }
            d.byIdentity = true;
            return &d;
        }
        return nullptr;
    }
    const std::deque<Document> &All() const { return docs_; }

private:
    std::deque<Document> docs_;
    std::vector<std::uint32_t> keys_;                            // positions, sorted by key
    std::vector<std::pair<Identity, std::uint32_t>> identities_;  // sorted by identity
};

// One of the file's documents, as far as the books' side needs it.
struct FileDocument {
    long line = 0, number = 0;
    const char *record = "";
    std::optional<AccessKey> key;
    std::optional<Identity> identity;
    bool voided = false;
    std::array<char, 2> situation{};
    Amounts sums;
    std::string Key() const { return key ? std::string(key->data(), key->size()) : std::string(); }
};

// A document's C190 and C170 of one CST, CFOP and rate.
struct ItemGroup {
    const std::string *cst, *cfop;
    std::int64_t rate;
    long line;
    Sums lines, items;
    bool operator<(const ItemGroup &o) const { return std::tie(*cst, *cfop, rate) < std::tie(*o.cst, *o.cfop, o.rate); }
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
    Checker(EfdCheck &check, DatabaseSession *books, const std::function<bool(long)> &progress)
        : check_(check), db_(books), progress_(progress)
    {
    }

    // The books' documents are read once the file says whose and which
    // period it is, so each of the file's is matched as it is read.
    ~Checker() override
    {
        if (db_)
            db_->EndSnapshot();
    }
    Checker(const Checker &) = delete;
    Checker &operator=(const Checker &) = delete;

    bool Opened(const EfdIdentity &id) override
    {
        check_.identity = id;
        if (!db_)
            return true;
        try {
            // Every read of the books sees the same moment.
            db_->BeginSnapshot();
            openBooks();
        } catch (...) {
            booksFailure_ = std::current_exception();
            return false;
        }
        return true;
    }
    std::exception_ptr BooksFailure() const { return booksFailure_; }

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
        if (!company_.empty()) {
            FileDocument f;
            f.line = d.line;
            f.number = d.number;
            f.record = d.record == "C100" ? "C100" : d.record == "C500" ? "C500" : "D100";
            f.key = keyOf(d.key);
            f.identity = identityOf(d.model, d.series, d.number, d.exit);
            f.voided = d.Void();
            std::copy_n(d.situation.begin(), std::min<std::size_t>(2, d.situation.size()), f.situation.begin());
            f.sums = {lines.value, lines.icms, lines.st, lines.ipi};
            // By key at once, and by identity where no key can take it
            // later; the rest once every key of the file is known.
            if (BookDocuments::Document *b = f.key ? books_.ByKey(*f.key) : nullptr) {
                compare(f, b);
            } else if (!f.identity) {
                absentFromBooks(f);
            } else if (waiting_.count(*f.identity)) {
                byIdentity_.push_back(f);
            } else {
                bool wait = false;
                if (BookDocuments::Document *b = books_.ByIdentity(*f.identity, false, wait))
                    compare(f, b);
                else if (!wait)
                    absentFromBooks(f);
                else {
                    waiting_.insert(*f.identity);
                    byIdentity_.push_back(f);
                }
            }
        }
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

    // The books of the file's company and period, after the whole file.
    void AgainstBooks()
    {
        if (!db_)
            return;
        if (company_.empty()) {
            EfdFinding x = finding("Documentos", "erro", "0000", 1, 0, "", "", "IE");
            x.inFile = check_.identity.registration + "/" + check_.identity.state;
            x.inBooks = "nenhuma empresa cadastrada com essa inscrição";
            check_.findings.push_back(std::move(x));
            return;
        }
        for (const FileDocument &f : byIdentity_) {
            bool wait = false;
            if (BookDocuments::Document *b = books_.ByIdentity(*f.identity, true, wait))
                compare(f, b);
            else
                absentFromBooks(f);
        }
        byIdentity_.clear();
        std::stable_sort(documents_.begin(), documents_.end(),
                         [](const EfdFinding &x, const EfdFinding &y) { return x.line < y.line; });
        for (EfdFinding &x : documents_)
            check_.findings.push_back(std::move(x));
        documents_.clear();
        for (const BookDocuments::Document &b : books_.All()) {
            if (b.byKey || b.byIdentity)
                continue;
            EfdFinding x = finding("Documentos", "erro", "", 0, b.number, b.Key(), "", "");
            x.inFile = "ausente";
            x.inBooks = b.voided ? "cancelado" : EfdMoneyText(b.sums.value);
            check_.findings.push_back(std::move(x));
        }

        // Per side and CFOP.
        std::map<CfopKey, std::pair<Sums, Sums>> both;  // file, books
        for (const auto &[k, s] : cfops_)
            both[k].first = s;
        for (const auto &[k, s] : booksCfops_)
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
        perRate(both);

        if (apuracao_) {
            check_.debits = {apuracao_->field[2], debits_};
            check_.credits = {apuracao_->field[6], credits_};
            if (apuracao_->field[2] != debits_)
                add("Apuração", "erro", "E110", apuracao_->line, 0, "", "", "VL_TOT_DEBITOS", apuracao_->field[2], debits_,
                    "");
            if (apuracao_->field[6] != credits_)
                add("Apuração", "erro", "E110", apuracao_->line, 0, "", "", "VL_TOT_CREDITOS", apuracao_->field[6],
                    credits_, "");
        }
    }

private:
    // The company of the file's registration, and its documents of the period.
    void openBooks()
    {
        const EfdIdentity &id = check_.identity;
        const ResultSet regs = db_->Query("SELECT I.CDEMPRESA, E.NMEMPRESA, I.CDINSCESTA, I.SGESTADO FROM INSCRESTAD I "
                                          "JOIN EMPRESA E ON E.CDEMPRESA = I.CDEMPRESA",
                                          {});
        std::string registration;
        for (const auto &r : regs.rows)
            if (digitsOf(r[2].value_or("")) == digitsOf(id.registration) && r[3].value_or("") == id.state) {
                company_ = r[0].value_or("");
                check_.company = company_;
                check_.companyName = r[1].value_or("");
                registration = r[2].value_or("");
            }
        if (company_.empty())
            return;
        values_ = {{"P_CDEMPRESA", Variant(company_)},
                   {"P_CDINSCESTA", Variant(registration)},
                   {"P_DTINICIAL", Variant(id.from)},
                   {"P_DTFINAL", Variant(id.to)}};

        // Each document of the books with its sums per CFOP, CST and rate,
        // as kept (in cents): the items' value, their ICMS base, tax and ST,
        // their IPI.
        long current = -1;
        Amounts sums;
        std::optional<Identity> identity;
        long number = 0;
        bool voided = false, wanted = false;
        auto flush = [&] {
            if (current >= 0 && wanted)
                books_.Add(current, number, identity, voided, sums);
        };
        eachRow(*db_,
                "SELECT N.CDNOTAFISC, N.IDENTRSAIDA, N.CDMODDOCFISC, N.CDSERIE, N.NRNOTAFISC, N.IDSITUACAO, "
                "R.CDCFOP, R.VLCONTABIL, R.VLBASECALC, R.VLIMPOSTO, R.VLIMPOSTOST, R.VLIPI, R.CDCST, R.PCALIQUOTA "
                "FROM NOTAFISCAL N LEFT JOIN RESUMOCSTNF R ON R.CDNOTAFISC = N.CDNOTAFISC" +
                    period() + "ORDER BY N.CDNOTAFISC",
                values_, [&](const std::vector<std::optional<std::string>> &r) {
                    const long doc = numberOf(r[0]);
                    if (doc != current) {
                        flush();
                        current = doc;
                        sums = {};
                        const bool exit = r[1] && *r[1] == "S";
                        const std::string &model = r[2] ? *r[2] : std::string();
                        number = numberOf(r[4]);
                        voided = r[5].value_or("N") != "N";
                        identity = identityOf(model, r[3] ? std::string_view(*r[3]) : std::string_view(), number, exit);
                        wanted = EfdRecordOfModel(model) != nullptr;
                    }
                    if (!wanted || !r[6])
                        return;
                    const Sums s{numberOf(r[7]), numberOf(r[8]), numberOf(r[9]), numberOf(r[10]), numberOf(r[11])};
                    sums.value += s.value;
                    sums.icms += s.icms;
                    sums.st += s.st;
                    sums.ipi += s.ipi;
                    if (voided)
                        return;
                    const std::string &cfop = *r[6];
                    const CfopKey side = (r[1] ? *r[1] : std::string()) + cfop;
                    booksCfops_[side].Add(s);
                    // Origin and CST; the four digits of a CSOSN are no CST to compare.
                    const std::string &cst = r[12] ? *r[12] : std::string();
                    if (cst.size() == 2 || cst.size() == 3) {
                        booksRates_[{side, cstOf(cst), numberOf(r[13])}].Add({s.value, s.base, s.icms, 0, 0});
                        anyRate_ = true;
                    } else
                        unsplit_.insert(side);
                    if (EfdDebitCfop(cfop))
                        debits_ += s.icms;
                    else if (EfdCreditCfop(cfop))
                        credits_ += s.icms;
                });
        flush();
        // The keys apart, over the range of the period's documents: the key
        // table is indexed by key alone, and a join on the document would be
        // a search of the whole table per document on an engine without hash
        // joins.
        if (!books_.All().empty()) {
            NamedValues range{{"P_PRIMEIRA", Variant(static_cast<std::int64_t>(books_.All().front().id))},
                              {"P_ULTIMA", Variant(static_cast<std::int64_t>(books_.All().back().id))}};
            eachRow(*db_, "SELECT K.CDNOTAFISC, K.CHNFE FROM NFECHAVE K WHERE K.CDNOTAFISC >= :P_PRIMEIRA AND "
                          "K.CDNOTAFISC <= :P_ULTIMA",
                    range, [&](const std::vector<std::optional<std::string>> &r) {
                        if (r[1])
                            books_.SetKey(numberOf(r[0]), *r[1]);
                    });
        }
        books_.Index();
    }

    std::string period() const
    {
        return " WHERE N.CDEMPRESA = :P_CDEMPRESA AND N.CDINSCESTA = :P_CDINSCESTA AND "
               "N.DTENTRSAIDA >= :P_DTINICIAL AND N.DTENTRSAIDA <= :P_DTFINAL ";
    }

    // One of the file's documents and the books' one it answers.
    void compare(const FileDocument &f, const BookDocuments::Document *b)
    {
        const std::string key = f.Key();
        if (b->voided != f.voided) {
            EfdFinding x = finding("Documentos", "erro", f.record, f.line, f.number, key, "", "COD_SIT");
            x.inFile = std::string(f.situation.data(), f.situation[1] ? 2 : f.situation[0] ? 1 : 0);
            x.inBooks = b->voided ? "cancelado" : "normal";
            documents_.push_back(std::move(x));
            return;
        }
        if (f.voided)
            return;
        const std::pair<const char *, std::pair<Cents, Cents>> fields[] = {{"VL_OPR", {f.sums.value, b->sums.value}},
                                                                           {"VL_ICMS", {f.sums.icms, b->sums.icms}},
                                                                           {"VL_ICMS_ST", {f.sums.st, b->sums.st}},
                                                                           {"VL_IPI", {f.sums.ipi, b->sums.ipi}}};
        for (const auto &[field, values] : fields)
            if (values.first != values.second) {
                EfdFinding x = amountFinding("Documentos", "erro", f.record, f.line, f.number, key, "", field,
                                             values.first, values.second, "");
                documents_.push_back(std::move(x));
            }
    }
    void absentFromBooks(const FileDocument &f)
    {
        EfdFinding x = finding("Documentos", "erro", f.record, f.line, f.number, f.Key(), "", "");
        x.inFile = f.voided ? "cancelado/inutilizado" : EfdMoneyText(f.sums.value);
        x.inBooks = "ausente";
        documents_.push_back(std::move(x));
    }

    // Per CST and rate under each CFOP where the books' tax rows have them;
    // a CFOP already apart as a whole is not repeated line by line.
    void perRate(const std::map<CfopKey, std::pair<Sums, Sums>> &cfops)
    {
        if (!anyRate_)
            return;
        std::map<RateKey, std::pair<Sums, Sums>> both;
        for (const auto &[k, s] : rates_)
            both[k].first = s;
        for (const auto &[k, s] : booksRates_)
            both[k].second = s;
        for (const auto &[k, p] : both) {
            const auto &[cfop, cst, rate] = k;
            auto whole = cfops.find(cfop);
            if (unsplit_.count(cfop) || (whole != cfops.end() && !(whole->second.first == whole->second.second)))
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
    EfdFinding amountFinding(const char *section, const char *severity, const std::string &record, long line,
                             long number, const std::string &key, const std::string &cfop, const std::string &field,
                             Cents file, Cents books, const std::string &booksLabel) const
    {
        EfdFinding x = finding(section, severity, record, line, number, key, cfop, field);
        x.inFile = EfdMoneyText(file);
        x.inBooks = EfdMoneyText(books) + (booksLabel.empty() ? "" : " (" + booksLabel + ")");
        x.difference = file - books;
        return x;
    }
    void add(const char *section, const char *severity, const std::string &record, long line, long number,
             const std::string &key, const std::string &cfop, const std::string &field, Cents file, Cents books,
             const std::string &booksLabel)
    {
        check_.findings.push_back(
            amountFinding(section, severity, record, line, number, key, cfop, field, file, books, booksLabel));
    }
    void addCount(const char *record, long line, const std::string &counted, const char *field, long declared, long read)
    {
        EfdFinding x = finding("Arquivo", "erro", record, line, 0, "", "", std::string(field) + (counted.empty() ? "" : " " + counted));
        x.inFile = std::to_string(declared);
        x.inBooks = std::to_string(read) + " (contados no arquivo)";
        check_.findings.push_back(std::move(x));
    }

    // C190 against its C170, per CST, CFOP and rate. A document has a few
    // groups: a short list searched in place, in the order of a map's keys.
    void itemsAgainstLines(const EfdDocument &d)
    {
        std::vector<ItemGroup> &groups = groups_;
        groups.clear();
        auto groupOf = [&](const std::string &cst, const std::string &cfop, std::int64_t rate, long line) -> ItemGroup & {
            for (ItemGroup &g : groups)
                if (g.rate == rate && *g.cst == cst && *g.cfop == cfop)
                    return g;
            groups.push_back({&cst, &cfop, rate, line, {}, {}});
            return groups.back();
        };
        for (const EfdAnalytical &a : d.lines)
            groupOf(a.cst, a.cfop, a.rate, a.line).lines.Add({0, a.base, a.icms, a.st, a.ipi});
        for (const EfdItem &it : d.items)
            groupOf(it.cst, it.cfop, it.rate, d.line).items.Add({0, it.base, it.icms, it.st, it.ipi});
        if (std::all_of(groups.begin(), groups.end(), [](const ItemGroup &g) { return g.lines == g.items; }))
            return;
        std::sort(groups.begin(), groups.end());
        for (const ItemGroup &g : groups) {
            auto compare = [&](const char *field, Cents lines, Cents items) {
                if (lines != items)
                    add("Arquivo", "erro", "C190", g.line, d.number, d.key, *g.cfop, field, lines, items,
                        "soma dos C170");
            };
            compare("VL_BC_ICMS", g.lines.base, g.items.base);
            compare("VL_ICMS", g.lines.icms, g.items.icms);
            compare("VL_ICMS_ST", g.lines.st, g.items.st);
            compare("VL_IPI", g.lines.ipi, g.items.ipi);
        }
    }

    EfdCheck &check_;
    DatabaseSession *db_;
    const std::function<bool(long)> &progress_;
    std::exception_ptr booksFailure_;
    std::string company_;                      // the books' company, once found
    NamedValues values_;                       // its registration and the file's period
    BookDocuments books_;
    std::vector<FileDocument> byIdentity_;     // the file's documents waiting for every key, in the file's order
    std::set<Identity, IdentityLess> waiting_;  // their identities: a later one of them waits behind them
    std::vector<EfdFinding> documents_;        // the Documentos section's findings of the file's documents
    std::map<CfopKey, Sums> booksCfops_;
    std::map<RateKey, Sums> booksRates_;
    std::set<CfopKey> unsplit_;                // the books' CFOPs with items of no CST, or of a CSOSN
    bool anyRate_ = false;                     // some item of the books has a CST
    Cents debits_ = 0, credits_ = 0;           // the books' ICMS debits and credits of the apuração
    std::vector<ItemGroup> groups_;            // reused from document to document
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
    Checker checker(check, books, progress);
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
    // The books could not be read: their own message, not a cancel.
    if (checker.BooksFailure())
        std::rethrow_exception(checker.BooksFailure());
    if (!seen && !failure)
        failure = path + ": arquivo vazio";
    if (failure)
        throw Exception(*failure);
    checker.Finish();
    checker.AgainstBooks();
    return check;
}
