#pragma once
// A widget set with no display: messages are recorded, picks and prompts are
// answered from queues. Tests and scripts drive screens through it.
#include "vcl/widgetset.h"

#include <deque>
#include <optional>
#include <string>
#include <vector>

struct PickAnswer {
    bool cancel = false;
    std::vector<std::string> keys;  // one key for a single pick, any number for a list
};

class HeadlessWidgetSet : public TWidgetSet {
public:
    std::unique_ptr<ControlPeer> CreatePeer(TControl &) override { return nullptr; }
    bool MakesPeers() const override { return false; }
    void ShowMessage(const std::string &text, MessageKind kind) override;
    std::optional<int> PickRow(const std::string &title, const PickTable &table) override;
    std::optional<int> PickTreeRow(const std::string &title, const PickTree &tree) override;
    std::optional<std::vector<int>> PickRows(const std::string &title, const PickTable &table,
                                             const std::vector<int> &marked) override;
    std::optional<std::string> PromptText(const std::string &caption, const std::string &prompt,
                                          const std::string &initial) override;
    void ShowBusy(bool on) override;
    // Nothing is displayed and nothing reaches a printer: the documents are
    // only listed.
    void ShowDocument(const std::string &path) override { shownDocuments.push_back(path); }
    void PrintDocument(const std::string &path) override { printedDocuments.push_back(path); }

    struct ShownMessage {
        std::string text;
        MessageKind kind;
    };
    std::deque<ShownMessage> messages;       // not yet consumed by a test
    std::deque<PickAnswer> pickAnswers;
    std::deque<std::optional<std::string>> promptAnswers;  // nullopt cancels

    // What the last pick showed, for tests.
    std::string lastPickTitle;
    PickTable lastPickTable;  // of a flat list
    std::vector<int> lastMarked;
    int pickCount = 0;
    int busyDepth = 0;
    int busyShown = 0;  // times the indicator appeared
    std::vector<std::string> shownDocuments, printedDocuments;
    // Set when a pick could not be answered (no answer queued, or a key the
    // list does not hold); the pick is then cancelled.
    std::optional<std::string> pickFailure;
};

HeadlessWidgetSet *HeadlessWidgets();  // the installed widget set if headless
