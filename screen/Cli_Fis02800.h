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

    // Report selection: enables, empties and relabels the fields the report takes.
    void cbbReportNamesChange(TObject *Sender);

    // Company and period.
    void Vd_Empresa(bool required);
    void Vd_Datas();
    void medCdEmpresaExit(TObject *Sender);
    void medCdEmpresaChange(TObject *Sender);
    void btpEmpresaBeforePesq(TObject *Sender, bool &Continue);
    void btpEmpresaAfterPesq(TObject *Sender);
    void depDtInicialExit(TObject *Sender);
    void depDtFinalExit(TObject *Sender);

    // Tax.
    void Vd_Imposto(bool required);
    void medCdImpostoExit(TObject *Sender);
    void medCdImpostoChange(TObject *Sender);
    void btpImpostoBeforePesq(TObject *Sender, bool &Continue);
    void btpImpostoAfterPesq(TObject *Sender);

    // State, municipal and substitute registrations.
    void Vd_InscEsta();
    void edtInscricaoExit(TObject *Sender);
    void edtInscricaoChange(TObject *Sender);
    void edtInscricaoMChange(TObject *Sender);
    void btpInscricaoBeforePesq(TObject *Sender, bool &Continue);
    void btpInscricaoAfterPesq(TObject *Sender);
    void btpInscricaoMBeforePesq(TObject *Sender, bool &Continue);
    void btpInscricaoMAfterPesq(TObject *Sender);

    // Product range.
    void Vd_ProdutoIni(TMaskEdit *code, TEdit *name);
    void Vd_ProdutoFin(TMaskEdit *code, TEdit *name);
    void medProdInicExit(TObject *Sender);
    void medProdFinaExit(TObject *Sender);
    void medProdInicChange(TObject *Sender);
    void medProdFinaChange(TObject *Sender);
    void btnProdInicBeforePesq(TObject *Sender, bool &Continue);
    void btnProdInicAfterPesq(TObject *Sender);
    void btnProdFinBeforePesq(TObject *Sender, bool &Continue);
    void btnProdFinAfterPesq(TObject *Sender);

    // Invoice series.
    void Vd_Serie();
    void edtCdSerieExit(TObject *Sender);
    void btpSerieNFBeforePesq(TObject *Sender, bool &Continue);
    void btpSerieNFAfterPesq(TObject *Sender);
    void cbbEntrSaidChange(TObject *Sender);

    // Document-model and operation-type lists.
    void Vd_Modelo();
    void Vd_TipoOper();
    void btnModDocClick(TObject *Sender);
    void rdbTodosModClick(TObject *Sender);
    void rdbListaModClick(TObject *Sender);
    void btnTpOperacaoClick(TObject *Sender);
    void rdbTodosTpClick(TObject *Sender);
    void rdbListaTpClick(TObject *Sender);

    // Origin branch and invoice number.
    void Vd_FiliOrig();
    void medFiliOrigExit(TObject *Sender);
    void medFiliOrigChange(TObject *Sender);
    void btnFiliOrigBeforePesq(TObject *Sender, bool &Continue);
    void btnFiliOrigAfterPesq(TObject *Sender);

    // The whole screen before a report action.
    void Vd_ValidaCampos(bool forRun);

    // Report query parameters.
    void rpddPadraoBeforeGetQueryParams(TParams *Params, bool &Continue);

    // The text of the selected report, compared exactly with the report titles.
    std::string ReportTitle() const { return cbbReportNames->Text(); }

    // Names of the published members, in declaration order.
    static const std::vector<std::pair<std::string, std::string>> &PublishedMembers();

protected:
    void RegisterMethods(MethodTable &methods) override;
    void BuildForm() override;

private:
    // Shows the message table's text for `key` as an error and ends the action.
    [[noreturn]] void Report(const char *key);
    // Runs `check`; on any failure puts the focus on `field` and raises again.
    template <class F>
    void Guarded(TWinControl *field, F &&check);
    void Vd_Produto(TMaskEdit *code, TEdit *name, AnsiString &internalCode);
    void CallGetInscEstaSt(const std::string &flag);
    // Enables each registration group, or disables it and empties its edit.
    void SetRegistrationGroups(bool state, bool municipal);
    void CallGetSerie(const std::string &series);
    // Tells beside "Lista" and in its hint which entries of the list are ticked.
    void ShowTicked(TRadioButton *lista, TLabel *shown, const std::string &keys);
    void ShowTickedLists();

    // Beside each list's button; not among the designed members.
    TLabel *lblListaTp_ = nullptr;
    TLabel *lblListaMod_ = nullptr;
};

// The report titles that change the screen, spelled exactly as the reports list them.
namespace ReportTitles {
inline constexpr const char *Resumo = "Resumo não Oficial de CFOp";
inline constexpr const char *Analitico = "Resumo não Oficial de CFOp com Produtos(Analítico)";
inline constexpr const char *RelacaoNotas = "Relação de Notas Fiscais";
inline constexpr const char *IcmsSt = "Relação de Notas Fiscais - ICMS-ST por Produto";
inline constexpr const char *Ressarcimento = "Ressarcimento de ICMS ST - Valores por Produto";
inline constexpr const char *MapaFiscal = "Mapa Fiscal - Inscrição Estadual";
inline constexpr const char *CstAliquota = "Resumo de CFOP por CST e Alíquota";
inline constexpr const char *ApuracaoIcms = "Registro de Apuração do ICMS";
} // namespace ReportTitles

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
