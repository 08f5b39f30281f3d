#include "window_arrangement.h"

#include <QAction>
#include <QActionGroup>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QScrollArea>
#include <QStyle>

#include <algorithm>
#include <cmath>

namespace {

const char *const kFixedProperty = "fisFixedScreen";

// Asks for the whole screen, however large: QScrollArea's own hint is
// bounded to a few dozen lines.
class ScreenScroller : public QScrollArea {
public:
    using QScrollArea::QScrollArea;
    QSize sizeHint() const override
    {
        const int f = 2 * frameWidth();
        return widget() ? widget()->size() + QSize(f, f) : QScrollArea::sizeHint();
    }
};

// The size a fixed screen's window has when the whole screen shows.
QSize NaturalSize(const QMdiSubWindow *w) { return w->property(kFixedProperty).toSize(); }

QList<QMdiSubWindow *> Arrangeable(QMdiArea &area)
{
    QList<QMdiSubWindow *> windows;
    for (QMdiSubWindow *w : area.subWindowList(QMdiArea::CreationOrder))
        if (w->isVisible() && !w->isMinimized())
            windows << w;
    return windows;
}

bool FixedSize(const QMdiSubWindow *w) { return w->minimumSize() == w->maximumSize(); }

// Gives `w` about `wanted` (its own size when it cannot change) at `at`,
// moved back inside `room` where the size would push it over an edge. A
// fixed screen never grows past its natural size; in a smaller tile it
// scrolls, cascaded it keeps its size.
void Put(QMdiSubWindow *w, QPoint at, QSize wanted, const QSize &room, bool keepFixed)
{
    if (w->isMaximized())
        w->showNormal();
    if (const QSize natural = NaturalSize(w); natural.isValid()) {
        const QSize size = (keepFixed ? natural : natural.boundedTo(wanted)).boundedTo(room);
        w->resize(size.expandedTo(QSize(1, 1)));
        const int x = std::clamp(at.x(), 0, std::max(0, room.width() - w->width()));
        const int y = std::clamp(at.y(), 0, std::max(0, room.height() - w->height()));
        w->move(x, y);
        return;
    }
    QSize size = FixedSize(w) ? w->size() : wanted.expandedTo(w->minimumSize()).boundedTo(room);
    size = size.expandedTo(QSize(1, 1));
    if (!FixedSize(w))
        w->resize(size);
    size = w->size();
    const int x = std::clamp(at.x(), 0, std::max(0, room.width() - size.width()));
    const int y = std::clamp(at.y(), 0, std::max(0, room.height() - size.height()));
    w->move(x, y);
}

} // namespace

QMdiSubWindow *AddFixedSubWindow(QMdiArea &area, QWidget *screen)
{
    auto *scroller = new ScreenScroller;
    scroller->setFrameShape(QFrame::NoFrame);
    scroller->setWidgetResizable(false);
    scroller->setWidget(screen);
    QMdiSubWindow *sub = area.addSubWindow(scroller);
    FitFixedSubWindow(*sub);
    return sub;
}

void FitFixedSubWindow(QMdiSubWindow &window)
{
    window.setMinimumSize(0, 0);
    window.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    window.adjustSize();
    const QSize natural = window.size();
    window.setProperty(kFixedProperty, natural);
    window.setMaximumSize(natural);
    // Small enough for any tile; the screen scrolls then.
    window.setMinimumSize(std::min(natural.width(), 160), std::min(natural.height(), 120));
}

void TileWindows(QMdiArea &area)
{
    const QList<QMdiSubWindow *> windows = Arrangeable(area);
    if (windows.isEmpty())
        return;
    const QSize room = area.viewport()->size();
    const int n = static_cast<int>(windows.size());
    const int columns = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(n))));
    const int rows = (n + columns - 1) / columns;
    const int height = room.height() / rows;
    for (int i = 0; i < n; ++i) {
        const int row = i / columns;
        // The last row shares its width among the windows left.
        const int inRow = row == rows - 1 ? n - row * columns : columns;
        const int width = room.width() / inRow;
        const int column = i % columns;
        Put(windows[i], QPoint(column * width, row * height), QSize(width, height), room, false);
    }
}

void CascadeWindows(QMdiArea &area)
{
    const QList<QMdiSubWindow *> windows = Arrangeable(area);
    if (windows.isEmpty())
        return;
    const QSize room = area.viewport()->size();
    const int step = area.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &area) + 4;
    const int n = static_cast<int>(windows.size());
    // Each window as large as the steps of the others leave it.
    const int span = std::min(n - 1, std::max(0, std::min(room.width(), room.height()) / (3 * step)));
    const QSize wanted(room.width() - span * step, room.height() - span * step);
    for (int i = 0; i < n; ++i) {
        const int k = span > 0 ? i % (span + 1) : 0;
        Put(windows[i], QPoint(k * step, k * step), wanted, room, true);
    }
    windows.last()->raise();
    area.setActiveSubWindow(windows.last());
}

void FillWindowMenu(QMenu &menu, QMdiArea &area)
{
    QObject::connect(&menu, &QMenu::aboutToShow, &menu, [&menu, area = &area] {
        menu.clear();
        QAction *tile = menu.addAction(QStringLiteral("&Lado a lado"), area, [area] { TileWindows(*area); });
        QAction *cascade = menu.addAction(QStringLiteral("Em &cascata"), area, [area] { CascadeWindows(*area); });
        const QList<QMdiSubWindow *> windows = area->subWindowList(QMdiArea::CreationOrder);
        tile->setEnabled(!windows.isEmpty());
        cascade->setEnabled(!windows.isEmpty());
        if (windows.isEmpty())
            return;
        menu.addSeparator();
        auto *group = new QActionGroup(&menu);
        int number = 0;
        for (QMdiSubWindow *w : windows) {
            ++number;
            QString title = w->windowTitle().isEmpty() && w->widget() ? w->widget()->windowTitle() : w->windowTitle();
            title.replace(QLatin1Char('&'), QStringLiteral("&&"));
            // The first nine windows get their number as the accelerator.
            const QString text = number <= 9 ? QStringLiteral("&%1 %2").arg(number).arg(title)
                                             : QStringLiteral("%1 %2").arg(number).arg(title);
            QAction *a = menu.addAction(text);
            a->setCheckable(true);
            a->setChecked(w == area->activeSubWindow());
            group->addAction(a);
            QObject::connect(a, &QAction::triggered, w, [area, w] {
                if (w->isMinimized())
                    w->showNormal();
                area->setActiveSubWindow(w);
            });
        }
    });
    // Filled once now too, so shortcuts and tests find the arrangements.
    emit menu.aboutToShow();
}
