#pragma once
// Small things the report windows share: icons from the desktop theme with a
// stand-in from the widget style, and numbers written the Brazilian way.
#include <QIcon>
#include <QString>
#include <QStyle>

#include <string>

// The theme's icon of the first of `names` ("zoom-fit-width|format-justify-fill")
// it has; else the style's `fallback`, so a toolbar never shows an empty button.
QIcon ThemeIcon(const char *names, QStyle::StandardPixmap fallback);

// "1.234.567"
QString GroupedNumber(long long n);

inline QString ToQString(const std::string &s) { return QString::fromStdString(s); }
