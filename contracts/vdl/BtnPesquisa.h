#pragma once
// The lookup button: opens a pick list over a data source for the control it
// serves. Never takes the focus.
#include "vcl/stdctrls.h"

#include <functional>
#include <string>

class TDataSource;

enum TPesqType { ptLista, ptArvore };

using TBeforePesqEvent = std::function<void(TObject *, bool &)>;

class TBtnPesquisa : public TSpeedButton {
public:
    explicit TBtnPesquisa(TComponent *owner);
    const char *ClassName() const override { return "TBtnPesquisa"; }

    TWinControl *Associate = nullptr;
    AnsiString Title;
    AnsiString EmptyError;
    TPesqType PesqType = ptLista;
    AnsiString FieldNivel, FieldCodigo, FieldNome;
    bool PesqChave = false;

    TDataSource *DataSource() const { return dataSource_; }
    void SetDataSource(TDataSource *source) { dataSource_ = source; }

    // Raised before the list opens; clearing the flag cancels the lookup.
    TBeforePesqEvent OnBeforePesq;
    // Raised with the data set on the picked row.
    TNotifyEvent OnAfterPesq;

    // With OnClick bound the button is a plain button. Otherwise: before
    // handler, then the pick list (or EmptyError when there is no row), then
    // the after handler on the picked row.
    void Click() override;
    // The lookup key in `Associate` clicks this button.
    TWinControl *ServedControl() const override { return Associate; }

    bool SetProperty(const PropertyDesc &prop, LoadContext &ctx) override;
    void Notification(TComponent *component) override;

private:
    TDataSource *dataSource_ = nullptr;
};
