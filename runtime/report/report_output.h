#pragma once
// One run of a report's statement into its files: the rows stream from the
// statement through the bands to every output at once. Each file is
// written beside its target and put in place only once every output of the
// run is complete, so a run that fails or is cancelled leaves no file.
#include "data/session.h"
#include "report/bands.h"

#include <string>
#include <vector>

// A section printed after the body, from its own statement.
struct ReportJobSection {
    std::string title;
    ReportLayout layout;
    std::string statement;
    NamedValues values;  // the report's values its statement declares
};

struct ReportJob {
    ReportHeading heading;
    ReportLayout layout;
    std::string statement;
    NamedValues values;       // bound to the statement
    std::string productMask;  // how product codes show (product_picture)
    std::vector<ReportJobSection> sections;
};

struct ReportOutput {
    std::string format;  // "pdf", "csv" or "xlsx"
    std::string path;
};

struct ReportResult {
    std::size_t rows = 0;
    int pages = 0;  // of the PDF, when one was written
};

// `db` may be null: the report then has no row. `firstPageOnly` stops after
// the PDF's first page (a preview for the layout editor). Raises LayoutError
// for a layout the statement does not fit, Exception for a failed statement
// or file, ReportCancelled when `progress` says so.
ReportResult WriteReport(DatabaseSession *db, const ReportJob &job, const std::vector<ReportOutput> &outputs,
                         ReportProgress *progress, bool firstPageOnly = false);

// The formats of a list such as "pdf,csv,xlsx" (blanks and case ignored,
// each once, in the order given). Raises Exception naming an unknown one.
std::vector<std::string> ParseReportFormats(const std::string &list);
