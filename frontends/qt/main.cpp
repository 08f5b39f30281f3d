// fishost-qt: the host program on the desktop. A main window with the
// screens inside it; the screen package and its host come from HostRun.
#include "company_dialog.h"
#include "data/engine.h"
#include "hostsetup.h"
#include "import_dialog.h"

#include "qt_reportui.h"
#include "qticons.h"
#include "qtwidgetset.h"
#include "screenshots.h"
#include "window_arrangement.h"
#include "vcl/forms.h"
#include "vcl/headless.h"

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QMainWindow>
#include <QLabel>
#include <QMdiArea>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

// The EFD check's entry in the "Dados" menu (efd_check_action.cpp).
void AddEfdCheckAction(QMainWindow &window, const HostConfig &config);

namespace {

void usage(std::ostream &out)
{
    out << "usage: fishost-qt [--package PATH] [--engine sqlite|firebird] [--dialect oracle|mssql|interbase]\n"
           "                  [--no-server] [--screenshot FILE [--show VIEW]]\n"
           "Opens the main window with the CFOP summary screen. --screenshot saves a picture\n"
           "of the display once the screen is open, and exits; --show opens one of its\n"
           "dialogs first: screen (default), pick, taxes, tree, types, models, ticked,\n"
           "reports, calendar, message, import or company; or a report:\n"
           "preview (FISHOST_SHOT_FIND: a search in it) or editor (FISHOST_SHOT_REPORT names which, by title).\n"
           "--first-paint prints \"painted\" once the main window has painted, \"screen\" once\n"
           "the screen has, and exits (with --empty-window: a bare main window only), for\n"
           "bench_first_paint.\n";
}

struct Options {
    HostConfig config;
    HostRunOptions run;
    std::string screenshot;
    QString show = QStringLiteral("screen");
    // For the start-up benchmark: say "painted" once the screen (or, with
    // emptyWindow, a bare main window) has painted, and quit.
    bool firstPaint = false;
    bool emptyWindow = false;
};

// Runs `then` once `target` has painted for the first time (after that
// paint and what else was queued with it), or after `latest` ms should it
// never paint (a minimised window).
class AfterFirstPaint : public QObject {
public:
    AfterFirstPaint(QWidget *target, int latest, std::function<void()> then, int turns = 1)
        : QObject(target), then_(std::move(then)), turns_(turns)
    {
        target->installEventFilter(this);
        QTimer::singleShot(latest, this, [this] { Fire(); });
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            Later(turns_);
        return false;
    }

private:
    void Later(int turns)
    {
        QTimer::singleShot(0, this, [this, turns] { turns > 1 ? Later(turns - 1) : Fire(); });
    }
    void Fire()
    {
        if (!then_)
            return;
        parent()->removeEventFilter(this);
        std::function<void()> then = std::move(then_);
        then_ = nullptr;
        then();
    }
    std::function<void()> then_;
    int turns_;
};

// Tells the benchmark reading our output the moment `target` has painted.
void SayWhenPainted(QWidget *target, const char *word, bool quit)
{
    new AfterFirstPaint(target, 60'000, [word, quit] {
        std::cout << word << std::endl;
        if (quit)
            QApplication::quit();
    });
}

int runEmptyWindow(QApplication &app)
{
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Fiscal"));
    window.setCentralWidget(new QWidget);
    SayWhenPainted(window.centralWidget(), "painted", true);
    if (QScreen *screen = QGuiApplication::primaryScreen())
        window.setGeometry(screen->availableGeometry());
    window.showMaximized();
    return app.exec();
}

// Where a machine is, as the person knows it.
QString Place(const std::string &host)
{
    const QString h = QString::fromStdString(host);
    if (h.isEmpty() || h == "127.0.0.1" || h == "::1" || h.compare("localhost", Qt::CaseInsensitive) == 0)
        return QString::fromUtf8("neste computador");
    return QString::fromUtf8("em %1").arg(h);
}

// Where the data come from, as the person knows it.
QString StatusText(const HostConfig &config, bool startServer)
{
    QString base;
    const DatabaseEngine *engine = FindEngine(config.engine);
    if (engine && !engine->localFile)
        base = QString::fromUtf8("Base de dados %1 %2")
                   .arg(QFileInfo(QString::fromStdString(config.database)).fileName(), Place(config.dbHost));
    else if (config.database.empty())
        base = QString::fromUtf8("Base de demonstração");
    else
        base = QString::fromUtf8("Base de dados %1").arg(QFileInfo(QString::fromStdString(config.database)).fileName());
    // Without a server of its own or one named, lookups that need it find nothing.
    const QString server = config.serverHost.empty() && !startServer
                               ? QString::fromUtf8("sem servidor de aplicação")
                               : QString::fromUtf8("servidor de aplicação %1").arg(Place(config.serverHost));
    return base + QString::fromUtf8(" · ") + server;
}

int runWindow(QApplication &app, const Options &options)
{
    // The host (package, database, server) starts once the window shows.
    std::unique_ptr<HostRun> run;

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Fiscal"));
    auto *area = new QMdiArea(&window);
    area->setBackground(QColor(0x6d, 0x7f, 0x95));
    window.setCentralWidget(area);
    SetWidgetSet(std::make_unique<QtWidgetSet>(area));
    auto *ws = static_cast<QtWidgetSet *>(&WidgetSet());
    ws->SetAcceleratorsTaken(QStringLiteral("RJD"));  // &Relatórios, &Janelas, &Dados
    SetReportUserInterface(std::make_unique<QtReportUi>(&window, area));

    auto *open = new QAction(QStringLiteral("Resumo não Oficial de CFOp"), &window);
    open->setStatusTip(QStringLiteral("Abre o resumo não oficial de CFOp"));
    QObject::connect(open, &QAction::triggered, &window, [&run, ws] {
        if (run)
            ws->Run([&run] { run->Package().IniProc(); });
    });
    auto *quit = new QAction(QStringLiteral("Sair"), &window);
    quit->setShortcut(QKeySequence::Quit);
    QObject::connect(quit, &QAction::triggered, &window, &QMainWindow::close);

    QMenu *reports = window.menuBar()->addMenu(QStringLiteral("&Relatórios"));
    reports->addAction(open);
    reports->addSeparator();
    reports->addAction(quit);
    FillWindowMenu(*window.menuBar()->addMenu(QStringLiteral("&Janelas")), *area);
    QToolBar *tools = window.addToolBar(QStringLiteral("Relatórios"));
    tools->setMovable(false);
    tools->addAction(open);

    // A permanent label: menu hints shown in the bar do not wipe it.
    window.statusBar()->addWidget(new QLabel(StatusText(options.config, options.run.startServer)));
    // The whole desktop: previews need the room to be read.
    if (QScreen *screen = QGuiApplication::primaryScreen())
        window.setGeometry(screen->availableGeometry());
    window.showMaximized();
    if (options.firstPaint)
        SayWhenPainted(area->viewport(), "painted", false);
    int rc = 0;
    // The window paints first: the person sees the desktop at once, the
    // screen a moment later (two turns: what the paint queued goes first).
    new AfterFirstPaint(area->viewport(), 500, [&run, &options, &window, &rc, open] {
        try {
            run = std::make_unique<HostRun>(options.config, options.run);
        } catch (const std::exception &e) {
            std::cerr << "fishost-qt: " << e.what() << '\n';
            if (options.screenshot.empty() && !options.firstPaint)
                QMessageBox::critical(&window, QApplication::applicationDisplayName(), QString::fromUtf8(e.what()));
            rc = 2;
            QApplication::exit(2);
            return;
        }
        AddImportAction(window, run->Config(), run->UsesDemoCopy());
        AddCompanyAction(window, run->Config());
        AddEfdCheckAction(window, run->Config());
        open->trigger();
        if (options.firstPaint)
            if (TCustomForm *screen = Application ? Application->ActiveChild() : nullptr)
                SayWhenPainted(QtWidgetSet::WidgetOf(*screen), "screen", true);
    }, 2);

    if (!options.screenshot.empty())
        ScheduleScreenshot(window, options.show, QString::fromStdString(options.screenshot), &rc);
    const int loop = app.exec();
    // Screens go while their widgets and the widget set still exist.
    if (Application)
        for (TCustomForm *form : std::vector<TCustomForm *>(Application->Children()))
            delete form;
    SetReportUserInterface(nullptr);
    SetWidgetSet(std::make_unique<HeadlessWidgetSet>());
    run.reset();
    return rc ? rc : loop;
}

} // namespace

int main(int argc, char **argv)
{
    PreparePortugueseLocale();
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Fiscal"));
    UsePortugueseTexts();
    UseDesktopIconTheme();
    std::vector<std::string> args(argv + 1, argv + argc);
    Options options;
    try {
        options.config = HostConfig::Load();
        for (std::size_t i = 0; i < args.size(); ++i) {
            const std::string &a = args[i];
            if (a == "--help" || a == "-h") {
                usage(std::cout);
                return 0;
            } else if (TakeHostOption(args, i, options.config, options.run)) {
            } else if (a == "--first-paint") {
                options.firstPaint = true;
            } else if (a == "--empty-window") {
                options.emptyWindow = true;
            } else if (a == "--screenshot" && i + 1 < args.size()) {
                options.screenshot = args[++i];
            } else if (a == "--show" && i + 1 < args.size() && IsScreenshotView(QString::fromStdString(args[i + 1]))) {
                options.show = QString::fromStdString(args[++i]);
            } else {
                throw UsageError("unknown option " + a);
            }
        }
        if (options.firstPaint && options.emptyWindow)
            return runEmptyWindow(app);
        return runWindow(app, options);
    } catch (const UsageError &e) {
        std::cerr << "fishost-qt: " << e.what() << '\n';
        usage(std::cerr);
        return 2;
    } catch (const std::exception &e) {
        std::cerr << "fishost-qt: " << e.what() << '\n';
        return 2;
    }
}
