#include "Cli_Fis02800.h"

#include "Cli_Fis02800_form.h"
#include "screen_private.h"
#include "vdl/Consiste.h"
#include "vdl/Vendral.h"

extern "C" {
TfrmResumoOficialCfop *frmResumoOficialCfop = nullptr;
bool boStCriado = false;
AnsiString stProdIni;
AnsiString stProdFin;
AnsiString stListaMod;
AnsiString stListaTp;
}

namespace {
int unitLoadCount = 0;

} // namespace

TfrmResumoOficialCfop::TfrmResumoOficialCfop(TComponent *owner) : TfrmDadosGerRel(owner) {}

const std::vector<std::pair<std::string, std::string>> &TfrmResumoOficialCfop::PublishedMembers()
{
    static const std::vector<std::pair<std::string, std::string>> members = {
#define FIS02800_NAME(name, cls) {#name, #cls},
        FIS02800_MEMBERS(FIS02800_NAME)
#undef FIS02800_NAME
    };
    return members;
}

void TfrmResumoOficialCfop::RegisterMethods(MethodTable &m)
{
    TfrmDadosGerRel::RegisterMethods(m);
    using T = TfrmResumoOficialCfop;
    auto notify = [&m, this](const char *name, void (T::*method)(TObject *)) { m.Add(name, this, method); };
    auto beforePesq = [&m, this](const char *name, void (T::*method)(TObject *, bool &)) { m.Add(name, this, method); };
    notify("FormCreate", &T::FormCreate);
    notify("FormActivate", &T::FormActivate);
    m.Add("FormClose", this, &T::FormClose);
    notify("sbtPrintClick", &T::sbtPrintClick);
    notify("sbtPreviewClick", &T::sbtPreviewClick);
    notify("sbtSalvarComoClick", &T::sbtSalvarComoClick);
    notify("sbtReportEditClick", &T::sbtReportEditClick);
    notify("netResumoOficialCfopBeforeConnect", &T::netResumoOficialCfopBeforeConnect);
    notify("cbbReportNamesChange", &T::cbbReportNamesChange);

    notify("medCdEmpresaExit", &T::medCdEmpresaExit);
    notify("medCdEmpresaChange", &T::medCdEmpresaChange);
    beforePesq("btpEmpresaBeforePesq", &T::btpEmpresaBeforePesq);
    notify("btpEmpresaAfterPesq", &T::btpEmpresaAfterPesq);
    notify("depDtInicialExit", &T::depDtInicialExit);
    notify("depDtFinalExit", &T::depDtFinalExit);

    notify("medCdImpostoExit", &T::medCdImpostoExit);
    notify("medCdImpostoChange", &T::medCdImpostoChange);
    beforePesq("btpImpostoBeforePesq", &T::btpImpostoBeforePesq);
    notify("btpImpostoAfterPesq", &T::btpImpostoAfterPesq);

    notify("edtInscricaoExit", &T::edtInscricaoExit);
    notify("edtInscricaoChange", &T::edtInscricaoChange);
    notify("edtInscricaoMChange", &T::edtInscricaoMChange);
    beforePesq("btpInscricaoBeforePesq", &T::btpInscricaoBeforePesq);
    notify("btpInscricaoAfterPesq", &T::btpInscricaoAfterPesq);
    beforePesq("btpInscricaoMBeforePesq", &T::btpInscricaoMBeforePesq);
    notify("btpInscricaoMAfterPesq", &T::btpInscricaoMAfterPesq);

    notify("medProdInicExit", &T::medProdInicExit);
    notify("medProdFinaExit", &T::medProdFinaExit);
    notify("medProdInicChange", &T::medProdInicChange);
    notify("medProdFinaChange", &T::medProdFinaChange);
    beforePesq("btnProdInicBeforePesq", &T::btnProdInicBeforePesq);
    notify("btnProdInicAfterPesq", &T::btnProdInicAfterPesq);
    beforePesq("btnProdFinBeforePesq", &T::btnProdFinBeforePesq);
    notify("btnProdFinAfterPesq", &T::btnProdFinAfterPesq);

    notify("edtCdSerieExit", &T::edtCdSerieExit);
    beforePesq("btpSerieNFBeforePesq", &T::btpSerieNFBeforePesq);
    notify("btpSerieNFAfterPesq", &T::btpSerieNFAfterPesq);
    notify("cbbEntrSaidChange", &T::cbbEntrSaidChange);

    notify("btnModDocClick", &T::btnModDocClick);
    notify("rdbTodosModClick", &T::rdbTodosModClick);
    notify("rdbListaModClick", &T::rdbListaModClick);
    notify("btnTpOperacaoClick", &T::btnTpOperacaoClick);
    notify("rdbTodosTpClick", &T::rdbTodosTpClick);
    notify("rdbListaTpClick", &T::rdbListaTpClick);

    notify("medFiliOrigExit", &T::medFiliOrigExit);
    notify("medFiliOrigChange", &T::medFiliOrigChange);
    beforePesq("btnFiliOrigBeforePesq", &T::btnFiliOrigBeforePesq);
    notify("btnFiliOrigAfterPesq", &T::btnFiliOrigAfterPesq);

    m.Add("rpddPadraoBeforeGetQueryParams", this, &T::rpddPadraoBeforeGetQueryParams);
}

void TfrmResumoOficialCfop::BuildForm()
{
    TfrmDadosGerRel::BuildForm();
    LoadFrom(ResumoOficialCfopForm());
#define FIS02800_BIND(name, cls)                                        \
    {                                                                   \
        static const std::size_t hash = NameHash(#name);                \
        BindMember(name, #name, hash);                                  \
    }
    FIS02800_MEMBERS(FIS02800_BIND)
#undef FIS02800_BIND
    BindMember(lblListaTp_, "lblListaTp");
    BindMember(lblListaMod_, "lblListaMod");
}

void TfrmResumoOficialCfop::FormCreate(TObject *Sender)
{
    TfrmDadosGerRel::FormCreate(Sender);
    netResumoOficialCfop->SetConnected(true);
    // From code: neither box's change event runs.
    cbbEntrSaid->SetItemIndex(0);
    cbbReportNames->SetItemIndex(0);
}

void TfrmResumoOficialCfop::netResumoOficialCfopBeforeConnect(TObject *)
{
    netResumoOficialCfop->Host = Vendral::WebURL();
    netResumoOficialCfop->Port = Vendral::WebPort();
}

void TfrmResumoOficialCfop::FormActivate(TObject *Sender)
{
    TfrmDadosGerRel::FormActivate(Sender);
    cbbReportNamesChange(cbbReportNames);
    Refresh();
    medCdImposto->SetFocus();
    medProdInic->SetEditMask(Vendral::DBPict(ptProduto));
    medProdFina->SetEditMask(Vendral::DBPict(ptProduto));
    qryProdutoCDARVPROD->EditMask = Vendral::DBPict(ptProduto);
}

void TfrmResumoOficialCfop::FormClose(TObject *Sender, TCloseAction &Action)
{
    netResumoOficialCfop->SetConnected(false);
    boStCriado = false;
    TfrmDadosGerRel::FormClose(Sender, Action);
    Release();
}

// Print, preview and save as check the tax strictly and the whole screen for
// a run; a layout edit only checks what was entered. A failed check raises,
// so the base handler, and the report, never runs.
void TfrmResumoOficialCfop::sbtPrintClick(TObject *Sender)
{
    Vd_Imposto(true);
    Vd_ValidaCampos(true);
    TfrmDadosGerRel::sbtPrintClick(Sender);
}

void TfrmResumoOficialCfop::sbtPreviewClick(TObject *Sender)
{
    Vd_Imposto(true);
    Vd_ValidaCampos(true);
    TfrmDadosGerRel::sbtPreviewClick(Sender);
}

void TfrmResumoOficialCfop::sbtSalvarComoClick(TObject *Sender)
{
    Vd_Imposto(true);
    Vd_ValidaCampos(true);
    TfrmDadosGerRel::sbtSalvarComoClick(Sender);
}

void TfrmResumoOficialCfop::sbtReportEditClick(TObject *Sender)
{
    Vd_ValidaCampos(false);
    TfrmDadosGerRel::sbtReportEditClick(Sender);
}

void TfrmResumoOficialCfop::Report(const char *key)
{
    Consiste::MensErro(msgPadrao->Msg(key), true);
    Abort();  // MensErro raised already; this only tells the compiler
}

void CriaResumoNOficialCFOp()
{
    Screen->SetCursor(crHourGlass);
    try {
        if (!boStCriado) {
            Application->CreateForm(frmResumoOficialCfop);
            boStCriado = true;
        }
        frmResumoOficialCfop->Show();
        frmResumoOficialCfop->SetWindowState(wsNormal);
    } catch (...) {
        // A failed creation must not leave the hourglass on for good.
        Screen->SetCursor(crDefault);
        throw;
    }
    Screen->SetCursor(crDefault);
}

void Cli_Fis02800_initialization()
{
    if (unitLoadCount-- == 0)
        boStCriado = false;
}

void Cli_Fis02800_Finalization()
{
    if (++unitLoadCount == 0) {
        stListaTp.clear();
        stListaMod.clear();
        stProdFin.clear();
        stProdIni.clear();
    }
}
