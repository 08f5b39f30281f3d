#pragma once
// Date-time values as days since 1899-12-30, the time as the fraction of a day.
// Zero is the "no date" value that an empty date edit yields.
#include <optional>
#include <string>

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
// "YYYY-MM-DD"
std::string DateToIso(TDateTime d);
// Parses "dd/mm/yyyy"; nothing when the text is no valid date.
std::optional<TDateTime> ParseDateBr(const std::string &text);
