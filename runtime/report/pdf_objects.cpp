#include "report/pdf_objects.h"

#include "rtl/utf8.h"

#include <hpdf.h>
#include <zlib.h>

#include <charconv>
#include <cmath>
#include <cstdio>

namespace {
constexpr std::size_t kFlushAt = 1 << 16;
constexpr std::size_t kKidsPerNode = 256;  // pages under one inner node of the page tree

void noError(HPDF_STATUS, HPDF_STATUS, void *) {}

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

void appendNumber(std::string &out, float v)
{
    // Two decimals are finer than any printer; integers print bare.
    const long scaled = std::lround(static_cast<double>(v) * 100.0);
    char buf[24];
    long whole = scaled / 100, cents = scaled % 100;
    if (cents < 0)
        cents = -cents;
    if (scaled < 0 && whole == 0)
        out += '-';
    auto r = std::to_chars(buf, buf + sizeof buf, whole);
    out.append(buf, r.ptr);
    if (cents) {
        out += '.';
        out += static_cast<char>('0' + cents / 10);
        if (cents % 10)
            out += static_cast<char>('0' + cents % 10);
    }
}

void appendString(std::string &out, std::string_view cp1252)
{
    out += '(';
    for (char c : cp1252) {
        if (c == '(' || c == ')' || c == '\\')
            out += '\\';
        out += c;
    }
    out += ')';
}

std::string id(std::uint32_t n) { return std::to_string(n) + " 0 R"; }
} // namespace

PdfMetrics::PdfMetrics()
{
    // Only the metrics are wanted: a document of no pages, freed at once.
    HPDF_Doc doc = HPDF_New(noError, nullptr);
    if (!doc)
        return;
    const char *names[2] = {"Helvetica", "Helvetica-Bold"};
    for (int f = 0; f < 2; ++f) {
        HPDF_Font font = HPDF_GetFont(doc, names[f], "WinAnsiEncoding");
        for (int c = 1; c < 256; ++c) {
            const HPDF_BYTE b = static_cast<HPDF_BYTE>(c);
            widths_[f][c] = font ? static_cast<unsigned short>(HPDF_Font_TextWidth(font, &b, 1).width) : 556;
        }
    }
    HPDF_Free(doc);
}

const PdfMetrics &PdfMetrics::Get()
{
    static const PdfMetrics metrics;
    return metrics;
}

void PdfCanvas::number(float v)
{
    appendNumber(ops_, v);
    ops_ += ' ';
}

void PdfCanvas::Text(PdfFont font, float size, float x, float y, std::string_view cp1252)
{
    if (cp1252.empty())
        return;
    ops_ += font == PdfFont::Bold ? "BT /F2 " : "BT /F1 ";
    number(size);
    ops_ += "Tf ";
    number(x);
    number(y);
    ops_ += "Td ";
    appendString(ops_, cp1252);
    ops_ += " Tj ET\n";
}

void PdfCanvas::BeginText(PdfFont font, float size)
{
    ops_ += font == PdfFont::Bold ? "BT /F2 " : "BT /F1 ";
    number(size);
    ops_ += "Tf\n";
    lineX_ = lineY_ = 0;
}

void PdfCanvas::TextAt(float x, float y, std::string_view cp1252)
{
    if (cp1252.empty())
        return;
    // Moves from the line before: a row's cells repeat the same offsets,
    // which compress far better than absolute positions.
    number(x - lineX_);
    number(y - lineY_);
    ops_ += "Td ";
    lineX_ = x;
    lineY_ = y;
    appendString(ops_, cp1252);
    ops_ += " Tj\n";
}

void PdfCanvas::Line(float x1, float y1, float x2, float y2, float width, float gray)
{
    number(gray);
    ops_ += "G ";
    number(width);
    ops_ += "w ";
    number(x1);
    number(y1);
    ops_ += "m ";
    number(x2);
    number(y2);
    ops_ += "l S\n";
}

void PdfCanvas::Fill(float x, float y, float w, float h, float gray)
{
    number(gray);
    ops_ += "g ";
    number(x);
    number(y);
    number(w);
    number(h);
    ops_ += "re f 0 g\n";
}

PdfWriter::PdfWriter(AtomicFile &file, std::string_view title) : file_(file)
{
    offsets_.push_back(0);
    catalog_ = reserve();
    root_ = reserve();
    regular_ = reserve();
    bold_ = reserve();
    info_ = reserve();
    buffer_.reserve(kFlushAt * 2);
    // The binary comment tells transfer programs the file is not text.
    put("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
    begin(catalog_);
    put("<< /Type /Catalog /Pages " + id(root_) + " >>\nendobj\n");
    begin(regular_);
    put("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>\nendobj\n");
    begin(bold_);
    put("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica-Bold /Encoding /WinAnsiEncoding >>\nendobj\n");
    // The title as UTF-16 with its byte-order mark, so accents survive.
    std::string hex = "FEFF";
    char buf[8];
    for (char32_t c : utf8::decode(std::string(title.substr(0, 1000)))) {
        if (c > 0xFFFF) {
            c -= 0x10000;
            std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(0xD800 + (c >> 10)));
            hex += buf;
            c = 0xDC00 + (c & 0x3FF);
        }
        std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(c));
        hex += buf;
    }
    begin(info_);
    put("<< /Title <" + hex + "> /Producer (fishost) >>\nendobj\n");
}

void PdfWriter::EndDeflate::operator()(z_stream *z) const
{
    deflateEnd(z);
    delete z;
}

PdfWriter::ObjectId PdfWriter::reserve()
{
    offsets_.push_back(0);
    return static_cast<ObjectId>(offsets_.size() - 1);
}

void PdfWriter::begin(ObjectId object)
{
    offsets_[object] = written_ + buffer_.size();
    put(std::to_string(object) + " 0 obj\n");
}

void PdfWriter::put(std::string_view bytes)
{
    buffer_.append(bytes);
    if (buffer_.size() >= kFlushAt)
        flush();
}

void PdfWriter::flush()
{
    file_.Write(buffer_);
    written_ += buffer_.size();
    buffer_.clear();
}

void PdfWriter::stream(ObjectId object, std::string_view data, bool compress)
{
    begin(object);
    if (compress) {
        // One compressor for every page: setting one up costs a quarter of a
        // megabyte each time.
        z_stream *z = deflater_.get();
        if (!z) {
            deflater_.reset(z = new z_stream{});
            if (deflateInit(z, Z_DEFAULT_COMPRESSION) != Z_OK) {
                deflater_.reset();
                throw Exception("Falha ao compactar uma página do relatório.");
            }
        } else {
            deflateReset(z);
        }
        const uLong size = deflateBound(z, static_cast<uLong>(data.size()));
        if (compressed_.size() < size)
            compressed_.resize(size);
        z->next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
        z->avail_in = static_cast<uInt>(data.size());
        z->next_out = reinterpret_cast<Bytef *>(compressed_.data());
        z->avail_out = static_cast<uInt>(compressed_.size());
        if (deflate(z, Z_FINISH) != Z_STREAM_END)
            throw Exception("Falha ao compactar uma página do relatório.");
        const std::size_t size2 = z->total_out;
        put("<< /Length " + std::to_string(size2) + " /Filter /FlateDecode >>\nstream\n");
        put(std::string_view(compressed_.data(), size2));
    } else {
        put("<< /Length " + std::to_string(data.size()) + " >>\nstream\n");
        put(data);
    }
    put("\nendstream\nendobj\n");
}

void PdfWriter::AddPage(float width, float height, const PdfCanvas &canvas, float footerRight, float footerBaseline)
{
    if (pages_.size() % kKidsPerNode == 0)
        nodes_.push_back(reserve());
    const ObjectId content = reserve(), footer = reserve(), page = reserve();
    stream(content, canvas.Ops(), true);
    begin(page);
    std::string dict = "<< /Type /Page /Parent " + id(nodes_.back()) + " /MediaBox [0 0 ";
    appendNumber(dict, width);
    dict += ' ';
    appendNumber(dict, height);
    dict += "] /Resources << /Font << /F1 " + id(regular_) + " /F2 " + id(bold_) + " >> >> /Contents [" +
            id(content) + " " + id(footer) + "] >>\nendobj\n";
    put(dict);
    pages_.push_back({footer, footerRight, footerBaseline});
    kidsOfLastNode_.push_back(page);
    // A full node goes out now, so only the last one's kids are kept.
    if (kidsOfLastNode_.size() == kKidsPerNode)
        writeLastNode();
}

void PdfWriter::writeLastNode()
{
    std::string kids;
    for (ObjectId k : kidsOfLastNode_)
        kids += id(k) + " ";
    begin(nodes_.back());
    put("<< /Type /Pages /Parent " + id(root_) + " /Count " + std::to_string(kidsOfLastNode_.size()) + " /Kids [" +
        kids + "] >>\nendobj\n");
    kidsOfLastNode_.clear();
}

void PdfWriter::Finish()
{
    if (!kidsOfLastNode_.empty())
        writeLastNode();
    const std::string total = std::to_string(pages_.size());
    const PdfMetrics &metrics = PdfMetrics::Get();
    PdfCanvas footer;
    for (std::size_t i = 0; i < pages_.size(); ++i) {
        const std::string text = Utf8ToCp1252("Página " + std::to_string(i + 1) + " de " + total);
        footer.Clear();
        footer.Text(PdfFont::Regular, 8, pages_[i].right - metrics.Width(PdfFont::Regular, 8, text), pages_[i].baseline,
                    text);
        stream(pages_[i].footer, footer.Ops(), false);
    }
    std::string kids;
    for (ObjectId n : nodes_)
        kids += id(n) + " ";
    begin(root_);
    put("<< /Type /Pages /Count " + total + " /Kids [" + kids + "] >>\nendobj\n");

    const std::uint64_t xref = written_ + buffer_.size();
    put("xref\n0 " + std::to_string(offsets_.size()) + "\n0000000000 65535 f \n");
    char entry[24];
    for (std::size_t i = 1; i < offsets_.size(); ++i) {
        std::snprintf(entry, sizeof entry, "%010llu 00000 n \n", static_cast<unsigned long long>(offsets_[i]));
        put(entry);
    }
    put("trailer\n<< /Size " + std::to_string(offsets_.size()) + " /Root " + id(catalog_) + " /Info " + id(info_) +
        " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n");
    flush();
}

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
