#include "report/export_report.h"

#include "report/values.h"

#include <algorithm>
#include <set>

namespace {
constexpr std::size_t kFlushAt = 1 << 16;

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

std::vector<std::string> UniqueCaptions(std::vector<std::string> captions)
{
    std::set<std::string> taken(captions.begin(), captions.end());
    std::set<std::string> seen;
    for (std::string &caption : captions) {
        if (seen.insert(caption).second)
            continue;
        for (int n = 2;; ++n) {
            std::string other = caption + " (" + std::to_string(n) + ")";
            if (!taken.count(other)) {
                taken.insert(other);
                seen.insert(other);
                caption = std::move(other);
                break;
            }
        }
    }
    return captions;
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
    std::vector<std::string> captions;
    for (const BandGroup &g : groups)
        for (const std::string &caption : g.fields) {
            groupColumns_.push_back(!g.shownAsColumn);
            if (!g.shownAsColumn)
                captions.push_back(caption);
        }
    for (const BandColumn &c : columns)
        captions.push_back(c.caption);
    for (const std::string &caption : UniqueCaptions(captions))
        field(caption, true);
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
