#include "vdl/BtnPesquisa.h"

#include "data/dataset.h"
#include "rtl/streaming.h"
#include "vdl/pick_table.h"
#include "vdl/pick_tree.h"

#include <optional>

// Property names compare by length first.
using namespace std::string_view_literals;

TBtnPesquisa::TBtnPesquisa(TComponent *owner) : TSpeedButton(owner) {}

namespace {
// The busy indicator for as long as it lives.
struct Busy {
    Busy() { WidgetSet().ShowBusy(true); }
    ~Busy() { WidgetSet().ShowBusy(false); }
    Busy(const Busy &) = delete;
    Busy &operator=(const Busy &) = delete;
};
} // namespace

void TBtnPesquisa::Click()
{
    if (OnClick) {
        OnClick(this);
        return;
    }
    std::optional<Busy> busy;
    if (PesqType == ptArvore)
        busy.emplace();  // a tree can take a moment: busy from the click until it shows
    bool proceed = true;
    if (OnBeforePesq)
        OnBeforePesq(this, proceed);
    if (!proceed)
        return;
    TDataSet *ds = dataSource_ ? dataSource_->DataSet : nullptr;
    if (!ds || ds->IsEmpty()) {
        busy.reset();
        WidgetSet().ShowMessage(EmptyError.empty() ? "Nenhum registro encontrado." : EmptyError,
                                MessageKind::Information);
        return;
    }
    const std::string title = Title.empty() ? "Pesquisar" : Title;
    std::optional<int> row;
    if (PesqType == ptArvore) {
        {
            // Read in place: the tree holds positions, never copies of the
            // rows, and goes when the list closes.
            DataSetPickTree tree(*ds, FieldCodigo, FieldNome,
                                 ReadGroupNames(*ds, FieldCodigo, FieldNivel, FieldNome));
            busy.reset();
            row = WidgetSet().PickTreeRow(title, tree);
        }
        if (row)
            MoveToRow(*ds, *row);
        // A tree may stand on a million rows. Once its list has closed, only
        // the row left current is read again (the code is checked against it
        // when its field is left) before the next lookup reopens the data
        // set, so the others go now, picked or cancelled.
        ds->KeepCurrentRowOnly();
    } else {
        row = WidgetSet().PickRow(title, BuildPickTable(*ds, {}));
        if (row)
            MoveToRow(*ds, *row);
    }
    if (row && OnAfterPesq)
        OnAfterPesq(this);
    // Back in its field, picked or not, the next keys replace what it shows.
    if (Associate && Associate->Focused())
        Associate->EnteredByKeyboard();
}

bool TBtnPesquisa::SetProperty(const PropertyDesc &p, LoadContext &ctx)
{
    const std::string &n = p.name;
    if (n == "Associate"sv) {
        ctx.Defer(*this, p, [](TComponent &self, const PropertyDesc &prop, LoadContext &c) {
            static_cast<TBtnPesquisa &>(self).Associate = c.FindAs<TWinControl>(prop);
        });
    } else if (n == "DataSource"sv) {
        ctx.Defer(*this, p, [](TComponent &self, const PropertyDesc &prop, LoadContext &c) {
            static_cast<TBtnPesquisa &>(self).dataSource_ = c.FindAs<TDataSource>(prop);
        });
    } else if (n == "Title"sv) Title = PropString(p);
    else if (n == "EmptyError"sv) EmptyError = PropString(p);
    else if (n == "PesqType"sv)
        PesqType = PropEnum<TPesqType>(p, {{"ptLista", ptLista}, {"ptArvore", ptArvore}});
    else if (n == "FieldNivel"sv) FieldNivel = PropString(p);
    else if (n == "FieldCodigo"sv) FieldCodigo = PropString(p);
    else if (n == "FieldNome"sv) FieldNome = PropString(p);
    else if (n == "PesqChave"sv) PesqChave = PropBool(p);
    else if (n == "OnBeforePesq"sv) ctx.BindEvent(*this, p, OnBeforePesq);
    else if (n == "OnAfterPesq"sv) ctx.BindEvent(*this, p, OnAfterPesq);
    else return TSpeedButton::SetProperty(p, ctx);
    return true;
}

void TBtnPesquisa::Notification(TComponent *component)
{
    if (component == dataSource_)
        dataSource_ = nullptr;
    if (component == Associate)
        Associate = nullptr;
}
