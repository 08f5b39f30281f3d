// Opening, bringing to the front, closing, the globals and the load counters.
#include "screen_fixture.h"

#include "data/sqlquery.h"
#include "rtl/streaming.h"

namespace {

TEST_F(ScreenTest, TwoCallsMakeOneScreen)
{
    TfrmResumoOficialCfop &first = Open();
    TfrmResumoOficialCfop &second = Open();
    EXPECT_EQ(&first, &second);
    EXPECT_EQ(ScreenCount(), 1);
    EXPECT_EQ(Application->ActiveChild(), &first);
    EXPECT_EQ(Screen->Cursor(), crDefault);
}

TEST_F(ScreenTest, ASecondCallRestoresAMinimisedScreen)
{
    TfrmResumoOficialCfop &screen = Open();
    screen.SetWindowState(wsMinimized);
    Open();
    EXPECT_EQ(screen.WindowState(), wsNormal);
}

TEST_F(ScreenTest, CreationSelectsEntradaAndTheFirstReportWithoutChangeEvents)
{
    TfrmResumoOficialCfop &screen = Open();
    EXPECT_EQ(screen.cbbEntrSaid->Text(), "Entrada");
    EXPECT_EQ(screen.cbbReportNames->ItemIndex(), 0);
    EXPECT_EQ(screen.cbbReportNames->Text(), "Resumo não Oficial de CFOp");
    EXPECT_EQ(screen.cbbReportNames->Items().size(), 8u);
    EXPECT_TRUE(ws->messages.empty());
}

TEST_F(ScreenTest, ActivationFocusesTheTaxAndSetsTheProductMasks)
{
    TfrmResumoOficialCfop &screen = Open();
    EXPECT_EQ(screen.ActiveControl(), screen.medCdImposto);
    const std::string picture = "99.99.9999;1;_";
    EXPECT_EQ(screen.medProdInic->EditMask(), picture);
    EXPECT_EQ(screen.medProdFina->EditMask(), picture);
    EXPECT_EQ(screen.qryProdutoCDARVPROD->EditMask, picture);
    const int refreshes = screen.RefreshCount();

    // Switching to another child window and back activates it again.
    screen.medCdEmpresa->SetFocus();
    TForm *other = nullptr;
    Application->CreateForm(other);
    other->Show();
    EXPECT_FALSE(screen.Active());
    Open();
    EXPECT_TRUE(screen.Active());
    EXPECT_EQ(screen.ActiveControl(), screen.medCdImposto);
    EXPECT_EQ(screen.RefreshCount(), refreshes + 1);
}

TEST_F(ScreenTest, CloseThenOpenGivesAFreshScreen)
{
    TfrmResumoOficialCfop &first = Open();
    first.medCdEmpresa->SetText("01");
    first.cbbEntrSaid->SetItemIndex(2);
    first.cbbReportNames->SetItemIndex(3);
    Application->RunUserAction([&first] { first.Close(); });
    EXPECT_FALSE(boStCriado);
    EXPECT_EQ(ScreenCount(), 0);

    TfrmResumoOficialCfop &second = Open();
    EXPECT_EQ(ScreenCount(), 1);
    EXPECT_EQ(second.medCdEmpresa->Text(), "");
    EXPECT_EQ(second.cbbEntrSaid->Text(), "Entrada");
    EXPECT_EQ(second.cbbReportNames->ItemIndex(), 0);
}

TEST_F(ScreenTest, TheGlobalsOutliveTheScreen)
{
    TfrmResumoOficialCfop &first = Open();
    stListaMod = "01,55";
    stProdIni = "3";
    Application->RunUserAction([&first] { first.Close(); });
    EXPECT_EQ(stListaMod, "01,55");
    TfrmResumoOficialCfop &second = Open();
    EXPECT_TRUE(second.rdbTodosMod->Checked());
    EXPECT_EQ(stListaMod, "01,55");
    EXPECT_EQ(stProdIni, "3");
}

TEST_F(ScreenTest, ClosingReleasesTheScreenAfterItsOwnHandler)
{
    TfrmResumoOficialCfop &screen = Open();
    bool stillThere = false;
    Application->RunUserAction([&] {
        screen.Close();
        stillThere = ScreenCount() == 0 && Application->PendingMessages() > 0;
    });
    EXPECT_TRUE(stillThere) << "the screen must outlive its own close handler";
    EXPECT_EQ(ScreenCount(), 0);
}

TEST_F(ScreenTest, TheConnectionAsksForTheAddressAtEveryConnection)
{
    TfrmResumoOficialCfop &screen = Open();
    EXPECT_EQ(screen.netResumoOficialCfop->Host, "127.0.0.1");
    EXPECT_EQ(screen.netResumoOficialCfop->Port, HostSettings().serverPort);
    EXPECT_FALSE(screen.netResumoOficialCfop->Connected());  // nothing listens: no error either
    EXPECT_TRUE(ws->messages.empty());
    MutableHostSettings().serverPort = 1;
    screen.netResumoOficialCfop->SetConnected(true);
    EXPECT_EQ(screen.netResumoOficialCfop->Port, 1);
}

TEST_F(ScreenTest, ActionsRunTheSelectedReport)
{
    TfrmResumoOficialCfop &screen = Open();
    screen.medCdImposto->SetText("01");
    screen.medCdEmpresa->SetText("01");
    screen.depDtInicial->SetText("01/01/2026");
    screen.depDtFinal->SetText("31/01/2026");
    struct Action {
        TSpeedButton *button;
        ReportAction action;
    };
    const Action actions[] = {{screen.sbtPrint, ReportAction::Print},
                              {screen.sbtPreview, ReportAction::Preview},
                              {screen.sbtReportEdit, ReportAction::EditLayout}};
    for (const auto &a : actions) {
        screen.medCdEmpresa->SetFocus();
        Application->RunUserAction([&a] { a.button->Click(); });
        ASSERT_TRUE(screen.rpddPadrao->LastRun());
        EXPECT_EQ(screen.rpddPadrao->LastRun()->action, a.action);
        EXPECT_EQ(screen.rpddPadrao->LastRun()->title, "Resumo não Oficial de CFOp");
        EXPECT_EQ(screen.ActiveControl(), screen.medCdEmpresa) << "a tool button took the focus";
    }
    const int runs = screen.rpddPadrao->RunCount();
    ws->promptAnswers.push_back(std::nullopt);  // the title prompt is cancelled
    Application->RunUserAction([&screen] { screen.sbtSalvarComo->Click(); });
    EXPECT_EQ(screen.rpddPadrao->RunCount(), runs);
}

TEST_F(ScreenTest, AFailedCreationRestoresTheCursorAndCanBeRetried)
{
    // A component class that cannot be built makes the form's creation fail.
    ClassRegistry::Register("TBtnPesquisa", [](TComponent *) -> TComponent * {
        throw EComponentError("sem recursos");
    });
    Application->RunUserAction([] { IniProc(); });
    EXPECT_FALSE(boStCriado);
    EXPECT_EQ(frmResumoOficialCfop, nullptr);
    EXPECT_EQ(Screen->Cursor(), crDefault);
    ASSERT_EQ(ws->messages.size(), 1u);
    EXPECT_EQ(ws->messages.front().text, "sem recursos");
    EXPECT_EQ(ScreenCount(), 0);

    RegisterComponentClass<TBtnPesquisa>("TBtnPesquisa");
    Open();
    EXPECT_EQ(ScreenCount(), 1);
}

TEST_F(ScreenTest, UnitBodiesRunOnceWhateverTheLoadCount)
{
    // SetUp initialised once; a second load only counts.
    Initialize();
    boStCriado = true;
    stListaTp = "E01";
    Finalize();
    EXPECT_EQ(stListaTp, "E01") << "the package is still loaded once";
    EXPECT_TRUE(boStCriado);
    Finalize();
    EXPECT_EQ(stListaTp, "");
    EXPECT_EQ(Pkg_Fis02800_LoadCount(), 0);
    Initialize();  // as loaded again: the body resets the flag
    EXPECT_FALSE(boStCriado);
}

TEST_F(ScreenTest, OpeningMakesNoDatabaseStatement)
{
    StatementCounter::Reset();
    Open();
    EXPECT_EQ(StatementCounter::Count(), 0);
}

} // namespace

namespace {

TEST_F(ScreenTest, TheBusyIndicatorGoesAwayWhenLoadingTheProductsFails)
{
    TfrmResumoOficialCfop &screen = Open();
    Application->RunUserAction([&screen] { screen.cbbReportNames->PickItem(2); });  // a report with products
    ASSERT_TRUE(screen.btnProdInic->IsUsable());
    dtmDBGeral->Disconnect();  // the product query cannot open
    ws->messages.clear();
    Application->RunUserAction([&screen] { screen.btnProdInic->Click(); });
    EXPECT_EQ(ws->busyShown, 1);
    EXPECT_EQ(ws->busyDepth, 0) << "the busy indicator stayed up";
    ASSERT_EQ(ws->messages.size(), 1u);
    EXPECT_EQ(ws->messages.front().text, "Banco de dados não conectado.");
}

// Once the product list has closed, the lookup query keeps only the row the
// check reads when the code edit is left: picked or cancelled, the check
// still takes that row without a statement.
TEST_F(ScreenTest, AfterTheProductListClosesOnlyTheRowTheCheckReadsStays)
{
    struct Case {
        const char *name;
        PickAnswer answer;
        const char *current;  // the code of the row left current
        const char *productName;
    } cases[] = {
        {"pick", {false, {"01.01.0002"}}, "01.01.0002", "Refrigerante guarana 2 L"},
        {"cancel", {true, {}}, "01.01.0001", "Refrigerante cola 2 L"},
    };
    TfrmResumoOficialCfop &screen = Open();
    Application->RunUserAction([&screen] { screen.cbbReportNames->PickItem(2); });  // a report with products
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Application->RunUserAction([&screen] {
            screen.medProdInic->SetFocus();
            screen.medProdInic->SetText("");
        });
        ws->pickAnswers.push_back(c.answer);
        Application->RunUserAction([&screen] { screen.btnProdInic->Click(); });
        EXPECT_EQ(screen.qryProduto->Query.RecordCount(), 1);
        EXPECT_EQ(screen.qryProdutoCDARVPROD->AsString(), c.current);
        Application->RunUserAction([&screen, &c] { screen.medProdInic->SetText(c.current); });
        StatementCounter::Reset();
        Application->RunUserAction([&screen] { screen.medProdFina->SetFocus(); });
        EXPECT_EQ(StatementCounter::Count(), 0);
        EXPECT_EQ(screen.edtProdInic->Text(), c.productName);
        EXPECT_EQ(stProdIni, screen.qryProdutoCDPRODUTO->AsString());
    }
    EXPECT_TRUE(ws->messages.empty());
}

} // namespace
