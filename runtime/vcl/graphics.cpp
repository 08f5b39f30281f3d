#include "vcl/graphics.h"

#include <cstdio>

namespace {
struct NamedColor {
    TColor value;
    const char *name;
};
const NamedColor kColors[] = {
    {clScrollBar, "clScrollBar"}, {clWindow, "clWindow"}, {clWindowText, "clWindowText"},
    {clBtnFace, "clBtnFace"},     {clInfoBk, "clInfoBk"}, {clBlack, "clBlack"},
    {clWhite, "clWhite"},         {clBlue, "clBlue"},     {clRed, "clRed"},
    {clNone, "clNone"},
};
} // namespace

std::string ColorToString(TColor c)
{
    for (const auto &nc : kColors)
        if (nc.value == c)
            return nc.name;
    char buf[16];
    std::snprintf(buf, sizeof buf, "$%08X", static_cast<unsigned>(c));
    return buf;
}

std::optional<TColor> StringToColor(const std::string &name)
{
    for (const auto &nc : kColors)
        if (name == nc.name)
            return nc.value;
    return std::nullopt;
}
