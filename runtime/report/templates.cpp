#include "report/templates.h"

#include <cctype>

namespace {
bool isNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }
} // namespace

std::vector<TemplatePart> SplitTemplate(const std::string &pattern)
{
    std::vector<TemplatePart> parts;
    std::string literal;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '{') {
            std::size_t end = i + 1;
            while (end < pattern.size() && isNameChar(pattern[end]))
                ++end;
            const std::size_t nameEnd = end;
            if (end < pattern.size() && pattern[end] == ':')
                for (++end; end < pattern.size() && (isNameChar(pattern[end]) || pattern[end] == ':');)
                    ++end;
            if (end < pattern.size() && pattern[end] == '}' && nameEnd > i + 1 &&
                !std::isdigit(static_cast<unsigned char>(pattern[i + 1]))) {
                if (!literal.empty())
                    parts.push_back({std::move(literal), false, {}});
                literal.clear();
                const std::string format = nameEnd < end ? pattern.substr(nameEnd + 1, end - nameEnd - 1) : "";
                parts.push_back({pattern.substr(i + 1, nameEnd - i - 1), true, format});
                i = end;
                continue;
            }
        }
        literal += pattern[i];
    }
    if (!literal.empty())
        parts.push_back({std::move(literal), false, {}});
    return parts;
}
