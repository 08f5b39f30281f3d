#include "data/firebird/values.h"

#include "data/dberrors.h"
#include "data/numbertext.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {
constexpr int kCharsetOctets = 1;

// "1.50" -> "1.5", "2.00" -> "2": the form the other engines give a number.
std::string decimalText(std::string s)
{
    if (s.find('.') == std::string::npos)
        return s;
    while (!s.empty() && s.back() == '0')
        s.pop_back();
    if (!s.empty() && s.back() == '.')
        s.pop_back();
    return s == "-0" ? "0" : s;
}

std::string dateText(const std::tm &t, int type)
{
    char buf[80];
    if (type == SQL_TYPE_TIME)
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.tm_hour, t.tm_min, t.tm_sec);
    else if (type == SQL_TIMESTAMP && (t.tm_hour || t.tm_min || t.tm_sec))
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900,
                      t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    else
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
    return buf;
}

// True when `s` has the shape of `pattern`, where '9' stands for a digit; the
// optional tail of `pattern` starts at each '|'.
bool hasShape(const std::string &s, const std::string &pattern)
{
    std::size_t i = 0;
    for (std::size_t p = 0; p < pattern.size(); ++p) {
        if (pattern[p] == '|') {
            if (i == s.size())
                return true;
            continue;
        }
        if (i == s.size())
            return false;
        const bool ok = pattern[p] == '9' ? (s[i] >= '0' && s[i] <= '9') : s[i] == pattern[p];
        if (!ok)
            return false;
        ++i;
    }
    return i == s.size();
}

// A fetched date, time or timestamp as the client library decodes it.
template <class Value, class Decode>
std::tm decoded(const char *data, Decode decode)
{
    Value v;
    std::memcpy(&v, data, sizeof v);
    std::tm t{};
    decode(&v, &t);
    return t;
}

} // namespace

std::string FirebirdParamText(const Variant &v, int type)
{
    const bool isDate = type == SQL_TYPE_DATE || type == SQL_TYPE_TIME || type == SQL_TIMESTAMP;
    if (isDate && v.kind() == Variant::Kind::Text) {
        // The server would also take "01/02/2024", as month first: only the ISO
        // form the other engines compare is let through.
        std::string text = v.asString();
        if (text.size() > 10 && text[10] == 'T')
            text[10] = ' ';
        const bool ok = type == SQL_TYPE_TIME ? hasShape(text, "99:99|:99|.9|9|9|9")
                                              : hasShape(text, "9999-99-99| 99:99|:99|.9|9|9|9");
        if (!ok)
            throw EDatabaseError("Data ou hora fora do formato AAAA-MM-DD HH:MM:SS: '" + text + "'.");
        return text;
    }
    if (!isDate)
        return v.asString();
    const std::string full = Variant(v.asDateTime()).asString();  // "YYYY-MM-DD[ HH:MM:SS]"
    if (type == SQL_TYPE_DATE)
        return full.substr(0, 10);
    if (type == SQL_TYPE_TIME)
        return full.size() > 11 ? full.substr(11) : "00:00:00";
    return full;
}

std::optional<std::string> FirebirdCellText(const XSQLVAR &var, const FirebirdColumnType &col)
{
    if ((var.sqltype & 1) && var.sqlind && *var.sqlind < 0)
        return std::nullopt;
    const char *data = var.sqldata;
    switch (baseType(var)) {
    case SQL_VARYING: {
        ISC_USHORT length = 0;
        std::memcpy(&length, data, sizeof length);
        std::string s(data + sizeof length, std::min<std::size_t>(length, static_cast<std::size_t>(var.sqllen)));
        if (isInteger(col.type) && col.scale < 0)
            s = decimalText(std::move(s));
        return s;
    }
    case SQL_TEXT: {
        std::string s(data, static_cast<std::size_t>(var.sqllen));
        // CHAR pads to its length; every byte of a binary CHAR is data (OCTETS
        // pads with zero bytes, and a trailing 0x20 is data).
        if (col.charset != kCharsetOctets)
            s.erase(s.find_last_not_of(' ') + 1);
        return s;
    }
    case SQL_FLOAT: {
        float f;
        std::memcpy(&f, data, sizeof f);
        return NumberText(f);
    }
    case SQL_DOUBLE:
    case SQL_D_FLOAT: {
        double d;
        std::memcpy(&d, data, sizeof d);
        return NumberText(d);
    }
    case SQL_TIMESTAMP: return dateText(decoded<ISC_TIMESTAMP>(data, isc_decode_timestamp), SQL_TIMESTAMP);
    case SQL_TYPE_DATE: return dateText(decoded<ISC_DATE>(data, isc_decode_sql_date), SQL_TYPE_DATE);
    case SQL_TYPE_TIME: return dateText(decoded<ISC_TIME>(data, isc_decode_sql_time), SQL_TYPE_TIME);
    default:
        throw EDatabaseError("Tipo sem suporte na coluna '" +
                             std::string(var.aliasname, static_cast<std::size_t>(var.aliasname_length)) + "'.");
    }
}

std::size_t FirebirdBufferSize(const XSQLVAR &var)
{
    switch (baseType(var)) {
    case SQL_VARYING: return static_cast<std::size_t>(var.sqllen) + sizeof(ISC_USHORT);
    case SQL_TEXT: return static_cast<std::size_t>(var.sqllen);
    case SQL_FLOAT: return sizeof(float);
    case SQL_DOUBLE:
    case SQL_D_FLOAT: return sizeof(double);
    case SQL_TIMESTAMP: return sizeof(ISC_TIMESTAMP);
    case SQL_TYPE_DATE: return sizeof(ISC_DATE);
    case SQL_TYPE_TIME: return sizeof(ISC_TIME);
    default: return std::max<std::size_t>(static_cast<std::size_t>(var.sqllen), 8);
    }
}
