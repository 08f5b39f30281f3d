// Document-model and operation-type lists; origin branch and invoice number.
#include "screen_private.h"

#include "vdl/Consiste.h"
#include "vdl/Pesquisa.h"

void TfrmResumoOficialCfop::btnModDocClick(TObject *)
{
    qryModDoc->Reopen({});
    const std::string title = msgPadrao->Msg("ModDoc") + "|" + msgPadrao->Msg("nao_ha_mod");
    PesquisaLista(dtsModDoc, "CDMODDOCFISC", title, false, stListaMod);
}

void TfrmResumoOficialCfop::btnTpOperacaoClick(TObject *)
{
    qrtTpOperacao->Reopen({});
    const std::string title = msgPadrao->Msg("TipoOper") + "|" + msgPadrao->Msg("nao_ha_tipo");
    PesquisaLista(dtsTpOperacao, "CHAVE", title, false, stListaTp);
}

void TfrmResumoOficialCfop::rdbTodosModClick(TObject *)
{
    btnModDoc->SetEnabled(!rdbTodosMod->Checked());
    if (rdbTodosMod->Checked())
        stListaMod.clear();
}

void TfrmResumoOficialCfop::rdbListaModClick(TObject *) { btnModDoc->SetEnabled(rdbListaMod->Checked()); }

void TfrmResumoOficialCfop::rdbTodosTpClick(TObject *)
{
    btnTpOperacao->SetEnabled(!rdbTodosTp->Checked());
    if (rdbTodosTp->Checked())
        stListaTp.clear();
}

void TfrmResumoOficialCfop::rdbListaTpClick(TObject *) { btnTpOperacao->SetEnabled(rdbListaTp->Checked()); }

void TfrmResumoOficialCfop::Vd_Modelo()
{
    if (rdbListaMod->Checked() && Consiste::EmptyString(stListaMod)) {
        rdbListaMod->SetFocus();
        Report("Mod_Inf");
    }
}

void TfrmResumoOficialCfop::Vd_TipoOper()
{
    if (rdbListaTp->Checked() && Consiste::EmptyString(stListaTp)) {
        rdbListaTp->SetFocus();
        Report("Tp_Inf");
    }
}

void TfrmResumoOficialCfop::btnFiliOrigBeforePesq(TObject *, bool &)
{
    qryFiliOrig->Reopen({{"P_CDFILIAL", std::nullopt}});
}

void TfrmResumoOficialCfop::btnFiliOrigAfterPesq(TObject *)
{
    medFiliOrig->SetText(qryFiliOrigCDFILIAL->AsString());
    edtNmFiliOrig->SetText(qryFiliOrigNMFILIAL->AsString());
}

// Shared by the branch and the invoice number.
void TfrmResumoOficialCfop::medFiliOrigChange(TObject *) { edtNmFiliOrig->Clear(); }

void TfrmResumoOficialCfop::medFiliOrigExit(TObject *)
{
    Vd_FiliOrig();
    if (medFiliOrig->Text().empty())
        edtNmFiliOrig->Clear();
}

void TfrmResumoOficialCfop::Vd_FiliOrig()
{
    if (Consiste::EmptyString(medFiliOrig->Text()))
        return;
    Guarded(medFiliOrig, [&] {
        medFiliOrig->SetText(Consiste::Ajusta(medFiliOrig->Text(), 4));
        qryFiliOrig->Reopen({{"P_CDFILIAL", medFiliOrig->Text()}});
        if (qryFiliOrig->IsEmpty())
            Report("FiliOrig_Cad");
        edtNmFiliOrig->SetText(qryFiliOrigNMFILIAL->AsString());
    });
}
