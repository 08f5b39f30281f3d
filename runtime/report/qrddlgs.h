#pragma once
// The report framework's dialog: runs a report definition (print, preview,
// save as, layout edit). Before it opens the report's query it raises
// BeforeGetQueryParams with the parameters the statement declares.
#include "data/params.h"
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
};

class TReportDesignerDialog : public TComponent {
public:
    explicit TReportDesignerDialog(TComponent *owner);
    const char *ClassName() const override { return "TReportDesignerDialog"; }

    TGetQueryParamsEvent BeforeGetQueryParams;

    // Dialect whose statement variant the report runs ("oracle" by default).
    std::string Dialect = "oracle";

    // Takes the parameters from the statement, lets the handler fill them and
    // records the run. Returns false when the handler cancelled it. An error
    // raised by the handler passes on and no run is recorded.
    bool Execute(ReportAction action, const ReportDefinition &report);

    const std::optional<ReportRun> &LastRun() const { return lastRun_; }
    int RunCount() const { return runCount_; }
    // Runs of every dialog of the process, for hosts that watch whether an
    // action ran a report.
    static long TotalRunCount();

    bool SetProperty(const PropertyDesc &prop, LoadContext &ctx) override;

private:
    std::optional<ReportRun> lastRun_;
    int runCount_ = 0;
};

// Whether the parameter list holds a parameter of that name.
bool ExistParam(TParams *params, const AnsiString &name);
