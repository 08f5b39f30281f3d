#pragma once
// Demo data at scale: the reference fixture grown with generated rows. The
// fixture's own rows are never changed, and no generated key meets one of
// them.
//
// Product tree (picture 99.99.9999): leaf i goes to group i / 10000, subgroup
// (i / 100) % 100 and leaf code 0100 + i % 100, so a million leaves fill
// 100 x 100 x 100 and never meet the fixture's leaves (0001..0003, 9999).
// Groups and subgroups are added only where the tree lacks them.
//
// Extra companies take two-character codes the database does not use; each
// gets state and municipal registrations, exit series (some without a
// municipal registration, like the fixture's edge row) and branches.
//
// Fiscal documents (NOTAFISCAL, ITEMNOTAFISC, IMPOSTOITEMNF) go to the
// fixture's companies 01 and 02 (nine in ten to 01), spread evenly over one
// year under their registrations and branches, over every leaf product: a
// mix of entries and exits within the state, from other states and abroad,
// ICMS with and without ST, IPI, ISS services, cancelled documents and items
// without an ICMS row. Keys follow the largest one present.
#include "rtl/sysutils.h"

#include <optional>
#include <string>
#include <vector>

struct DatabaseEngine;
struct EngineConnection;

// A size or an option the generator cannot take; fisdemogen shows its usage again.
class EDemoArgument : public Exception { using Exception::Exception; };

constexpr long kMaxDemoProducts = 1000000;

constexpr long kMaxDemoItems = 10000000;

struct DemoSize {
    long products = 1000;  // leaves to add, 1 .. kMaxDemoProducts
    int companies = 50;    // extra companies
    long items = 0;        // document items to add, 0 .. kMaxDemoItems
    int year = 2026;       // the year the documents are booked in
};

// Companies that receive the generated documents, with their shares in ten.
struct DocumentCompany {
    const char *code;
    int share;
};
constexpr DocumentCompany kDocumentCompanies[] = {{"01", 9}, {"02", 1}};

// What each company gets.
constexpr int kStateRegistrationsPerCompany = 40;
constexpr int kMunicipalRegistrationsPerCompany = 40;
constexpr int kSeriesRowsPerStateRegistration = 2;
constexpr int kBranchesPerCompany = 20;
// Held by the extra companies only on rows without municipal registration.
constexpr const char *kSeriesWithoutMunicipalRegistration = "4";

struct DemoCounts {
    long products = 0;       // leaves added
    long productGroups = 0;  // groups and subgroups added
    long companies = 0;
    long stateRegistrations = 0;
    long municipalRegistrations = 0;
    long seriesRows = 0;
    long branches = 0;
    long documents = 0;
    long items = 0;
    long taxRows = 0;
};

struct DemoTable {
    const char *name;
    std::vector<const char *> columns;
};
using DemoRow = std::vector<std::optional<std::string>>;  // nullopt is NULL

// Where the rows go.
class DemoSink {
public:
    virtual ~DemoSink() = default;
    // Every value of one column (of the rows `where` selects, when given), so
    // generated keys stay clear of them.
    virtual std::vector<std::string> Existing(const std::string &table, const std::string &column,
                                              const std::string &where = {}) = 0;
    virtual void Insert(const DemoTable &table, const DemoRow &row) = 0;
    // After the last row: makes them durable.
    virtual void Finish() = 0;
};

// Raises EDemoArgument for sizes out of range.
void CheckDemoSize(const DemoSize &size);
// Raises EDemoArgument for sizes out of range, or more companies than
// free codes, before any row is sent.
DemoCounts GenerateDemoData(DemoSink &sink, const DemoSize &size);

// A new SQLite file holding the fixtures (in order) and the generated rows,
// written in one transaction under a temporary name and renamed into place on
// success. Refuses an existing file unless `replace`. Raises Exception.
DemoCounts BuildDemoSqlite(const std::string &path, const DemoSize &size, const std::vector<std::string> &fixturePaths,
                           bool replace = false);

// Adds the generated rows to a server's database that already holds the
// fixtures (scripts/firebird-create-db.sh) through the engine's writer, one
// prepared INSERT per table, `batchRows` rows of a table per bulk execution,
// each batch committed, then refreshes the index statistics the optimizer
// plans with. A run cut short keeps the batches committed; running again
// completes the product tree but adds a further set of companies and
// documents. Needs a login that may insert (the database's owner).
DemoCounts GrowDemoDatabase(const DatabaseEngine &engine, const EngineConnection &connection, const DemoSize &size,
                            int batchRows = 2000);
