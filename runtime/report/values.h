#pragma once
// Values as a report shows them, Brazilian style: "1.234,56", "5.102",
// "31/01/2026". Numbers are read from the cell's text as whole units of the
// format's last decimal place, so totals are exact however many rows add up.
#include "report/layout.h"

#include <optional>
#include <string>
#include <string_view>

// Decimal places a format shows: money 2, quantity 3, integer 0, percent 2,
// decimal:N N; -1 for formats that are not numbers.
int DecimalPlaces(const ValueFormat &format);

// The number in `text` ("1234.5", "-0.125", "1e-05", as databases give
// them) in units of 10^-places, rounded half away from zero. Nothing when
// the text is no number or does not fit.
std::optional<long long> ParseScaled(std::string_view text, int places);

// "1.234,56" (thousands grouped) or "1234,56" for `units` of 10^-places.
std::string FormatScaled(long long units, int places, bool groupThousands = true);

// A product tree code as the product mask (an edit mask such as
// "99.99.9999;1;_") shows it: the mask's literals put in where the code
// lacks them; a code that already has them is kept.
std::string FormatProductCode(std::string_view code, std::string_view editMask);

// A cell of a column or a parameter value as the person reads it. Numbers
// that do not parse are shown as they came.
std::string FormatValue(std::string_view raw, const ValueFormat &format, std::string_view productMask);
