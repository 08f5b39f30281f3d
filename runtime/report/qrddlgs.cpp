#include "report/qrddlgs.h"

#include "rtl/streaming.h"

// Property names compare by length first.
using namespace std::string_view_literals;

const char *ReportActionName(ReportAction action)
{
    switch (action) {
    case ReportAction::Print: return "print";
    case ReportAction::Preview: return "preview";
    case ReportAction::SaveAs: return "save as";
    case ReportAction::EditLayout: return "edit layout";
    }
    return "?";
}

namespace {
long totalRuns = 0;
}

long TReportDesignerDialog::TotalRunCount() { return totalRuns; }

TReportDesignerDialog::TReportDesignerDialog(TComponent *owner) : TComponent(owner) {}

bool TReportDesignerDialog::Execute(ReportAction action, const ReportDefinition &report)
{
    ReportRun run;
    run.action = action;
    run.title = report.title;
    run.statement = report.StatementFor(Dialect);
    run.params.ParseSQL(run.statement);
    bool proceed = true;
    if (BeforeGetQueryParams)
        BeforeGetQueryParams(&run.params, proceed);
    if (!proceed)
        return false;
    lastRun_ = std::move(run);
    ++runCount_;
    ++totalRuns;
    return true;
}

bool TReportDesignerDialog::SetProperty(const PropertyDesc &p, LoadContext &ctx)
{
    if (p.name == "BeforeGetQueryParams"sv) {
        ctx.BindEvent(*this, p, BeforeGetQueryParams);
        return true;
    }
    return TComponent::SetProperty(p, ctx);
}

bool ExistParam(TParams *params, const AnsiString &name) { return params && params->FindParam(name) != nullptr; }
