#include "qticons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

// Drawn at 16 x 16 in the window text colour's grey, like symbolic icons.
QIcon Drawn(Picture picture)
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink(0x2e, 0x34, 0x36);
    p.setPen(QPen(ink, 1.5));
    switch (picture) {
    case Picture::Search:
        p.drawEllipse(QRectF(2, 2, 8, 8));
        p.setPen(QPen(ink, 2.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(9.5, 9.5), QPointF(14, 14));
        break;
    case Picture::Calendar:
        p.drawRect(QRectF(1.5, 2.5, 13, 12));
        p.fillRect(QRectF(1.5, 2.5, 13, 3), ink);
        for (int r = 0; r < 2; ++r)
            for (int c = 0; c < 3; ++c)
                p.fillRect(QRectF(3.5 + c * 3.5, 7.5 + r * 3.5, 2, 2), ink);
        break;
    case Picture::Print:
        p.drawRect(QRectF(4.5, 1.5, 7, 5));
        p.drawRect(QRectF(1.5, 6.5, 13, 6));
        p.fillRect(QRectF(4.5, 10.5, 7, 5), Qt::white);
        p.drawRect(QRectF(4.5, 10.5, 7, 5));
        break;
    case Picture::Preview:
        p.drawRect(QRectF(2.5, 1.5, 9, 13));
        p.drawEllipse(QRectF(6, 6, 6, 6));
        p.drawLine(QPointF(11, 11), QPointF(14.5, 14.5));
        break;
    case Picture::SaveAs:
        p.drawRect(QRectF(1.5, 1.5, 13, 13));
        p.fillRect(QRectF(4.5, 1.5, 7, 4), ink);
        p.drawRect(QRectF(4.5, 9.5, 7, 5));
        break;
    case Picture::EditLayout:
        p.setPen(QPen(ink, 2.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(3, 13), QPointF(13, 3));
        p.setPen(QPen(ink, 1));
        p.drawLine(QPointF(1.5, 14.5), QPointF(4, 14.5));
        break;
    case Picture::Document:
        p.drawRect(QRectF(3.5, 1.5, 9, 13));
        p.drawLine(QPointF(5.5, 5.5), QPointF(10.5, 5.5));
        p.drawLine(QPointF(5.5, 8.5), QPointF(10.5, 8.5));
        break;
    }
    return QIcon(pm);
}

const char *ThemeName(Picture picture)
{
    switch (picture) {
    case Picture::Search: return "edit-find-symbolic";
    case Picture::Calendar: return "x-office-calendar";
    case Picture::Print: return "document-print-symbolic";
    case Picture::Preview: return "document-print-preview-symbolic";
    case Picture::SaveAs: return "document-save-as-symbolic";
    case Picture::EditLayout: return "document-edit-symbolic";
    case Picture::Document: return "x-office-document";
    }
    return "";
}

} // namespace

QIcon PictureIcon(Picture picture)
{
    const QString name = QString::fromLatin1(ThemeName(picture));
    if (QIcon::hasThemeIcon(name)) {
        QIcon themed = QIcon::fromTheme(name);
        // A theme entry whose files cannot be read (no SVG support) draws nothing.
        if (!themed.pixmap(16, 16).isNull())
            return themed;
    }
    return Drawn(picture);
}

void UseDesktopIconTheme()
{
    const QString theme = QIcon::themeName();
    if (theme.isEmpty() || theme == QLatin1String("hicolor"))
        QIcon::setThemeName(QStringLiteral("Adwaita"));
}
