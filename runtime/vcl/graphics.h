#pragma once
// Colours, fonts and cursors.
#include <cstdint>
#include <optional>
#include <string>

using TColor = std::int32_t;

// System colours carry the high bit and the system colour index.
constexpr TColor clScrollBar = static_cast<TColor>(0x80000000);
constexpr TColor clWindow = static_cast<TColor>(0x80000005);
constexpr TColor clWindowText = static_cast<TColor>(0x80000008);
constexpr TColor clBtnFace = static_cast<TColor>(0x8000000F);
constexpr TColor clInfoBk = static_cast<TColor>(0x80000018);
constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clBlue = 0xFF0000;  // stored as 0x00BBGGRR
constexpr TColor clRed = 0x0000FF;
constexpr TColor clNone = 0x1FFFFFFF;

std::string ColorToString(TColor c);
std::optional<TColor> StringToColor(const std::string &name);

struct TFont {
    std::string Name = "MS Sans Serif";
    int Size = 8;
    bool Bold = false;
    TColor Color = clWindowText;
    bool operator==(const TFont &) const = default;
};

using TCursor = int;
constexpr TCursor crDefault = 0;
constexpr TCursor crArrow = -2;
constexpr TCursor crHourGlass = -11;
