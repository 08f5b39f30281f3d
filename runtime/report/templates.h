#pragma once
// Private to the report library: band captions such as "Total das {DSENTRSAIDA}".
// A brace pair around a field name stands for that field; any other brace is text.
#include <string>
#include <vector>

struct TemplatePart {
    std::string text;  // literal text, or the field's name
    bool field = false;
};

std::vector<TemplatePart> SplitTemplate(const std::string &pattern);
