#include "vcl/headless.h"

#include <algorithm>

namespace {
std::unique_ptr<TWidgetSet> &current()
{
    static std::unique_ptr<TWidgetSet> ws = std::make_unique<HeadlessWidgetSet>();
    return ws;
}
} // namespace

TWidgetSet &WidgetSet() { return *current(); }
void SetWidgetSet(std::unique_ptr<TWidgetSet> ws) { current() = std::move(ws); }
HeadlessWidgetSet *HeadlessWidgets() { return dynamic_cast<HeadlessWidgetSet *>(current().get()); }

void HeadlessWidgetSet::ShowMessage(const std::string &text, MessageKind kind) { messages.push_back({text, kind}); }

std::optional<int> HeadlessWidgetSet::PickRow(const std::string &title, const PickTable &table)
{
    ++pickCount;
    lastPickTitle = title;
    lastPickTable = table;
    if (pickAnswers.empty()) {
        pickFailure = "a list \"" + title + "\" opened with no answer given";
        return std::nullopt;
    }
    PickAnswer a = std::move(pickAnswers.front());
    pickAnswers.pop_front();
    if (a.cancel || a.keys.empty())
        return std::nullopt;
    auto it = std::find(table.keys.begin(), table.keys.end(), a.keys.front());
    if (it == table.keys.end()) {
        pickFailure = "the list \"" + title + "\" holds no row \"" + a.keys.front() + "\"";
        return std::nullopt;
    }
    return static_cast<int>(it - table.keys.begin());
}

std::optional<int> HeadlessWidgetSet::PickTreeRow(const std::string &title, const PickTree &tree)
{
    ++pickCount;
    lastPickTitle = title;
    if (pickAnswers.empty()) {
        pickFailure = "a list \"" + title + "\" opened with no answer given";
        return std::nullopt;
    }
    PickAnswer a = std::move(pickAnswers.front());
    pickAnswers.pop_front();
    if (a.cancel || a.keys.empty())
        return std::nullopt;
    const int leaf = tree.LeafOfKey(a.keys.front());
    if (leaf < 0) {
        pickFailure = "the list \"" + title + "\" holds no row \"" + a.keys.front() + "\"";
        return std::nullopt;
    }
    return tree.Row(leaf);
}

std::optional<std::vector<int>> HeadlessWidgetSet::PickRows(const std::string &title, const PickTable &table,
                                                            const std::vector<int> &marked)
{
    ++pickCount;
    lastPickTitle = title;
    lastPickTable = table;
    lastMarked = marked;
    if (pickAnswers.empty()) {
        pickFailure = "a list \"" + title + "\" opened with no answer given";
        return std::nullopt;
    }
    PickAnswer a = std::move(pickAnswers.front());
    pickAnswers.pop_front();
    if (a.cancel)
        return std::nullopt;
    std::vector<int> rows;
    for (const auto &key : a.keys) {
        auto it = std::find(table.keys.begin(), table.keys.end(), key);
        if (it == table.keys.end()) {
            pickFailure = "the list \"" + title + "\" holds no row \"" + key + "\"";
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
