#pragma once
// Private to the screen's sources and its tests: the report catalogue, the
// fields each report takes. Choosing a report applies its row to the screen.
#include "vcl/graphics.h"

#include <string>

// What choosing a report does to a group of fields that share one enabled state.
enum class GroupRule {
    Enabled,
    Disabled,
    DisabledEmptied,  // disabled, its edits emptied (their change handlers run)
    Kept,             // left as it was: the tax decides (registrations)
};

struct CatalogueRow {
    const char *title;                // the report's title, byte for byte
    const char *registrationCaption;  // the registration's label
    TColor registrationColor;         // and its edit's colour
    GroupRule state;                  // state registration
    GroupRule municipal;              // municipal registration
    GroupRule products;               // product range
    GroupRule series;
    GroupRule number;                 // document number
    GroupRule entryExit;              // entries, exits or both
    GroupRule cfop;
    GroupRule branch;                 // branch of origin
    GroupRule operationTypes;         // all or listed operation types
    GroupRule models;                 // all or listed document models
};

// The row of the report titled `title`. A title no row names (a report the
// person saved under a title of their own, or a file's title that differs
// from the catalogue's in any byte) takes the default row.
const CatalogueRow &CatalogueRowFor(const std::string &title);
// The CFOP summary's row.
const CatalogueRow &DefaultCatalogueRow();
