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
    // What the run is of, for titles and file names: the header's values
    // joined by " · ", without those a lookup alone gives (they restate
    // another entry, as a registration's CNPJ does).
    std::string subject;
};

// A filter's all-flag is its name with "T" after "P_" ("P_TCDCFOP" beside
// "P_CDCFOP"): "T" asks the statement to ignore the filter. Empty for a name
// without that prefix, which has no flag.
std::string AllFlagName(const std::string &filter);

// Gives a filter its value and its all-flag "T" for a blank value, the
// empty text otherwise. Each is set only when the statement declares it
// (looked for on its own): a report takes what it names and nothing more.
void SetFilterWithFlag(TParams &params, const std::string &filter, const std::string &value);

ParameterWords DescribeParameters(const std::vector<LayoutParameter> &entries, const TParams &params,
                                  const ParameterLookup &lookup, const std::string &productMask);
