#pragma once
// Report definition files. Each report of a screen is one JSON file in the
// folder named after its report code, inside the reports folder:
//   reports/FIS028/010-resumo-cfop.json
// listed in file-name order. A file holds
//   {"code": "FIS028", "title": "...",
//    "query": {"sql": [lines], "oracle": [lines], "mssql": [lines], "interbase": [lines]},
//    "layout": {...}}
// "sql" is the plain statement; a dialect's own lines, when present, take its place.
#include <memory>
#include <string>
#include <vector>


struct ReportDefinition {
    std::string file;
    std::string code;
    std::string title;
    std::string sql;        // plain statement
    std::string oracle;     // dialect variants; empty when absent
    std::string mssql;
    std::string interbase;
    std::string layoutJson; // the layout, kept as JSON text

    // The statement run on `dialect` ("oracle", "mssql", "interbase").
    const std::string &StatementFor(const std::string &dialect) const;
};

using ReportList = std::shared_ptr<const std::vector<ReportDefinition>>;
// Raises ReportNotFound when the code's folder is missing or holds no report.
// The list is shared: it stays as it is while its files do not change.
ReportList LoadReportDefinitions(const std::string &reportsDir, const std::string &code);
ReportDefinition ParseReportDefinition(const std::string &jsonText, const std::string &file);
std::string SerializeReportDefinition(const ReportDefinition &def);

struct ReportNotFound {
    std::string code;
    std::string directory;
};
