// fisdemogen: the reference fixture grown to large sizes, for benchmarks and
// trials of the lookups on big data.
#include "demogen.h"
#include "efd_files.h"
#include "nfe_files.h"

#include "data/engine.h"
#include "host/hostconfig.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <algorithm>
#include <memory>
#include <vector>

namespace {
const char kUsage[] =
    "usage: fisdemogen [--out FILE [--replace]] [--products N] [--companies N] [--items N] [--year YYYY]\n"
    "                  [--fixture FILE]... [--db-database PATH [--engine E] [--db-host HOST] [--db-port PORT]\n"
    "                   [--db-user USER] [--db-password PASSWORD] [--db-batch ROWS]]\n"
    "  --out FILE       new SQLite file: the fixtures plus the generated rows\n"
    "  --replace        overwrite FILE if it exists\n"
    "  --products N     leaf products to add, 1..1000000 (default 1000)\n"
    "  --companies N    extra companies with registrations, series and branches (default 50)\n"
    "  --items N        fiscal document items to add over one year, 0..10000000 (default 0)\n"
    "  --year YYYY      the year those documents are booked in (default 2026)\n"
    "  --fixture FILE   a fixture to load, once per file in order (default: reference.sql and\n"
    "                   fiscal.sql of the source tree)\n"
    "  --db-database    also add the rows to this server database, which must already hold\n"
    "                   the fixtures; the login must be allowed to insert (default SYSDBA,\n"
    "                   password from --db-password, else $ISC_PASSWORD, else masterkey)\n"
    "  --engine E       that server's engine (default: the first server engine, firebird)\n"
    "  --db-batch ROWS  rows of a table sent and committed together (default 2000)\n"
    "                   (--fb-database, --fb-host ... are the older spellings of --db-*)\n"
    "usage: fisdemogen --nfe DIR [--count N] [--year YYYY]\n"
    "  --nfe DIR        writes N NF-e 4.00 files of demo company 01 (and their events) into DIR\n"
    "usage: fisdemogen --efd FILE --month YYYY-MM (--from SQLITE | --fb-database PATH ...) [--company CD]\n"
    "                  [--registration IE] [--layout N] [--repeat N] [--inject KIND,...]\n"
    "  --efd FILE       writes the EFD ICMS/IPI of the company's month from the books in the database\n"
    "  --inject KIND    divergences to put in: registros, linhas, icms-c100, total-c100, icms-c170,\n"
    "                   cfop-direcao, e110, e116, sem-documento, documento-a-mais, valor, situacao\n";

// A whole number that fits its type; the generator checks the ranges it needs.
template <typename T = int>
T number(const std::string &option, const char *text)
{
    T value = 0;
    const std::string s = text;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size())
        throw EDemoArgument(option + " needs a whole number, got '" + s + "'");
    return value;
}

double seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

void print(const char *target, const DemoCounts &c, double elapsed)
{
    std::printf("%s: %ld products and %ld groups, %ld companies with %ld state and %ld municipal registrations, "
                "%ld series rows, %ld branches, %ld documents with %ld items and %ld tax rows added in %.2f s\n",
                target, c.products, c.productGroups, c.companies, c.stateRegistrations, c.municipalRegistrations,
                c.seriesRows, c.branches, c.documents, c.items, c.taxRows, elapsed);
}
} // namespace

int main(int argc, char **argv)
{
    try {
        std::string out;
        std::vector<std::string> fixtures;
        bool replace = false;
        DemoSize size;
        EngineConnection fb;
        fb.host = "127.0.0.1";
        fb.user = "SYSDBA";
        const DatabaseEngine *engine = nullptr;
        for (const DatabaseEngine *e : DatabaseEngines())
            if (!engine && !e->localFile)
                engine = e;
        const char *envPassword = std::getenv("ISC_PASSWORD");
        fb.password = envPassword && *envPassword ? envPassword : "masterkey";
        int batch = 2000;
        NfeFileOptions nfe;
        EfdFileOptions efd;
        std::string from;
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i];
            if (arg == "--help" || arg == "-h") {
                std::fputs(kUsage, stdout);
                return 0;
            }
            if (arg == "--replace") {
                replace = true;
                continue;
            }
            if (i + 1 >= argc)
                throw EDemoArgument(arg.rfind("--", 0) == 0 ? arg + " needs a value" : "unknown argument " + arg);
            const char *value = argv[++i];
            std::string option = arg;
            if (option.rfind("--fb-", 0) == 0)
                option = "--db-" + option.substr(5);
            if (arg == "--out") out = value;
            else if (arg == "--engine") engine = &EngineNamed(value);
            else if (arg == "--products") size.products = number<long>(arg, value);
            else if (arg == "--items") size.items = number<long>(arg, value);
            else if (arg == "--year") size.year = number(arg, value);
            else if (arg == "--companies") size.companies = number(arg, value);
            else if (arg == "--fixture") fixtures.push_back(value);
            else if (option == "--db-database") fb.database = value;
            else if (option == "--db-host") fb.host = value;
            else if (option == "--db-port") fb.port = number(arg, value);
            else if (option == "--db-user") fb.user = value;
            else if (option == "--db-password") fb.password = value;
            else if (option == "--db-batch") batch = number(arg, value);
            else if (arg == "--nfe") nfe.dir = value;
            else if (arg == "--count") nfe.count = number<long>(arg, value);
            else if (arg == "--efd") efd.path = value;
            else if (arg == "--from") from = value;
            else if (arg == "--month") efd.month = value;
            else if (arg == "--company") efd.company = value;
            else if (arg == "--registration") efd.registration = value;
            else if (arg == "--layout") efd.layout = number(arg, value);
            else if (arg == "--repeat") efd.repeat = number(arg, value);
            else if (arg == "--inject") {
                std::string list = value;
                for (std::size_t at = 0; at <= list.size();) {
                    const std::size_t comma = std::min(list.find(',', at), list.size());
                    EfdDivergence d;
                    if (!ParseEfdDivergence(list.substr(at, comma - at), d))
                        throw EDemoArgument("unknown divergence '" + list.substr(at, comma - at) + "'");
                    efd.divergences.push_back(d);
                    at = comma + 1;
                }
            }
            else throw EDemoArgument("unknown option " + arg);
        }
        if (!nfe.dir.empty()) {
            nfe.year = size.year;
            const NfeFileCounts c = WriteNfeFiles(nfe);
            std::printf("%s: %ld documents with %ld items, %ld cancellations, %ld other events\n", nfe.dir.c_str(),
                        c.documents, c.items, c.cancellations, c.otherEvents);
            return 0;
        }
        if (!efd.path.empty()) {
            std::unique_ptr<ImportConnection> db;
            if (!from.empty()) {
                EngineConnection file;
                file.database = from;
                db = EngineNamed("sqlite").openWriter(file, {});
            } else if (!fb.database.empty()) {
                db = EngineNamed("firebird").openWriter(fb, {});
            }
            else
                throw EDemoArgument("--efd needs --from or --fb-database");
            const EfdFileCounts c = WriteEfdFile(*db, efd);
            std::printf("%s: %ld documents, %ld items, %ld analytical lines, %ld lines\n", efd.path.c_str(), c.documents,
                        c.items, c.analytical, c.lines);
            for (const auto &[kind, number] : c.injected)
                std::printf("  divergence %d in %s\n", static_cast<int>(kind),
                            number ? ("document " + std::to_string(number)).c_str() : "the file's own records");
            return 0;
        }
        if (out.empty() && fb.database.empty())
            throw EDemoArgument("give --out, --db-database or both");
        if (fixtures.empty())
            fixtures = DefaultFixturePaths();

        using Clock = std::chrono::steady_clock;
        if (!out.empty()) {
            const auto t0 = Clock::now();
            const DemoCounts c = BuildDemoSqlite(out, size, fixtures, replace);
            print(out.c_str(), c, seconds(Clock::now() - t0));
        }
        if (!fb.database.empty()) {
            if (!engine)
                throw EDemoArgument("no server engine in this build");
            const auto t0 = Clock::now();
            const DemoCounts c = GrowDemoDatabase(*engine, fb, size, batch);
            print(fb.database.c_str(), c, seconds(Clock::now() - t0));
        }
        return 0;
    } catch (const EDemoArgument &e) {
        std::fprintf(stderr, "fisdemogen: %s\n%s", e.what(), kUsage);
        return 2;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "fisdemogen: %s\n", e.what());
        return 1;
    }
}
