#pragma once
// Importing fiscal files into the host database: each file offered to the
// readers of every format (reader.h), each document read assigned to the
// registered company it belongs to, booked with the entry CFOP and the
// company's products, and written whole or not at all. The booking never
// asks which format a document came from (docs/import.md).
#include "import/amounts.h"
#include "import/connection.h"
#include "import/reader.h"
#include "import/sources.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

struct ImportProgress {
    std::size_t files = 0, filesTotal = 0;  // files (and archives) done, listed
    long documents = 0;                     // documents, events and refusals so far
};

// The day a received document is booked on: the date it entered is not the
// issuer's to give, so the person may choose.
enum class EntryDateRule { Exit, Issue, Fixed };
struct EntryDate {
    EntryDateRule rule = EntryDateRule::Exit;  // its exit date, else its issue date
    std::string day;                           // Fixed: YYYY-MM-DD, for the whole batch
};
// "exit" (saida), "issue" (emissao) or a day (YYYY-MM-DD or DD/MM/YYYY);
// nullopt for anything else.
std::optional<EntryDate> ParseEntryDate(const std::string &text);

struct ImportOptions {
    SourceLimits limits;
    // Called after every document; false cancels between documents: what
    // was written stays, nothing is half written.
    std::function<bool(const ImportProgress &)> progress;
    // Documents per transaction; each document has its own savepoint, so a
    // killed import loses at most the documents since the last commit.
    int documentsPerCommit = 1000;
    // The formats offered each file, in order; empty: DocumentReaders().
    std::vector<const DocumentReader *> readers;
    // Documents issued in the test environment are booked too (for trials);
    // otherwise they are refused: they have no fiscal value.
    bool acceptHomologation = false;
    EntryDate entryDate;
};

struct ImportRefusal {
    std::string file, field, reason;
};

struct ImportDifference {
    std::string file, key;
    Cents documentTotal = 0, itemsTotal = 0;  // vNF and what the items add up to
    std::string identity;                     // model, series and number, for a document without key
};

struct ImportedProduct {
    std::string code, treeCode, name;     // the company's new product
    std::string participant, theirCode;   // whose code it was created from
};

// What became of one file, or one entry of an archive, or one document of a
// file that holds many: every one appears once in the report's list.
enum class ImportOutcome {
    Imported,             // written (cancelled ones included)
    AlreadyPresent,       // booked before, the same: nothing changed
    ConflictingCopy,      // booked before under the same key with other content: the first kept
    Cancellation,         // a cancellation applied, or kept until its document comes
    CancellationRepeated, // a cancellation applied before
    CancellationOfNobody, // of no registered company's document: nothing written
    EventIgnored,         // another event, such as a correction letter
    Refused,
    NotFiscal,            // no reader recognises it
};
// How the report names an outcome, in Portuguese.
const char *OutcomeText(ImportOutcome outcome);

struct ImportEntry {
    std::string file;
    ImportOutcome outcome = ImportOutcome::Imported;
    std::string key, detail;  // the access key when known; what the person should know
};

// A document imported that someone should look at, or an event listed.
struct ImportNote {
    std::string file, key, detail;
};

struct ImportReport {
    long imported = 0;          // documents written (cancelled ones included)
    long alreadyPresent = 0;    // documents booked before: nothing changed
    long conflicting = 0;       // same key, other content: the first kept
    long cancelledByEvent = 0;  // cancellations applied (or kept until their document comes)
    long cancellationsRepeated = 0;  // cancellations applied before
    long cancellationsOfNobody = 0;  // of no registered company's document: nothing written
    long eventsIgnored = 0;     // other events, such as correction letters
    long adjustments = 0;       // apuração adjustments written (APURACAOAJUSTE)
    std::vector<ImportRefusal> refused;
    std::vector<ImportDifference> differences;
    std::vector<ImportNote> conflictingCopies, cancellationsNobody, withoutProtocol, otherPeriod, importTaxAdjusted;
    std::vector<ImportedProduct> createdProducts;
    std::vector<std::string> unrecognised;  // files no reader recognises: not fiscal documents
    std::vector<ImportEntry> entries;       // every file and document with its outcome, in order
    bool cancelled = false;     // the person stopped it

    // What a person reads and may save, in Portuguese.
    std::string Text() const;
    // One row per file (or document) and outcome: arquivo;resultado;chave;detalhe.
    std::string Csv() const;
};

// Imports every document the paths hold (files, folders, ZIP archives).
// Raises EDatabaseError only when the database cannot be used at all; a
// document's own faults are refusals in the report.
ImportReport ImportFiles(ImportConnection &db, const std::vector<std::string> &paths, const ImportOptions &options = {});

// Registers a company and its state registration once, so that documents
// issued or received under that registration are imported for it. A code
// or registration already present is refused.
struct CompanyRegistration {
    std::string code;          // CDEMPRESA, up to 2 characters
    std::string name;
    std::string registration;  // IE as the documents carry it
    std::string state;         // UF
    std::string taxId;         // CNPJ, optional
    std::string activity;      // CompanyActivities()' letter, optional
    std::string branch;        // CDFILIAL the registration is of, optional
};
void RegisterCompany(ImportConnection &db, const CompanyRegistration &company);

// Adds the import's tables and shipped rows where the database lacks them
// (SQLite); on Firebird they come with the setup script.
void EnsureImportTables(ImportConnection &db);
