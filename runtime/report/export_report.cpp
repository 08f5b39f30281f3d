#include "report/export_report.h"

#include "report/values.h"
#include "rtl/datetime.h"
#include "rtl/sysutils.h"

#include <xlsxwriter.h>

#include <algorithm>

namespace {
constexpr std::size_t kFlushAt = 1 << 16;
constexpr std::size_t kMaxCellBytes = 32000;  // a spreadsheet cell holds at most 32767 characters

// A cell a spreadsheet would take for a formula ("=...", "+...", "@...")
// keeps its text: the person opening the file runs nothing.
bool looksLikeFormula(std::string_view s)
{
    return !s.empty() && (s[0] == '=' || s[0] == '+' || s[0] == '-' || s[0] == '@' || s[0] == '\t' || s[0] == '\r');
}
} // namespace

std::string XmlSafeText(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char b = static_cast<unsigned char>(s[i]);
        std::size_t len = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        if (b < 0x80) {
            out += (b < 0x20 && b != '\t' && b != '\n' && b != '\r') || b == 0x7F ? ' ' : static_cast<char>(b);
            ++i;
            continue;
        }
        if (b >= 0xC2 && b <= 0xDF) len = 2;
        else if (b >= 0xE0 && b <= 0xEF) len = 3, lo = b == 0xE0 ? 0xA0 : 0x80, hi = b == 0xED ? 0x9F : 0xBF;
        else if (b >= 0xF0 && b <= 0xF4) len = 4, lo = b == 0xF0 ? 0x90 : 0x80, hi = b == 0xF4 ? 0x8F : 0xBF;
        std::size_t k = 1;
        for (; len && k < len && i + k < s.size(); ++k) {
            const unsigned char c = static_cast<unsigned char>(s[i + k]);
            if (c < lo || c > hi)
                break;
            lo = 0x80, hi = 0xBF;
        }
        if (len && k == len) {
            // U+FFFE and U+FFFF are not characters XML allows.
            const bool nonChar = len == 3 && b == 0xEF && static_cast<unsigned char>(s[i + 1]) == 0xBF &&
                                 static_cast<unsigned char>(s[i + 2]) >= 0xBE;
            out.append(nonChar ? std::string_view("\xEF\xBF\xBD") : s.substr(i, len));
            i += len;
        } else {
            out += "\xEF\xBF\xBD";
            i += std::max<std::size_t>(k, 1);
        }
    }
    return out;
}

// ---- CSV ----

CsvReportSink::CsvReportSink(AtomicFile &file) : file_(file) { buffer_.reserve(kFlushAt * 2); }

CsvReportSink::~CsvReportSink() = default;

void CsvReportSink::field(std::string_view text, bool quoteFormula)
{
    if (!first_)
        buffer_ += ';';
    first_ = false;
    const bool formula = quoteFormula && looksLikeFormula(text);
    const bool quote = formula || text.find_first_of(";\"\r\n") != std::string_view::npos ||
                       (!text.empty() && (text.front() == ' ' || text.back() == ' '));
    if (!quote) {
        buffer_.append(text);
        return;
    }
    buffer_ += '"';
    if (formula)
        buffer_ += '\'';
    for (char c : text) {
        if (c == '"')
            buffer_ += '"';
        buffer_ += c;
    }
    buffer_ += '"';
}

void CsvReportSink::endLine()
{
    buffer_ += "\r\n";
    first_ = true;
    if (buffer_.size() >= kFlushAt) {
        file_.Write(buffer_);
        buffer_.clear();
    }
}

void CsvReportSink::Begin(const ReportHeading &, const ReportLayout &, const std::vector<BandColumn> &columns,
                          const std::vector<BandGroup> &groups)
{
    columns_ = columns;
    buffer_ += "\xEF\xBB\xBF";
    // One column per field of each group; a group whose field has its column
    // already needs no second one.
    for (const BandGroup &g : groups)
        for (const std::string &caption : g.fields) {
            groupColumns_.push_back(!g.shownAsColumn);
            if (!g.shownAsColumn)
                field(caption, true);
        }
    for (const BandColumn &c : columns)
        field(c.caption, true);
    endLine();
}

void CsvReportSink::Detail(const std::vector<BandCell> &cells, const std::vector<std::string> &keys)
{
    if (inSection_)
        return;
    for (std::size_t g = 0; g < keys.size(); ++g)
        if (g >= groupColumns_.size() || groupColumns_[g])
            field(keys[g], true);
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const BandCell &c = cells[i];
        if (c.number)
            field(FormatScaled(c.units, columns_[i].places, false), false);
        else
            field(c.text, true);
    }
    endLine();
}

void CsvReportSink::Finish()
{
    file_.Write(buffer_);
    buffer_.clear();
}

// ---- XLSX ----

struct XlsxReportSink::Impl {
    explicit Impl(AtomicFile &f) : file(f) {}
    ~Impl()
    {
        if (book)
            workbook_close(book);  // frees it; the file is discarded by its owner
    }

    AtomicFile &file;
    lxw_workbook *book = nullptr;
    lxw_worksheet *sheet = nullptr;
    int sheets = 0;
    lxw_row_t row = 0;
    std::vector<BandColumn> columns;
    std::vector<lxw_format *> cellFormats, totalFormats;
    lxw_format *title = nullptr, *bold = nullptr, *caption = nullptr, *group = nullptr, *textTotal = nullptr;

    void check(lxw_error e) const
    {
        if (e != LXW_NO_ERROR)
            throw Exception("Não foi possível gravar a planilha \"" + file.Path() + "\" (erro " +
                            std::to_string(static_cast<int>(e)) + " da biblioteca de planilhas).");
    }

    // The double nearest the decimal amount: one correctly rounded division
    // (dividing by ten again and again leaves tails such as 9508.950000000001).
    static double decimal(long long units, int places)
    {
        static constexpr double kPowers[] = {1, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10};
        return static_cast<double>(units) / kPowers[std::clamp(places, 0, 10)];
    }

    void setColumns(const std::vector<BandColumn> &bandColumns)
    {
        columns = bandColumns;
        cellFormats.clear();
        totalFormats.clear();
        for (const BandColumn &c : columns) {
            const std::string numbers = numberFormat(c);
            lxw_format *cell = nullptr;
            if (!numbers.empty()) {
                cell = workbook_add_format(book);
                format_set_num_format(cell, numbers.c_str());
            }
            lxw_format *total = workbook_add_format(book);
            format_set_bold(total);
            format_set_top(total, LXW_BORDER_THIN);
            format_set_num_format(total, c.places > 0 ? numbers.c_str() : "#,##0");
            cellFormats.push_back(cell);
            totalFormats.push_back(total);
        }
    }

    static std::string numberFormat(const BandColumn &c)
    {
        using K = ValueFormat::Kind;
        switch (c.format.kind) {
        case K::Date: return "dd/mm/yyyy";
        case K::Percent: return "#,##0.00\" %\"";
        default:
            if (c.places < 0)
                return "";
            return c.places == 0 ? "#,##0" : "#,##0." + std::string(static_cast<std::size_t>(c.places), '0');
        }
    }

    void text(lxw_col_t col, std::string_view s, lxw_format *format)
    {
        std::string safe = XmlSafeText(s);
        if (safe.size() > kMaxCellBytes) {
            std::size_t cut = kMaxCellBytes;
            while (cut > 0 && (static_cast<unsigned char>(safe[cut]) & 0xC0) == 0x80)
                --cut;  // not inside a character
            safe.resize(cut);
        }
        if (!safe.empty())
            check(worksheet_write_string(sheet, row, col, safe.c_str(), format));
    }

    void newSheet()
    {
        ++sheets;
        const std::string name = sheets == 1 ? "Relatório" : "Relatório " + std::to_string(sheets);
        sheet = workbook_add_worksheet(book, name.c_str());
        if (!sheet)
            check(LXW_ERROR_MEMORY_MALLOC_FAILED);
        row = 0;
        for (std::size_t i = 0; i < columns.size(); ++i)
            worksheet_set_column(sheet, static_cast<lxw_col_t>(i), static_cast<lxw_col_t>(i),
                                 std::max(8.0, columns[i].width / 5.2), nullptr);
    }

    void captions(bool freeze = true)
    {
        for (std::size_t i = 0; i < columns.size(); ++i)
            text(static_cast<lxw_col_t>(i), columns[i].caption, caption);
        if (freeze)
            worksheet_freeze_panes(sheet, row + 1, 0);
        ++row;
    }

    // The next row; a full sheet continues on a new one under the captions.
    void nextRow()
    {
        if (row + 1 >= LXW_ROW_MAX) {
            newSheet();
            captions();
        }
    }

    void totals(const std::string &label, const std::vector<BandTotal> &values)
    {
        nextRow();
        text(0, label, textTotal);
        for (std::size_t i = 0; i < columns.size(); ++i) {
            if (!values[i].present)
                continue;
            const int places = values[i].count ? 0 : std::max(columns[i].places, 0);
            const double v = decimal(values[i].value, places);
            check(worksheet_write_number(sheet, row, static_cast<lxw_col_t>(i), v, totalFormats[i]));
        }
        ++row;
    }
};

XlsxReportSink::XlsxReportSink(AtomicFile &file) : impl_(std::make_unique<Impl>(file)) {}

XlsxReportSink::~XlsxReportSink() = default;

void XlsxReportSink::Begin(const ReportHeading &heading, const ReportLayout &, const std::vector<BandColumn> &columns,
                           const std::vector<BandGroup> &)
{
    Impl &m = *impl_;
    m.file.CloseDescriptor();  // the library writes the file by name
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;  // rows go to disk as they are written
    m.book = workbook_new_opt(m.file.TemporaryPath().c_str(), &options);
    if (!m.book)
        m.check(LXW_ERROR_CREATING_XLSX_FILE);
    m.columns = columns;
    m.title = workbook_add_format(m.book);
    format_set_bold(m.title);
    format_set_font_size(m.title, 13);
    m.bold = workbook_add_format(m.book);
    format_set_bold(m.bold);
    m.caption = workbook_add_format(m.book);
    format_set_bold(m.caption);
    format_set_bg_color(m.caption, 0xE0E0E0);
    format_set_text_wrap(m.caption);
    format_set_bottom(m.caption, LXW_BORDER_THIN);
    m.group = workbook_add_format(m.book);
    format_set_bold(m.group);
    m.textTotal = workbook_add_format(m.book);
    format_set_bold(m.textTotal);
    m.setColumns(columns);

    m.newSheet();
    m.text(0, heading.title, m.title);
    ++m.row;
    m.text(0, heading.code + " – Emitido em " + heading.generatedAt, nullptr);
    ++m.row;
    for (const auto &[label, value] : heading.parameters) {
        m.text(0, label, m.bold);
        m.text(1, value, nullptr);
        ++m.row;
    }
    ++m.row;
    m.captions();
}

void XlsxReportSink::GroupHeader(std::size_t, const std::string &text)
{
    Impl &m = *impl_;
    m.nextRow();
    m.text(0, text, m.group);
    ++m.row;
}

void XlsxReportSink::Detail(const std::vector<BandCell> &cells, const std::vector<std::string> &)
{
    Impl &m = *impl_;
    m.nextRow();
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const BandCell &c = cells[i];
        const auto col = static_cast<lxw_col_t>(i);
        if (c.null)
            continue;
        if (c.number) {
            const double v = Impl::decimal(c.units, m.columns[i].places);
            m.check(worksheet_write_number(m.sheet, m.row, col, v, m.cellFormats[i]));
        } else if (const auto date = m.columns[i].format.kind == ValueFormat::Kind::Date
                                         ? ParseIsoDate(TrimBlanks(c.raw))
                                         : std::nullopt) {
            lxw_datetime d{};
            DecodeDate(*date, d.year, d.month, d.day);
            m.check(worksheet_write_datetime(m.sheet, m.row, col, &d, m.cellFormats[i]));
        } else {
            m.text(col, c.text, nullptr);
        }
    }
    ++m.row;
}

void XlsxReportSink::GroupFooter(std::size_t, const std::string &caption, const std::vector<BandTotal> &totals)
{
    impl_->totals(caption, totals);
}

void XlsxReportSink::Summary(const std::string &caption, const std::vector<BandTotal> &totals)
{
    impl_->totals(caption, totals);
}

void XlsxReportSink::Empty(const std::string &text)
{
    impl_->text(0, text, nullptr);
    ++impl_->row;
}

void XlsxReportSink::Section(const std::string &title, const std::vector<BandColumn> &columns)
{
    Impl &m = *impl_;
    m.setColumns(columns);
    m.nextRow();
    ++m.row;
    m.nextRow();
    m.text(0, title, m.title);
    ++m.row;
    m.nextRow();
    m.captions(false);
}

void XlsxReportSink::Finish()
{
    Impl &m = *impl_;
    lxw_workbook *book = m.book;
    m.book = nullptr;
    m.check(workbook_close(book));
}
