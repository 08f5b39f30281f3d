#include "pickdialogs.h"

#include "qtwidgetset.h"

#include <QDialogButtonBox>
#include <functional>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int RowRole = Qt::UserRole + 1;

QString qs(const std::string &s) { return QString::fromStdString(s); }

QDialogButtonBox *okCancel(QDialog *dialog)
{
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

// Fills `table` with the rows; `checkColumn` adds a leading check-box column.
void fillTable(QTableWidget *table, const PickTable &data, bool checkColumn)
{
    const int offset = checkColumn ? 1 : 0;
    QStringList headers;
    if (checkColumn)
        headers << QString();
    for (const auto &t : data.titles)
        headers << qs(t);
    table->setColumnCount(static_cast<int>(headers.size()));
    table->setHorizontalHeaderLabels(headers);
    table->setRowCount(static_cast<int>(data.rows.size()));
    for (int r = 0; r < static_cast<int>(data.rows.size()); ++r) {
        const auto &cells = data.rows[static_cast<std::size_t>(r)];
        if (checkColumn) {
            auto *box = new QTableWidgetItem;
            box->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
            box->setCheckState(Qt::Unchecked);
            box->setData(RowRole, r);
            table->setItem(r, 0, box);
        }
        for (int c = 0; c < static_cast<int>(cells.size()) && c + offset < table->columnCount(); ++c) {
            auto *item = new QTableWidgetItem(qs(cells[static_cast<std::size_t>(c)]));
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            item->setData(RowRole, r);
            table->setItem(r, c + offset, item);
        }
    }
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    table->resizeColumnsToContents();
    if (table->rowCount() > 0)
        table->setCurrentCell(0, offset);
}

int rowOf(const QTableWidget *table, int visualRow)
{
    for (int c = 0; c < table->columnCount(); ++c)
        if (const auto *item = table->item(visualRow, c))
            return item->data(RowRole).toInt();
    return visualRow;
}

void layOut(QDialog *dialog, QWidget *view, QDialogButtonBox *buttons)
{
    auto *layout = new QVBoxLayout(dialog);
    layout->addWidget(view);
    layout->addWidget(buttons);
    dialog->resize(520, 360);
}

} // namespace

PickRowDialog::PickRowDialog(const std::string &title, const PickTable &table, QWidget *parent)
    : QDialog(parent), table_(new QTableWidget(this))
{
    setWindowTitle(qs(title));
    fillTable(table_, table, false);
    // The model's order until a header is clicked.
    table_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    table_->setSortingEnabled(true);
    auto *buttons = okCancel(this);
    buttons->button(QDialogButtonBox::Ok)->setEnabled(table_->rowCount() > 0);
    connect(table_, &QTableWidget::cellDoubleClicked, this, [this] { accept(); });
    layOut(this, table_, buttons);
}

std::optional<int> PickRowDialog::Picked() const
{
    const int current = table_->currentRow();
    if (current < 0)
        return std::nullopt;
    return rowOf(table_, current);
}

PickTreeDialog::PickTreeDialog(const std::string &title, const PickTable &, const std::vector<PickTreeNode> &roots,
                               QWidget *parent)
    : QDialog(parent), tree_(new QTreeWidget(this)), buttons_(okCancel(this))
{
    setWindowTitle(qs(title));
    tree_->setColumnCount(1);
    tree_->setHeaderHidden(true);
    std::function<void(QTreeWidgetItem *, const PickTreeNode &)> add = [&](QTreeWidgetItem *item,
                                                                          const PickTreeNode &node) {
        item->setText(0, qs(node.caption));
        item->setToolTip(0, qs(node.key));
        item->setData(0, RowRole, node.row);
        for (const auto &child : node.children)
            add(new QTreeWidgetItem(item), child);
    };
    for (const auto &root : roots)
        add(new QTreeWidgetItem(tree_), root);
    tree_->expandAll();
    connect(tree_, &QTreeWidget::currentItemChanged, this, [this] { UpdateOk(); });
    connect(tree_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem *item) {
        if (item && item->data(0, RowRole).toInt() >= 0)
            accept();
    });
    UpdateOk();
    layOut(this, tree_, buttons_);
}

void PickTreeDialog::UpdateOk() { buttons_->button(QDialogButtonBox::Ok)->setEnabled(Picked().has_value()); }

std::optional<int> PickTreeDialog::Picked() const
{
    const auto *item = tree_->currentItem();
    if (!item)
        return std::nullopt;
    const int row = item->data(0, RowRole).toInt();
    if (row < 0)
        return std::nullopt;
    return row;
}

PickRowsDialog::PickRowsDialog(const std::string &title, const PickTable &table, const std::vector<int> &marked,
                               QWidget *parent)
    : QDialog(parent), table_(new QTableWidget(this))
{
    setWindowTitle(qs(title));
    fillTable(table_, table, true);
    for (int r : marked)
        if (r >= 0 && r < table_->rowCount())
            table_->item(r, 0)->setCheckState(Qt::Checked);
    // A click anywhere on the row flips its box, as on a check list.
    connect(table_, &QTableWidget::cellClicked, this, [this](int row, int column) {
        if (column == 0)
            return;
        auto *box = table_->item(row, 0);
        box->setCheckState(box->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    });
    layOut(this, table_, okCancel(this));
}

std::vector<int> PickRowsDialog::Checked() const
{
    std::vector<int> rows;
    for (int r = 0; r < table_->rowCount(); ++r)
        if (table_->item(r, 0)->checkState() == Qt::Checked)
            rows.push_back(table_->item(r, 0)->data(RowRole).toInt());
    std::sort(rows.begin(), rows.end());
    return rows;
}
