#pragma once
// What every Qt test program shares: its one QApplication (qt_test_main.cpp
// makes it), a desktop widget set whose person answers from queues instead
// of modal dialogs, so tests never block on a message box, and the host on
// a desktop window as fishost-qt sets it up.
#include "hostsetup.h"
#include "qtwidgetset.h"
#include "vcl/forms.h"
#include "vcl/headless.h"

#include <QApplication>
#include <QMainWindow>
#include <QMdiArea>
#include <QSettings>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Runs the program's tests in its one QApplication, on Qt's offscreen
// platform unless the environment names another (to watch a run), with the
// desktop's Portuguese texts. No test needs a display, also when ctest lists
// them without the tests' environment.
inline int RunQtTests(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    PreparePortugueseLocale();
    QApplication app(argc, argv);
    UsePortugueseTexts();
    // What the desktop remembers goes to a folder of this run's own.
    QTemporaryDir settings;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
    return RUN_ALL_TESTS();
}

class ScriptedQtWidgetSet : public QtWidgetSet {
public:
    using QtWidgetSet::QtWidgetSet;
    void ShowMessageBox(const std::string &text, MessageKind) override { messages.push_back(text); }
    std::optional<int> PickRow(const std::string &title, const PickTable &) override
    {
        picks.push_back(title);
        return std::nullopt;
    }
    std::optional<int> PickTreeRow(const std::string &title, const PickTree &) override
    {
        picks.push_back(title);
        return std::nullopt;
    }
    // Ticks the rows of the next queued keys; cancels when none is queued.
    std::optional<std::vector<int>> PickRows(const std::string &title, const PickTable &table,
                                             const std::vector<int> &) override
    {
        picks.push_back(title);
        if (ticks.empty())
            return std::nullopt;
        std::vector<int> rows;
        for (const std::string &key : ticks.front())
            for (std::size_t i = 0; i < table.keys.size(); ++i)
                if (table.keys[i] == key)
                    rows.push_back(static_cast<int>(i));
        ticks.pop_front();
        return rows;
    }
    void PrintDocument(const std::string &path) override { printed.push_back(path); }
    void ShowDocument(const std::string &path) override { shown.push_back(path); }

    std::vector<std::string> messages;
    std::vector<std::string> picks;
    std::vector<std::string> printed, shown;
    std::deque<std::vector<std::string>> ticks;
};

inline ScriptedQtWidgetSet &InstallScripted(QMdiArea *area = nullptr)
{
    SetWidgetSet(std::make_unique<ScriptedQtWidgetSet>(area));
    return static_cast<ScriptedQtWidgetSet &>(WidgetSet());
}

// The host as the desktop tests run it: the package from the build, no server.
inline std::unique_ptr<HostRun> StartTestHost(const HostConfig &config, bool temporaryReportOutput = false)
{
    HostRunOptions options;
    options.packagePath = FIS_PACKAGE_PATH;
    options.startServer = false;
    options.temporaryReportOutput = temporaryReportOutput;
    return std::make_unique<HostRun>(config, options);
}

// A main window shown with an MDI area for the screens, and the scripted
// widget set on it, as fishost-qt sets up its desktop.
struct DesktopWindow {
    std::unique_ptr<QMainWindow> window;
    QMdiArea *area = nullptr;
    ScriptedQtWidgetSet *ws = nullptr;
};

inline DesktopWindow OpenDesktopWindow(int width, int height)
{
    DesktopWindow d;
    d.window = std::make_unique<QMainWindow>();
    d.area = new QMdiArea(d.window.get());
    d.window->setCentralWidget(d.area);
    d.window->resize(width, height);
    d.window->show();
    d.ws = &InstallScripted(d.area);
    return d;
}

// Runs deferred work: focus requests and widgets deleted later.
inline void Settle()
{
    for (int i = 0; i < 3; ++i) {
        QApplication::processEvents();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

// The host with the built package on a desktop window; the screen opens as
// a person's action. Ending it stops the host, then puts the headless widget
// set back before the window goes.
class DesktopHost {
public:
    DesktopHost(const HostConfig &config, int width, int height, bool temporaryReportOutput = false)
        : run_(StartTestHost(config, temporaryReportOutput)), desktop_(OpenDesktopWindow(width, height))
    {
    }
    ~DesktopHost()
    {
        run_.reset();
        Settle();
        SetWidgetSet(std::make_unique<HeadlessWidgetSet>());
        desktop_.window.reset();
    }
    DesktopHost(const DesktopHost &) = delete;
    DesktopHost &operator=(const DesktopHost &) = delete;

    // The screen the package opened, or null.
    TCustomForm *OpenScreen()
    {
        desktop_.ws->Run([this] { run_->Package().IniProc(); });
        Settle();
        return Application->ActiveChild();
    }
    HostRun &Run() const { return *run_; }
    QMainWindow *Window() const { return desktop_.window.get(); }
    QMdiArea *Area() const { return desktop_.area; }
    ScriptedQtWidgetSet *Widgets() const { return desktop_.ws; }

private:
    std::unique_ptr<HostRun> run_;
    DesktopWindow desktop_;
};

template <class W = QWidget>
W *WidgetFor(const TControl &c)
{
    return qobject_cast<W *>(QtWidgetSet::WidgetOf(c));
}
