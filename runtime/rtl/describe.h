#pragma once
// Shorthand for writing component descriptions as data.
#include "rtl/streaming.h"

#include <initializer_list>
#include <string>
#include <vector>

namespace describe {

inline PropertyDesc P(std::string name, const char *value) { return {std::move(name), std::string(value)}; }
inline PropertyDesc P(std::string name, std::string value) { return {std::move(name), std::move(value)}; }
inline PropertyDesc P(std::string name, int value) { return {std::move(name), value}; }
inline PropertyDesc P(std::string name, bool value) { return {std::move(name), value}; }
inline PropertyDesc P(std::string name, std::initializer_list<const char *> lines)
{
    std::vector<std::string> v(lines.begin(), lines.end());
    return {std::move(name), std::move(v)};
}

// A component the description creates.
inline ComponentDesc C(std::string className, std::string name, std::vector<PropertyDesc> props,
                       std::vector<ComponentDesc> children = {})
{
    return {std::move(className), std::move(name), std::move(props), std::move(children)};
}

// A component the base class already made: only its changes are described.
inline ComponentDesc Inherited(std::string name, std::vector<PropertyDesc> props,
                               std::vector<ComponentDesc> children = {})
{
    return {std::string(), std::move(name), std::move(props), std::move(children)};
}

} // namespace describe
