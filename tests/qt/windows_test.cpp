// The Janelas menu: side by side and cascaded with a fixed-size screen and
// several previews open stays inside the main window, which keeps its size,
// and the windows settle instead of laying themselves out forever.
#include "qt_fixture.h"
#include "qt_reportui.h"
#include "report_pdf_fixture.h"
#include "window_arrangement.h"

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPdfView>
#include <QScrollBar>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// Counts the layout work the windows keep doing on their own.
struct Restless : QObject {
    int events = 0;
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Show || e->type() == QEvent::Hide || e->type() == QEvent::Resize)
            ++events;
        return false;
    }
};

void RunEventsFor(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

struct Case {
    const char *name;
    QSize window;
    int previews;
    bool tile;
};

class WindowsTest : public ::testing::TestWithParam<Case> {};

TEST_P(WindowsTest, ArrangementStaysInsideAndSettles)
{
    const Case c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString pdf = WriteTestPdf(dir, QStringLiteral("r.pdf"), 3, true);
    DesktopWindow d = OpenDesktopWindow(c.window.width(), c.window.height());
    // The screen: a fixed-size dialog as the form peer makes it.
    auto *screen = new QWidget;
    screen->setFixedSize(620, 470);
    d.area->addSubWindow(screen)->show();
    QtReportUi ui(d.window.get(), d.area);
    for (int i = 0; i < c.previews; ++i)
        ui.Preview(pdf.toStdString(), "Relatório " + std::to_string(i + 1), {});
    Settle();
    const QSize before = d.window->size();

    QElapsedTimer took;
    took.start();
    if (c.tile)
        TileWindows(*d.area);
    else
        CascadeWindows(*d.area);
    RunEventsFor(200);

    Restless watch;
    for (QAbstractScrollArea *a : d.area->findChildren<QAbstractScrollArea *>()) {
        a->verticalScrollBar()->installEventFilter(&watch);
        a->horizontalScrollBar()->installEventFilter(&watch);
    }
    for (QMdiSubWindow *w : d.area->subWindowList())
        w->installEventFilter(&watch);
    RunEventsFor(300);
    EXPECT_LT(took.elapsed(), 5000);
    EXPECT_EQ(watch.events, 0) << "the windows keep laying themselves out";
    EXPECT_EQ(d.window->size(), before);

    const QRect room = d.area->viewport()->rect();
    ASSERT_EQ(d.area->subWindowList().size(), c.previews + 1);
    for (QMdiSubWindow *w : d.area->subWindowList()) {
        EXPECT_TRUE(room.contains(w->geometry())) << w->windowTitle().toStdString() << " at "
                                                  << w->geometry().x() << "," << w->geometry().y() << " "
                                                  << w->width() << "x" << w->height();
        // Every preview keeps its pages on show.
        if (auto *view = w->findChild<QPdfView *>()) {
            EXPECT_GT(view->viewport()->height(), 0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Janelas, WindowsTest,
                         ::testing::Values(Case{"TileOne", {1366, 700}, 1, true}, Case{"TileTwo", {1366, 700}, 2, true},
                                           Case{"TileThreeSmall", {1000, 720}, 3, true},
                                           Case{"CascadeTwo", {1366, 700}, 2, false},
                                           Case{"CascadeFour", {1000, 720}, 4, false}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(WindowMenu, ListsTheOpenWindowsAndActivatesThePicked)
{
    DesktopWindow d = OpenDesktopWindow(1000, 700);
    for (const char *title : {"Resumo & CFOP", "Visualizar – Notas"}) {
        auto *w = new QWidget;
        w->setWindowTitle(QString::fromUtf8(title));
        d.area->addSubWindow(w)->show();
    }
    QMenu menu;
    FillWindowMenu(menu, *d.area);
    emit menu.aboutToShow();
    QStringList texts;
    for (QAction *a : menu.actions())
        if (!a->isSeparator())
            texts << a->text();
    EXPECT_EQ(texts, QStringList({QStringLiteral("&Lado a lado"), QStringLiteral("Em &cascata"),
                                  QStringLiteral("&1 Resumo && CFOP"), QStringLiteral("&2 Visualizar – Notas")}));
    menu.actions().at(3)->trigger();
    Settle();
    EXPECT_EQ(d.area->activeSubWindow(), d.area->subWindowList(QMdiArea::CreationOrder).at(0));
    emit menu.aboutToShow();
    EXPECT_TRUE(menu.actions().at(3)->isChecked());
    EXPECT_FALSE(menu.actions().at(4)->isChecked());
}

} // namespace
