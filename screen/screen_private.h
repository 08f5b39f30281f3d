#pragma once
// Private to the screen's sources: the failure guard its checks run under.
#include "Cli_Fis02800.h"

// On any failure: the focus goes to the field at fault, then the same error
// goes on. A field that cannot take the focus (disabled meanwhile) keeps the
// error from being lost.
template <class F>
void TfrmResumoOficialCfop::Guarded(TWinControl *field, F &&check)
{
    try {
        check();
    } catch (...) {
        if (field->CanFocus())
            field->SetFocus();
        throw;
    }
}
