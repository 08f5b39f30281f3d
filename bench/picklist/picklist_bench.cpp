// Opening the product list over a million products, as a person clicks the
// start product's lookup button: the screen's lookup query, the tree and the
// list, on the model side (the headless widget set picks the last product)
// and on the Qt side (the real dialog, offscreen, until it shows; twice,
// since the first also pays for Qt's one-time loading). The
// baseline is the same statement read raw through SOCI in the same run,
// every row fetched into strings. Times are on the clock and in processor
// time (on a machine busy with other work the clock says more about that
// work). Memory is the process's resident size, as the system sees it (no
// trimming of the C library's heap first), and the heap in use: the peak
// while the list is open and what stays after it closes (the lookup query
// open on the one row the check reads), each against the open screen. After
// the model's pick, leaving the code edit must confirm the picked product
// without a statement.
//
//   bench_picklist [--db FILE] [--dialect oracle|interbase]
//
// Without --db a database of 1 M products is generated into a temporary
// folder first (and removed at the end).
#include "Cli_Fis02800.h"
#include "bench_options.h"
#include "Pkg_Fis02800.h"
#include "data/sqlite/functions.h"
#include "data/sqlite/session.h"
#include "data/sqlquery.h"
#include "data/sqlparams.h"
#include "dbgeral/DBGeral.h"
#include "demogen.h"
#include "host/hostsession.h"
#include "hostpkg.h"
#include "hostsetup.h"
#include "pickdialogs.h"
#include "qtwidgetset.h"
#include "temp_folder.h"
#include "vcl/headless.h"

#include <QApplication>
#include <QTimer>

#include <soci/soci.h>
#include <soci/sqlite3/soci-sqlite3.h>

#include <malloc.h>

#include <chrono>
#include <ctime>
#include <deque>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

long statusKiB(const char *key)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0)
            return std::atol(line.c_str() + std::string(key).size());
    return 0;
}
long residentKiB() { return statusKiB("VmRSS:"); }
long peakKiB() { return statusKiB("VmHWM:"); }
// Starts a new peak from the present resident size.
void resetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }
long heapKiB()
{
    const struct mallinfo2 m = mallinfo2();
    return static_cast<long>((m.uordblks + m.hblkhd) / 1024);
}

// SOCI does not export the backend's type information (see the SQLite session).
__attribute__((no_sanitize("vptr"))) void *rawHandle(soci::session &session)
{
    return static_cast<soci::sqlite3_session_backend *>(session.get_backend())->conn_;
}

// Processor time of the whole process: on a machine shared with other work
// the time on the clock says as much about the others as about this one.
double cpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Where memory stood before a run: the open screen.
struct Baseline {
    long rss = 0, heap = 0;
    static Baseline Now() { return {residentKiB(), heapKiB()}; }
};

struct Figures {
    double millis = 0, cpuMillis = 0;
    long peakRss = 0, afterRss = 0, afterHeap = 0;
    std::size_t rows = 0;
    Baseline base;

    double PeakMB() const { return (peakRss - base.rss) / 1024.0; }
    double AfterMB() const { return (afterRss - base.rss) / 1024.0; }
};

void print(const char *label, const Figures &f)
{
    std::printf("  %-40s %7.0f ms (cpu %5.0f ms) %8zu rows  peak %+6.1f MB  after %+5.1f MB (heap %+5.1f MB)\n",
                label, f.millis, f.cpuMillis, f.rows, f.PeakMB(), f.AfterMB(), (f.afterHeap - f.base.heap) / 1024.0);
}

// The lookup statement with every row fetched into strings.
Figures rawRead(const std::string &path, const std::string &text)
{
    Figures f;
    f.base = Baseline::Now();
    resetPeak();
    const auto t0 = Clock::now();
    const double c0 = cpuMs();
    {
        soci::session sql(soci::sqlite3, "db=" + path + " readonly=1");
        RegisterSqliteFunctions(rawHandle(sql));
        std::vector<std::vector<std::string>> rows;
        soci::row row;
        // Bound by name as the project's sessions bind: the all-flag, and an
        // empty code as NULL.
        const std::vector<std::string> names = ParamNames(text);
        std::deque<std::string> values;
        std::deque<soci::indicator> indicators;
        soci::statement st(sql);
        for (const std::string &name : names) {
            const bool all = SameName(name, "P_TCDPRODUTO");
            values.push_back(all ? "T" : "");
            indicators.push_back(all ? soci::i_ok : soci::i_null);
            st.exchange(soci::use(values.back(), indicators.back(), name));
        }
        st.exchange(soci::into(row));
        st.alloc();
        st.prepare(text);
        st.define_and_bind();
        for (bool more = st.execute(true); more; more = st.fetch()) {
            std::vector<std::string> cells;
            for (std::size_t i = 0; i < row.size(); ++i)
                cells.push_back(row.get_indicator(i) == soci::i_null ? std::string() : row.get<std::string>(i));
            rows.push_back(std::move(cells));
        }
        f.rows = rows.size();
        f.millis = ms(Clock::now() - t0);
        f.cpuMillis = cpuMs() - c0;
        f.peakRss = peakKiB();
    }
    f.afterRss = residentKiB();
    f.afterHeap = heapKiB();
    return f;
}

// Notes when the tree list has shown and painted once, then closes it.
class ListWatcher : public QObject {
public:
    Clock::time_point shown;
    double cpuMillis = 0;
    long peakRss = 0;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && shown == Clock::time_point())
            if (auto *dialog = dynamic_cast<PickTreeDialog *>(watched))
                QTimer::singleShot(0, dialog, [this, dialog] {
                    QApplication::processEvents();  // painted
                    shown = Clock::now();
                    cpuMillis = cpuMs();
                    peakRss = peakKiB();
                    dialog->reject();
                });
        return false;
    }
};

} // namespace

int main(int argc, char **argv)
{
    if (BenchHelp(argc, argv,
                  "usage: bench_picklist [--dialect oracle|mssql|interbase] [--db FILE]\n"
        "Times the pick lists' searches.\n"))
        return 0;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    try {
        const TDialect dialect = DialectFromName(BenchOption(argc, argv, "--dialect", "oracle"));
        std::string path = BenchOption(argc, argv, "--db", "");
        std::optional<TempFolder> tmp;
        if (path.empty()) {
            path = tmp.emplace("fisbench").file("1000000.sqlite");
            const auto t0 = Clock::now();
            BuildDemoSqlite(path, {1000000, 50}, {DefaultFixturePath()});
            std::printf("generated 1 M products: %.1f s\n", ms(Clock::now() - t0) / 1000);
        }

        SetWidgetSet(std::make_unique<HeadlessWidgetSet>());
        HostConfig config;
        config.database = path;
        config.serverHost = "127.0.0.1";
        config.serverPort = UnusedLoopbackPort();
        InitializeHostPackages(config, /*connect=*/false);
        Initialize();
        auto session = OpenSqliteSession(path, true);
        dtmDBGeral->Attach(session.get(), dialect);
        Application->RunUserAction([] { IniProc(); });
        if (!frmResumoOficialCfop)
            throw std::runtime_error("the screen did not open");
        TfrmResumoOficialCfop &screen = *frmResumoOficialCfop;
        // A report that takes the product range.
        const auto &reports = screen.cbbReportNames->Items();
        for (std::size_t i = 0; i < reports.size(); ++i)
            if (reports[i] == "Relação de Notas Fiscais")
                Application->RunUserAction([&screen, i] { screen.cbbReportNames->PickItem(static_cast<int>(i)); });
        if (!screen.btnProdInic->IsUsable())
            throw std::runtime_error("the product lookup is not usable");

        // Bring the statement's text in once, as the lookup does.
        screen.qryProduto->Close();
        screen.qryProduto->ParamByName("P_TCDPRODUTO")->SetAsString("T");
        screen.qryProduto->ParamByName("P_CDPRODUTO")->SetAsString("");
        const std::string text = screen.qryProduto->ActiveStatement();

        const Baseline screenMemory = Baseline::Now();
        std::printf("dialect %s; open screen: %.1f MB resident, %.1f MB heap\n", DialectName(dialect),
                    screenMemory.rss / 1024.0, screenMemory.heap / 1024.0);
        double load = 0;
        if (std::ifstream in("/proc/loadavg"); in >> load)
            std::printf("machine load (1 min) %.1f on %u processors\n", load, std::thread::hardware_concurrency());

        const Figures raw = rawRead(path, text);

        // Model side: the code edit has the focus, a click, the lookup query,
        // the tree, the pick of the last product.
        Figures model;
        bool checkTookRow = false;
        {
            Application->RunUserAction([&screen] { screen.medProdInic->SetFocus(); });
            auto *headless = HeadlessWidgets();
            headless->pickAnswers.push_back({false, {"99.99.0199"}});
            model.base = Baseline::Now();
            resetPeak();
            const auto t0 = Clock::now();
            const double c0 = cpuMs();
            Application->RunUserAction([&screen] { screen.btnProdInic->Click(); });
            model.millis = ms(Clock::now() - t0);
            model.cpuMillis = cpuMs() - c0;
            model.peakRss = peakKiB();
            model.rows = raw.rows;
            if (headless->pickFailure || screen.medProdInic->Text() != "99.99.0199")
                std::printf("  (the pick did not land: %s)\n",
                            headless->pickFailure ? headless->pickFailure->c_str() : screen.medProdInic->Text().c_str());
            model.afterRss = residentKiB();
            model.afterHeap = heapKiB();
            // Leaving the code edit checks it against the picked row: no statement.
            const long before = StatementCounter::Count();
            Application->RunUserAction([&screen] { screen.medProdFina->SetFocus(); });
            checkTookRow = StatementCounter::Count() == before && screen.edtProdInic->Text() == "Produto 99.99.0199" &&
                           !stProdIni.empty() && stProdIni == screen.qryProdutoCDPRODUTO->AsString();
        }
        const int rowsKept = screen.qryProduto->Query.RecordCount();

        // Qt side: the screen on the desktop, the same click, until the tree
        // list has shown; then it is cancelled. Twice: what stays after the
        // first is partly Qt's own one-time loading (styles, fonts, icons).
        const auto qtOpen = [&app, &screen, &raw] {
            Figures f;
            SetWidgetSet(std::make_unique<QtWidgetSet>());
            auto *ws = static_cast<QtWidgetSet *>(&WidgetSet());
            ws->Run([&screen] { screen.medProdInic->SetFocus(); });  // the screen's widgets, shown
            QApplication::processEvents();
            f.base = Baseline::Now();
            resetPeak();
            ListWatcher watcher;
            app.installEventFilter(&watcher);
            const auto t0 = Clock::now();
            const double c0 = cpuMs();
            ws->Run([&screen] { screen.btnProdInic->Click(); });
            app.removeEventFilter(&watcher);
            f.peakRss = watcher.peakRss;
            f.millis = watcher.shown == Clock::time_point() ? -1 : ms(watcher.shown - t0);
            f.cpuMillis = watcher.cpuMillis - c0;
            f.rows = raw.rows;
            f.afterRss = residentKiB();
            f.afterHeap = heapKiB();
            SetWidgetSet(std::make_unique<HeadlessWidgetSet>());
            return f;
        };
        const Figures qt = qtOpen();
        const Figures qtAgain = qtOpen();

        std::printf("\nproduct list over %s\n(time from the click; memory against the open screen)\n", path.c_str());
        print("raw SOCI read of the lookup statement", raw);
        print("model: click to pick (query, tree, pick)", model);
        print("Qt: click to the list shown", qt);
        print("Qt: the same, a second time", qtAgain);
        std::printf("\n  after the list closes the lookup query holds %d row(s); after the model's pick, leaving\n"
                    "  the code edit %s\n",
                    rowsKept, checkTookRow ? "confirmed the picked product without a statement"
                                           : "DID NOT confirm the picked row without a statement");
        const auto shownIn = [](const Figures &f) { return f.millis >= 0 && f.millis < 1000; };
        const auto busyFor = [](const Figures &f) { return f.cpuMillis < 1000; };
        const auto under = [](const Figures &f) { return f.PeakMB() < 200; };
        const auto within = [](const Figures &f) { return f.AfterMB() < 10; };
        const auto verdict = [](bool met) { return met ? "met" : "NOT MET"; };
        std::printf("\ngoals: shown under 1 s: Qt %s, model %s (processor time under 1 s: Qt %s, model %s);\n"
                    "       peak under 200 MB above the screen: %s; back within 10 MB after closing: %s\n",
                    verdict(shownIn(qt)), verdict(shownIn(model)), verdict(busyFor(qt)), verdict(busyFor(model)),
                    verdict(under(qt) && under(model)), verdict(within(qt) && within(model)));
        Application->RunUserAction([&screen] { screen.Close(); });
        Application->ProcessMessages();
        Finalize();
        dtmDBGeral->Attach(nullptr, dialect);
        return 0;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "bench_picklist: %s\n", e.what());
        return 1;
    }
}
