#include "rtl/utf8.h"

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

namespace utf8 {

std::u32string decode(const std::string &text)
{
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        char32_t cp = 0;
        int extra = 0;
        if (c < 0x80) { cp = c; }
        else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; extra = 1; }
        else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; extra = 2; }
        else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; extra = 3; }
        else { out.push_back(0xFFFD); ++i; continue; }
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            if (i + k >= text.size()) { ok = false; break; }
            unsigned char cc = static_cast<unsigned char>(text[i + k]);
            if ((cc & 0xC0) != 0x80) { ok = false; break; }
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (!ok) { out.push_back(0xFFFD); ++i; continue; }
        out.push_back(cp);
        i += extra + 1;
    }
    return out;
}

std::string encode(char32_t c)
{
    std::string out;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

std::string encode(const std::u32string &text)
{
    std::string out;
    out.reserve(text.size());
    for (char32_t c : text)
        out += encode(c);
    return out;
}

std::size_t length(const std::string &text)
{
    std::size_t n = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80)
            ++n;
    return n;
}

// Latin-1 supplement covers every accented letter of Portuguese.
char32_t toUpper(char32_t c)
{
    if (c >= U'a' && c <= U'z')
        return c - 32;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
        return c - 32;
    return c;
}

bool isLetter(char32_t c)
{
    return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z') ||
           (c >= 0xC0 && c <= 0xFF && c != 0xD7 && c != 0xF7);
}

bool isDigit(char32_t c) { return c >= U'0' && c <= U'9'; }

std::string upper(const std::string &text)
{
    std::u32string s = decode(text);
    for (auto &c : s)
        c = toUpper(c);
    return encode(s);
}

// The base letter of U+00C0..U+00FF in upper case; 0 where there is none
// (Æ, Ð, ×, Þ, ß, ÷...), which stays as it is.
namespace {
constexpr char kLatin1Base[64 + 1] =
    "AAAAAA\0CEEEEIIII\0NOOOOO\0OUUUUY\0\0"
    "AAAAAA\0CEEEEIIII\0NOOOOO\0OUUUUY\0Y";
} // namespace

void foldForSearch(std::string_view text, std::string &out)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            out += c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : static_cast<char>(c);
            continue;
        }
        // Two bytes from U+00C0 to U+00FF: 0xC3 and 0x80..0xBF.
        if (c == 0xC3 && i + 1 < text.size()) {
            const auto next = static_cast<unsigned char>(text[i + 1]);
            if (next >= 0x80 && next <= 0xBF) {
                if (const char base = kLatin1Base[next - 0x80]) {
                    out += base;
                    ++i;
                    continue;
                }
            }
        }
        out += static_cast<char>(c);
    }
}

std::string nfc(const std::string &text)
{
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2 *form = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status))
        return text;
    const icu::UnicodeString source = icu::UnicodeString::fromUTF8(text);
    if (form->isNormalized(source, status) && U_SUCCESS(status))
        return text;
    status = U_ZERO_ERROR;
    const icu::UnicodeString normal = form->normalize(source, status);
    if (U_FAILURE(status))
        return text;
    std::string out;
    return normal.toUTF8String(out);
}
} // namespace utf8
