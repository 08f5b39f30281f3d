#include "vdl/DateEditPlus.h"

#include "rtl/streaming.h"
#include "vdl/Consiste.h"

// Property names compare by length first.
using namespace std::string_view_literals;

TDateEditPlus::TDateEditPlus(TComponent *owner) : TMaskEdit(owner) { SetEditMask("99/99/9999;1; "); }

bool TDateEditPlus::IsEmpty() const { return Consiste::EmptyString(Text()); }

void TDateEditPlus::CheckValidDate()
{
    if (IsEmpty())
        return;
    if (!ParseDateBr(Text()))
        Consiste::MensErro("'" + Text() + "' não é uma data válida.", true);
}

TColor TDateEditPlus::TextColor() const
{
    return !IsEmpty() && ParseDateBr(Text()) ? ValidDateColor : Font().Color;
}

TDateTime TDateEditPlus::GetDate() const
{
    if (IsEmpty())
        return TDateTime(0.0);
    auto d = ParseDateBr(Text());
    if (!d)
        throw EConvertError("'" + Text() + "' não é uma data válida.");
    return *d;
}

void TDateEditPlus::SetDate(TDateTime date) { SetText(FormatDate(date)); }

bool TDateEditPlus::SetProperty(const PropertyDesc &p, LoadContext &ctx)
{
    if (p.name == "ValidDateColor"sv) {
        auto c = StringToColor(PropString(p));
        if (!c)
            throw EComponentError("Cor desconhecida '" + PropString(p) + "'.");
        ValidDateColor = *c;
    } else if (p.name == "SaveTime"sv) SaveTime = PropBool(p);
    else if (p.name == "NomeSemana"sv) NomeSemana = PropStrings(p);
    else if (p.name == "Glyph"sv) {
    } else return TMaskEdit::SetProperty(p, ctx);
    return true;
}
