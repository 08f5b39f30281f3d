#pragma once
// Pieces the layout editor's pages share.
#include "report/layout.h"

#include <QComboBox>
#include <QEvent>
#include <QObject>
#include <QPushButton>
#include <QStyle>
#include <QTableWidget>
#include <QWidget>

#include <string>
#include <utility>
#include <vector>

// A wheel turned over a table scrolls the table; it changes a box in a cell
// only once the person has put the focus in it.
class WheelGuard : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject *watched, QEvent *event) override;
};

template <class Box>
Box *Guarded(Box *box, QObject *guard)
{
    box->setFocusPolicy(Qt::StrongFocus);
    box->installEventFilter(guard);
    return box;
}

QComboBox *ChoiceBox(const QStringList &labels, int current, QObject *guard);
QPushButton *NamedButton(const char *name, const QString &text, const char *icon, QStyle::StandardPixmap fallback);

// A table of rows picked one at a time.
QTableWidget *RowTable(const char *name, const QStringList &headers, QWidget *page);

// The buttons under a table of rows, named after the list: "columnUp",
// "groupAdd"...
struct RowButtons {
    QPushButton *up, *down, *add, *remove;
};
RowButtons MakeRowButtons(const std::string &list, const QString &addText, const QString &removeText);
// The page: the table, its buttons under it and a note last.
void LayOutRowPage(QWidget *page, QTableWidget *table, const RowButtons &buttons, QWidget *note);
// Up and down while the selected row can move, remove while more than
// `keep` rows are left, add while there are fields to add.
void EnableRowButtons(const QWidget &dialog, const std::string &list, int selected, int count, int keep,
                      bool canAdd);

// Swaps row `row` with the one `delta` away; the row it went to, or -1 when
// it cannot move.
template <class Row>
int MoveRow(std::vector<Row> &rows, int row, int delta)
{
    const int to = row + delta;
    if (row < 0 || to < 0 || to >= static_cast<int>(rows.size()))
        return -1;
    std::swap(rows[static_cast<std::size_t>(row)], rows[static_cast<std::size_t>(to)]);
    return to;
}

// A result column in the report's words: the title of a column or group of
// `layouts` that shows it, else words made from the parts of its name
// ("IDENTRSAIDA": "Indicador de entrada/saída").
QString FieldWords(const std::string &field, const std::vector<const ReportLayout *> &layouts);
