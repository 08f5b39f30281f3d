// What the desktop does for a day's work: the date edits' periods, the
// Portuguese locale whatever the machine's, the screen's parameters kept and
// put back, and the windows arranged without cutting the screen.
#include "date_periods.h"
#include "desktop_settings.h"
#include "parameter_sets.h"
#include "qt_fixture.h"
#include "qt_reportui.h"
#include "report_pdf_fixture.h"
#include "window_arrangement.h"
#include "vcl/stdctrls.h"

#include <QAction>
#include <QLocale>
#include <QMdiSubWindow>
#include <QMenu>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(DatePeriodsTest, EachPeriodAsSeenOnADay)
{
    struct Case {
        DatePeriod period;
        QDate today, first, last;
    } cases[] = {
        {DatePeriod::Today, {2026, 3, 15}, {2026, 3, 15}, {2026, 3, 15}},
        {DatePeriod::PreviousMonth, {2026, 3, 15}, {2026, 2, 1}, {2026, 2, 28}},
        {DatePeriod::PreviousMonth, {2024, 3, 31}, {2024, 2, 1}, {2024, 2, 29}},  // leap year
        {DatePeriod::PreviousMonth, {2026, 1, 10}, {2025, 12, 1}, {2025, 12, 31}},  // across the year
        {DatePeriod::CurrentMonth, {2026, 4, 30}, {2026, 4, 1}, {2026, 4, 30}},
        {DatePeriod::PreviousQuarter, {2026, 2, 1}, {2025, 10, 1}, {2025, 12, 31}},
        {DatePeriod::PreviousQuarter, {2026, 8, 20}, {2026, 4, 1}, {2026, 6, 30}},
        {DatePeriod::CurrentQuarter, {2026, 12, 31}, {2026, 10, 1}, {2026, 12, 31}},
        {DatePeriod::PreviousYear, {2026, 1, 1}, {2025, 1, 1}, {2025, 12, 31}},
        {DatePeriod::CurrentYear, {2026, 6, 6}, {2026, 1, 1}, {2026, 12, 31}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(PeriodName(c.period).toStdString() + " em " + c.today.toString(Qt::ISODate).toStdString());
        const DateRange r = PeriodOn(c.period, c.today);
        EXPECT_EQ(r.first, c.first);
        EXPECT_EQ(r.last, c.last);
    }
}

// The test program starts as fishost-qt does, on a machine whose locale is C.
TEST(PortugueseLocaleTest, DatesMonthsAndQtsOwnTextsArePortuguese)
{
    EXPECT_EQ(QLocale().name(), QStringLiteral("pt_BR"));
    EXPECT_EQ(QLocale::system().name(), QStringLiteral("pt_BR"));
    EXPECT_EQ(QLocale::system().toString(QDate(2026, 12, 8), QStringLiteral("d MMM")), QStringLiteral("8 dez."));
    EXPECT_EQ(QLocale::system().toString(QDate(2026, 12, 8), QLocale::ShortFormat), QStringLiteral("08/12/2026"));
    // Numbers in files and statements keep their point.
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%.2f", 1.5);
    EXPECT_STREQ(buffer, "1.50");
}

class ScreenMemoryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        desktop = std::make_unique<DesktopHost>(HostConfig(), 1280, 800);
        ws = desktop->Widgets();
        screen = desktop->OpenScreen();
        ASSERT_NE(screen, nullptr);
    }
    void TearDown() override { desktop.reset(); }
    template <class T = TWinControl>
    T *Control(const std::string &name)
    {
        return dynamic_cast<T *>(screen->FindComponent(name));
    }
    void Pick(const std::string &report)
    {
        auto *box = Control<TComboBox>("cbbReportNames");
        const auto &items = box->Items();
        const int index = static_cast<int>(std::find(items.begin(), items.end(), report) - items.begin());
        ASSERT_LT(index, static_cast<int>(items.size()));
        ws->Run([box, index] { box->PickItem(index); });
    }
    QMenu *ScreenMenu()
    {
        auto *sub = qobject_cast<QMdiSubWindow *>(desktop->Area()->subWindowList().front());
        return sub ? sub->systemMenu() : nullptr;
    }
    QAction *Entry(QMenu *menu, const QString &text)
    {
        emit menu->aboutToShow();
        for (QAction *a : menu->actions())
            if (a->text() == text)
                return a;
        return nullptr;
    }

    std::unique_ptr<DesktopHost> desktop;
    ScriptedQtWidgetSet *ws = nullptr;
    TCustomForm *screen = nullptr;
};

TEST_F(ScreenMemoryTest, ThePeriodMenuFillsBothDates)
{
    QMenu *menu = QtWidgetSet::PeriodMenuOf(*Control<TControl>("depDtFinal"));
    ASSERT_NE(menu, nullptr);
    QStringList names;
    for (QAction *a : menu->actions())
        if (!a->isSeparator())
            names << a->text();
    EXPECT_EQ(names, QStringList({"Hoje", "Mês anterior", "Este mês", "Trimestre anterior", "Este trimestre",
                                  "Ano anterior", "Este ano"}));
    for (QAction *a : menu->actions())
        if (a->text() == QStringLiteral("Trimestre anterior"))
            a->trigger();
    Settle();
    const DateRange r = PeriodOn(DatePeriod::PreviousQuarter, QDate::currentDate());
    EXPECT_EQ(Control<TCustomEdit>("depDtInicial")->Text(), r.first.toString("dd/MM/yyyy").toStdString());
    EXPECT_EQ(Control<TCustomEdit>("depDtFinal")->Text(), r.last.toString("dd/MM/yyyy").toStdString());
    // The person is on the edit the menu was opened on, ready to retype it.
    EXPECT_EQ(screen->ActiveControl(), Control("depDtFinal"));
    EXPECT_EQ(Control<TCustomEdit>("depDtFinal")->SelLength(), 10);
}

TEST_F(ScreenMemoryTest, ParametersAreKeptUnderANameAndPutBack)
{
    Pick("Relação de Notas Fiscais");
    ws->Run([this] {
        Control<TCustomEdit>("medCdEmpresa")->SetText("01");
        Control<TCustomEdit>("depDtInicial")->SetText("01/01/2026");
        Control<TCustomEdit>("depDtFinal")->SetText("31/01/2026");
        Control<TCustomEdit>("medCFOp")->SetText("5102");
    });
    const FieldValues kept = CaptureFields(*screen);
    DesktopSettings().SaveParameterSet(QString::fromStdString(screen->Name()), QStringLiteral("Janeiro / vendas"), kept);
    DesktopSettings().RememberRun(QString::fromStdString(screen->Name()), kept);

    // Another report and other values; then the named set comes back.
    Pick("Resumo não Oficial de CFOp");
    ws->Run([this] {
        Control<TCustomEdit>("depDtInicial")->SetText("01/06/2026");
        Control<TCustomEdit>("medCFOp")->SetText("");
    });
    QMenu *menu = ScreenMenu();
    ASSERT_NE(menu, nullptr);
    QAction *saved = Entry(menu, QStringLiteral("Parâmetros salvos"));
    ASSERT_NE(saved, nullptr);
    ASSERT_TRUE(saved->isEnabled());
    ASSERT_EQ(saved->menu()->actions().size(), 1);
    EXPECT_EQ(saved->menu()->actions().front()->text(), QStringLiteral("Janeiro / vendas"));
    saved->menu()->actions().front()->trigger();
    Settle();
    EXPECT_EQ(Control<TComboBox>("cbbReportNames")->Text(), "Relação de Notas Fiscais");
    EXPECT_EQ(Control<TCustomEdit>("depDtInicial")->Text(), "01/01/2026");
    EXPECT_EQ(Control<TCustomEdit>("medCFOp")->Text(), "5102");
    EXPECT_EQ(CaptureFields(*screen), kept);

    // "Repetir última execução" does the same from the last run.
    ws->Run([this] { Control<TCustomEdit>("depDtFinal")->SetText("28/02/2026"); });
    QAction *repeat = Entry(menu, QStringLiteral("Repetir última execução"));
    ASSERT_NE(repeat, nullptr);
    ASSERT_TRUE(repeat->isEnabled());
    repeat->trigger();
    Settle();
    EXPECT_EQ(Control<TCustomEdit>("depDtFinal")->Text(), "31/01/2026");
    DesktopSettings().RemoveParameterSet(QString::fromStdString(screen->Name()), QStringLiteral("Janeiro / vendas"));
    EXPECT_TRUE(DesktopSettings().ParameterSetNames(QString::fromStdString(screen->Name())).isEmpty());
}

// The screen opens fresh whatever was kept.
TEST_F(ScreenMemoryTest, TheScreenItselfOpensFresh)
{
    DesktopSettings().RememberRun(QString::fromStdString(screen->Name()), {{"medCFOp", "5102"}});
    EXPECT_EQ(Control<TCustomEdit>("medCFOp")->Text(), "");
}

TEST(DesktopSettingsTest, TheLastExportIsRememberedAndANameKeepsToTheFolder)
{
    DesktopSettings settings;
    settings.RememberExport(QStringLiteral("csv"), QStringLiteral("/tmp/fechamento"), true);
    DesktopSettings again;
    EXPECT_EQ(again.ExportFormat(), QStringLiteral("csv"));
    EXPECT_EQ(again.ExportFolder(), QStringLiteral("/tmp/fechamento"));
    EXPECT_TRUE(again.OpenAfterExport());
    again.RememberExport(QStringLiteral("exe"), {}, false);
    EXPECT_EQ(DesktopSettings().ExportFormat(), QStringLiteral("xlsx"));  // nothing we do not write
    settings.RememberImportFolder(QStringLiteral("/srv/notas"));
    EXPECT_EQ(DesktopSettings().ImportFolder(), QStringLiteral("/srv/notas"));
}

TEST(ExportFileNameTest, ReportCompanyAndPeriodInAName)
{
    struct Case {
        const char *title, *subject, *name;
    } cases[] = {
        {"Resumo de CFOP", "01 – Comercial Exemplo · 01/01/2026 a 31/03/2026",
         "Resumo de CFOP - 01 - Comercial Exemplo - 01-01-2026 a 31-03-2026"},
        {"Resumo não Oficial de CFOp com Produtos(Analítico)", "", "Resumo não Oficial de CFOp com Produtos(Analítico)"},
        {"  ", "", "relatorio"},
        {"A/B", "x:y", "A-B - x-y"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ExportFileName(QString::fromUtf8(c.title), QString::fromUtf8(c.subject)), QString::fromUtf8(c.name));
}

// A fixed screen tiled beside previews scrolls in its smaller tile, and
// cascaded keeps its own size; previews of the same pages get a number.
TEST(FixedScreenWindowTest, ScrollsWhenTiledAndKeepsItsSizeCascaded)
{
    QTemporaryDir dir;
    const QString pdf = WriteTestPdf(dir, QStringLiteral("r.pdf"), 2);
    DesktopWindow d = OpenDesktopWindow(1280, 800);
    auto *screen = new QWidget;
    screen->setFixedSize(620, 470);
    QMdiSubWindow *sub = AddFixedSubWindow(*d.area, screen);
    sub->show();
    const QSize natural = sub->size();
    QtReportUi ui(d.window.get(), d.area);
    for (int i = 0; i < 3; ++i)
        ui.PreviewOf(pdf.toStdString(), "Resumo", "01 – Exemplo · 01/2026", {});
    Settle();

    TileWindows(*d.area);
    Settle();
    auto *scroller = qobject_cast<QScrollArea *>(sub->widget());
    ASSERT_NE(scroller, nullptr);
    EXPECT_LT(sub->height(), natural.height());
    EXPECT_TRUE(scroller->verticalScrollBar()->isVisible());
    EXPECT_GE(scroller->verticalScrollBar()->maximum(), natural.height() - sub->height() - 40);
    EXPECT_EQ(screen->size(), QSize(620, 470));

    CascadeWindows(*d.area);
    Settle();
    EXPECT_EQ(sub->size(), natural);

    QStringList titles;
    for (QMdiSubWindow *w : d.area->subWindowList(QMdiArea::CreationOrder))
        if (w != sub)
            titles << w->widget()->windowTitle();
    EXPECT_EQ(titles, QStringList({QStringLiteral("Visualizar – Resumo – 01 – Exemplo · 01/2026"),
                                   QStringLiteral("Visualizar – Resumo – 01 – Exemplo · 01/2026 (2)"),
                                   QStringLiteral("Visualizar – Resumo – 01 – Exemplo · 01/2026 (3)")}));
}

} // namespace
