#pragma once
// The dialogs behind the widget set's pick services, built apart from their
// modal run so a test can drive them.
#include "vcl/widgetset.h"

#include <QCalendarWidget>
#include <QDialog>

#include <optional>
#include <string>
#include <vector>

class QDialogButtonBox;
class QLineEdit;
class QTableWidget;
class QTreeView;
class PickTreeModel;

// One row out of a table; a double click or OK picks the current row. The
// search box above keeps the rows with the text in any column (no case, no
// accents); Enter there picks the current row.
class PickRowDialog : public QDialog {
public:
    PickRowDialog(const std::string &title, const PickTable &table, QWidget *parent = nullptr);
    // The table row picked (in the model's order, whatever the sort shown).
    std::optional<int> Picked() const;
    QTableWidget *Table() const { return table_; }
    QLineEdit *Search() const { return search_; }
    // Shows the rows matching `text`; how many.
    int Filter(const QString &text);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void UpdateOk();
    QTableWidget *table_;
    QLineEdit *search_;
    QDialogButtonBox *buttons_ = nullptr;
};

// One leaf out of a tree; inner nodes only open and close. The view reads
// the tree where it is: no item per row, so a million rows open at once.
// The search box finds by code or by name anywhere in the tree.
class PickTreeDialog : public QDialog {
public:
    PickTreeDialog(const std::string &title, const PickTree &tree, QWidget *parent = nullptr);
    std::optional<int> Picked() const;
    QTreeView *Tree() const { return view_; }
    QLineEdit *Search() const { return search_; }
    // Shows and selects `node`, opening the groups above it.
    void Reveal(int node);
    // Finds the next node matching the search text after the current one.
    bool FindNext(bool fromStart);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void UpdateOk();
    int CurrentNode() const;
    const PickTree &tree_;
    PickTreeModel *model_;
    QLineEdit *search_;
    QTreeView *view_;
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

protected:
    // Space ticks the current row, Enter confirms.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Toggle(int row);
    QTableWidget *table_;
};

// The calendar popup of a date edit, Sunday first: the headings of its days
// are the edit's weekday names when it gives all seven (Sunday first), else
// Qt's own in Brazilian Portuguese.
class DateCalendar : public QCalendarWidget {
public:
    explicit DateCalendar(const std::vector<std::string> &weekdayNames, QWidget *parent = nullptr);
    // What heads a column of days.
    QString Heading(int column) const;

private:
    QStringList names_;
};
