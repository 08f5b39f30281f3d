#include "report/pdf_objects.h"

#include "report/pdf_report.h"
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
    if (kidsOfLastNode_.size() == kKidsPerNode) {
        // A full node goes out now, so only the last one's kids are kept.
        std::string kids;
        for (ObjectId k : kidsOfLastNode_)
            kids += id(k) + " ";
        begin(nodes_.back());
        put("<< /Type /Pages /Parent " + id(root_) + " /Count " + std::to_string(kidsOfLastNode_.size()) +
            " /Kids [" + kids + "] >>\nendobj\n");
        kidsOfLastNode_.clear();
    }
}

void PdfWriter::Finish()
{
    if (!kidsOfLastNode_.empty()) {
        std::string kids;
        for (ObjectId k : kidsOfLastNode_)
            kids += id(k) + " ";
        begin(nodes_.back());
        put("<< /Type /Pages /Parent " + id(root_) + " /Count " + std::to_string(kidsOfLastNode_.size()) +
            " /Kids [" + kids + "] >>\nendobj\n");
        kidsOfLastNode_.clear();
    }
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
