// The edit-mask engine under any mask and any run of keys, deletes, caret
// moves and texts set from code.
//
// Input: the mask up to the first newline, then operations, one byte each
// (the ones with an operand take the next bytes).
#include "rtl/utf8.h"
#include "vcl/mask_engine.h"

#include "fuzz_require.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {
// A code point from the input, never a surrogate or past the last one.
char32_t codePoint(const uint8_t *&p, const uint8_t *end)
{
    char32_t c = *p++;
    if (c >= 0xF0 && end - p >= 2) {
        c = (static_cast<char32_t>(p[0]) << 8 | p[1]) + 0x80;
        p += 2;
    }
    if (c >= 0xD800 && c <= 0xDFFF)
        c = U'?';
    return c;
}

void checkState(const MaskEngine &m)
{
    require(m.caret() >= 0 && m.caret() <= std::max(m.positionCount(), static_cast<int>(utf8::length(m.text()))));
    if (m.hasMask()) {
        require(utf8::length(m.displayText()) == static_cast<std::size_t>(m.positionCount()));
        require(utf8::length(m.text()) <= static_cast<std::size_t>(m.positionCount()));
    }
    // What the engine gives back is text a control can show.
    require(utf8::encode(utf8::decode(m.text())) == m.text());
    require(utf8::encode(utf8::decode(m.displayText())) == m.displayText());
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const uint8_t *p = data, *end = data + size;
    std::string mask;
    while (p < end && *p != '\n' && mask.size() < 256)
        mask += static_cast<char>(*p++);
    if (p < end)
        ++p;
    MaskEngine m(mask);
    checkState(m);
    int operations = 0;
    while (p < end && ++operations < 512) {
        const uint8_t op = *p++;
        switch (op) {
        case 0x01: m.selectAll(); break;
        case 0x02: m.deleteSelection(); break;
        case 0x03: m.clear(); break;
        case 0x04:
            if (p < end)
                m.setCaret(static_cast<int>(*p++) - 8);
            break;
        case 0x05: {  // a text from code, up to the next 0x05
            std::string text;
            while (p < end && *p != 0x05 && text.size() < 128)
                text += static_cast<char>(*p++);
            m.setText(utf8::encode(utf8::decode(text)));
            break;
        }
        case 0x06: {  // another mask, up to the next 0x06
            std::string other;
            while (p < end && *p != 0x06 && other.size() < 128)
                other += static_cast<char>(*p++);
            m.setMask(other);
            break;
        }
        default: {
            --p;
            bool changed = false;
            m.typeKey(codePoint(p, end), &changed);
            break;
        }
        }
        checkState(m);
    }
    (void)m.isComplete();
    (void)m.editableCount();
    return 0;
}
