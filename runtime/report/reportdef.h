#pragma once
// Report definition files. Each report of a screen is one JSON file in the
// folder named after its report code, inside the reports folder:
//   reports/FIS028/010-resumo-cfop.json
// listed in file-name order. A file holds
//   {"code": "FIS028", "title": "...",
//    "query": {"sql": [lines], "oracle": [lines], "mssql": [lines], "interbase": [lines]},
//    "layout": {...}}
// "sql" is the plain statement; a dialect's own lines, when present, take its
// place (data/dialect.h lists the dialects).
//
// The person's own reports (saved under a new title, or a shipped report
// whose layout they edited) live in the saved-reports folder, one folder per
// report code as well. They are listed after the shipped ones, except that
// one titled like a shipped report takes that report's place.
#include "data/dialect.h"
#include "rtl/atomicfile.h"
#include "rtl/sysutils.h"

#include <array>
#include <memory>
#include <string>
#include <vector>


// A statement as plain SQL and each dialect's own variant, as a "query"
// object holds them: {"sql": [lines], "oracle": [lines], ...}, one key per
// name in kSqlDialects.
struct StatementVariants {
    std::string sql;  // plain statement
    std::array<std::string, kSqlDialects.size()> variants;  // at each dialect's index; empty when absent

    std::string &Variant(SqlDialect dialect) { return variants[SqlDialectIndex(dialect)]; }
    const std::string &Variant(SqlDialect dialect) const { return variants[SqlDialectIndex(dialect)]; }
    // The statement run on the dialect named `dialect`: its variant, else the
    // plain statement (also for a name that is no dialect's).
    const std::string &For(const std::string &dialect) const;
};

// A part printed after the report's body on the same pages and files, from
// a statement of its own that takes some of the report's parameters:
//   "sections": [{"title": "Conferência", "query": {...}, "layout": {"columns": [...], "empty": "..."}}]
struct ReportSection {
    std::string title;
    StatementVariants query;
    std::string layoutJson;
    const std::string &StatementFor(const std::string &dialect) const { return query.For(dialect); }
};

struct ReportDefinition {
    std::string file;
    std::string code;
    std::string title;
    StatementVariants query;
    std::string layoutJson; // the layout, kept as JSON text
    std::vector<ReportSection> sections;
    bool saved = false;     // one of the person's own, from the saved-reports folder

    // The statement run on `dialect` ("oracle", "mssql", "interbase").
    const std::string &StatementFor(const std::string &dialect) const { return query.For(dialect); }
};

using ReportList = std::shared_ptr<const std::vector<ReportDefinition>>;
// A saved file left out of the list, and why (in Portuguese).
struct SkippedReport {
    std::string file;
    std::string reason;
};
// Raises ReportNotFound when the code's folder is missing or holds no report.
// The list is shared: it stays as it is while its files do not change.
ReportList LoadReportDefinitions(const std::string &reportsDir, const std::string &code);
// The person's reports of the code, marked `saved`; none when the folder is
// missing. A file that cannot be read as a definition is left out and, when
// `skipped` is given, named there with its reason (on every call, kept list
// or not, so each open can tell the person).
ReportList LoadSavedReports(const std::string &savedDir, const std::string &code,
                            std::vector<SkippedReport> *skipped = nullptr);
// The shipped reports with the saved ones in their places and after them.
std::vector<ReportDefinition> MergeSavedReports(const std::vector<ReportDefinition> &shipped,
                                                const std::vector<ReportDefinition> &saved);
// The definition as its file holds it now; raises ReportNotFound when the
// file is gone, Exception when it cannot be read as a definition.
ReportDefinition ReadReportDefinition(const ReportDefinition &listed);

// Raise Exception with a Portuguese message naming the file, never a
// library's text.
ReportDefinition ParseReportDefinition(const std::string &jsonText, const std::string &file);
std::string SerializeReportDefinition(const ReportDefinition &def);

// A title the person may give a report: not empty, valid UTF-8, no control
// characters. Raises Exception saying what is wrong.
void CheckReportTitle(const std::string &title);
// The file name a title is saved under, the title first in Unicode form C
// (titles that look the same get one name): letters, digits, blanks, '-' and
// '_' as they are, every other character escaped ("a/b" is "a%2Fb.json",
// never the name of "a_b"), a long title shortened with a digest of the
// whole. Different titles never share a name.
std::string ReportFileName(const std::string &title);
// Where a report of `code` titled `title` is saved.
std::string SavedReportPath(const std::string &savedDir, const std::string &code, const std::string &title);
// Writes `def` into its place in the saved folder (creating the folders)
// through an AtomicFile and returns the path. With Replace::Never an
// existing file is kept and EFileExists raised. Raises Exception for a bad
// title or a failed write; nothing half-written is ever left in place.
std::string SaveReportDefinition(const std::string &savedDir, const ReportDefinition &def,
                                 AtomicFile::Replace replace);

// A definition file that cannot be read: `reason` says why without the file.
class ReportDefinitionError : public Exception {
public:
    ReportDefinitionError(std::string fileName, std::string why)
        : Exception("Definição de relatório inválida em '" + fileName + "': " + why + "."),
          file(std::move(fileName)), reason(std::move(why))
    {
    }
    std::string file;
    std::string reason;
};

// The code's folder is missing or holds no report.
class ReportNotFound : public Exception {
public:
    ReportNotFound(std::string reportCode, std::string dir)
        : Exception("Relatórios de código '" + reportCode + "' não encontrados em '" + dir + "'."),
          code(std::move(reportCode)), directory(std::move(dir))
    {
    }
    std::string code;
    std::string directory;
};
