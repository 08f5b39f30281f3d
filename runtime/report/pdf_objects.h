#pragma once
// Private to the report library: a PDF file written page by page. Each
// page's content is compressed and written as soon as the page is done, so
// memory stays the same however many pages a report has; the file keeps
// only the offsets of its objects (a few bytes a page) for the table at its
// end. The text "Página N de M" needs M: each page refers to a small footer
// object of its own that is written once the last page is known.
//
// Text uses the standard Helvetica faces in Windows-1252 (no font is
// embedded); their widths come from libharu's metrics.
#include "rtl/atomicfile.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

enum class PdfFont { Regular, Bold };

// UTF-8 text as Windows-1252 bytes, the encoding of the PDF's standard fonts.
// Characters it lacks and invalid UTF-8 become '?'; control characters
// become spaces; a combining accent joins the letter before it when the
// accented letter exists in Windows-1252.
std::string Utf8ToCp1252(std::string_view text);


// Widths of the standard faces in thousandths of the font size, per
// Windows-1252 byte.
class PdfMetrics {
public:
    static const PdfMetrics &Get();
    float Width(PdfFont font, float size, std::string_view cp1252) const
    {
        const unsigned short *w = widths_[font == PdfFont::Bold];
        unsigned total = 0;
        for (unsigned char c : cp1252)
            total += w[c];
        return static_cast<float>(total) * size / 1000.0f;
    }

private:
    PdfMetrics();
    unsigned short widths_[2][256]{};
};

// The page's drawing, in PDF operators.
class PdfCanvas {
public:
    void Text(PdfFont font, float size, float x, float y, std::string_view cp1252);
    // Several texts in one face: BeginText, any number of TextAt, EndText.
    void BeginText(PdfFont font, float size);
    void TextAt(float x, float y, std::string_view cp1252);
    void EndText() { ops_ += "ET\n"; }
    void Line(float x1, float y1, float x2, float y2, float width, float gray);
    void Fill(float x, float y, float w, float h, float gray);
    void Clear() { ops_.clear(); }
    const std::string &Ops() const { return ops_; }

private:
    void number(float v);
    std::string ops_;
    float lineX_ = 0, lineY_ = 0;  // where the current text line starts
};

class PdfWriter {
public:
    // Writes the file's head into `file`. `title` goes to the document's
    // information (UTF-8).
    PdfWriter(AtomicFile &file, std::string_view title);

    // Adds a page of the given size with the drawing on it. The footer is
    // drawn later with the page number and count, right-aligned at
    // (footerRight, footerBaseline).
    void AddPage(float width, float height, const PdfCanvas &canvas, float footerRight, float footerBaseline);
    std::size_t PageCount() const { return pages_.size(); }
    // Writes the footers, the page tree and the cross-reference table. No
    // page may follow.
    void Finish();

private:
    using ObjectId = std::uint32_t;
    ObjectId reserve();
    void begin(ObjectId id);  // the object starts at the current offset
    void put(std::string_view bytes);
    void flush();
    void stream(ObjectId id, std::string_view data, bool compress);
    void writeLastNode();  // the inner node of kidsOfLastNode_, which it empties

    struct Page {
        ObjectId footer;
        float right, baseline;
    };
    AtomicFile &file_;
    std::string buffer_;
    std::uint64_t written_ = 0;  // bytes already handed to the file
    std::vector<std::uint64_t> offsets_;  // by object id; index 0 unused
    std::vector<Page> pages_;
    std::vector<ObjectId> nodes_;  // the page tree's inner nodes, one per run of kids
    std::vector<ObjectId> kidsOfLastNode_;
    std::string compressed_;
    struct EndDeflate {
        void operator()(struct z_stream_s *z) const;
    };
    std::unique_ptr<struct z_stream_s, EndDeflate> deflater_;
    ObjectId catalog_, root_, regular_, bold_, info_;
};
