#include "data/firebird/session.h"

#include "data/dberrors.h"
#include "data/sqlparams.h"
#include "rtl/utf8.h"

#include <set>

namespace {
bool isAsciiName(const std::string &s)
{
    if (s.empty() || (s[0] >= '0' && s[0] <= '9'))
        return false;
    for (char c : s)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_'))
            return false;
    return true;
}

void blank(std::string &s, std::size_t from, std::size_t to)
{
    for (std::size_t i = from; i < to; ++i)
        if (s[i] != '\n')
            s[i] = ' ';
}
} // namespace

FirebirdStatementText PrepareFirebirdStatement(const std::string &sql)
{
    FirebirdStatementText out;
    std::string text = sql;
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        if (c == '\'') {
            i = SkipQuotedRun(text, i);
        } else if (c == '"') {
            const std::size_t end = SkipQuotedRun(text, i);
            if (text.substr(i + 1, end - i - 1).find_first_of("':") != std::string::npos)
                throw EDatabaseError("Identificador entre aspas com apóstrofo ou dois-pontos não é "
                                     "suportado no Firebird: " + text.substr(i, end - i));
            i = end;
        } else if (c == '-' && next == '-') {
            std::size_t end = text.find('\n', i);
            end = end == std::string::npos ? text.size() : end;
            blank(text, i, end);
            i = end;
        } else if (c == '/' && next == '*') {
            std::size_t end = text.find("*/", i + 2);
            end = end == std::string::npos ? text.size() : end + 2;
            blank(text, i, end);
            i = end;
        } else {
            ++i;
        }
    }

    const std::vector<ParamMarker> markers = FindParamMarkers(sql);
    std::set<std::string> taken;  // every spelling, so a new name never meets a real one
    for (const ParamMarker &m : markers)
        taken.insert(utf8::upper(m.name));
    std::set<std::string> used;
    std::size_t copied = 0;
    for (const ParamMarker &m : markers) {
        std::string name = m.name;
        if (!isAsciiName(name) || used.count(utf8::upper(name))) {
            const std::string base = isAsciiName(m.name) ? m.name : "P";
            for (int n = 2;; ++n) {
                name = base + "__" + std::to_string(n);
                const std::string key = utf8::upper(name);
                if (!used.count(key) && !taken.count(key))
                    break;
            }
        }
        used.insert(utf8::upper(name));
        out.markers.push_back(m.name);
        out.bindNames.push_back(name);
        out.sql.append(text, copied, m.offset - copied);
        out.sql += ':' + name;
        out.positional.append(text, copied, m.offset - copied);
        out.positional += '?';
        copied = m.offset + m.length;
    }
    out.sql.append(text, copied, std::string::npos);
    out.positional.append(text, copied, std::string::npos);
    return out;
}

