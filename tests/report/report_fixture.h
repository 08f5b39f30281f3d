#pragma once
// What the report tests share: a folder of their own, a session that serves
// rows from memory, a sample listing, and poppler's tools to read a PDF as
// its reader would.
#include "report/report_output.h"
#include "rtl/sysutils.h"
#include "../support/run_command.h"
#include "../support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

struct TempDir : TempFolder {
    TempDir() : TempFolder("fis-report") {}
};

inline std::string PdfInfo(const std::string &pdf) { return RunCommand("pdfinfo '" + pdf + "' 2>&1"); }

inline int PdfPages(const std::string &pdf)
{
    std::smatch m;
    const std::string info = PdfInfo(pdf);
    return std::regex_search(info, m, std::regex(R"(Pages:\s+(\d+))")) ? std::stoi(m[1]) : -1;
}

inline std::string PdfText(const std::string &pdf) { return RunCommand("pdftotext -layout '" + pdf + "' - 2>&1"); }

// Text of each page, in reading order.
inline std::vector<std::string> PdfPageTexts(const std::string &pdf)
{
    const std::string all = PdfText(pdf);
    std::vector<std::string> pages;
    for (size_t start = 0, ff; (ff = all.find('\f', start)) != std::string::npos; start = ff + 1)
        pages.push_back(all.substr(start, ff - start));
    return pages;
}

// Right edge of the rightmost word on any page, and the narrowest page width.
inline std::pair<double, double> RightmostWord(const std::string &pdf)
{
    const std::string html = RunCommand("pdftotext -bbox '" + pdf + "' - 2>&1");
    double right = 0, width = 1e9;
    std::regex page(R"re(<page width="([\d.]+)")re"), word(R"re(xMax="([\d.]+)")re");
    for (std::sregex_iterator it(html.begin(), html.end(), page), end; it != end; ++it)
        width = std::min(width, std::stod((*it)[1]));
    for (std::sregex_iterator it(html.begin(), html.end(), word), end; it != end; ++it)
        right = std::max(right, std::stod((*it)[1]));
    return {right, width};
}

inline std::string Repeat(const std::string &s, int n)
{
    std::string out;
    for (; n > 0; --n)
        out += s;
    return out;
}

using Cells = std::vector<std::optional<std::string>>;

// Rows from memory, streamed as a database would; counts what it handed out.
class TableSession : public DatabaseSession {
public:
    std::vector<std::string> columns;
    std::vector<Cells> rows;
    std::string failure;  // raised instead of giving rows
    std::size_t given = 0;

    ResultSet Query(const std::string &, const NamedValues &) override { return {columns, rows}; }
    void QueryRows(const std::string &, const NamedValues &, RowReceiver &receiver) override
    {
        if (!failure.empty())
            throw Exception(failure);
        if (!receiver.Columns(columns))
            return;
        for (const Cells &r : rows) {
            ++given;
            if (!receiver.Row(r))
                return;
        }
    }
    void Execute(const std::string &) override {}
    std::string EngineName() const override { return "memory"; }
};

// A listing of invoices: number, issuer, value (summed), grouped by nothing.
inline ReportJob SampleJob()
{
    ReportJob job;
    job.heading.title = "Relação de Notas Fiscais";
    job.heading.code = "FIS028";
    job.heading.generatedAt = "08/12/2026 04:05";
    job.heading.header = {{"Empresa", "01 – Comercial Andorinha Ltda"}};
    job.heading.parameters = {{"Empresa", "01 – Comercial Andorinha Ltda"},
                              {"Período", "01/11/2026 a 30/11/2026"},
                              {"Inscrição Estadual", "123.456.789.110"}};
    job.layout = ParseLayout(R"({"columns": [
        {"caption": "Número", "field": "NRNOTA", "width": 60},
        {"caption": "Emitente", "field": "NMEMITENTE", "width": 200},
        {"caption": "Valor", "field": "VALOR", "width": 80, "align": "right", "format": "money", "total": "sum"}],
        "summary": {"caption": "Total geral"}, "empty": "Nenhuma nota no período."})");
    job.statement = "SELECT";
    return job;
}

inline TableSession SampleRows()
{
    TableSession s;
    s.columns = {"NRNOTA", "NMEMITENTE", "VALOR"};
    s.rows = {{"000101", "Comércio São João Ltda", "1234.56"},
              {"000102", "ÁÀÂÃÉÊÍÓÔÕÚÇ áàâãéêíóôõúç", "78.9"},
              {"000103", "Nº 12, 1ª via “aspas” – Ñandú", std::nullopt}};
    return s;
}

inline ReportResult RenderPdf(TableSession &rows, const ReportJob &job, const std::string &path,
                              bool firstPageOnly = false)
{
    return WriteReport(&rows, job, {{"pdf", path}}, nullptr, firstPageOnly);
}
