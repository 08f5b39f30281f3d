// Each fiscal report's own statement over a year of generated documents,
// beside the simplest statement written by hand for the same question (the
// report's optional filters left out, the values written in), in one run:
// both must give the same rows, and the report should stay within 1.2x of
// its baseline. The CFOP summary of one month is timed apart (goal: under
// 1 s on SQLite over 1 M items). Query plans are printed for both.
//
//   bench_reports [--items N] [--runs N] [--db FILE] [--engines NAME,NAME] [--reports 070,080]
//
// Without --db a SQLite database with N items (default 1 000 000) is
// generated into a temporary folder first and removed at the end. Where a
// server engine's bench variable names a database grown the same way
// (FIS_BENCH_FB_DATABASE; fisdemogen --db-database PATH --items N), the
// engine's own variants run there too, with the login of its variables
// (FIS_FB_USER / FIS_FB_PASSWORD, FIS_FB_HOST, FIS_FB_PORT).
#include "demogen.h"

#include "bench_options.h"
#include "engine_env.h"
#include "data/engine.h"
#include "data/params.h"
#include "host/hostconfig.h"
#include "report/reportdef.h"
#include "rtl/datetime.h"
#include "rtl/files.h"
#include "temp_folder.h"


#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double millis(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

std::string env(const char *name)
{
    const char *v = std::getenv(name);
    return v ? v : "";
}

ReportDefinition loadReport(const std::string &file)
{
    const std::string path = DefaultReportsDir() + "/FIS028/" + file;
    return ParseReportDefinition(ReadWholeFile(path), path);
}

// The screen's parameters for the whole year of company 01, tax ICMS, both
// sides and no other filter: every all-flag "T", every filter empty.
NamedValues yearParameters(const std::string &sql, const std::string &from, const std::string &to)
{
    TParams params;
    params.ParseSQL(sql);
    NamedValues values;
    auto day = [](const std::string &iso) {
        return Variant(EncodeDate(std::atoi(iso.c_str()), std::atoi(iso.c_str() + 5), std::atoi(iso.c_str() + 8)));
    };
    for (int i = 0; i < params.Count(); ++i) {
        const std::string name = params.Items(i)->Name;
        Variant v("");
        if (name == "P_CDEMPRESA") v = "01";
        else if (name == "P_CDIMPOSTO") v = "01";
        else if (name == "P_DTINICIAL") v = day(from);
        else if (name == "P_DTFINAL") v = day(to);
        else if (name.rfind("P_T", 0) == 0) v = "T";
        values.emplace_back(name, v);
    }
    return values;
}

// The hand-written statements: what one would type for this one question.
// Portable between SQLite and Firebird, so one text serves both engines.
const char kOrigin[] =
    "CASE WHEN C.CDCFOP IS NULL THEN '9' WHEN R.CDCFOP LIKE '1%' OR R.CDCFOP LIKE '5%' THEN '1' "
    "WHEN R.CDCFOP LIKE '2%' OR R.CDCFOP LIKE '6%' THEN '2' WHEN R.CDCFOP LIKE '3%' OR R.CDCFOP LIKE '7%' THEN '3' "
    "ELSE '9' END";
const char kOriginName[] =
    "CASE WHEN C.CDCFOP IS NULL THEN 'CFOP fora da tabela' WHEN R.CDCFOP LIKE '1%' OR R.CDCFOP LIKE '5%' THEN 'Do Estado' "
    "WHEN R.CDCFOP LIKE '2%' OR R.CDCFOP LIKE '6%' THEN 'De Outros Estados' "
    "WHEN R.CDCFOP LIKE '3%' OR R.CDCFOP LIKE '7%' THEN 'Do Exterior' ELSE 'CFOP fora da tabela' END";
const char kPeriod[] = "N.CDEMPRESA = '01' AND N.DTENTRSAIDA BETWEEN '{FROM}' AND '{TO}' AND N.IDSITUACAO = 'N'";
// ICMS: T is the ICMS row (with the ST), X the IPI row.
const char kJoins[] =
    " FROM NOTAFISCAL N JOIN ITEMNOTAFISC I ON I.CDNOTAFISC = N.CDNOTAFISC"
    " LEFT JOIN IMPOSTOITEMNF T ON T.CDNOTAFISC = I.CDNOTAFISC AND T.NRITEM = I.NRITEM AND T.CDIMPOSTONFE = '01'"
    " LEFT JOIN IMPOSTOITEMNF X ON X.CDNOTAFISC = I.CDNOTAFISC AND X.NRITEM = I.NRITEM AND X.CDIMPOSTONFE = '03'";
// Per item: the ICMS split, the IPI outside an import's base, and the rest.
const char kSplit[] =
    "I.VLCONTABIL AS VC, COALESCE(T.VLBASECALC, 0) AS BC, COALESCE(T.VLIMPOSTO, 0) AS VI,"
    " COALESCE(T.VLISENTO, 0) AS IS_, COALESCE(T.VLOUTROS, 0) AS OU,"
    " CASE WHEN I.CDCFOP LIKE '3%' THEN 0 ELSE COALESCE(X.VLIMPOSTO, 0) END AS IPI,"
    " COALESCE(T.VLBASEST, 0) AS BST, COALESCE(T.VLIMPOSTOST, 0) AS ST,"
    " I.VLCONTABIL - COALESCE(T.VLBASECALC, 0) - COALESCE(T.VLISENTO, 0) - COALESCE(T.VLOUTROS, 0)"
    " - CASE WHEN I.CDCFOP LIKE '3%' THEN 0 ELSE COALESCE(X.VLIMPOSTO, 0) END - COALESCE(T.VLIMPOSTOST, 0) AS REST";
const char kOther[] = "ROUND(COALESCE(SUM(V.OU + CASE WHEN V.REST > 0 THEN V.REST ELSE 0 END), 0), 2)";

std::string baseline(const std::string &file)
{
    const std::string period = kPeriod;
    const std::string side = "CASE R.IDENTRSAIDA WHEN 'E' THEN 'Entradas' ELSE 'Saídas' END";
    auto sum = [](const char *c) { return std::string("ROUND(COALESCE(SUM(V.") + c + "), 0), 2)"; };
    if (file == "010-resumo-cfop.json")
        return "SELECT R.IDENTRSAIDA, " + side + ", " + kOrigin + " AS IDORIGEM, " + kOriginName +
               ", R.CDCFOP, C.DSCFOP, R.VC, R.BC, R.VI, R.IS_, R.OU, R.IPI, R.BST, R.ST"
               " FROM (SELECT V.IDENTRSAIDA, V.CDCFOP, " + sum("VC") + " AS VC, " + sum("BC") + " AS BC, " +
               sum("VI") + " AS VI, " + sum("IS_") + " AS IS_, " + kOther + " AS OU, " + sum("IPI") + " AS IPI, " +
               sum("BST") + " AS BST, " + sum("ST") + " AS ST FROM (SELECT N.IDENTRSAIDA, I.CDCFOP, " + kSplit +
               kJoins + " WHERE " + period + ") V GROUP BY V.IDENTRSAIDA, V.CDCFOP) R"
               " LEFT JOIN CFOP C ON C.CDCFOP = R.CDCFOP ORDER BY 1, 3, 5";
    if (file == "020-resumo-cfop-produtos.json")
        return "SELECT R.IDENTRSAIDA, " + side + ", " + kOrigin + " AS IDORIGEM, " + kOriginName +
               ", R.CDCFOP, C.DSCFOP, R.CDARVPROD, R.NMPRODUTO, R.QT, R.VC, R.BC, R.VI, R.IS_, R.OU, R.IPI, R.ST"
               " FROM (SELECT V.IDENTRSAIDA, V.CDCFOP, V.CDARVPROD, V.NMPRODUTO, ROUND(SUM(V.QTITEM), 3) AS QT, " +
               sum("VC") + " AS VC, " + sum("BC") + " AS BC, " + sum("VI") + " AS VI, " + sum("IS_") + " AS IS_, " +
               kOther + " AS OU, " + sum("IPI") + " AS IPI, " + sum("ST") +
               " AS ST FROM (SELECT N.IDENTRSAIDA, I.CDCFOP, P.CDARVPROD, P.NMPRODUTO, I.QTITEM, " + kSplit + kJoins +
               " LEFT JOIN PRODUTO P ON P.CDPRODUTO = I.CDPRODUTO WHERE " + period +
               ") V GROUP BY V.IDENTRSAIDA, V.CDCFOP, V.CDARVPROD, V.NMPRODUTO) R"
               " LEFT JOIN CFOP C ON C.CDCFOP = R.CDCFOP ORDER BY 1, 3, 5, 7";
    if (file == "040-relacao-notas-icms-st.json")
        return "SELECT N.IDENTRSAIDA, CASE N.IDENTRSAIDA WHEN 'E' THEN 'ST pago nas entradas' ELSE 'ST retido nas saídas' END,"
               " P.CDARVPROD, P.NMPRODUTO, N.DTENTRSAIDA, N.NRNOTAFISC, N.CDSERIE, N.NMPARTICIPANTE, N.SGUF,"
               " I.CDCFOP, ROUND(SUM(I.QTITEM), 3), ROUND(SUM(T.VLBASEST), 2), ROUND(SUM(T.VLIMPOSTOST), 2)"
               " FROM NOTAFISCAL N JOIN ITEMNOTAFISC I ON I.CDNOTAFISC = N.CDNOTAFISC"
               " JOIN IMPOSTOITEMNF T ON T.CDNOTAFISC = I.CDNOTAFISC AND T.NRITEM = I.NRITEM AND T.CDIMPOSTONFE = '01'"
               " LEFT JOIN PRODUTO P ON P.CDPRODUTO = I.CDPRODUTO WHERE " +
               period +
               " AND (T.VLBASEST <> 0 OR T.VLIMPOSTOST <> 0)"
               " GROUP BY N.IDENTRSAIDA, P.CDARVPROD, P.NMPRODUTO, N.DTENTRSAIDA, N.NRNOTAFISC, N.CDNOTAFISC, I.CDCFOP,"
               " N.CDSERIE, N.NMPARTICIPANTE, N.SGUF"
               " ORDER BY N.IDENTRSAIDA, P.CDARVPROD, N.DTENTRSAIDA, N.NRNOTAFISC, N.CDNOTAFISC, I.CDCFOP";
    // 070-resumo-cfop-cst-aliquota.json: the CFOP summary's split per CST and rate of the ICMS row.
    return "SELECT R.IDENTRSAIDA, " + side + ", " + kOrigin + " AS IDORIGEM, " + kOriginName +
           ", R.CDCFOP, C.DSCFOP, R.CDCST, R.PCALIQUOTA, R.VC, R.BC, R.VI, R.IS_, R.OU, R.IPI, R.BST, R.ST"
           " FROM (SELECT V.IDENTRSAIDA, V.CDCFOP, V.CDCST, V.PCALIQUOTA, " + sum("VC") + " AS VC, " + sum("BC") +
           " AS BC, " + sum("VI") + " AS VI, " + sum("IS_") + " AS IS_, " + kOther + " AS OU, " + sum("IPI") +
           " AS IPI, " + sum("BST") + " AS BST, " + sum("ST") + " AS ST FROM (SELECT N.IDENTRSAIDA, I.CDCFOP, T.CDCST,"
           " T.PCALIQUOTA, " + kSplit + kJoins + " WHERE " + period +
           ") V GROUP BY V.IDENTRSAIDA, V.CDCFOP, V.CDCST, V.PCALIQUOTA) R"
           " LEFT JOIN CFOP C ON C.CDCFOP = R.CDCFOP ORDER BY 1, 3, 5, COALESCE(R.CDCST, ''), COALESCE(R.PCALIQUOTA, -1)";
}

// A statement with the bench's values written in place of its parameters.
std::string literal(std::string sql)
{
    const std::pair<const char *, const char *> values[] = {
        {"CAST(:P_CDIMPOSTO AS VARCHAR(2))", "'01'"}, {":P_CDIMPOSTO", "'01'"}, {":P_CDEMPRESA", "'01'"},
        {":P_DTINICIAL", "'{FROM}'"},                  {":P_DTFINAL", "'{TO}'"}};
    for (const auto &[from, to] : values)
        for (std::size_t at; (at = sql.find(from)) != std::string::npos;)
            sql.replace(at, std::string(from).size(), to);
    return sql;
}

std::string withPeriod(std::string sql, const std::string &from, const std::string &to)
{
    for (const auto &[key, value] : {std::pair{std::string("{FROM}"), from}, std::pair{std::string("{TO}"), to}})
        for (std::size_t at; (at = sql.find(key)) != std::string::npos;)
            sql.replace(at, key.size(), value);
    return sql;
}

// The engine's plan, indented under its heading.
std::string indentedPlan(DatabaseSession &db, const std::string &sql, const NamedValues &params)
{
    std::string out;
    std::stringstream lines(db.Plan(sql, params));
    for (std::string line; std::getline(lines, line);)
        if (!line.empty())
            out += "      " + line + "\n";
    return out.empty() ? "      (no plan)\n" : out;
}

struct Timing {
    double report = 0, base = 0;
    std::size_t rows = 0;
    bool same = false;
};

Timing measure(DatabaseSession &db, const std::string &reportSql, const NamedValues &params,
               const std::string &baseSql, int runs)
{
    Timing t;
    std::vector<double> r, b;
    ResultSet mine, theirs;
    // Alternate, so both meet the same cache state.
    for (int i = 0; i < runs; ++i) {
        auto t0 = Clock::now();
        mine = db.Query(reportSql, params);
        auto t1 = Clock::now();
        theirs = db.Query(baseSql, {});
        auto t2 = Clock::now();
        r.push_back(millis(t1 - t0));
        b.push_back(millis(t2 - t1));
    }
    t.report = median(r);
    t.base = median(b);
    t.rows = mine.rows.size();
    t.same = mine.rows == theirs.rows;
    return t;
}

const char *const kFiles[] = {"010-resumo-cfop.json",           "020-resumo-cfop-produtos.json",
                              "030-relacao-notas.json",         "040-relacao-notas-icms-st.json",
                              "050-ressarcimento-icms-st.json", "060-mapa-fiscal-ie.json",
                              "070-resumo-cfop-cst-aliquota.json", "080-apuracao-icms.json"};

// The books, the refund, the map and the apuração are measured against their
// own statement with every value written in: what one would type for this
// one question, without binding.
bool writtenIn(const std::string &file)
{
    for (const char *f : {"030-relacao-notas.json", "050-ressarcimento-icms-st.json", "060-mapa-fiscal-ie.json",
                          "080-apuracao-icms.json"})
        if (file == f)
            return true;
    return false;
}

// The statement with each parameter replaced by its value as a literal.
std::string everyValueWrittenIn(std::string sql, const NamedValues &values)
{
    std::vector<std::pair<std::string, std::string>> literals;
    for (const auto &[name, value] : values) {
        std::string text = value.asString();
        literals.emplace_back(":" + name, text.empty() ? "NULL" : "'" + text + "'");
    }
    // Longest names first, so :P_TCDCFOP is not taken for :P_T...
    std::sort(literals.begin(), literals.end(),
              [](const auto &a, const auto &b) { return a.first.size() > b.first.size(); });
    for (const auto &[marker, literal] : literals)
        for (std::size_t at; (at = sql.find(marker)) != std::string::npos;)
            sql.replace(at, marker.size(), literal);
    return sql;
}

// Returns false when a report gave other rows than its baseline.
// Which reports run: every one, or those whose file names hold a word of --reports.
std::string gReports;
bool chosen(const char *file)
{
    if (gReports.empty())
        return true;
    std::stringstream words(gReports);
    for (std::string word; std::getline(words, word, ',');)
        if (!word.empty() && std::string(file).find(word) != std::string::npos)
            return true;
    return false;
}

bool runEngine(const char *engine, DatabaseSession &db, const char *dialect, int runs)
{
    bool allSame = true;
    std::printf("\n%s, %s variants, median of %d runs (ms); company 01, ICMS, both sides, no other filter\n", engine,
                dialect, runs);
    std::printf("  %-34s %-9s %8s %10s %10s %7s %s\n", "report", "period", "rows", "report", "baseline", "ratio",
                "same rows");
    struct Period {
        const char *label, *from, *to;
    };
    for (const char *file : kFiles) {
        if (!chosen(file))
            continue;
        const ReportDefinition def = loadReport(file);
        const std::string &sql = def.StatementFor(dialect);
        std::vector<Period> periods{{"year", "2026-01-01", "2026-12-31"}};
        if (std::string(file) == "010-resumo-cfop.json" || std::string(file) == "080-apuracao-icms.json")
            periods.push_back({"January", "2026-01-01", "2026-01-31"});
        if (std::string(file) == "080-apuracao-icms.json")  // the month after eleven others
            periods.push_back({"December", "2026-12-01", "2026-12-31"});
        if (std::string(file) == "050-ressarcimento-icms-st.json")  // products without March entries look back
            periods.push_back({"March", "2026-03-01", "2026-03-31"});
        for (const Period &p : periods) {
            const NamedValues params = yearParameters(sql, p.from, p.to);
            const std::string base = writtenIn(file) ? everyValueWrittenIn(sql, params)
                                                     : withPeriod(baseline(file), p.from, p.to);
            const Timing t = measure(db, sql, params, base, runs);
            allSame = allSame && t.same;
            std::printf("  %-34s %-9s %8zu %10.1f %10.1f %6.2fx %s\n", file, p.label, t.rows, t.report, t.base,
                        t.base > 0 ? t.report / t.base : 0.0, t.same ? "yes" : "NO");
            for (const ReportSection &section : def.sections) {
                const std::string &check = section.StatementFor(dialect);
                const NamedValues checkParams = yearParameters(check, p.from, p.to);
                const Timing c = measure(db, check, checkParams, withPeriod(literal(check), p.from, p.to), runs);
                allSame = allSame && c.same;
                std::printf("  %-34s %-9s %8zu %10.1f %10.1f %6.2fx %s\n", ("  " + section.title).c_str(), p.label,
                            c.rows, c.report, c.base, c.base > 0 ? c.report / c.base : 0.0, c.same ? "yes" : "NO");
            }
        }
    }
    std::printf("\n  Plans (year):\n");
    for (const char *file : kFiles) {
        if (!chosen(file))
            continue;
        const ReportDefinition def = loadReport(file);
        const std::string &sql = def.StatementFor(dialect);
        const NamedValues params = yearParameters(sql, "2026-01-01", "2026-12-31");
        std::printf("    %s\n    report:\n%s    baseline:\n%s", file, indentedPlan(db, sql, params).c_str(),
                    indentedPlan(db, writtenIn(file) ? everyValueWrittenIn(sql, params)
                                         : withPeriod(baseline(file), "2026-01-01", "2026-12-31"),
                         {})
                        .c_str());
    }
    return allSame;
}
} // namespace

int main(int argc, char **argv)
{
    if (BenchHelp(argc, argv,
                  "usage: bench_reports [--items N] [--runs N] [--db FILE] [--engines sqlite,firebird,postgresql] [--reports 070,080]\n"
        "Times the reports' statements on a demo database of N items.\n"))
        return 0;
    long items = 1000000;
    int runs = 5;
    std::string dbPath, engines;  // empty: every engine
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--items" && i + 1 < argc)
            items = std::atol(argv[++i]);
        else if (a == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (a == "--db" && i + 1 < argc)
            dbPath = argv[++i];
        else if (a == "--engines" && i + 1 < argc)
            engines = argv[++i];
        else if (a == "--reports" && i + 1 < argc)
            gReports = argv[++i];
        else {
            std::fprintf(stderr, "usage: bench_reports [--items N] [--runs N] [--db FILE] [--engines NAME,NAME] [--reports 070,080]\n");
            return 2;
        }
    }
    try {
        bool same = true;
        for (const DatabaseEngine *engine : DatabaseEngines()) {
            if (!BenchListed(engines, engine->name)) {
                std::printf("\n%s: skipped (not among --engines)\n", engine->title);
                continue;
            }
            std::optional<TempFolder> temp;
            EngineConnection c;
            if (engine->localFile) {
                if (dbPath.empty()) {
                    dbPath = temp.emplace("bench-reports").file("reports.sqlite");
                    const auto t0 = Clock::now();
                    const DemoCounts n = BuildDemoSqlite(dbPath, {10000, 0, items, 2026}, DefaultFixturePaths());
                    std::printf("generated %s: %ld documents, %ld items, %ld tax rows in %.1f s\n", dbPath.c_str(),
                                n.documents, n.items, n.taxRows, millis(Clock::now() - t0) / 1000);
                }
                c.database = dbPath;
            } else {
                c = EngineFromEnv(*engine);
                c.database = env(BenchDatabaseVariable(*engine).c_str());
                if (c.database.empty()) {
                    std::printf("\n%s: skipped (%s names no database)\n", engine->title,
                                BenchDatabaseVariable(*engine).c_str());
                    continue;
                }
            }
            auto db = engine->openReader(c);
            const ResultSet n = db->Query("SELECT COUNT(*) FROM ITEMNOTAFISC", {});
            std::printf("\n%s database %s: %s items\n", engine->title, c.database.c_str(),
                        n.rows.at(0).at(0).value_or("?").c_str());
            // A local file runs every variant its compatibility functions take; a
            // server the one written for it.
            std::vector<std::string> dialects{engine->defaultDialect};
            if (engine->localFile)
                dialects = {"oracle", "interbase"};
            for (const std::string &dialect : dialects)
                same = runEngine(engine->title, *db, dialect.c_str(), runs) && same;
        }
        return same ? 0 : 1;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "bench_reports: %s\n", e.what());
        return 1;
    }
}
