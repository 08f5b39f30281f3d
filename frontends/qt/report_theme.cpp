#include "report_theme.h"

#include <QApplication>
#include <QLocale>

QIcon ThemeIcon(const char *names, QStyle::StandardPixmap fallback)
{
    for (const QString &name : QString::fromLatin1(names).split(QLatin1Char('|'))) {
        if (!QIcon::hasThemeIcon(name))
            continue;
        QIcon themed = QIcon::fromTheme(name);
        // An entry whose files cannot be read (no SVG support) draws nothing.
        if (!themed.pixmap(16, 16).isNull())
            return themed;
    }
    return QApplication::style()->standardIcon(fallback);
}

QString GroupedNumber(long long n)
{
    return QLocale(QLocale::Portuguese, QLocale::Brazil).toString(n);
}
