#include "rtl/datetime.h"

#include "rtl/sysutils.h"

#include <cmath>
#include <cstdio>

namespace {
bool isLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int daysInMonth(int y, int m)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : days[m - 1];
}
// Days from civil, proleptic Gregorian (Howard Hinnant's algorithm).
long daysFromCivil(int y, int m, int d)
{
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long>(doe) - 719468;
}
const long kEpochOffset = daysFromCivil(1899, 12, 30);
} // namespace

bool IsValidDate(int year, int month, int day)
{
    return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
           day <= daysInMonth(year, month);
}

TDateTime EncodeDate(int year, int month, int day)
{
    if (!IsValidDate(year, month, day))
        throw EConvertError("Data inválida.");
    return TDateTime(static_cast<double>(daysFromCivil(year, month, day) - kEpochOffset));
}

void DecodeDate(TDateTime dt, int &year, int &month, int &day)
{
    long z = static_cast<long>(std::floor(dt.Val)) + kEpochOffset + 719468;
    const long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long y = static_cast<long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

std::string FormatDate(TDateTime date, DateFormat format)
{
    int y, m, d;
    DecodeDate(date, y, m, d);
    char buf[32] = "";
    switch (format) {
    case DateFormat::Br: std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", d, m, y); break;
    case DateFormat::Iso: std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d); break;
    case DateFormat::Compact: std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, m, d); break;
    }
    return buf;
}

std::optional<TDateTime> ParseIsoDate(std::string_view text)
{
    auto digits = [&](std::size_t at, std::size_t count) {
        int n = 0;
        for (std::size_t i = at; i < at + count; ++i) {
            if (text[i] < '0' || text[i] > '9')
                return -1;
            n = n * 10 + (text[i] - '0');
        }
        return n;
    };
    if (text.size() < 10 || text[4] != '-' || text[7] != '-' ||
        (text.size() > 10 && text[10] != ' ' && text[10] != 'T'))
        return std::nullopt;
    const int y = digits(0, 4), m = digits(5, 2), d = digits(8, 2);
    if (y < 0 || m < 0 || d < 0 || !IsValidDate(y, m, d))
        return std::nullopt;
    return EncodeDate(y, m, d);
}

std::string FormatDateText(std::string_view isoText, DateFormat format)
{
    if (const auto date = ParseIsoDate(isoText))
        return FormatDate(*date, format);
    return std::string(isoText);
}

std::optional<TDateTime> ParseDateBr(const std::string &text)
{
    int d = 0, m = 0, y = 0;
    char tail = 0;
    if (text.size() != 10 || text[2] != '/' || text[5] != '/')
        return std::nullopt;
    for (std::size_t i : {0u, 1u, 3u, 4u, 6u, 7u, 8u, 9u})
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
    if (std::sscanf(text.c_str(), "%2d/%2d/%4d%c", &d, &m, &y, &tail) != 3)
        return std::nullopt;
    if (!IsValidDate(y, m, d))
        return std::nullopt;
    return EncodeDate(y, m, d);
}
