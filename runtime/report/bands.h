#pragma once
// A report's rows turned into bands: group headers and footers with their
// subtotals, detail lines, the summary. The engine reads the statement's rows
// one at a time and hands each band to every output at once (PDF, CSV,
// spreadsheet), keeping nothing but the open groups and their totals.
#include "data/session.h"
#include "report/layout.h"
#include "report/reportui.h"

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// What every page header shows.
struct ReportHeading {
    std::string title;
    std::string code;         // "FIS028"
    std::string generatedAt;  // "08/12/2026 14:05"
    std::vector<std::pair<std::string, std::string>> header;      // label, value: on every page
    std::vector<std::pair<std::string, std::string>> parameters;  // label, value: the block on the first page
    std::string subject;  // what the run is of (ParameterWords::subject)
};

// A visible column as the outputs draw it.
struct BandColumn {
    std::string caption;
    double width = 60;
    ColumnAlign align = ColumnAlign::Left;
    ValueFormat format;
    ColumnTotal total = ColumnTotal::None;
    ColumnOverflow overflow = ColumnOverflow::Ellipsis;
    int places = -1;  // decimal places of a number, -1 for text
};

struct BandCell {
    std::string text;       // as shown
    bool number = false;    // `units` holds the value in 10^-places
    long long units = 0;
    bool null = false;
    std::string_view raw;   // the value as the statement gave it (dates for spreadsheets)
};

// A total under a column: a sum in the column's units, a count of rows, or none.
struct BandTotal {
    bool present = false;
    bool count = false;
    long long value = 0;
};

// A group level as the outputs label it.
struct BandGroup {
    std::string caption;  // "Entrada/Saída"
    bool shownAsColumn = false;  // a visible column shows the group's field as well
    // The captions of the texts the group gives each detail line in exports,
    // one per field its header names ("CFOP", "Descrição (CFOP)"), or its
    // caption alone; Detail's `keys` holds these texts of every group in turn.
    std::vector<std::string> fields;
};

class ReportSink {
public:
    virtual ~ReportSink() = default;
    virtual void Begin(const ReportHeading &heading, const ReportLayout &layout, const std::vector<BandColumn> &columns,
                       const std::vector<BandGroup> &groups) = 0;
    virtual void GroupHeader(std::size_t level, const std::string &text) = 0;
    // `keys`: the texts naming each open group, outermost first (see BandGroup::fields).
    virtual void Detail(const std::vector<BandCell> &cells, const std::vector<std::string> &keys) = 0;
    virtual void GroupFooter(std::size_t level, const std::string &caption, const std::vector<BandTotal> &totals) = 0;
    virtual void Summary(const std::string &caption, const std::vector<BandTotal> &totals) = 0;
    // No row at all: the layout's text for it.
    virtual void Empty(const std::string &text) = 0;
    // A section after the body (its summary written): a title and columns of
    // its own; its details, or its Empty text, follow.
    virtual void Section(const std::string &title, const std::vector<BandColumn> &columns) = 0;
    // After the last band: the output is complete.
    virtual void Finish() = 0;
    // True once the output wants no more rows (a first page drawn for a preview).
    virtual bool Done() const { return false; }
};

// The person cancelled a run through its progress.
struct ReportCancelled {};

// Receives the statement's rows and drives the sinks. Raises LayoutError
// when the layout names a field the statement does not give, Exception when
// a total outgrows what it can hold, ReportCancelled when the progress says so.
class BandEngine : public RowReceiver {
public:
    // With a `section` title the rows make a section of outputs already begun.
    BandEngine(ReportHeading heading, ReportLayout layout, std::string productMask, std::vector<ReportSink *> sinks,
               ReportProgress *progress, std::string section = {});
    ~BandEngine() override;

    bool Columns(const std::vector<std::string> &names) override;
    bool Row(const std::vector<std::optional<std::string>> &cells) override;
    // After the last row: closes the groups, writes the summary or the empty
    // text, then completes the outputs unless sections are still to come.
    void Finish(bool closeOutputs = true);
    std::size_t Rows() const { return rows_; }

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::size_t rows_ = 0;
};
