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
        qryPesqInscEsta->Reopen(
            {{"P_EMPRESA", medCdEmpresa->Text()}, {"P_INSCESTA", std::nullopt}, {"P_TINSCESTA", "T"}});
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
    qryInscrMuni->Reopen({{"P_EMPRESA", medCdEmpresa->Text()}, {"P_INSCMUNI", std::nullopt}, {"P_TINSCMUNI", "T"}});
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
                btpInscricao->Title = msgPadrao->Msg("qryPesqInscEsta");
                qryPesqInscEsta->Reopen({{"P_EMPRESA", medCdEmpresa->Text()},
                                         {"P_TINSCESTA", std::nullopt},
                                         {"P_INSCESTA", edtInscricao->Text()}});
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
            btpInscricaoM->Title = msgPadrao->Msg("qryInscrMuni");
            qryInscrMuni->Reopen({{"P_EMPRESA", medCdEmpresa->Text()},
                                  {"P_TINSCMUNI", std::nullopt},
                                  {"P_INSCMUNI", edtInscricaoM->Text()}});
            if (qryInscrMuni->IsEmpty())
                Report("InscMuni_Cad");
        });
    }
}

void TfrmResumoOficialCfop::cbbEntrSaidChange(TObject *) { edtCdSerie->Clear(); }

namespace {
// The company's exit series, narrowed by its registrations as they are typed
// (an empty one is no filter): every series, or the one given.
std::vector<QueryArg> exitSeriesArgs(const TfrmResumoOficialCfop &s, std::optional<std::string> series)
{
    return {{"P_CDEMPRESA", s.medCdEmpresa->Text()},
            {"P_CDINSCESTA", s.edtInscricao->Text()},
            {"P_CDINSCMUNI", s.edtInscricaoM->Text()},
            {"P_CDSERIE", std::move(series)}};
}
} // namespace

void TfrmResumoOficialCfop::btpSerieNFBeforePesq(TObject *, bool &)
{
    switch (cbbEntrSaid->ItemIndex()) {
    case 0:
        btpSerieNF->SetDataSource(dtsSerieEntr);
        qrySerieEntr->Reopen({{"P_CDSERIE", std::nullopt}});
        btpSerieNF->EmptyError = msgPadrao->Msg("serieNCadEntr");
        btpSerieNF->Title = msgPadrao->Msg("serieEntr");
        break;
    case 1:
        btpSerieNF->SetDataSource(dtsSerieNF);
        qrySerieNF->Reopen(exitSeriesArgs(*this, std::nullopt));
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
            qrySerieEntr->Reopen({{"P_CDSERIE", edtCdSerie->Text()}});
            if (qrySerieEntr->IsEmpty())
                Report("Serie_NCad");
            break;
        case 1:
            qrySerieNF->Reopen(exitSeriesArgs(*this, edtCdSerie->Text()));
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
