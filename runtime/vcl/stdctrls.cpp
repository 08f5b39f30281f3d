#include "vcl/stdctrls.h"

#include "rtl/utf8.h"
#include "vcl/forms.h"
#include "rtl/streaming.h"

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
    selectedAll_ = false;
    Editing([&] { StoreText(text); });
}

bool TCustomEdit::TypeKey(char32_t key)
{
    if (charCase_ == ecUpperCase)
        key = utf8::toUpper(key);
    std::u32string current = selectedAll_ ? std::u32string() : utf8::decode(text_);
    if (maxLength_ > 0 && static_cast<int>(current.size()) >= maxLength_)
        return false;
    current.push_back(key);
    selectedAll_ = false;
    Editing([&] { text_ = utf8::encode(current); });
    return true;
}

void TCustomEdit::DeleteSelection()
{
    if (!selectedAll_)
        return;
    selectedAll_ = false;
    Editing([&] { text_.clear(); });
}

bool TCustomEdit::SetProperty(const PropertyDesc &p, LoadContext &ctx)
{
    if (p.name == "Text"sv) StoreText(PropString(p));
    else if (p.name == "MaxLength"sv) maxLength_ = PropInt(p);
    else if (p.name == "CharCase"sv) {
        const std::string &v = PropString(p);
        charCase_ = v == "ecUpperCase" ? ecUpperCase : v == "ecLowerCase" ? ecLowerCase : ecNormal;
    } else if (p.name == "ReadOnly"sv) {
    } else if (p.name == "OnChange"sv) ctx.BindEvent(*this, p, OnChange);
    else return TWinControl::SetProperty(p, ctx);
    return true;
}

TMaskEdit::TMaskEdit(TComponent *owner) : TCustomEdit(owner) {}

void TMaskEdit::SetEditMask(const std::string &mask)
{
    if (mask == engine_.mask())
        return;
    if (!engine_.hasMask() && !mask.empty()) {
        const std::string plain = TCustomEdit::Text();
        Editing([&] {
            engine_.setMask(mask);
            engine_.setText(plain);
        });
        return;
    }
    Editing([&] { engine_.setMask(mask); });
}

std::string TMaskEdit::Text() const { return engine_.hasMask() ? engine_.text() : TCustomEdit::Text(); }

std::string TMaskEdit::DisplayText() const
{
    return engine_.hasMask() ? engine_.displayText() : TCustomEdit::DisplayText();
}

void TMaskEdit::StoreText(const std::string &text)
{
    if (engine_.hasMask())
        engine_.setText(text);
    else
        TCustomEdit::StoreText(text);
}

void TMaskEdit::SelectAll()
{
    if (engine_.hasMask())
        engine_.selectAll();
    else
        TCustomEdit::SelectAll();
}

bool TMaskEdit::TypeKey(char32_t key)
{
    if (!engine_.hasMask())
        return TCustomEdit::TypeKey(key);
    if (CharCase() == ecUpperCase)
        key = utf8::toUpper(key);
    bool accepted = false;
    Editing([&] { accepted = engine_.typeKey(key); });
    return accepted;
}

void TMaskEdit::DeleteSelection()
{
    if (!engine_.hasMask())
        return TCustomEdit::DeleteSelection();
    Editing([&] { engine_.deleteSelection(); });
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
    itemIndex_ = -1;
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
    else if (p.name == "Style"sv) {
        const std::string &v = PropString(p);
        style_ = v == "csDropDownList" ? csDropDownList : v == "csSimple" ? csSimple : csDropDown;
    } else if (p.name == "OnChange"sv) ctx.BindEvent(*this, p, OnChange);
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
