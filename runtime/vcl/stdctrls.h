#pragma once
// Standard controls: labels, edits, masked edits, combo boxes, radio buttons,
// group boxes, panels, bevels and buttons.
#include "vcl/controls.h"
#include "vcl/mask_engine.h"

#include <string>
#include <vector>

class TLabel : public TGraphicControl {
public:
    explicit TLabel(TComponent *owner);
    const char *ClassName() const override { return "TLabel"; }
};

class TBevel : public TGraphicControl {
public:
    using TGraphicControl::TGraphicControl;
    const char *ClassName() const override { return "TBevel"; }
    bool SetProperty(const PropertyDesc &prop, LoadContext &ctx) override;
};

enum TEditCharCase { ecNormal, ecUpperCase, ecLowerCase };

// An edit box. `Text` is what the program reads; `DisplayText` what the
// person sees. The edit owns one MaskEngine (which also serves edits without
// a mask): text, caret and selection live there and nowhere else, so a front
// end only forwards keys and shows what the model holds. The change event
// fires whenever the shown text really changes, whether a person typed it or
// code set it.
class TCustomEdit : public TWinControl {
public:
    explicit TCustomEdit(TComponent *owner);
    const char *ClassName() const override { return "TCustomEdit"; }

    std::string Text() const { return engine_.text(); }
    std::string DisplayText() const { return engine_.displayText(); }
    void SetText(const std::string &text);
    // The edit's clear operation: a change like any other.
    void Clear() { SetText(""); }

    int MaxLength() const { return maxLength_; }
    void SetMaxLength(int n);
    TEditCharCase CharCase() const { return charCase_; }
    void SetCharCase(TEditCharCase c);

    // Caret and selection, in characters of DisplayText().
    int CaretPos() const { return engine_.caret(); }
    int SelStart() const { return engine_.selStart(); }
    int SelLength() const { return engine_.selLength(); }
    // A person's selection (mouse, Shift+arrows): from `anchor` to `caret`.
    void SetSelection(int anchor, int caret);

    // A person's keyboard.
    void SelectAll();
    bool TypeKey(char32_t key);
    void Paste(const std::string &text);
    void DeleteSelection();  // the Delete key
    void Backspace();
    // Arrows, Home and End (with Shift they select), Delete, Backspace, Ctrl+A.
    bool KeyDown(TKey key, TShiftState shift) override;
    // Entering by Tab selects everything, as desktop edits do.
    void EnteredByKeyboard() override { SelectAll(); }

    TNotifyEvent OnChange;

    bool SetProperty(const PropertyDesc &prop, LoadContext &ctx) override;

protected:
    // Runs `edit` on the engine; fires the change event if the shown text
    // changed, and tells the peer when only the caret or selection moved.
    template <class F>
    void Editing(F &&edit)
    {
        const std::string before = DisplayText();
        const int caret = engine_.caret(), anchor = engine_.anchor();
        edit();
        if (DisplayText() != before)
            NotifyChange();
        else if (engine_.caret() != caret || engine_.anchor() != anchor)
            Changed(ControlProperty::Selection);
    }
    void NotifyChange();

    MaskEngine engine_;

private:
    int maxLength_ = 0;
    TEditCharCase charCase_ = ecNormal;
};

class TEdit : public TCustomEdit {
public:
    using TCustomEdit::TCustomEdit;
    const char *ClassName() const override { return "TEdit"; }
};

class TMaskEdit : public TCustomEdit {
public:
    explicit TMaskEdit(TComponent *owner);
    const char *ClassName() const override { return "TMaskEdit"; }

    const std::string &EditMask() const { return engine_.mask(); }
    // Setting the mask it already has does nothing; the text is kept as far
    // as the new mask allows.
    void SetEditMask(const std::string &mask);

    bool SetProperty(const PropertyDesc &prop, LoadContext &ctx) override;
};

enum TComboBoxStyle { csDropDown, csSimple, csDropDownList };

class TComboBox : public TWinControl {
public:
    explicit TComboBox(TComponent *owner);
    const char *ClassName() const override { return "TComboBox"; }

    const std::vector<std::string> &Items() const { return items_; }
    void SetItems(std::vector<std::string> items);
    void AddItem(const std::string &item);
    void ClearItems();
    int ItemIndex() const { return itemIndex_; }
    // From code: no event runs; an index outside the list selects nothing.
    void SetItemIndex(int index);
    // The selected entry's text ("" when none).
    std::string Text() const;
    // A short remark on an entry, never part of its text (a front end may
    // mark the entry and show the remark as its hint); "" for none.
    const std::string &ItemNote(int index) const;
    void SetItemNote(int index, const std::string &note);
    TComboBoxStyle Style() const { return style_; }
    int ItemHeight() const { return itemHeight_; }

    // A person's pick of an entry: its change event runs, even when the
    // entry was already selected.
    void PickItem(int index);

    TNotifyEvent OnChange;

    bool SetProperty(const PropertyDesc &prop, LoadContext &ctx) override;

private:
    std::vector<std::string> items_;
    std::vector<std::string> notes_;  // by entry; shorter when the last have none
    int itemIndex_ = -1;
    TComboBoxStyle style_ = csDropDown;
    int itemHeight_ = 13;
};

class TRadioButton : public TWinControl {
public:
    explicit TRadioButton(TComponent *owner);
    const char *ClassName() const override { return "TRadioButton"; }

    bool Checked() const { return checked_; }
    // From code: siblings in the same parent are unchecked; no event runs.
    void SetChecked(bool checked);
    // A person's click: checks it and runs its click event, also when it was
    // already checked.
    void Click() override;

    // In a group of radio buttons only the checked one (or the first, when
    // none is) is a tab stop; the arrows move within the group.
    bool IsTabStop() const override;
    bool KeyDown(TKey key, TShiftState shift) override;

    bool SetProperty(const PropertyDesc &prop, LoadContext &ctx) override;

private:
    std::vector<TRadioButton *> Group() const;
    bool checked_ = false;
};

// Containers never take the focus themselves.
class TGroupBox : public TWinControl {
public:
    explicit TGroupBox(TComponent *owner);
    const char *ClassName() const override { return "TGroupBox"; }
    bool AcceptsFocus() const override { return false; }
};

class TPanel : public TWinControl {
public:
    explicit TPanel(TComponent *owner);
    const char *ClassName() const override { return "TPanel"; }
    bool AcceptsFocus() const override { return false; }
    bool SetProperty(const PropertyDesc &prop, LoadContext &ctx) override;
};

class TButton : public TWinControl {
public:
    using TWinControl::TWinControl;
    const char *ClassName() const override { return "TButton"; }
    // Enter on a focused button presses it rather than moving on.
    bool KeyDown(TKey key, TShiftState shift) override
    {
        if (key != TKey::Enter || shift != ssNone)
            return false;
        Click();
        return true;
    }
};

// A tool button: never takes the focus, so the control that has it keeps it
// while the click runs.
class TSpeedButton : public TGraphicControl {
public:
    using TGraphicControl::TGraphicControl;
    const char *ClassName() const override { return "TSpeedButton"; }
    bool SetProperty(const PropertyDesc &prop, LoadContext &ctx) override;
};

void RegisterStandardControls();
