#pragma once
// A report's rows for other programs. CSV: one line per detail row with the
// text of its groups first, ";" between fields, decimal comma, UTF-8 with a
// byte-order mark (what spreadsheets of the Brazilian locale open as is).
// XLSX: the report as a sheet, with its groups and totals; amounts are
// numbers under a number format, written as their exact decimal text, dates
// are dates. Both are written row by row as the statement gives them.
#include "report/bands.h"
#include "rtl/atomicfile.h"

#include <memory>

class CsvReportSink : public ReportSink {
public:
    explicit CsvReportSink(AtomicFile &file);
    ~CsvReportSink() override;
    void Begin(const ReportHeading &heading, const ReportLayout &layout, const std::vector<BandColumn> &columns,
               const std::vector<BandGroup> &groups) override;
    void GroupHeader(std::size_t, const std::string &) override {}
    void Detail(const std::vector<BandCell> &cells, const std::vector<std::string> &keys) override;
    void GroupFooter(std::size_t, const std::string &, const std::vector<BandTotal> &) override {}
    void Summary(const std::string &, const std::vector<BandTotal> &) override {}
    void Empty(const std::string &) override {}
    // A CSV is one table: the body's; a section is left to the other formats.
    void Section(const std::string &, const std::vector<BandColumn> &) override { inSection_ = true; }
    void Finish() override;

private:
    void field(std::string_view text, bool quoteFormula);
    void endLine();

    AtomicFile &file_;
    std::string buffer_;
    std::vector<BandColumn> columns_;
    std::vector<bool> groupColumns_;  // which group texts take a column of their own
    bool first_ = true;
    bool inSection_ = false;
};

class XlsxReportSink : public ReportSink {
public:
    explicit XlsxReportSink(AtomicFile &file);
    ~XlsxReportSink() override;
    void Begin(const ReportHeading &heading, const ReportLayout &layout, const std::vector<BandColumn> &columns,
               const std::vector<BandGroup> &groups) override;
    void GroupHeader(std::size_t level, const std::string &text) override;
    void Detail(const std::vector<BandCell> &cells, const std::vector<std::string> &keys) override;
    void GroupFooter(std::size_t level, const std::string &caption, const std::vector<BandTotal> &totals) override;
    void Summary(const std::string &caption, const std::vector<BandTotal> &totals) override;
    void Empty(const std::string &text) override;
    void Section(const std::string &title, const std::vector<BandColumn> &columns) override;
    void Finish() override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The captions of a CSV's first line, each once: a caption already used is
// told apart by its number ("Base de Cálculo (2)"), so another program can
// address every column by its name.
std::vector<std::string> UniqueCaptions(std::vector<std::string> captions);

// Text safe inside an XML document: invalid UTF-8 becomes U+FFFD and
// control characters other than tab and line breaks become spaces.
std::string XmlSafeText(std::string_view text);

// A number as a spreadsheet cell holds it: the exact decimal of `units`
// in 10^-places, without trailing zeros ("2500.5", "-10", "0.0612").
std::string SpreadsheetNumberText(long long units, int places);
