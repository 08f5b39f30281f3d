// Registrations (state, substitute, municipal) and invoice series: lookups,
// checks and the application server's lists.
#include "screen_private.h"

#include "vdl/Consiste.h"

namespace {
bool substituteRegistrations(const std::string &title) { return title == ReportTitles::IcmsSt; }
} // namespace

// Calls reach the server through the package's one screen, as every caller does.
void TfrmResumoOficialCfop::CallGetInscEstaSt(const std::string &flag)
{
    const std::string reply = frmResumoOficialCfop->netResumoOficialCfop->AppServer().Call(
        "getInscEstaSt", {edtInscricao->Text(), medCdEmpresa->Text(), flag});
    cdsInscrEstadSt->SetData(Consiste::CheckResultServ(reply, true, 0));
}

void TfrmResumoOficialCfop::CallGetSerie(const std::string &series)
{
    const std::string reply = frmResumoOficialCfop->netResumoOficialCfop->AppServer().Call(
        "GetSerie", {medCdEmpresa->Text(), edtInscricao->Text(), edtInscricaoM->Text(), series});
    cdsSerie->SetData(Consiste::CheckResultServ(reply, true, 0));
}

void TfrmResumoOficialCfop::btpInscricaoBeforePesq(TObject *, bool &)
{
    if (!substituteRegistrations(ReportTitle())) {
        btpInscricao->Title = "Inscrição Estadual";
        btpInscricao->SetDataSource(dtsInscrEstad);
        qryPesqInscEsta->Close();
        qryPesqInscEsta->ParamByName("P_EMPRESA")->SetAsString(medCdEmpresa->Text());
        qryPesqInscEsta->ParamByName("P_INSCESTA")->Clear();
        qryPesqInscEsta->ParamByName("P_TINSCESTA")->SetAsString("T");
        qryPesqInscEsta->Open();
    } else {
        btpInscricao->Title = "Inscrição do Substituto Tributário";
        btpInscricao->SetDataSource(dtsInscrEstadSt);
        CallGetInscEstaSt("T");
    }
}

void TfrmResumoOficialCfop::btpInscricaoAfterPesq(TObject *)
{
    if (substituteRegistrations(ReportTitle()))
        edtInscricao->SetText(cdsInscrEstadStCDINSCESTAST->AsString());
    else
        edtInscricao->SetText(qryPesqInscEstaCDINSCESTA->AsString());
}

void TfrmResumoOficialCfop::btpInscricaoMBeforePesq(TObject *, bool &)
{
    qryInscrMuni->Close();
    qryInscrMuni->ParamByName("P_EMPRESA")->SetAsString(medCdEmpresa->Text());
    qryInscrMuni->ParamByName("P_INSCMUNI")->Clear();
    qryInscrMuni->ParamByName("P_TINSCMUNI")->SetAsString("T");
    qryInscrMuni->Open();
}

void TfrmResumoOficialCfop::btpInscricaoMAfterPesq(TObject *)
{
    edtInscricaoM->SetText(qryInscrMuniCDINSCMUNI->AsString());
}

// A series is chosen for a registration.
void TfrmResumoOficialCfop::edtInscricaoChange(TObject *) { edtCdSerie->Clear(); }
void TfrmResumoOficialCfop::edtInscricaoMChange(TObject *) { edtCdSerie->Clear(); }

void TfrmResumoOficialCfop::edtInscricaoExit(TObject *) { Vd_InscEsta(); }

void TfrmResumoOficialCfop::Vd_InscEsta()
{
    if (edtInscricao->Enabled()) {
        Guarded(edtInscricao, [&] {
            if (Consiste::EmptyString(edtInscricao->Text()))
                return;  // an empty registration is accepted here
            if (!substituteRegistrations(ReportTitle())) {
                qryPesqInscEsta->Close();
                qryPesqInscEsta->ParamByName("P_EMPRESA")->SetAsString(medCdEmpresa->Text());
                qryPesqInscEsta->ParamByName("P_TINSCESTA")->Clear();
                qryPesqInscEsta->ParamByName("P_INSCESTA")->SetAsString(edtInscricao->Text());
                btpInscricao->Title = msgPadrao->Msg("qryPesqInscEsta");
                qryPesqInscEsta->Open();
                if (qryPesqInscEsta->IsEmpty())
                    Report("InscEsta_cad");
            } else {
                CallGetInscEstaSt("");
                if (cdsInscrEstadSt->IsEmpty())
                    Report("InscEstaSt_cad");
            }
        });
    }
    if (edtInscricaoM->Enabled() && !Consiste::EmptyString(edtInscricaoM->Text())) {
        Guarded(edtInscricaoM, [&] {
            qryInscrMuni->Close();
            qryInscrMuni->ParamByName("P_EMPRESA")->SetAsString(medCdEmpresa->Text());
            qryInscrMuni->ParamByName("P_TINSCMUNI")->Clear();
            qryInscrMuni->ParamByName("P_INSCMUNI")->SetAsString(edtInscricaoM->Text());
            btpInscricaoM->Title = msgPadrao->Msg("qryInscrMuni");
            qryInscrMuni->Open();
            if (qryInscrMuni->IsEmpty())
                Report("InscMuni_Cad");
        });
    }
}

void TfrmResumoOficialCfop::cbbEntrSaidChange(TObject *) { edtCdSerie->Clear(); }

void TfrmResumoOficialCfop::btpSerieNFBeforePesq(TObject *, bool &)
{
    switch (cbbEntrSaid->ItemIndex()) {
    case 0:
        btpSerieNF->SetDataSource(dtsSerieEntr);
        qrySerieEntr->Close();
        qrySerieEntr->ParamByName("P_CDSERIE")->Clear();
        qrySerieEntr->Open();
        btpSerieNF->EmptyError = msgPadrao->Msg("serieNCadEntr");
        btpSerieNF->Title = msgPadrao->Msg("serieEntr");
        break;
    case 1:
        btpSerieNF->SetDataSource(dtsSerieNF);
        qrySerieNF->Close();
        qrySerieNF->ParamByName("P_CDEMPRESA")->SetAsString(medCdEmpresa->Text());
        qrySerieNF->ParamByName("P_CDINSCESTA")->SetAsString(edtInscricao->Text());
        qrySerieNF->ParamByName("P_CDINSCMUNI")->SetAsString(edtInscricaoM->Text());
        qrySerieNF->ParamByName("P_CDSERIE")->Clear();
        qrySerieNF->Open();
        btpSerieNF->EmptyError = msgPadrao->Msg("serieNCadSaid");
        btpSerieNF->Title = msgPadrao->Msg("serieSaid");
        break;
    default:
        btpSerieNF->SetDataSource(dtsSerie);
        CallGetSerie("");
        break;
    }
}

void TfrmResumoOficialCfop::btpSerieNFAfterPesq(TObject *)
{
    switch (cbbEntrSaid->ItemIndex()) {
    case 0: edtCdSerie->SetText(qrySerieEntrCDSERIEENTR->AsString()); break;
    case 1: edtCdSerie->SetText(qrySerieNFCDSERIE->AsString()); break;
    default: edtCdSerie->SetText(cdsSerieCDSERIE->AsString()); break;
    }
}

void TfrmResumoOficialCfop::edtCdSerieExit(TObject *) { Vd_Serie(); }

void TfrmResumoOficialCfop::Vd_Serie()
{
    if (Consiste::EmptyString(edtCdSerie->Text()))
        return;
    Guarded(edtCdSerie, [&] {
        switch (cbbEntrSaid->ItemIndex()) {
        case 0:
            qrySerieEntr->Close();
            qrySerieEntr->ParamByName("P_CDSERIE")->SetAsString(edtCdSerie->Text());
            qrySerieEntr->Open();
            if (qrySerieEntr->IsEmpty())
                Report("Serie_NCad");
            break;
        case 1:
            qrySerieNF->Close();
            qrySerieNF->ParamByName("P_CDEMPRESA")->SetAsString(medCdEmpresa->Text());
            qrySerieNF->ParamByName("P_CDINSCESTA")->SetAsString(edtInscricao->Text());
            qrySerieNF->ParamByName("P_CDINSCMUNI")->SetAsString(edtInscricaoM->Text());
            qrySerieNF->ParamByName("P_CDSERIE")->SetAsString(edtCdSerie->Text());
            qrySerieNF->Open();
            if (qrySerieNF->IsEmpty())
                Report("Serie_NCad");
            break;
        default:
            CallGetSerie(edtCdSerie->Text());
            if (cdsSerie->Eof())
                Report("Serie_NCad");
            break;
        }
    });
}
