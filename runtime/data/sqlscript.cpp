#include "data/sqlscript.h"

#include "data/dberrors.h"
#include "rtl/sysutils.h"

namespace {
// True when only blanks (or a comment) follow `i` up to the end of its line.
bool lineEndsAfter(const std::string &s, std::size_t i)
{
    for (; i < s.size() && s[i] != '\n'; ++i) {
        if (s[i] == '-' && i + 1 < s.size() && s[i + 1] == '-')
            return true;
        if (s[i] != ' ' && s[i] != '\t' && s[i] != '\r')
            return false;
    }
    return true;
}
} // namespace

std::vector<std::string> SplitSqlScript(const std::string &script)
{
    std::vector<std::string> statements;
    std::string current;
    auto flush = [&] {
        std::string s = Trim(current);
        if (!s.empty())
            statements.push_back(std::move(s));
        current.clear();
    };
    for (std::size_t i = 0; i < script.size(); ++i) {
        const char c = script[i];
        if (c == '\'' || c == '"') {
            std::size_t end = i + 1;
            while (end < script.size()) {
                if (script[end] == c && !(end + 1 < script.size() && script[end + 1] == c))
                    break;
                end += script[end] == c ? 2 : 1;
            }
            current.append(script, i, end + 1 - i);
            i = end;
        } else if (c == '-' && i + 1 < script.size() && script[i + 1] == '-') {
            std::size_t end = script.find('\n', i);
            i = end == std::string::npos ? script.size() : end - 1;
        } else if (c == ';' && lineEndsAfter(script, i + 1)) {
            flush();
        } else {
            current += c;
        }
    }
    flush();
    return statements;
}

int LoadSqlScript(DatabaseSession &session, const std::string &script)
{
    const std::vector<std::string> statements = SplitSqlScript(script);
    for (std::size_t i = 0; i < statements.size(); ++i) {
        try {
            session.Execute(statements[i]);
        } catch (const Exception &e) {
            throw EDatabaseError("Comando " + std::to_string(i + 1) + " do script falhou: " +
                                 e.Message());
        }
    }
    return static_cast<int>(statements.size());
}
