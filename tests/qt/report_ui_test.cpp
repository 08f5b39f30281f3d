// Printing the pages a person asked for, and the progress of a long run.
#include "print_support.h"
#include "qt_fixture.h"
#include "qt_reportui.h"
#include "report_pdf_fixture.h"
#include "rtl/sysutils.h"

#include <QPrinter>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>

#include "data/dberrors.h"
#include "report/bands.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

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

// A statement that gives no row until it is interrupted, as a person sees a
// long one: the progress must show and "Cancelar" must reach the statement.
TEST(ReportRunTest, TheProgressShowsWhileTheStatementRunsAndCancelInterruptsIt)
{
    QWidget window;
    window.resize(300, 200);
    window.show();
    int paints = 0;
    struct PaintCounter : QObject {
        int &count;
        explicit PaintCounter(int &c) : count(c) {}
        bool eventFilter(QObject *, QEvent *e) override
        {
            if (e->type() == QEvent::Paint)
                ++count;
            return false;
        }
    } counter(paints);
    window.installEventFilter(&counter);

    QtReportUi ui(&window);
    std::atomic<bool> interrupted{false};
    std::atomic<bool> stepped{false};
    QElapsedTimer clock;
    qint64 shownAt = -1;
    int paintsBeforeShown = 0;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        window.update();
        auto *progress = qobject_cast<QProgressDialog *>(QApplication::activeModalWidget());
        if (progress && shownAt < 0) {
            shownAt = clock.elapsed();
            paintsBeforeShown = paints;
            EXPECT_TRUE(progress->labelText().endsWith(QStringLiteral("0 linhas lidas")))
                << progress->labelText().toStdString();
            progress->cancel();
        }
    });
    watch.start(20);
    clock.start();
    bool cancelled = false;
    try {
        ui.RunLong(
            "Relação de Notas",
            [&](ReportProgress &progress) {
                QElapsedTimer waited;
                waited.start();
                while (!interrupted && waited.elapsed() < 10'000)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                if (interrupted)
                    throw EDatabaseCancelled("interrompido");
                stepped = true;
                progress.Step(1);
            },
            [&] { interrupted = true; });
    } catch (const ReportCancelled &) {
        cancelled = true;
    }
    EXPECT_TRUE(cancelled);
    EXPECT_TRUE(interrupted);
    EXPECT_FALSE(stepped);
    EXPECT_GE(shownAt, 350);
    EXPECT_LT(shownAt, 1000);
    EXPECT_GT(paintsBeforeShown, 0) << "the window did not repaint while the statement ran";
    EXPECT_LT(clock.elapsed(), 5000);
}

// What the run raises reaches the caller as it was; its result too.
TEST(ReportRunTest, AFailureOrAResultOfTheRunReachesTheCaller)
{
    QtReportUi ui;
    EXPECT_THROW(ui.RunLong("R", [](ReportProgress &) { throw Exception("tabela inexistente"); }, {}), Exception);
    std::size_t rows = 0;
    ui.RunLong(
        "R",
        [&rows](ReportProgress &progress) {
            for (rows = 0; rows < 1000; ++rows)
                EXPECT_TRUE(progress.Step(rows));
        },
        {});
    EXPECT_EQ(rows, 1000u);
}

TEST(ReportRunTest, WithoutAPrinterAPrintIsRefusedBeforeAnythingRuns)
{
    QtReportUi ui;
    PreviewServices services;
    for (const bool printer : {true, false}) {
        services.hasPrinter = [printer] { return printer; };
        ui.SetPreviewServices(services);
        if (printer) {
            EXPECT_NO_THROW(ui.CheckPrinter());
            continue;
        }
        try {
            ui.CheckPrinter();
            ADD_FAILURE() << "no printer, no refusal";
        } catch (const Exception &e) {
            EXPECT_EQ(e.Message(), "Nenhuma impressora está instalada neste computador. Use Visualizar para ver o "
                                   "relatório na tela ou exportá-lo.");
        }
    }
}

} // namespace
