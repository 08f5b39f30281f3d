#pragma once
// Side by side and cascaded sub-windows, always inside the work area.
// QMdiArea's own tiling grows the main window to the largest minimum size of
// its windows (off the screen with a fixed-size screen and two previews) and
// then re-tiles on every resize; these never touch the main window.
class QMdiArea;
class QMenu;

void TileWindows(QMdiArea &area);
void CascadeWindows(QMdiArea &area);
// The window menu: the two arrangements, then one checkable entry per open
// window (the active one checked), rebuilt each time the menu opens.
void FillWindowMenu(QMenu &menu, QMdiArea &area);
