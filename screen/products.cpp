// The product range: tree lookups and the check of a typed code.
#include "screen_private.h"

#include "vdl/Consiste.h"
#include "vdl/Pesquisa.h"

namespace {
// The busy indicator goes away even when loading the products fails.
struct Busy {
    explicit Busy(TForm *form) { ActiveShowAvi(form, static_cast<TShowAvi>(1)); }
    ~Busy() { DeactiveShowAvi(); }
};
} // namespace

void TfrmResumoOficialCfop::btnProdInicBeforePesq(TObject *, bool &)
{
    Busy busy(this);
    qryProduto->Reopen({{"P_TCDPRODUTO", "T"}, {"P_CDPRODUTO", ""}});
}

void TfrmResumoOficialCfop::btnProdFinBeforePesq(TObject *Sender, bool &Continue)
{
    btnProdInicBeforePesq(Sender, Continue);
}

void TfrmResumoOficialCfop::btnProdInicAfterPesq(TObject *)
{
    medProdInic->SetText(qryProdutoCDARVPROD->AsString());
    edtProdInic->SetText(qryProdutoNMPRODUTO->AsString());
}

void TfrmResumoOficialCfop::btnProdFinAfterPesq(TObject *)
{
    medProdFina->SetText(qryProdutoCDARVPROD->AsString());
    edtProdFina->SetText(qryProdutoNMPRODUTO->AsString());
}

void TfrmResumoOficialCfop::medProdInicChange(TObject *) { edtProdInic->Clear(); }
void TfrmResumoOficialCfop::medProdFinaChange(TObject *) { edtProdFina->Clear(); }

void TfrmResumoOficialCfop::medProdInicExit(TObject *) { Vd_ProdutoIni(medProdInic, edtProdInic); }
void TfrmResumoOficialCfop::medProdFinaExit(TObject *) { Vd_ProdutoFin(medProdFina, edtProdFina); }

void TfrmResumoOficialCfop::Vd_ProdutoIni(TMaskEdit *code, TEdit *name) { Vd_Produto(code, name, stProdIni); }
void TfrmResumoOficialCfop::Vd_ProdutoFin(TMaskEdit *code, TEdit *name) { Vd_Produto(code, name, stProdFin); }

void TfrmResumoOficialCfop::Vd_Produto(TMaskEdit *code, TEdit *name, AnsiString &internalCode)
{
    if (Consiste::EmptyString(code->Text()))
        return;
    Guarded(code, [&] {
        AnsiString copy = code->Text();
        ValidEx(dtsProduto, ptProduto, copy, {}, "", true);
        // Right after a pick the lookup stands on the picked row: no query needed.
        if (qryProdutoCDARVPROD->AsString() == code->Text()) {
            name->SetText(qryProdutoNMPRODUTO->AsString());
            internalCode = qryProdutoCDPRODUTO->AsString();
            return;
        }
        qryValidProd->Reopen({{"P_CDPRODUTO", code->Text()}});
        if (qryValidProd->IsEmpty()) {
            code->SetFocus();
            Report("Prod_N_Cad");
        }
        name->SetText(qryValidProdNMPRODUTO->AsString());
        internalCode = qryValidProdCDPRODUTO->AsString();
    });
}
