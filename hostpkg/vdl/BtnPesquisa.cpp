#include "vdl/BtnPesquisa.h"

#include "data/dataset.h"
#include "rtl/streaming.h"
#include "vdl/picktable.h"

// Property names compare by length first.
using namespace std::string_view_literals;

TBtnPesquisa::TBtnPesquisa(TComponent *owner) : TSpeedButton(owner) {}

void TBtnPesquisa::Click()
{
    if (OnClick) {
        OnClick(this);
        return;
    }
    bool proceed = true;
    if (OnBeforePesq)
        OnBeforePesq(this, proceed);
    if (!proceed)
        return;
    TDataSet *ds = dataSource_ ? dataSource_->DataSet : nullptr;
    if (!ds || ds->IsEmpty()) {
        WidgetSet().ShowMessage(EmptyError.empty() ? "Nenhum registro encontrado." : EmptyError,
                                MessageKind::Information);
        return;
    }
    const std::string title = Title.empty() ? "Pesquisar" : Title;
    std::optional<int> row;
    if (PesqType == ptArvore) {
        PickTable table = BuildPickTable(*ds, FieldCodigo);
        std::vector<std::string> names;
        if (TField *name = ds->FindField(FieldNome)) {
            const int position = ds->RecNo();
            for (ds->First(); !ds->Eof(); ds->Next())
                names.push_back(name->AsString());
            MoveToRow(*ds, position > 0 ? position - 1 : 0);
        }
        row = WidgetSet().PickTreeRow(title, table, BuildPickTree(table, names));
    } else {
        row = WidgetSet().PickRow(title, BuildPickTable(*ds, {}));
    }
    if (!row)
        return;
    MoveToRow(*ds, *row);
    if (OnAfterPesq)
        OnAfterPesq(this);
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
    else if (n == "PesqType"sv) {
        const std::string &v = PropString(p);
        if (v != "ptArvore" && v != "ptLista")
            throw EComponentError("PesqType desconhecido '" + v + "'.");
        PesqType = v == "ptArvore" ? ptArvore : ptLista;
    } else if (n == "FieldNivel"sv) FieldNivel = PropString(p);
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
