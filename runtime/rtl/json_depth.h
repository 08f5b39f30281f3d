#pragma once
// How deeply a JSON text nests arrays and objects, brackets inside strings
// aside; read before parsing outside input. The JSON library parses any depth
// but writes by recursion, so a hostile file could exhaust the stack.
#include <algorithm>
#include <cstddef>
#include <string_view>

inline std::size_t JsonNestingDepth(std::string_view json)
{
    std::size_t depth = 0, deepest = 0;
    bool inString = false;
    for (std::size_t i = 0; i < json.size(); ++i) {
        const char c = json[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return deepest;
}
