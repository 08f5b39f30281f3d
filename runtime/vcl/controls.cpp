#include "vcl/controls.h"

#include "vcl/forms.h"
#include "rtl/streaming.h"

#include <algorithm>

// Property names compare by length first.
using namespace std::string_view_literals;

TControl::TControl(TComponent *owner) : TComponent(owner) {}

TControl::~TControl()
{
    if (parent_) {
        if (TCustomForm *form = GetParentForm())
            form->DropFocus(this);
        auto &siblings = parent_->controls_;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    }
}

void TControl::SetParent(TWinControl *parent)
{
    if (parent == parent_)
        return;
    if (parent_) {
        auto &siblings = parent_->controls_;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    }
    parent_ = parent;
    if (parent_)
        parent_->controls_.push_back(this);
    if (parentFont_ && parent_)
        font_ = parent_->Font();
}

void TControl::SetParentComponent(TComponent *parent)
{
    if (parent_ == nullptr)
        if (auto *container = CachedCast<TWinControl>(parent))
            SetParent(container);
}

void TControl::SetBounds(int left, int top, int width, int height)
{
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    Changed(ControlProperty::Bounds);
}

void TControl::SetEnabled(bool enabled)
{
    if (enabled_ == enabled)
        return;
    enabled_ = enabled;
    Changed(ControlProperty::Enabled);
}

void TControl::SetVisible(bool visible)
{
    if (visible_ == visible)
        return;
    visible_ = visible;
    if (!visible)
        if (TCustomForm *form = GetParentForm())
            if (form != this)
                form->DropFocus(this);
    Changed(ControlProperty::Visible);
}

bool TControl::IsUsable() const
{
    for (const TControl *c = this; c; c = c->parent_) {
        if (!c->enabled_ || !c->visible_)
            return false;
    }
    return true;
}

void TControl::SetCaption(const std::string &caption)
{
    if (caption_ == caption)
        return;
    caption_ = caption;
    Changed(ControlProperty::Caption);
}

void TControl::SetColor(TColor color)
{
    if (color_ == color)
        return;
    color_ = color;
    Changed(ControlProperty::Color);
}

void TControl::SetFont(const TFont &font)
{
    font_ = font;
    parentFont_ = false;
    Changed(ControlProperty::Font);
    if (auto *w = CachedCast<TWinControl>(this))
        for (TControl *child : w->Controls())
            child->ParentFontChanged();
}

void TControl::ParentFontChanged()
{
    if (!parentFont_ || !parent_)
        return;
    font_ = parent_->Font();
    Changed(ControlProperty::Font);
    if (auto *w = CachedCast<TWinControl>(this))
        for (TControl *child : w->Controls())
            child->ParentFontChanged();
}

void TControl::SetHint(const std::string &hint)
{
    hint_ = hint;
    Changed(ControlProperty::Hint);
}

void TControl::Click()
{
    if (OnClick)
        OnClick(this);
}

TCustomForm *TControl::GetParentForm() const
{
    const TControl *c = this;
    while (c->parent_)
        c = c->parent_;
    return CachedCast<TCustomForm>(const_cast<TControl *>(c));
}

void TControl::AttachPeer(std::unique_ptr<ControlPeer> peer) { peer_ = std::move(peer); }

void TControl::Changed(ControlProperty what)
{
    if (peer_)
        peer_->Changed(what);
}

bool TControl::SetProperty(const PropertyDesc &p, LoadContext &ctx)
{
    const std::string &n = p.name;
    if (n == "Left"sv) left_ = PropInt(p);
    else if (n == "Top"sv) top_ = PropInt(p);
    else if (n == "Width"sv) width_ = PropInt(p);
    else if (n == "Height"sv) height_ = PropInt(p);
    else if (n == "Enabled"sv) enabled_ = PropBool(p);
    else if (n == "Visible"sv) visible_ = PropBool(p);
    else if (n == "Caption"sv) caption_ = PropString(p);
    else if (n == "Color"sv) {
        auto c = StringToColor(PropString(p));
        if (!c)
            throw EComponentError("Cor desconhecida '" + PropString(p) + "'.");
        color_ = *c;
    } else if (n == "Font.Name"sv) { font_.Name = PropString(p); parentFont_ = false; }
    else if (n == "Font.Size"sv) { font_.Size = PropInt(p); parentFont_ = false; }
    else if (n == "Font.Bold"sv) {
        font_.Bold = PropBool(p);
        parentFont_ = false;
        if (auto *w = CachedCast<TWinControl>(this))
            for (TControl *child : w->Controls())
                child->ParentFontChanged();
    } else if (n == "ParentFont"sv) parentFont_ = PropBool(p);
    else if (n == "Hint"sv) hint_ = PropString(p);
    else if (n == "ShowHint"sv) showHint_ = PropBool(p);
    else if (n == "ParentShowHint"sv) parentShowHint_ = PropBool(p);
    else if (n == "AutoSize"sv) autoSize_ = PropBool(p);
    else if (n == "OnClick"sv) ctx.BindEvent(*this, p, OnClick);
    else return TComponent::SetProperty(p, ctx);
    return true;
}

TWinControl::TWinControl(TComponent *owner) : TControl(owner) { SetColor(clBtnFace); }

TWinControl::~TWinControl()
{
    // Children owned elsewhere must not point back at a dead parent.
    for (TControl *c : std::vector<TControl *>(controls_))
        c->SetParent(nullptr);
}

void TWinControl::SetEnabled(bool enabled)
{
    if (!enabled)
        if (TCustomForm *form = GetParentForm())
            if (form != this)
                form->DropFocus(this);
    TControl::SetEnabled(enabled);
}

bool TWinControl::CanFocus() const
{
    if (!AcceptsFocus() || !IsUsable())
        return false;
    TCustomForm *form = GetParentForm();
    return form != nullptr && form != this;
}

bool TWinControl::Focused() const
{
    TCustomForm *form = GetParentForm();
    return form && form->ActiveControl() == this;
}

void TWinControl::SetFocus()
{
    TCustomForm *form = GetParentForm();
    if (!form)
        throw EInvalidOperation("O controle '" + Name() + "' não está em um formulário.");
    form->FocusControl(this);
}

std::vector<TWinControl *> TWinControl::TabList() const
{
    std::vector<TWinControl *> out;
    for (TControl *c : controls_)
        if (auto *w = CachedCast<TWinControl>(c))
            out.push_back(w);
    std::stable_sort(out.begin(), out.end(),
                     [](const TWinControl *a, const TWinControl *b) { return a->tabOrder_ < b->tabOrder_; });
    return out;
}

bool TWinControl::SetProperty(const PropertyDesc &p, LoadContext &ctx)
{
    if (p.name == "TabOrder"sv) tabOrder_ = PropInt(p);
    else if (p.name == "TabStop"sv) tabStop_ = PropBool(p);
    else if (p.name == "OnEnter"sv) ctx.BindEvent(*this, p, OnEnter);
    else if (p.name == "OnExit"sv) ctx.BindEvent(*this, p, OnExit);
    else return TControl::SetProperty(p, ctx);
    return true;
}
