// The report catalogue: which fields each report takes.
#include "catalogue.h"
#include "screen_private.h"

#include <initializer_list>

namespace {

constexpr GroupRule On = GroupRule::Enabled, Off = GroupRule::Disabled, Emptied = GroupRule::DisabledEmptied,
                    Kept = GroupRule::Kept;

// One row per report; the first is the default.
const CatalogueRow kCatalogue[] = {
    {.title = ReportTitles::Resumo,
     .registrationCaption = "Inscr. Estadual",
     .registrationColor = clWindow,
     .state = Kept, .municipal = Kept, .products = Emptied, .series = Emptied, .number = Emptied,
     .entryExit = On, .cfop = On, .branch = Emptied, .operationTypes = Off, .models = Off},
    {.title = ReportTitles::Analitico,
     .registrationCaption = "Inscr. Estadual",
     .registrationColor = clInfoBk,
     .state = On, .municipal = On, .products = On, .series = On, .number = On,
     .entryExit = On, .cfop = On, .branch = Emptied, .operationTypes = Off, .models = Off},
    {.title = ReportTitles::RelacaoNotas,
     .registrationCaption = "Inscr. Estadual",
     .registrationColor = clWindow,
     .state = On, .municipal = Kept, .products = On, .series = Emptied, .number = Emptied,
     .entryExit = On, .cfop = Emptied, .branch = On, .operationTypes = On, .models = On},
    {.title = ReportTitles::IcmsSt,
     .registrationCaption = "Inscrição ST",
     .registrationColor = clWindow,
     .state = Kept, .municipal = Off, .products = On, .series = Emptied, .number = Emptied,
     .entryExit = On, .cfop = On, .branch = Emptied, .operationTypes = On, .models = Off},
    {.title = ReportTitles::Ressarcimento,
     .registrationCaption = "Inscr. Estadual",
     .registrationColor = clWindow,
     .state = Kept, .municipal = Off, .products = On, .series = Emptied, .number = Emptied,
     .entryExit = Off, .cfop = Emptied, .branch = Emptied, .operationTypes = On, .models = Off},
    {.title = ReportTitles::MapaFiscal,
     .registrationCaption = "Inscr. Estadual",
     .registrationColor = clWindow,
     .state = Kept, .municipal = Off, .products = Emptied, .series = Emptied, .number = Emptied,
     .entryExit = Off, .cfop = Emptied, .branch = Emptied, .operationTypes = Off, .models = Off},
    {.title = ReportTitles::CstAliquota,
     .registrationCaption = "Inscr. Estadual",
     .registrationColor = clWindow,
     .state = Kept, .municipal = Kept, .products = Emptied, .series = Emptied, .number = Emptied,
     .entryExit = On, .cfop = On, .branch = Emptied, .operationTypes = Off, .models = Off},
    // The apuração is the state's book: a month of one registration, every CFOP.
    {.title = ReportTitles::ApuracaoIcms,
     .registrationCaption = "Inscr. Estadual",
     .registrationColor = clWindow,
     .state = Kept, .municipal = Off, .products = Emptied, .series = Emptied, .number = Emptied,
     .entryExit = Off, .cfop = Emptied, .branch = Emptied, .operationTypes = Off, .models = Off},
};

// A group of controls that always share one enabled state, and the edits
// emptied when the catalogue disables it with emptying.
void apply(GroupRule rule, std::initializer_list<TControl *> controls, std::initializer_list<TCustomEdit *> emptied = {})
{
    switch (rule) {
    case GroupRule::Kept:
        return;
    case GroupRule::DisabledEmptied:
        // The edit's own clear: its change handler runs as for typing.
        for (TCustomEdit *e : emptied)
            e->Clear();
        [[fallthrough]];
    case GroupRule::Disabled:
        for (TControl *c : controls)
            c->SetEnabled(false);
        return;
    case GroupRule::Enabled:
        for (TControl *c : controls)
            c->SetEnabled(true);
        return;
    }
}

} // namespace

const CatalogueRow &DefaultCatalogueRow() { return kCatalogue[0]; }

const CatalogueRow &CatalogueRowFor(const std::string &title)
{
    for (const CatalogueRow &row : kCatalogue)
        if (title == row.title)
            return row;
    return DefaultCatalogueRow();
}

void TfrmResumoOficialCfop::cbbReportNamesChange(TObject *)
{
    // An existing tax switches the registrations for the new report first;
    // an unregistered one ends the change here.
    Vd_Imposto(false);
    const CatalogueRow &row = CatalogueRowFor(ReportTitle());

    // The registration means a state or a substitute registration by report;
    // its text goes when that meaning switches.
    if (lblInscricao->Caption() != row.registrationCaption) {
        lblInscricao->SetCaption(row.registrationCaption);
        edtInscricao->Clear();
    }
    edtInscricao->SetColor(row.registrationColor);

    apply(row.state, {lblInscricao, edtInscricao, btpInscricao});
    apply(row.municipal, {lblInscricaoM, edtInscricaoM, btpInscricaoM});
    apply(row.products, {lblProdInic, medProdInic, btnProdInic, lblProdFina, medProdFina, btnProdFin},
          {medProdInic, medProdFina});
    apply(row.series, {lblSerie, edtCdSerie, btpSerieNF}, {edtCdSerie});
    apply(row.number, {llblNrNota, medNrNotaFisc}, {medNrNotaFisc});
    apply(row.entryExit, {Label4, cbbEntrSaid});
    apply(row.cfop, {lblCFOP, medCFOp}, {medCFOp});
    apply(row.branch, {lblFiliOrig, medFiliOrig, btnFiliOrig}, {medFiliOrig, edtNmFiliOrig});
    apply(row.operationTypes, {grbTpOperacao, rdbTodosTp, rdbListaTp});
    apply(row.models, {grbModDoc, rdbTodosMod, rdbListaMod});
}
