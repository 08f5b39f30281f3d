#pragma once
// Private: the tree pick over an open data set's rows, read where the data
// set keeps them.
#include "data/dataset.h"
#include "rtl/mappedalloc.h"
#include "vcl/widgetset.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Groups the rows by the segments of their tree codes ("01" -> "01.01" ->
// "01.01.0001") in one pass over the rows. Keeps a reference to the data
// set, whose rows must stay as they are while the tree lives.
class DataSetPickTree : public PickTree {
public:
    // Names of groups by their full code; the list need not be sorted.
    using GroupNames = std::vector<std::pair<std::string, std::string>>;

    DataSetPickTree(const TDataSet &dataSet, const std::string &codeField, const std::string &nameField,
                    GroupNames groupNames = {}, char separator = '.');

    int NodeCount() const override { return static_cast<int>(nodes_.size()); }
    int Parent(int node) const override { return nodes_[Index(node)].parent; }
    int ChildCount(int node) const override;
    int Child(int node, int index) const override;
    int IndexInParent(int node) const override;
    std::string Key(int node) const override { return std::string(KeyView(node)); }
    std::string Segment(int node) const override;
    std::string Name(int node) const override { return std::string(NameView(node)); }
    int Row(int node) const override { return std::max(nodes_[Index(node)].ref, -1); }
    int LeafOfKey(const std::string &key) const override;
    int Find(const std::string &text, int from) const override;

    std::string_view KeyView(int node) const;
    std::string_view NameView(int node) const;

private:
    // A node is a leaf (one row) or a group; a million leaves take eight
    // bytes each, the rest of a leaf is read from its row.
    struct Node {
        std::int32_t parent;
        std::int32_t ref;  // a leaf's row; ~index into groups_ for a group
    };
    struct Group {
        std::int32_t firstChild = 0;  // into children_
        std::int32_t childCount = 0;
        std::int32_t row = 0;         // the row whose code starts with the group's
        std::int32_t name = -1;       // into groupNames_, -1 when none
        std::uint16_t codeLength = 0;
        std::uint16_t segmentStart = 0;
    };
    template <class T>
    using Array = std::vector<T, mapped::Allocator<T>>;

    static std::size_t Index(int node) { return static_cast<std::size_t>(node); }
    const Group *GroupOf(int node) const
    {
        const std::int32_t ref = nodes_[Index(node)].ref;
        return ref < 0 ? &groups_[static_cast<std::size_t>(~ref)] : nullptr;
    }
    // The nodes of the rows in `order` (nullptr: the data set's); false,
    // leaving them half made, when that order is not by code.
    bool Build(int rows, const Array<std::int32_t> *order);
    std::string_view Cell(int row, int column) const;
    bool CodeMatches(int node, const std::string &digits) const;

    const TDataSet &dataSet_;
    int codeColumn_ = -1;
    int nameColumn_ = -1;
    char separator_;
    GroupNames groupNames_;  // sorted by code
    // As large as the rows: given back whole when the tree goes.
    Array<Node> nodes_;
    std::vector<Group> groups_;
    Array<std::int32_t> children_;  // each group's children side by side, in node order
    Array<std::int32_t> roots_;
};

// Group names of the host's code trees whose groups are rows of the same
// table at a lower level (the product tree), read on the data set's session;
// empty for any other tree. The statement does not count as the screen's.
DataSetPickTree::GroupNames ReadGroupNames(const TDataSet &dataSet, const std::string &codeField,
                                           const std::string &levelField, const std::string &nameField);
