#include "report/values.h"

#include "rtl/datetime.h"
#include "rtl/sysutils.h"
#include "rtl/utf8.h"

#include <algorithm>
#include <climits>

namespace {
constexpr unsigned long long kPowers[] = {1ULL,
                                          10ULL,
                                          100ULL,
                                          1000ULL,
                                          10000ULL,
                                          100000ULL,
                                          1000000ULL,
                                          10000000ULL,
                                          100000000ULL,
                                          1000000000ULL,
                                          10000000000ULL,
                                          100000000000ULL,
                                          1000000000000ULL,
                                          10000000000000ULL,
                                          100000000000000ULL,
                                          1000000000000000ULL,
                                          10000000000000000ULL,
                                          100000000000000000ULL,
                                          1000000000000000000ULL};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

} // namespace

int DecimalPlaces(const ValueFormat &format)
{
    using K = ValueFormat::Kind;
    switch (format.kind) {
    case K::Money: return 2;
    case K::Quantity: return 3;
    case K::Integer: return 0;
    case K::Percent: return 2;
    case K::Decimal: return format.decimals;
    default: return -1;
    }
}

std::optional<long long> ParseScaled(std::string_view text, int places)
{
    text = TrimBlanks(text);
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    // Significant digits, and the power of ten of the last one.
    char digits[40];
    std::size_t count = 0;
    long exponent = 0;
    bool any = false;
    auto take = [&](char c, bool fraction) {
        any = true;
        if (count == 0 && c == '0') {
            if (fraction)
                --exponent;
            return;
        }
        if (count < sizeof digits) {
            digits[count++] = c;
            if (fraction)
                --exponent;
        } else if (!fraction) {
            ++exponent;  // beyond what could ever fit; only its size counts
        }
    };
    for (; i < text.size() && isDigit(text[i]); ++i)
        take(text[i], false);
    if (i < text.size() && text[i] == '.')
        for (++i; i < text.size() && isDigit(text[i]); ++i)
            take(text[i], true);
    if (!any)
        return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < text.size() && (text[i] == '-' || text[i] == '+'))
            negativeExponent = text[i++] == '-';
        if (i == text.size() || !isDigit(text[i]))
            return std::nullopt;
        long e = 0;
        for (; i < text.size() && isDigit(text[i]); ++i)
            e = e < 100000 ? e * 10 + (text[i] - '0') : e;
        exponent += negativeExponent ? -e : e;
    }
    if (i != text.size())
        return std::nullopt;
    if (count == 0)
        return 0LL;
    const long shift = exponent + places;  // units = digits * 10^shift
    unsigned long long magnitude = 0;
    const long keep = static_cast<long>(count) + shift;  // digits left of the units point
    if (keep > 19)
        return std::nullopt;
    for (long d = 0; d < keep; ++d) {
        const int digit = d < static_cast<long>(count) ? digits[d] - '0' : 0;
        if (magnitude > (ULLONG_MAX - static_cast<unsigned>(digit)) / 10)
            return std::nullopt;
        magnitude = magnitude * 10 + static_cast<unsigned>(digit);
    }
    // Half away from zero: the first digit dropped decides.
    if (keep >= 0 && keep < static_cast<long>(count) && digits[keep] >= '5')
        ++magnitude;
    if (magnitude > static_cast<unsigned long long>(LLONG_MAX))
        return std::nullopt;
    const long long units = static_cast<long long>(magnitude);
    return negative ? -units : units;
}

std::string FormatScaled(long long units, int places, bool groupThousands)
{
    const bool negative = units < 0;
    const unsigned long long magnitude =
        negative ? 0ULL - static_cast<unsigned long long>(units) : static_cast<unsigned long long>(units);
    const unsigned long long scale = kPowers[places < 0 ? 0 : places > 18 ? 18 : places];
    const std::string whole = std::to_string(magnitude / scale);
    std::string out;
    out.reserve(whole.size() + whole.size() / 3 + static_cast<std::size_t>(places) + 3);
    if (negative && magnitude != 0)
        out += '-';
    for (std::size_t i = 0; i < whole.size(); ++i) {
        if (groupThousands && i > 0 && (whole.size() - i) % 3 == 0)
            out += '.';
        out += whole[i];
    }
    if (places > 0) {
        out += ',';
        const std::string fraction = std::to_string(magnitude % scale);
        out.append(static_cast<std::size_t>(places) - fraction.size(), '0');
        out += fraction;
    }
    return out;
}

std::string FormatProductCode(std::string_view code, std::string_view editMask)
{
    // Literal positions of the mask, as the edit shows them (blank "_" is a space).
    std::u32string mask;  // 0 for a position a character fills
    const std::u32string m = utf8::decode(std::string(editMask.substr(0, editMask.find(';'))));
    for (std::size_t i = 0; i < m.size(); ++i) {
        switch (m[i]) {
        case U'\\': mask += i + 1 < m.size() ? m[++i] : U'\\'; break;
        case U'!': case U'>': case U'<': break;
        case U'9': case U'0': case U'#': case U'a': case U'A': case U'l': case U'L': case U'c': case U'C':
            mask += char32_t(0);
            break;
        case U'_': mask += U' '; break;
        default: mask += m[i]; break;
        }
    }
    const std::u32string raw = utf8::decode(std::string(code));
    if (mask.empty())
        return std::string(code);
    std::u32string out;
    std::size_t at = 0;
    for (std::size_t p = 0; p < mask.size() && at < raw.size(); ++p) {
        if (mask[p] == 0) {
            out += raw[at++];
        } else {
            out += mask[p];
            if (raw[at] == mask[p])
                ++at;  // the code already has this literal
        }
    }
    out.append(raw, at, std::u32string::npos);
    return utf8::encode(out);
}

std::string FormatValue(std::string_view raw, const ValueFormat &format, std::string_view productMask)
{
    using K = ValueFormat::Kind;
    switch (format.kind) {
    case K::Text: return std::string(raw);
    case K::Money:
    case K::Quantity:
    case K::Integer:
    case K::Decimal:
    case K::Percent: {
        const int places = DecimalPlaces(format);
        const auto units = ParseScaled(raw, places);
        if (!units)
            return std::string(raw);
        std::string text = FormatScaled(*units, places);
        if (format.kind == K::Percent)
            text += " %";
        return text;
    }
    case K::Cfop: {
        const std::string_view t = TrimBlanks(raw);
        if (t.size() == 4 && isDigit(t[0]) && isDigit(t[1]) && isDigit(t[2]) && isDigit(t[3]))
            return std::string(t.substr(0, 1)) + "." + std::string(t.substr(1));
        return std::string(raw);
    }
    case K::Date: return FormatDateText(TrimBlanks(raw));
    case K::Month: {
        const std::string day = FormatDateText(TrimBlanks(raw));
        return day.size() == 10 && day[2] == '/' ? day.substr(3) : day;
    }
    case K::TaxId: {
        const std::string_view t = TrimBlanks(raw);
        if (!std::all_of(t.begin(), t.end(), isDigit))
            return std::string(raw);
        const std::string d(t);
        if (d.size() == 14)
            return d.substr(0, 2) + "." + d.substr(2, 3) + "." + d.substr(5, 3) + "/" + d.substr(8, 4) + "-" + d.substr(12);
        if (d.size() == 11)
            return d.substr(0, 3) + "." + d.substr(3, 3) + "." + d.substr(6, 3) + "-" + d.substr(9);
        return std::string(raw);
    }
    case K::Product: return FormatProductCode(TrimBlanks(raw), productMask);
    case K::List: {
        std::string out;
        std::size_t start = 0;
        while (start <= raw.size()) {
            std::size_t comma = raw.find(',', start);
            if (comma == std::string_view::npos)
                comma = raw.size();
            const std::string_view item = TrimBlanks(raw.substr(start, comma - start));
            if (!item.empty())
                out.append(out.empty() ? "" : ", ").append(item);
            start = comma + 1;
        }
        return out;
    }
    }
    return std::string(raw);
}
