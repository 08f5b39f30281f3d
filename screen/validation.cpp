// The whole screen before a report action, and the report query's parameters.
#include "screen_private.h"

#include "Qrddlgs.h"
#include "vdl/Consiste.h"

void TfrmResumoOficialCfop::Vd_ValidaCampos(bool forRun)
{
    const std::string title = ReportTitle();
    auto periodOrder = [this] {
        depDtInicial->CheckValidDate();
        depDtFinal->CheckValidDate();
        if (!Consiste::EmptyString(depDtInicial->Text()) && !Consiste::EmptyString(depDtFinal->Text()) &&
            depDtInicial->GetDate() > depDtFinal->GetDate()) {
            depDtInicial->SetFocus();
            Report("DtIni_inv");
        }
    };
    // Texts compared byte by byte: "9" comes after "10".
    auto productRange = [this] {
        const std::string first = medProdInic->Text(), last = medProdFina->Text();
        const bool firstEmpty = Consiste::EmptyString(first), lastEmpty = Consiste::EmptyString(last);
        if (!firstEmpty && lastEmpty) {
            medProdFina->SetFocus();
            Report("ProdFina_Inf");
        } else if (firstEmpty && !lastEmpty) {
            medProdInic->SetFocus();
            Report("ProdIni_Inf");
        }
        if (!firstEmpty && !lastEmpty && first > last) {
            medProdInic->SetFocus();
            Report("Prod_Maior");
        }
    };

    Vd_Empresa(forRun);
    Vd_InscEsta();
    if (forRun)
        Vd_Datas();
    periodOrder();
    if (title == ReportTitles::RelacaoNotas) {
        if (forRun) {
            Vd_ProdutoIni(medProdInic, edtProdInic);
            Vd_ProdutoFin(medProdFina, edtProdFina);
            productRange();
        }
        Vd_FiliOrig();
        Vd_TipoOper();
        Vd_Modelo();
    } else if (title == ReportTitles::Analitico) {
        if (forRun) {
            if (edtInscricao->Text().empty()) {
                edtInscricao->SetFocus();
                Report("InscEsta_Inf");
            }
            Vd_ProdutoIni(medProdInic, edtProdInic);
            Vd_ProdutoFin(medProdFina, edtProdFina);
            productRange();
        }
        Vd_Serie();
    }
}

void TfrmResumoOficialCfop::rpddPadraoBeforeGetQueryParams(TParams *Params, bool &)
{
    auto declared = [Params](const char *name) { return ExistParam(Params, name); };
    auto set = [Params](const char *name, const Variant &value) { Params->ParamByName(name)->SetAsVariant(value); };

    if (declared("P_CDEMPRESA"))
        set("P_CDEMPRESA", medCdEmpresa->Text());
    if (declared("P_DTINICIAL"))
        set("P_DTINICIAL", depDtInicial->GetDate());
    if (declared("P_DTFINAL"))
        set("P_DTFINAL", depDtFinal->GetDate());
    if (declared("P_CDIMPOSTO"))
        set("P_CDIMPOSTO", medCdImposto->Text());
    // No entry selected gives neither the filter nor its flag.
    if (const int entry = cbbEntrSaid->ItemIndex(); entry >= 0 && entry <= 2)
        SetFilterWithFlag(*Params, "P_IDENTRSAIDOP", entry == 0 ? "E" : entry == 1 ? "S" : "");
    SetFilterWithFlag(*Params, "P_CDCFOP", medCFOp->Text());
    SetFilterWithFlag(*Params, "P_CDINSCESTA", edtInscricao->Text());
    SetFilterWithFlag(*Params, "P_CDINSCMUNI", edtInscricaoM->Text());
    const std::pair<const char *, std::string> plain[] = {
        {"P_NRNOTAFISC", medNrNotaFisc->Text()}, {"P_PRODUTOINI", medProdInic->Text()},
        {"P_PRODUTOFIN", medProdFina->Text()},   {"P_CDSERIE", edtCdSerie->Text()},
        {"P_CDFILIAL", medFiliOrig->Text()},
    };
    for (const auto &[name, value] : plain)
        if (declared(name))
            set(name, Consiste::EmptyString(value) ? std::string() : value);
    // A list filters only while its "Lista" is checked: one held from an
    // earlier screen must not narrow a report that shows "Todos".
    SetFilterWithFlag(*Params, "P_CDTIPOOPER", rdbListaTp->Checked() ? stListaTp : std::string());
    SetFilterWithFlag(*Params, "P_CDMODDOCFISC", rdbListaMod->Checked() ? stListaMod : std::string());
}
