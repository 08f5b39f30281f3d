#pragma once
// A desktop widget set whose person answers from queues instead of modal
// dialogs, so tests never block on a message box.
#include "hostsetup.h"
#include "qtwidgetset.h"
#include "vcl/forms.h"

#include <QApplication>
#include <QMainWindow>
#include <QMdiArea>
#include <QWidget>

#include <deque>
#include <optional>
#include <string>
#include <vector>

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
    std::optional<std::vector<int>> PickRows(const std::string &title, const PickTable &,
                                             const std::vector<int> &) override
    {
        picks.push_back(title);
        return std::nullopt;
    }
    void PrintDocument(const std::string &path) override { printed.push_back(path); }
    void ShowDocument(const std::string &path) override { shown.push_back(path); }

    std::vector<std::string> messages;
    std::vector<std::string> picks;
    std::vector<std::string> printed, shown;
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

template <class W = QWidget>
W *WidgetFor(const TControl &c)
{
    return qobject_cast<W *>(QtWidgetSet::WidgetOf(c));
}
