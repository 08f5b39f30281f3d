// bench_report_render [rows] [big rows]
//
// 1. The listing report (its shipped layout) rendered to PDF by the report
//    engine, beside a bare libharu loop that writes the same cells, already
//    formatted, on pages of the same size and rows per page: rows per second
//    of each, from the same rows held in memory.
// 2. A listing of `big rows` (1 M by default) streamed from a SQLite statement
//    through the engine, with the process's peak memory against its memory
//    at the start of that run.
#include "bench_options.h"
#include "data/sqlite/session.h"
#include "report/pdf_objects.h"
#include "report/pdf_report.h"
#include "report/report_output.h"
#include "report/reportdef.h"
#include "report/values.h"
#include "rtl/files.h"

#include <hpdf.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {
using Clock = std::chrono::steady_clock;
using Cells = std::vector<std::optional<std::string>>;

double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

long statusKb(const char *key)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0)
            return std::atol(line.c_str() + std::string(key).size());
    return -1;
}

// Rows from memory, handed over as a statement would.
class MemoryRows : public DatabaseSession {
public:
    std::vector<std::string> columns;
    std::vector<Cells> rows;
    ResultSet Query(const std::string &, const NamedValues &) override { return {columns, rows}; }
    void QueryRows(const std::string &, const NamedValues &, RowReceiver &receiver) override
    {
        if (receiver.Columns(columns))
            for (const Cells &r : rows)
                if (!receiver.Row(r))
                    return;
    }
    void Execute(const std::string &) override {}
    std::string EngineName() const override { return "memory"; }
};

// The invoice listing's columns, generated: a day lasts 3000 invoices.
std::string listingStatement(long rows)
{
    return "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(rows) +
           ")\n"
           "SELECT date('2026-01-01', '+' || (i / 3000) || ' days') AS DTENTRSAIDA,\n"
           "       printf('%09d', i) AS NRNOTAFISC, '1' AS CDSERIE, '55' AS CDMODDOCFISC,\n"
           "       CASE WHEN i % 3 = 0 THEN 'E' ELSE 'S' END AS IDENTRSAIDA, '01' AS CDTIPOOPER,\n"
           "       '0001' AS CDFILIAL, 'Participante Comércio de Peças ' || (i % 997) || ' Ltda' AS NMPARTICIPANTE,\n"
           "       'SP' AS SGUF, (i % 100000) / 100.0 + 10 AS VLCONTABIL, (i % 90000) / 100.0 AS VLBASECALC,\n"
           "       (i % 90000) * 0.0018 AS VLIMPOSTO\n"
           "  FROM n";
}

ReportJob listingJob(const std::string &sourceDir)
{
    const ReportDefinition def =
        ParseReportDefinition(ReadWholeFile(sourceDir + "/reports/FIS028/030-relacao-notas.json"), "030-relacao-notas.json");
    ReportJob job;
    job.layout = ParseLayout(def.layoutJson);
    job.heading.title = def.title;
    job.heading.code = "FIS028";
    job.heading.generatedAt = "08/12/2026 14:05";
    job.heading.header = {{"Empresa", "01 – Comercial Andorinha Ltda"}, {"Período", "01/01/2026 a 31/12/2026"}};
    job.heading.parameters = job.heading.header;
    return job;
}

// The baseline: libharu writing the formatted cells row by row, a new page
// whenever the same number of rows as the engine's pages hold is reached.
void bareLibharu(const std::vector<std::vector<std::string>> &cells, const std::vector<float> &x, int rowsPerPage,
                 const std::string &path)
{
    HPDF_Doc pdf = HPDF_New(nullptr, nullptr);
    HPDF_SetCompressionMode(pdf, HPDF_COMP_ALL);
    HPDF_SetPagesConfiguration(pdf, 1024);
    HPDF_Font regular = HPDF_GetFont(pdf, "Helvetica", "WinAnsiEncoding");
    HPDF_Font bold = HPDF_GetFont(pdf, "Helvetica-Bold", "WinAnsiEncoding");
    HPDF_Page page = nullptr;
    float y = 0;
    int onPage = rowsPerPage;
    for (const auto &row : cells) {
        if (onPage == rowsPerPage) {
            page = HPDF_AddPage(pdf);
            HPDF_Page_SetSize(page, HPDF_PAGE_SIZE_A4, HPDF_PAGE_LANDSCAPE);
            HPDF_Page_BeginText(page);
            HPDF_Page_SetFontAndSize(page, bold, 13);
            HPDF_Page_TextOut(page, 36, 555, "Relação de Notas Fiscais");
            HPDF_Page_EndText(page);
            y = 520;
            onPage = 0;
        }
        HPDF_Page_BeginText(page);
        HPDF_Page_SetFontAndSize(page, regular, 7.5f);
        for (std::size_t c = 0; c < row.size(); ++c)
            HPDF_Page_TextOut(page, x[c], y, row[c].c_str());
        HPDF_Page_EndText(page);
        y -= 9.5f;
        ++onPage;
    }
    HPDF_SaveToFile(pdf, path.c_str());
    HPDF_Free(pdf);
}
} // namespace

int main(int argc, char **argv)
{
    if (BenchHelp(argc, argv,
                  "usage: bench_report_render [ROWS] [BIG_ROWS]\n"
        "Times rendering a report of ROWS (100000) and BIG_ROWS (1000000) lines.\n"))
        return 0;
    const long rows = argc > 1 ? std::atol(argv[1]) : 100000;
    const long bigRows = argc > 2 ? std::atol(argv[2]) : 1000000;
    const std::string dir = (std::filesystem::temp_directory_path() / ("bench-report-" + std::to_string(getpid()))).string();
    std::filesystem::create_directories(dir);
    const ReportJob job = listingJob(FIS_SOURCE_DIR);
    auto db = OpenSqliteSession(":memory:", false);

    // 2 first: the peak of the process is what it measures.
    {
        const long startKb = statusKb("VmRSS:");
        std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts again from here
        ReportJob big = job;
        big.statement = listingStatement(bigRows);
        const auto t0 = Clock::now();
        const ReportResult r = WriteReport(db.get(), big, {{"pdf", dir + "/big.pdf"}}, nullptr);
        const double s = seconds(t0);
        const long peakKb = statusKb("VmHWM:");
        std::printf("streamed listing: %ld rows, %d pages, %.1f s (%.0f rows/s), file %.1f MB\n",
                    static_cast<long>(r.rows), r.pages, s, r.rows / s,
                    std::filesystem::file_size(dir + "/big.pdf") / 1048576.0);
        std::printf("memory: %.1f MB at the start, peak %.1f MB: %.1f MB more (limit 100 MB)\n", startKb / 1024.0,
                    peakKb / 1024.0, (peakKb - startKb) / 1024.0);
        std::filesystem::remove(dir + "/big.pdf");
    }

    // 1: the same rows in memory for both.
    MemoryRows memory;
    {
        struct Keep : RowReceiver {
            MemoryRows &m;
            explicit Keep(MemoryRows &mr) : m(mr) {}
            bool Columns(const std::vector<std::string> &n) override
            {
                m.columns = n;
                return true;
            }
            bool Row(const Cells &c) override
            {
                m.rows.push_back(c);
                return true;
            }
        } keep(memory);
        db->QueryRows(listingStatement(rows), {}, keep);
    }
    std::vector<std::vector<std::string>> formatted;
    std::vector<float> x;
    float at = 36;
    for (const LayoutColumn &c : job.layout.columns) {
        x.push_back(at + 2.5f);
        at += static_cast<float>(c.width);
    }
    for (const Cells &r : memory.rows) {
        auto &out = formatted.emplace_back();
        for (const LayoutColumn &c : job.layout.columns) {
            std::size_t i = 0;
            while (memory.columns[i] != c.field)
                ++i;
            out.push_back(Utf8ToCp1252(r[i] ? FormatValue(*r[i], c.format, "") : ""));
        }
    }

    const auto t0 = Clock::now();
    const ReportResult engine = WriteReport(&memory, job, {{"pdf", dir + "/engine.pdf"}}, nullptr);
    const double engineSeconds = seconds(t0);
    const int rowsPerPage = static_cast<int>((engine.rows + engine.pages - 1) / engine.pages);
    const auto t1 = Clock::now();
    bareLibharu(formatted, x, rowsPerPage, dir + "/libharu.pdf");
    const double bareSeconds = seconds(t1);

    const double engineRate = engine.rows / engineSeconds, bareRate = rows / bareSeconds;
    std::printf("listing of %ld rows:\n", rows);
    std::printf("  report engine : %6.3f s  %9.0f rows/s  %d pages  %.1f MB\n", engineSeconds, engineRate, engine.pages,
                std::filesystem::file_size(dir + "/engine.pdf") / 1048576.0);
    std::printf("  bare libharu  : %6.3f s  %9.0f rows/s  %d rows a page  %.1f MB\n", bareSeconds, bareRate, rowsPerPage,
                std::filesystem::file_size(dir + "/libharu.pdf") / 1048576.0);
    std::printf("  engine / libharu: %.0f %% of its rows per second (target at least 90 %%)\n",
                100.0 * engineRate / bareRate);
    std::filesystem::remove_all(dir);
    return 0;
}
