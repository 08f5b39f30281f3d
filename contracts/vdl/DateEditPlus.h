#pragma once
// A date edit: masked "99/99/9999;1; ", shows and takes dd/mm/yyyy.
#include "rtl/datetime.h"
#include "vcl/stdctrls.h"

#include <string>
#include <vector>

class TDateEditPlus : public TMaskEdit {
public:
    explicit TDateEditPlus(TComponent *owner);
    const char *ClassName() const override { return "TDateEditPlus"; }

    // An empty edit passes (a person may leave a date empty); any other text
    // that is no valid date shows one message and aborts silently.
    void CheckValidDate();
    // The date typed; the zero date-time (1899-12-30) when the edit is empty.
    // Raises EConvertError on a text that is no date.
    TDateTime GetDate() const;
    void SetDate(TDateTime date);
    bool IsEmpty() const;
    // The colour the text is shown in: ValidDateColor while it holds a valid date.
    TColor TextColor() const;

    TColor ValidDateColor = clBlue;
    bool SaveTime = false;
    std::vector<std::string> NomeSemana;

    bool SetProperty(const PropertyDesc &prop, LoadContext &ctx) override;
};
