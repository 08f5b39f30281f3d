#pragma once
// Amounts of the electronic invoice as exact integers: money in cents,
// quantities in thousandths. Never floating point, so a document's items add
// up to its total to the cent.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using Cents = std::int64_t;

// An unsigned decimal as the invoice writes it ("1234.5", "0.0000"), scaled
// to `places` decimals, rounding half up beyond them. nullopt for anything
// else: a sign, blanks, an exponent, a comma, more than 15 integer digits.
// `point` is the decimal separator: ',' for the EFD's "1234,56".
std::optional<std::int64_t> ParseDecimal(std::string_view text, int places, char point = '.');

// "1234.56" / "-0.05" from cents; "1.234" from thousandths; for statements.
std::string DecimalText(std::int64_t units, int places);

// "1.234,56" / "-0,05" from cents: how a person reads an amount.
std::string BrlText(std::int64_t cents);

// Distributes `difference` over `weights` in proportion, to the unit, so the
// shares add up exactly (largest remainder). Zero weights take nothing unless
// every weight is zero, when the first item takes it all.
void SpreadDifference(Cents difference, const std::vector<Cents> &weights, std::vector<Cents> &shares);
