#pragma once
// A run's parameters in the person's words, as the layout's parameter
// entries describe them: "Empresa: 01 – Comercial Andorinha Ltda",
// "Período: 01/01/2026 a 31/01/2026", "CFOP: Todos". Never a parameter's
// name, never an all-flag.
#include "data/params.h"
#include "data/session.h"
#include "report/layout.h"

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Runs a lookup statement with its values; the first column of the first
// row, or nothing. May raise: a lookup that fails only loses the name.
using ParameterLookup = std::function<std::optional<std::string>(const std::string &sql, const NamedValues &values)>;

struct ParameterWords {
    std::vector<std::pair<std::string, std::string>> header;  // entries shown on every page
    std::vector<std::pair<std::string, std::string>> block;   // every entry, for the first page
};

ParameterWords DescribeParameters(const std::vector<LayoutParameter> &entries, const TParams &params,
                                  const ParameterLookup &lookup, const std::string &productMask);
