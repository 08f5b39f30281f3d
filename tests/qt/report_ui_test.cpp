// Printing the pages a person asked for, and the progress of a long run.
#include "print_support.h"
#include "qt_reportui.h"
#include "report_pdf_fixture.h"
#include "rtl/sysutils.h"

#include <QPrinter>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

TEST(PrintPagesTest, OnlyThePagesTheDialogAskedForArePainted)
{
    QTemporaryDir dir;
    QPdfDocument document;
    OpenPdf(document, WriteTestPdf(dir, QStringLiteral("quatro.pdf"), 4));
    struct Case {
        const char *what;
        QPrinter::PrintRange range;
        int from, to;  // 1-based, as the dialog sets them
        int current;   // 0-based page shown in the preview
        int pages;     // pages printed
    } cases[] = {
        {"all", QPrinter::AllPages, 0, 0, -1, 4},
        {"2 to 3", QPrinter::PageRange, 2, 3, -1, 2},
        {"3 to a page past the end", QPrinter::PageRange, 3, 9, -1, 2},
        {"current page", QPrinter::CurrentPage, 0, 0, 3, 1},
        {"current page unknown", QPrinter::CurrentPage, 0, 0, -1, 4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const QString out = dir.filePath(QString::fromLatin1(c.what) + QStringLiteral(".pdf"));
        QPrinter printer(QPrinter::ScreenResolution);  // what is painted, not how finely
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(out);
        SetUpPrinterFor(printer, document, QStringLiteral("Resumo"));
        printer.setPrintRange(c.range);
        printer.setFromTo(c.from, c.to);
        PrintPages(document, printer, c.current);
        EXPECT_EQ(PdfPageCount(out), c.pages);
    }
}

TEST(PrintPagesTest, ALandscapeReportIsPrintedOnLandscapeSheets)
{
    QTemporaryDir dir;
    QPdfDocument document;
    OpenPdf(document, WriteTestPdf(dir, QStringLiteral("paisagem.pdf"), 2, true));
    QPrinter printer(QPrinter::ScreenResolution);  // what is painted, not how finely
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(dir.filePath(QStringLiteral("saida.pdf")));
    SetUpPrinterFor(printer, document, QStringLiteral("Mapa"));
    EXPECT_EQ(printer.pageLayout().orientation(), QPageLayout::Landscape);
    EXPECT_EQ(printer.pageLayout().pageSize().id(), QPageSize::A4);
    EXPECT_EQ(printer.docName(), QStringLiteral("Mapa"));
    PrintPages(document, printer);

    QPdfDocument printed;
    ASSERT_EQ(printed.load(dir.filePath(QStringLiteral("saida.pdf"))), QPdfDocument::Error::None);
    ASSERT_EQ(printed.pageCount(), 2);
    const QSizeF sheet = printed.pagePointSize(0);
    EXPECT_GT(sheet.width(), sheet.height());
}

TEST(PrintWithDialogTest, WithoutAPrinterItSaysSoInWords)
{
    if (HasPrinter())
        GTEST_SKIP() << "this machine has a printer";
    QTemporaryDir dir;
    const std::string pdf = WriteTestPdf(dir, QStringLiteral("r.pdf"), 1).toStdString();
    QtReportUi ui;
    try {
        ui.Print(pdf, "Resumo");
        ADD_FAILURE() << "printed without a printer";
    } catch (const Exception &e) {
        EXPECT_EQ(e.Message(), "Nenhuma impressora está instalada neste computador. Use Visualizar para ver o "
                               "relatório na tela ou exportá-lo.");
    }
}

TEST(ReportProgressTest, StepsTellTheRowsAndStopOnceCancelled)
{
    QWidget window;
    QtReportProgress progress(QStringLiteral("Resumo de CFOP"), &window, 0);
    EXPECT_FALSE(progress.Dialog()->isVisible());  // nothing before the first rows
    EXPECT_TRUE(progress.Step(1234));
    EXPECT_TRUE(progress.Dialog()->isVisible());
    EXPECT_TRUE(progress.Dialog()->isModal());
    EXPECT_EQ(progress.Dialog()->windowTitle(), QStringLiteral("Resumo de CFOP"));
    EXPECT_TRUE(progress.Dialog()->labelText().endsWith(QStringLiteral("1.234 linhas lidas")))
        << progress.Dialog()->labelText().toStdString();
    EXPECT_TRUE(progress.Step(1));
    EXPECT_TRUE(progress.Dialog()->labelText().endsWith(QStringLiteral("1 linha lida")));

    auto *cancel = progress.Dialog()->findChild<QPushButton *>();
    ASSERT_NE(cancel, nullptr);
    EXPECT_EQ(cancel->text(), QStringLiteral("Cancelar"));
    QTest::mouseClick(cancel, Qt::LeftButton);
    EXPECT_FALSE(progress.Step(2000));
    EXPECT_FALSE(progress.Step(3000));  // a cancel is never taken back
}

TEST(ReportProgressTest, AShortRunShowsNothingAndEscCancels)
{
    QtReportUi ui;
    ui.SetProgressDelay(60'000);
    std::unique_ptr<ReportProgress> quick = ui.BeginProgress("Resumo");
    for (std::size_t rows = 0; rows < 2000; rows += 500)
        EXPECT_TRUE(quick->Step(rows));
    EXPECT_FALSE(static_cast<QtReportProgress &>(*quick).Dialog()->isVisible());

    ui.SetProgressDelay(0);
    std::unique_ptr<ReportProgress> slow = ui.BeginProgress("Resumo");
    EXPECT_TRUE(slow->Step(10));
    QProgressDialog *dialog = static_cast<QtReportProgress &>(*slow).Dialog();
    ASSERT_TRUE(dialog->isVisible());
    QTest::keyClick(dialog, Qt::Key_Escape);
    EXPECT_FALSE(slow->Step(20));
}

} // namespace
