#pragma once
// A report's output as a PDF document.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct ReportTable {
    std::vector<std::string> columns;                           // column headers
    std::vector<std::vector<std::optional<std::string>>> rows;  // cells; nullopt is NULL (printed empty)
};

struct ReportDocument {
    std::string title;        // the report's title
    std::string code;         // the screen's report code, e.g. "FIS028"
    std::string generatedAt;  // shown in the header as given, e.g. "08/12/2026 04:05"
    std::vector<std::pair<std::string, std::string>> parameters;  // name, value as text
    ReportTable table;
    std::string pageSize = "A4";  // "A4" or "Letter"; anything else is A4
    bool landscape = false;
};

// Writes `doc` as a PDF file at `path` (replaced if it exists) and returns
// the number of pages. Raises Exception (rtl/sysutils.h) with a clear
// Portuguese message naming the path when the file cannot be written.
// A row with fewer cells than columns prints the missing ones empty; extra
// cells are ignored.
int WriteReportPdf(const ReportDocument &doc, const std::string &path);

// UTF-8 text as Windows-1252 bytes, the encoding of the PDF's standard fonts.
// Characters it lacks and invalid UTF-8 become '?'; control characters
// become spaces; a combining accent joins the letter before it when the
// accented letter exists in Windows-1252.
std::string Utf8ToCp1252(std::string_view text);
