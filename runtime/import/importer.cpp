#include "import/importer.h"

#include "data/engine.h"
#include "data/sqlscript.h"
#include "host/hostconfig.h"
#include "import/booking.h"

#include <algorithm>
#include <fstream>
#include <optional>
#include <sstream>
#include <unordered_map>

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
        // A file taken whole stops at a conflict, to be read again.
        return !fileConflict_ && step();
    }

    bool Cancellation(const std::string &place, const FiscalCancellation &c) override
    {
        cancel(place, c, 0);
        return step();
    }

private:
    void cancel(const std::string &place, const FiscalCancellation &c, int attempt)
    {
        if (pendingCancels_.count(c.key)) {
            repeatedCancellation(place, c.key);
            return;
        }
        db_.Mark();
        try {
            const Repeats::Prior prior = repeats_.FindKey(c.key);
            if (!prior.keyKnown) {
                // Its document may come later in this batch; what is left at
                // the end is settled by finish().
                pendingCancels_.emplace(c.key, place);
                pendingOrder_.push_back(c.key);
            } else {
                cancelKnown(place, c.key, prior);
            }
            db_.Release();
        } catch (const EDatabaseConflict &e) {
            db_.Undo();
            if (redoAfterConflict(attempt))
                return cancel(place, c, attempt + 1);
            refuse(place, "", std::string("não foi possível gravar o cancelamento: ") + e.what());
        } catch (const std::exception &e) {
            db_.Undo();
            refuse(place, "", std::string("não foi possível gravar o cancelamento: ") + e.what());
        }
    }

    // A cancellation of a key the database knows: its document's, or one
    // kept already.
    void cancelKnown(const std::string &place, const std::string &key, const Repeats::Prior &prior)
    {
        if (prior.cancelled || !prior.document)
            return repeatedCancellation(place, key);
        writer_.Cancel(*prior.document);
        repeats_.MarkCancelled(key, *prior.document);
        ++report_.cancelledByEvent;
        entry(place, ImportOutcome::Cancellation, key, "documento já importado marcado como cancelado");
    }

public:
    bool OtherEvent(const std::string &place, const FiscalOtherEvent &e) override
    {
        ++report_.eventsIgnored;
        entry(place, ImportOutcome::EventIgnored, e.key, "evento " + e.type);
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
        fileConflict_.reset();
        atFileStart_ = report_;
        file_ = {true, reg, products_.Save()};
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
            // Nothing of the file stays, so nothing of it is said to be
            // imported; what was refused in it stays said.
            ImportReport before = atFileStart_;
            before.refused = std::move(report_.refused);
            before.cancelled = report_.cancelled;
            for (std::size_t n = atFileStart_.entries.size(); n < report_.entries.size(); ++n)
                if (report_.entries[n].outcome == ImportOutcome::Refused)
                    before.entries.push_back(std::move(report_.entries[n]));
            report_ = std::move(before);
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
        } catch (const EDatabaseConflict &e) {
            db_.Undo();
            fileConflict_ = e.what();
            return false;
        } catch (const std::exception &e) {
            db_.Undo();
            refuse(place, "", std::string("não foi possível gravar o ajuste da apuração: ") + e.what());
        }
        return goOn();
    }

    // The file taken whole stopped at a conflict with another import: what
    // it wrote was dropped (EndFile), the report is put back to where the
    // file began, and it is read again in a new transaction, which sees
    // what the other committed.
    bool FileConflicted() const { return fileConflict_.has_value(); }
    void RestartFile()
    {
        fileConflict_.reset();
        report_ = atFileStart_;
    }
    // After the last try: the file is refused whole, its place named.
    void GiveUpFile(const std::string &place)
    {
        const std::string why = fileConflict_.value_or("");
        RestartFile();
        refuse(place, "", "não foi possível gravar o arquivo: " + why + "; nada do arquivo foi importado");
    }

    // A source that cannot be read, or that failed while read.
    bool Problem(const std::string &place, const std::string &reason) { return Refusal(place, "", reason); }

    // A file no reader recognises: listed, and no document.
    bool Unrecognised(const std::string &place)
    {
        report_.unrecognised.push_back(place);
        entry(place, ImportOutcome::NotFiscal, "", "não é um documento fiscal");
        return goOn();
    }

    // The cancellations whose document never came: kept to wait for it when
    // it is a registered company's (its CNPJ in the key), else nothing is
    // written, so another company's events leave no row.
    void finish()
    {
        for (const std::string &key : pendingOrder_) {
            auto p = pendingCancels_.find(key);
            if (p == pendingCancels_.end())
                continue;
            const std::string cnpj = key.substr(6, 14);
            const bool ours = std::any_of(registrations_.begin(), registrations_.end(),
                                          [&](const Registration &r) { return r.taxId == cnpj; });
            if (!ours) {
                ++report_.cancellationsOfNobody;
                const std::string why = "cancelamento de documento de nenhuma empresa cadastrada (emitente CNPJ " + cnpj +
                                        "); nada gravado";
                report_.cancellationsNobody.push_back({p->second, key, why});
                entry(p->second, ImportOutcome::CancellationOfNobody, key, why);
                continue;
            }
            for (int attempt = 0;; ++attempt) {
                db_.Mark();
                try {
                    // Another import may have booked the document, or kept
                    // the cancellation, meanwhile.
                    if (const Repeats::Prior prior = repeats_.FindKey(key); prior.keyKnown) {
                        cancelKnown(p->second, key, prior);
                    } else {
                        repeats_.RememberCancelled(key);
                        ++report_.cancelledByEvent;
                        entry(p->second, ImportOutcome::Cancellation, key, "guardado até o documento ser importado");
                    }
                    db_.Release();
                } catch (const EDatabaseConflict &e) {
                    db_.Undo();
                    if (redoAfterConflict(attempt))
                        continue;
                    refuse(p->second, "", std::string("não foi possível gravar o cancelamento: ") + e.what());
                } catch (const std::exception &e) {
                    db_.Undo();
                    refuse(p->second, "", std::string("não foi possível gravar o cancelamento: ") + e.what());
                }
                break;
            }
        }
        pendingCancels_.clear();
        pendingOrder_.clear();
    }

private:
    void entry(const std::string &place, ImportOutcome outcome, const std::string &key, std::string detail)
    {
        report_.entries.push_back({place, outcome, key, std::move(detail)});
    }
    void repeatedCancellation(const std::string &place, const std::string &key)
    {
        ++report_.cancellationsRepeated;
        entry(place, ImportOutcome::CancellationRepeated, key, "cancelamento já aplicado antes");
    }
    void refuse(const std::string &place, const std::string &field, const std::string &reason)
    {
        report_.refused.push_back({place, field, reason});
        entry(place, ImportOutcome::Refused, "", field.empty() ? reason : field + ": " + reason);
    }
    void refuse(const std::string &place, const BookingRefusal &r)
    {
        refuse(place, reader_ ? reader_->FieldName(r.field, r.item) : std::string(), r.reason);
    }
    static std::string nameOf(const FiscalDocument &d)
    {
        return d.header.key.empty() ? IdentityText(d.header) : d.header.key;
    }

public:
    // A document another import wrote meanwhile collides with it on a key;
    // redone in a new transaction it is found booked, or books after it.
    static constexpr int kConflictRetries = 3;

private:
    // What was booked before stays, and a new transaction sees what the
    // other import committed. A file taken whole cannot be split so.
    bool redoAfterConflict(int attempt)
    {
        if (attempt >= kConflictRetries || file_.open)
            return false;
        db_.Commit();
        db_.Begin();
        pending_ = 0;
        return true;
    }

    void book(const std::string &place, const FiscalDocument &d, int attempt = 0)
    {
        if (d.header.trial && !options_.acceptHomologation)
            return refuse(place, BookingRefusal{DocumentField::Environment, 0,
                                                "emitida em ambiente de homologação, sem valor fiscal"});
        Owner owner;
        if (auto r = FindOwner(d, registrations_, owner))
            return refuse(place, *r);
        if (auto r = BookedCfops(d, owner, conversions_, cfops_))
            return refuse(place, *r);
        std::string day;
        if (auto r = BookingDate(d, owner, options_.entryDate, day))
            return refuse(place, *r);
        if (auto r = BookedValues(d, amounts_))
            return refuse(place, *r);
        BookedHeader header = HeaderOf(d, owner, municipal_);
        header.moveDate = day;
        const Repeats::Prior prior = repeats_.Find(d.header.key, header);
        if (prior.booked) {
            if (!prior.document ||
                repeats_.SameContent(*prior.document, d.items.size() + amounts_.adjustments.size(), d.total)) {
                ++report_.alreadyPresent;
                entry(place, ImportOutcome::AlreadyPresent, d.header.key, "");
            } else {
                ++report_.conflicting;
                const std::string why = "mesma chave, conteúdo diferente; mantido o documento importado antes";
                report_.conflictingCopies.push_back({place, nameOf(d), why});
                entry(place, ImportOutcome::ConflictingCopy, d.header.key, why);
            }
            return;
        }
        const auto waiting = d.header.key.empty() ? pendingCancels_.end() : pendingCancels_.find(d.header.key);
        const bool cancelledNow = waiting != pendingCancels_.end();
        const bool cancelled = prior.cancelled || cancelledNow || d.header.situation != Situation::Regular;
        header.situation = SituationCode(cancelled);

        const ProductCatalogue::Mark before = products_.Save();
        db_.Mark();
        try {
            const std::string id = writer_.Document(header);
            repeats_.Claim(d.header.key, header, id);
            for (std::size_t i = 0; i < d.items.size(); ++i) {
                const FiscalItem &it = d.items[i];
                const std::string item = std::to_string(i + 1);
                writer_.Item(id, item, products_.For(d, it, owner), cfops_[i], it, amounts_.values[i]);
                rows_.clear();
                TaxRowsOf(it, amounts_.values[i], owner.side == 'E' && WithoutIcmsCredit(cfops_[i]), rows_);
                for (const TaxRow &r : rows_)
                    writer_.Tax(id, item, r);
            }
            // The II the total leaves out: a line of its own under the
            // items' CFOP, no product of theirs and no tax.
            static const FiscalItem adjustmentLine{};
            for (std::size_t k = 0; k < amounts_.adjustments.size(); ++k)
                writer_.Item(id, std::to_string(d.items.size() + k + 1), products_.For(d, adjustmentLine, owner),
                             cfops_[amounts_.adjustments[k].item], adjustmentLine, amounts_.adjustments[k].value);
            writer_.Flush();
            repeats_.Remember(d.header.key, id, prior, cancelled);
            db_.Release();
        } catch (const EDatabaseConflict &e) {
            writer_.Discard();
            db_.Undo();
            products_.Restore(before);
            if (redoAfterConflict(attempt))
                return book(place, d, attempt + 1);
            if (file_.open) {
                fileConflict_ = e.what();
                return;
            }
            return refuse(place, "", std::string("não foi possível gravar o documento: ") + e.what());
        } catch (const std::exception &e) {
            writer_.Discard();
            db_.Undo();
            products_.Restore(before);
            return refuse(place, "", std::string("não foi possível gravar o documento: ") + e.what());
        }
        ++report_.imported;
        entry(place, ImportOutcome::Imported, d.header.key, cancelled ? "cancelado" : "");
        if (cancelledNow) {
            ++report_.cancelledByEvent;
            entry(waiting->second, ImportOutcome::Cancellation, d.header.key, "aplicado ao documento lido depois");
            pendingCancels_.erase(waiting);
        }
        if (amounts_.spread)
            report_.differences.push_back({place, d.header.key, d.total, amounts_.itemsTotal,
                                           d.header.key.empty() ? IdentityText(d.header) : std::string()});
        if (!amounts_.adjustments.empty())
            report_.importTaxAdjusted.push_back(
                {place, nameOf(d), "vNF " + DecimalText(d.total, 2) + " sem o II de " +
                                       DecimalText(amounts_.itemsTotal - d.total, 2) + ": uma linha de ajuste"});
        if (d.header.withoutAuthorisation)
            report_.withoutProtocol.push_back({place, nameOf(d), "sem protocolo de autorização"});
        if (owner.side == 'E' && day.compare(0, 7, d.header.issueDate, 0, 7) != 0)
            report_.otherPeriod.push_back({place, nameOf(d), "emissão " + d.header.issueDate + ", entrada " + day});
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
    // Cancellations read before their document: key, where read.
    std::unordered_map<std::string, std::string> pendingCancels_;
    std::vector<std::string> pendingOrder_;
    // The file being taken whole, and what to restore when it is dropped.
    struct WholeFile {
        bool open = false;
        const Registration *company = nullptr;
        ProductCatalogue::Mark products{};
    } file_;
    ImportReport atFileStart_;  // the report as the file began
    std::optional<std::string> fileConflict_;  // why the file taken whole stopped
    // Kept between documents so their memory is reused.
    std::vector<std::string> cfops_;
    BookedAmounts amounts_;
    std::vector<TaxRow> rows_;
};

} // namespace

void EnsureImportTables(ImportConnection &db)
{
    if (db.HasTable("NFECHAVE"))
        return;
    if (!AddsImportTables(db))
        throw EDatabaseError(std::string("O banco de dados não tem as tabelas da importação de NF-e; rode scripts/") +
                             db.Engine().name + "-create-db.sh --login-only.");
    const std::string path = DefaultImportFixturePath();
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw EDatabaseError("Arquivo das tabelas da importação não encontrado: " + path);
    std::stringstream script;
    script << in.rdbuf();
    db.Begin();
    try {
        // Another import may have made them while this one waited for the lock.
        if (!db.HasTable("NFECHAVE"))
            for (const std::string &statement : SplitSqlScript(script.str()))
                db.Execute(statement);
        db.Commit();
    } catch (...) {
        db.Rollback();
        throw;
    }
}

// The entry `name` of `file` read again from its start by `reader`.
static bool readAgain(const SourceFile &file, const std::string &name, const DocumentReader &reader,
                      const SourceLimits &limits, Booker &booker)
{
    bool read = false, found = false;
    ReadSource(file, limits, [&](SourceEntry &e) {
        if (found || e.name != name || !e.stream)
            return !found;
        found = true;
        read = reader.Read(*e.stream, e.name, limits, booker) &&
               (e.stream->Problem().empty() || booker.Problem(e.name, e.stream->Problem()));
        return false;
    });
    return found ? read : booker.Problem(name, "o arquivo não pôde ser lido de novo");
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
                bool read = reader->Read(*e.stream, e.name, options.limits, booker);
                for (int redo = 1; !read && booker.FileConflicted(); ++redo) {
                    if (redo > Booker::kConflictRetries) {
                        booker.GiveUpFile(e.name);
                        return true;
                    }
                    booker.RestartFile();
                    read = readAgain(file, e.name, *reader, options.limits, booker);
                }
                if (!read)
                    return false;
                return e.stream->Problem().empty() || booker.Problem(e.name, e.stream->Problem());
            });
            ++progress.files;
            if (!go)
                break;
        }
        booker.finish();
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

const char *OutcomeText(ImportOutcome outcome)
{
    switch (outcome) {
    case ImportOutcome::Imported: return "importado";
    case ImportOutcome::AlreadyPresent: return "já presente";
    case ImportOutcome::ConflictingCopy: return "mesma chave, conteúdo diferente";
    case ImportOutcome::Cancellation: return "cancelamento";
    case ImportOutcome::CancellationRepeated: return "cancelamento já aplicado";
    case ImportOutcome::CancellationOfNobody: return "cancelamento de nenhuma empresa cadastrada";
    case ImportOutcome::EventIgnored: return "evento ignorado";
    case ImportOutcome::Refused: return "recusado";
    case ImportOutcome::NotFiscal: return "não é documento fiscal";
    }
    return "";
}

namespace {


void notes(std::ostream &out, const char *title, const std::vector<ImportNote> &list)
{
    if (list.empty())
        return;
    out << title << ": " << list.size() << '\n';
    for (const ImportNote &n : list)
        out << "  " << n.file << (n.key.empty() ? "" : " (" + n.key + ")") << (n.detail.empty() ? "" : ": " + n.detail)
            << '\n';
}

// A CSV field: quoted when it holds the separator, a quote or a line break.
std::string csvField(const std::string &s)
{
    if (s.find_first_of(";\"\r\n") == std::string::npos)
        return s;
    std::string out = "\"";
    for (char c : s) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + '"';
}

} // namespace

std::string ImportReport::Text() const
{
    std::ostringstream out;
    if (cancelled)
        out << "Importação interrompida pelo usuário; os documentos gravados até ali permanecem.\n";
    out << "Documentos importados: " << imported << '\n'
        << "Já presentes (nada mudou): " << alreadyPresent << '\n';
    notes(out, "Mesma chave, conteúdo diferente (mantido o primeiro)", conflictingCopies);
    out << "Cancelamentos lidos: " << cancelledByEvent << '\n';
    if (cancellationsRepeated)
        out << "Cancelamentos já aplicados antes: " << cancellationsRepeated << '\n';
    notes(out, "Cancelamentos de documento de nenhuma empresa cadastrada (nada gravado)", cancellationsNobody);
    out << "Outros eventos ignorados: " << eventsIgnored << '\n'
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
    notes(out, "Documentos importados sem protocolo de autorização", withoutProtocol);
    notes(out, "Documentos com entrada em período diferente do da emissão", otherPeriod);
    notes(out, "Importações cujo vNF não inclui o II (linha de ajuste)", importTaxAdjusted);
    out << "Documentos cujo total (vNF) difere da soma dos itens: " << differences.size() << '\n';
    for (const ImportDifference &d : differences)
        out << "  " << d.file << " (" << (d.key.empty() ? d.identity : "chave " + d.key) << "): vNF " << BrlText(d.documentTotal) << ", itens "
            << BrlText(d.itemsTotal) << ", diferença " << BrlText(d.documentTotal - d.itemsTotal)
            << " distribuída entre os itens\n";
    out << "Produtos criados: " << createdProducts.size() << '\n';
    for (const ImportedProduct &p : createdProducts)
        out << "  " << p.treeCode << " (" << p.code << ") " << p.name
            << (p.theirCode.empty() ? "" : " — código " + p.theirCode + " de " + p.participant) << '\n';
    return out.str();
}

std::string ImportReport::Csv() const
{
    std::string out = "arquivo;resultado;chave;detalhe\r\n";
    for (const ImportEntry &e : entries)
        out += csvField(e.file) + ';' + csvField(OutcomeText(e.outcome)) + ';' + csvField(e.key) + ';' +
               csvField(e.detail) + "\r\n";
    return out;
}
