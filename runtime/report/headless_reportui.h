#pragma once
// The report framework's front end where nothing is displayed: a preview
// lists its file (and hands it to the viewer, when the host has one), a
// print lists it and hands it to the configured print command (none: it is
// only listed), there is no layout editor and a run cannot be cancelled.
#include "report/reportui.h"

#include <functional>
#include <string>
#include <vector>

class HeadlessReportUi : public ReportUi {
public:
    explicit HeadlessReportUi(std::string printCommand = {}) : printCommand_(std::move(printCommand)) {}

    void Preview(const std::string &pdfPath, const std::string &title, const ReportExport &exportTo) override;
    // Runs the print command with the file's path as its last argument and
    // waits for it; raises Exception, naming the file, when it fails.
    bool Print(const std::string &pdfPath, const std::string &title) override;
    std::optional<ReportLayout> EditLayout(const LayoutEditRequest &) override { return std::nullopt; }
    std::unique_ptr<ReportProgress> BeginProgress(const std::string &title) override;

    void SetPrintCommand(std::string command) { printCommand_ = std::move(command); }
    void SetViewer(std::function<void(const std::string &)> viewer) { viewer_ = std::move(viewer); }
    const std::vector<std::string> &Previewed() const { return previewed_; }
    const std::vector<std::string> &Printed() const { return printed_; }

private:
    std::string printCommand_;
    std::function<void(const std::string &)> viewer_;
    std::vector<std::string> previewed_, printed_;
};

// Splits a command line into words: blanks separate them, single or double
// quotes keep blanks inside a word, a backslash takes the next character.
std::vector<std::string> SplitCommandLine(const std::string &command);
