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
    qryEmpresa->Close();
    qryEmpresa->ParamByName("P_EMPRESA")->Clear();
    qryEmpresa->Open();
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
        qryEmpresa->Close();
        qryEmpresa->ParamByName("P_EMPRESA")->SetAsString(medCdEmpresa->Text());
        qryEmpresa->Open();
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
    qryImposto->Close();
    qryImposto->ParamByName("P_CDIMPOSTO")->Clear();
    qryImposto->Open();
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
        qryImposto->Close();
        qryImposto->ParamByName("P_CDIMPOSTO")->SetAsString(medCdImposto->Text());
        qryImposto->Open();
        if (qryImposto->IsEmpty())
            Report("CDIMP_INV");
        if (takesRegistrationsFromTheTax(ReportTitle())) {
            // The body that collects the tax decides which registration it asks for.
            const std::string body = qryImpostoIDORGARRECADNFE->AsString();
            if (body == "E") {
                lblInscricao->SetEnabled(true);
                edtInscricao->SetEnabled(true);
                btpInscricao->SetEnabled(true);
                lblInscricaoM->SetEnabled(false);
                edtInscricaoM->SetEnabled(false);
                edtInscricaoM->Clear();
                btpInscricaoM->SetEnabled(false);
            } else if (body == "M") {
                lblInscricao->SetEnabled(false);
                edtInscricao->SetEnabled(false);
                edtInscricao->Clear();
                btpInscricao->SetEnabled(false);
                lblInscricaoM->SetEnabled(true);
                edtInscricaoM->SetEnabled(true);
                btpInscricaoM->SetEnabled(true);
            } else {
                lblInscricao->SetEnabled(false);
                edtInscricao->SetEnabled(false);
                edtInscricao->Clear();
                btpInscricao->SetEnabled(false);
                lblInscricaoM->SetEnabled(false);
                edtInscricaoM->SetEnabled(false);
                edtInscricaoM->Clear();
                btpInscricaoM->SetEnabled(false);
            }
        }
        edtNmImposto->SetText(qryImpostoSGIMPOSTONFE->AsString());
    });
}
