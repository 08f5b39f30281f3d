// bench_import: generated NF-e files imported into a new SQLite database of
// one's own, against a baseline in the same run that parses the same files
// with the same library (pugixml) and inserts the same rows with bare
// prepared statements in one transaction; the process's memory along the
// way; then the CFOP summary of the imported year. With FIS_BENCH_FB_DATABASE
// (a database made by scripts/firebird-create-db.sh) the same on Firebird,
// with the import's login (FIS_FB_IMPORT_USER / FIS_FB_IMPORT_PASSWORD).
//
// usage: bench_import [--count N] [--files DIR] [--runs N]
//   --count N    documents to generate (default 100000; about ten items each)
//   --files DIR  reuse (or keep) the generated files there
//   --engines    which of sqlite and firebird to measure (default both, Firebird
//                only when FIS_BENCH_FB_DATABASE is set)
#include "bench_options.h"
#include "data/firebird/session.h"
#include "data/sqlite/session.h"
#include "host/hostconfig.h"
#include "host/hostsession.h"
#include "import/importer.h"
#include "nfe_files.h"
#include "report/reportdef.h"
#include "rtl/datetime.h"
#include "rtl/files.h"

#include <pugixml.hpp>
#include <sqlite3.h>

#if FIS_WITH_FIREBIRD
#include <soci/firebird/soci-firebird.h>
#include <soci/soci.h>
#endif

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// Processor time of the process: on a machine shared with other builds the
// clock mostly measures their work.
double cpu()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Resident memory now and at its peak, in MB, as the system sees it.
double memory(const char *field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field, 0) == 0)
            return std::atof(line.c_str() + std::strlen(field)) / 1024.0;
    return 0;
}

std::string newDatabase(const std::string &path)
{
    fs::remove(path);
    CreateOwnDatabase(path);
    auto db = OpenSqliteImport(path);
    RegisterCompany(*db, {"01", "Comercial Andorinha Ltda", "110042490114", "SP", "12345678000195"});
    return path;
}

// The rows of one document as the baseline writes them: read with pugixml
// field by field, values bound as the file writes them.
struct Rows {
    std::vector<std::vector<std::string>> docs, items, taxes, keys;
};

long long centsOf(pugi::xml_node n, const char *name)
{
    const char *t = n.child_value(name);
    if (!*t)
        return 0;
    char *end = nullptr;
    const long long whole = std::strtoll(t, &end, 10);
    long long c = whole * 100;
    if (*end == '.') {
        c += (end[1] - '0') * 10;
        if (end[2])
            c += end[2] - '0';
    }
    return c;
}
std::string money(long long c)
{
    char b[32];
    std::snprintf(b, sizeof b, "%lld.%02lld", c / 100, c % 100);
    return b;
}

// The baseline's writer: the sqlite3 API, three prepared INSERTs and the key's.
class BareSqlite {
public:
    explicit BareSqlite(const std::string &path)
    {
        sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr);
        doc_ = prepare("INSERT INTO NOTAFISCAL (CDNOTAFISC, CDEMPRESA, CDFILIAL, IDENTRSAIDA, CDSERIE, NRNOTAFISC, "
                       "CDMODDOCFISC, CDTIPOOPER, DTEMISSAO, DTENTRSAIDA, CDINSCESTA, CDINSCMUNI, NMPARTICIPANTE, SGUF, "
                       "IDSITUACAO) VALUES (?, '01', NULL, ?, ?, ?, ?, '01', ?, ?, '110042490114', NULL, ?, ?, 'N')");
        item_ = prepare("INSERT INTO ITEMNOTAFISC (CDNOTAFISC, NRITEM, CDPRODUTO, CDCFOP, QTITEM, VLUNITARIO, VLCONTABIL) "
                        "VALUES (?, ?, ?, ?, ?, ?, ?)");
        tax_ = prepare("INSERT INTO IMPOSTOITEMNF (CDNOTAFISC, NRITEM, CDIMPOSTONFE, VLBASECALC, PCALIQUOTA, VLIMPOSTO, "
                       "VLISENTO, VLOUTROS, VLBASEST, VLIMPOSTOST) VALUES (?, ?, ?, ?, ?, ?, 0, 0, ?, ?)");
        key_ = prepare("INSERT INTO NFECHAVE (CHNFE, CDNOTAFISC, IDCANCELADA) VALUES (?, ?, 'N')");
    }
    ~BareSqlite()
    {
        for (sqlite3_stmt *s : {doc_, item_, tax_, key_})
            sqlite3_finalize(s);
        sqlite3_close(db_);
    }
    void Document(const std::vector<std::string> &v) { run(doc_, v); }
    void Item(const std::vector<std::string> &v) { run(item_, v); }
    void Tax(const std::vector<std::string> &v) { run(tax_, v); }
    void Key(const std::vector<std::string> &v) { run(key_, v); }
    void Commit() { sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr); }

private:
    sqlite3_stmt *prepare(const char *sql)
    {
        sqlite3_stmt *s = nullptr;
        if (sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(db_));
        return s;
    }
    void run(sqlite3_stmt *s, const std::vector<std::string> &v)
    {
        for (std::size_t i = 0; i < v.size(); ++i)
            sqlite3_bind_text(s, static_cast<int>(i + 1), v[i].data(), static_cast<int>(v[i].size()), SQLITE_STATIC);
        if (sqlite3_step(s) != SQLITE_DONE)
            throw std::runtime_error(sqlite3_errmsg(db_));
        sqlite3_reset(s);
    }
    sqlite3 *db_ = nullptr;
    sqlite3_stmt *doc_ = nullptr, *item_ = nullptr, *tax_ = nullptr, *key_ = nullptr;
};

#if FIS_WITH_FIREBIRD
// The baseline on Firebird: the same statements prepared once over SOCI, a
// document's items and tax rows bound in bulk, one transaction. Its rows go
// under company "BB" (and keys starting with "B") beside the import's.
class BareFirebird {
public:
    explicit BareFirebird(const FirebirdConnection &c)
    {
        sql_.open(soci::firebird, FirebirdConnectString(c));
        doc_ = prepare("INSERT INTO NOTAFISCAL (CDNOTAFISC, CDEMPRESA, CDFILIAL, IDENTRSAIDA, CDSERIE, NRNOTAFISC, "
                       "CDMODDOCFISC, CDTIPOOPER, DTEMISSAO, DTENTRSAIDA, CDINSCESTA, CDINSCMUNI, NMPARTICIPANTE, SGUF, "
                       "IDSITUACAO) VALUES (:p1, 'BB', NULL, :p2, :p3, :p4, :p5, '01', :p6, :p7, '110042490114', NULL, "
                       ":p8, :p9, 'N')",
                       docValues_, 9, false);
        item_ = prepare("INSERT INTO ITEMNOTAFISC (CDNOTAFISC, NRITEM, CDPRODUTO, CDCFOP, QTITEM, VLUNITARIO, VLCONTABIL) "
                        "VALUES (:p1, :p2, :p3, :p4, :p5, :p6, :p7)",
                        itemValues_, 7, true);
        tax_ = prepare("INSERT INTO IMPOSTOITEMNF (CDNOTAFISC, NRITEM, CDIMPOSTONFE, VLBASECALC, PCALIQUOTA, VLIMPOSTO, "
                       "VLISENTO, VLOUTROS, VLBASEST, VLIMPOSTOST) VALUES (:p1, :p2, :p3, :p4, :p5, :p6, 0, 0, :p7, :p8)",
                       taxValues_, 8, true);
        key_ = prepare("INSERT INTO NFECHAVE (CHNFE, CDNOTAFISC, IDCANCELADA) VALUES (:p1, :p2, 'N')", keyValues_, 2,
                       false);
    }
    void Document(const std::vector<std::string> &v)
    {
        for (std::size_t i = 0; i < v.size(); ++i)
            docValues_.single[i] = v[i];
        doc_->execute(true);
    }
    void Item(const std::vector<std::string> &v) { append(itemValues_, v); }
    void Tax(const std::vector<std::string> &v) { append(taxValues_, v); }
    void Key(const std::vector<std::string> &v)
    {
        flush(taxValues_, *tax_);
        flush(itemValues_, *item_);
        keyValues_.single[0] = "B" + v[0].substr(1);
        keyValues_.single[1] = v[1];
        key_->execute(true);
    }
    void Commit() { sql_.commit(); }

private:
    struct Values {
        std::vector<std::string> single;
        std::vector<std::vector<std::string>> bulk;
    };
    std::unique_ptr<soci::statement> prepare(const char *sql, Values &values, std::size_t n, bool bulk)
    {
        auto st = std::make_unique<soci::statement>(sql_);
        values.single.resize(n);
        values.bulk.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            if (bulk) {
                values.bulk[i].resize(1);
                st->exchange(soci::use(values.bulk[i]));
            } else {
                st->exchange(soci::use(values.single[i]));
            }
        }
        st->alloc();
        st->prepare(sql);
        st->define_and_bind();
        return st;
    }
    static void append(Values &values, const std::vector<std::string> &v)
    {
        if (values.single.empty())
            return;
        for (std::size_t i = 0; i < v.size(); ++i)
            values.bulk[i].push_back(v[i]);
    }
    void flush(Values &values, soci::statement &st)
    {
        // The first element of each column is a placeholder the binding was made with.
        if (values.bulk[0].size() > 1) {
            for (auto &column : values.bulk)
                column.erase(column.begin());
            st.execute(true);
        }
        for (auto &column : values.bulk)
            column.assign(1, std::string());
    }
    soci::session sql_;
    Values docValues_, itemValues_, taxValues_, keyValues_;
    std::unique_ptr<soci::statement> doc_, item_, tax_, key_;
};
#endif

// Parses every NF-e file with pugixml and hands its rows to the writer.
template <typename Writer>
long baseline(const std::vector<SourceFile> &files, Writer &w, long firstId)
{
    long id = firstId, documents = 0;
    for (const SourceFile &f : files) {
        const std::string text = ReadWholeFile(f.path);
        pugi::xml_document doc;
        doc.load_buffer(text.data(), text.size());
        pugi::xml_node nfe = doc.child("nfeProc") ? doc.child("nfeProc").child("NFe") : doc.child("NFe");
        if (!nfe)
            continue;  // an event
        pugi::xml_node inf = nfe.child("infNFe"), ide = inf.child("ide");
        const std::string cd = std::to_string(id++);
        const bool exit = std::string(ide.child_value("tpNF")) == "1";
        pugi::xml_node other = exit ? inf.child("dest") : inf.child("emit");
        const std::string day = std::string(ide.child_value("dhEmi")).substr(0, 10);
        w.Document({cd, exit ? "S" : "E", ide.child_value("serie"), ide.child_value("nNF"), ide.child_value("mod"), day, day,
                    other.child_value("xNome"),
                    other.child(exit ? "enderDest" : "enderEmit").child_value("UF")});
        int n = 0;
        for (pugi::xml_node det : inf.children("det")) {
            const std::string nr = std::to_string(++n);
            pugi::xml_node prod = det.child("prod"), tax = det.child("imposto");
            pugi::xml_node icms = tax.child("ICMS").first_child();
            const long long value = centsOf(prod, "vProd") - centsOf(prod, "vDesc") + centsOf(prod, "vFrete") +
                                    centsOf(prod, "vSeg") + centsOf(prod, "vOutro") +
                                    centsOf(tax.child("IPI").child("IPITrib"), "vIPI") + centsOf(icms, "vICMSST") +
                                    centsOf(tax.child("II"), "vII");
            if (icms)
                w.Tax({cd, nr, "01", money(centsOf(icms, "vBC")), money(centsOf(icms, "pICMS")),
                       money(centsOf(icms, "vICMS")), money(centsOf(icms, "vBCST")), money(centsOf(icms, "vICMSST"))});
            if (pugi::xml_node ipi = tax.child("IPI"))
                w.Tax({cd, nr, "03", money(centsOf(ipi.child("IPITrib"), "vBC")), money(centsOf(ipi.child("IPITrib"), "pIPI")),
                       money(centsOf(ipi.child("IPITrib"), "vIPI")), "0", "0"});
            if (pugi::xml_node iss = tax.child("ISSQN"))
                w.Tax({cd, nr, "02", money(centsOf(iss, "vBC")), money(centsOf(iss, "vAliq")), money(centsOf(iss, "vISSQN")),
                       "0", "0"});
            // After its tax rows, as the import writes them: the kept summary sums the item once.
            w.Item({cd, nr, "1", prod.child_value("CFOP"), prod.child_value("qCom"), prod.child_value("vUnCom"),
                    money(value)});
        }
        w.Key({std::string(inf.attribute("Id").value()).substr(3), cd});
        ++documents;
    }
    w.Commit();
    return documents;
}

struct Measure {
    double seconds = 0, cpu = 0, startMb = 0, peakMb = 0, endMb = 0;
    long documents = 0;
};

// The baseline's time, from making its writer to its commit.
template <typename MakeWriter>
Measure timeBaseline(const std::vector<SourceFile> &files, long firstId, MakeWriter make)
{
    Measure m;
    m.startMb = memory("VmRSS:");
    const auto t0 = Clock::now();
    const double c0 = cpu();
    {
        auto writer = make();
        m.documents = baseline(files, *writer, firstId);
    }
    m.seconds = seconds(t0);
    m.cpu = cpu() - c0;
    m.endMb = m.peakMb = memory("VmRSS:");
    return m;
}

Measure timeImport(ImportConnection &db, const std::string &dir)
{
    Measure m;
    m.startMb = memory("VmRSS:");
    double peak = m.startMb;
    ImportOptions options;
    options.progress = [&](const ImportProgress &p) {
        if (p.documents % 1000 == 0)
            peak = std::max(peak, memory("VmRSS:"));
        return true;
    };
    const auto t0 = Clock::now();
    const double c0 = cpu();
    const ImportReport r = ImportFiles(db, {dir}, options);
    m.seconds = seconds(t0);
    m.cpu = cpu() - c0;
    m.documents = r.imported;
    m.endMb = memory("VmRSS:");
    m.peakMb = std::max(peak, m.endMb);
    if (!r.refused.empty())
        std::printf("  (%zu refused: %s)\n", r.refused.size(), r.refused[0].reason.c_str());
    return m;
}

void print(const char *label, const Measure &m)
{
    std::printf("  %-34s %7.2f s (cpu %6.2f s) %7.0f documents/s (cpu %7.0f)   memory %5.1f MB at the start, peak "
                "%5.1f, end %5.1f\n",
                label, m.seconds, m.cpu, m.documents / m.seconds, m.documents / m.cpu, m.startMb, m.peakMb, m.endMb);
}

// The CFOP summary's own statement for the year, both sides, ICMS.
double summary(DatabaseSession &session, const std::string &dialect, int runs, std::size_t &rows)
{
    const ReportDefinition report =
        ParseReportDefinition(ReadWholeFile(DefaultReportsDir() + "/FIS028/010-resumo-cfop.json"), "010-resumo-cfop.json");
    const std::string &sql = report.StatementFor(dialect);
    NamedValues params;
    for (const char *name : {"P_CDEMPRESA", "P_DTINICIAL", "P_DTFINAL", "P_CDIMPOSTO", "P_TIDENTRSAIDOP", "P_IDENTRSAIDOP",
                             "P_TCDCFOP", "P_CDCFOP", "P_TCDINSCESTA", "P_CDINSCESTA", "P_TCDINSCMUNI", "P_CDINSCMUNI"}) {
        if (sql.find(std::string(":") + name) == std::string::npos)
            continue;
        const std::string n = name;
        Variant v = n == "P_CDEMPRESA"   ? Variant("01")
                    : n == "P_DTINICIAL" ? Variant(EncodeDate(2026, 1, 1))
                    : n == "P_DTFINAL"   ? Variant(EncodeDate(2026, 12, 31))
                    : n == "P_CDIMPOSTO" ? Variant("01")
                    : n.rfind("P_T", 0) == 0 ? Variant("T")
                                             : Variant("");
        params.emplace_back(n, v);
    }
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = Clock::now();
        rows = session.Query(sql, params).rows.size();
        times.push_back(seconds(t0));
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    if (BenchHelp(argc, argv,
                  "usage: bench_import [--count N] [--files DIR] [--runs N] [--engines sqlite,firebird]\n"
        "Times importing N generated NF-e files (or the files of DIR) against a bare pugixml + INSERT baseline.\n"))
        return 0;
    long count = 100000;
    int runs = 3;
    bool sqlite = true;
    std::string files;
    for (int i = 1; i < argc; i += 2) {
        const std::string a = argv[i];
        if (i + 1 >= argc) {
            std::fprintf(stderr, "bench_import: option %s needs a value\n", a.c_str());
            return 2;
        }
        if (a == "--count") count = std::atol(argv[i + 1]);
        else if (a == "--files") files = argv[i + 1];
        else if (a == "--runs") runs = std::atoi(argv[i + 1]);
        else if (a == "--engines") sqlite = std::string(argv[i + 1]).find("sqlite") != std::string::npos;
        else {
            std::fprintf(stderr, "usage: bench_import [--count N] [--files DIR] [--runs N] [--engines sqlite,firebird]\n");
            return 2;
        }
    }
    try {
        std::string pattern = (fs::temp_directory_path() / "bench-import-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("no temporary folder");
        const std::string work = pattern;
        const bool keepFiles = !files.empty();
        if (files.empty())
            files = work + "/nfe";
        if (!fs::exists(files) || fs::is_empty(files)) {
            NfeFileOptions o;
            o.dir = files;
            o.count = count;
            const auto t0 = Clock::now();
            const NfeFileCounts c = WriteNfeFiles(o);
            std::printf("generated %ld documents with %ld items (%ld cancellations, %ld other events) in %.1f s into %s\n",
                        c.documents, c.items, c.cancellations, c.otherEvents, seconds(t0), files.c_str());
        }
        const std::vector<SourceFile> list = ListSources({files});
        double load[3] = {0, 0, 0};
        if (std::FILE *f = std::fopen("/proc/loadavg", "r")) {
            if (std::fscanf(f, "%lf %lf %lf", &load[0], &load[1], &load[2]) != 3)
                load[0] = 0;
            std::fclose(f);
        }
        std::printf("%zu files; machine load (1 min) %.1f\n", list.size(), load[0]);

        double ratio = 0;
        if (sqlite) {
            std::printf("\nSQLite\n");
            // Baseline first, then the import, each into a new database of its own.
            const std::string basePath = newDatabase(work + "/baseline.sqlite");
            const Measure base = timeBaseline(list, 1, [&] { return std::make_unique<BareSqlite>(basePath); });
            print("baseline: pugixml + bare INSERTs", base);
            const std::string path = newDatabase(work + "/import.sqlite");
            Measure imp;
            {
                auto db = OpenSqliteImport(path);
                imp = timeImport(*db, files);
            }
            print("fishost import", imp);
            ratio = imp.cpu / base.cpu;
            std::printf("  import / baseline: %.2fx in processor time, %.2fx on the clock (goal at most 1.5x); memory growth "
                        "during the import %.1f MB\n",
                        ratio, imp.seconds / base.seconds, imp.peakMb - imp.startMb);
            std::size_t rows = 0;
            auto session = OpenSqliteSession(path, true);
            const double s = summary(*session, "oracle", runs, rows);
            std::printf("  CFOP summary of the year, both sides: %.3f s median of %d (%zu lines; goal under 0.5 s)\n", s, runs,
                        rows);
        }
        std::size_t rows = 0;
        (void)rows;

#if FIS_WITH_FIREBIRD
        if (const char *fb = std::getenv("FIS_BENCH_FB_DATABASE"); fb && *fb) {
            auto env = [](const char *n, const char *d) {
                const char *v = std::getenv(n);
                return std::string(v && *v ? v : d);
            };
            FirebirdConnection c;
            c.host = env("FIS_FB_HOST", "127.0.0.1");
            c.port = std::atoi(env("FIS_FB_PORT", "3050").c_str());
            c.database = fb;
            c.user = env("FIS_FB_IMPORT_USER", "FISIMPORT");
            c.password = env("FIS_FB_IMPORT_PASSWORD", "fisimport");
            std::printf("\nFirebird %s\n", fb);
            const Measure fbase = timeBaseline(list, 50000000, [&] { return std::make_unique<BareFirebird>(c); });
            print("baseline: pugixml + bare INSERTs", fbase);
            Measure fimp;
            {
                auto db = OpenFirebirdImport(c);
                fimp = timeImport(*db, files);
            }
            print("fishost import", fimp);
            std::printf("  import / baseline: %.2fx on the clock, %.2fx in this process's processor time\n",
                        fimp.seconds / fbase.seconds, fimp.cpu / fbase.cpu);
            FirebirdConnection reader = c;
            reader.user = env("FIS_FB_USER", "FISREAD");
            reader.password = env("FIS_FB_PASSWORD", "fisread");
            auto fsession = OpenFirebirdSession(reader);
            const double fs2 = summary(*fsession, "interbase", runs, rows);
            std::printf("  CFOP summary of the year, both sides: %.3f s median of %d (%zu lines; goal under 2 s)\n", fs2,
                        runs, rows);
        }
#endif
        (void)keepFiles;  // --files DIR stays; everything else goes
        fs::remove_all(work);
        return ratio <= 1.5 ? 0 : 1;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "bench_import: %s\n", e.what());
        return 1;
    }
}
