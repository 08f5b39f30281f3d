// The spreadsheet writer. The workbook is written here, part by part, into
// a ZIP stream: every number goes in as the exact decimal text of its units
// ("8555.97"), never through a binary float, and the rows are deflated as
// they come, so a million of them take no more memory than one.
#include "report/export_report.h"

#include "report/values.h"
#include "report/zip_stream.h"
#include "rtl/datetime.h"
#include "rtl/sysutils.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <map>
#include <optional>
#include <tuple>

namespace {
constexpr std::size_t kMaxCellBytes = 32000;  // a spreadsheet cell holds at most 32767 characters
constexpr std::uint32_t kRowsPerSheet = 1048576;

const char kMainNs[] = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const char kRelNs[] = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
const char kXmlHead[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";

// Text as XML character data (already free of characters XML forbids).
void escaped(std::string &out, std::string_view s, bool attribute = false)
{
    for (char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"':
            if (attribute) {
                out += "&quot;";
                break;
            }
            [[fallthrough]];
        default: out += c;
        }
    }
}

std::string columnName(std::size_t col)
{
    std::string name;
    for (std::size_t n = col + 1; n > 0; n = (n - 1) / 26)
        name.insert(name.begin(), static_cast<char>('A' + (n - 1) % 26));
    return name;
}

// The spreadsheet's day number: days since 1899-12-30, as TDateTime counts them.
std::optional<long> spreadsheetDay(std::string_view iso)
{
    if (const auto date = ParseIsoDate(TrimBlanks(iso)))
        return static_cast<long>(date->Val);
    return std::nullopt;
}

struct Style {
    int font = 0;    // 0 plain, 1 bold, 2 bold and larger
    int fill = 0;    // 0 none, 2 the captions' grey (1 is the reserved gray125)
    int border = 0;  // 0 none, 1 thin above, 2 thin below
    bool wrap = false;
    std::string numberFormat;
    auto key() const { return std::tie(font, fill, border, wrap, numberFormat); }
};
} // namespace

std::string SpreadsheetNumberText(long long units, int places)
{
    const bool negative = units < 0;
    const unsigned long long magnitude =
        negative ? 0ULL - static_cast<unsigned long long>(units) : static_cast<unsigned long long>(units);
    std::string digits = std::to_string(magnitude);
    if (places > 0) {
        const auto p = static_cast<std::size_t>(places);
        if (digits.size() <= p)
            digits.insert(0, p + 1 - digits.size(), '0');
        digits.insert(digits.size() - p, ".");
        digits.erase(digits.find_last_not_of('0') + 1);
        if (digits.back() == '.')
            digits.pop_back();
    }
    return negative && digits != "0" ? "-" + digits : digits;
}

struct XlsxReportSink::Impl {
    explicit Impl(AtomicFile &f) : file(f), zip(f) {}

    AtomicFile &file;
    ZipStream zip;
    std::vector<Style> styles{Style{}};
    std::vector<std::string> sheetNames;
    std::vector<BandColumn> columns;
    std::vector<int> cellFormats, totalFormats;
    int title = 0, bold = 0, caption = 0, group = 0, textTotal = 0;

    std::uint32_t row = 0;          // of the sheet, from 0
    std::string cells;              // the row being written
    std::string sheetRows;          // rows before the sheet's head is out
    bool headWritten = false;
    std::vector<double> widths;     // of the sheet's columns

    int style(const Style &s)
    {
        for (std::size_t i = 0; i < styles.size(); ++i)
            if (styles[i].key() == s.key())
                return static_cast<int>(i);
        styles.push_back(s);
        return static_cast<int>(styles.size() - 1);
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

    void setColumns(const std::vector<BandColumn> &bandColumns)
    {
        columns = bandColumns;
        cellFormats.clear();
        totalFormats.clear();
        for (const BandColumn &c : columns) {
            const std::string numbers = numberFormat(c);
            cellFormats.push_back(numbers.empty() ? 0 : style({0, 0, 0, false, numbers}));
            totalFormats.push_back(style({1, 0, 1, false, c.places > 0 ? numbers : "#,##0"}));
        }
    }

    void cellStart(std::size_t col, int format, const char *type)
    {
        cells += "<c r=\"" + columnName(col) + std::to_string(row + 1) + "\"";
        if (format)
            cells += " s=\"" + std::to_string(format) + "\"";
        if (type)
            cells += std::string(" t=\"") + type + "\"";
        cells += '>';
    }

    void text(std::size_t col, std::string_view s, int format)
    {
        std::string safe = XmlSafeText(s);
        if (safe.size() > kMaxCellBytes) {
            std::size_t cut = kMaxCellBytes;
            while (cut > 0 && (static_cast<unsigned char>(safe[cut]) & 0xC0) == 0x80)
                --cut;  // not inside a character
            safe.resize(cut);
        }
        if (safe.empty())
            return;
        cellStart(col, format, "inlineStr");
        const bool keepBlanks = safe.front() == ' ' || safe.back() == ' ' || safe.find('\n') != std::string::npos;
        cells += keepBlanks ? "<is><t xml:space=\"preserve\">" : "<is><t>";
        escaped(cells, safe);
        cells += "</t></is></c>";
    }

    void number(std::size_t col, const std::string &value, int format)
    {
        cellStart(col, format, nullptr);
        cells += "<v>" + value + "</v></c>";
    }

    void out(std::string_view xml)
    {
        if (headWritten)
            zip.Write(xml);
        else
            sheetRows.append(xml);
    }

    // Ends the row being written and moves to the next one.
    void next()
    {
        if (!cells.empty()) {
            out("<row r=\"" + std::to_string(row + 1) + "\">");
            out(cells);
            out("</row>");
            cells.clear();
        }
        ++row;
    }

    // The sheet's head goes before its rows: the columns' widths and, when
    // the captions stay in view, the frozen rows above them.
    void writeHead(std::optional<std::uint32_t> frozenRows)
    {
        std::string head = std::string(kXmlHead) + "<worksheet xmlns=\"" + kMainNs + "\" xmlns:r=\"" + kRelNs +
                           "\"><sheetViews><sheetView workbookViewId=\"0\"";
        if (sheetNames.size() == 1)
            head += " tabSelected=\"1\"";
        if (frozenRows) {
            const std::string below = std::to_string(*frozenRows + 1);
            head += "><pane ySplit=\"" + std::to_string(*frozenRows) + "\" topLeftCell=\"A" + below +
                    "\" activePane=\"bottomLeft\" state=\"frozen\"/><selection pane=\"bottomLeft\" activeCell=\"A" +
                    below + "\" sqref=\"A" + below + "\"/></sheetView>";
        } else {
            head += "/>";
        }
        head += "</sheetViews><sheetFormatPr defaultRowHeight=\"15\"/>";
        if (!widths.empty()) {
            head += "<cols>";
            for (std::size_t i = 0; i < widths.size(); ++i) {
                const std::string n = std::to_string(i + 1);
                char width[32];
                std::snprintf(width, sizeof width, "%.2f", widths[i]);
                head += "<col min=\"" + n + "\" max=\"" + n + "\" width=\"" + width + "\" customWidth=\"1\"/>";
            }
            head += "</cols>";
        }
        head += "<sheetData>";
        zip.Begin("xl/worksheets/sheet" + std::to_string(sheetNames.size()) + ".xml");
        zip.Write(head);
        zip.Write(sheetRows);
        sheetRows.clear();
        sheetRows.shrink_to_fit();
        headWritten = true;
    }

    void closeSheet()
    {
        if (sheetNames.empty())
            return;
        next();
        if (!headWritten)
            writeHead(std::nullopt);
        zip.Write("</sheetData></worksheet>");
        zip.End();
    }

    void newSheet()
    {
        closeSheet();
        sheetNames.push_back(sheetNames.empty() ? "Relatório" : "Relatório " + std::to_string(sheetNames.size() + 1));
        row = 0;
        headWritten = false;
        widths.clear();
        for (const BandColumn &c : columns)
            widths.push_back(std::max(8.0, c.width / 5.2));
    }

    void captions(bool freeze = true)
    {
        for (std::size_t i = 0; i < columns.size(); ++i)
            text(i, columns[i].caption, caption);
        const std::uint32_t through = row + 1;
        next();
        if (!headWritten && freeze)
            writeHead(through);
    }

    // The next row; a full sheet continues on a new one under the captions.
    void nextRow()
    {
        if (row + 1 >= kRowsPerSheet) {
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
            number(i, SpreadsheetNumberText(values[i].value, places), totalFormats[i]);
        }
        next();
    }

    std::string stylesXml() const
    {
        std::map<std::string, int> formatIds;
        for (const Style &s : styles)
            if (!s.numberFormat.empty() && !formatIds.count(s.numberFormat))
                formatIds.emplace(s.numberFormat, 164 + static_cast<int>(formatIds.size()));
        std::string x = std::string(kXmlHead) + "<styleSheet xmlns=\"" + kMainNs + "\">";
        if (!formatIds.empty()) {
            x += "<numFmts count=\"" + std::to_string(formatIds.size()) + "\">";
            for (const auto &[code, id] : formatIds) {
                x += "<numFmt numFmtId=\"" + std::to_string(id) + "\" formatCode=\"";
                escaped(x, code, true);
                x += "\"/>";
            }
            x += "</numFmts>";
        }
        x += "<fonts count=\"3\">"
             "<font><sz val=\"11\"/><name val=\"Calibri\"/><family val=\"2\"/></font>"
             "<font><b/><sz val=\"11\"/><name val=\"Calibri\"/><family val=\"2\"/></font>"
             "<font><b/><sz val=\"13\"/><name val=\"Calibri\"/><family val=\"2\"/></font></fonts>"
             "<fills count=\"3\"><fill><patternFill patternType=\"none\"/></fill>"
             "<fill><patternFill patternType=\"gray125\"/></fill>"
             "<fill><patternFill patternType=\"solid\"><fgColor rgb=\"FFE0E0E0\"/><bgColor indexed=\"64\"/>"
             "</patternFill></fill></fills>"
             "<borders count=\"3\"><border><left/><right/><top/><bottom/><diagonal/></border>"
             "<border><left/><right/><top style=\"thin\"><color auto=\"1\"/></top><bottom/><diagonal/></border>"
             "<border><left/><right/><top/><bottom style=\"thin\"><color auto=\"1\"/></bottom><diagonal/></border>"
             "</borders>"
             "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs>";
        x += "<cellXfs count=\"" + std::to_string(styles.size()) + "\">";
        for (const Style &s : styles) {
            const int id = s.numberFormat.empty() ? 0 : formatIds.at(s.numberFormat);
            x += "<xf numFmtId=\"" + std::to_string(id) + "\" fontId=\"" + std::to_string(s.font) + "\" fillId=\"" +
                 std::to_string(s.fill) + "\" borderId=\"" + std::to_string(s.border) + "\" xfId=\"0\"";
            if (id)
                x += " applyNumberFormat=\"1\"";
            if (s.font)
                x += " applyFont=\"1\"";
            if (s.fill)
                x += " applyFill=\"1\"";
            if (s.border)
                x += " applyBorder=\"1\"";
            x += s.wrap ? " applyAlignment=\"1\"><alignment wrapText=\"1\"/></xf>" : "/>";
        }
        x += "</cellXfs><cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>"
             "</styleSheet>";
        return x;
    }

    void part(const std::string &name, const std::string &xml)
    {
        zip.Begin(name);
        zip.Write(xml);
        zip.End();
    }

    void finish()
    {
        closeSheet();
        part("xl/styles.xml", stylesXml());
        std::string workbook = std::string(kXmlHead) + "<workbook xmlns=\"" + kMainNs + "\" xmlns:r=\"" + kRelNs +
                               "\"><bookViews><workbookView/></bookViews><sheets>";
        std::string rels = std::string(kXmlHead) +
                           "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
        std::string types = std::string(kXmlHead) +
                            "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                            "<Default Extension=\"rels\" "
                            "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
                            "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
                            "<Override PartName=\"/xl/workbook.xml\" "
                            "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
                            "<Override PartName=\"/xl/styles.xml\" "
                            "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>";
        for (std::size_t i = 0; i < sheetNames.size(); ++i) {
            const std::string n = std::to_string(i + 1);
            workbook += "<sheet name=\"";
            escaped(workbook, sheetNames[i], true);
            workbook += "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
            rels += "<Relationship Id=\"rId" + n +
                    "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" "
                    "Target=\"worksheets/sheet" + n + ".xml\"/>";
            types += "<Override PartName=\"/xl/worksheets/sheet" + n +
                     ".xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
        }
        rels += "<Relationship Id=\"rId" + std::to_string(sheetNames.size() + 1) +
                "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles\" "
                "Target=\"styles.xml\"/></Relationships>";
        part("xl/workbook.xml", workbook + "</sheets></workbook>");
        part("xl/_rels/workbook.xml.rels", rels);
        part("_rels/.rels", std::string(kXmlHead) +
                                "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                                "<Relationship Id=\"rId1\" "
                                "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
                                "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>");
        part("[Content_Types].xml", types + "</Types>");
        zip.Finish();
    }
};

XlsxReportSink::XlsxReportSink(AtomicFile &file) : impl_(std::make_unique<Impl>(file)) {}

XlsxReportSink::~XlsxReportSink() = default;

void XlsxReportSink::Begin(const ReportHeading &heading, const ReportLayout &, const std::vector<BandColumn> &columns,
                           const std::vector<BandGroup> &)
{
    Impl &m = *impl_;
    m.title = m.style({2, 0, 0, false, ""});
    m.bold = m.style({1, 0, 0, false, ""});
    m.caption = m.style({1, 2, 2, true, ""});
    m.group = m.bold;
    m.textTotal = m.bold;
    m.setColumns(columns);

    m.newSheet();
    m.text(0, heading.title, m.title);
    m.next();
    m.text(0, heading.code + " – Emitido em " + heading.generatedAt, 0);
    m.next();
    for (const auto &[label, value] : heading.parameters) {
        m.text(0, label, m.bold);
        m.text(1, value, 0);
        m.next();
    }
    m.next();
    m.captions();
}

void XlsxReportSink::GroupHeader(std::size_t, const std::string &text)
{
    Impl &m = *impl_;
    m.nextRow();
    m.text(0, text, m.group);
    m.next();
}

void XlsxReportSink::Detail(const std::vector<BandCell> &cells, const std::vector<std::string> &)
{
    Impl &m = *impl_;
    m.nextRow();
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const BandCell &c = cells[i];
        if (c.null)
            continue;
        if (c.number) {
            m.number(i, SpreadsheetNumberText(c.units, m.columns[i].places), m.cellFormats[i]);
        } else if (m.columns[i].format.kind == ValueFormat::Kind::Date) {
            if (const auto day = spreadsheetDay(c.raw))
                m.number(i, std::to_string(*day), m.cellFormats[i]);
            else
                m.text(i, c.text, 0);
        } else {
            m.text(i, c.text, 0);
        }
    }
    m.next();
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
    impl_->text(0, text, 0);
    impl_->next();
}

void XlsxReportSink::Section(const std::string &title, const std::vector<BandColumn> &columns)
{
    Impl &m = *impl_;
    m.setColumns(columns);
    m.nextRow();
    m.next();
    m.nextRow();
    m.text(0, title, m.title);
    m.next();
    m.nextRow();
    m.captions(false);
}

void XlsxReportSink::Finish() { impl_->finish(); }
