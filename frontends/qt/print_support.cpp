#include "print_support.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfDocument>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>

#include <algorithm>

namespace {

// A sheet of A4 at 600 dpi is a 140 MB image; 300 dpi keeps a page under
// 40 MB and is more than a table of figures needs.
constexpr int MaxRenderDpi = 300;

std::string Utf8(const QString &s) { return s.toStdString(); }

} // namespace

void OpenPdf(QPdfDocument &document, const QString &path)
{
    const QPdfDocument::Error error = document.load(path);
    if (error == QPdfDocument::Error::None && document.pageCount() > 0)
        return;
    std::string reason;
    switch (error) {
    case QPdfDocument::Error::FileNotFound: reason = "o arquivo não existe"; break;
    case QPdfDocument::Error::IncorrectPassword:
    case QPdfDocument::Error::UnsupportedSecurityScheme: reason = "o arquivo está protegido"; break;
    case QPdfDocument::Error::None: reason = "o relatório não tem páginas"; break;
    default: reason = "o arquivo não é um PDF válido"; break;
    }
    throw Exception("Não foi possível abrir o relatório '" + Utf8(path) + "': " + reason + ".");
}

bool HasPrinter()
{
    return !QPrinterInfo::availablePrinterNames().isEmpty();
}

void SetUpPrinterFor(QPrinter &printer, QPdfDocument &document, const QString &title)
{
    printer.setDocName(title);
    printer.setFullPage(true);
    printer.setCreator(QApplication::applicationDisplayName());
    if (document.pageCount() > 0) {
        const QSizeF points = document.pagePointSize(0);
        const bool landscape = points.width() > points.height();
        const QSizeF portrait = landscape ? points.transposed() : points;
        printer.setPageLayout(QPageLayout(QPageSize(portrait, QPageSize::Point, QString(), QPageSize::FuzzyMatch),
                                          landscape ? QPageLayout::Landscape : QPageLayout::Portrait, QMarginsF()));
    }
    printer.setFromTo(0, 0);
}

void PrintPages(QPdfDocument &document, QPrinter &printer, int currentPage)
{
    const int count = document.pageCount();
    int first = 0;
    int last = count - 1;
    switch (printer.printRange()) {
    case QPrinter::PageRange:
        // fromPage/toPage are 1-based; 0 means "not set".
        if (printer.fromPage() > 0)
            first = printer.fromPage() - 1;
        if (printer.toPage() > 0)
            last = std::min(last, printer.toPage() - 1);
        break;
    case QPrinter::CurrentPage:
        if (currentPage >= 0 && currentPage < count)
            first = last = currentPage;
        break;
    default:
        break;
    }
    if (first > last)
        return;

    QPainter painter;
    if (!painter.begin(&printer))
        throw Exception("Não foi possível iniciar a impressão em '" + Utf8(printer.printerName()) + "'.");
    const int dpi = std::min(printer.resolution(), MaxRenderDpi);
    for (int page = first; page <= last; ++page) {
        if (page > first && !printer.newPage())
            throw Exception("A impressora '" + Utf8(printer.printerName()) + "' não aceitou a página " +
                            std::to_string(page + 1) + ".");
        // Keep the page's proportions on the sheet, centred when they differ.
        const QRectF sheet = printer.paperRect(QPrinter::DevicePixel);
        const QSizeF points = document.pagePointSize(page);
        QSizeF target = points * (printer.resolution() / 72.0);
        target.scale(sheet.size(), Qt::KeepAspectRatio);
        const QSize pixels = (points * (dpi / 72.0)).toSize();
        const QImage image = document.render(page, pixels);
        if (image.isNull())
            throw Exception("Não foi possível preparar a página " + std::to_string(page + 1) + " para impressão.");
        const QPointF corner((sheet.width() - target.width()) / 2, (sheet.height() - target.height()) / 2);
        painter.drawImage(QRectF(corner, target), image);
    }
    painter.end();
    if (printer.printerState() == QPrinter::Error)
        throw Exception("A impressora '" + Utf8(printer.printerName()) + "' informou um erro; verifique se ela está "
                                                                         "ligada e tente de novo.");
}

bool PrintWithDialog(QPdfDocument &document, const QString &title, QWidget *parent, int currentPage)
{
    if (!HasPrinter())
        throw NoPrinterError();
    QPrinter printer(QPrinter::HighResolution);
    SetUpPrinterFor(printer, document, title);
    QPrintDialog dialog(&printer, parent);
    dialog.setWindowTitle(QStringLiteral("Imprimir – ") + title);
    dialog.setMinMax(1, std::max(1, document.pageCount()));
    QAbstractPrintDialog::PrintDialogOptions options = QAbstractPrintDialog::PrintPageRange |
                                                       QAbstractPrintDialog::PrintShowPageSize |
                                                       QAbstractPrintDialog::PrintCollateCopies;
    if (currentPage >= 0)
        options |= QAbstractPrintDialog::PrintCurrentPage;
    dialog.setOptions(options);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        PrintPages(document, printer, currentPage);
    } catch (...) {
        QApplication::restoreOverrideCursor();
        throw;
    }
    QApplication::restoreOverrideCursor();
    return true;
}
