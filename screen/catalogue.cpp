// The report catalogue: which fields each report takes.
#include "screen_private.h"

#include <initializer_list>
#include <vector>

namespace {

enum class Cell { On, Off, OffEmptied, Left };

struct Column {
    const char *title;  // nullptr: any other title
    const char *registrationCaption;
    Cell state, municipal, products, series, number, entryExit, cfop, branch, operationTypes, models;
    TColor registrationColor;
};

constexpr Cell On = Cell::On, Off = Cell::Off, Emptied = Cell::OffEmptied, Left = Cell::Left;

// state, municipal, products, series, number, entry/exit, CFOP, branch, operation types, models
const Column kColumns[] = {
    {ReportTitles::Analitico, "Inscr. Estadual", On, On, On, On, On, On, On, Emptied, Off, Off, clInfoBk},
    {ReportTitles::RelacaoNotas, "Inscr. Estadual", On, Left, On, Emptied, Emptied, On, Emptied, On, On, On, clWindow},
    {ReportTitles::IcmsSt, "Inscrição ST", Left, Off, On, Emptied, Emptied, On, On, Emptied, On, Off, clWindow},
    {ReportTitles::Ressarcimento, "Inscr. Estadual", Left, Off, On, Emptied, Emptied, Off, Emptied, Emptied, On, Off,
     clWindow},
    {ReportTitles::MapaFiscal, "Inscr. Estadual", Left, Off, Emptied, Emptied, Emptied, Off, Emptied, Emptied, Off,
     Off, clWindow},
    {nullptr, "Inscr. Estadual", Left, Left, Emptied, Emptied, Emptied, On, On, Emptied, Off, Off, clWindow},
};

const Column &columnFor(const std::string &title)
{
    for (const Column &c : kColumns)
        if (c.title && title == c.title)
            return c;
    return kColumns[std::size(kColumns) - 1];
}

// A group of controls that always share one enabled state, and the edits
// emptied when the catalogue disables it with emptying.
void apply(Cell cell, std::initializer_list<TControl *> controls, std::initializer_list<TCustomEdit *> emptied = {})
{
    switch (cell) {
    case Cell::Left:
        return;
    case Cell::OffEmptied:
        // The edit's own clear: its change handler runs as for typing.
        for (TCustomEdit *e : emptied)
            e->Clear();
        [[fallthrough]];
    case Cell::Off:
        for (TControl *c : controls)
            c->SetEnabled(false);
        return;
    case Cell::On:
        for (TControl *c : controls)
            c->SetEnabled(true);
        return;
    }
}

} // namespace

void TfrmResumoOficialCfop::cbbReportNamesChange(TObject *)
{
    // An existing tax switches the registrations for the new report first;
    // an unregistered one ends the change here.
    Vd_Imposto(false);
    const Column &column = columnFor(ReportTitle());

    // The registration means a state or a substitute registration by report;
    // its text goes when that meaning switches.
    if (lblInscricao->Caption() != column.registrationCaption) {
        lblInscricao->SetCaption(column.registrationCaption);
        edtInscricao->Clear();
    }
    edtInscricao->SetColor(column.registrationColor);

    apply(column.state, {lblInscricao, edtInscricao, btpInscricao});
    apply(column.municipal, {lblInscricaoM, edtInscricaoM, btpInscricaoM});
    apply(column.products, {lblProdInic, medProdInic, btnProdInic, lblProdFina, medProdFina, btnProdFin},
          {medProdInic, medProdFina});
    apply(column.series, {lblSerie, edtCdSerie, btpSerieNF}, {edtCdSerie});
    apply(column.number, {llblNrNota, medNrNotaFisc}, {medNrNotaFisc});
    apply(column.entryExit, {Label4, cbbEntrSaid});
    apply(column.cfop, {lblCFOP, medCFOp}, {medCFOp});
    apply(column.branch, {lblFiliOrig, medFiliOrig, btnFiliOrig}, {medFiliOrig, edtNmFiliOrig});
    apply(column.operationTypes, {grbTpOperacao, rdbTodosTp, rdbListaTp});
    apply(column.models, {grbModDoc, rdbTodosMod, rdbListaMod});
}
