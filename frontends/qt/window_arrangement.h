#pragma once
// Side by side and cascaded sub-windows, always inside the work area.
// QMdiArea's own tiling grows the main window to the largest minimum size of
// its windows (off the screen with a fixed-size screen and two previews) and
// then re-tiles on every resize; these never touch the main window.
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QWidget;

// A sub-window for a screen of fixed size: never larger than the screen,
// and when a tile makes it smaller the screen scrolls inside it.
QMdiSubWindow *AddFixedSubWindow(QMdiArea &area, QWidget *screen);
// Fits such a window to its screen again (after the screen changed size).
void FitFixedSubWindow(QMdiSubWindow &window);

void TileWindows(QMdiArea &area);
void CascadeWindows(QMdiArea &area);
// The window menu: the two arrangements, then one checkable entry per open
// window (the active one checked), rebuilt each time the menu opens.
void FillWindowMenu(QMenu &menu, QMdiArea &area);
