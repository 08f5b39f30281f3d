#include "data/variant.h"

#include "data/numbertext.h"
#include "rtl/sysutils.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace {
std::string dateTimeText(TDateTime d)
{
    double day = std::floor(d.Val);
    int seconds = static_cast<int>(std::lround((d.Val - day) * 86400.0));
    if (seconds >= 86400) {  // rounding reached midnight: it is the next day
        day += 1;
        seconds = 0;
    }
    std::string text = DateToIso(TDateTime(day));
    if (seconds == 0)
        return text;
    char buf[32];
    std::snprintf(buf, sizeof buf, " %02d:%02d:%02d", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
    return text + buf;
}
} // namespace

std::string Variant::asString() const
{
    switch (kind()) {
    case Kind::Null: return {};
    case Kind::Text: return std::get<std::string>(value_);
    case Kind::DateTime: return dateTimeText(std::get<TDateTime>(value_));
    case Kind::Number: return NumberText(std::get<double>(value_));
    }
    return {};
}

TDateTime Variant::asDateTime() const
{
    if (kind() == Kind::DateTime)
        return std::get<TDateTime>(value_);
    if (kind() == Kind::Number)
        return TDateTime(std::get<double>(value_));
    throw EConvertError("Valor '" + asString() + "' não é uma data.");
}

double Variant::asNumber() const
{
    switch (kind()) {
    case Kind::Number: return std::get<double>(value_);
    case Kind::DateTime: return std::get<TDateTime>(value_).Val;
    case Kind::Null: throw EConvertError("Valor nulo não é um número.");
    case Kind::Text: break;
    }
    const std::string text = Trim(std::get<std::string>(value_));
    const char *begin = text.data();
    const char *end = begin + text.size();
    if (begin != end && *begin == '+')
        ++begin;
    double n = 0;
    auto res = std::from_chars(begin, end, n);
    if (text.empty() || res.ec != std::errc() || res.ptr != end)
        throw EConvertError("'" + std::get<std::string>(value_) + "' não é um número válido.");
    return n;
}
