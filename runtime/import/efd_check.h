#pragma once
// "Conferência com a EFD ICMS/IPI": a filed EFD checked against itself, as
// the official validator would, and against the books of its company and
// period, read through the reports' read-only session. The findings are a
// flat list, one per divergence, for the report (efd_report.cpp).
#include "data/session.h"
#include "import/efd.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

struct EfdFinding {
    std::string section;   // Arquivo, Documentos, CFOP, Apuração
    std::string severity;  // erro, aviso
    std::string record;    // C100, C190, E110, 9900 ...
    long line = 0;         // in the file; 0 for what only the books have
    long document = 0;     // its number, 0 for none
    std::string key, cfop, field;
    std::string inFile, inBooks;           // as shown ("1.234,56")
    std::optional<Cents> difference;      // the file's less the books', for amounts
};

// An E111 as filed, shown beside the apuração.
struct EfdCheckAdjustment {
    long line = 0;
    std::string code, description;
    Cents value = 0;
};

struct EfdCheck {
    std::string file;
    EfdIdentity identity;
    EfdTotals totals;
    std::string company, companyName;  // the books' company of the file's registration; empty when none
    long documents = 0;                 // C100, C500 and D100 read
    std::vector<EfdFinding> findings;
    std::vector<EfdCheckAdjustment> adjustments;       // the E111 of the file's E110
    // E110's 02 and 06 against the books' debits and credits (file, books);
    // empty when the file has no E110 or no company in the books.
    std::optional<std::pair<Cents, Cents>> debits, credits;

    long Count(const std::string &section) const;
};

inline const char *const kEfdSections[] = {"Arquivo", "Documentos", "CFOP", "Apuração"};

// Checks the file at `path`; `books` may be null (the file against itself
// only). Raises Exception with the place in the file when it cannot be read;
// `progress` (may be empty) is told the lines read and may stop the check
// by returning false (then Exception "cancelada").
EfdCheck CheckEfdFile(const std::string &path, DatabaseSession *books,
                      const std::function<bool(long lines)> &progress = {});

// "1.234,56", "-0,05".
std::string EfdMoneyText(Cents c);
