#pragma once
// The screen "Resumo não Oficial de CFOp" and the state its unit keeps.
#include "frm/DadosGerRel.h"
#include "Cli_Fis02800_members.h"
#include "data/clientdataset.h"
#include "vdl/ADOIBQuery.h"
#include "vdl/BtnPesquisa.h"
#include "vdl/DateEditPlus.h"
#include "vdl/NetConnection.h"

#include <string>

class TfrmResumoOficialCfop : public TfrmDadosGerRel {
public:
    explicit TfrmResumoOficialCfop(TComponent *owner);
    const char *ClassName() const override { return "TfrmResumoOficialCfop"; }

#define FIS02800_DECLARE(name, cls) cls *name = nullptr;
    FIS02800_MEMBERS(FIS02800_DECLARE)
#undef FIS02800_DECLARE

    // Lifecycle and actions.
    void FormCreate(TObject *Sender) override;
    void FormActivate(TObject *Sender) override;
    void FormClose(TObject *Sender, TCloseAction &Action) override;
    void sbtPrintClick(TObject *Sender) override;
    void sbtPreviewClick(TObject *Sender) override;
    void sbtSalvarComoClick(TObject *Sender) override;
    void sbtReportEditClick(TObject *Sender) override;
    void netResumoOficialCfopBeforeConnect(TObject *Sender);

    // Report selection.
    void cbbReportNamesChange(TObject *Sender);

    // Names of the published members, in declaration order.
    static const std::vector<std::pair<std::string, std::string>> &PublishedMembers();

protected:
    void RegisterMethods(MethodTable &methods) override;
    void BuildForm() override;
};

// The unit's state: it outlives every screen and ends with the package.
extern "C" {
extern TfrmResumoOficialCfop *frmResumoOficialCfop;
extern bool boStCriado;
extern AnsiString stProdIni;
extern AnsiString stProdFin;
extern AnsiString stListaMod;
extern AnsiString stListaTp;
}

extern "C" {
// Creates the screen once and shows it; later calls bring it to the front.
void CriaResumoNOficialCFOp();

// The unit's initialisation and finalisation, run once however often the
// package is initialised (a load counter guards them).
void Cli_Fis02800_initialization();
void Cli_Fis02800_Finalization();
}
