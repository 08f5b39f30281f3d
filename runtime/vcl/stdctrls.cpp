#include "vcl/stdctrls.h"

#include "rtl/utf8.h"
#include "vcl/forms.h"
#include "rtl/streaming.h"

#include <algorithm>

// Property names compare by length first.
using namespace std::string_view_literals;

TLabel::TLabel(TComponent *owner) : TGraphicControl(owner) {}

bool TBevel::SetProperty(const PropertyDesc &p, LoadContext &ctx)
{
    if (p.name == "Shape"sv || p.name == "Style"sv)
        return true;  // drawing only
    return TGraphicControl::SetProperty(p, ctx);
}

TCustomEdit::TCustomEdit(TComponent *owner) : TWinControl(owner) { SetColor(clWindow); }

void TCustomEdit::NotifyChange()
{
    Changed(ControlProperty::Text);
    if (OnChange && !IsLoading())
        OnChange(this);
}

void TCustomEdit::SetText(const std::string &text)
{
    Editing([&] { engine_.setText(text); });
}

void TCustomEdit::SetMaxLength(int n)
{
    maxLength_ = n;
    engine_.setMaxLength(n);
}

void TCustomEdit::SetCharCase(TEditCharCase c)
{
    charCase_ = c;
    engine_.setCharCase(c == ecUpperCase   ? MaskEngine::Case::Upper
                        : c == ecLowerCase ? MaskEngine::Case::Lower
                                           : MaskEngine::Case::Keep);
}

void TCustomEdit::SetSelection(int anchor, int caret)
{
    Editing([&] { engine_.setSelection(anchor, caret); });
}

void TCustomEdit::SelectAll()
{
    Editing([&] { engine_.selectAll(); });
}

bool TCustomEdit::TypeKey(char32_t key)
{
    // A mask keeps its own case rules; the edit's case applies on top.
    if (charCase_ == ecUpperCase)
        key = utf8::toUpper(key);
    bool accepted = false;
    Editing([&] { accepted = engine_.typeKey(key); });
    return accepted;
}

void TCustomEdit::Paste(const std::string &text)
{
    Editing([&] { engine_.paste(charCase_ == ecUpperCase ? utf8::upper(text) : text); });
}

void TCustomEdit::DeleteSelection()
{
    Editing([&] { engine_.deleteSelection(); });
}

void TCustomEdit::Backspace()
{
    Editing([&] { engine_.backspace(); });
}

bool TCustomEdit::KeyDown(TKey key, TShiftState shift)
{
    const bool extend = (shift & ssShift) != 0;
    switch (key) {
    case TKey::Left: Editing([&] { engine_.setCaret(engine_.caret() - 1, extend); }); return true;
    case TKey::Right: Editing([&] { engine_.setCaret(engine_.caret() + 1, extend); }); return true;
    case TKey::Home: Editing([&] { engine_.setCaret(0, extend); }); return true;
    case TKey::End: Editing([&] { engine_.setCaret(engine_.length(), extend); }); return true;
    case TKey::Delete: DeleteSelection(); return true;
    case TKey::Backspace: Backspace(); return true;
    case TKey::A:
        if (shift != ssCtrl)
            return false;
        SelectAll();
        return true;
    default: return false;
    }
}

bool TCustomEdit::SetProperty(const PropertyDesc &p, LoadContext &ctx)
{
    if (p.name == "Text"sv) engine_.setText(PropString(p));
    else if (p.name == "MaxLength"sv) SetMaxLength(PropInt(p));
    else if (p.name == "CharCase"sv)
        SetCharCase(PropEnum<TEditCharCase>(p, {{"ecNormal", ecNormal}, {"ecUpperCase", ecUpperCase}, {"ecLowerCase", ecLowerCase}}));
    else if (p.name == "ReadOnly"sv) {
    } else if (p.name == "OnChange"sv) ctx.BindEvent(*this, p, OnChange);
    else return TWinControl::SetProperty(p, ctx);
    return true;
}

TMaskEdit::TMaskEdit(TComponent *owner) : TCustomEdit(owner) {}

void TMaskEdit::SetEditMask(const std::string &mask)
{
    Editing([&] { engine_.setMask(mask); });
}

bool TMaskEdit::SetProperty(const PropertyDesc &p, LoadContext &ctx)
{
    if (p.name == "EditMask"sv) {
        engine_.setMask(PropString(p));
        return true;
    }
    return TCustomEdit::SetProperty(p, ctx);
}

TComboBox::TComboBox(TComponent *owner) : TWinControl(owner) { SetColor(clWindow); }

void TComboBox::SetItems(std::vector<std::string> items)
{
    items_ = std::move(items);
    notes_.clear();
    if (itemIndex_ >= static_cast<int>(items_.size()))
        itemIndex_ = -1;
    Changed(ControlProperty::Items);
}

void TComboBox::AddItem(const std::string &item)
{
    items_.push_back(item);
    Changed(ControlProperty::Items);
}

void TComboBox::ClearItems()
{
    items_.clear();
    notes_.clear();
    itemIndex_ = -1;
    Changed(ControlProperty::Items);
}

const std::string &TComboBox::ItemNote(int index) const
{
    static const std::string none;
    return index >= 0 && index < static_cast<int>(notes_.size()) ? notes_[static_cast<std::size_t>(index)] : none;
}

void TComboBox::SetItemNote(int index, const std::string &note)
{
    if (index < 0 || index >= static_cast<int>(items_.size()) || ItemNote(index) == note)
        return;
    if (index >= static_cast<int>(notes_.size()))
        notes_.resize(static_cast<std::size_t>(index) + 1);
    notes_[static_cast<std::size_t>(index)] = note;
    Changed(ControlProperty::Items);
}

void TComboBox::SetItemIndex(int index)
{
    // As on screen, an index past the list selects nothing rather than failing.
    if (index < -1 || index >= static_cast<int>(items_.size()))
        index = -1;
    itemIndex_ = index;
    Changed(ControlProperty::ItemIndex);
}

std::string TComboBox::Text() const
{
    return itemIndex_ >= 0 ? items_[static_cast<std::size_t>(itemIndex_)] : std::string();
}

void TComboBox::PickItem(int index)
{
    SetItemIndex(index);
    if (OnChange && !IsLoading())
        OnChange(this);
}

bool TComboBox::SetProperty(const PropertyDesc &p, LoadContext &ctx)
{
    if (p.name == "Items"sv) items_ = PropStrings(p);
    else if (p.name == "ItemIndex"sv) itemIndex_ = PropInt(p);
    else if (p.name == "ItemHeight"sv) itemHeight_ = PropInt(p);
    else if (p.name == "Style"sv)
        style_ = PropEnum<TComboBoxStyle>(p, {{"csDropDown", csDropDown}, {"csSimple", csSimple}, {"csDropDownList", csDropDownList}});
    else if (p.name == "OnChange"sv) ctx.BindEvent(*this, p, OnChange);
    else return TWinControl::SetProperty(p, ctx);
    return true;
}

TRadioButton::TRadioButton(TComponent *owner) : TWinControl(owner) {}

void TRadioButton::SetChecked(bool checked)
{
    if (checked && Parent())
        for (TControl *c : Parent()->Controls())
            if (auto *r = dynamic_cast<TRadioButton *>(c); r && r != this && r->checked_) {
                r->checked_ = false;
                r->Changed(ControlProperty::Checked);
            }
    if (checked_ == checked)
        return;
    checked_ = checked;
    Changed(ControlProperty::Checked);
}

void TRadioButton::Click()
{
    SetChecked(true);
    TWinControl::Click();
}

std::vector<TRadioButton *> TRadioButton::Group() const
{
    std::vector<TRadioButton *> group;
    if (Parent())
        for (TWinControl *w : Parent()->TabList())
            if (auto *r = dynamic_cast<TRadioButton *>(w))
                group.push_back(r);
    return group;
}

bool TRadioButton::IsTabStop() const
{
    if (!TabStop() && !checked_)
        return false;
    if (checked_)
        return true;
    // With nothing checked the first usable button of the group stands for it.
    const std::vector<TRadioButton *> group = Group();
    if (std::any_of(group.begin(), group.end(), [](const TRadioButton *r) { return r->checked_; }))
        return false;
    auto first = std::find_if(group.begin(), group.end(), [](const TRadioButton *r) { return r->IsUsable(); });
    return first != group.end() && *first == this;
}

bool TRadioButton::KeyDown(TKey key, TShiftState shift)
{
    if (shift != ssNone)
        return false;
    int step = 0;
    if (key == TKey::Down || key == TKey::Right) step = 1;
    else if (key == TKey::Up || key == TKey::Left) step = -1;
    else if (key == TKey::Space) {
        Click();
        return true;
    } else return false;
    std::vector<TRadioButton *> usable;
    for (TRadioButton *r : Group())
        if (r->IsUsable())
            usable.push_back(r);
    auto at = std::find(usable.begin(), usable.end(), this);
    if (usable.size() < 2 || at == usable.end())
        return true;
    const auto n = static_cast<long>(usable.size());
    TRadioButton *next = usable[static_cast<std::size_t>(((at - usable.begin()) + step + n) % n)];
    // As on the desktop: the arrow moves the focus and checks, running the click.
    next->SetFocus();
    if (next->Focused())
        next->Click();
    return true;
}

bool TRadioButton::SetProperty(const PropertyDesc &p, LoadContext &ctx)
{
    if (p.name == "Checked"sv) {
        checked_ = PropBool(p);
        return true;
    }
    return TWinControl::SetProperty(p, ctx);
}

TGroupBox::TGroupBox(TComponent *owner) : TWinControl(owner) {}

TPanel::TPanel(TComponent *owner) : TWinControl(owner) {}

bool TPanel::SetProperty(const PropertyDesc &p, LoadContext &ctx)
{
    if (p.name == "Align"sv || p.name == "BevelOuter"sv || p.name == "BevelInner"sv)
        return true;  // drawing only
    return TWinControl::SetProperty(p, ctx);
}

bool TSpeedButton::SetProperty(const PropertyDesc &p, LoadContext &ctx)
{
    if (p.name == "Flat"sv || p.name == "Glyph"sv || p.name == "NumGlyphs"sv)
        return true;  // drawing only
    return TGraphicControl::SetProperty(p, ctx);
}

void RegisterStandardControls()
{
    RegisterComponentClass<TLabel>("TLabel");
    RegisterComponentClass<TBevel>("TBevel");
    RegisterComponentClass<TEdit>("TEdit");
    RegisterComponentClass<TMaskEdit>("TMaskEdit");
    RegisterComponentClass<TComboBox>("TComboBox");
    RegisterComponentClass<TRadioButton>("TRadioButton");
    RegisterComponentClass<TGroupBox>("TGroupBox");
    RegisterComponentClass<TPanel>("TPanel");
    RegisterComponentClass<TButton>("TButton");
    RegisterComponentClass<TSpeedButton>("TSpeedButton");
}
