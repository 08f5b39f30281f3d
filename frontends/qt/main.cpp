// fishost-qt: the host program on the desktop. A main window with the
// screens inside it; the screen package and its host come from HostRun.
#include "hostsetup.h"
#include "import_dialog.h"
#include "qt_reportui.h"
#include "qticons.h"
#include "qtwidgetset.h"
#include "screenshots.h"
#include "vcl/forms.h"
#include "vcl/headless.h"

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QMainWindow>
#include <QLabel>
#include <QMdiArea>
#include <QMenuBar>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include <iostream>
#include <string>
#include <vector>

namespace {

void usage(std::ostream &out)
{
    out << "usage: fishost-qt [--package PATH] [--engine sqlite|firebird] [--dialect oracle|mssql|interbase]\n"
           "                  [--no-server] [--screenshot FILE [--show VIEW]]\n"
           "Opens the main window with the CFOP summary screen. --screenshot saves a picture\n"
           "of the display once the screen is open, and exits; --show opens one of its\n"
           "dialogs first: screen (default), pick, tree, calendar or message; or a report:\n"
           "preview or editor (FISHOST_SHOT_REPORT names which, by title).\n";
}

struct Options {
    HostConfig config;
    HostRunOptions run;
    std::string screenshot;
    QString show = QStringLiteral("screen");
};

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
    if (config.engine == "firebird")
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
    HostRun run(options.config, options.run);

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Fiscal"));
    auto *area = new QMdiArea(&window);
    area->setBackground(QColor(0x6d, 0x7f, 0x95));
    window.setCentralWidget(area);
    SetWidgetSet(std::make_unique<QtWidgetSet>(area));
    auto *ws = static_cast<QtWidgetSet *>(&WidgetSet());
    SetReportUserInterface(std::make_unique<QtReportUi>(&window, area));

    auto *open = new QAction(QStringLiteral("Resumo não Oficial de CFOp"), &window);
    open->setStatusTip(QStringLiteral("Abre o resumo não oficial de CFOp"));
    QObject::connect(open, &QAction::triggered, &window, [&run, ws] { ws->Run([&run] { run.Package().IniProc(); }); });
    auto *quit = new QAction(QStringLiteral("Sair"), &window);
    quit->setShortcut(QKeySequence::Quit);
    QObject::connect(quit, &QAction::triggered, &window, &QMainWindow::close);

    QMenu *reports = window.menuBar()->addMenu(QStringLiteral("&Relatórios"));
    reports->addAction(open);
    reports->addSeparator();
    reports->addAction(quit);
    QMenu *windows = window.menuBar()->addMenu(QStringLiteral("&Janelas"));
    windows->addAction(QStringLiteral("Lado a lado"), area, &QMdiArea::tileSubWindows);
    windows->addAction(QStringLiteral("Em cascata"), area, &QMdiArea::cascadeSubWindows);
    AddImportAction(window, run.Config(), run.UsesDemoCopy());
    QToolBar *tools = window.addToolBar(QStringLiteral("Relatórios"));
    tools->setMovable(false);
    tools->addAction(open);

    // A permanent label: menu hints shown in the bar do not wipe it.
    window.statusBar()->addWidget(new QLabel(StatusText(options.config, options.run.startServer)));
    window.resize(1000, 720);
    window.show();
    open->trigger();

    int rc = 0;
    if (!options.screenshot.empty())
        ScheduleScreenshot(window, options.show, QString::fromStdString(options.screenshot), &rc);
    const int loop = app.exec();
    // Screens go while their widgets and the widget set still exist.
    if (Application)
        for (TCustomForm *form : std::vector<TCustomForm *>(Application->Children()))
            delete form;
    SetReportUserInterface(nullptr);
    SetWidgetSet(std::make_unique<HeadlessWidgetSet>());
    return rc ? rc : loop;
}

} // namespace

int main(int argc, char **argv)
{
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
            } else if (a == "--screenshot" && i + 1 < args.size()) {
                options.screenshot = args[++i];
            } else if (a == "--show" && i + 1 < args.size() && IsScreenshotView(QString::fromStdString(args[i + 1]))) {
                options.show = QString::fromStdString(args[++i]);
            } else {
                throw Exception("unknown option " + a);
            }
        }
        return runWindow(app, options);
    } catch (const std::exception &e) {
        std::cerr << "fishost-qt: " << e.what() << '\n';
        usage(std::cerr);
        return 2;
    }
}
