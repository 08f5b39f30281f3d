#include "report/pdf_report.h"

#include "rtl/sysutils.h"

#include <hpdf.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

namespace {

// Windows-1252 0x80..0x9F; zero where the code page has no character.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0,
    0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178};

// Combining accents as pairs of (base letter, accented letter) in Windows-1252,
// for text typed on systems that store accents decomposed.
struct Combining {
    char32_t mark;
    const char *pairs;
};
constexpr Combining kCombining[] = {
    {0x0300, "A\xC0" "E\xC8" "I\xCC" "O\xD2" "U\xD9" "a\xE0" "e\xE8" "i\xEC" "o\xF2" "u\xF9"},
    {0x0301, "A\xC1" "E\xC9" "I\xCD" "O\xD3" "U\xDA" "Y\xDD" "a\xE1" "e\xE9" "i\xED" "o\xF3" "u\xFA" "y\xFD"},
    {0x0302, "A\xC2" "E\xCA" "I\xCE" "O\xD4" "U\xDB" "a\xE2" "e\xEA" "i\xEE" "o\xF4" "u\xFB"},
    {0x0303, "A\xC3" "N\xD1" "O\xD5" "a\xE3" "n\xF1" "o\xF5"},
    {0x0308, "A\xC4" "E\xCB" "I\xCF" "O\xD6" "U\xDC" "Y\x9F" "a\xE4" "e\xEB" "i\xEF" "o\xF6" "u\xFC" "y\xFF"},
    {0x0327, "C\xC7" "c\xE7"},
};

void AppendCodePoint(std::string &out, char32_t cp)
{
    if (cp < 0x20 || cp == 0x7F) {
        out += ' ';
    } else if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
        out += static_cast<char>(cp);
    } else {
        for (int i = 0; i < 32; ++i)
            if (kCp1252High[i] == cp) {
                out += static_cast<char>(0x80 + i);
                return;
            }
        for (const auto &c : kCombining)
            if (c.mark == cp && !out.empty())
                for (const char *p = c.pairs; *p; p += 2)
                    if (p[0] == out.back()) {
                        out.back() = p[1];
                        return;
                    }
        out += '?';
    }
}

constexpr float kMargin = 36;
constexpr float kTitleSize = 14;
constexpr float kInfoSize = 9;
constexpr float kSectionSize = 10;
constexpr float kBodySize = 8;
constexpr float kRowHeight = 11;
constexpr float kCellPad = 3;
constexpr float kFooterSpace = 16; // kept free above the bottom margin
constexpr size_t kMaxValueLines = 6;
constexpr size_t kMaxInfoTitle = 1000; // a PDF string holds at most 64K bytes

struct HpdfError {
    HPDF_STATUS code = HPDF_OK;
    HPDF_STATUS detail = 0;
};

// Only records the first error: libharu's C frames cannot be unwound through
// safely, and after an error every later call fails on its own.
void OnHpdfError(HPDF_STATUS code, HPDF_STATUS detail, void *data)
{
    auto *e = static_cast<HpdfError *>(data);
    if (e->code == HPDF_OK) {
        e->code = code;
        e->detail = detail;
    }
}

std::string TrimSpaces(const std::string &s)
{
    size_t b = s.find_first_not_of(' ');
    return b == std::string::npos ? std::string() : s.substr(b, s.find_last_not_of(' ') - b + 1);
}

class PdfBuilder {
public:
    PdfBuilder(const ReportDocument &doc, const std::string &path) : doc_(doc), path_(path) {}

    std::vector<char> Render()
    {
        pdf_.reset(HPDF_New(OnHpdfError, &error_));
        if (!pdf_)
            throw Exception("Sem memória para gerar o relatório \"" + path_ + "\".");
        // Compression is optional: a library built without zlib still writes.
        if (HPDF_SetCompressionMode(Doc(), HPDF_COMP_ALL) != HPDF_OK) {
            HPDF_ResetError(Doc());
            error_ = {};
        }
        // Nested page trees keep a huge report under the PDF array limit.
        HPDF_SetPagesConfiguration(Doc(), 1024);
        regular_ = HPDF_GetFont(Doc(), "Helvetica", "WinAnsiEncoding");
        bold_ = HPDF_GetFont(Doc(), "Helvetica-Bold", "WinAnsiEncoding");
        title_ = Utf8ToCp1252(doc_.title);
        HPDF_SetInfoAttr(Doc(), HPDF_INFO_TITLE, title_.substr(0, kMaxInfoTitle).c_str());
        Check();

        NewPage();
        DrawParameters();
        DrawTable();
        DrawFooters();
        Check();

        HPDF_SaveToStream(Doc());
        Check();
        std::vector<char> bytes(HPDF_GetStreamSize(Doc()));
        size_t done = 0;
        while (done < bytes.size()) {
            HPDF_UINT32 n = static_cast<HPDF_UINT32>(bytes.size() - done);
            HPDF_STATUS st = HPDF_ReadFromStream(Doc(), reinterpret_cast<HPDF_BYTE *>(bytes.data() + done), &n);
            done += n;
            if (st != HPDF_OK || n == 0)
                break;
        }
        Check();
        if (done != bytes.size())
            throw Exception("Falha ao gerar o relatório \"" + path_ + "\": documento incompleto.");
        return bytes;
    }

    int PageCount() const { return static_cast<int>(pages_.size()); }

private:
    HPDF_Doc Doc() const { return pdf_.get(); }

    void Check() const
    {
        if (error_.code == HPDF_OK)
            return;
        char code[32];
        std::snprintf(code, sizeof code, "0x%04X/%u", static_cast<unsigned>(error_.code),
                      static_cast<unsigned>(error_.detail));
        throw Exception("Falha ao gerar o relatório \"" + path_ + "\" (erro " + code + " na montagem do PDF).");
    }

    float ContentWidth() const { return width_ - 2 * kMargin; }

    // Measured in pieces: libharu refuses to measure more than 64K bytes at once.
    static float Width(HPDF_Font font, float size, std::string_view s)
    {
        double units = 0;
        for (size_t at = 0; at < s.size(); at += HPDF_LIMIT_MAX_STRING_LEN) {
            std::string_view piece = s.substr(at, HPDF_LIMIT_MAX_STRING_LEN);
            units += HPDF_Font_TextWidth(font, reinterpret_cast<const HPDF_BYTE *>(piece.data()),
                                         static_cast<HPDF_UINT>(piece.size()))
                         .width;
        }
        return static_cast<float>(units * size / 1000);
    }

    // Length of the longest prefix of `s` no wider than `width`.
    static size_t FitCount(HPDF_Font font, float size, std::string_view s, float width)
    {
        size_t lo = 0, hi = s.size();
        while (lo < hi) {
            size_t mid = lo + (hi - lo + 1) / 2;
            if (Width(font, size, s.substr(0, mid)) <= width)
                lo = mid;
            else
                hi = mid - 1;
        }
        return lo;
    }

    // `s` itself when it fits, else as much as fits followed by "...".
    static std::string Fit(HPDF_Font font, float size, const std::string &s, float width)
    {
        if (Width(font, size, s) <= width)
            return s;
        float room = width - Width(font, size, "...");
        if (room < 0)
            return std::string();
        std::string cut = s.substr(0, FitCount(font, size, s, room));
        cut.erase(cut.find_last_not_of(' ') + 1);
        return cut + "...";
    }

    // Word-wrapped lines of `s`; the last allowed line is cut with "...".
    static std::vector<std::string> Wrap(HPDF_Font font, float size, std::string rest, float width)
    {
        std::vector<std::string> lines;
        rest = TrimSpaces(rest);
        while (!rest.empty()) {
            if (lines.size() + 1 == kMaxValueLines || Width(font, size, rest) <= width) {
                lines.push_back(Fit(font, size, rest, width));
                break;
            }
            size_t cut = std::max<size_t>(1, FitCount(font, size, rest, width));
            if (rest[cut] != ' ') {
                size_t space = rest.rfind(' ', cut);
                if (space != std::string::npos && space > 0)
                    cut = space;
            }
            lines.push_back(TrimSpaces(rest.substr(0, cut)));
            rest = TrimSpaces(rest.substr(cut));
        }
        if (lines.empty())
            lines.emplace_back();
        return lines;
    }

    void Text(HPDF_Font font, float size, float x, float y, const std::string &s)
    {
        if (s.empty())
            return;
        HPDF_Page_BeginText(page_);
        HPDF_Page_SetFontAndSize(page_, font, size);
        HPDF_Page_TextOut(page_, x, y, s.c_str());
        HPDF_Page_EndText(page_);
    }

    void Rule(float y, float gray)
    {
        HPDF_Page_SetGrayStroke(page_, gray);
        HPDF_Page_SetLineWidth(page_, 0.5f);
        HPDF_Page_MoveTo(page_, kMargin, y);
        HPDF_Page_LineTo(page_, width_ - kMargin, y);
        HPDF_Page_Stroke(page_);
    }

    void NewPage()
    {
        page_ = HPDF_AddPage(Doc());
        Check();
        pages_.push_back(page_);
        bool letter = doc_.pageSize.size() == 6 && strncasecmp(doc_.pageSize.c_str(), "letter", 6) == 0;
        HPDF_Page_SetSize(page_, letter ? HPDF_PAGE_SIZE_LETTER : HPDF_PAGE_SIZE_A4,
                          doc_.landscape ? HPDF_PAGE_LANDSCAPE : HPDF_PAGE_PORTRAIT);
        width_ = HPDF_Page_GetWidth(page_);
        height_ = HPDF_Page_GetHeight(page_);

        float y = height_ - kMargin - kTitleSize;
        Text(bold_, kTitleSize, kMargin, y, Fit(bold_, kTitleSize, title_, ContentWidth()));
        y -= kInfoSize + 6;
        float half = ContentWidth() / 2 - 6;
        Text(regular_, kInfoSize, kMargin, y, Fit(regular_, kInfoSize, Utf8ToCp1252(doc_.code), half));
        std::string when = Fit(regular_, kInfoSize, Utf8ToCp1252(doc_.generatedAt), half);
        Text(regular_, kInfoSize, width_ - kMargin - Width(regular_, kInfoSize, when), y, when);
        Rule(y - 5, 0);
        y_ = y - 5 - 12;
        if (inTable_)
            DrawTableHeader();
    }

    // Starts a new page unless `height` still fits above the footer.
    void Room(float height)
    {
        if (y_ - height < kMargin + kFooterSpace)
            NewPage();
    }

    void DrawParameters()
    {
        if (doc_.parameters.empty())
            return;
        Room(kSectionSize + 4 + kRowHeight);
        Text(bold_, kSectionSize, kMargin, y_ - kSectionSize, Utf8ToCp1252("Parâmetros"));
        y_ -= kSectionSize + 6;
        const std::string colon = ": ";
        float labelMax = ContentWidth() / 3;
        for (const auto &[name, value] : doc_.parameters) {
            std::string label =
                Fit(bold_, kBodySize, Utf8ToCp1252(name), labelMax - Width(bold_, kBodySize, colon)) + colon;
            float indent = Width(bold_, kBodySize, label);
            auto lines = Wrap(regular_, kBodySize, Utf8ToCp1252(value), ContentWidth() - indent);
            for (size_t i = 0; i < lines.size(); ++i) {
                Room(kRowHeight);
                float base = y_ - kRowHeight + 3;
                if (i == 0)
                    Text(bold_, kBodySize, kMargin, base, label);
                Text(regular_, kBodySize, kMargin + indent, base, lines[i]);
                y_ -= kRowHeight;
            }
        }
        y_ -= 8;
    }

    static std::string Cell(const std::vector<std::optional<std::string>> &row, size_t col)
    {
        return col < row.size() && row[col] ? Utf8ToCp1252(*row[col]) : std::string();
    }

    // Widths follow the content; when they do not fit, the widest columns are
    // capped at one common width so the narrow ones keep theirs.
    void LayoutColumns()
    {
        const auto &t = doc_.table;
        size_t n = t.columns.size();
        for (const auto &c : t.columns)
            headers_.push_back(Utf8ToCp1252(c));
        widths_.assign(n, 0);
        for (size_t c = 0; c < n; ++c)
            widths_[c] = Width(bold_, kBodySize, headers_[c]);
        for (const auto &row : t.rows)
            for (size_t c = 0; c < n && c < row.size(); ++c)
                if (row[c])
                    widths_[c] = std::max(widths_[c], Width(regular_, kBodySize, Utf8ToCp1252(*row[c])));
        for (float &w : widths_)
            w += 2 * kCellPad;

        float avail = ContentWidth(), total = 0;
        for (float w : widths_)
            total += w;
        if (total > avail) {
            std::vector<float> sorted = widths_;
            std::sort(sorted.begin(), sorted.end());
            float remaining = avail, cap = avail / n;
            size_t left = n;
            for (float w : sorted) {
                if (w * left > remaining) {
                    cap = remaining / left;
                    break;
                }
                remaining -= w;
                --left;
            }
            for (float &w : widths_)
                w = std::min(w, cap);
        } else {
            for (float &w : widths_)
                w *= avail / total;
        }
    }

    void DrawRow(HPDF_Font font, const std::vector<std::string> &cells)
    {
        HPDF_Page_BeginText(page_);
        HPDF_Page_SetFontAndSize(page_, font, kBodySize);
        float x = kMargin, base = y_ - kRowHeight + 3;
        for (size_t c = 0; c < widths_.size(); ++c) {
            std::string text = Fit(font, kBodySize, cells[c], widths_[c] - 2 * kCellPad);
            if (!text.empty())
                HPDF_Page_TextOut(page_, x + kCellPad, base, text.c_str());
            x += widths_[c];
        }
        HPDF_Page_EndText(page_);
        y_ -= kRowHeight;
    }

    void DrawTableHeader()
    {
        HPDF_Page_SetGrayFill(page_, 0.88f);
        HPDF_Page_Rectangle(page_, kMargin, y_ - kRowHeight, ContentWidth(), kRowHeight);
        HPDF_Page_Fill(page_);
        HPDF_Page_SetGrayFill(page_, 0);
        DrawRow(bold_, headers_);
        Rule(y_, 0.4f);
    }

    void DrawTable()
    {
        const auto &t = doc_.table;
        if (t.columns.empty())
            return;
        LayoutColumns();
        Room(2 * kRowHeight); // never a header alone at the bottom of a page
        inTable_ = true;
        DrawTableHeader();
        if (t.rows.empty()) {
            Text(regular_, kBodySize, kMargin + kCellPad, y_ - kRowHeight + 3, "Nenhum registro.");
            y_ -= kRowHeight;
        }
        std::vector<std::string> cells(t.columns.size());
        for (const auto &row : t.rows) {
            Room(kRowHeight);
            for (size_t c = 0; c < cells.size(); ++c)
                cells[c] = Cell(row, c);
            DrawRow(regular_, cells);
        }
        inTable_ = false;
    }

    void DrawFooters()
    {
        for (size_t i = 0; i < pages_.size(); ++i) {
            page_ = pages_[i];
            std::string text = Utf8ToCp1252("Página " + std::to_string(i + 1) + " de " +
                                            std::to_string(pages_.size()));
            Text(regular_, kBodySize, width_ - kMargin - Width(regular_, kBodySize, text), kMargin, text);
        }
    }

    const ReportDocument &doc_;
    const std::string &path_;
    HpdfError error_;
    std::unique_ptr<std::remove_pointer_t<HPDF_Doc>, decltype(&HPDF_Free)> pdf_{nullptr, HPDF_Free};
    HPDF_Font regular_ = nullptr, bold_ = nullptr;
    std::string title_;
    std::vector<HPDF_Page> pages_;
    HPDF_Page page_ = nullptr;
    float width_ = 0, height_ = 0, y_ = 0;
    std::vector<std::string> headers_;
    std::vector<float> widths_;
    bool inTable_ = false;
};

[[noreturn]] void FailWrite(const std::string &path, int err)
{
    throw Exception("Não foi possível gravar o relatório em \"" + path + "\": " + std::strerror(err) + ".");
}

// Writes beside the target and renames over it, so readers never see a
// half-written report and a failure leaves the old one in place.
void ReplaceFile(const std::string &path, const std::vector<char> &bytes)
{
    std::filesystem::path dir = std::filesystem::path(path).parent_path();
    if (dir.empty())
        dir = ".";
    std::random_device random;
    std::string tmp;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        char name[40];
        std::snprintf(name, sizeof name, ".~relatorio-%08x%08x.tmp", random(), random());
        tmp = (dir / name).string();
        fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        FailWrite(path, errno);

    int err = 0;
    for (size_t done = 0; done < bytes.size() && !err;) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += static_cast<size_t>(n);
        else if (n < 0 && errno != EINTR)
            err = errno;
    }
    if (!err && fsync(fd) != 0)
        err = errno;
    if (close(fd) != 0 && !err)
        err = errno;
    if (!err && std::rename(tmp.c_str(), path.c_str()) != 0)
        err = errno;
    if (err) {
        unlink(tmp.c_str());
        FailWrite(path, err);
    }
}

} // namespace

std::string Utf8ToCp1252(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        unsigned char b = static_cast<unsigned char>(s[i]);
        size_t len;
        char32_t cp;
        unsigned char lo = 0x80, hi = 0xBF; // allowed range of the next byte
        if (b < 0x80) {
            len = 1, cp = b;
        } else if (b >= 0xC2 && b <= 0xDF) {
            len = 2, cp = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            len = 3, cp = b & 0x0F;
            lo = b == 0xE0 ? 0xA0 : 0x80; // no overlong forms
            hi = b == 0xED ? 0x9F : 0xBF; // no surrogates
        } else if (b >= 0xF0 && b <= 0xF4) {
            len = 4, cp = b & 0x07;
            lo = b == 0xF0 ? 0x90 : 0x80;
            hi = b == 0xF4 ? 0x8F : 0xBF; // nothing past U+10FFFF
        } else {
            out += '?';
            ++i;
            continue;
        }
        size_t k = 1;
        for (; k < len && i + k < s.size(); ++k) {
            unsigned char c = static_cast<unsigned char>(s[i + k]);
            if (c < lo || c > hi)
                break;
            cp = (cp << 6) | (c & 0x3F);
            lo = 0x80, hi = 0xBF;
        }
        i += k;
        // A broken sequence counts once, however many of its bytes were valid.
        if (k < len)
            out += '?';
        else
            AppendCodePoint(out, cp);
    }
    return out;
}

int WriteReportPdf(const ReportDocument &doc, const std::string &path)
{
    PdfBuilder builder(doc, path);
    std::vector<char> bytes = builder.Render();
    ReplaceFile(path, bytes);
    return builder.PageCount();
}
