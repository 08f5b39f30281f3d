#pragma once
// The report framework's dialog: runs a report definition (print, preview,
// save as, layout edit). Before it opens the report's query it raises
// BeforeGetQueryParams with the parameters the statement declares.
#include "data/params.h"
#include "data/session.h"
#include "report/layout.h"
#include "report/reportdef.h"
#include "report/reportui.h"
#include "rtl/classes.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

enum class ReportAction { Print, Preview, SaveAs, EditLayout };
const char *ReportActionName(ReportAction action);

using TGetQueryParamsEvent = std::function<void(TParams *, bool &)>;

struct ReportRun {
    ReportAction action = ReportAction::Preview;
    std::string title;
    std::string statement;  // the dialect's statement that declared the parameters
    TParams params;         // as the handler left them
    std::string output;     // the PDF a print or preview wrote ("" otherwise)
    std::vector<std::string> outputs;  // every file it wrote, the PDF first
    int pages = 0;
    std::size_t rows = 0;   // rows the report's query gave
    // What the pages' header names besides the title (company, period),
    // joined: "01 – Comercial Exemplo · 01/01/2026 a 31/03/2026".
    std::string subject;
};

class TReportDesignerDialog : public TComponent {
public:
    explicit TReportDesignerDialog(TComponent *owner);
    const char *ClassName() const override { return "TReportDesignerDialog"; }

    TGetQueryParamsEvent BeforeGetQueryParams;

    // Dialect whose statement variant the report runs ("oracle" by default).
    std::string Dialect = SqlDialectNameOf(SqlDialect::Oracle);
    // Runs the statement and the parameters' lookups; without one a print
    // or preview has no row.
    DatabaseSession *Database = nullptr;
    // Where prints and previews write their files; empty: a folder under
    // the system's temporary folder.
    std::string OutputDir;
    // The report code shown in the document's header.
    std::string Code;
    // How product codes show (the host's product picture).
    std::string ProductMask;
    // What a print or preview writes besides the PDF ("csv", "xlsx").
    std::vector<std::string> Formats = {"pdf"};
    // Called once the files are written, just before the PDF goes to the
    // front end (whose print dialog or preview the person then uses).
    std::function<void()> BeforeHandOver;

    // Takes the parameters from the statement, lets the handler fill them,
    // and for a print or a preview writes the report (its PDF and the other
    // formats) and hands the PDF to the front end; then records the run.
    // Returns false when the handler cancelled it or the person cancelled
    // the run's progress (nothing is then written). An error raised by the
    // handler, the query or the writer passes on, no run is recorded and no
    // file is left.
    bool Execute(ReportAction action, const ReportDefinition &report);

    // The result columns of the report's statement with the last run's
    // parameters (the statement is described, no row is read).
    std::vector<std::string> ResultColumns(const ReportDefinition &report);
    // The first page of the report drawn with `layout` and the last run's
    // parameters, as a PDF file in the output folder; raises LayoutError or
    // Exception.
    std::string RenderFirstPage(const ReportDefinition &report, const ReportLayout &layout);

    const std::optional<ReportRun> &LastRun() const { return lastRun_; }
    int RunCount() const { return runCount_; }
    // Runs of every dialog of the process, for hosts that watch whether an
    // action ran a report.
    static long TotalRunCount();

    bool SetProperty(const PropertyDesc &prop, LoadContext &ctx) override;

private:
    struct RenderOptions {
        bool firstPageOnly = false;
        std::vector<std::string> formats;
        std::string stem;                 // of the files' names; empty: code, time and a serial
        ReportExport *exportTo = nullptr;  // set to the export of the run
    };
    // Writes the report's files into the output folder; false when the
    // person cancelled.
    bool render(const ReportDefinition &report, ReportRun &run, const RenderOptions &options);

    std::optional<ReportRun> lastRun_;
    int runCount_ = 0;
};

// Whether the parameter list holds a parameter of that name.
bool ExistParam(TParams *params, const AnsiString &name);
