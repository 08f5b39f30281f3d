#pragma once
// What a front end offers the report framework: the pages shown inside the
// host, the desktop's print dialog, the layout editor and long runs the
// person may cancel. A host without a display keeps the default, which shows
// nothing and prints through the configured command.
#include "report/layout.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// One long run, from the first row to the last page. Step is called every few
// hundred rows; it returns false once the person has cancelled, and the run
// then stops and leaves no file.
class ReportProgress {
public:
    virtual ~ReportProgress() = default;
    virtual bool Step(std::size_t rowsSoFar) = 0;
};

// How an export ended: the file written, the person cancelled (nothing was
// written), or it failed and nothing was written, for `reason`.
struct ExportOutcome {
    enum class Kind { Written, Cancelled, Failed };
    Kind kind = Kind::Written;
    std::string reason;  // in Portuguese, when it failed
};

// Writes the same report again in another format ("pdf", "csv", "xlsx") at a
// path the person chose.
using ReportExport = std::function<ExportOutcome(const std::string &format, const std::string &path)>;

struct LayoutEditRequest {
    std::string title;                 // the report's title
    ReportLayout layout;               // as it stands
    std::vector<std::string> fields;   // the result columns the statement gives
    // The first page of `layout` as a PDF file for the editor's preview;
    // raises LayoutError (or Exception) when the layout cannot be used.
    std::function<std::string(const ReportLayout &)> previewFirstPage;
    // The layout the report was delivered with, when `layout` is the
    // person's edit of it; the editor offers to go back to it.
    std::optional<ReportLayout> original;
};

class ReportUi {
public:
    virtual ~ReportUi() = default;
    // Shows the pages; printing and exporting are offered from there.
    virtual void Preview(const std::string &pdfPath, const std::string &title, const ReportExport &exportTo) = 0;
    // The same, told what the pages are of (company, period) besides the
    // title, so that windows of one report tell themselves apart.
    virtual void PreviewOf(const std::string &pdfPath, const std::string &title, const std::string &subject,
                           const ReportExport &exportTo)
    {
        (void)subject;
        Preview(pdfPath, title, exportTo);
    }
    // Sends the pages to a printer; false when the person cancelled.
    virtual bool Print(const std::string &pdfPath, const std::string &title) = 0;
    // The edited layout, or nothing when the person cancelled. The caller
    // checks and saves it.
    virtual std::optional<ReportLayout> EditLayout(const LayoutEditRequest &request) = 0;
    virtual std::unique_ptr<ReportProgress> BeginProgress(const std::string &title) = 0;
    // Runs `work` (the statement and the writing) with a progress from
    // BeginProgress. A front end with windows may run it on another thread
    // and keep its windows alive meanwhile; when the person cancels before
    // the statement has given a row it calls `interrupt` (thread-safe) too.
    // Whatever `work` raises passes on.
    virtual void RunLong(const std::string &title, const std::function<void(ReportProgress &)> &work,
                         const std::function<void()> &interrupt);
    // Raises Exception with the reason when a print cannot be made, so the
    // person hears it before the report is generated. The default can always print.
    virtual void CheckPrinter() {}
};

// The interface in use; the headless default until a front end installs another.
ReportUi &ReportUserInterface();
void SetReportUserInterface(std::unique_ptr<ReportUi> ui);
