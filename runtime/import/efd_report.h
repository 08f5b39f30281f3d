#pragma once
// The check's report through the report engine: its findings kept for the
// run in a database of their own, read by the report definitions of
// reports/EFD (the sections with their findings for the PDF and the
// spreadsheet, one row per finding for the CSV).
#include "import/efd_check.h"

#include <string>
#include <vector>

// Writes the report of `check` into `outDir` in each of `formats` ("pdf",
// "csv", "xlsx") and returns the paths written. Raises Exception.
std::vector<std::string> WriteEfdCheckReport(const EfdCheck &check, const std::string &reportsDir,
                                             const std::string &outDir, const std::vector<std::string> &formats);
