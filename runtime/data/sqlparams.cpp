#include "data/sqlparams.h"

#include "rtl/utf8.h"

namespace {
// Any byte of a multi-byte character counts as a name character, as SQLite does.
bool nameStart(char c)
{
    auto u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || u == '_' || u >= 0x80;
}
bool nameChar(char c) { return nameStart(c) || (c >= '0' && c <= '9'); }

} // namespace

std::size_t SkipQuotedRun(const std::string &sql, std::size_t i)
{
    const char quote = sql[i];
    for (++i; i < sql.size(); ++i) {
        if (sql[i] != quote)
            continue;
        if (i + 1 < sql.size() && sql[i + 1] == quote)
            ++i;
        else
            return i + 1;
    }
    return sql.size();
}

std::vector<ParamMarker> FindParamMarkers(const std::string &sql)
{
    std::vector<ParamMarker> markers;
    std::size_t i = 0;
    while (i < sql.size()) {
        const char c = sql[i];
        const char next = i + 1 < sql.size() ? sql[i + 1] : '\0';
        if (c == '\'' || c == '"') {
            i = SkipQuotedRun(sql, i);
        } else if (c == '-' && next == '-') {
            i = sql.find('\n', i);
            if (i == std::string::npos)
                i = sql.size();
        } else if (c == '/' && next == '*') {
            i = sql.find("*/", i + 2);
            i = i == std::string::npos ? sql.size() : i + 2;
        } else if (c == ':' && next == ':') {
            i += 2;
        } else if (c == ':' && nameStart(next)) {
            std::size_t end = i + 1;
            while (end < sql.size() && nameChar(sql[end]))
                ++end;
            markers.push_back({sql.substr(i + 1, end - i - 1), i, end - i});
            i = end;
        } else {
            ++i;
        }
    }
    return markers;
}

std::vector<std::string> ParamNames(const std::string &sql)
{
    std::vector<std::string> names;
    std::vector<std::string> seen;  // upper-cased: names compare case-insensitively
    for (const ParamMarker &m : FindParamMarkers(sql)) {
        std::string key = utf8::upper(m.name);
        bool known = false;
        for (const std::string &s : seen)
            known = known || s == key;
        if (!known) {
            seen.push_back(std::move(key));
            names.push_back(m.name);
        }
    }
    return names;
}

bool SameName(const std::string &a, const std::string &b)
{
    // Names are nearly always ASCII: compare without allocating, and only
    // fold accented letters when a byte outside ASCII shows up.
    auto ascii = [](const std::string &s) {
        for (unsigned char c : s)
            if (c & 0x80)
                return false;
        return true;
    };
    if (!ascii(a) || !ascii(b))
        return utf8::upper(a) == utf8::upper(b);
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
        if (x != y)
            return false;
    }
    return true;
}
