#include "Cli_Fis02800.h"

#include "Cli_Fis02800_form.h"
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

// Handlers whose lookups and checks are built with their own features; the
// form binds them by name, so they exist and do nothing yet.
const char *const kPendingNotifyHandlers[] = {
    "medCdEmpresaExit",   "medCdEmpresaChange",   "btpEmpresaAfterPesq", "depDtInicialExit",
    "depDtFinalExit",     "medCdImpostoExit",     "medCdImpostoChange",  "btpImpostoAfterPesq",
    "edtInscricaoExit",   "edtInscricaoChange",   "edtInscricaoMChange", "btpInscricaoAfterPesq",
    "btpInscricaoMAfterPesq", "medProdInicExit",  "medProdFinaExit",     "medProdInicChange",
    "medProdFinaChange",  "btnProdInicAfterPesq", "btnProdFinAfterPesq", "edtCdSerieExit",
    "btpSerieNFAfterPesq", "cbbEntrSaidChange",   "btnModDocClick",      "rdbTodosModClick",
    "rdbListaModClick",   "btnTpOperacaoClick",   "rdbTodosTpClick",     "rdbListaTpClick",
    "medFiliOrigExit",    "medFiliOrigChange",    "btnFiliOrigAfterPesq",
};
const char *const kPendingBeforePesqHandlers[] = {
    "btpEmpresaBeforePesq",  "btpImpostoBeforePesq",   "btpInscricaoBeforePesq", "btpInscricaoMBeforePesq",
    "btnProdInicBeforePesq", "btnProdFinBeforePesq",   "btpSerieNFBeforePesq",   "btnFiliOrigBeforePesq",
};
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
    using Notify = void(TObject *);
    m.Add<Notify>("FormCreate", [this](TObject *s) { FormCreate(s); });
    m.Add<Notify>("FormActivate", [this](TObject *s) { FormActivate(s); });
    m.Add<void(TObject *, TCloseAction &)>("FormClose", [this](TObject *s, TCloseAction &a) { FormClose(s, a); });
    m.Add<Notify>("sbtPrintClick", [this](TObject *s) { sbtPrintClick(s); });
    m.Add<Notify>("sbtPreviewClick", [this](TObject *s) { sbtPreviewClick(s); });
    m.Add<Notify>("sbtSalvarComoClick", [this](TObject *s) { sbtSalvarComoClick(s); });
    m.Add<Notify>("sbtReportEditClick", [this](TObject *s) { sbtReportEditClick(s); });
    m.Add<Notify>("netResumoOficialCfopBeforeConnect", [this](TObject *s) { netResumoOficialCfopBeforeConnect(s); });
    m.Add<Notify>("cbbReportNamesChange", [this](TObject *s) { cbbReportNamesChange(s); });
    for (const char *name : kPendingNotifyHandlers)
        m.AddPlaceholder<Notify>(name);
    for (const char *name : kPendingBeforePesqHandlers)
        m.AddPlaceholder<void(TObject *, bool &)>(name);
    m.AddPlaceholder<void(TParams *, bool &)>("rpddPadraoBeforeGetQueryParams");
}

void TfrmResumoOficialCfop::BuildForm()
{
    TfrmDadosGerRel::BuildForm();
    LoadFrom(ResumoOficialCfopForm());
#define FIS02800_BIND(name, cls) BindMember(name, #name);
    FIS02800_MEMBERS(FIS02800_BIND)
#undef FIS02800_BIND
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

void TfrmResumoOficialCfop::sbtPrintClick(TObject *Sender) { TfrmDadosGerRel::sbtPrintClick(Sender); }
void TfrmResumoOficialCfop::sbtPreviewClick(TObject *Sender) { TfrmDadosGerRel::sbtPreviewClick(Sender); }
void TfrmResumoOficialCfop::sbtSalvarComoClick(TObject *Sender) { TfrmDadosGerRel::sbtSalvarComoClick(Sender); }
void TfrmResumoOficialCfop::sbtReportEditClick(TObject *Sender) { TfrmDadosGerRel::sbtReportEditClick(Sender); }

void TfrmResumoOficialCfop::cbbReportNamesChange(TObject *) {}

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
