#pragma once
// Private to the import: the booking's pieces, each with one job. The
// import (importer.cpp) strings them together for every document a reader
// yields, whatever its format: who books it, the CFOPs, the values, whether
// it is booked already, the products, the tax rows, and the writing. The
// pieces without the database are plain functions over the neutral document.
#include "import/connection.h"
#include "import/document.h"
#include "import/importer.h"
#include "import/reader.h"

#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// Registrations compare by their letters and digits, in upper case.
std::string RegistrationKey(const std::string &s);
// At most `chars` characters of UTF-8 text, never cutting one in two.
std::string ClipText(const std::string &s, std::size_t chars);

// Why the booking refuses a document: the field as the reader names it, and
// the reason in Portuguese.
struct BookingRefusal {
    DocumentField field;
    int item = 0;
    std::string reason;
};

// --- Who books the document: the one registered company whose state
// registration it carries, as issuer or as recipient.
struct Registration {
    std::string company, registration, state, key;  // key: RegistrationKey(registration)
    std::string taxId;  // CNPJ digits, when registered with one
    std::string branch; // CDFILIAL its documents are booked under, may be empty
};
struct Owner {
    const Registration *registration = nullptr;
    bool issued = false;  // the company issued it
    char side = 'E';      // IDENTRSAIDA: 'S' for the company's exits
};
std::vector<Registration> LoadRegistrations(ImportConnection &db);
std::optional<BookingRefusal> FindOwner(const FiscalDocument &d, const std::vector<Registration> &registered, Owner &owner);

// The registration a file of one company's documents belongs to: its state
// registration and UF, and its CNPJ where the registration keeps one. False
// with the reason in Portuguese when there is none.
bool FindCompany(ImportConnection &db, const FiscalParty &company, const std::vector<Registration> &registered,
                 const Registration *&found, std::string &why);
// The apuração's adjustments (APURACAOAJUSTE): one is written unless the
// month has it already (same code and value), after the month's last.
class ApuracaoAdjustments {
public:
    explicit ApuracaoAdjustments(ImportConnection &db);
    bool Book(const Registration &company, const FiscalAdjustment &a);  // true when written

private:
    ImportConnection &db_;
    int present_ = -1, last_ = -1, insert_ = -1;
};

// --- The CFOP each item is booked under. An invoice received carries the
// issuer's exit CFOPs: they become the company's entry CFOPs by the
// conversion table, else 5/6/7 become 1/2/3.
using CfopConversions = std::unordered_map<std::string, std::string>;
CfopConversions LoadCfopConversions(ImportConnection &db);
std::optional<BookingRefusal> BookedCfops(const FiscalDocument &d, const Owner &owner, const CfopConversions &conversions,
                                          std::vector<std::string> &cfops);

// --- Each item's Valor Contábil. A difference to the document's total is
// spread over the items in proportion, so they add up to it, when it is
// within kSpreadTolerance; beyond, the document is refused with both values.
// An import (CFOP 3.xxx) whose total leaves out the II keeps its items as
// stated and gets one adjustment line per CFOP of the II taken away.
struct BookedAmounts {
    std::vector<Cents> values;  // each item's, as booked
    Cents itemsTotal = 0;       // what the items added up to as stated
    bool spread = false;        // the difference went over the items
    struct Adjustment {
        std::size_t item;       // an item whose CFOP the line takes
        Cents value;            // negative: the II the total leaves out
    };
    std::vector<Adjustment> adjustments;
};
// The larger of R$ 1,00 and a quarter of the items' total.
Cents SpreadTolerance(Cents itemsTotal);
std::optional<BookingRefusal> BookedValues(const FiscalDocument &d, BookedAmounts &amounts);

// --- The day a document is booked on. The company's own documents keep
// theirs; a received one is booked by the person's rule (EntryDate).
std::optional<BookingRefusal> BookingDate(const FiscalDocument &d, const Owner &owner, const EntryDate &entry,
                                          std::string &day);

// --- The tax rows of one item (IMPOSTOITEMNF) by the books' rules: the ICMS
// row also holds the ST; what the tax's base leaves of the item's value is
// exempt or other by the situation.
struct TaxRow {
    const char *tax;  // CDIMPOSTONFE
    Cents base = 0;
    std::int64_t rate = 0;
    Cents value = 0, exempt = 0, other = 0, stBase = 0, stValue = 0;
    // CDCST: ICMS origin and CST (or CSOSN), IPI its CST; empty is NULL.
    std::string cst = {};
};
// Entries under tax substitution as the substituted party: the ICMS paid
// before is no credit of the buyer.
bool WithoutIcmsCredit(const std::string &cfop);
void TaxRowsOf(const FiscalItem &item, Cents value, bool noIcmsCredit, std::vector<TaxRow> &rows);

// --- The document's own row (NOTAFISCAL) as it will be written.
struct BookedHeader {
    std::string company, side, series, number, model, operation, issueDate, moveDate, registration;
    std::optional<std::string> municipal, participant;
    std::string state, situation;
    // The other party's CNPJ or CPF and state registration, as the books list them.
    std::optional<std::string> participantDocument, participantRegistration;
    std::optional<std::string> branch;  // the registration's
};
using MunicipalRegistrations = std::unordered_set<std::string>;  // company '\x1f' RegistrationKey(IM)
MunicipalRegistrations LoadMunicipalRegistrations(ImportConnection &db);
BookedHeader HeaderOf(const FiscalDocument &d, const Owner &owner, const MunicipalRegistrations &municipal);
// IDSITUACAO: the books keep only normal and cancelled; a denied or unused
// number is booked as cancelled, so no report counts it.
const char *SituationCode(bool cancelled);
// How the report names a document without an access key.
std::string IdentityText(const FiscalHeader &h);

// --- What is booked of a document already: by its access key when it has
// one (NFECHAVE, where a cancellation read before its document waits), else
// by model, series, number, participant and dates among the company's.
class Repeats {
public:
    explicit Repeats(ImportConnection &db);
    struct Prior {
        bool booked = false;     // the document is there: nothing changes
        bool keyKnown = false;   // its key is in NFECHAVE
        bool cancelled = false;  // a cancellation came first
        std::optional<std::string> document;  // CDNOTAFISC
    };
    Prior Find(const std::string &key, const BookedHeader &h);
    Prior FindKey(const std::string &key);
    // After writing document `id` with a key: the key is kept with it.
    void Remember(const std::string &key, const std::string &id, const Prior &prior, bool cancelled);
    // Right after writing document `id` without a key: its identity is taken
    // (NFEIDENTIDADE), so of two imports booking it at once the second waits
    // for the first and then fails with EDatabaseConflict, to be redone.
    // Nothing on a database made before that table.
    void Claim(const std::string &key, const BookedHeader &h, const std::string &id);
    // A cancellation of a key not read yet waits for its document.
    void RememberCancelled(const std::string &key);
    void MarkCancelled(const std::string &key, const std::string &id);
    // Whether booked document `id` holds `lines` item lines adding up to `total`:
    // a copy that differs changes an amount or a line.
    bool SameContent(const std::string &id, std::size_t lines, Cents total);

private:
    ImportConnection &db_;
    int selKey_, selIdentity_, insKey_, updKey_, selContent_;
    int selClaim_ = -1, delClaim_ = -1, insClaim_ = -1;  // -1: no NFEIDENTIDADE
};

// --- The company's product for each item: through the code owner's link,
// else its own product when the code is the company's, else a new product
// under the imported group, linked and listed. Items without product share
// one product of their own.
class ProductCatalogue {
public:
    explicit ProductCatalogue(ImportConnection &db);
    std::string For(const FiscalDocument &d, const FiscalItem &item, const Owner &owner);

    // What a document about to be written may change, to undo when it fails.
    struct Mark {
        bool groupReady;
        std::size_t links;
        std::string analytical;
    };
    Mark Save() const { return {groupReady_, newLinks_.size(), analytical_}; }
    void Restore(const Mark &m);
    // The products created since the last call, for the report.
    std::vector<ImportedProduct> TakeCreated();

private:
    std::string create(const std::string &name, const std::string &participant, const std::string &theirCode);
    std::string analytical();
    void ensureGroup();
    // The group's next leaf (subgroup * 10000 + leaf), from what the
    // database holds now: another import may have added some.
    long long nextLeaf();

    ImportConnection &db_;
    std::unordered_map<std::string, std::string> links_;
    std::vector<std::string> newLinks_;
    std::vector<ImportedProduct> pending_;
    std::string group_ = "99", groupName_ = "Produtos importados de NF-e", analytical_;
    bool groupReady_ = false;
    int selLink_, insLink_, selLeafByTree_, selLeafByCode_, selTree_, insProduct_, selLastLeaf_;
};

// --- The writing: the document's row, then its tax rows and its items.
class DocumentWriter {
public:
    explicit DocumentWriter(ImportConnection &db);
    // Writes the row under a new CDNOTAFISC and returns it.
    std::string Document(const BookedHeader &h);
    void Item(const std::string &id, const std::string &item, const std::string &product, const std::string &cfop,
              const FiscalItem &it, Cents value);
    void Tax(const std::string &id, const std::string &item, const TaxRow &row);
    // Writes the rows added; tax rows first, so the kept CFOP summary sums
    // each item once, when the item arrives with its rows already there.
    void Flush();
    void Discard();
    void Cancel(const std::string &id);

private:
    ImportConnection &db_;
    int insDoc_, insItem_, insTax_, cancelDoc_;
    std::vector<ImportConnection::Values> items_, taxes_;
};

// --- What the import still tells engines apart by; each becomes a question
// to the engine's descriptor.
// A condition true when `column` holds a code made only of digits.
std::string DigitsOnlyCondition(const ImportConnection &db, const std::string &column);
// Whether the import adds its own tables to a database that lacks them;
// otherwise they come with the engine's setup script.
bool AddsImportTables(const ImportConnection &db);
