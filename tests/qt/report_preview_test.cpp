// The report preview: its pages, zoom, keys, and print and export handed to
// the report framework with what the person chose.
#include "print_support.h"
#include "qt_fixture.h"
#include "qt_reportui.h"
#include "report_pdf_fixture.h"
#include "report_preview.h"
#include "rtl/sysutils.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPdfPageNavigator>
#include <QProgressDialog>
#include <QPdfView>
#include <QLineEdit>
#include <QListWidget>
#include <QSpinBox>
#include <QWheelEvent>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

struct Recorded {
    std::vector<std::pair<std::string, std::string>> exports;  // format, path
    std::vector<QString> errors;
    std::vector<int> printedFromPage;
    std::optional<ExportChoice> answer;
    std::string exportFailure;  // the export fails for it when set
    bool exportCancelled = false;  // the person cancels the export's progress
    std::vector<ExportStart> starts;  // what each export dialog started from
    std::vector<QString> opened;      // files opened after their export
};

class ReportPreviewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        pdf = WriteTestPdf(dir, QStringLiteral("relatorio.pdf"), 4);
    }

    PreviewServices Services()
    {
        PreviewServices s;
        s.chooseExport = [this](QWidget *, const ExportStart &start) {
            rec.starts.push_back(start);
            return rec.answer;
        };
        s.openFile = [this](const QString &path) { rec.opened.push_back(path); };
        s.print = [this](QPdfDocument &doc, const QString &, QWidget *, int current) {
            rec.printedFromPage.push_back(current);
            if (doc.pageCount() != 4)
                throw Exception("documento errado");
            return true;
        };
        s.showError = [this](QWidget *, const QString &text) { rec.errors.push_back(text); };
        return s;
    }

    ReportExport Exporter()
    {
        return [this](const std::string &format, const std::string &path) -> ExportOutcome {
            if (!rec.exportFailure.empty())
                return {ExportOutcome::Kind::Failed, rec.exportFailure};
            if (rec.exportCancelled)
                return {ExportOutcome::Kind::Cancelled, {}};
            rec.exports.emplace_back(format, path);
            QFile out(QString::fromStdString(path));
            EXPECT_TRUE(out.open(QIODevice::WriteOnly));
            out.write("linhas");
            return {};
        };
    }

    std::unique_ptr<ReportPreview> Open()
    {
        auto p = std::make_unique<ReportPreview>(pdf, QStringLiteral("Resumo de CFOP"), Exporter(), Services());
        p->resize(800, 600);
        p->show();
        p->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(p.get()));
        return p;
    }

    QTemporaryDir dir;
    QString pdf;
    Recorded rec;
};

TEST_F(ReportPreviewTest, OpensOnTheFirstPageOfAll)
{
    auto p = Open();
    EXPECT_EQ(p->PageCount(), 4);
    EXPECT_EQ(p->CurrentPage(), 0);
    EXPECT_EQ(p->PageText(), QStringLiteral("Página 1 de 4"));
    EXPECT_EQ(p->windowTitle(), QStringLiteral("Visualizar – Resumo de CFOP"));
    EXPECT_EQ(p->View()->pageMode(), QPdfView::PageMode::MultiPage);  // the wheel goes on past a page
    EXPECT_FALSE(p->Action("previous")->isEnabled());
    EXPECT_FALSE(p->Action("first")->isEnabled());
    EXPECT_TRUE(p->Action("next")->isEnabled());
}

TEST_F(ReportPreviewTest, PagesNavigateByButtonsBoxAndKeys)
{
    auto p = Open();
    struct Step {
        const char *what;
        std::function<void(ReportPreview &)> act;
        int page;  // 0-based, expected afterwards
    } steps[] = {
        {"next", [](ReportPreview &v) { v.Action("next")->trigger(); }, 1},
        {"next again", [](ReportPreview &v) { v.Action("next")->trigger(); }, 2},
        {"last", [](ReportPreview &v) { v.Action("last")->trigger(); }, 3},
        {"past the last", [](ReportPreview &v) { v.NextPage(); }, 3},
        {"previous", [](ReportPreview &v) { v.Action("previous")->trigger(); }, 2},
        {"first", [](ReportPreview &v) { v.Action("first")->trigger(); }, 0},
        {"before the first", [](ReportPreview &v) { v.PreviousPage(); }, 0},
        {"page box", [](ReportPreview &v) { v.PageBox()->setValue(3); }, 2},
        {"PgDn", [](ReportPreview &v) { QTest::keyClick(v.View(), Qt::Key_PageDown); }, 3},
        {"PgUp", [](ReportPreview &v) { QTest::keyClick(v.View(), Qt::Key_PageUp); }, 2},
        {"Home", [](ReportPreview &v) { QTest::keyClick(v.View(), Qt::Key_Home); }, 0},
        {"End", [](ReportPreview &v) { QTest::keyClick(v.View(), Qt::Key_End); }, 3},
    };
    p->View()->setFocus();
    for (const Step &s : steps) {
        SCOPED_TRACE(s.what);
        s.act(*p);
        QApplication::processEvents();
        EXPECT_EQ(p->CurrentPage(), s.page);
        EXPECT_EQ(p->View()->pageNavigator()->currentPage(), s.page);  // the page shown
        EXPECT_EQ(p->PageBox()->value(), s.page + 1);
        EXPECT_EQ(p->PageText(), QStringLiteral("Página %1 de 4").arg(s.page + 1));
        EXPECT_EQ(p->Action("next")->isEnabled(), s.page < 3);
        EXPECT_EQ(p->Action("previous")->isEnabled(), s.page > 0);
    }
}

TEST_F(ReportPreviewTest, ZoomStepsFromWhatTheFitShowsAndFitsAgain)
{
    auto p = Open();
    ASSERT_EQ(p->View()->zoomMode(), QPdfView::ZoomMode::FitToWidth);
    const qreal fitted = p->ZoomFactor();
    ASSERT_GT(fitted, 0.1);

    p->Action("zoomIn")->trigger();
    EXPECT_EQ(p->View()->zoomMode(), QPdfView::ZoomMode::Custom);
    const qreal in = p->ZoomFactor();
    EXPECT_GT(in, fitted);

    p->View()->setFocus();
    QTest::keyClick(p->View(), Qt::Key_Minus, Qt::ControlModifier);
    EXPECT_LT(p->ZoomFactor(), in);
    QTest::keyClick(p->View(), Qt::Key_Plus, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(p->ZoomFactor(), in);

    p->Action("fitPage")->trigger();
    EXPECT_EQ(p->View()->zoomMode(), QPdfView::ZoomMode::FitInView);
    EXPECT_TRUE(p->Action("fitPage")->isChecked());
    EXPECT_FALSE(p->Action("fitWidth")->isChecked());
    EXPECT_LT(p->ZoomFactor(), fitted);  // a whole portrait page is narrower than the width

    p->Action("fitWidth")->trigger();
    EXPECT_EQ(p->View()->zoomMode(), QPdfView::ZoomMode::FitToWidth);
    EXPECT_DOUBLE_EQ(p->ZoomFactor(), fitted);

    for (int i = 0; i < 30; ++i)
        p->ZoomOut();
    EXPECT_DOUBLE_EQ(p->View()->zoomFactor(), 0.25);  // the smallest step, not zero
}

TEST_F(ReportPreviewTest, ExportHandsTheChosenFormatAndPathToTheReport)
{
    auto p = Open();
    struct Case {
        const char *format;
        const char *file;
    } cases[] = {{"xlsx", "copia.xlsx"}, {"csv", "copia.csv"}, {"pdf", "copia.pdf"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.format);
        const QString path = dir.filePath(QString::fromLatin1(c.file));
        rec.answer = ExportChoice{QString::fromLatin1(c.format), path};
        rec.exports.clear();
        p->Action("export")->trigger();
        ASSERT_EQ(rec.exports.size(), 1u);
        EXPECT_EQ(rec.exports[0].first, c.format);
        EXPECT_EQ(rec.exports[0].second, path.toStdString());
        EXPECT_TRUE(QFile::exists(path));
        EXPECT_TRUE(p->StatusText().contains(path)) << p->StatusText().toStdString();
    }
    EXPECT_TRUE(rec.errors.empty());
}

TEST_F(ReportPreviewTest, ACancelledExportWritesNothingAndAFailedOneSaysWhy)
{
    auto p = Open();
    rec.answer.reset();
    p->Export();
    EXPECT_TRUE(rec.exports.empty());
    EXPECT_TRUE(rec.errors.empty());

    rec.answer = ExportChoice{QStringLiteral("xlsx"), dir.filePath(QStringLiteral("x.xlsx"))};
    rec.exportFailure = "disco cheio";
    p->Export();
    ASSERT_EQ(rec.errors.size(), 1u);
    EXPECT_TRUE(rec.errors[0].startsWith(QStringLiteral("Não foi possível exportar o relatório para")));
    EXPECT_TRUE(rec.errors[0].endsWith(QStringLiteral("disco cheio"))) << rec.errors[0].toStdString();
    EXPECT_FALSE(p->StatusText().contains(QStringLiteral("exportado")));
}

TEST_F(ReportPreviewTest, AnExportCancelledOnItsProgressIsNotCalledWritten)
{
    auto p = Open();
    rec.answer = ExportChoice{QStringLiteral("xlsx"), dir.filePath(QStringLiteral("x.xlsx"))};
    rec.exportCancelled = true;
    p->Export();
    EXPECT_EQ(p->StatusText(), QStringLiteral("Exportação cancelada; nada foi gravado."));
    EXPECT_TRUE(rec.errors.empty());

    rec.exportCancelled = false;
    p->Export();  // the next export is told as written again
    EXPECT_TRUE(p->StatusText().startsWith(QStringLiteral("Relatório exportado para")));
}

TEST(ExportChoiceTest, TheFileNamesSuffixWinsElseTheFilterAddsOne)
{
    struct Case {
        const char *path, *filter, *format, *result;
    } cases[] = {
        {"/tmp/a.xlsx", "csv", "xlsx", "/tmp/a.xlsx"},
        {"/tmp/a.CSV", "pdf", "csv", "/tmp/a.CSV"},
        {"/tmp/a", "csv", "csv", "/tmp/a.csv"},
        {"/tmp/resumo.2024", "xlsx", "xlsx", "/tmp/resumo.2024.xlsx"},
        {"/tmp/a.txt", "pdf", "pdf", "/tmp/a.txt.pdf"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        const ExportChoice choice = ExportChoiceFor(QString::fromLatin1(c.path), QString::fromLatin1(c.filter));
        EXPECT_EQ(choice.format, QString::fromLatin1(c.format));
        EXPECT_EQ(choice.path, QString::fromLatin1(c.result));
    }
}

TEST_F(ReportPreviewTest, PrintStartsFromThePageShownAndAFailureIsTold)
{
    auto p = Open();
    p->GoToPage(2);
    p->View()->setFocus();
    QTest::keyClick(p->View(), Qt::Key_P, Qt::ControlModifier);
    ASSERT_EQ(rec.printedFromPage, std::vector<int>{2});
    EXPECT_EQ(p->StatusText(), QStringLiteral("Relatório enviado para a impressora."));

    PreviewServices failing = Services();
    bool printer = false;
    failing.print = [&printer](QPdfDocument &, const QString &, QWidget *, int) -> bool {
        if (!printer)
            throw NoPrinterError();
        throw Exception("A impressora 'sala 2' informou um erro; verifique se ela está ligada e tente de novo.");
    };
    ReportPreview q(pdf, QStringLiteral("R"), Exporter(), failing);
    q.Print();
    printer = true;
    q.Print();
    ASSERT_EQ(rec.errors.size(), 2u);
    EXPECT_EQ(rec.errors[0], QStringLiteral("Nenhuma impressora está instalada neste computador. Para imprimi-lo em "
                                            "outro computador, use Exportar… e grave um PDF."));
    EXPECT_EQ(rec.errors[1], QStringLiteral("A impressora 'sala 2' informou um erro; verifique se ela está ligada e "
                                            "tente de novo."));
}

TEST_F(ReportPreviewTest, AFileThatIsNoPdfIsRefusedInWords)
{
    const QString notPdf = dir.filePath(QStringLiteral("texto.pdf"));
    QFile f(notPdf);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("isto não é um PDF");
    f.close();
    struct Case {
        QString path;
        std::string reason;
    } cases[] = {
        {notPdf, "o arquivo não é um PDF válido"},
        {dir.filePath(QStringLiteral("sumiu.pdf")), "o arquivo não existe"},
    };
    for (const Case &c : cases) {
        try {
            ReportPreview p(c.path, QStringLiteral("R"), Exporter(), Services());
            ADD_FAILURE() << "opened " << c.path.toStdString();
        } catch (const Exception &e) {
            EXPECT_EQ(e.Message(), "Não foi possível abrir o relatório '" + c.path.toStdString() + "': " + c.reason + ".");
        }
    }
}

TEST_F(ReportPreviewTest, TheHostShowsItInsideTheMainWindowAndEscClosesIt)
{
    QWidget window;
    auto *area = new QMdiArea(&window);
    window.resize(900, 700);
    area->resize(900, 700);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QtReportUi ui(&window, area);
    ui.SetPreviewServices(Services());
    ui.Preview(pdf.toStdString(), "Resumo de CFOP", Exporter());
    ASSERT_EQ(area->subWindowList().size(), 1);
    QMdiSubWindow *sub = area->subWindowList().first();
    ReportPreview *preview = ui.LastPreview();
    ASSERT_NE(preview, nullptr);
    EXPECT_EQ(sub->widget(), preview);
    EXPECT_EQ(area->activeSubWindow(), sub);

    rec.answer = ExportChoice{QStringLiteral("csv"), dir.filePath(QStringLiteral("depois.csv"))};
    preview->Export();  // the export outlives the call that opened the preview
    EXPECT_EQ(rec.exports.size(), 1u);

    preview->View()->setFocus();
    QTest::keyClick(preview->View(), Qt::Key_Escape);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(area->subWindowList().isEmpty());
    EXPECT_EQ(ui.LastPreview(), nullptr);
}

TEST_F(ReportPreviewTest, FindGoesThroughEveryPageAndHighlightsTheMatch)
{
    auto p = Open();
    QTest::keyClick(p->View(), Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(p->FindBox()->isVisible());
    EXPECT_TRUE(p->FindBox()->hasFocus());
    struct Step {
        const char *what;
        bool forward;
        QString text;
        int page;  // -1: nothing found
    } steps[] = {
        {"a page's own text", true, QStringLiteral("Página 3"), 2},
        {"another text, from the page shown", true, QStringLiteral("Página"), 2},
        {"the next page", true, QStringLiteral("Página"), 3},
        {"round to the first", true, QStringLiteral("Página"), 0},
        {"back round to the last", false, QStringLiteral("Página"), 3},
        {"back again", false, QStringLiteral("Página"), 2},
        {"any case", true, QStringLiteral("página 2"), 1},
        {"nowhere", true, QStringLiteral("5.405"), -1},
    };
    for (const Step &s : steps) {
        SCOPED_TRACE(s.what);
        const bool found = s.forward ? p->FindNext(s.text) : p->FindPrevious(s.text);
        QApplication::processEvents();
        EXPECT_EQ(found, s.page >= 0);
        EXPECT_EQ(p->MatchPage(), s.page);
        if (s.page < 0) {
            EXPECT_TRUE(p->HighlightRects().isEmpty());
            continue;
        }
        EXPECT_EQ(p->CurrentPage(), s.page);
        const QList<QRect> rects = p->HighlightRects();
        ASSERT_EQ(rects.size(), 1);
        // On its page, in sight, near the top left where the text was drawn.
        const QRect page = p->PageRect(s.page);
        EXPECT_TRUE(page.contains(rects[0])) << rects[0].x() << "," << rects[0].y();
        EXPECT_TRUE(p->View()->viewport()->rect().intersects(rects[0]));
        EXPECT_LT(rects[0].left() - page.left(), page.width() / 4);
        EXPECT_LT(rects[0].top() - page.top(), page.height() / 6);
    }
    // Enter in the box is the next match; Esc closes the bar, not the preview.
    p->FindBox()->setText(QStringLiteral("Página 4"));
    QTest::keyClick(p->FindBox(), Qt::Key_Return);
    EXPECT_EQ(p->MatchPage(), 3);
    QTest::keyClick(p->FindBox(), Qt::Key_Escape);
    EXPECT_FALSE(p->FindBox()->isVisible());
    EXPECT_TRUE(p->isVisible());
    EXPECT_TRUE(p->HighlightRects().isEmpty());
}

TEST_F(ReportPreviewTest, ThumbnailsCtrlWheelAndThePageBoxGivingTheFocusBack)
{
    auto p = Open();
    ASSERT_NE(p->Thumbnails(), nullptr);
    EXPECT_EQ(p->Thumbnails()->count(), 4);
    emit p->Thumbnails()->itemClicked(p->Thumbnails()->item(2));
    EXPECT_EQ(p->CurrentPage(), 2);
    p->GoToPage(1);
    QApplication::processEvents();
    EXPECT_EQ(p->Thumbnails()->currentRow(), 1);  // the page shown is marked

    const qreal before = p->ZoomFactor();
    QWheelEvent up(QPointF(50, 50), p->View()->viewport()->mapToGlobal(QPointF(50, 50)), QPoint(), QPoint(0, 120),
                   Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(p->View()->viewport(), &up);
    EXPECT_GT(p->ZoomFactor(), before);

    p->PageBox()->setFocus();
    p->PageBox()->selectAll();
    QTest::keyClicks(p->PageBox(), QStringLiteral("2"));
    QTest::keyClick(p->PageBox(), Qt::Key_Return);
    EXPECT_EQ(p->CurrentPage(), 1);
    EXPECT_TRUE(p->View()->hasFocus());
    QTest::keyClick(p->View(), Qt::Key_Space);  // scrolls; the page number stays
    EXPECT_EQ(p->PageBox()->text(), QStringLiteral("2"));
}

TEST_F(ReportPreviewTest, TheExportStartsFromTheLastOneAndOpensTheFileWhenAsked)
{
    auto p = Open();
    p->SetSubject(QString::fromUtf8("01 – Comercial Exemplo · 01/01/2026 a 31/03/2026"));
    EXPECT_EQ(p->windowTitle(),
              QString::fromUtf8("Visualizar – Resumo de CFOP – 01 – Comercial Exemplo · 01/01/2026 a 31/03/2026"));
    const QString path = dir.filePath(QStringLiteral("fechamento.csv"));
    rec.answer = ExportChoice{QStringLiteral("csv"), path, true};
    p->Export();
    ASSERT_EQ(rec.starts.size(), 1u);
    EXPECT_EQ(rec.starts[0].fileName,
              QString::fromUtf8("Resumo de CFOP - 01 - Comercial Exemplo - 01-01-2026 a 31-03-2026"));
    EXPECT_EQ(rec.opened, std::vector<QString>{path});
    // The next export, in another preview too, starts where this one ended.
    auto q = Open();
    rec.answer.reset();
    q->Export();
    ASSERT_EQ(rec.starts.size(), 2u);
    EXPECT_EQ(rec.starts[1].format, QStringLiteral("csv"));
    EXPECT_EQ(rec.starts[1].folder, dir.path());
    EXPECT_TRUE(rec.starts[1].openAfter);
}

} // namespace
