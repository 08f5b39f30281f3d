#pragma once
// Date-time values as days since 1899-12-30, the time as the fraction of a day.
// Zero is the "no date" value that an empty date edit yields.
#include <optional>
#include <string>
#include <string_view>

struct TDateTime {
    double Val = 0.0;

    TDateTime() = default;
    explicit TDateTime(double v) : Val(v) {}
    bool operator==(const TDateTime &o) const { return Val == o.Val; }
    auto operator<=>(const TDateTime &o) const { return Val <=> o.Val; }
};

bool IsValidDate(int year, int month, int day);
// Throws EConvertError on an impossible date.
TDateTime EncodeDate(int year, int month, int day);
void DecodeDate(TDateTime d, int &year, int &month, int &day);
// How a date is written: as people here read it, as databases and files
// exchange it, or as a file name's stamp.
enum class DateFormat {
    Br,       // "31/01/2026"
    Iso,      // "2026-01-31"
    Compact,  // "20260131"
};
std::string FormatDate(TDateTime d, DateFormat format = DateFormat::Br);
inline std::string DateToIso(TDateTime d) { return FormatDate(d, DateFormat::Iso); }
// The date a "YYYY-MM-DD" text names, alone or followed by a time after a
// blank or a 'T' (as databases give dates and timestamps); nothing for
// other text or an impossible date.
std::optional<TDateTime> ParseIsoDate(std::string_view text);
// Such a text's date in `format`; any other text as it is.
std::string FormatDateText(std::string_view isoText, DateFormat format = DateFormat::Br);
// Parses "dd/mm/yyyy"; nothing when the text is no valid date.
std::optional<TDateTime> ParseDateBr(const std::string &text);
