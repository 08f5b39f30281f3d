#pragma once
// Conversions between UTF-8 text and code points. Controls count and edit
// characters, not bytes ("Nº", "Saída").
#include <string>
#include <string_view>

namespace utf8 {
std::u32string decode(const std::string &text);
std::string encode(const std::u32string &text);
std::string encode(char32_t c);
std::size_t length(const std::string &text);
char32_t toUpper(char32_t c);
bool isLetter(char32_t c);
bool isDigit(char32_t c);
std::string upper(const std::string &text);
// `text` as a search compares it, appended to `out`: letters in upper case
// and Latin letters without their accents ("Água" -> "AGUA", "ç" -> "C").
// Everything else is copied as it is.
void foldForSearch(std::string_view text, std::string &out);
// `text` in Unicode normalisation form C, so texts that look the same are the
// same bytes ("Café" typed as one letter or as "e" and an accent). Text that
// is not valid UTF-8 is the caller's to refuse.
std::string nfc(const std::string &text);
} // namespace utf8
