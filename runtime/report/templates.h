#pragma once
// Private to the report library: band captions such as "Total das {DSENTRSAIDA}".
// A brace pair around a field name stands for that field, shown as the
// column showing it shows it, or as the format after a colon says
// ("{CDCFOP:cfop}"); any other brace is text.
#include <string>
#include <vector>

struct TemplatePart {
    std::string text;    // literal text, or the field's name
    bool field = false;
    std::string format;  // the format named after the colon; empty: none
};

std::vector<TemplatePart> SplitTemplate(const std::string &pattern);
