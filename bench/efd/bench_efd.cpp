// bench_efd: the demo month's books written as an EFD ICMS/IPI by
// fisdemogen's writer, each document repeated under new numbers until the
// file is big; imported into new SQLite books, then checked against them.
// Beside it, in the same run: plain C++ that only splits the file's lines and
// sums its C190 by CFOP, plus the CFOP summary's statement for the month; and
// the XML import of generated NF-e files, per document. Memory is the
// process's resident size before and at the peak of the check.
//
// usage: bench_efd [--repeat N] [--items N] [--xml N] [--dir DIR]
//   --repeat N  copies of each document of the month (default 60)
//   --items N   demo items of the year the month is taken from (default 60000)
//   --xml N     NF-e files for the XML import's baseline (default 3000)
#include "bench_measure.h"
#include "bench_options.h"
#include "efd_files.h"
#include "demogen.h"
#include "host/hostconfig.h"
#include "host/hostsession.h"
#include "data/engine.h"
#include "data/writer.h"
#include "import/efd_check.h"
#include "import/importer.h"
#include "nfe_files.h"
#include "report/reportdef.h"
#include "rtl/datetime.h"
#include "rtl/files.h"

#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {
// The books of a SQLite file, written through the engine's one writer.
std::unique_ptr<DatabaseWriter> openBooks(const std::string &path)
{
    EngineConnection file;
    file.database = path;
    return DefaultEngine().openWriter(file, WriterOptions{});
}

double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

std::string newBooks(const std::string &path)
{
    fs::remove(path);
    CreateOwnDatabase(path);
    auto db = openBooks(path);
    RegisterCompany(*db, {"01", "Comercial Andorinha Ltda", "110042490114", "SP", "", "", ""});
    return path;
}

// The baseline: the lines split at '|' and C190's VL_OPR summed by CFOP.
std::size_t splitAndSum(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::string line;
    std::map<std::string, long long> byCfop;
    std::vector<std::string_view> fields;
    while (std::getline(in, line)) {
        fields.clear();
        std::string_view s(line);
        for (std::size_t at = 1; at < s.size();) {
            const std::size_t bar = s.find('|', at);
            if (bar == std::string_view::npos)
                break;
            fields.push_back(s.substr(at, bar - at));
            at = bar + 1;
        }
        if (fields.empty())
            continue;
        if (fields[0] == "9999")
            break;
        if (fields[0] == "C190" && fields.size() > 4) {
            std::string v(fields[4]);
            const std::size_t comma = v.find(',');
            long long cents = std::atoll(v.substr(0, comma).c_str()) * 100 +
                              (comma == std::string::npos ? 0 : std::atoll(v.substr(comma + 1).c_str()));
            byCfop[std::string(fields[2])] += cents;
        }
    }
    return byCfop.size();
}

double cfopSummary(DatabaseSession &session, const std::string &month)
{
    const ReportDefinition report =
        ParseReportDefinition(ReadWholeFile(DefaultReportsDir() + "/FIS028/010-resumo-cfop.json"), "010-resumo-cfop.json");
    const std::string &sql = report.StatementFor("sqlite");
    const int year = std::stoi(month.substr(0, 4)), m = std::stoi(month.substr(5));
    NamedValues params;
    for (const char *name : {"P_CDEMPRESA", "P_DTINICIAL", "P_DTFINAL", "P_CDIMPOSTO", "P_TIDENTRSAIDOP", "P_IDENTRSAIDOP",
                             "P_TCDCFOP", "P_CDCFOP", "P_TCDINSCESTA", "P_CDINSCESTA", "P_TCDINSCMUNI", "P_CDINSCMUNI"}) {
        if (sql.find(std::string(":") + name) == std::string::npos)
            continue;
        const std::string n = name;
        Variant v = n == "P_CDEMPRESA"   ? Variant("01")
                    : n == "P_DTINICIAL" ? Variant(EncodeDate(year, m, 1))
                    : n == "P_DTFINAL"   ? Variant(EncodeDate(year, m, 28))
                    : n == "P_CDIMPOSTO" ? Variant("01")
                    : n.rfind("P_T", 0) == 0 ? Variant("T")
                                             : Variant("");
        params.emplace_back(n, v);
    }
    const auto t0 = Clock::now();
    session.Query(sql, params);
    return seconds(t0);
}

} // namespace

int main(int argc, char **argv)
{
    if (BenchHelp(argc, argv,
                  "usage: bench_efd [--repeat N] [--items N] [--xml N] [--dir DIR]\n"
                  "Times an EFD ICMS/IPI read, imported and checked against its books, against splitting its\n"
                  "lines and summing its C190 in plain C++, and its import against the NF-e import per document.\n"))
        return 0;
    try {
        const int repeat = std::atoi(BenchOption(argc, argv, "--repeat", "60").c_str());
        const long items = std::atol(BenchOption(argc, argv, "--items", "60000").c_str());
        const long xml = std::atol(BenchOption(argc, argv, "--xml", "3000").c_str());
        const std::string dir = BenchOption(argc, argv, "--dir", (fs::temp_directory_path() / "fis-bench-efd").string());
        fs::create_directories(dir);
        const std::string month = "2026-03";

        DemoSize size;
        size.items = items;
        BuildDemoSqlite(dir + "/demo.sqlite", size, DefaultFixturePaths(), true);
        // The file of the month and its first half (the same documents, half
        // the copies): each imported and checked in turn into the same books,
        // so the check's memory is seen for N and 2N documents.
        EfdFileOptions o;
        o.path = dir + "/efd.txt";
        o.registration = "110042490114";
        o.month = month;
        o.repeat = repeat;
        EfdFileOptions half = o;
        half.path = dir + "/efd-half.txt";
        half.repeat = std::max(1, repeat / 2);
        EfdFileCounts written, halfWritten;
        {
            auto demo = openBooks(dir + "/demo.sqlite");
            written = WriteEfdFile(*demo, o);
            halfWritten = WriteEfdFile(*demo, half);
        }
        std::printf("EFD: %ld documents, %ld analytical lines, %ld lines, %.1f MB; its half %ld documents\n",
                    written.documents, written.analytical, written.lines,
                    static_cast<double>(fs::file_size(o.path)) / 1e6, halfWritten.documents);

        const std::string books = newBooks(dir + "/books.sqlite");
        EngineConnection file;
        file.database = books;
        struct Run {
            double clock = 0, cpu = 0, before = 0, peak = 0;
            std::size_t findings = 0;
            long imported = 0, present = 0;
            double importClock = 0, importCpu = 0;
        };
        auto importAndCheck = [&](const std::string &path) {
            Run run;
            const auto t0 = Clock::now();
            const double c0 = BenchCpuSeconds();
            {
                auto db = openBooks(books);
                const ImportReport r = ImportFiles(*db, {path});
                run.imported = r.imported;
                run.present = r.alreadyPresent;
            }
            run.importClock = seconds(t0);
            run.importCpu = BenchCpuSeconds() - c0;
            auto session = DefaultEngine().openReader(file);
            std::ofstream("/proc/self/clear_refs") << "5";  // the peak from here on
            run.before = BenchMemoryMb("VmRSS:");
            const auto t1 = Clock::now();
            const double c1 = BenchCpuSeconds();
            const EfdCheck c = CheckEfdFile(path, session.get());
            run.clock = seconds(t1);
            run.cpu = BenchCpuSeconds() - c1;
            run.peak = BenchMemoryMb("VmHWM:");
            run.findings = c.findings.size();
            return run;
        };
        const Run first = importAndCheck(half.path);
        const Run second = importAndCheck(o.path);

        NfeFileOptions nfe;
        nfe.dir = dir + "/nfe";
        nfe.count = xml;
        fs::remove_all(nfe.dir);
        WriteNfeFiles(nfe);
        auto t0 = Clock::now();
        double c0 = BenchCpuSeconds();
        ImportReport rx;
        {
            auto db = openBooks(newBooks(dir + "/xml.sqlite"));
            rx = ImportFiles(*db, {nfe.dir});
        }
        const double xmlImport = seconds(t0), xmlCpu = BenchCpuSeconds() - c0;
        auto each = [](double s, long n) { return s / static_cast<double>(std::max(1L, n)) * 1e3; };
        std::printf("import, EFD: %ld documents in %.2f s (%.3f ms each, %.3f ms of processor); then the whole file: "
                    "%ld more, %ld already present, in %.2f s\n",
                    first.imported, first.importClock, each(first.importClock, first.imported),
                    each(first.importCpu, first.imported), second.imported, second.present, second.importClock);
        std::printf("import, XML: %ld documents in %.2f s (%.3f ms each, %.3f ms of processor): EFD %.2fx by the clock, "
                    "%.2fx by processor time\n",
                    rx.imported, xmlImport, each(xmlImport, rx.imported), each(xmlCpu, rx.imported),
                    each(first.importClock, first.imported) / each(xmlImport, rx.imported),
                    each(first.importCpu, first.imported) / each(xmlCpu, rx.imported));

        // The baseline against the whole file and the books of both halves.
        auto session = DefaultEngine().openReader(file);
        t0 = Clock::now();
        c0 = BenchCpuSeconds();
        const std::size_t cfops = splitAndSum(o.path);
        const double summary = cfopSummary(*session, month);
        const double baseline = seconds(t0), baselineCpu = BenchCpuSeconds() - c0;
        std::printf("check: %.2f s (%.2f s of processor), %zu findings; baseline: split and sum (%zu CFOPs) + CFOP "
                    "summary (%.2f s) = %.2f s (%.2f s of processor): %.2fx by the clock, %.2fx by processor time\n",
                    second.clock, second.cpu, second.findings, cfops, summary, baseline, baselineCpu,
                    second.clock / baseline, second.cpu / baselineCpu);
        std::printf("memory: %ld documents: %.0f MB before the check, %.0f MB at its peak; %ld documents: %.0f MB "
                    "before, %.0f MB at its peak\n",
                    halfWritten.documents, first.before, first.peak, written.documents, second.before, second.peak);
        return 0;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "bench_efd: %s\n", e.what());
        return 1;
    }
}
