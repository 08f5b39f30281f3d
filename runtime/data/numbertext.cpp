#include "data/numbertext.h"

#include <charconv>

namespace {
template <class T> std::string fixedText(T n)
{
    if (n == 0)
        return "0";  // also -0
    // The longest fixed form of a double (a denormal) has about 330 characters.
    char buf[512];
    auto res = std::to_chars(buf, buf + sizeof buf, n, std::chars_format::fixed);
    if (res.ec != std::errc())
        res = std::to_chars(buf, buf + sizeof buf, n);
    return std::string(buf, res.ptr);
}
} // namespace

std::string NumberText(double n) { return fixedText(n); }
std::string NumberText(float n) { return fixedText(n); }
