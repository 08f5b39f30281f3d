#pragma once
// Private: the tree pick over an open data set's rows, read where the data
// set keeps them.
#include "data/dataset.h"
#include "vcl/widgetset.h"

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
    int IndexInParent(int node) const override { return nodes_[Index(node)].index; }
    std::string Key(int node) const override { return std::string(KeyView(node)); }
    std::string Segment(int node) const override;
    std::string Name(int node) const override { return std::string(NameView(node)); }
    int Row(int node) const override { return nodes_[Index(node)].leaf ? nodes_[Index(node)].row : -1; }
    int LeafOfKey(const std::string &key) const override;
    int Find(const std::string &text, int from) const override;

    std::string_view KeyView(int node) const;
    std::string_view NameView(int node) const;

private:
    struct Node {
        std::int32_t parent;
        std::int32_t firstChild;  // into children_
        std::int32_t childCount;
        std::int32_t index;       // among its parent's children
        std::int32_t row;         // the leaf's row; a group's first leaf row
        std::int32_t groupName;   // into groupNames_, -1 when none
        std::uint16_t codeLength;
        std::uint16_t segmentStart;
        bool leaf;
    };
    static std::size_t Index(int node) { return static_cast<std::size_t>(node); }
    std::string_view Cell(int row, int column) const;
    bool Matches(int node, const std::string &code, const std::string &upperName) const;

    const TDataSet &dataSet_;
    int codeColumn_ = -1;
    int nameColumn_ = -1;
    char separator_;
    GroupNames groupNames_;  // sorted by code
    std::vector<Node> nodes_;
    std::vector<std::int32_t> children_;
    std::vector<std::int32_t> roots_;
};

// Group names of the host's code trees whose groups are rows of the same
// table at a lower level (the product tree), read on the data set's session;
// empty for any other tree. The statement does not count as the screen's.
DataSetPickTree::GroupNames ReadGroupNames(const TDataSet &dataSet, const std::string &codeField,
                                           const std::string &levelField, const std::string &nameField);
