#include "import/amounts.h"

#include <algorithm>
#include <numeric>
#include <vector>

std::optional<std::int64_t> ParseDecimal(std::string_view text, int places, char point)
{
    std::size_t dot = text.find(point);
    std::string_view whole = text.substr(0, dot);
    std::string_view fraction = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
    if (whole.empty() || whole.size() > 15 || (dot != std::string_view::npos && fraction.empty()))
        return std::nullopt;
    auto digits = [](std::string_view s) {
        return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (!digits(whole) || !digits(fraction))
        return std::nullopt;
    std::int64_t value = 0;
    for (char c : whole)
        value = value * 10 + (c - '0');
    for (int i = 0; i < places; ++i)
        value = value * 10 + (static_cast<std::size_t>(i) < fraction.size() ? fraction[static_cast<std::size_t>(i)] - '0' : 0);
    if (fraction.size() > static_cast<std::size_t>(places) && fraction[static_cast<std::size_t>(places)] >= '5')
        ++value;
    return value;
}

std::string DecimalText(std::int64_t units, int places)
{
    const bool negative = units < 0;
    std::uint64_t u = negative ? 0 - static_cast<std::uint64_t>(units) : static_cast<std::uint64_t>(units);
    std::string digits = std::to_string(u);
    if (places > 0) {
        if (digits.size() <= static_cast<std::size_t>(places))
            digits.insert(0, static_cast<std::size_t>(places) + 1 - digits.size(), '0');
        digits.insert(digits.size() - static_cast<std::size_t>(places), 1, '.');
    }
    return negative ? "-" + digits : digits;
}

void SpreadDifference(Cents difference, const std::vector<Cents> &weights, std::vector<Cents> &shares)
{
    shares.assign(weights.size(), 0);
    if (weights.empty() || difference == 0)
        return;
    // Negative weights (a discount larger than the goods) take no share.
    std::vector<Cents> w(weights.size());
    std::transform(weights.begin(), weights.end(), w.begin(), [](Cents c) { return std::max<Cents>(c, 0); });
    const Cents total = std::accumulate(w.begin(), w.end(), Cents(0));
    if (total == 0) {
        shares[0] = difference;
        return;
    }
    const bool negative = difference < 0;
    const __int128 magnitude = negative ? -static_cast<__int128>(difference) : difference;
    std::vector<std::pair<__int128, std::size_t>> remainders;
    Cents given = 0;
    for (std::size_t i = 0; i < w.size(); ++i) {
        const __int128 product = magnitude * w[i];
        shares[i] = static_cast<Cents>(product / total);
        given += shares[i];
        remainders.emplace_back(product % total, i);
    }
    // The cents left go to the largest remainders, earlier items first on ties.
    std::stable_sort(remainders.begin(), remainders.end(),
                     [](const auto &a, const auto &b) { return a.first > b.first; });
    for (std::size_t k = 0; given < magnitude; ++k, ++given)
        ++shares[remainders[k % remainders.size()].second];
    if (negative)
        for (Cents &s : shares)
            s = -s;
}

std::string BrlText(std::int64_t cents)
{
    const std::string digits = DecimalText(cents < 0 ? -cents : cents, 2);
    const std::size_t whole = digits.size() - 3;  // digits before the point
    std::string out;
    out.reserve(digits.size() + whole / 3 + 1);
    if (cents < 0)
        out.push_back('-');
    for (std::size_t i = 0; i < whole; ++i) {
        if (i > 0 && (whole - i) % 3 == 0)
            out.push_back('.');
        out.push_back(digits[i]);
    }
    out.push_back(',');
    out.append(digits, whole + 1, 2);
    return out;
}
