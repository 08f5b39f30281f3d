// bench_import: generated NF-e files imported into a new SQLite database of
// one's own, against a baseline in the same run that parses the same files
// with the same library (pugixml) and inserts the same rows with bare
// prepared statements in one transaction; the process's memory along the
// way; then the CFOP summary of the imported year. On a server engine the
// same where its bench variable names a database (FIS_BENCH_FB_DATABASE, made
// by scripts/firebird-create-db.sh), with the import's login
// (FIS_FB_IMPORT_USER / FIS_FB_IMPORT_PASSWORD).
//
// usage: bench_import [--count N] [--files DIR] [--runs N] [--engines LIST]
//   --count N    documents to generate (default 100000; about ten items each)
//   --files DIR  reuse (or keep) the generated files there
//   --engines    the engines to measure, comma-separated (default every one; a
//                server only where its bench variable names a database)
#include "bench_measure.h"
#include "bench_options.h"
#include "engine_env.h"
#include "data/engine.h"
#include "data/writer.h"
#include "host/hostconfig.h"
#include "host/hostsession.h"
#include "import/importer.h"
#include "nfe_files.h"
#include "report/reportdef.h"
#include "rtl/datetime.h"
#include "rtl/files.h"

#include <pugixml.hpp>

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

std::string newDatabase(const DatabaseEngine &engine, const std::string &path)
{
    fs::remove(path);
    CreateOwnDatabase(path);
    EngineConnection c;
    c.database = path;
    auto db = engine.openWriter(c, {});
    RegisterCompany(*db, {"01", "Comercial Andorinha Ltda", "110042490114", "SP", "12345678000195", "", ""});
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

// The baseline's writer: the engine's own writer with the four INSERTs
// prepared once, a document's tax rows and items bound in bulk, one
// transaction. On a server its rows go under company "BB" (and keys starting
// with "B") beside the import's.
class BareWriter {
public:
    BareWriter(std::unique_ptr<DatabaseWriter> db, bool besideOthers)
        : db_(std::move(db)), company_(besideOthers ? "BB" : "01"), besideOthers_(besideOthers)
    {
        db_->Begin();
        doc_ = db_->Prepare("INSERT INTO NOTAFISCAL (CDNOTAFISC, CDEMPRESA, CDFILIAL, IDENTRSAIDA, CDSERIE, NRNOTAFISC, "
                            "CDMODDOCFISC, CDTIPOOPER, DTEMISSAO, DTENTRSAIDA, CDINSCESTA, CDINSCMUNI, NMPARTICIPANTE, "
                            "SGUF, IDSITUACAO) VALUES (?, ?, NULL, ?, ?, ?, ?, '01', ?, ?, '110042490114', NULL, ?, ?, "
                            "'N')");
        item_ = db_->Prepare("INSERT INTO ITEMNOTAFISC (CDNOTAFISC, NRITEM, CDPRODUTO, CDCFOP, QTITEM, VLUNITARIO, "
                             "VLCONTABIL) VALUES (?, ?, ?, ?, ?, ?, ?)");
        tax_ = db_->Prepare("INSERT INTO IMPOSTOITEMNF (CDNOTAFISC, NRITEM, CDIMPOSTONFE, VLBASECALC, PCALIQUOTA, "
                            "VLIMPOSTO, VLISENTO, VLOUTROS, VLBASEST, VLIMPOSTOST) VALUES (?, ?, ?, ?, ?, ?, 0, 0, ?, ?)");
        key_ = db_->Prepare("INSERT INTO NFECHAVE (CHNFE, CDNOTAFISC, IDCANCELADA) VALUES (?, ?, 'N')");
    }
    void Document(const std::vector<std::string> &v)
    {
        DatabaseWriter::Values row{v[0], company_};
        row.insert(row.end(), v.begin() + 1, v.end());
        db_->Run(doc_, row);
    }
    void Item(const std::vector<std::string> &v) { items_.emplace_back(v.begin(), v.end()); }
    void Tax(const std::vector<std::string> &v) { taxes_.emplace_back(v.begin(), v.end()); }
    void Key(const std::vector<std::string> &v)
    {
        // Tax rows first, as the import writes them: the kept summary sums the item once.
        db_->RunMany(tax_, taxes_);
        db_->RunMany(item_, items_);
        taxes_.clear();
        items_.clear();
        db_->Run(key_, {besideOthers_ ? "B" + v[0].substr(1) : v[0], v[1]});
    }
    void Commit() { db_->Commit(); }

private:
    std::unique_ptr<DatabaseWriter> db_;
    std::string company_;
    bool besideOthers_;
    int doc_, item_, tax_, key_;
    std::vector<DatabaseWriter::Values> items_, taxes_;
};

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
    m.startMb = BenchMemoryMb("VmRSS:");
    const auto t0 = Clock::now();
    const double c0 = BenchCpuSeconds();
    {
        auto writer = make();
        m.documents = baseline(files, *writer, firstId);
    }
    m.seconds = seconds(t0);
    m.cpu = BenchCpuSeconds() - c0;
    m.endMb = m.peakMb = BenchMemoryMb("VmRSS:");
    return m;
}

Measure timeImport(ImportConnection &db, const std::string &dir)
{
    Measure m;
    m.startMb = BenchMemoryMb("VmRSS:");
    double peak = m.startMb;
    ImportOptions options;
    options.progress = [&](const ImportProgress &p) {
        if (p.documents % 1000 == 0)
            peak = std::max(peak, BenchMemoryMb("VmRSS:"));
        return true;
    };
    const auto t0 = Clock::now();
    const double c0 = BenchCpuSeconds();
    const ImportReport r = ImportFiles(db, {dir}, options);
    m.seconds = seconds(t0);
    m.cpu = BenchCpuSeconds() - c0;
    m.documents = r.imported;
    m.endMb = BenchMemoryMb("VmRSS:");
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
                  "usage: bench_import [--count N] [--files DIR] [--runs N] [--engines sqlite,firebird,postgresql]\n"
        "Times importing N generated NF-e files (or the files of DIR) against a bare pugixml + INSERT baseline.\n"))
        return 0;
    long count = 100000;
    int runs = 3;
    std::string engines;  // empty: every engine
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
        else if (a == "--engines") engines = argv[i + 1];
        else {
            std::fprintf(stderr, "usage: bench_import [--count N] [--files DIR] [--runs N] [--engines NAME,NAME]\n");
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
        for (const DatabaseEngine *engine : DatabaseEngines()) {
            if (!BenchListed(engines, engine->name))
                continue;
            std::printf("\n%s\n", engine->title);
            EngineConnection writing, reading;
            if (engine->localFile) {
                // Baseline first, then the import, each into a new database of its own.
                writing.database = newDatabase(*engine, work + "/baseline.sqlite");
            } else {
                writing = EngineFromEnv(*engine, EngineLogin::Writing);
                reading = EngineFromEnv(*engine, EngineLogin::Reading);
                writing.database = reading.database = EnvOr(BenchDatabaseVariable(*engine).c_str());
                if (writing.database.empty()) {
                    std::printf("  skipped: %s names no database\n", BenchDatabaseVariable(*engine).c_str());
                    continue;
                }
            }
            const Measure base = timeBaseline(list, engine->localFile ? 1 : 50000000, [&] {
                return std::make_unique<BareWriter>(engine->openWriter(writing, {}), !engine->localFile);
            });
            print("baseline: pugixml + bare INSERTs", base);
            if (engine->localFile)
                reading.database = writing.database = newDatabase(*engine, work + "/import.sqlite");
            Measure imp;
            {
                auto db = engine->openWriter(writing, {});
                imp = timeImport(*db, files);
            }
            print("fishost import", imp);
            std::printf("  import / baseline: %.2fx in processor time, %.2fx on the clock%s; memory growth during the "
                        "import %.1f MB\n",
                        imp.cpu / base.cpu, imp.seconds / base.seconds, engine->localFile ? " (goal at most 1.5x)" : "",
                        imp.peakMb - imp.startMb);
            if (engine->localFile)
                ratio = std::max(ratio, imp.cpu / base.cpu);
            std::size_t rows = 0;
            auto session = engine->openReader(reading);
            const double s = summary(*session, engine->defaultDialect, runs, rows);
            std::printf("  CFOP summary of the year, both sides: %.3f s median of %d (%zu lines; goal under %s s)\n", s,
                        runs, rows, engine->localFile ? "0.5" : "2");
        }
        (void)keepFiles;  // --files DIR stays; everything else goes
        fs::remove_all(work);
        return ratio <= 1.5 ? 0 : 1;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "bench_import: %s\n", e.what());
        return 1;
    }
}
