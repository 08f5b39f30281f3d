// Document-model and operation-type lists; origin branch and invoice number.
#include "screen_private.h"

#include "vdl/Consiste.h"
#include "vdl/Pesquisa.h"

#include <algorithm>
#include <string>
#include <vector>

void TfrmResumoOficialCfop::btnModDocClick(TObject *)
{
    qryModDoc->Reopen({});
    const std::string title = msgPadrao->Msg("ModDoc") + "|" + msgPadrao->Msg("nao_ha_mod");
    PesquisaLista(dtsModDoc, "CDMODDOCFISC", title, false, stListaMod);
    ShowTickedLists();
}

void TfrmResumoOficialCfop::btnTpOperacaoClick(TObject *)
{
    qrtTpOperacao->Reopen({});
    const std::string title = msgPadrao->Msg("TipoOper") + "|" + msgPadrao->Msg("nao_ha_tipo");
    PesquisaLista(dtsTpOperacao, "CHAVE", title, false, stListaTp);
    ShowTickedLists();
}

void TfrmResumoOficialCfop::rdbTodosModClick(TObject *)
{
    btnModDoc->SetEnabled(!rdbTodosMod->Checked());
    if (rdbTodosMod->Checked())
        stListaMod.clear();
    ShowTickedLists();
}

void TfrmResumoOficialCfop::rdbListaModClick(TObject *)
{
    btnModDoc->SetEnabled(rdbListaMod->Checked());
    ShowTickedLists();
}

void TfrmResumoOficialCfop::rdbTodosTpClick(TObject *)
{
    btnTpOperacao->SetEnabled(!rdbTodosTp->Checked());
    if (rdbTodosTp->Checked())
        stListaTp.clear();
    ShowTickedLists();
}

void TfrmResumoOficialCfop::rdbListaTpClick(TObject *)
{
    btnTpOperacao->SetEnabled(rdbListaTp->Checked());
    ShowTickedLists();
}

void TfrmResumoOficialCfop::ShowTickedLists()
{
    ShowTicked(rdbListaTp, lblListaTp_, stListaTp);
    ShowTicked(rdbListaMod, lblListaMod_, stListaMod);
}

void TfrmResumoOficialCfop::ShowTicked(TRadioButton *lista, TLabel *shown, const std::string &keys)
{
    std::vector<std::string> ticked;
    if (lista->Checked())
        for (std::size_t from = 0; from <= keys.size() && !keys.empty();) {
            const std::size_t comma = std::min(keys.find(',', from), keys.size());
            if (comma > from)
                ticked.push_back(keys.substr(from, comma - from));
            from = comma + 1;
        }
    std::string all;
    for (const std::string &key : ticked)
        all += (all.empty() ? "" : ", ") + key;
    // The codes where they fit the room beside the button (about 6 points a
    // character), otherwise how many there are.
    const bool fits = static_cast<int>(all.size()) * 6 <= shown->Width();
    shown->SetCaption(fits ? all : "(" + std::to_string(ticked.size()) + ")");
    const std::string hint = ticked.empty() ? (lista->Checked() ? "Nenhum marcado" : "") : "Marcados: " + all;
    lista->SetHint(hint);
    shown->SetHint(hint);
}

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
