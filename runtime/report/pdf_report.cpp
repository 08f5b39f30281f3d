#include "report/pdf_report.h"

#include "report/pdf_objects.h"
#include "report/values.h"

#include <algorithm>
#include <strings.h>

namespace {
constexpr float kMarginX = 36;
constexpr float kMarginTop = 30;
constexpr float kFooterBaseline = 18;  // "Página N de M"
constexpr float kBottom = 34;          // the lowest a band may reach
constexpr float kTitleSize = 13;
constexpr float kInfoSize = 8;
constexpr float kBodySize = 7.5f;
constexpr float kCaptionSize = 7;
constexpr float kLine = 9.5f;  // a line of body text
constexpr float kPad = 2.5f;   // inside a cell, left and right
constexpr float kIndent = 10;  // per group level
constexpr std::size_t kMaxLines = 20;
constexpr std::size_t kMaxCaptionLines = 3;
const std::string kEllipsis = "\x85";

} // namespace

struct PdfReportSink::Impl {
    struct Column {
        float x = 0, w = 0;
        ColumnAlign align = ColumnAlign::Left;
        ColumnOverflow overflow = ColumnOverflow::Ellipsis;
        int places = -1;
        bool percent = false;
        std::vector<std::string> caption;  // lines, Windows-1252
        std::vector<std::string> lines;    // of the row being drawn
    };

    Impl(AtomicFile &f, bool first) : file(f), firstPageOnly(first) {}

    AtomicFile &file;
    bool firstPageOnly;
    bool stopped = false;
    std::unique_ptr<PdfWriter> writer;
    PdfCanvas canvas;
    const PdfMetrics &metrics = PdfMetrics::Get();
    float width = 0, height = 0, y = 0;
    float left = kMarginX, contentWidth = 0, tableWidth = 0, captionHeight = 0;
    bool pageOpen = false, captionsOnPage = false, bandsOnPage = false;
    // Headers of the groups still open, outermost first (Windows-1252; empty
    // for a group without a header band), and how many of them a band placed
    // on a new page repeats above itself.
    std::vector<std::string> openGroups;
    std::size_t repeatGroups = 0;
    std::vector<bool> groupFooters;  // which levels end with a footer band

    // Room kept under a detail line for the footers of its open groups, so
    // a subtotal never starts a page alone.
    float footerReserve() const
    {
        float reserve = 0;
        for (std::size_t l = 0; l < groupFooters.size(); ++l)
            if (groupFooters[l])
                reserve += kLine + 6;
        return reserve;
    }
    std::string title, code, when;
    std::vector<std::pair<std::string, std::string>> header, parameters;  // Windows-1252
    std::vector<Column> columns;
    std::string scratch;

    void setColumns(const std::vector<BandColumn> &bandColumns)
    {
        double total = 0;
        for (const BandColumn &c : bandColumns)
            total += c.width;
        const float scale = total > contentWidth ? static_cast<float>(contentWidth / total) : 1.0f;
        float x = left;
        std::size_t captionLines = 1;
        columns.clear();
        for (const BandColumn &c : bandColumns) {
            Column col;
            col.x = x;
            col.w = static_cast<float>(c.width) * scale;
            col.align = c.align;
            col.overflow = c.overflow;
            col.places = c.places;
            col.percent = c.format.kind == ValueFormat::Kind::Percent;
            wrap(PdfFont::Bold, kCaptionSize, Utf8ToCp1252(c.caption), col.w - 2 * kPad, kMaxCaptionLines, col.caption);
            captionLines = std::max(captionLines, col.caption.size());
            x += col.w;
            columns.push_back(std::move(col));
        }
        tableWidth = x - left;
        captionHeight = static_cast<float>(captionLines) * 8 + 4;
    }

    float measure(PdfFont f, float size, std::string_view s) const { return metrics.Width(f, size, s); }

    // `s` when it fits, else as much of it as fits followed by "…".
    std::string fit(PdfFont f, float size, std::string_view s, float w) const
    {
        w += 0.01f;  // a width measured before stays a fit after float arithmetic
        if (measure(f, size, s) <= w)
            return std::string(s);
        const float room = w - measure(f, size, kEllipsis);
        std::size_t n = 0;
        float used = 0;
        while (n < s.size()) {
            const float c = measure(f, size, s.substr(n, 1));
            if (used + c > room)
                break;
            used += c;
            ++n;
        }
        while (n > 0 && s[n - 1] == ' ')
            --n;
        return room < 0 ? std::string() : std::string(s.substr(0, n)) + kEllipsis;
    }

    // Word-wrapped lines; a word wider than the column is broken; the last
    // allowed line ends in "…" when text is left over.
    void wrap(PdfFont f, float size, std::string_view s, float w, std::size_t maxLines,
              std::vector<std::string> &out) const
    {
        out.clear();
        while (!s.empty() && s.front() == ' ')
            s.remove_prefix(1);
        while (!s.empty()) {
            if (out.size() + 1 == maxLines || measure(f, size, s) <= w) {
                out.push_back(fit(f, size, s, w));
                return;
            }
            std::size_t n = 0, lastSpace = 0;
            float used = 0;
            while (n < s.size()) {
                const float c = measure(f, size, s.substr(n, 1));
                if (used + c > w)
                    break;
                if (s[n] == ' ')
                    lastSpace = n;
                used += c;
                ++n;
            }
            std::size_t cut = n < s.size() && s[n] == ' ' ? n : lastSpace > 0 ? lastSpace : std::max<std::size_t>(n, 1);
            std::string_view line = s.substr(0, cut);
            while (!line.empty() && line.back() == ' ')
                line.remove_suffix(1);
            out.emplace_back(line);
            s.remove_prefix(cut);
            while (!s.empty() && s.front() == ' ')
                s.remove_prefix(1);
        }
        if (out.empty())
            out.emplace_back();
    }

    float alignedX(const Column &c, PdfFont f, float size, std::string_view s) const
    {
        switch (c.align) {
        case ColumnAlign::Right: return c.x + c.w - kPad - measure(f, size, s);
        case ColumnAlign::Center: return c.x + (c.w - measure(f, size, s)) / 2;
        default: return c.x + kPad;
        }
    }

    // Label-and-value pairs from `baseline` down: a pair that does not fit
    // whole beside the ones before starts the next line (the first line has
    // `firstRoom`, the others the content's width); a pair wider than a line
    // is cut with "…". The baseline of the last line comes back.
    float pairs(float x, float baseline, float firstRoom, const std::vector<std::pair<std::string, std::string>> &items)
    {
        float room = firstRoom, at = x;
        bool lineEmpty = true;
        for (const auto &[name, value] : items) {
            const std::string label = (lineEmpty ? "" : "    ") + name + ": ";
            const float whole = measure(PdfFont::Bold, kInfoSize, label) + measure(PdfFont::Regular, kInfoSize, value);
            if (!lineEmpty && whole > room + 0.01f) {
                baseline -= 11;
                room = contentWidth;
                at = x;
                lineEmpty = true;
                const std::string first = name + ": ";
                drawPair(at, baseline, room, first, value);
            } else {
                drawPair(at, baseline, room, label, value);
            }
            lineEmpty = false;
        }
        return baseline;
    }

    void drawPair(float &x, float baseline, float &room, const std::string &label, const std::string &value)
    {
        const std::string shownLabel = fit(PdfFont::Bold, kInfoSize, label, room);
        canvas.Text(PdfFont::Bold, kInfoSize, x, baseline, shownLabel);
        const float lw = measure(PdfFont::Bold, kInfoSize, shownLabel);
        x += lw;
        room -= lw;
        if (shownLabel != label) {
            room = 0;
            return;
        }
        const std::string shownValue = fit(PdfFont::Regular, kInfoSize, value, room);
        canvas.Text(PdfFont::Regular, kInfoSize, x, baseline, shownValue);
        const float vw = measure(PdfFont::Regular, kInfoSize, shownValue);
        x += vw;
        room -= vw;
    }

    void endPage()
    {
        if (!pageOpen)
            return;
        writer->AddPage(width, height, canvas, width - kMarginX, kFooterBaseline);
        pageOpen = false;
        if (firstPageOnly)
            stopped = true;
    }

    void newPage()
    {
        endPage();
        if (stopped)
            return;
        canvas.Clear();
        pageOpen = true;
        captionsOnPage = false;
        bandsOnPage = false;
        const float top = height - kMarginTop;
        float base = top - kTitleSize + 2;
        const float codeWidth = measure(PdfFont::Bold, 10, code);
        canvas.Text(PdfFont::Bold, kTitleSize, left, base, fit(PdfFont::Bold, kTitleSize, title, contentWidth - codeWidth - 16));
        canvas.Text(PdfFont::Bold, 10, left + contentWidth - codeWidth, base, code);
        base -= 13;
        const float whenWidth = measure(PdfFont::Regular, kInfoSize, when);
        canvas.Text(PdfFont::Regular, kInfoSize, left + contentWidth - whenWidth, base, when);
        base = pairs(left, base, contentWidth - whenWidth - 16, header);
        canvas.Line(left, base - 5, left + contentWidth, base - 5, 0.8f, 0);
        y = base - 5 - 8;
    }

    void drawCaptions()
    {
        canvas.Fill(left, y - captionHeight, tableWidth, captionHeight, 0.88f);
        canvas.BeginText(PdfFont::Bold, kCaptionSize);
        for (const Column &c : columns)
            for (std::size_t i = 0; i < c.caption.size(); ++i)
                canvas.TextAt(alignedX(c, PdfFont::Bold, kCaptionSize, c.caption[i]), y - 2 - (i + 1) * 8 + 1.5f,
                              c.caption[i]);
        canvas.EndText();
        y -= captionHeight + 2;
        captionsOnPage = true;
    }

    void groupLine(std::size_t level, const std::string &cp1252)
    {
        const float h = 13, indent = static_cast<float>(level) * kIndent;
        if (level == 0)
            canvas.Fill(left, y - h + 2, tableWidth, h - 2, 0.93f);
        canvas.Text(PdfFont::Bold, 8, left + kPad + indent, y - h + 5,
                    fit(PdfFont::Bold, 8, cp1252, tableWidth - indent - 2 * kPad));
        y -= h;
    }

    // Room for a band of the table `h` high, with the captions above it; on
    // a new page the headers of the groups it belongs to come again first.
    void place(float h)
    {
        bool fresh = false;
        if (!captionsOnPage) {
            if (y - captionHeight - h < kBottom && bandsOnPage) {
                newPage();
                fresh = true;
            }
        } else if (y - h < kBottom) {
            newPage();
            fresh = true;
        }
        if (stopped)
            return;
        if (!captionsOnPage)
            drawCaptions();
        if (fresh)
            for (std::size_t l = 0; l < repeatGroups && l < openGroups.size(); ++l)
                if (!openGroups[l].empty())
                    groupLine(l, openGroups[l] + Utf8ToCp1252(" (continuação)"));
        bandsOnPage = true;
    }

    std::string totalText(const Column &c, const BandTotal &t) const
    {
        if (t.count)
            return FormatScaled(t.value, 0);
        std::string s = FormatScaled(t.value, c.places < 0 ? 0 : c.places);
        return c.percent ? s + " %" : s;
    }

    // Totals under their columns; the caption fills the room before the first.
    void totalsBand(float h, float indent, const std::string &caption, const std::vector<BandTotal> &totals,
                    float ruleWidth, float ruleGray)
    {
        place(h);
        if (stopped)
            return;
        // The caption may run up to where the first total's text starts.
        float captionRoom = tableWidth;
        std::vector<std::string> texts(columns.size());
        for (std::size_t i = 0; i < columns.size(); ++i) {
            if (!totals[i].present)
                continue;
            const Column &c = columns[i];
            texts[i] = fit(PdfFont::Bold, kBodySize, totalText(c, totals[i]), c.w - 2 * kPad);
            if (captionRoom == tableWidth)
                captionRoom = alignedX(c, PdfFont::Bold, kBodySize, texts[i]) - left - 6;
        }
        const float base = y - kLine + 1;
        for (std::size_t i = 0; i < columns.size(); ++i)
            if (totals[i].present)
                canvas.Line(columns[i].x + kPad, y - 0.5f, columns[i].x + columns[i].w - kPad, y - 0.5f, ruleWidth,
                            ruleGray);
        canvas.BeginText(PdfFont::Bold, kBodySize);
        canvas.TextAt(left + kPad + indent, base,
                      fit(PdfFont::Bold, kBodySize, Utf8ToCp1252(caption), captionRoom - indent - kPad));
        for (std::size_t i = 0; i < columns.size(); ++i)
            if (totals[i].present)
                canvas.TextAt(alignedX(columns[i], PdfFont::Bold, kBodySize, texts[i]), base, texts[i]);
        canvas.EndText();
        y -= h;
    }
};

PdfReportSink::PdfReportSink(AtomicFile &file, bool firstPageOnly) : impl_(std::make_unique<Impl>(file, firstPageOnly)) {}

PdfReportSink::~PdfReportSink() = default;

int PdfReportSink::Pages() const { return impl_->writer ? static_cast<int>(impl_->writer->PageCount()) : 0; }

void PdfReportSink::Begin(const ReportHeading &heading, const ReportLayout &layout,
                          const std::vector<BandColumn> &columns, const std::vector<BandGroup> &)
{
    Impl &m = *impl_;
    m.writer = std::make_unique<PdfWriter>(m.file, heading.title);
    const bool letter = strcasecmp(layout.page.c_str(), "Letter") == 0;
    float w = letter ? 612 : 595.28f, h = letter ? 792 : 841.89f;
    if (layout.landscape)
        std::swap(w, h);
    m.width = w;
    m.height = h;
    m.contentWidth = w - 2 * kMarginX;
    m.title = Utf8ToCp1252(heading.title);
    m.code = Utf8ToCp1252(heading.code);
    m.when = Utf8ToCp1252("Emitido em " + heading.generatedAt);
    for (const auto &[label, value] : heading.header)
        m.header.emplace_back(Utf8ToCp1252(label), Utf8ToCp1252(value));
    for (const auto &[label, value] : heading.parameters)
        m.parameters.emplace_back(Utf8ToCp1252(label), Utf8ToCp1252(value));

    m.setColumns(columns);
    for (const LayoutGroup &g : layout.groups)
        m.groupFooters.push_back(!g.footer.empty());

    m.newPage();
    if (m.parameters.empty())
        return;
    // The parameters block, first page only: labels in a column of their own.
    float labelWidth = 0;
    for (const auto &p : m.parameters)
        labelWidth = std::max(labelWidth, m.measure(PdfFont::Bold, kInfoSize, p.first + ":"));
    labelWidth = std::min(labelWidth + 8, m.contentWidth / 3);
    std::vector<std::string> lines;
    for (const auto &[label, value] : m.parameters) {
        m.wrap(PdfFont::Regular, kInfoSize, value, m.contentWidth - labelWidth, kMaxLines, lines);
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (m.y - kLine < kBottom)
                m.newPage();
            if (m.stopped)
                return;
            const float base = m.y - kLine + 2;
            if (i == 0)
                m.canvas.Text(PdfFont::Bold, kInfoSize, m.left, base,
                              m.fit(PdfFont::Bold, kInfoSize, label + ":", labelWidth - 8));
            m.canvas.Text(PdfFont::Regular, kInfoSize, m.left + labelWidth, base, lines[i]);
            m.y -= kLine;
        }
    }
    m.canvas.Line(m.left, m.y - 3, m.left + m.contentWidth, m.y - 3, 0.4f, 0.6f);
    m.y -= 10;
}

void PdfReportSink::GroupHeader(std::size_t level, const std::string &text)
{
    Impl &m = *impl_;
    if (m.stopped)
        return;
    m.openGroups.resize(level);
    m.repeatGroups = level;
    m.place(13 + kLine);  // never a header alone at the foot of a page
    if (m.stopped)
        return;
    const std::string shown = Utf8ToCp1252(text);
    m.groupLine(level, shown);
    m.openGroups.push_back(shown);
}

void PdfReportSink::Detail(const std::vector<BandCell> &cells, const std::vector<std::string> &)
{
    Impl &m = *impl_;
    if (m.stopped)
        return;
    std::size_t lines = 1;
    for (std::size_t i = 0; i < m.columns.size(); ++i) {
        Impl::Column &c = m.columns[i];
        m.scratch = Utf8ToCp1252(cells[i].text);
        if (c.overflow == ColumnOverflow::Wrap) {
            m.wrap(PdfFont::Regular, kBodySize, m.scratch, c.w - 2 * kPad, kMaxLines, c.lines);
        } else {
            c.lines.resize(1);
            c.lines[0] = m.fit(PdfFont::Regular, kBodySize, m.scratch, c.w - 2 * kPad);
        }
        lines = std::max(lines, c.lines.size());
    }
    const float h = static_cast<float>(lines) * kLine;
    m.repeatGroups = m.openGroups.size();
    m.place(h + m.footerReserve());
    if (m.stopped)
        return;
    m.canvas.BeginText(PdfFont::Regular, kBodySize);
    for (const Impl::Column &c : m.columns)
        for (std::size_t l = 0; l < c.lines.size(); ++l)
            m.canvas.TextAt(m.alignedX(c, PdfFont::Regular, kBodySize, c.lines[l]), m.y - (l + 1) * kLine + 2.5f,
                            c.lines[l]);
    m.canvas.EndText();
    m.y -= h;
}

void PdfReportSink::GroupFooter(std::size_t level, const std::string &caption, const std::vector<BandTotal> &totals)
{
    Impl &m = *impl_;
    if (m.stopped)
        return;
    m.repeatGroups = level + 1;
    m.totalsBand(kLine + 2, static_cast<float>(level) * kIndent, caption, totals, 0.4f, 0.45f);
    m.y -= 4;
    m.openGroups.resize(std::min(m.openGroups.size(), level));
}

void PdfReportSink::Summary(const std::string &caption, const std::vector<BandTotal> &totals)
{
    Impl &m = *impl_;
    if (m.stopped)
        return;
    m.repeatGroups = 0;
    m.place(kLine + 6);
    if (m.stopped)
        return;
    m.canvas.Line(m.left, m.y - 1, m.left + m.tableWidth, m.y - 1, 0.8f, 0);
    m.y -= 3;
    m.totalsBand(kLine + 2, 0, caption, totals, 0, 1);
}

void PdfReportSink::Empty(const std::string &text)
{
    Impl &m = *impl_;
    if (m.stopped)
        return;
    std::vector<std::string> lines;
    m.wrap(PdfFont::Regular, 9, Utf8ToCp1252(text), m.contentWidth, kMaxLines, lines);
    m.y -= 6;
    for (const std::string &line : lines) {
        m.canvas.Text(PdfFont::Regular, 9, m.left, m.y - 9, line);
        m.y -= 12;
    }
}

void PdfReportSink::Section(const std::string &title, const std::vector<BandColumn> &columns)
{
    Impl &m = *impl_;
    if (m.stopped)
        return;
    m.setColumns(columns);
    m.openGroups.clear();
    m.repeatGroups = 0;
    m.groupFooters.clear();
    // The title keeps its captions and a first line with it on the page.
    constexpr float kTitleBand = 22;
    if (m.y - kTitleBand - m.captionHeight - kLine < kBottom)
        m.newPage();
    if (m.stopped)
        return;
    m.y -= 8;
    m.canvas.Text(PdfFont::Bold, 10, m.left, m.y - 10, m.fit(PdfFont::Bold, 10, Utf8ToCp1252(title), m.contentWidth));
    m.y -= kTitleBand - 8;
    m.captionsOnPage = false;
    m.bandsOnPage = true;
}

void PdfReportSink::Finish()
{
    Impl &m = *impl_;
    m.endPage();
    m.writer->Finish();
}

bool PdfReportSink::Done() const { return impl_->stopped; }
