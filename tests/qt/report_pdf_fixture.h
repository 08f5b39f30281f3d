#pragma once
// Small PDFs written on the spot, so the report windows have pages to show.
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfDocument>
#include <QPdfWriter>
#include <QString>
#include <QTemporaryDir>

// `pages` A4 pages, each saying which it is.
inline QString WriteTestPdf(const QTemporaryDir &dir, const QString &name, int pages, bool landscape = false)
{
    const QString path = dir.filePath(name);
    QPdfWriter writer(path);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4),
                                     landscape ? QPageLayout::Landscape : QPageLayout::Portrait, QMarginsF()));
    writer.setResolution(72);
    QPainter painter(&writer);
    for (int page = 0; page < pages; ++page) {
        if (page > 0)
            writer.newPage();
        painter.drawText(72, 72, QStringLiteral("Página %1").arg(page + 1));
    }
    return path;
}

inline int PdfPageCount(const QString &path)
{
    QPdfDocument doc;
    return doc.load(path) == QPdfDocument::Error::None ? doc.pageCount() : -1;
}
