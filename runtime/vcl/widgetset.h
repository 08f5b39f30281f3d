#pragma once
// What a front end plugs into the runtime: a peer per control that mirrors
// the model, and the few services a screen needs from a person.
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TControl;

enum class ControlProperty { Bounds, Enabled, Visible, Caption, Text, Color, Font, Hint, Checked, Items, ItemIndex, Focus, State };

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

struct PickTreeNode {
    std::string key;      // the full tree code
    std::string caption;  // inner nodes show their segment only
    int row = -1;         // row of the table for a leaf, -1 for an inner node
    std::vector<PickTreeNode> children;
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
    virtual std::optional<int> PickTreeRow(const std::string &title, const PickTable &table,
                                           const std::vector<PickTreeNode> &roots) = 0;
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
