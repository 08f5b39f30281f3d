#include "import/importer.h"

#include "data/sqlscript.h"
#include "host/hostconfig.h"
#include "import/booking.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace {

// Books what the readers yield, each document in a savepoint of its own,
// and counts it for the report; commits every so many documents and asks
// the progress callback whether to go on.
class Booker : public DocumentSink {
public:
    Booker(ImportConnection &db, ImportReport &report, const ImportOptions &options, ImportProgress &progress)
        : db_(db), report_(report), options_(options), progress_(progress), registrations_(LoadRegistrations(db)),
          municipal_(LoadMunicipalRegistrations(db)), conversions_(LoadCfopConversions(db)), products_(db), repeats_(db),
          writer_(db), adjustments_(db), perCommit_(std::max(1, options.documentsPerCommit))
    {
    }

    // The reader whose documents come next: refusals name fields its way.
    void Reading(const DocumentReader &reader) { reader_ = &reader; }

    bool Document(const std::string &place, const FiscalDocument &d) override
    {
        book(place, d);
        return step();
    }

    bool Cancellation(const std::string &place, const FiscalCancellation &c) override
    {
        db_.Mark();
        try {
            const Repeats::Prior prior = repeats_.FindKey(c.key);
            if (!prior.keyKnown) {
                repeats_.RememberCancelled(c.key);
                ++report_.cancelledByEvent;
            } else if (prior.cancelled) {
                ++report_.alreadyPresent;
            } else {
                writer_.Cancel(prior.document.value_or(""));
                repeats_.MarkCancelled(c.key, prior.document.value_or(""));
                ++report_.cancelledByEvent;
            }
            db_.Release();
        } catch (const std::exception &e) {
            db_.Undo();
            refuse(place, "", std::string("não foi possível gravar o cancelamento: ") + e.what());
        }
        return step();
    }

    bool OtherEvent(const std::string &, const FiscalOtherEvent &) override
    {
        ++report_.eventsIgnored;
        return step();
    }

    bool Refusal(const std::string &place, const std::string &field, const std::string &reason) override
    {
        refuse(place, field, reason);
        return step();
    }

    bool BeginFile(const std::string &place, const FiscalParty &company) override
    {
        const Registration *reg = nullptr;
        std::string why;
        if (!FindCompany(db_, company, registrations_, reg, why)) {
            refuse(place, "0000", why + "; nada do arquivo foi importado");
            return false;
        }
        // What came before stays whatever becomes of this file.
        db_.Commit();
        db_.Begin();
        pending_ = 0;
        file_ = {true, reg, products_.Save(), report_.imported, report_.alreadyPresent, report_.adjustments,
                 report_.differences.size(), report_.createdProducts.size()};
        return true;
    }

    void EndFile(bool keep) override
    {
        if (!file_.open)
            return;
        file_.open = false;
        if (keep) {
            db_.Commit();
        } else {
            db_.Rollback();
            products_.Restore(file_.products);
            report_.imported = file_.imported;
            report_.alreadyPresent = file_.alreadyPresent;
            report_.adjustments = file_.adjustments;
            report_.differences.resize(file_.differences);
            report_.createdProducts.resize(file_.created);
        }
        db_.Begin();
        pending_ = 0;
    }

    bool Adjustment(const std::string &place, const FiscalAdjustment &a) override
    {
        if (!file_.open)
            return step();
        db_.Mark();
        try {
            if (adjustments_.Book(*file_.company, a))
                ++report_.adjustments;
            db_.Release();
        } catch (const std::exception &e) {
            db_.Undo();
            refuse(place, "", std::string("não foi possível gravar o ajuste da apuração: ") + e.what());
        }
        return goOn();
    }

    // A source that cannot be read, or that failed while read.
    bool Problem(const std::string &place, const std::string &reason) { return Refusal(place, "", reason); }

    // A file no reader recognises: listed, and no document.
    bool Unrecognised(const std::string &place)
    {
        report_.unrecognised.push_back(place);
        return goOn();
    }

private:
    void refuse(const std::string &place, const std::string &field, const std::string &reason)
    {
        report_.refused.push_back({place, field, reason});
    }
    void refuse(const std::string &place, const BookingRefusal &r)
    {
        refuse(place, reader_ ? reader_->FieldName(r.field, r.item) : std::string(), r.reason);
    }

    void book(const std::string &place, const FiscalDocument &d)
    {
        Owner owner;
        if (auto r = FindOwner(d, registrations_, owner))
            return refuse(place, *r);
        if (auto r = BookedCfops(d, owner, conversions_, cfops_))
            return refuse(place, *r);
        const Cents itemsTotal = BookedValues(d, values_);
        BookedHeader header = HeaderOf(d, owner, municipal_);
        const Repeats::Prior prior = repeats_.Find(d.header.key, header);
        if (prior.booked) {
            ++report_.alreadyPresent;
            return;
        }
        const bool cancelled = prior.cancelled || d.header.situation != Situation::Regular;
        header.situation = SituationCode(cancelled);

        const ProductCatalogue::Mark before = products_.Save();
        db_.Mark();
        try {
            const std::string id = writer_.Document(header);
            for (std::size_t i = 0; i < d.items.size(); ++i) {
                const FiscalItem &it = d.items[i];
                const std::string item = std::to_string(i + 1);
                writer_.Item(id, item, products_.For(d, it, owner), cfops_[i], it, values_[i]);
                rows_.clear();
                TaxRowsOf(it, values_[i], owner.side == 'E' && WithoutIcmsCredit(cfops_[i]), rows_);
                for (const TaxRow &r : rows_)
                    writer_.Tax(id, item, r);
            }
            writer_.Flush();
            repeats_.Remember(d.header.key, id, prior, cancelled);
            db_.Release();
        } catch (const std::exception &e) {
            writer_.Discard();
            db_.Undo();
            products_.Restore(before);
            return refuse(place, "", std::string("não foi possível gravar o documento: ") + e.what());
        }
        ++report_.imported;
        if (itemsTotal != d.total)
            report_.differences.push_back(
                {place, d.header.key, d.total, itemsTotal, d.header.key.empty() ? IdentityText(d.header) : std::string()});
        for (ImportedProduct &p : products_.TakeCreated())
            report_.createdProducts.push_back(std::move(p));
    }

    // After each document, event or refusal.
    bool step()
    {
        ++progress_.documents;
        if (++pending_ >= perCommit_ && !file_.open) {
            db_.Commit();
            db_.Begin();
            pending_ = 0;
        }
        return goOn();
    }
    bool goOn()
    {
        if (options_.progress && !options_.progress(progress_)) {
            report_.cancelled = true;
            return false;
        }
        return true;
    }

    ImportConnection &db_;
    ImportReport &report_;
    const ImportOptions &options_;
    ImportProgress &progress_;
    const DocumentReader *reader_ = nullptr;
    std::vector<Registration> registrations_;
    MunicipalRegistrations municipal_;
    CfopConversions conversions_;
    ProductCatalogue products_;
    Repeats repeats_;
    DocumentWriter writer_;
    ApuracaoAdjustments adjustments_;
    int perCommit_, pending_ = 0;
    // The file being taken whole, and what to restore when it is dropped.
    struct WholeFile {
        bool open = false;
        const Registration *company = nullptr;
        ProductCatalogue::Mark products{};
        long imported = 0, alreadyPresent = 0, adjustments = 0;
        std::size_t differences = 0, created = 0;
    } file_;
    // Kept between documents so their memory is reused.
    std::vector<std::string> cfops_;
    std::vector<Cents> values_;
    std::vector<TaxRow> rows_;
};

} // namespace

void EnsureImportTables(ImportConnection &db)
{
    if (db.HasTable("NFECHAVE"))
        return;
    if (!AddsImportTables(db))
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

ImportReport ImportFiles(ImportConnection &db, const std::vector<std::string> &paths, const ImportOptions &options)
{
    EnsureImportTables(db);
    ImportReport report;
    const std::vector<const DocumentReader *> &readers = options.readers.empty() ? DocumentReaders() : options.readers;
    const std::vector<SourceFile> files = ListSources(paths);
    ImportProgress progress;
    progress.filesTotal = files.size();
    Booker booker(db, report, options, progress);
    db.Begin();
    try {
        for (const SourceFile &file : files) {
            const bool go = ReadSource(file, options.limits, [&](SourceEntry &e) {
                if (!e.stream)
                    return booker.Problem(e.name, e.problem);
                const DocumentReader *reader = ReaderFor(e.stream->Head(), readers);
                if (!reader)
                    return e.stream->Problem().empty() ? booker.Unrecognised(e.name)
                                                       : booker.Problem(e.name, e.stream->Problem());
                booker.Reading(*reader);
                if (!reader->Read(*e.stream, e.name, options.limits, booker))
                    return false;
                return e.stream->Problem().empty() || booker.Problem(e.name, e.stream->Problem());
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
    if (adjustments)
        out << "Ajustes da apuração importados: " << adjustments << '\n';
    for (const ImportRefusal &r : refused)
        out << "  " << r.file << (r.field.empty() ? "" : " [" + r.field + "]") << ": " << r.reason << '\n';
    if (!unrecognised.empty()) {
        out << "Arquivos que não são documentos fiscais: " << unrecognised.size() << '\n';
        for (const std::string &name : unrecognised)
            out << "  " << name << '\n';
    }
    out << "Documentos cujo total (vNF) difere da soma dos itens: " << differences.size() << '\n';
    for (const ImportDifference &d : differences)
        out << "  " << d.file << " (" << (d.key.empty() ? d.identity : "chave " + d.key) << "): vNF " << brl(d.documentTotal) << ", itens "
            << brl(d.itemsTotal) << ", diferença " << brl(d.documentTotal - d.itemsTotal)
            << " distribuída entre os itens\n";
    out << "Produtos criados: " << createdProducts.size() << '\n';
    for (const ImportedProduct &p : createdProducts)
        out << "  " << p.treeCode << " (" << p.code << ") " << p.name
            << (p.theirCode.empty() ? "" : " — código " + p.theirCode + " de " + p.participant) << '\n';
    return out.str();
}
