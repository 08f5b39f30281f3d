#include "report/qrddlgs.h"

#include "data/dberrors.h"
#include "report/parameters.h"
#include "report/report_output.h"
#include "report/reportui.h"
#include "rtl/atomicfile.h"
#include "rtl/datetime.h"
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

TDateTime dayOf(const std::tm &t) { return EncodeDate(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday); }

// A section runs its own statement with the report's values it declares.
ReportJobSection sectionJob(const ReportSection &section, const std::string &dialect, const NamedValues &values)
{
    ReportJobSection part;
    part.title = section.title;
    part.layout = ParseLayout(section.layoutJson);
    part.statement = section.StatementFor(dialect);
    TParams declared;
    declared.ParseSQL(part.statement);
    for (const auto &[name, value] : values)
        if (declared.FindParam(name))
            part.values.emplace_back(name, value);
    return part;
}

// What the files say above the rows: title, code, when, and the parameters
// in words (codes named through the session's lookups, when there is one).
ReportHeading headingOf(const ReportDefinition &report, const std::string &code, const std::tm &now,
                        const ReportLayout &layout, const TParams &params, DatabaseSession *db,
                        const std::string &productMask)
{
    ReportHeading heading;
    heading.title = report.title;
    heading.code = code.empty() ? report.code : code;
    heading.generatedAt = FormatDate(dayOf(now)) + " " + twoDigits(now.tm_hour) + ":" + twoDigits(now.tm_min);
    ParameterLookup lookup;
    if (db)
        lookup = [db](const std::string &sql, const NamedValues &values) -> std::optional<std::string> {
            const ResultSet rs = db->Query(sql, values);
            if (rs.rows.empty() || rs.rows[0].empty())
                return std::nullopt;
            return rs.rows[0][0];
        };
    ParameterWords words = DescribeParameters(layout.parameters, params, lookup, productMask);
    heading.header = std::move(words.header);
    heading.parameters = std::move(words.block);
    heading.subject = std::move(words.subject);
    return heading;
}

// One set of files per run, never one a viewer may still have open: the
// PDF always, then each other format asked for.
std::vector<ReportOutput> outputsIn(const std::string &dir, const std::string &code, const std::string &stem,
                                    const std::tm &now, const std::vector<std::string> &formats)
{
    const std::string name =
        filePrefix(code) + "-" +
        (stem.empty() ? FormatDate(dayOf(now), DateFormat::Compact) + "-" + twoDigits(now.tm_hour) +
                            twoDigits(now.tm_min) + twoDigits(now.tm_sec) + "-" + std::to_string(::getpid()) + "-" +
                            std::to_string(++serial)
                      : stem);
    std::vector<ReportOutput> outputs = {{"pdf", (std::filesystem::path(dir) / (name + ".pdf")).string()}};
    for (const std::string &f : formats)
        if (f != "pdf")
            outputs.push_back({f, (std::filesystem::path(dir) / (name + "." + f)).string()});
    return outputs;
}

// Writes the files under the front end's progress; nothing when the person
// cancelled, before the first row or after.
std::optional<ReportResult> writeWithProgress(DatabaseSession *db, const ReportJob &job,
                                              const std::vector<ReportOutput> &outputs, bool firstPageOnly)
{
    ReportResult result;
    try {
        ReportUserInterface().RunLong(
            job.heading.title,
            [&](ReportProgress &progress) { result = WriteReport(db, job, outputs, &progress, firstPageOnly); },
            interrupter(db));
    } catch (const ReportCancelled &) {
        return std::nullopt;
    } catch (const EDatabaseCancelled &) {
        return std::nullopt;  // stopped in the statement, before any row
    }
    return result;
}

// The same report again in another format, for the preview's export.
ReportExport exportOf(DatabaseSession *db, ReportJob job)
{
    return [db, job = std::move(job)](const std::string &format, const std::string &path) -> ExportOutcome {
        using Kind = ExportOutcome::Kind;
        try {
            const std::vector<std::string> formats = ParseReportFormats(format);
            if (formats.size() != 1)
                return {Kind::Failed, "Formato de exportação inválido: '" + format + "'."};
            const ReadSnapshot moment(db);
            if (!writeWithProgress(db, job, {{formats.front(), path}}, false))
                return {Kind::Cancelled, {}};
        } catch (const Exception &e) {
            return {Kind::Failed, "Não foi possível exportar o relatório '" + job.heading.title + "': " + e.Message()};
        }
        return {Kind::Written, {}};
    };
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
        ReportUserInterface().PreviewOf(lastRun_->output, report.title, lastRun_->subject, exportTo);
    else if (action == ReportAction::Print)
        ReportUserInterface().Print(lastRun_->output, report.title);
    return true;
}

bool TReportDesignerDialog::render(const ReportDefinition &report, ReportRun &run, const RenderOptions &options)
{
    const std::tm now = localNow();
    ReportJob job;
    // The parameters block, the body and the sections read one moment: an
    // import committed meanwhile shows in none or in all.
    std::optional<ReadSnapshot> moment;
    try {
        moment.emplace(Database);
        job.layout = layoutOf(report);
        job.statement = run.statement;
        job.values = valuesOf(run.params);
        job.productMask = ProductMask;
        for (const ReportSection &s : report.sections)
            job.sections.push_back(sectionJob(s, Dialect, job.values));
        job.heading = headingOf(report, Code, now, job.layout, run.params, Database, ProductMask);
    } catch (const Exception &e) {
        failRun(report.title, e.Message());
    }

    const std::string dir = outputFolder(OutputDir);
    RemoveStaleTemporaries(dir);
    const std::vector<ReportOutput> outputs = outputsIn(dir, job.heading.code, options.stem, now, options.formats);
    std::optional<ReportResult> result;
    try {
        result = writeWithProgress(Database, job, outputs, options.firstPageOnly);
    } catch (const Exception &e) {
        failRun(report.title, e.Message());
    }
    moment.reset();
    if (!result)
        return false;

    run.rows = result->rows;
    run.pages = result->pages;
    run.subject = job.heading.subject;
    run.output = outputs.front().path;
    for (const ReportOutput &o : outputs)
        run.outputs.push_back(o.path);
    if (options.exportTo)
        *options.exportTo = exportOf(Database, std::move(job));
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
