// Each lookup and check statement of the screen, timed through the screen's
// own data sets (Close, set the parameters, Open, walk every row reading its
// fields) beside the same statement text run raw through SOCI on the same
// SQLite file with the same values, fetching every row into strings. Run on a
// generated database of 1 k products and one of 1 M. Goal: the data sets
// within 1.5x the raw time, and the point checks as fast at 1 M as at 1 k.
// The project's SQLite session keeps its statements prepared, so a second raw
// column ("kept") prepares each statement once and executes it again: the
// data sets' own cost shows against that one.
//
//   bench_datasets [--db1k FILE] [--db1m FILE] [--dialect oracle|interbase] [--budget-ms N]
//
// Without --db1k/--db1m the two databases are generated into a temporary
// folder first (and removed at the end).
#include "Cli_Fis02800.h"
#include "bench_options.h"
#include "Pkg_Fis02800.h"
#include "data/sqlite/functions.h"
#include "data/sqlite/session.h"
#include "data/sqlparams.h"
#include "dbgeral/DBGeral.h"
#include "demogen.h"
#include "host/hostsession.h"
#include "hostpkg.h"
#include "hostsetup.h"
#include "temp_folder.h"
#include "vcl/headless.h"

#include <soci/soci.h>
#include <soci/sqlite3/soci-sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;
using Form = TfrmResumoOficialCfop;
namespace fs = std::filesystem;

double micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

using Arg = QueryArg;  // nullopt: cleared

struct Statement {
    const char *label;
    TADOIBQuery *Form::*query;
    std::vector<Arg> args;
    bool pointCheck;  // must not grow with the product count
};

const std::vector<Statement> kStatements = {
    {"company check", &Form::qryEmpresa, {{"P_EMPRESA", "01"}}, true},
    {"tax check", &Form::qryImposto, {{"P_CDIMPOSTO", "01"}}, true},
    {"state registration check", &Form::qryPesqInscEsta,
     {{"P_EMPRESA", "01"}, {"P_INSCESTA", "110042490114"}, {"P_TINSCESTA", std::nullopt}}, true},
    {"municipal registration check", &Form::qryInscrMuni,
     {{"P_EMPRESA", "01"}, {"P_INSCMUNI", "1234567"}, {"P_TINSCMUNI", std::nullopt}}, true},
    {"product check (qryValidProd)", &Form::qryValidProd, {{"P_CDPRODUTO", "01.01.0001"}}, true},
    {"branch check", &Form::qryFiliOrig, {{"P_CDFILIAL", "0001"}}, true},
    {"exit series of a company", &Form::qrySerieNF,
     {{"P_CDINSCESTA", std::nullopt}, {"P_CDINSCMUNI", std::nullopt}, {"P_CDSERIE", std::nullopt},
      {"P_CDEMPRESA", "01"}},
     true},
    {"exit series check", &Form::qrySerieNF,
     {{"P_CDINSCESTA", "110042490114"}, {"P_CDINSCMUNI", std::nullopt}, {"P_CDSERIE", "1"}, {"P_CDEMPRESA", "01"}},
     true},
    {"entry series check", &Form::qrySerieEntr, {{"P_CDSERIE", "E01"}}, true},
    {"company lookup", &Form::qryEmpresa, {{"P_EMPRESA", std::nullopt}}, false},
    {"tax lookup", &Form::qryImposto, {{"P_CDIMPOSTO", std::nullopt}}, false},
    {"state registration lookup", &Form::qryPesqInscEsta,
     {{"P_EMPRESA", "01"}, {"P_INSCESTA", std::nullopt}, {"P_TINSCESTA", "T"}}, false},
    {"municipal registration lookup", &Form::qryInscrMuni,
     {{"P_EMPRESA", "01"}, {"P_INSCMUNI", std::nullopt}, {"P_TINSCMUNI", "T"}}, false},
    {"entry series lookup", &Form::qrySerieEntr, {{"P_CDSERIE", std::nullopt}}, false},
    {"branch lookup", &Form::qryFiliOrig, {{"P_CDFILIAL", std::nullopt}}, false},
    {"document models", &Form::qryModDoc, {}, false},
    {"operation types", &Form::qrtTpOperacao, {}, false},
    {"product code check (qryProduto)", &Form::qryProduto,
     {{"P_CDPRODUTO", "01.01.0001"}, {"P_TCDPRODUTO", std::nullopt}}, false},
    {"product lookup (qryProduto all)", &Form::qryProduto, {{"P_CDPRODUTO", ""}, {"P_TCDPRODUTO", "T"}}, false},
};

// SOCI does not export the backend's type information (see the SQLite session).
__attribute__((no_sanitize("vptr"))) void *rawHandle(soci::session &session)
{
    return static_cast<soci::sqlite3_session_backend *>(session.get_backend())->conn_;
}

// The raw side: one SOCI session of its own, with the functions the
// statements call registered as the project's session registers them.
class Raw {
public:
    explicit Raw(const std::string &path) : sql_(soci::sqlite3, "db=" + path + " readonly=1")
    {
        RegisterSqliteFunctions(rawHandle(sql_));
    }

    // Runs `text` binding each distinct marker, fetching every row as strings:
    // prepared afresh each time, or (`keep`) prepared once and executed again.
    std::size_t Run(const std::string &text, const std::vector<Arg> &args, bool keep = false)
    {
        std::unique_ptr<Prepared> fresh;
        Prepared *p;
        if (keep) {
            auto &slot = kept_[text];
            if (!slot)
                slot = prepare(text);
            p = slot.get();
        } else {
            fresh = prepare(text);
            p = fresh.get();
        }
        for (std::size_t i = 0; i < p->names.size(); ++i) {
            const Arg *arg = nullptr;
            for (const Arg &a : args)
                if (SameName(a.name, p->names[i]))
                    arg = &a;
            // An empty text goes as NULL, as every session of the project sends it.
            const bool null = !arg || !arg->value || arg->value->empty();
            p->values[i] = null ? std::string() : *arg->value;
            p->indicators[i] = null ? soci::i_null : soci::i_ok;
        }
        rows_.clear();
        for (bool more = p->st.execute(true); more; more = p->st.fetch()) {
            auto &cells = rows_.emplace_back();
            for (std::size_t i = 0; i < p->row.size(); ++i)
                cells.push_back(p->row.get_indicator(i) == soci::i_null ? std::string() : text_of(p->row, i));
        }
        return rows_.size();
    }

    // SQLite's plan for the statement, one step per "; ".
    std::string Plan(const std::string &text)
    {
        std::string plan;
        soci::rowset<soci::row> steps = sql_.prepare << "EXPLAIN QUERY PLAN " + text;
        for (const soci::row &r : steps)
            plan += (plan.empty() ? "" : "; ") + r.get<std::string>(3);
        return plan;
    }

private:
    struct Prepared {
        explicit Prepared(soci::session &sql) : st(sql) {}
        soci::statement st;
        soci::row row;
        std::vector<std::string> names;
        std::deque<std::string> values;  // SOCI keeps pointers to them
        std::deque<soci::indicator> indicators;
    };

    std::unique_ptr<Prepared> prepare(const std::string &text)
    {
        auto p = std::make_unique<Prepared>(sql_);
        p->names = ParamNames(text);
        for (const std::string &name : p->names) {
            p->values.emplace_back();
            p->indicators.push_back(soci::i_null);
            p->st.exchange(soci::use(p->values.back(), p->indicators.back(), name));
        }
        p->st.exchange(soci::into(p->row));
        p->st.alloc();
        p->st.prepare(text);
        p->st.define_and_bind();
        return p;
    }

    static std::string text_of(const soci::row &row, std::size_t i)
    {
        switch (row.get_properties(i).get_data_type()) {
        case soci::dt_string: return row.get<std::string>(i);
        case soci::dt_integer: return std::to_string(row.get<int>(i));
        case soci::dt_long_long: return std::to_string(row.get<long long>(i));
        case soci::dt_double: return std::to_string(row.get<double>(i));
        default: return "?";
        }
    }

    soci::session sql_;
    std::map<std::string, std::unique_ptr<Prepared>> kept_;
    std::vector<std::vector<std::string>> rows_;
};

// Keeps the field reads from being optimised away.
volatile std::size_t readChars = 0;

// Through the screen: as a handler opens a query and a lookup list reads it.
std::size_t throughDataSet(TADOIBQuery &q, const std::vector<Arg> &args)
{
    q.Reopen(args);
    std::size_t rows = 0, chars = 0;
    const std::vector<TField *> &fields = q.Query.Fields();
    for (q.Query.First(); !q.Query.Eof(); q.Query.Next(), ++rows)
        for (const TField *f : fields)
            chars += f->AsString().size();
    readChars = readChars + chars;
    return rows;
}

struct Result {
    std::size_t rows = 0, rawRows = 0;
    double dataSet = 0, raw = 0, rawKept = 0;
    int samples = 0;
    std::string plan;
};

// Alternates the two sides until the time budget is spent, at least 3 samples
// each; a statement slower than the whole budget counts its warm-up run as
// one of them, which keeps the 1 M product list to a few seconds.
Result measure(Form &screen, Raw &raw, const Statement &s, double budgetMicros)
{
    TADOIBQuery &q = *(screen.*s.query);
    Result r;
    std::vector<double> a, b;
    auto t0 = Clock::now();
    r.rows = throughDataSet(q, s.args);  // also prepares the dialect's text
    auto t1 = Clock::now();
    const std::string text = q.ActiveStatement();
    r.rawRows = raw.Run(text, s.args);
    auto t2 = Clock::now();
    raw.Run(text, s.args, /*keep=*/true);
    auto t3 = Clock::now();
    r.plan = raw.Plan(text);
    std::vector<double> c;
    if (micros(t3 - t0) > budgetMicros) {
        a.push_back(micros(t1 - t0));
        b.push_back(micros(t2 - t1));
        c.push_back(micros(t3 - t2));
    }
    double spent = micros(t3 - t0);
    while ((spent < budgetMicros || a.size() < 3) && a.size() < 20000) {
        t0 = Clock::now();
        throughDataSet(q, s.args);
        t1 = Clock::now();
        raw.Run(text, s.args);
        t2 = Clock::now();
        raw.Run(text, s.args, /*keep=*/true);
        t3 = Clock::now();
        a.push_back(micros(t1 - t0));
        b.push_back(micros(t2 - t1));
        c.push_back(micros(t3 - t2));
        spent += micros(t3 - t0);
    }
    q.Close();
    r.dataSet = median(a);
    r.raw = median(b);
    r.rawKept = median(c);
    r.samples = static_cast<int>(a.size());
    return r;
}

struct Config {
    std::string label;
    std::string path;
    std::map<std::string, Result> results;
};

void printTable(const Config &c)
{
    std::printf("\n%s (%s)\n", c.label.c_str(), c.path.c_str());
    std::printf("  %-34s %9s %12s %12s %7s %12s %7s %8s\n", "statement", "rows", "data set us", "raw us", "ratio",
                "kept raw us", "ratio", "samples");
    for (const Statement &s : kStatements) {
        const Result &r = c.results.at(s.label);
        std::printf("  %-34s %9zu %12.1f %12.1f %6.2fx %12.1f %6.2fx %8d%s%s\n", s.label, r.rows, r.dataSet, r.raw,
                    r.dataSet / r.raw, r.rawKept, r.dataSet / r.rawKept, r.samples,
                    r.dataSet <= 1.5 * r.raw ? "" : "  over 1.5x", r.rows == r.rawRows ? "" : "  ROW COUNTS DIFFER");
    }
}
} // namespace

int main(int argc, char **argv)
{
    if (BenchHelp(argc, argv,
                  "usage: bench_datasets [--dialect oracle|mssql|interbase] [--budget-ms N] [--db1k FILE] [--db1m FILE]\n"
        "Times opening and filtering the screen's datasets on 1 k and 1 M products.\n"))
        return 0;
    try {
        const TDialect dialect = DialectFromName(BenchOption(argc, argv, "--dialect", "oracle"));
        const double budget = 1000.0 * std::atof(BenchOption(argc, argv, "--budget-ms", "120").c_str());
        std::vector<Config> configs = {{"1 k products", BenchOption(argc, argv, "--db1k", ""), {}},
                                       {"1 M products", BenchOption(argc, argv, "--db1m", ""), {}}};

        // Generated databases go to a temporary folder removed at the end.
        std::optional<TempFolder> tmp;
        for (Config &c : configs) {
            if (!c.path.empty())
                continue;
            if (!tmp)
                tmp.emplace("fisbench");
            const long products = &c == &configs[0] ? 1000 : 1000000;
            c.path = tmp->file(std::to_string(products) + ".sqlite");
            const auto t0 = Clock::now();
            BuildDemoSqlite(c.path, {products, 50}, DefaultFixturePaths());
            std::printf("generated %s: %.2f s\n", c.label.c_str(), micros(Clock::now() - t0) / 1e6);
        }

        SetWidgetSet(std::make_unique<HeadlessWidgetSet>());
        HostConfig config;
        config.database = configs[0].path;
        config.serverHost = "127.0.0.1";
        config.serverPort = UnusedLoopbackPort();
        InitializeHostPackages(config, /*connect=*/false);
        Initialize();
        dtmDBGeral->Attach(nullptr, dialect);  // each configuration attaches its own session
        Application->RunUserAction([] { IniProc(); });
        if (!frmResumoOficialCfop)
            throw std::runtime_error("the screen did not open");
        Form &screen = *frmResumoOficialCfop;

        std::printf("dialect %s; median of alternating samples, about %.0f ms per statement and side\n",
                    DialectName(dialect), budget / 1000);
        for (Config &c : configs) {
            auto session = OpenSqliteSession(c.path, true);
            dtmDBGeral->Attach(session.get(), dialect);
            Raw raw(c.path);
            const auto t0 = Clock::now();
            for (const Statement &s : kStatements)
                c.results[s.label] = measure(screen, raw, s, budget);
            printTable(c);
            std::printf("  (%.1f s)\n", micros(Clock::now() - t0) / 1e6);
            dtmDBGeral->Attach(nullptr, dialect);
        }

        std::printf("\npoint checks, 1 k -> 1 M products (data set medians) and SQLite's plan\n");
        bool flat = true;
        for (const Statement &s : kStatements) {
            if (!s.pointCheck)
                continue;
            const Result &small = configs[0].results.at(s.label), &large = configs[1].results.at(s.label);
            // Slack for timer noise on statements of a few microseconds.
            const bool grows = large.dataSet > 2 * small.dataSet + 20;
            flat = flat && !grows;
            std::printf("  %-34s %9.1f %9.1f us %s\n      plan: %s\n", s.label, small.dataSet, large.dataSet,
                        grows ? "GROWS" : "flat", large.plan.c_str());
        }
        bool within = true;
        for (const Config &c : configs)
            for (const auto &[label, r] : c.results)
                within = within && r.dataSet <= 1.5 * r.raw;
        std::printf("\ngoals: data sets within 1.5x raw %s; point checks flat from 1 k to 1 M %s\n",
                    within ? "met" : "MISSED", flat ? "met" : "MISSED");

        for (int i = Application->ComponentCount() - 1; i >= 0; --i)
            if (auto *form = dynamic_cast<TCustomForm *>(Application->Components(i)))
                delete form;
        Finalize();
        FinalizeHostPackages();
        return 0;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "bench_datasets: %s\n", e.what());
        return 1;
    }
}
