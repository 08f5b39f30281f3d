#include "report/qrddlgs.h"

#include "report/pdf_report.h"
#include "rtl/streaming.h"
#include "rtl/sysutils.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <cctype>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <unistd.h>

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

namespace {
std::string twoDigits(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

// A parameter as the person reads it: dates day first, NULL empty.
std::string shownValue(const Variant &v)
{
    if (v.kind() != Variant::Kind::DateTime)
        return v.asString();
    const std::string iso = v.asString();  // YYYY-MM-DD[ HH:MM:SS]
    return iso.size() >= 10 ? iso.substr(8, 2) + "/" + iso.substr(5, 2) + "/" + iso.substr(0, 4) + iso.substr(10)
                            : iso;
}

void pageFromLayout(const std::string &layoutJson, ReportDocument &doc)
{
    auto layout = nlohmann::json::parse(layoutJson.empty() ? "{}" : layoutJson, nullptr, false);
    if (!layout.is_object())
        return;
    if (auto page = layout.find("page"); page != layout.end() && page->is_string())
        doc.pageSize = page->get<std::string>();
    if (auto o = layout.find("orientation"); o != layout.end() && o->is_string())
        doc.landscape = o->get<std::string>() == "landscape";
}

std::string outputFolder(const std::string &configured)
{
    const std::filesystem::path dir =
        configured.empty() ? std::filesystem::temp_directory_path() / "fishost-reports" : std::filesystem::path(configured);
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec)
        throw Exception("Não foi possível criar a pasta de relatórios '" + dir.string() + "': " + ec.message());
    return dir.string();
}
} // namespace

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
    if (action == ReportAction::Print || action == ReportAction::Preview)
        render(report, run);
    lastRun_ = std::move(run);
    ++runCount_;
    ++totalRuns;
    return true;
}

void TReportDesignerDialog::render(const ReportDefinition &report, ReportRun &run)
{
    ReportDocument doc;
    doc.title = report.title;
    doc.code = Code.empty() ? report.code : Code;
    const auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local{};
    localtime_r(&now, &local);
    doc.generatedAt = twoDigits(local.tm_mday) + "/" + twoDigits(local.tm_mon + 1) + "/" +
                      std::to_string(local.tm_year + 1900) + " " + twoDigits(local.tm_hour) + ":" +
                      twoDigits(local.tm_min);
    pageFromLayout(report.layoutJson, doc);

    NamedValues values;
    for (int i = 0; i < run.params.Count(); ++i) {
        const TParam *p = run.params.Items(i);
        values.emplace_back(p->Name, p->AsVariant());
        doc.parameters.emplace_back(p->Name, shownValue(p->AsVariant()));
    }
    if (QueryRunner) {
        ResultSet rows;
        try {
            rows = QueryRunner(run.statement, values);
        } catch (const Exception &e) {
            throw Exception("Não foi possível gerar o relatório '" + report.title + "': " + e.Message());
        }
        doc.table.columns = std::move(rows.columns);
        doc.table.rows = std::move(rows.rows);
    }
    run.rows = doc.table.rows.size();

    // One file per run, never one a viewer may still have open.
    static std::atomic<unsigned> serial{0};
    const std::string stamp = std::to_string(local.tm_year + 1900) + twoDigits(local.tm_mon + 1) +
                              twoDigits(local.tm_mday) + "-" + twoDigits(local.tm_hour) + twoDigits(local.tm_min) +
                              twoDigits(local.tm_sec);
    std::string prefix = doc.code.empty() ? std::string("relatorio") : doc.code;
    for (char &c : prefix)  // a code is a name, never a path
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_')
            c = '_';
    const std::string file = prefix + "-" + stamp + "-" + std::to_string(::getpid()) + "-" +
                             std::to_string(++serial) + ".pdf";
    run.output = (std::filesystem::path(outputFolder(OutputDir)) / file).string();
    run.pages = WriteReportPdf(doc, run.output);
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
