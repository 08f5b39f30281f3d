#pragma once
// Pictures for buttons: the desktop's icon theme where it has them, else a
// drawing of our own, so a bare machine still shows what each button does.
#include <QIcon>

enum class Picture { Search, Calendar, Print, Preview, SaveAs, EditLayout, Document };

QIcon PictureIcon(Picture picture);
// Makes the theme lookups work on a desktop that names no theme (Xvfb, a
// bare window manager): the freedesktop default theme shipped with the host.
void UseDesktopIconTheme();
