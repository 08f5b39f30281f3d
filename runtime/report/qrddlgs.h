#pragma once
// The report framework's dialog: runs a report definition (print, preview,
// save as, layout edit). Before it opens the report's query it raises
// BeforeGetQueryParams with the parameters the statement declares.
#include "data/params.h"
#include "data/session.h"
#include "report/reportdef.h"
#include "rtl/classes.h"

#include <functional>
#include <optional>
#include <string>

enum class ReportAction { Print, Preview, SaveAs, EditLayout };
const char *ReportActionName(ReportAction action);

using TGetQueryParamsEvent = std::function<void(TParams *, bool &)>;

struct ReportRun {
    ReportAction action = ReportAction::Preview;
    std::string title;
    std::string statement;  // the dialect's statement that declared the parameters
    TParams params;         // as the handler left them
    std::string output;     // the PDF a print or preview wrote ("" otherwise)
    int pages = 0;
    std::size_t rows = 0;   // rows the report's query gave
};

// Runs a report's statement with its parameters (the host's database session).
using ReportQueryRunner = std::function<ResultSet(const std::string &sql, const NamedValues &params)>;

class TReportDesignerDialog : public TComponent {
public:
    explicit TReportDesignerDialog(TComponent *owner);
    const char *ClassName() const override { return "TReportDesignerDialog"; }

    TGetQueryParamsEvent BeforeGetQueryParams;

    // Dialect whose statement variant the report runs ("oracle" by default).
    std::string Dialect = "oracle";
    // Runs the statement; without one a print or preview lists no rows.
    ReportQueryRunner QueryRunner;
    // Where prints and previews write their PDF; empty: a folder under the
    // system's temporary folder.
    std::string OutputDir;
    // The report code shown in the document's header.
    std::string Code;

    // Takes the parameters from the statement, lets the handler fill them,
    // and for a print or a preview runs the statement and writes the rows as
    // a PDF; then records the run. Returns false when the handler cancelled
    // it. An error raised by the handler, the query or the writer passes on
    // and no run is recorded.
    bool Execute(ReportAction action, const ReportDefinition &report);

    const std::optional<ReportRun> &LastRun() const { return lastRun_; }
    int RunCount() const { return runCount_; }
    // Runs of every dialog of the process, for hosts that watch whether an
    // action ran a report.
    static long TotalRunCount();

    bool SetProperty(const PropertyDesc &prop, LoadContext &ctx) override;

private:
    void render(const ReportDefinition &report, ReportRun &run);

    std::optional<ReportRun> lastRun_;
    int runCount_ = 0;
};

// Whether the parameter list holds a parameter of that name.
bool ExistParam(TParams *params, const AnsiString &name);
