#include "vcl/headless.h"

#include <algorithm>

namespace {
std::unique_ptr<TWidgetSet> &current()
{
    static std::unique_ptr<TWidgetSet> ws = std::make_unique<HeadlessWidgetSet>();
    return ws;
}

// The next answer queued for the list `title`; nothing when the list is
// cancelled, or when no answer was queued (a failure the runner reports).
std::optional<PickAnswer> takeAnswer(HeadlessWidgetSet &ws, const std::string &title)
{
    ++ws.pickCount;
    ws.lastPickTitle = title;
    if (ws.pickAnswers.empty()) {
        ws.pickFailure = "a list \"" + title + "\" opened with no answer given";
        return std::nullopt;
    }
    PickAnswer a = std::move(ws.pickAnswers.front());
    ws.pickAnswers.pop_front();
    if (a.cancel)
        return std::nullopt;
    return a;
}

void noSuchRow(HeadlessWidgetSet &ws, const std::string &title, const std::string &key)
{
    ws.pickFailure = "the list \"" + title + "\" holds no row \"" + key + "\"";
}
} // namespace

TWidgetSet &WidgetSet() { return *current(); }
void SetWidgetSet(std::unique_ptr<TWidgetSet> ws) { current() = std::move(ws); }
HeadlessWidgetSet *HeadlessWidgets() { return dynamic_cast<HeadlessWidgetSet *>(current().get()); }

void HeadlessWidgetSet::ShowMessage(const std::string &text, MessageKind kind) { messages.push_back({text, kind}); }

std::optional<int> HeadlessWidgetSet::PickRow(const std::string &title, const PickTable &table)
{
    lastPickTable = table;
    const std::optional<PickAnswer> a = takeAnswer(*this, title);
    if (!a || a->keys.empty())
        return std::nullopt;
    auto it = std::find(table.keys.begin(), table.keys.end(), a->keys.front());
    if (it == table.keys.end()) {
        noSuchRow(*this, title, a->keys.front());
        return std::nullopt;
    }
    return static_cast<int>(it - table.keys.begin());
}

std::optional<int> HeadlessWidgetSet::PickTreeRow(const std::string &title, const PickTree &tree)
{
    const std::optional<PickAnswer> a = takeAnswer(*this, title);
    if (!a || a->keys.empty())
        return std::nullopt;
    const int leaf = tree.LeafOfKey(a->keys.front());
    if (leaf < 0) {
        noSuchRow(*this, title, a->keys.front());
        return std::nullopt;
    }
    return tree.Row(leaf);
}

std::optional<std::vector<int>> HeadlessWidgetSet::PickRows(const std::string &title, const PickTable &table,
                                                            const std::vector<int> &marked)
{
    lastPickTable = table;
    lastMarked = marked;
    const std::optional<PickAnswer> a = takeAnswer(*this, title);
    if (!a)
        return std::nullopt;
    std::vector<int> rows;
    for (const auto &key : a->keys) {
        auto it = std::find(table.keys.begin(), table.keys.end(), key);
        if (it == table.keys.end()) {
            noSuchRow(*this, title, key);
            return std::nullopt;
        }
        rows.push_back(static_cast<int>(it - table.keys.begin()));
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

std::optional<std::string> HeadlessWidgetSet::PromptText(const std::string &, const std::string &,
                                                         const std::string &)
{
    if (promptAnswers.empty())
        return std::nullopt;
    auto a = std::move(promptAnswers.front());
    promptAnswers.pop_front();
    return a;
}

void HeadlessWidgetSet::ShowBusy(bool on)
{
    if (on) {
        if (busyDepth++ == 0)
            ++busyShown;  // nested requests keep the one indicator up
    } else if (busyDepth > 0) {
        --busyDepth;
    }
}
