#include "report/qrddlgs.h"

#include "data/dberrors.h"
#include "report/parameters.h"
#include "report/report_output.h"
#include "report/reportui.h"
#include "rtl/atomicfile.h"
#include "rtl/streaming.h"
#include "rtl/sysutils.h"

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
std::atomic<unsigned> serial{0};

std::string twoDigits(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

std::tm localNow()
{
    const auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

std::string outputFolder(const std::string &configured)
{
    const std::filesystem::path dir =
        configured.empty() ? std::filesystem::temp_directory_path() / "fishost-reports" : std::filesystem::path(configured);
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec)
        throw Exception("Não foi possível criar a pasta de relatórios '" + dir.string() + "': " +
                        SystemErrorText(ec.value()) + ".");
    return dir.string();
}

// A code is a name, never a path.
std::string filePrefix(const std::string &code)
{
    std::string prefix = code.empty() ? std::string("relatorio") : code;
    for (char &c : prefix)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_')
            c = '_';
    return prefix;
}

NamedValues valuesOf(const TParams &params)
{
    NamedValues values;
    for (int i = 0; i < params.Count(); ++i)
        values.emplace_back(params.Items(i)->Name, params.Items(i)->AsVariant());
    return values;
}

ReportLayout layoutOf(const ReportDefinition &report)
{
    if (report.layoutJson.empty() || report.layoutJson == "{}")
        throw LayoutError("o relatório não tem layout.");
    return ParseLayout(report.layoutJson);
}

// Stops the run's statement when the person cancels before its first row.
std::function<void()> interrupter(DatabaseSession *db)
{
    return [db] {
        if (db)
            db->Interrupt();
    };
}

[[noreturn]] void failRun(const std::string &title, const std::string &reason)
{
    throw Exception("Não foi possível gerar o relatório '" + title + "': " + reason);
}
} // namespace

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
    ReportExport exportTo;
    // No printer: said now, not after a long run.
    if (action == ReportAction::Print)
        ReportUserInterface().CheckPrinter();
    if (action == ReportAction::Print || action == ReportAction::Preview) {
        RenderOptions options;
        options.formats = Formats;
        options.exportTo = &exportTo;
        if (!render(report, run, options))
            return false;
    }
    lastRun_ = std::move(run);
    ++runCount_;
    ++totalRuns;
    if ((action == ReportAction::Preview || action == ReportAction::Print) && BeforeHandOver)
        BeforeHandOver();
    if (action == ReportAction::Preview)
        ReportUserInterface().Preview(lastRun_->output, report.title, exportTo);
    else if (action == ReportAction::Print)
        ReportUserInterface().Print(lastRun_->output, report.title);
    return true;
}

bool TReportDesignerDialog::render(const ReportDefinition &report, ReportRun &run, const RenderOptions &options)
{
    ReportJob job;
    DatabaseSession *db = Database;
    const std::tm now = localNow();
    try {
        job.layout = layoutOf(report);
        job.statement = run.statement;
        job.values = valuesOf(run.params);
        job.productMask = ProductMask;
        for (const ReportSection &s : report.sections) {
            ReportJobSection part;
            part.title = s.title;
            part.layout = ParseLayout(s.layoutJson);
            part.statement = s.StatementFor(Dialect);
            // The section's statement takes the report's values it declares.
            TParams declared;
            declared.ParseSQL(part.statement);
            for (const auto &[name, value] : job.values)
                if (declared.FindParam(name))
                    part.values.emplace_back(name, value);
            job.sections.push_back(std::move(part));
        }
        job.heading.title = report.title;
        job.heading.code = Code.empty() ? report.code : Code;
        job.heading.generatedAt = twoDigits(now.tm_mday) + "/" + twoDigits(now.tm_mon + 1) + "/" +
                                  std::to_string(now.tm_year + 1900) + " " + twoDigits(now.tm_hour) + ":" +
                                  twoDigits(now.tm_min);
        ParameterLookup lookup;
        if (db)
            lookup = [db](const std::string &sql, const NamedValues &values) -> std::optional<std::string> {
                const ResultSet rs = db->Query(sql, values);
                if (rs.rows.empty() || rs.rows[0].empty())
                    return std::nullopt;
                return rs.rows[0][0];
            };
        ParameterWords words = DescribeParameters(job.layout.parameters, run.params, lookup, ProductMask);
        job.heading.header = std::move(words.header);
        job.heading.parameters = std::move(words.block);
    } catch (const Exception &e) {
        failRun(report.title, e.Message());
    }

    // One set of files per run, never one a viewer may still have open.
    const std::string dir = outputFolder(OutputDir);
    RemoveStaleTemporaries(dir);
    const std::string stem =
        filePrefix(job.heading.code) + "-" +
        (options.stem.empty()
             ? std::to_string(now.tm_year + 1900) + twoDigits(now.tm_mon + 1) + twoDigits(now.tm_mday) + "-" +
                   twoDigits(now.tm_hour) + twoDigits(now.tm_min) + twoDigits(now.tm_sec) + "-" +
                   std::to_string(::getpid()) + "-" + std::to_string(++serial)
             : options.stem);
    std::vector<ReportOutput> outputs = {{"pdf", (std::filesystem::path(dir) / (stem + ".pdf")).string()}};
    for (const std::string &f : options.formats)
        if (f != "pdf")
            outputs.push_back({f, (std::filesystem::path(dir) / (stem + "." + f)).string()});

    ReportResult result;
    try {
        ReportUserInterface().RunLong(
            report.title,
            [&](ReportProgress &progress) {
                result = WriteReport(db, job, outputs, &progress, options.firstPageOnly);
            },
            interrupter(db));
    } catch (const ReportCancelled &) {
        return false;
    } catch (const EDatabaseCancelled &) {
        return false;  // stopped in the statement, before any row
    } catch (const Exception &e) {
        failRun(report.title, e.Message());
    }
    run.rows = result.rows;
    run.pages = result.pages;
    run.output = outputs.front().path;
    for (const ReportOutput &o : outputs)
        run.outputs.push_back(o.path);

    if (options.exportTo) {
        // The same report again in another format, for the preview's export.
        const std::string title = report.title;
        *options.exportTo = [db, job, title](const std::string &format, const std::string &path) -> ExportOutcome {
            using Kind = ExportOutcome::Kind;
            try {
                const std::vector<std::string> formats = ParseReportFormats(format);
                if (formats.size() != 1)
                    return {Kind::Failed, "Formato de exportação inválido: '" + format + "'."};
                ReportUserInterface().RunLong(
                    title,
                    [&](ReportProgress &progress) { WriteReport(db, job, {{formats.front(), path}}, &progress); },
                    interrupter(db));
            } catch (const ReportCancelled &) {
                return {Kind::Cancelled, {}};
            } catch (const EDatabaseCancelled &) {
                return {Kind::Cancelled, {}};
            } catch (const Exception &e) {
                return {Kind::Failed, "Não foi possível exportar o relatório '" + title + "': " + e.Message()};
            }
            return {Kind::Written, {}};
        };
    }
    return true;
}

std::vector<std::string> TReportDesignerDialog::ResultColumns(const ReportDefinition &report)
{
    struct Describe : RowReceiver {
        std::vector<std::string> names;
        bool Columns(const std::vector<std::string> &n) override
        {
            names = n;
            return false;
        }
        bool Row(const std::vector<std::optional<std::string>> &) override { return false; }
    } describe;
    if (!Database)
        return {};
    const std::string statement = report.StatementFor(Dialect);
    TParams params;
    if (lastRun_ && lastRun_->statement == statement) {
        params = lastRun_->params;
    } else {
        params.ParseSQL(statement);
    }
    try {
        Database->QueryRows(statement, valuesOf(params), describe);
    } catch (const Exception &e) {
        failRun(report.title, e.Message());
    }
    return describe.names;
}

std::string TReportDesignerDialog::RenderFirstPage(const ReportDefinition &report, const ReportLayout &layout)
{
    ReportDefinition shown = report;
    shown.layoutJson = SerializeLayout(layout);
    ReportRun run;
    run.action = ReportAction::Preview;
    run.title = report.title;
    run.statement = report.StatementFor(Dialect);
    if (lastRun_ && lastRun_->statement == run.statement)
        run.params = lastRun_->params;
    else
        run.params.ParseSQL(run.statement);
    RenderOptions options;
    options.firstPageOnly = true;
    options.formats = {"pdf"};
    options.stem = "previa-" + std::to_string(::getpid());  // replaced by each new preview
    if (!render(shown, run, options))
        return {};
    return run.output;
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
