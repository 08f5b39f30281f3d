#include "vdl/pick_tree.h"

#include "data/sqlquery.h"
#include "rtl/utf8.h"

#include <algorithm>
#include <functional>
#include <numeric>

namespace {

// The host's code trees whose groups are rows of the table at a lower level.
struct TreeTable {
    const char *codeField, *levelField, *nameField, *table;
};
const TreeTable kTreeTables[] = {{"CDARVPROD", "CDNVPRODUTO", "NMPRODUTO", "PRODUTO"}};

} // namespace

DataSetPickTree::DataSetPickTree(const TDataSet &dataSet, const std::string &codeField, const std::string &nameField,
                                 GroupNames groupNames, char separator)
    : dataSet_(dataSet), separator_(separator), groupNames_(std::move(groupNames))
{
    if (TField *f = dataSet.FindField(codeField))
        codeColumn_ = f->Column();
    if (TField *f = dataSet.FindField(nameField))
        nameColumn_ = f->Column();
    std::sort(groupNames_.begin(), groupNames_.end());
    const int rows = dataSet.Active() ? dataSet.RecordCount() : 0;
    nodes_.reserve(static_cast<std::size_t>(rows) + static_cast<std::size_t>(rows) / 64 + 16);
    // The rows in code order: the data set's own when it already is (a
    // lookup is ordered by code), else an index sorted once.
    if (!Build(rows, nullptr)) {
        Array<std::int32_t> order(static_cast<std::size_t>(rows));
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(),
                         [this](int a, int b) { return Cell(a, codeColumn_) < Cell(b, codeColumn_); });
        Build(rows, &order);
    }

    // Each group's children side by side, so the n-th child is found at once.
    std::int32_t next = 0;
    for (Group &g : groups_) {
        g.firstChild = next;
        next += g.childCount;
    }
    children_.resize(static_cast<std::size_t>(next));
    std::vector<std::int32_t> placed(groups_.size(), 0);
    for (std::size_t i = 0; i < nodes_.size(); ++i)
        if (const std::int32_t parent = nodes_[i].parent; parent >= 0) {
            const auto g = static_cast<std::size_t>(~nodes_[Index(parent)].ref);
            children_[static_cast<std::size_t>(groups_[g].firstChild + placed[g]++)] = static_cast<std::int32_t>(i);
        }
}

bool DataSetPickTree::Build(int rows, const Array<std::int32_t> *order)
{
    nodes_.clear();
    groups_.clear();
    roots_.clear();
    std::vector<std::int32_t> open;       // the groups the last code went through, by depth
    std::vector<std::string_view> keys;  // and their codes
    auto add = [this](std::int32_t parent, std::int32_t ref) {
        const auto node = static_cast<std::int32_t>(nodes_.size());
        if (parent >= 0)
            ++groups_[static_cast<std::size_t>(~nodes_[Index(parent)].ref)].childCount;
        else
            roots_.push_back(node);
        nodes_.push_back({parent, ref});
        return node;
    };
    std::string_view previous;
    for (int i = 0; i < rows; ++i) {
        const int row = order ? (*order)[static_cast<std::size_t>(i)] : i;
        const std::string_view code = Cell(row, codeColumn_);
        if (!order && code < previous)
            return false;
        previous = code;
        std::size_t start = 0, depth = 0;
        for (std::size_t sep; (sep = code.find(separator_, start)) != std::string_view::npos; start = sep + 1, ++depth) {
            const std::string_view prefix = code.substr(0, sep);
            if (depth < keys.size() && keys[depth] == prefix)
                continue;
            open.resize(depth);
            keys.resize(depth);
            Group g;
            g.row = row;
            g.codeLength = static_cast<std::uint16_t>(std::min<std::size_t>(sep, 0xFFFF));
            g.segmentStart = static_cast<std::uint16_t>(std::min<std::size_t>(start, 0xFFFF));
            auto named = std::lower_bound(groupNames_.begin(), groupNames_.end(), prefix,
                                          [](const auto &entry, std::string_view k) { return entry.first < k; });
            if (named != groupNames_.end() && named->first == prefix)
                g.name = static_cast<std::int32_t>(named - groupNames_.begin());
            groups_.push_back(g);
            open.push_back(add(depth ? open[depth - 1] : -1, ~static_cast<std::int32_t>(groups_.size() - 1)));
            keys.push_back(prefix);
        }
        open.resize(depth);
        keys.resize(depth);
        add(depth ? open[depth - 1] : -1, row);
    }
    return true;
}

std::string_view DataSetPickTree::Cell(int row, int column) const
{
    return dataSet_.CellAt(row, column).value_or(std::string_view());
}

std::string_view DataSetPickTree::KeyView(int node) const
{
    if (const Group *g = GroupOf(node))
        return Cell(g->row, codeColumn_).substr(0, g->codeLength);
    return Cell(nodes_[Index(node)].ref, codeColumn_);
}

std::string_view DataSetPickTree::NameView(int node) const
{
    if (const Group *g = GroupOf(node))
        return g->name >= 0 ? std::string_view(groupNames_[static_cast<std::size_t>(g->name)].second)
                            : std::string_view();
    return Cell(nodes_[Index(node)].ref, nameColumn_);
}

int DataSetPickTree::ChildCount(int node) const
{
    if (node < 0)
        return static_cast<int>(roots_.size());
    const Group *g = GroupOf(node);
    return g ? g->childCount : 0;
}

int DataSetPickTree::Child(int node, int index) const
{
    if (node < 0)
        return roots_[static_cast<std::size_t>(index)];
    return children_[static_cast<std::size_t>(GroupOf(node)->firstChild + index)];
}

int DataSetPickTree::IndexInParent(int node) const
{
    // Children lie in node order: a binary search finds the place.
    const std::int32_t parent = nodes_[Index(node)].parent;
    const std::int32_t *first = roots_.data(), *last = roots_.data() + roots_.size();
    if (parent >= 0) {
        const Group *g = GroupOf(parent);
        first = children_.data() + g->firstChild;
        last = first + g->childCount;
    }
    return static_cast<int>(std::lower_bound(first, last, node) - first);
}

std::string DataSetPickTree::Segment(int node) const
{
    const std::string_view key = KeyView(node);
    if (const Group *g = GroupOf(node))
        return std::string(key.substr(g->segmentStart));
    const auto sep = key.rfind(separator_);
    return std::string(sep == std::string_view::npos ? key : key.substr(sep + 1));
}

int DataSetPickTree::LeafOfKey(const std::string &key) const
{
    for (std::size_t i = 0; i < nodes_.size(); ++i)
        if (nodes_[i].ref >= 0 && KeyView(static_cast<int>(i)) == key)
            return static_cast<int>(i);
    return -1;
}

bool DataSetPickTree::CodeMatches(int node, const std::string &digits) const
{
    // The code as typed, with or without its separators.
    std::size_t k = 0;
    for (char c : KeyView(node)) {
        if (k == digits.size())
            break;
        if (c == separator_)
            continue;
        if (c != digits[k])
            return false;
        ++k;
    }
    return k == digits.size();
}

int DataSetPickTree::Find(const std::string &text, int from) const
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos || nodes_.empty())
        return -1;
    const std::string query = text.substr(first, text.find_last_not_of(' ') - first + 1);
    std::string digits;
    bool codeLike = true;
    for (char c : query) {
        if (c >= '0' && c <= '9')
            digits += c;
        else if (c != separator_)
            codeLike = false;
    }
    // Names compare without case and accents: "agua" finds "Água".
    std::string needle, name;
    utf8::foldForSearch(query, needle);
    const std::boyer_moore_horspool_searcher searcher(needle.begin(), needle.end());
    const int n = NodeCount();
    const int start = from < 0 ? -1 : from;
    // A code-like text looks for codes first, then for names that hold it.
    if (codeLike && !digits.empty())
        for (int k = 1; k <= n; ++k)
            if (const int node = (start + k) % n; CodeMatches(node, digits))
                return node;
    for (int k = 1; k <= n; ++k) {
        const int node = (start + k) % n;
        const std::string_view raw = NameView(node);
        if (raw.size() < needle.size())
            continue;
        name.clear();
        utf8::foldForSearch(raw, name);
        if (std::search(name.begin(), name.end(), searcher) != name.end())
            return node;
    }
    return -1;
}

DataSetPickTree::GroupNames ReadGroupNames(const TDataSet &dataSet, const std::string &codeField,
                                           const std::string &levelField, const std::string &nameField)
{
    const auto *query = dynamic_cast<const TSQLQuery *>(&dataSet);
    const TreeTable *tree = nullptr;
    for (const TreeTable &t : kTreeTables)
        if (codeField == t.codeField && levelField == t.levelField && nameField == t.nameField)
            tree = &t;
    DataSetPickTree::GroupNames names;
    if (!query || !query->Session() || !tree)
        return names;
    TSQLQuery groups(query->Session());
    groups.CountStatements = false;  // the library's, not the screen's
    groups.SetSQL(std::string("SELECT ") + tree->codeField + ", " + tree->nameField + " FROM " + tree->table +
                  " WHERE " + tree->levelField + " < (SELECT MAX(" + tree->levelField + ") FROM " + tree->table + ")");
    groups.Open();
    for (int r = 0; r < groups.RecordCount(); ++r) {
        const auto code = groups.CellAt(r, 0), name = groups.CellAt(r, 1);
        if (code && name)
            names.emplace_back(*code, *name);
    }
    return names;
}
