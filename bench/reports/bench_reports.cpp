// Each fiscal report's own statement over a year of generated documents,
// beside the simplest statement written by hand for the same question (the
// report's optional filters left out, the values written in), in one run:
// both must give the same rows, and the report should stay within 1.2x of
// its baseline. The CFOP summary of one month is timed apart (goal: under
// 1 s on SQLite over 1 M items). Query plans are printed for both.
//
//   bench_reports [--items N] [--runs N] [--db FILE]
//
// Without --db a SQLite database with N items (default 1 000 000) is
// generated into a temporary folder first and removed at the end. When
// FIS_BENCH_FB_DATABASE names a Firebird database grown the same way
// (fisdemogen --fb-database PATH --items N), the InterBase variants run there
// too, with the login of FIS_FB_USER / FIS_FB_PASSWORD (FIS_FB_HOST, FIS_FB_PORT).
#include "demogen.h"

#include "data/firebird/session.h"
#include "data/sqlite/session.h"
#include "data/params.h"
#include "host/hostconfig.h"
#include "report/reportdef.h"
#include "rtl/datetime.h"
#include "temp_folder.h"

#if FIS_WITH_FIREBIRD
#include <soci/firebird/soci-firebird.h>
#endif
#include <soci/soci.h>

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

[[maybe_unused]] std::string env(const char *name)  // only the Firebird run reads it
{
    const char *v = std::getenv(name);
    return v ? v : "";
}

ReportDefinition loadReport(const std::string &file)
{
    const std::string path = DefaultReportsDir() + "/FIS028/" + file;
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return ParseReportDefinition(text.str(), path);
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
    "CASE WHEN I.CDCFOP LIKE '1%' OR I.CDCFOP LIKE '5%' THEN '1' "
    "WHEN I.CDCFOP LIKE '2%' OR I.CDCFOP LIKE '6%' THEN '2' ELSE '3' END";
const char kOriginName[] =
    "CASE WHEN I.CDCFOP LIKE '1%' OR I.CDCFOP LIKE '5%' THEN 'Do Estado' "
    "WHEN I.CDCFOP LIKE '2%' OR I.CDCFOP LIKE '6%' THEN 'De Outros Estados' ELSE 'Do Exterior' END";
const char kPeriod[] = "N.CDEMPRESA = '01' AND N.DTENTRSAIDA BETWEEN '{FROM}' AND '{TO}' AND N.IDSITUACAO = 'N'";
const char kJoins[] =
    " FROM NOTAFISCAL N JOIN ITEMNOTAFISC I ON I.CDNOTAFISC = N.CDNOTAFISC"
    " LEFT JOIN IMPOSTOITEMNF T ON T.CDNOTAFISC = I.CDNOTAFISC AND T.NRITEM = I.NRITEM AND T.CDIMPOSTONFE = '01'";

std::string baseline(const std::string &file)
{
    const std::string period = kPeriod;
    const std::string side = "CASE N.IDENTRSAIDA WHEN 'E' THEN 'Entradas' ELSE 'Saídas' END";
    if (file == "010-resumo-cfop.json")
        return "SELECT N.IDENTRSAIDA, " + side + " AS DSENTRSAIDA, " + kOrigin + " AS IDORIGEM, " + kOriginName +
               " AS DSORIGEM, I.CDCFOP, C.DSCFOP, ROUND(SUM(I.VLCONTABIL), 2), ROUND(COALESCE(SUM(T.VLBASECALC), 0), 2),"
               " ROUND(COALESCE(SUM(T.VLIMPOSTO), 0), 2), ROUND(COALESCE(SUM(T.VLISENTO), 0), 2),"
               " ROUND(COALESCE(SUM(T.VLOUTROS), 0), 2), ROUND(COALESCE(SUM(T.VLBASEST), 0), 2),"
               " ROUND(COALESCE(SUM(T.VLIMPOSTOST), 0), 2)" +
               kJoins + " LEFT JOIN CFOP C ON C.CDCFOP = I.CDCFOP WHERE " + period +
               " GROUP BY N.IDENTRSAIDA, I.CDCFOP, C.DSCFOP ORDER BY 1, 3, 5";
    if (file == "020-resumo-cfop-produtos.json")
        return "SELECT N.IDENTRSAIDA, " + side + " AS DSENTRSAIDA, " + kOrigin + " AS IDORIGEM, " + kOriginName +
               " AS DSORIGEM, I.CDCFOP, C.DSCFOP, P.CDARVPROD, P.NMPRODUTO, ROUND(SUM(I.QTITEM), 3),"
               " ROUND(SUM(I.VLCONTABIL), 2), ROUND(COALESCE(SUM(T.VLBASECALC), 0), 2),"
               " ROUND(COALESCE(SUM(T.VLIMPOSTO), 0), 2)" +
               kJoins + " LEFT JOIN PRODUTO P ON P.CDPRODUTO = I.CDPRODUTO LEFT JOIN CFOP C ON C.CDCFOP = I.CDCFOP WHERE " +
               period + " GROUP BY N.IDENTRSAIDA, I.CDCFOP, C.DSCFOP, P.CDARVPROD, P.NMPRODUTO ORDER BY 1, 3, 5, 7";
    if (file == "030-relacao-notas.json")
        return "SELECT N.DTENTRSAIDA, N.NRNOTAFISC, N.CDSERIE, N.CDMODDOCFISC, N.IDENTRSAIDA, N.CDTIPOOPER, N.CDFILIAL,"
               " N.NMPARTICIPANTE, N.SGUF, ROUND(SUM(I.VLCONTABIL), 2), ROUND(COALESCE(SUM(T.VLBASECALC), 0), 2),"
               " ROUND(COALESCE(SUM(T.VLIMPOSTO), 0), 2)" +
               std::string(kJoins) + " WHERE " + period +
               " GROUP BY N.DTENTRSAIDA, N.NRNOTAFISC, N.CDNOTAFISC, N.CDSERIE, N.CDMODDOCFISC, N.IDENTRSAIDA,"
               " N.CDTIPOOPER, N.CDFILIAL, N.NMPARTICIPANTE, N.SGUF ORDER BY N.DTENTRSAIDA, N.NRNOTAFISC, N.CDNOTAFISC";
    if (file == "040-relacao-notas-icms-st.json")
        return "SELECT P.CDARVPROD, P.NMPRODUTO, N.DTENTRSAIDA, N.NRNOTAFISC, N.CDSERIE, N.NMPARTICIPANTE, N.SGUF,"
               " I.CDCFOP, ROUND(SUM(I.QTITEM), 3), ROUND(SUM(T.VLBASEST), 2), ROUND(SUM(T.VLIMPOSTOST), 2)"
               " FROM NOTAFISCAL N JOIN ITEMNOTAFISC I ON I.CDNOTAFISC = N.CDNOTAFISC"
               " JOIN IMPOSTOITEMNF T ON T.CDNOTAFISC = I.CDNOTAFISC AND T.NRITEM = I.NRITEM AND T.CDIMPOSTONFE = '01'"
               " LEFT JOIN PRODUTO P ON P.CDPRODUTO = I.CDPRODUTO WHERE " +
               period +
               " AND (T.VLBASEST <> 0 OR T.VLIMPOSTOST <> 0)"
               " GROUP BY P.CDARVPROD, P.NMPRODUTO, N.DTENTRSAIDA, N.NRNOTAFISC, N.CDNOTAFISC, I.CDCFOP, N.CDSERIE,"
               " N.NMPARTICIPANTE, N.SGUF ORDER BY P.CDARVPROD, N.DTENTRSAIDA, N.NRNOTAFISC, N.CDNOTAFISC, I.CDCFOP";
    if (file == "050-ressarcimento-icms-st.json")
        return "SELECT R.CDARVPROD, R.NMPRODUTO, R.QTENTRADA, R.VLSTENTRADA,"
               " ROUND(CASE WHEN R.QTENTRADA > 0 THEN R.VLSTENTRADA / R.QTENTRADA ELSE 0 END, 4),"
               " R.QTSAIDAINTER,"
               " ROUND(R.QTSAIDAINTER * ROUND(CASE WHEN R.QTENTRADA > 0 THEN R.VLSTENTRADA / R.QTENTRADA ELSE 0 END, 4), 2)"
               " FROM (SELECT P.CDARVPROD, P.NMPRODUTO,"
               " ROUND(SUM(CASE WHEN N.IDENTRSAIDA = 'E' AND T.VLIMPOSTOST <> 0 THEN I.QTITEM ELSE 0 END), 3) AS QTENTRADA,"
               " ROUND(SUM(CASE WHEN N.IDENTRSAIDA = 'E' AND T.VLIMPOSTOST <> 0 THEN T.VLIMPOSTOST ELSE 0 END), 2) AS VLSTENTRADA,"
               " ROUND(SUM(CASE WHEN N.IDENTRSAIDA = 'S' AND I.CDCFOP LIKE '6%' THEN I.QTITEM ELSE 0 END), 3) AS QTSAIDAINTER" +
               std::string(kJoins) + " LEFT JOIN PRODUTO P ON P.CDPRODUTO = I.CDPRODUTO WHERE " + period +
               " GROUP BY P.CDARVPROD, P.NMPRODUTO) R WHERE R.QTENTRADA <> 0 OR R.QTSAIDAINTER <> 0 ORDER BY R.CDARVPROD";
    // 060-mapa-fiscal-ie.json
    return "SELECT R.CDINSCESTA, R.SGESTADO, COALESCE(M.E1, 0), COALESCE(M.E2, 0), COALESCE(M.E3, 0),"
           " COALESCE(M.S1, 0), COALESCE(M.S2, 0), COALESCE(M.S3, 0), ROUND(COALESCE(M.S3, 0) - COALESCE(M.E3, 0), 2),"
           " CASE WHEN COALESCE(M.S3, 0) > COALESCE(M.E3, 0) THEN 'a recolher' ELSE 'saldo credor' END"
           " FROM INSCRESTAD R LEFT JOIN (SELECT N.CDINSCESTA,"
           " ROUND(SUM(CASE WHEN N.IDENTRSAIDA = 'E' THEN I.VLCONTABIL ELSE 0 END), 2) AS E1,"
           " ROUND(SUM(CASE WHEN N.IDENTRSAIDA = 'E' THEN T.VLBASECALC ELSE 0 END), 2) AS E2,"
           " ROUND(SUM(CASE WHEN N.IDENTRSAIDA = 'E' THEN T.VLIMPOSTO ELSE 0 END), 2) AS E3,"
           " ROUND(SUM(CASE WHEN N.IDENTRSAIDA = 'S' THEN I.VLCONTABIL ELSE 0 END), 2) AS S1,"
           " ROUND(SUM(CASE WHEN N.IDENTRSAIDA = 'S' THEN T.VLBASECALC ELSE 0 END), 2) AS S2,"
           " ROUND(SUM(CASE WHEN N.IDENTRSAIDA = 'S' THEN T.VLIMPOSTO ELSE 0 END), 2) AS S3" +
           std::string(kJoins) + " WHERE " + period +
           " GROUP BY N.CDINSCESTA) M ON M.CDINSCESTA = R.CDINSCESTA WHERE R.CDEMPRESA = '01' ORDER BY R.CDINSCESTA";
}

std::string withPeriod(std::string sql, const std::string &from, const std::string &to)
{
    for (const auto &[key, value] : {std::pair{std::string("{FROM}"), from}, std::pair{std::string("{TO}"), to}})
        for (std::size_t at; (at = sql.find(key)) != std::string::npos;)
            sql.replace(at, key.size(), value);
    return sql;
}

// The plan as the engine tells it.
using PlanFn = std::function<std::string(const std::string &sql, const NamedValues &params)>;

std::string sqlitePlan(DatabaseSession &db, const std::string &sql, const NamedValues &params)
{
    const ResultSet plan = db.Query("EXPLAIN QUERY PLAN " + sql, params);
    std::map<std::string, int> depth;
    std::string out;
    for (const auto &row : plan.rows) {
        const int d = row[1] && depth.count(*row[1]) ? depth[*row[1]] + 1 : 0;
        depth[row[0].value_or("")] = d;
        out += "      " + std::string(static_cast<std::size_t>(d) * 2, ' ') + row[3].value_or("") + "\n";
    }
    return out;
}

#if FIS_WITH_FIREBIRD
// Firebird prepares the statement and reports its plan through the client
// library; the project's session does not expose it.
class FirebirdPlanner {
public:
    explicit FirebirdPlanner(const FirebirdConnection &c)
    {
        sql_.open(soci::firebird, "service=" + c.host + "/" + std::to_string(c.port) + ":" + c.database +
                                      " user=" + c.user + " password=" + c.password + " charset=UTF8");
    }
    __attribute__((no_sanitize("vptr"))) std::string Plan(const std::string &sql)
    {
        const FirebirdStatementText text = PrepareFirebirdStatement(sql);
        soci::statement st(sql_);
        st.alloc();
        st.prepare(text.sql);
        auto *backend = static_cast<soci::firebird_statement_backend *>(st.get_backend());
        ISC_STATUS status[20];
        char item = isc_info_sql_get_plan;
        std::vector<char> buffer(16384);
        if (isc_dsql_sql_info(status, &backend->stmtp_, 1, &item, static_cast<short>(buffer.size()), buffer.data()))
            return "      (no plan)\n";
        if (buffer[0] != isc_info_sql_get_plan)
            return "      (no plan)\n";
        const int length = isc_vax_integer(buffer.data() + 1, 2);
        std::string plan(buffer.data() + 3, static_cast<std::size_t>(length));
        std::string out;
        std::stringstream lines(plan);
        for (std::string line; std::getline(lines, line);)
            if (!line.empty())
                out += "      " + line + "\n";
        sql_.commit();
        return out;
    }

private:
    soci::session sql_;
};
#endif

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

const char *const kFiles[] = {"010-resumo-cfop.json", "020-resumo-cfop-produtos.json", "030-relacao-notas.json",
                              "040-relacao-notas-icms-st.json", "050-ressarcimento-icms-st.json",
                              "060-mapa-fiscal-ie.json"};

// Returns false when a report gave other rows than its baseline.
bool runEngine(const char *engine, DatabaseSession &db, const char *dialect, int runs, const PlanFn &plan)
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
        const ReportDefinition def = loadReport(file);
        const std::string &sql = def.StatementFor(dialect);
        std::vector<Period> periods{{"year", "2026-01-01", "2026-12-31"}};
        if (std::string(file) == "010-resumo-cfop.json")
            periods.push_back({"January", "2026-01-01", "2026-01-31"});
        for (const Period &p : periods) {
            const NamedValues params = yearParameters(sql, p.from, p.to);
            const std::string base = withPeriod(baseline(file), p.from, p.to);
            const Timing t = measure(db, sql, params, base, runs);
            allSame = allSame && t.same;
            std::printf("  %-34s %-9s %8zu %10.1f %10.1f %6.2fx %s\n", file, p.label, t.rows, t.report, t.base,
                        t.base > 0 ? t.report / t.base : 0.0, t.same ? "yes" : "NO");
        }
    }
    std::printf("\n  Plans (year):\n");
    for (const char *file : kFiles) {
        const ReportDefinition def = loadReport(file);
        const std::string &sql = def.StatementFor(dialect);
        std::printf("    %s\n    report:\n%s    baseline:\n%s", file,
                    plan(sql, yearParameters(sql, "2026-01-01", "2026-12-31")).c_str(),
                    plan(withPeriod(baseline(file), "2026-01-01", "2026-12-31"), {}).c_str());
    }
    return allSame;
}
} // namespace

int main(int argc, char **argv)
{
    long items = 1000000;
    int runs = 5;
    std::string dbPath;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--items" && i + 1 < argc)
            items = std::atol(argv[++i]);
        else if (a == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (a == "--db" && i + 1 < argc)
            dbPath = argv[++i];
        else {
            std::fprintf(stderr, "usage: bench_reports [--items N] [--runs N] [--db FILE]\n");
            return 2;
        }
    }
    try {
        std::optional<TempFolder> temp;
        if (dbPath.empty()) {
            dbPath = temp.emplace("bench-reports").file("reports.sqlite");
            const auto t0 = Clock::now();
            const DemoCounts c = BuildDemoSqlite(dbPath, {10000, 0, items, 2026}, DefaultFixturePaths());
            std::printf("generated %s: %ld documents, %ld items, %ld tax rows in %.1f s\n", dbPath.c_str(),
                        c.documents, c.items, c.taxRows, millis(Clock::now() - t0) / 1000);
        }
        bool same = true;
        {
            auto db = OpenSqliteSession(dbPath, true);
            const ResultSet n = db->Query("SELECT COUNT(*) FROM ITEMNOTAFISC", {});
            std::printf("SQLite database %s: %s items\n", dbPath.c_str(), n.rows.at(0).at(0).value_or("?").c_str());
            for (const char *dialect : {"oracle", "interbase"})
                same = runEngine("SQLite", *db, dialect, runs,
                                 [&](const std::string &sql, const NamedValues &p) { return sqlitePlan(*db, sql, p); }) &&
                       same;
        }
        temp.reset();

#if FIS_WITH_FIREBIRD
        if (!env("FIS_BENCH_FB_DATABASE").empty()) {
            FirebirdConnection c;
            c.host = env("FIS_FB_HOST").empty() ? "127.0.0.1" : env("FIS_FB_HOST");
            c.port = env("FIS_FB_PORT").empty() ? 3050 : std::atoi(env("FIS_FB_PORT").c_str());
            c.database = env("FIS_BENCH_FB_DATABASE");
            c.user = env("FIS_FB_USER").empty() ? "FISREAD" : env("FIS_FB_USER");
            c.password = env("FIS_FB_PASSWORD").empty() ? "fisread" : env("FIS_FB_PASSWORD");
            auto db = OpenFirebirdSession(c);
            FirebirdPlanner planner(c);
            const ResultSet n = db->Query("SELECT COUNT(*) FROM ITEMNOTAFISC", {});
            std::printf("\nFirebird database %s: %s items\n", c.database.c_str(), n.rows.at(0).at(0).value_or("?").c_str());
            same = runEngine("Firebird", *db, "interbase", runs,
                             [&](const std::string &sql, const NamedValues &) { return planner.Plan(sql); }) &&
                   same;
        } else {
            std::printf("\nFirebird: skipped (FIS_BENCH_FB_DATABASE names no database)\n");
        }
#else
        std::printf("\nFirebird: skipped (built without FIS_WITH_FIREBIRD)\n");
#endif
        return same ? 0 : 1;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "bench_reports: %s\n", e.what());
        return 1;
    }
}
