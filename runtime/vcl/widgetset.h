#pragma once
// What a front end plugs into the runtime: a peer per control that mirrors
// the model, and the few services a screen needs from a person.
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TControl;

enum class ControlProperty { Bounds, Enabled, Visible, Caption, Text, Color, Font, Hint, Checked, Items, ItemIndex, Focus, State, Selection };

// Mirrors one control. The model stays the truth: a peer never changes state
// behind it, it forwards the person's input to the model instead.
class ControlPeer {
public:
    virtual ~ControlPeer() = default;
    virtual void Changed(ControlProperty what) = 0;
};

enum class MessageKind { Information, Warning, Error };

// A table of rows to pick from, already turned into texts.
struct PickTable {
    std::vector<std::string> titles;             // visible columns
    std::vector<std::vector<std::string>> rows;  // visible cells per row
    std::vector<std::string> keys;               // the row's key (first visible field, or a named key field)
};

// A tree to pick one leaf from. Its rows stay where their owner keeps them
// (a data set's rows), so a list over a million rows copies none of them:
// nodes are numbered 0..NodeCount()-1, a parent before its children, and
// every text is read when it is shown.
class PickTree {
public:
    virtual ~PickTree() = default;
    virtual int NodeCount() const = 0;
    virtual int Parent(int node) const = 0;  // -1 for a root
    // Children of `node`, in order; node -1 stands for the roots.
    virtual int ChildCount(int node) const = 0;
    virtual int Child(int node, int index) const = 0;
    virtual int IndexInParent(int node) const = 0;
    virtual std::string Key(int node) const = 0;      // the full tree code
    virtual std::string Segment(int node) const = 0;  // its last part ("0001")
    virtual std::string Name(int node) const = 0;     // "" for a group without one
    virtual int Row(int node) const = 0;              // the leaf's data row; -1 for a group
    // The leaf whose full code is `key`, -1 when none.
    virtual int LeafOfKey(const std::string &key) const = 0;
    // The first node after `from`, in node order and wrapping round, whose
    // code starts with `text` (typed with or without its separators) or whose
    // name contains it, ignoring case and accents; -1 when none does.
    virtual int Find(const std::string &text, int from) const = 0;
};

class TWidgetSet {
public:
    virtual ~TWidgetSet() = default;

    // A peer for a control being shown; nullptr where nothing is displayed.
    virtual std::unique_ptr<ControlPeer> CreatePeer(TControl &control) = 0;
    // False when this widget set never makes peers: forms skip asking.
    virtual bool MakesPeers() const { return true; }

    virtual void ShowMessage(const std::string &text, MessageKind kind) = 0;
    // A yes/no question whose default answer is No. Without a person to ask,
    // the question is shown as a message and answered with the default.
    virtual bool Confirm(const std::string &question)
    {
        ShowMessage(question, MessageKind::Warning);
        return false;
    }
    // The row picked, or nothing when the person cancels.
    virtual std::optional<int> PickRow(const std::string &title, const PickTable &table) = 0;
    // The data row of the leaf picked, or nothing on cancel.
    virtual std::optional<int> PickTreeRow(const std::string &title, const PickTree &tree) = 0;
    // The rows chosen, or nothing on cancel; `marked` rows start chosen.
    virtual std::optional<std::vector<int>> PickRows(const std::string &title, const PickTable &table,
                                                     const std::vector<int> &marked) = 0;
    virtual std::optional<std::string> PromptText(const std::string &caption, const std::string &prompt,
                                                  const std::string &initial) = 0;
    virtual void ShowBusy(bool on) = 0;
    // A report's output (a PDF file): shown to the person, or sent to the
    // printer. Raises Exception with the reason when it cannot.
    virtual void ShowDocument(const std::string &path) = 0;
    virtual void PrintDocument(const std::string &path) = 0;
};

// The widget set in use; a headless one until a front end installs another.
TWidgetSet &WidgetSet();
void SetWidgetSet(std::unique_ptr<TWidgetSet> ws);
