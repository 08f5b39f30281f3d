// The whole way from the screen's buttons to the report windows: the real
// screen, the report engine on the demo database, and the desktop's preview,
// print dialog, progress and layout editor.
#include "hostpkg.h"
#include "hostsetup.h"
#include "layout_editor.h"
#include "print_support.h"
#include "report/qrddlgs.h"
#include "qt_fixture.h"
#include "qt_reportui.h"
#include "report_pdf_fixture.h"
#include "report_preview.h"
#include "vcl/headless.h"
#include "vcl/stdctrls.h"

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPdfView>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <future>

namespace {

// The first summary's title (the screen's catalogue knows it), over rows the
// demo database can give: every product a hundred times, so the report has
// many pages and the run reports progress.
const char *const Definition = R"json({
  "code": "FIS028",
  "title": "Resumo não Oficial de CFOp",
  "query": {"sql": [
    "WITH RECURSIVE N(I) AS (SELECT 1 UNION ALL SELECT I + 1 FROM N WHERE I < 100)",
    "SELECT P.CDPRODUTO, P.NMPRODUTO, N.I AS NRLOTE, N.I * 12.5 AS VLTOTAL",
    "  FROM PRODUTO P, N",
    " WHERE :P_CDEMPRESA IS NOT NULL",
    " ORDER BY P.CDPRODUTO, N.I"]},
  "layout": {
    "parameters": [{"label": "Empresa", "param": "P_CDEMPRESA",
                    "lookup": "SELECT NMEMPRESA FROM EMPRESA WHERE CDEMPRESA = :P_CDEMPRESA", "header": true}],
    "groups": [{"field": "CDPRODUTO", "header": "{CDPRODUTO} {NMPRODUTO}", "footer": "Total do produto"}],
    "columns": [
      {"caption": "Produto", "field": "CDPRODUTO", "width": 60},
      {"caption": "Descrição", "field": "NMPRODUTO", "width": 200},
      {"caption": "Lote", "field": "NRLOTE", "width": 40, "align": "right", "format": "integer"},
      {"caption": "Valor", "field": "VLTOTAL", "width": 80, "align": "right", "format": "money", "total": "sum"}
    ]
  }
})json";

// The same report over a statement that counts for a while before its first row.
const char *const SlowDefinition = R"json({
  "code": "FIS028",
  "title": "Resumo não Oficial de CFOp",
  "query": {"sql": [
    "WITH RECURSIVE N(I) AS (SELECT 1 UNION ALL SELECT I + 1 FROM N WHERE I < 6000000)",
    "SELECT P.CDPRODUTO, P.NMPRODUTO, (SELECT COUNT(*) FROM N) AS NRLOTE, 1 AS VLTOTAL",
    "  FROM PRODUTO P",
    " WHERE :P_CDEMPRESA IS NOT NULL"]},
  "layout": {
    "columns": [
      {"caption": "Produto", "field": "CDPRODUTO", "width": 60},
      {"caption": "Lote", "field": "NRLOTE", "width": 40, "align": "right", "format": "integer"}
    ]
  }
})json";

// The desktop's report front end, able to hold a run back until the person's
// cancel has reached it: a report the machine could finish before the
// progress even shows then still meets the cancel, however busy the machine.
class HeldReportUi : public QtReportUi {
public:
    using QtReportUi::QtReportUi;
    bool holdUntilCancelled = false;
    void RunLong(const std::string &title, const std::function<void(ReportProgress &)> &work,
                 const std::function<void()> &interrupt) override
    {
        if (!holdUntilCancelled)
            return QtReportUi::RunLong(title, work, interrupt);
        // The interrupt comes once the cancel is known to the run, before the
        // writing could see anything else.
        std::promise<void> cancelled;
        std::future<void> known = cancelled.get_future();
        bool told = false;
        QtReportUi::RunLong(
            title,
            [&](ReportProgress &progress) {
                known.wait_for(std::chrono::seconds(60));
                work(progress);
            },
            [&] {
                if (interrupt)
                    interrupt();
                if (!told)
                    cancelled.set_value();
                told = true;
            });
        if (!told)
            cancelled.set_value();
    }
};

class ReportFlowQtTest : public ::testing::Test {
protected:
    explicit ReportFlowQtTest(const char *definition = Definition) : definition_(definition) {}
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir().mkpath(Path("reports/FIS028")));
        std::ofstream(Path("reports/FIS028/010-resumo.json").toStdString()) << definition_;

        HostConfig config;
        config.reportsDir = Path("reports").toStdString();
        config.savedReportsDir = Path("saved").toStdString();
        config.reportOutputDir = Path("out").toStdString();
        config.printCommand.clear();
        host = std::make_unique<DesktopHost>(config, 1000, 720);
        area = host->Area();
        ws = host->Widgets();
        auto desktop = std::make_unique<HeldReportUi>(host->Window(), area);
        ui = desktop.get();
        PreviewServices services;
        services.chooseExport = [this](QWidget *, const ExportStart &) { return exportChoice; };
        services.print = [this](QPdfDocument &doc, const QString &, QWidget *, int) {
            printedPages = doc.pageCount();
            return true;
        };
        services.showError = [this](QWidget *, const QString &text) { errors.push_back(text); };
        ui->SetPreviewServices(services);
        SetReportUserInterface(std::move(desktop));

        screen = host->OpenScreen();
        ASSERT_NE(screen, nullptr);
        Type("medCdImposto", "01");
        Type("medCdEmpresa", "01");
        Type("depDtInicial", "01012026");
        Type("depDtFinal", "31012026");
    }
    void TearDown() override
    {
        SetReportUserInterface(nullptr);
        host.reset();
    }

    QString Path(const char *relative) const { return dir.filePath(QString::fromLatin1(relative)); }
    template <class T = TWinControl>
    T *Control(const char *name)
    {
        auto *c = dynamic_cast<T *>(screen->FindComponent(name));
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
    // As a person types: into the field's widget, key by key.
    void Type(const char *field, const char *keys)
    {
        auto *edit = Control<TWinControl>(field);
        ws->Run([edit] { edit->SetFocus(); });
        Settle();
        QTest::keyClicks(WidgetFor(*edit), QString::fromLatin1(keys));
        Settle();
    }
    void Click(const char *button)
    {
        QTest::mouseClick(WidgetFor(*Control<TControl>(button)), Qt::LeftButton);
        Settle();
    }
    QStringList Files(const char *folder) const
    {
        return QDir(Path(folder)).entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    }
    QStringList Messages() const
    {
        QStringList out;
        for (const std::string &m : ws->messages)
            out << QString::fromStdString(m);
        return out;
    }

    QTemporaryDir dir;
    std::unique_ptr<DesktopHost> host;
    QMdiArea *area = nullptr;
    ScriptedQtWidgetSet *ws = nullptr;
    HeldReportUi *ui = nullptr;
    TCustomForm *screen = nullptr;
    std::optional<ExportChoice> exportChoice;
    std::vector<QString> errors;
    int printedPages = -1;
    const char *definition_;
};

class SlowReportFlowQtTest : public ReportFlowQtTest {
protected:
    SlowReportFlowQtTest() : ReportFlowQtTest(SlowDefinition) {}
};

TEST_F(ReportFlowQtTest, PreviewOpensInTheMainWindowPagesNavigateAndExportsWrite)
{
    Click("sbtPreview");
    ASSERT_TRUE(Messages().isEmpty()) << Messages().join('\n').toStdString();
    ReportPreview *preview = ui->LastPreview();
    ASSERT_NE(preview, nullptr);
    EXPECT_EQ(area->activeSubWindow()->widget(), preview);
    // The title names the company and the period too: three previews of
    // one report tell themselves apart.
    EXPECT_TRUE(preview->windowTitle().startsWith(QStringLiteral("Visualizar – Resumo não Oficial de CFOp – ")))
        << preview->windowTitle().toStdString();
    EXPECT_TRUE(preview->windowTitle().contains(QStringLiteral("Comercial Andorinha"))) << preview->windowTitle().toStdString();
    ASSERT_GT(preview->PageCount(), 10);
    preview->Action("last")->trigger();
    EXPECT_EQ(preview->CurrentPage(), preview->PageCount() - 1);
    preview->Action("first")->trigger();
    EXPECT_EQ(preview->CurrentPage(), 0);

    struct Case {
        const char *format, *file;
        QByteArray starts;  // what the written file begins with
    } cases[] = {{"csv", "copia.csv", "Produto"}, {"xlsx", "copia.xlsx", "PK"}, {"pdf", "copia.pdf", "%PDF"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.format);
        exportChoice = ExportChoice{QString::fromLatin1(c.format), Path(c.file)};
        preview->Export();
        EXPECT_TRUE(errors.empty()) << (errors.empty() ? "" : errors.back().toStdString());
        QFile written(Path(c.file));
        ASSERT_TRUE(written.open(QIODevice::ReadOnly));
        EXPECT_TRUE(written.read(64).contains(c.starts));
        EXPECT_TRUE(preview->StatusText().startsWith(QStringLiteral("Relatório exportado para")));
    }
    EXPECT_EQ(PdfPageCount(Path("copia.pdf")), preview->PageCount());

    preview->Print();
    EXPECT_EQ(printedPages, preview->PageCount());
}

TEST_F(ReportFlowQtTest, PrintHandsThePagesToThePrintDialogAndWithoutAPrinterSaysSo)
{
    Click("sbtPrint");
    EXPECT_TRUE(Messages().isEmpty()) << Messages().join('\n').toStdString();
    EXPECT_GT(printedPages, 10);  // the report's pages, not a preview
    EXPECT_EQ(ui->LastPreview(), nullptr);

    if (HasPrinter())
        GTEST_SKIP() << "this machine has a printer: the dialog would wait for a person";
    ui->SetPreviewServices(PreviewServices::Desktop());
    const long runs = TReportDesignerDialog::TotalRunCount();
    const QStringList before = Files("out");
    Click("sbtPrint");
    ASSERT_EQ(Messages().size(), 1);
    EXPECT_EQ(Messages()[0], QStringLiteral("Nenhuma impressora está instalada neste computador. Use Visualizar para "
                                            "ver o relatório na tela ou exportá-lo."));
    // Said before the report was generated.
    EXPECT_EQ(TReportDesignerDialog::TotalRunCount(), runs);
    EXPECT_EQ(Files("out"), before);
}

// Whatever the export ends in, the pages stay in front with the focus.
TEST_F(ReportFlowQtTest, AfterAnExportThePreviewKeepsTheFrontAndTheFocus)
{
    Click("sbtPreview");
    ReportPreview *preview = ui->LastPreview();
    ASSERT_NE(preview, nullptr);
    Settle();
    struct Case {
        const char *what;
        std::optional<ExportChoice> choice;
    } cases[] = {
        {"saved", ExportChoice{QStringLiteral("csv"), Path("copia.csv")}},
        {"cancelled in the file dialog", std::nullopt},
        {"failed", ExportChoice{QStringLiteral("csv"), Path("nao/existe/copia.csv")}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        // The dialogs give the focus back to the main window, as they do on the desktop.
        exportChoice = c.choice;
        WidgetFor(*Control("medCdEmpresa"))->setFocus();
        preview->Action("export")->trigger();
        Settle();
        EXPECT_EQ(area->activeSubWindow()->widget(), preview);
        EXPECT_TRUE(preview->isAncestorOf(QApplication::focusWidget()));
    }
}

TEST_F(SlowReportFlowQtTest, TheProgressShowsWhileTheStatementRunsAndACancelLeavesNothing)
{
    QElapsedTimer clock;
    qint64 shownAt = -1;
    QString label;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (auto *progress = qobject_cast<QProgressDialog *>(QApplication::activeModalWidget()); progress && shownAt < 0) {
            shownAt = clock.elapsed();
            label = progress->labelText();
            progress->cancel();
        }
    });
    watch.start(20);
    clock.start();
    Click("sbtPreview");
    watch.stop();
    EXPECT_GE(shownAt, 0) << "no progress while the statement ran";
    EXPECT_LT(shownAt, 1000);
    EXPECT_TRUE(label.endsWith(QStringLiteral("0 linhas lidas"))) << label.toStdString();
    EXPECT_EQ(ui->LastPreview(), nullptr);
    EXPECT_TRUE(Messages().isEmpty()) << Messages().join('\n').toStdString();
    EXPECT_TRUE(Files("out").filter(QStringLiteral(".pdf")).isEmpty()) << Files("out").join(' ').toStdString();
}

TEST_F(ReportFlowQtTest, ACancelledRunShowsNothingAndLeavesNoFile)
{
    ui->SetProgressDelay(0);
    ui->holdUntilCancelled = true;
    bool sawProgress = false;
    // The progress is modal; the person cancels it once it shows.
    QTimer cancel;
    QObject::connect(&cancel, &QTimer::timeout, [&] {
        if (auto *progress = qobject_cast<QProgressDialog *>(QApplication::activeModalWidget())) {
            sawProgress = true;
            progress->cancel();
        }
    });
    cancel.start(0);
    Click("sbtPreview");
    cancel.stop();
    EXPECT_TRUE(sawProgress);
    EXPECT_EQ(ui->LastPreview(), nullptr);
    EXPECT_TRUE(Messages().isEmpty()) << Messages().join('\n').toStdString();
    EXPECT_TRUE(Files("out").filter(QStringLiteral(".pdf")).isEmpty()) << Files("out").join(' ').toStdString();
}

// Answers the layout editor the screen opens modally.
void WhenTheEditorOpens(const std::function<void(LayoutEditor &)> &answer)
{
    QTimer::singleShot(0, [answer] {
        auto *editor = dynamic_cast<LayoutEditor *>(QApplication::activeModalWidget());
        ASSERT_NE(editor, nullptr);
        answer(*editor);
    });
}

TEST_F(ReportFlowQtTest, TheEditorEditsAndSavesAndACancelOrARefusalWritesNothing)
{
    // Cancel: nothing written.
    WhenTheEditorOpens([](LayoutEditor &e) {
        e.LandscapeButton()->click();
        e.SetQuestionSink([](const QString &) { return true; });
        e.reject();
    });
    Click("sbtReportEdit");
    EXPECT_TRUE(Messages().isEmpty()) << Messages().join('\n').toStdString();
    EXPECT_TRUE(Files("saved/FIS028").isEmpty());

    // A layout that cannot be used: refused, and nothing written.
    std::vector<QString> refusals;
    WhenTheEditorOpens([&refusals](LayoutEditor &e) {
        e.SetErrorSink([&refusals](const QString &text) { refusals.push_back(text); });
        for (int row = 0; row < e.ColumnTable()->rowCount(); ++row)
            e.ColumnTable()->item(row, LayoutEditor::ColShow)->setCheckState(Qt::Unchecked);
        e.accept();
        e.SetQuestionSink([](const QString &) { return true; });
        e.reject();
    });
    Click("sbtReportEdit");
    EXPECT_EQ(refusals.size(), 1u);
    EXPECT_TRUE(Files("saved/FIS028").isEmpty());

    // Edited: the first page shows the edit on request, and OK saves the person's copy.
    QSizeF firstPage;
    QString firstPageStatus;
    WhenTheEditorOpens([&](LayoutEditor &e) {
        e.ColumnTable()->item(1, LayoutEditor::ColCaption)->setText(QStringLiteral("Nome do produto"));
        e.LandscapeButton()->click();
        e.Button("refresh")->click();
        firstPageStatus = e.PreviewStatus();
        if (e.PreviewDocument()->pageCount() == 1)
            firstPage = e.PreviewDocument()->pagePointSize(0);
        e.accept();
    });
    Click("sbtReportEdit");
    EXPECT_TRUE(Messages().isEmpty()) << Messages().join('\n').toStdString();
    EXPECT_GT(firstPage.width(), firstPage.height()) << firstPageStatus.toStdString();
    const QStringList saved = Files("saved/FIS028");
    ASSERT_EQ(saved.size(), 1) << saved.join(' ').toStdString();
    QFile file(Path("saved/FIS028") + QLatin1Char('/') + saved[0]);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray json = file.readAll();
    EXPECT_TRUE(json.contains("Nome do produto"));
    EXPECT_TRUE(json.contains("landscape"));
    EXPECT_FALSE(json.contains("\"Descrição\""));

    // The next preview uses the saved layout.
    Click("sbtPreview");
    ASSERT_NE(ui->LastPreview(), nullptr);
    const QSizeF page = ui->LastPreview()->View()->document()->pagePointSize(0);
    EXPECT_GT(page.width(), page.height());

    // The edited report offers its delivered layout back; taken, the copy goes.
    bool offered = false;
    WhenTheEditorOpens([&offered](LayoutEditor &e) {
        offered = e.Button("restore") != nullptr;
        if (offered)
            e.Button("restore")->click();
        e.accept();
    });
    Click("sbtReportEdit");
    EXPECT_TRUE(offered);
    EXPECT_TRUE(Messages().isEmpty()) << Messages().join('\n').toStdString();
    EXPECT_TRUE(Files("saved/FIS028").isEmpty()) << Files("saved/FIS028").join(' ').toStdString();
    Click("sbtPreview");
    ASSERT_NE(ui->LastPreview(), nullptr);
    const QSizeF delivered = ui->LastPreview()->View()->document()->pagePointSize(0);
    EXPECT_LT(delivered.width(), delivered.height());
}

} // namespace
