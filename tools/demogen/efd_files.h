#pragma once
// The EFD ICMS/IPI file of a company's month, written from the books in the
// database, for the import's and the check's tests, the benchmark and the
// demo: 0000, 0150, 0190, 0200, C100 with C170 (documents received) or
// C190 alone (the company's own), C500/C590, D100/D190, E100/E110/E111/E116,
// the other blocks opened and closed, 9900 and 9999 with their counts.
// Each divergence the check looks for can be put in on purpose.
#include "import/connection.h"

#include <string>
#include <vector>

enum class EfdDivergence {
    RecordCount,      // one 9900 count one too many
    LineCount,        // 9999 QTD_LIN one too many
    HeaderIcms,       // a C100's VL_ICMS apart from its C190
    DocumentTotal,    // a C100's VL_DOC apart from its VL_OPR
    ItemIcms,         // a C170's VL_ICMS apart from its C190
    CfopDirection,    // a C190's CFOP of the other direction
    Apuracao,         // E110 VL_SLD_CREDOR_TRANSPORTAR apart from the file's own figures
    Obligations,      // E116 apart from VL_ICMS_RECOLHER
    MissingDocument,  // a document of the books left out
    ExtraDocument,    // a document the books do not have
    DocumentValue,    // a document's values apart from the books (C100 and C190 together)
    Situation,        // a regular document filed as cancelled
};

// "registros", "linhas", ... as fisdemogen --inject names them; false when unknown.
bool ParseEfdDivergence(const std::string &name, EfdDivergence &out);
std::vector<std::string> EfdDivergenceNames();

struct EfdFileOptions {
    std::string path;                 // the file written
    std::string company = "01";
    std::string registration;         // the company's state registration; empty: its first
    std::string month = "2026-01";    // YYYY-MM
    int layout = 17;                  // COD_VER
    int repeat = 1;                   // each regular C100 this many times (up to 499), the copies under new numbers
    std::vector<EfdDivergence> divergences;
};

struct EfdFileCounts {
    long documents = 0, items = 0, analytical = 0, lines = 0;
    // Where each divergence went: the document's number (0 for the file's own records).
    std::vector<std::pair<EfdDivergence, long>> injected;
};

// Raises Exception when the company or registration is not there or the
// file cannot be written.
EfdFileCounts WriteEfdFile(ImportConnection &db, const EfdFileOptions &options);
