#pragma once
// A report's pages as a PDF file, drawn from its layout band by band: the
// page header on every page (title, code, the header parameters, date and
// time), the parameters block under it on the first page, the column
// captions on every page, group headers and footers with their subtotals,
// the detail lines, the summary, and "Página N de M" at the foot. Pages go
// to the file as they are finished.
#include "report/bands.h"
#include "rtl/atomicfile.h"

#include <memory>
#include <string>

class PdfReportSink : public ReportSink {
public:
    // Writes into `file` (committed by the caller once the run succeeds).
    // `firstPageOnly` stops drawing after the first page, for previews of a
    // layout being edited.
    explicit PdfReportSink(AtomicFile &file, bool firstPageOnly = false);
    ~PdfReportSink() override;

    void Begin(const ReportHeading &heading, const ReportLayout &layout, const std::vector<BandColumn> &columns,
               const std::vector<BandGroup> &groups) override;
    void GroupHeader(std::size_t level, const std::string &text) override;
    void Detail(const std::vector<BandCell> &cells, const std::vector<std::string> &keys) override;
    void GroupFooter(std::size_t level, const std::string &caption, const std::vector<BandTotal> &totals) override;
    void Summary(const std::string &caption, const std::vector<BandTotal> &totals) override;
    void Empty(const std::string &text) override;
    void Section(const std::string &title, const std::vector<BandColumn> &columns) override;
    void Finish() override;

    bool Done() const override;
    int Pages() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
