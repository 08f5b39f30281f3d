#include "import/importer.h"

#include "data/sqlscript.h"
#include "host/hostconfig.h"
#include "import/nfe.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <numeric>
#include <sstream>
#include <unordered_map>
#include <unordered_set>

namespace {

using Values = ImportConnection::Values;

// Registrations compare by their letters and digits, in upper case.
std::string registrationKey(const std::string &s)
{
    std::string out;
    for (char c : s)
        if (std::isalnum(static_cast<unsigned char>(c)))
            out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

// At most `chars` characters of UTF-8 text, never cutting one in two.
std::string clip(const std::string &s, std::size_t chars)
{
    std::size_t i = 0, n = 0;
    while (i < s.size() && n < chars) {
        const auto c = static_cast<unsigned char>(s[i]);
        i += c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        ++n;
    }
    return s.substr(0, std::min(i, s.size()));
}

std::string money(Cents c) { return DecimalText(c, 2); }

// Entries under tax substitution as the substituted party: the ICMS paid
// before is no credit of the buyer, so it is booked as Outras.
bool withoutIcmsCredit(const std::string &cfop)
{
    return cfop == "1403" || cfop == "2403" || cfop == "1409" || cfop == "2409";
}

struct Registration {
    std::string company, registration, state, key;
};

struct TaxRow {
    const char *tax;  // CDIMPOSTONFE
    Cents base = 0;
    std::int64_t rate = 0;
    Cents value = 0, exempt = 0, other = 0, stBase = 0, stValue = 0;
};

// The ICMS columns of one booked item: base, rate and tax as the document
// states them, the ST apart, and what remains of the item's value (less its
// IPI and ST) as exempt or other according to the situation.
TaxRow icmsRow(const NfeIcms &icms, Cents value, Cents ipi, bool noCredit)
{
    TaxRow r{"01"};
    r.stBase = icms.stBase;
    r.stValue = icms.stTax;
    const Cents operation = std::max<Cents>(0, value - ipi - icms.stTax);
    if (noCredit) {
        r.other = operation;
        return r;
    }
    r.base = icms.base;
    r.rate = icms.rate;
    r.value = icms.tax;
    const Cents rest = std::max<Cents>(0, operation - icms.base);
    const std::string cst = icms.cst.size() == 2 ? icms.cst : "";
    if (cst == "30" || cst == "40" || cst == "41" || cst == "20" || cst == "70")
        r.exempt = rest;
    else
        r.other = rest;
    return r;
}

class Booker {
public:
    Booker(ImportConnection &db, ImportReport &report) : db_(db), report_(report)
    {
        for (const Values &row : db_.Select(db_.Prepare("SELECT CDEMPRESA, CDINSCESTA, SGESTADO FROM INSCRESTAD"), {}))
            if (row[0] && row[1])
                registrations_.push_back({*row[0], *row[1], row[2].value_or(""), registrationKey(*row[1])});
        for (const Values &row : db_.Select(db_.Prepare("SELECT CDEMPRESA, CDINSCMUNI FROM INSCRMUNICIP"), {}))
            if (row[0] && row[1])
                municipal_.insert(*row[0] + '\x1f' + registrationKey(*row[1]));
        for (const Values &row :
             db_.Select(db_.Prepare("SELECT CDCFOPSAIDA, CDCFOPENTRADA FROM CFOPCONVERSAO"), {}))
            if (row[0] && row[1])
                conversions_[*row[0]] = *row[1];
        auto group = db_.Select(db_.Prepare("SELECT CDARVPROD, NMGRUPO FROM NFEGRUPOPRODUTO ORDER BY CDARVPROD"), {});
        if (!group.empty() && group[0][0]) {
            group_ = *group[0][0];
            groupName_ = group[0][1].value_or(group_);
        }
        auto maxDoc = db_.Select(db_.Prepare("SELECT CAST(MAX(CDNOTAFISC) AS VARCHAR(20)) FROM NOTAFISCAL"), {});
        nextDocument_ = maxDoc[0][0] ? std::stoll(*maxDoc[0][0]) + 1 : 1;
        const std::string numericCodes = db_.Engine() == "sqlite" ? "CDPRODUTO NOT GLOB '*[^0-9]*' AND CDPRODUTO <> ''"
                                                                  : "CDPRODUTO SIMILAR TO '[0-9]+'";
        auto maxProduct = db_.Select(
            db_.Prepare("SELECT CAST(MAX(CAST(CDPRODUTO AS BIGINT)) AS VARCHAR(20)) FROM PRODUTO WHERE " + numericCodes), {});
        nextProduct_ = maxProduct[0][0] ? std::stoll(*maxProduct[0][0]) + 1 : 1;
        auto maxLeaf = db_.Select(db_.Prepare("SELECT MAX(CDARVPROD) FROM PRODUTO WHERE CDARVPROD LIKE ? AND CDNVPRODUTO = '3'"),
                                  {group_ + ".%"});
        if (maxLeaf[0][0]) {
            const std::string &leaf = *maxLeaf[0][0];  // GG.SS.NNNN
            const std::size_t at = group_.size() + 1;
            try {
                nextLeaf_ = std::stol(leaf.substr(at, 2)) * 10000 + std::stol(leaf.substr(at + 3)) + 1;
            } catch (const std::exception &) {
            }
        }

        selKey_ = db_.Prepare("SELECT CAST(CDNOTAFISC AS VARCHAR(20)), IDCANCELADA FROM NFECHAVE WHERE CHNFE = ?");
        insKey_ = db_.Prepare("INSERT INTO NFECHAVE (CHNFE, CDNOTAFISC, IDCANCELADA) VALUES (?, ?, ?)");
        updKey_ = db_.Prepare("UPDATE NFECHAVE SET CDNOTAFISC = ?, IDCANCELADA = ? WHERE CHNFE = ?");
        cancelDoc_ = db_.Prepare("UPDATE NOTAFISCAL SET IDSITUACAO = 'C' WHERE CDNOTAFISC = ?");
        insDoc_ = db_.Prepare(
            "INSERT INTO NOTAFISCAL (CDNOTAFISC, CDEMPRESA, CDFILIAL, IDENTRSAIDA, CDSERIE, NRNOTAFISC, CDMODDOCFISC, "
            "CDTIPOOPER, DTEMISSAO, DTENTRSAIDA, CDINSCESTA, CDINSCMUNI, NMPARTICIPANTE, SGUF, IDSITUACAO) "
            "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
        insItem_ = db_.Prepare("INSERT INTO ITEMNOTAFISC (CDNOTAFISC, NRITEM, CDPRODUTO, CDCFOP, QTITEM, VLUNITARIO, "
                               "VLCONTABIL) VALUES (?, ?, ?, ?, ?, ?, ?)");
        insTax_ = db_.Prepare("INSERT INTO IMPOSTOITEMNF (CDNOTAFISC, NRITEM, CDIMPOSTONFE, VLBASECALC, PCALIQUOTA, "
                              "VLIMPOSTO, VLISENTO, VLOUTROS, VLBASEST, VLIMPOSTOST) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
        selLink_ = db_.Prepare("SELECT CDPRODUTO FROM PRODUTOPARTIC WHERE NRDOCPARTIC = ? AND CDPRODPARTIC = ?");
        insLink_ = db_.Prepare("INSERT INTO PRODUTOPARTIC (NRDOCPARTIC, CDPRODPARTIC, CDPRODUTO) VALUES (?, ?, ?)");
        selLeafByTree_ = db_.Prepare("SELECT CDPRODUTO FROM PRODUTO WHERE CDARVPROD = ? AND CDNVPRODUTO = '3'");
        selLeafByCode_ = db_.Prepare("SELECT CDPRODUTO FROM PRODUTO WHERE CDPRODUTO = ? AND CDNVPRODUTO = '3'");
        selTree_ = db_.Prepare("SELECT CDPRODUTO FROM PRODUTO WHERE CDARVPROD = ?");
        insProduct_ = db_.Prepare("INSERT INTO PRODUTO (CDPRODUTO, CDARVPROD, NMPRODUTO, CDNVPRODUTO) VALUES (?, ?, ?, ?)");
    }

    void Document(const std::string &file, const NfeDocument &d)
    {
        std::vector<const Registration *> issuer = match(d.issuer), recipient;
        if (d.recipient)
            recipient = match(*d.recipient);
        auto describe = [&] {
            std::string s = "emitente IE " + (d.issuer.registration.empty() ? "(nenhuma)" : d.issuer.registration) + "/" +
                            d.issuer.state;
            if (d.recipient)
                s += ", destinatário IE " +
                     (d.recipient->registration.empty() ? "(nenhuma)" : d.recipient->registration) + "/" +
                     d.recipient->state;
            return s;
        };
        if (issuer.empty() && recipient.empty())
            return refuse(file, "emit/IE", "documento de nenhuma empresa cadastrada (" + describe() + ")");
        if (issuer.size() + recipient.size() > 1)
            return refuse(file, "emit/IE", "documento de mais de uma inscrição cadastrada (" + describe() + ")");
        const bool issued = !issuer.empty();
        const Registration &reg = issued ? *issuer[0] : *recipient[0];
        if (!issued && d.type == 0)
            return refuse(file, "ide/tpNF", "nota de entrada emitida por terceiro: a operação é registrada por quem a emitiu");
        const char side = issued && d.type == 1 ? 'S' : 'E';

        // Items: CFOP as booked, Valor Contábil, the document's total kept.
        std::vector<std::string> cfops;
        std::vector<Cents> values;
        for (const NfeItem &it : d.items) {
            std::string cfop = it.cfop;
            const bool entryCode = cfop[0] <= '3';
            if (issued ? entryCode != (side == 'E') : entryCode)
                return refuse(file, "det[" + std::to_string(it.number) + "]/prod/CFOP",
                              "CFOP " + cfop + (entryCode ? " de entrada em documento de saída" : " de saída em documento de entrada"));
            if (!issued)
                cfop = entryCfop(cfop);
            cfops.push_back(cfop);
            values.push_back(it.AccountingValue());
        }
        const Cents itemsTotal = std::accumulate(values.begin(), values.end(), Cents(0));
        if (itemsTotal != d.total) {
            std::vector<Cents> shares;
            SpreadDifference(d.total - itemsTotal, values, shares);
            for (std::size_t i = 0; i < values.size(); ++i)
                values[i] += shares[i];
        }

        const auto present = db_.Select(selKey_, {d.key});
        if (!present.empty() && present[0][0]) {
            ++report_.alreadyPresent;
            return;
        }
        const bool cancelled = !present.empty() && present[0][1] == std::optional<std::string>("S");

        const Snapshot before = snapshot();
        db_.Mark();
        try {
            const std::string id = std::to_string(nextDocument_++);
            std::optional<std::string> municipal;
            if (issued && !d.issuer.municipalRegistration.empty() &&
                municipal_.count(reg.company + '\x1f' + registrationKey(d.issuer.municipalRegistration)))
                municipal = d.issuer.municipalRegistration;
            std::string name, state;
            if (!issued) {
                name = d.issuer.name;
                state = d.issuer.state;
            } else if (d.recipient) {
                name = d.recipient->name;
                state = d.recipient->state.empty() ? reg.state : d.recipient->state;
            } else {
                name = "Consumidor não identificado";
                state = reg.state;
            }
            db_.Run(insDoc_, {id, reg.company, std::nullopt, std::string(1, side), clip(d.series, 5),
                              std::to_string(d.number), d.model, d.purpose == 4 ? "02" : "01", d.issueDate, d.moveDate,
                              reg.registration, municipal, name.empty() ? std::nullopt : std::optional(clip(name, 60)),
                              clip(state, 2), cancelled ? "C" : "N"});
            std::vector<Values> itemRows, taxRows;
            for (std::size_t i = 0; i < d.items.size(); ++i) {
                const NfeItem &it = d.items[i];
                const std::string item = std::to_string(i + 1);
                itemRows.push_back({id, item, product(d, it, issued), cfops[i], DecimalText(it.quantity, 3),
                                    money(it.unitValue), money(values[i])});
                const Cents ipi = it.ipi ? it.ipi->tax : 0;
                const Cents st = it.icms ? it.icms->stTax : 0;
                if (it.icms)
                    taxRows.push_back(tax(id, item, icmsRow(*it.icms, values[i], ipi, side == 'E' && withoutIcmsCredit(cfops[i]))));
                if (it.ipi) {
                    TaxRow r{"03"};
                    if (it.ipi->taxed) {
                        r.base = it.ipi->base;
                        r.rate = it.ipi->rate;
                        r.value = it.ipi->tax;
                        r.other = std::max<Cents>(0, values[i] - st - it.ipi->tax - it.ipi->base);
                    } else {
                        r.exempt = std::max<Cents>(0, values[i] - st);
                    }
                    taxRows.push_back(tax(id, item, r));
                }
                if (it.iss) {
                    TaxRow r{"02"};
                    r.base = it.iss->base;
                    r.rate = it.iss->rate;
                    r.value = it.iss->tax;
                    r.other = std::max<Cents>(0, values[i] - it.iss->base);
                    taxRows.push_back(tax(id, item, r));
                }
            }
            // Tax rows first: the kept CFOP summary then sums each item once,
            // when the item arrives with its rows already there.
            db_.RunMany(insTax_, taxRows);
            db_.RunMany(insItem_, itemRows);
            if (present.empty())
                db_.Run(insKey_, {d.key, id, "N"});
            else
                db_.Run(updKey_, {id, "S", d.key});
            db_.Release();
        } catch (const std::exception &e) {
            db_.Undo();
            restore(before);
            return refuse(file, "", std::string("não foi possível gravar o documento: ") + e.what());
        }
        ++report_.imported;
        if (itemsTotal != d.total)
            report_.differences.push_back({file, d.key, d.total, itemsTotal});
        for (auto &p : pendingProducts_)
            report_.createdProducts.push_back(std::move(p));
        pendingProducts_.clear();
    }

    void Cancellation(const std::string &file, const NfeCancellation &c)
    {
        db_.Mark();
        try {
            const auto present = db_.Select(selKey_, {c.key});
            if (present.empty()) {
                db_.Run(insKey_, {c.key, std::nullopt, "S"});
                ++report_.cancelledByEvent;
            } else if (present[0][1] == std::optional<std::string>("S")) {
                ++report_.alreadyPresent;
            } else {
                db_.Run(cancelDoc_, {present[0][0]});
                db_.Run(updKey_, {present[0][0], "S", c.key});
                ++report_.cancelledByEvent;
            }
            db_.Release();
        } catch (const std::exception &e) {
            db_.Undo();
            refuse(file, "", std::string("não foi possível gravar o cancelamento: ") + e.what());
        }
    }

    void refuse(const std::string &file, const std::string &field, const std::string &reason)
    {
        report_.refused.push_back({file, field, reason});
    }

private:
    struct Snapshot {
        long long product, leaf;
        bool groupReady;
        std::size_t links;
    };
    Snapshot snapshot() const { return {nextProduct_, nextLeaf_, groupReady_, newLinks_.size()}; }
    void restore(const Snapshot &s)
    {
        nextProduct_ = s.product;
        nextLeaf_ = s.leaf;
        groupReady_ = s.groupReady;
        for (std::size_t i = s.links; i < newLinks_.size(); ++i)
            links_.erase(newLinks_[i]);
        newLinks_.resize(s.links);
        pendingProducts_.clear();
    }

    std::vector<const Registration *> match(const NfeParty &p) const
    {
        std::vector<const Registration *> out;
        const std::string key = registrationKey(p.registration);
        if (key.empty() || key == "ISENTO")
            return out;
        for (const Registration &r : registrations_)
            if (r.key == key && r.state == p.state)
                out.push_back(&r);
        return out;
    }

    std::string entryCfop(const std::string &exit) const
    {
        if (auto it = conversions_.find(exit); it != conversions_.end())
            return it->second;
        return std::string(1, static_cast<char>(exit[0] - 4)) + exit.substr(1);
    }

    static Values tax(const std::string &id, const std::string &item, const TaxRow &r)
    {
        return {id, item, r.tax, money(r.base), DecimalText(r.rate, 2), money(r.value), money(r.exempt),
                money(r.other), money(r.stBase), money(r.stValue)};
    }

    // The company's product for an item: through the issuer's link, else (a
    // document the company issued) its own code, else a new product.
    std::string product(const NfeDocument &d, const NfeItem &it, bool issued)
    {
        const std::string participant = registrationKey(d.issuer.document);
        const std::string linkKey = participant + '\x1f' + it.code;
        if (auto cached = links_.find(linkKey); cached != links_.end())
            return cached->second;
        auto rows = db_.Select(selLink_, {participant, it.code});
        if (rows.empty() && issued) {
            rows = db_.Select(selLeafByTree_, {it.code});
            if (rows.empty())
                rows = db_.Select(selLeafByCode_, {it.code});
        }
        if (!rows.empty() && rows[0][0]) {
            links_[linkKey] = *rows[0][0];
            newLinks_.push_back(linkKey);
            return *rows[0][0];
        }
        ensureGroup();
        const long long subgroup = nextLeaf_ / 10000, leaf = nextLeaf_ % 10000;
        if (subgroup > 99)
            throw EDatabaseError("o grupo de produtos importados (" + group_ + ") está cheio");
        char tree[64];
        std::snprintf(tree, sizeof tree, "%s.%02lld", group_.c_str(), subgroup);
        const std::string subgroupCode = tree;
        if (db_.Select(selTree_, {subgroupCode}).empty())
            db_.Run(insProduct_, {std::to_string(nextProduct_++), subgroupCode, groupName_, "2"});
        std::snprintf(tree, sizeof tree, "%s.%04lld", subgroupCode.c_str(), leaf);
        const std::string code = std::to_string(nextProduct_++);
        const std::string name = clip(it.name, 50);
        db_.Run(insProduct_, {code, std::string(tree), name, "3"});
        db_.Run(insLink_, {participant, clip(it.code, 60), code});
        ++nextLeaf_;
        if (nextLeaf_ % 10000 == 0)
            ++nextLeaf_;  // leaf 0000 is never used
        links_[linkKey] = code;
        newLinks_.push_back(linkKey);
        pendingProducts_.push_back({code, tree, name, d.issuer.document, it.code});
        return code;
    }

    void ensureGroup()
    {
        if (groupReady_)
            return;
        if (db_.Select(selTree_, {group_}).empty())
            db_.Run(insProduct_, {std::to_string(nextProduct_++), group_, groupName_, "1"});
        groupReady_ = true;
    }

    ImportConnection &db_;
    ImportReport &report_;
    std::vector<Registration> registrations_;
    std::unordered_map<std::string, std::string> conversions_;
    std::unordered_map<std::string, std::string> links_;
    std::vector<std::string> newLinks_;
    std::vector<ImportedProduct> pendingProducts_;
    std::unordered_set<std::string> municipal_;
    std::string group_ = "99", groupName_ = "Produtos importados de NF-e";
    bool groupReady_ = false;
    long long nextDocument_ = 1, nextProduct_ = 1, nextLeaf_ = 10001;
    int selKey_ = 0, insKey_ = 0, updKey_ = 0, cancelDoc_ = 0, insDoc_ = 0, insItem_ = 0, insTax_ = 0, selLink_ = 0,
        insLink_ = 0, selLeafByTree_ = 0, selLeafByCode_ = 0, selTree_ = 0, insProduct_ = 0;
};

} // namespace

void EnsureImportTables(ImportConnection &db)
{
    if (db.HasTable("NFECHAVE"))
        return;
    if (db.Engine() != "sqlite")
        throw EDatabaseError("O banco de dados não tem as tabelas da importação de NF-e; "
                             "rode scripts/firebird-create-db.sh --login-only.");
    const std::string path = DefaultImportFixturePath();
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw EDatabaseError("Arquivo das tabelas da importação não encontrado: " + path);
    std::stringstream script;
    script << in.rdbuf();
    db.Begin();
    try {
        for (const std::string &statement : SplitSqlScript(script.str()))
            db.Execute(statement);
        db.Commit();
    } catch (...) {
        db.Rollback();
        throw;
    }
}

// Documents after which the planner's statistics are worth refreshing.
constexpr long kStatisticsAfter = 1000;

ImportReport ImportNfeFiles(ImportConnection &db, const std::vector<std::string> &paths, const ImportOptions &options)
{
    EnsureImportTables(db);
    ImportReport report;
    Booker booker(db, report);
    const std::vector<SourceFile> files = ListSources(paths);
    ImportProgress progress;
    progress.filesTotal = files.size();
    const int perCommit = std::max(1, options.documentsPerCommit);
    int pending = 0;
    db.Begin();
    try {
        for (const SourceFile &file : files) {
            const bool go = ReadSource(file, options.limits, [&](const SourceText &t) {
                if (!t.problem.empty()) {
                    booker.refuse(t.name, "", t.problem);
                } else {
                    const NfeContent content = ReadNfe(t.text.data(), t.text.size());
                    if (auto *d = std::get_if<NfeDocument>(&content))
                        booker.Document(t.name, *d);
                    else if (auto *c = std::get_if<NfeCancellation>(&content))
                        booker.Cancellation(t.name, *c);
                    else if (std::holds_alternative<NfeOtherEvent>(content))
                        ++report.eventsIgnored;
                    else {
                        const auto &r = std::get<NfeRefusal>(content);
                        booker.refuse(t.name, r.field, r.reason);
                    }
                }
                ++progress.documents;
                if (++pending >= perCommit) {
                    db.Commit();
                    db.Begin();
                    pending = 0;
                }
                if (options.progress && !options.progress(progress)) {
                    report.cancelled = true;
                    return false;
                }
                return true;
            });
            ++progress.files;
            if (!go)
                break;
        }
        db.Commit();
    } catch (...) {
        db.Rollback();
        throw;
    }
    if (report.imported >= kStatisticsAfter)
        db.RefreshStatistics();
    if (options.progress && !report.cancelled)
        options.progress(progress);
    return report;
}

void RegisterCompany(ImportConnection &db, const CompanyRegistration &c)
{
    auto bad = [](const std::string &why) { throw Exception(why); };
    if (c.code.empty() || c.code.size() > 2)
        bad("O código da empresa tem 1 ou 2 caracteres.");
    if (Trim(c.name).empty())
        bad("Informe o nome da empresa.");
    const std::string key = registrationKey(c.registration);
    if (key.empty() || key == "ISENTO" || key.size() > 16)
        bad("Inscrição estadual inválida: '" + c.registration + "'.");
    if (c.state.size() != 2 || !std::isupper(static_cast<unsigned char>(c.state[0])) ||
        !std::isupper(static_cast<unsigned char>(c.state[1])))
        bad("UF inválida: '" + c.state + "' (duas letras maiúsculas, como SP).");
    EnsureImportTables(db);
    for (const Values &row : db.Select(db.Prepare("SELECT CDEMPRESA, CDINSCESTA FROM INSCRESTAD"), {}))
        if (row[1] && registrationKey(*row[1]) == key)
            bad("A inscrição estadual " + c.registration + " já está cadastrada na empresa " + row[0].value_or("") + ".");
    db.Begin();
    try {
        if (db.Select(db.Prepare("SELECT CDEMPRESA FROM EMPRESA WHERE CDEMPRESA = ?"), {c.code}).empty())
            db.Run(db.Prepare("INSERT INTO EMPRESA (CDEMPRESA, NMEMPRESA) VALUES (?, ?)"), {c.code, clip(c.name, 40)});
        db.Run(db.Prepare("INSERT INTO INSCRESTAD (CDEMPRESA, CDINSCESTA, NRINSJURIEST, SGESTADO) VALUES (?, ?, ?, ?)"),
               {c.code, key, c.taxId.empty() ? std::nullopt : std::optional(registrationKey(c.taxId)), c.state});
        db.Commit();
    } catch (...) {
        db.Rollback();
        throw;
    }
}

std::string ImportReport::Text() const
{
    std::ostringstream out;
    auto brl = [](Cents c) {
        std::string s = DecimalText(c < 0 ? -c : c, 2);
        s[s.size() - 3] = ',';
        for (int i = static_cast<int>(s.size()) - 6; i > 0; i -= 3)
            s.insert(static_cast<std::size_t>(i), ".");
        return (c < 0 ? "-" : "") + s;
    };
    if (cancelled)
        out << "Importação interrompida pelo usuário; os documentos gravados até ali permanecem.\n";
    out << "Documentos importados: " << imported << '\n'
        << "Já presentes (nada mudou): " << alreadyPresent << '\n'
        << "Cancelamentos lidos: " << cancelledByEvent << '\n'
        << "Outros eventos ignorados: " << eventsIgnored << '\n'
        << "Recusados: " << refused.size() << '\n';
    for (const ImportRefusal &r : refused)
        out << "  " << r.file << (r.field.empty() ? "" : " [" + r.field + "]") << ": " << r.reason << '\n';
    out << "Documentos cujo total (vNF) difere da soma dos itens: " << differences.size() << '\n';
    for (const ImportDifference &d : differences)
        out << "  " << d.file << " (chave " << d.key << "): vNF " << brl(d.documentTotal) << ", itens "
            << brl(d.itemsTotal) << ", diferença " << brl(d.documentTotal - d.itemsTotal)
            << " distribuída entre os itens\n";
    out << "Produtos criados: " << createdProducts.size() << '\n';
    for (const ImportedProduct &p : createdProducts)
        out << "  " << p.treeCode << " (" << p.code << ") " << p.name << " — código " << p.theirCode << " de "
            << p.participant << '\n';
    return out.str();
}
