#pragma once
// Controls: position, state and the parent chain that decides whether a
// person can use them.
#include "rtl/classes.h"
#include "vcl/graphics.h"
#include "vcl/widgetset.h"

#include <memory>
#include <string>
#include <vector>

class TWinControl;
class TCustomForm;

// Keys other than the characters a person types (those go to TypeKey).
enum class TKey { Tab, Enter, Escape, Space, Left, Right, Up, Down, Home, End, Delete, Backspace, A, F2, F3, F4 };
enum TShiftFlag : unsigned { ssNone = 0, ssShift = 1, ssAlt = 2, ssCtrl = 4 };
using TShiftState = unsigned;

class TControl : public TComponent {
public:
    explicit TControl(TComponent *owner);
    ~TControl() override;
    const char *ClassName() const override { return "TControl"; }

    TWinControl *Parent() const { return parent_; }
    void SetParent(TWinControl *parent);
    void SetParentComponent(TComponent *parent) override;

    int Left() const { return left_; }
    int Top() const { return top_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    void SetBounds(int left, int top, int width, int height);

    // The control's own enabled property.
    bool Enabled() const { return enabled_; }
    virtual void SetEnabled(bool enabled);
    bool Visible() const { return visible_; }
    void SetVisible(bool visible);
    // Enabled and visible, and so is every parent: a person can use it.
    bool IsUsable() const;

    const std::string &Caption() const { return caption_; }
    void SetCaption(const std::string &caption);
    TColor Color() const { return color_; }
    void SetColor(TColor color);
    const TFont &Font() const { return font_; }
    void SetFont(const TFont &font);
    const std::string &Hint() const { return hint_; }
    void SetHint(const std::string &hint);
    bool ShowHint() const { return showHint_; }
    bool ParentShowHint() const { return parentShowHint_; }
    bool ParentFont() const { return parentFont_; }
    bool AutoSize() const { return autoSize_; }

    TNotifyEvent OnClick;
    // A person's click; runs the click event.
    virtual void Click();

    // The control this one serves (a lookup button's edit), if any.
    virtual TWinControl *ServedControl() const { return nullptr; }

    TCustomForm *GetParentForm() const;
    ControlPeer *Peer() const { return peer_.get(); }
    void AttachPeer(std::unique_ptr<ControlPeer> peer);

    bool SetProperty(const PropertyDesc &prop, LoadContext &ctx) override;

protected:
    void Changed(ControlProperty what);
    void ParentFontChanged();

private:
    TWinControl *parent_ = nullptr;
    int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    bool enabled_ = true;
    bool visible_ = true;
    std::string caption_;
    TColor color_ = clBtnFace;
    TFont font_;
    std::string hint_;
    bool showHint_ = false;
    bool parentShowHint_ = true;
    bool parentFont_ = true;
    bool autoSize_ = true;
    std::unique_ptr<ControlPeer> peer_;
};

// A control that can hold others and, unless it says otherwise, the focus.
class TWinControl : public TControl {
public:
    explicit TWinControl(TComponent *owner);
    ~TWinControl() override;
    const char *ClassName() const override { return "TWinControl"; }

    const std::vector<TControl *> &Controls() const { return controls_; }

    int TabOrder() const { return tabOrder_; }
    void SetTabOrder(int order) { tabOrder_ = order; }
    bool TabStop() const { return tabStop_; }
    void SetTabStop(bool stop) { tabStop_ = stop; }
    // Whether Tab stops here now (a radio button only when it is the group's).
    virtual bool IsTabStop() const { return tabStop_; }

    // A key pressed while this control has the focus; true when it used it.
    virtual bool KeyDown(TKey, TShiftState) { return false; }
    // The focus arrived by a key (Tab, Enter, a caption's Alt+letter) or
    // came back after a lookup: an edit selects its text, so what is typed
    // next replaces it.
    virtual void EnteredByKeyboard() {}

    void SetEnabled(bool enabled) override;

    // Whether this kind of control ever takes the focus.
    virtual bool AcceptsFocus() const { return true; }
    bool CanFocus() const;
    bool Focused() const;
    // Moves the focus here through the form, running the exit event of the
    // control that has it. Raises when the control cannot take the focus.
    void SetFocus();

    TNotifyEvent OnEnter;
    TNotifyEvent OnExit;

    // Children in tab order (ties keep creation order).
    std::vector<TWinControl *> TabList() const;

    bool SetProperty(const PropertyDesc &prop, LoadContext &ctx) override;

private:
    friend class TControl;
    std::vector<TControl *> controls_;
    int tabOrder_ = -1;
    bool tabStop_ = true;
};

// A control that never takes the focus (labels, bevels, tool buttons).
class TGraphicControl : public TControl {
public:
    using TControl::TControl;
    const char *ClassName() const override { return "TGraphicControl"; }
};
