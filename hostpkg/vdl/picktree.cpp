#include "vdl/picktree.h"

#include "data/sqlquery.h"
#include "rtl/utf8.h"

#include <algorithm>
#include <numeric>

namespace {

char upperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

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

    // The rows in code order: the data set's own when it already is (a
    // lookup is ordered by code), else an index sorted once.
    std::vector<std::int32_t> order;
    for (int r = 1; r < rows; ++r)
        if (Cell(r, codeColumn_) < Cell(r - 1, codeColumn_)) {
            order.resize(static_cast<std::size_t>(rows));
            std::iota(order.begin(), order.end(), 0);
            std::stable_sort(order.begin(), order.end(),
                             [this](int a, int b) { return Cell(a, codeColumn_) < Cell(b, codeColumn_); });
            break;
        }

    nodes_.reserve(static_cast<std::size_t>(rows) + static_cast<std::size_t>(rows) / 64 + 16);
    std::vector<std::int32_t> open;  // the groups the last code went through, by depth
    auto add = [this](int parent, Node n) {
        n.parent = parent;
        n.firstChild = 0;
        n.childCount = 0;
        if (parent >= 0) {
            n.index = nodes_[Index(parent)].childCount++;
        } else {
            n.index = static_cast<std::int32_t>(roots_.size());
            roots_.push_back(static_cast<std::int32_t>(nodes_.size()));
        }
        nodes_.push_back(n);
        return static_cast<std::int32_t>(nodes_.size() - 1);
    };
    for (int i = 0; i < rows; ++i) {
        const int row = order.empty() ? i : order[static_cast<std::size_t>(i)];
        const std::string_view code = Cell(row, codeColumn_);
        std::size_t start = 0, depth = 0;
        for (std::size_t sep; (sep = code.find(separator_, start)) != std::string_view::npos; start = sep + 1, ++depth) {
            const std::string_view prefix = code.substr(0, sep);
            if (depth < open.size() && KeyView(open[depth]) == prefix)
                continue;
            open.resize(depth);
            Node g{};
            g.row = row;
            g.codeLength = static_cast<std::uint16_t>(std::min<std::size_t>(sep, 0xFFFF));
            g.segmentStart = static_cast<std::uint16_t>(std::min<std::size_t>(start, 0xFFFF));
            g.leaf = false;
            auto named = std::lower_bound(groupNames_.begin(), groupNames_.end(), prefix,
                                          [](const auto &entry, std::string_view k) { return entry.first < k; });
            g.groupName = named != groupNames_.end() && named->first == prefix
                              ? static_cast<std::int32_t>(named - groupNames_.begin())
                              : -1;
            open.push_back(add(depth ? open[depth - 1] : -1, g));
        }
        open.resize(depth);
        Node leaf{};
        leaf.row = row;
        leaf.codeLength = static_cast<std::uint16_t>(std::min<std::size_t>(code.size(), 0xFFFF));
        leaf.segmentStart = static_cast<std::uint16_t>(std::min<std::size_t>(start, 0xFFFF));
        leaf.groupName = -1;
        leaf.leaf = true;
        add(depth ? open[depth - 1] : -1, leaf);
    }

    // Each node's children side by side, so the n-th child is found at once.
    std::int32_t next = 0;
    for (Node &n : nodes_) {
        n.firstChild = next;
        next += n.childCount;
    }
    children_.resize(static_cast<std::size_t>(next));
    for (std::size_t i = 0; i < nodes_.size(); ++i)
        if (const Node &n = nodes_[i]; n.parent >= 0)
            children_[static_cast<std::size_t>(nodes_[Index(n.parent)].firstChild + n.index)] =
                static_cast<std::int32_t>(i);
}

std::string_view DataSetPickTree::Cell(int row, int column) const
{
    const auto *cells = dataSet_.RowAt(row);
    if (!cells || column < 0 || static_cast<std::size_t>(column) >= cells->size())
        return {};
    const auto &value = (*cells)[static_cast<std::size_t>(column)];
    return value ? std::string_view(*value) : std::string_view();
}

std::string_view DataSetPickTree::KeyView(int node) const
{
    const Node &n = nodes_[Index(node)];
    return Cell(n.row, codeColumn_).substr(0, n.codeLength);
}

std::string_view DataSetPickTree::NameView(int node) const
{
    const Node &n = nodes_[Index(node)];
    if (n.leaf)
        return Cell(n.row, nameColumn_);
    return n.groupName >= 0 ? std::string_view(groupNames_[static_cast<std::size_t>(n.groupName)].second)
                            : std::string_view();
}

int DataSetPickTree::ChildCount(int node) const
{
    return node < 0 ? static_cast<int>(roots_.size()) : nodes_[Index(node)].childCount;
}

int DataSetPickTree::Child(int node, int index) const
{
    if (node < 0)
        return roots_[static_cast<std::size_t>(index)];
    return children_[static_cast<std::size_t>(nodes_[Index(node)].firstChild + index)];
}

std::string DataSetPickTree::Segment(int node) const
{
    return std::string(KeyView(node).substr(nodes_[Index(node)].segmentStart));
}

int DataSetPickTree::LeafOfKey(const std::string &key) const
{
    for (std::size_t i = 0; i < nodes_.size(); ++i)
        if (nodes_[i].leaf && KeyView(static_cast<int>(i)) == key)
            return static_cast<int>(i);
    return -1;
}

bool DataSetPickTree::Matches(int node, const std::string &code, const std::string &upperName) const
{
    if (!code.empty()) {
        // The code as typed, with or without its separators.
        std::size_t k = 0;
        for (char c : KeyView(node)) {
            if (k == code.size())
                break;
            if (c == separator_)
                continue;
            if (c != code[k])
                return false;
            ++k;
        }
        return k == code.size();
    }
    const std::string_view name = NameView(node);
    return std::search(name.begin(), name.end(), upperName.begin(), upperName.end(),
                       [](char a, char b) { return upperAscii(a) == b; }) != name.end();
}

int DataSetPickTree::Find(const std::string &text, int from) const
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos || nodes_.empty())
        return -1;
    const std::string query = text.substr(first, text.find_last_not_of(' ') - first + 1);
    std::string code;
    bool codeLike = true;
    for (char c : query) {
        if (c >= '0' && c <= '9')
            code += c;
        else if (c != separator_)
            codeLike = false;
    }
    const std::string upperName = utf8::upper(query);
    const int n = NodeCount();
    // A code-like text looks for codes first, then for names that hold it.
    for (int pass = codeLike && !code.empty() ? 0 : 1; pass < 2; ++pass)
        for (int k = 1; k <= n; ++k) {
            const int node = ((from < 0 ? -1 : from) + k) % n;
            if (Matches(node, pass == 0 ? code : std::string(), upperName))
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
        const auto &cells = *groups.RowAt(r);
        if (cells.size() >= 2 && cells[0] && cells[1])
            names.emplace_back(*cells[0], *cells[1]);
    }
    return names;
}
