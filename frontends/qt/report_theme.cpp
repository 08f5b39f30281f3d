#include "report_theme.h"

#include <QApplication>
#include <QDir>
#include <QLocale>
#include <QStandardPaths>

QIcon ThemeIcon(const char *names, QStyle::StandardPixmap fallback)
{
    for (const QString &name : QString::fromLatin1(names).split(QLatin1Char('|')))
        if (QIcon::hasThemeIcon(name))
            return QIcon::fromTheme(name);
    return QApplication::style()->standardIcon(fallback);
}

void UseInstalledIconTheme()
{
    const QString current = QIcon::themeName();
    if (!current.isEmpty() && current != QLatin1String("hicolor"))
        return;
    QStringList paths = QIcon::themeSearchPaths();
    for (const QString &data : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
        const QString icons = data + QStringLiteral("/icons");
        if (!paths.contains(icons) && QDir(icons).exists())
            paths << icons;
    }
    QIcon::setThemeSearchPaths(paths);
    for (const char *theme : {"Adwaita", "breeze", "oxygen", "Tango"}) {
        for (const QString &dir : paths) {
            if (QDir(dir + QLatin1Char('/') + QLatin1String(theme)).exists(QStringLiteral("index.theme"))) {
                QIcon::setThemeName(QLatin1String(theme));
                return;
            }
        }
    }
}

QString GroupedNumber(long long n)
{
    return QLocale(QLocale::Portuguese, QLocale::Brazil).toString(n);
}
