// Company, period and tax: lookups and the checks made when a field is left.
#include "screen_private.h"

#include "vdl/Consiste.h"

namespace {
bool takesRegistrationsFromTheTax(const std::string &title)
{
    // These two reports set their registrations by the catalogue alone.
    return title != ReportTitles::Analitico && title != ReportTitles::RelacaoNotas;
}
} // namespace

void TfrmResumoOficialCfop::btpEmpresaBeforePesq(TObject *, bool &)
{
    qryEmpresa->Reopen({{"P_EMPRESA", std::nullopt}});
}

void TfrmResumoOficialCfop::btpEmpresaAfterPesq(TObject *)
{
    // The code first: its change handler clears the name.
    medCdEmpresa->SetText(qryEmpresaCDEMPRESA->AsString());
    edtNmEmpresa->SetText(qryEmpresaNMEMPRESA->AsString());
}

void TfrmResumoOficialCfop::medCdEmpresaChange(TObject *)
{
    edtNmEmpresa->Clear();
    edtInscricao->Clear();  // a registration belongs to its company
}

void TfrmResumoOficialCfop::medCdEmpresaExit(TObject *) { Vd_Empresa(false); }

void TfrmResumoOficialCfop::Vd_Empresa(bool required)
{
    Guarded(medCdEmpresa, [&] {
        if (Consiste::EmptyString(medCdEmpresa->Text())) {
            if (required)
                Report("medCdEmpresa_Inf");
            return;
        }
        // Before a run the code was checked when its field was left, unless
        // the focus is still in it.
        if (required && ActiveControl() != medCdEmpresa)
            return;
        medCdEmpresa->SetText(Consiste::Ajusta(medCdEmpresa->Text(), 2));
        qryEmpresa->Reopen({{"P_EMPRESA", medCdEmpresa->Text()}});
        if (qryEmpresa->IsEmpty())
            Report("medCdEmpresa_Cad");
        edtNmEmpresa->SetText(qryEmpresaNMEMPRESA->AsString());
    });
}

void TfrmResumoOficialCfop::depDtInicialExit(TObject *) { depDtInicial->CheckValidDate(); }

void TfrmResumoOficialCfop::depDtFinalExit(TObject *)
{
    depDtFinal->CheckValidDate();
    if (!Consiste::EmptyString(depDtInicial->Text()) && !Consiste::EmptyString(depDtFinal->Text()) &&
        depDtInicial->GetDate() > depDtFinal->GetDate()) {
        depDtInicial->SetFocus();
        Report("DtIni_inv");
    }
}

void TfrmResumoOficialCfop::Vd_Datas()
{
    const bool startEmpty = Consiste::EmptyString(depDtInicial->Text());
    const bool endEmpty = Consiste::EmptyString(depDtFinal->Text());
    Guarded(startEmpty ? static_cast<TWinControl *>(depDtInicial) : depDtFinal, [&] {
        if (startEmpty)
            Report("DtIni_inf");
        if (endEmpty)
            Report("DtFin_inf");
    });
}

void TfrmResumoOficialCfop::btpImpostoBeforePesq(TObject *, bool &)
{
    qryImposto->Reopen({{"P_CDIMPOSTO", std::nullopt}});
}

void TfrmResumoOficialCfop::btpImpostoAfterPesq(TObject *)
{
    medCdImposto->SetText(qryImpostoCDIMPOSTONFE->AsString());
    edtNmImposto->SetText(qryImpostoSGIMPOSTONFE->AsString());
}

void TfrmResumoOficialCfop::medCdImpostoChange(TObject *)
{
    edtNmImposto->Clear();
    if (takesRegistrationsFromTheTax(ReportTitle()))
        edtInscricao->Clear();
}

void TfrmResumoOficialCfop::SetRegistrationGroups(bool state, bool municipal)
{
    // State first, then municipal; an edit is emptied once it is disabled.
    const auto set = [](TLabel *label, TEdit *edit, TBtnPesquisa *button, bool on) {
        label->SetEnabled(on);
        edit->SetEnabled(on);
        if (!on)
            edit->Clear();
        button->SetEnabled(on);
    };
    set(lblInscricao, edtInscricao, btpInscricao, state);
    set(lblInscricaoM, edtInscricaoM, btpInscricaoM, municipal);
}

void TfrmResumoOficialCfop::medCdImpostoExit(TObject *)
{
    Vd_Imposto(false);
    if (medCdImposto->Text().empty() && takesRegistrationsFromTheTax(ReportTitle())) {
        lblInscricao->SetEnabled(false);
        edtInscricao->SetEnabled(false);
        btpInscricao->SetEnabled(false);
        edtNmImposto->Clear();
    }
}

void TfrmResumoOficialCfop::Vd_Imposto(bool required)
{
    Guarded(medCdImposto, [&] {
        if (Consiste::EmptyString(medCdImposto->Text())) {
            if (required)
                Report("CDIMP_INF");
            return;
        }
        medCdImposto->SetText(Consiste::Ajusta(medCdImposto->Text(), qryImpostoCDIMPOSTONFE->Size));
        qryImposto->Reopen({{"P_CDIMPOSTO", medCdImposto->Text()}});
        if (qryImposto->IsEmpty())
            Report("CDIMP_INV");
        if (takesRegistrationsFromTheTax(ReportTitle())) {
            // The body that collects the tax decides which registration it asks for.
            const std::string body = qryImpostoIDORGARRECADNFE->AsString();
            SetRegistrationGroups(body == "E", body == "M");
        }
        edtNmImposto->SetText(qryImpostoSGIMPOSTONFE->AsString());
    });
}
