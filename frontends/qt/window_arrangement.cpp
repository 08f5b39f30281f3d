#include "window_arrangement.h"

#include <QAction>
#include <QActionGroup>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QStyle>

#include <algorithm>
#include <cmath>

namespace {

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
// moved back inside `room` where the size would push it over an edge.
void Put(QMdiSubWindow *w, QPoint at, QSize wanted, const QSize &room)
{
    if (w->isMaximized())
        w->showNormal();
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
        Put(windows[i], QPoint(column * width, row * height), QSize(width, height), room);
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
        Put(windows[i], QPoint(k * step, k * step), wanted, room);
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
