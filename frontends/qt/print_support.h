#pragma once
// Printing a report's PDF through the desktop's print dialog: each page is
// rendered as an image at the printer's resolution and painted on its sheet.
#include "rtl/sysutils.h"

#include <QString>

class QPdfDocument;
class QPrinter;
class QWidget;

// Loads `path` into `document`; raises Exception (in Portuguese) naming the
// file when it is missing or no readable PDF.
void OpenPdf(QPdfDocument &document, const QString &path);

// Printing was asked for on a machine with no printer installed.
class NoPrinterError : public Exception {
public:
    NoPrinterError() : Exception("Nenhuma impressora está instalada neste computador.") {}
};

// True when the system knows at least one printer.
bool HasPrinter();

// Prepares `printer` for `document`: the name shown in the queue, the paper
// size and orientation of its first page, the whole sheet as the page (the
// PDF brings its own margins).
void SetUpPrinterFor(QPrinter &printer, QPdfDocument &document, const QString &title);

// Paints the pages the printer's range asks for (all of them, a range, or
// `currentPage` (0-based) for "current page"). Raises Exception when the
// printer cannot be opened or reports an error.
void PrintPages(QPdfDocument &document, QPrinter &printer, int currentPage = -1);

// The print dialog for `document`, then the pages; false when the person
// cancelled. Raises NoPrinterError without a printer, Exception (in
// Portuguese) when printing fails.
bool PrintWithDialog(QPdfDocument &document, const QString &title, QWidget *parent, int currentPage = -1);
