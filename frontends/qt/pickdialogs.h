#pragma once
// The dialogs behind the widget set's pick services, built apart from their
// modal run so a test can drive them.
#include "vcl/widgetset.h"

#include <QDialog>

#include <optional>
#include <vector>

class QDialogButtonBox;
class QTableWidget;
class QTreeWidget;

// One row out of a table; a double click or OK picks the current row.
class PickRowDialog : public QDialog {
public:
    PickRowDialog(const std::string &title, const PickTable &table, QWidget *parent = nullptr);
    // The table row picked (in the model's order, whatever the sort shown).
    std::optional<int> Picked() const;
    QTableWidget *Table() const { return table_; }

private:
    QTableWidget *table_;
};

// One leaf out of a tree; inner nodes only open and close.
class PickTreeDialog : public QDialog {
public:
    PickTreeDialog(const std::string &title, const PickTable &table, const std::vector<PickTreeNode> &roots,
                   QWidget *parent = nullptr);
    std::optional<int> Picked() const;
    QTreeWidget *Tree() const { return tree_; }

private:
    void UpdateOk();
    QTreeWidget *tree_;
    QDialogButtonBox *buttons_;
};

// Any number of rows, each with a check box; `marked` rows start checked.
class PickRowsDialog : public QDialog {
public:
    PickRowsDialog(const std::string &title, const PickTable &table, const std::vector<int> &marked,
                   QWidget *parent = nullptr);
    // The checked rows, ascending.
    std::vector<int> Checked() const;
    QTableWidget *Table() const { return table_; }

private:
    QTableWidget *table_;
};
