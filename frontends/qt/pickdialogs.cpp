#include "pickdialogs.h"

#include "qtwidgetset.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFont>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTableWidget>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace {

constexpr int RowRole = Qt::UserRole + 1;

QString qs(const std::string &s) { return QString::fromStdString(s); }

// Text as a search compares it: no case, no accents ("agua" finds "Água").
QString Folded(const QString &text)
{
    const QString split = text.normalized(QString::NormalizationForm_D);
    QString out;
    out.reserve(split.size());
    for (QChar c : split)
        if (c.category() != QChar::Mark_NonSpacing)
            out += c;
    return out.toCaseFolded();
}

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
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 8);
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
    : QDialog(parent), table_(new QTableWidget(this)), search_(new QLineEdit(this))
{
    setWindowTitle(qs(title));
    fillTable(table_, table, false);
    // The model's order until a header is clicked.
    table_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    table_->setSortingEnabled(true);
    buttons_ = okCancel(this);
    connect(table_, &QTableWidget::cellDoubleClicked, this, [this] { accept(); });
    connect(table_, &QTableWidget::currentCellChanged, this, [this] { UpdateOk(); });
    search_->setPlaceholderText(QString::fromUtf8("Pesquisar em qualquer coluna (Enter: escolher)"));
    search_->setClearButtonEnabled(true);
    connect(search_, &QLineEdit::textEdited, this, [this](const QString &text) { Filter(text); });
    search_->installEventFilter(this);
    layOut(this, table_, buttons_);
    static_cast<QVBoxLayout *>(layout())->insertWidget(0, search_);
    search_->setFocus();
    UpdateOk();
}

std::optional<int> PickRowDialog::Picked() const
{
    const int current = table_->currentRow();
    if (current < 0 || table_->isRowHidden(current))
        return std::nullopt;
    return rowOf(table_, current);
}

void PickRowDialog::UpdateOk() { buttons_->button(QDialogButtonBox::Ok)->setEnabled(Picked().has_value()); }

int PickRowDialog::Filter(const QString &text)
{
    const QString wanted = Folded(text.trimmed());
    int shown = 0, first = -1;
    for (int r = 0; r < table_->rowCount(); ++r) {
        bool match = wanted.isEmpty();
        for (int c = 0; c < table_->columnCount() && !match; ++c)
            if (const auto *item = table_->item(r, c))
                match = Folded(item->text()).contains(wanted);
        table_->setRowHidden(r, !match);
        if (match) {
            ++shown;
            if (first < 0)
                first = r;
        }
    }
    const int current = table_->currentRow();
    if (first >= 0 && (current < 0 || table_->isRowHidden(current)))
        table_->setCurrentCell(first, 0);
    UpdateOk();
    return shown;
}

bool PickRowDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == search_ && event->type() == QEvent::KeyPress) {
        auto *ke = static_cast<QKeyEvent *>(event);
        if (ke->key() == Qt::Key_Down || ke->key() == Qt::Key_Up || ke->key() == Qt::Key_PageDown) {
            table_->setFocus();
            return true;
        }
        if (ke->key() == Qt::Key_Return || ke->key() == Qt::Key_Enter) {
            if (Picked())
                accept();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

// The tree as Qt's views see it: an index carries its node number.
class PickTreeModel : public QAbstractItemModel {
public:
    explicit PickTreeModel(const PickTree &tree, QObject *parent) : QAbstractItemModel(parent), tree_(tree) {}

    QModelIndex IndexOf(int node, int column = 0) const
    {
        return node < 0 ? QModelIndex() : createIndex(tree_.IndexInParent(node), column, static_cast<quintptr>(node));
    }
    static int NodeOf(const QModelIndex &index) { return index.isValid() ? static_cast<int>(index.internalId()) : -1; }

    QModelIndex index(int row, int column, const QModelIndex &parent) const override
    {
        const int p = NodeOf(parent);
        if (row < 0 || column < 0 || column > 1 || row >= tree_.ChildCount(p))
            return {};
        return createIndex(row, column, static_cast<quintptr>(tree_.Child(p, row)));
    }
    QModelIndex parent(const QModelIndex &child) const override
    {
        return child.isValid() ? IndexOf(tree_.Parent(NodeOf(child))) : QModelIndex();
    }
    int rowCount(const QModelIndex &parent) const override
    {
        if (parent.isValid() && parent.column() != 0)
            return 0;
        return tree_.ChildCount(NodeOf(parent));
    }
    int columnCount(const QModelIndex &) const override { return 2; }
    bool hasChildren(const QModelIndex &parent) const override { return rowCount(parent) > 0; }
    QVariant data(const QModelIndex &index, int role) const override
    {
        const int node = NodeOf(index);
        if (node < 0)
            return {};
        switch (role) {
        case Qt::DisplayRole: return qs(index.column() == 0 ? tree_.Segment(node) : tree_.Name(node));
        case Qt::ToolTipRole: return qs(tree_.Key(node));
        case Qt::FontRole:
            if (tree_.Row(node) < 0) {
                QFont bold;
                bold.setBold(true);
                return bold;
            }
            return {};
        default: return {};
        }
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return {};
        return section == 0 ? QString::fromUtf8("Código") : QStringLiteral("Nome");
    }

private:
    const PickTree &tree_;
};

PickTreeDialog::PickTreeDialog(const std::string &title, const PickTree &tree, QWidget *parent)
    : QDialog(parent), tree_(tree), model_(new PickTreeModel(tree, this)), search_(new QLineEdit(this)),
      view_(new QTreeView(this)), buttons_(okCancel(this))
{
    setWindowTitle(qs(title));
    search_->setPlaceholderText(QString::fromUtf8("Pesquisar por código ou nome (F3: próximo)"));
    search_->setClearButtonEnabled(true);
    view_->setModel(model_);
    view_->setUniformRowHeights(true);  // no measuring of a million rows
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->header()->setStretchLastSection(true);
    view_->setColumnWidth(0, 140);
    connect(view_->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] { UpdateOk(); });
    connect(view_, &QTreeView::doubleClicked, this, [this](const QModelIndex &i) {
        if (tree_.Row(PickTreeModel::NodeOf(i)) >= 0)
            accept();
    });
    connect(search_, &QLineEdit::textEdited, this, [this] { FindNext(true); });
    search_->installEventFilter(this);
    view_->installEventFilter(this);
    if (tree_.ChildCount(-1) > 0)
        view_->setCurrentIndex(model_->IndexOf(tree_.Child(-1, 0)));
    UpdateOk();
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(search_);
    layout->addWidget(view_);
    layout->addWidget(buttons_);
    resize(560, 440);
    search_->setFocus();
}

int PickTreeDialog::CurrentNode() const { return PickTreeModel::NodeOf(view_->currentIndex()); }

void PickTreeDialog::UpdateOk() { buttons_->button(QDialogButtonBox::Ok)->setEnabled(Picked().has_value()); }

void PickTreeDialog::Reveal(int node)
{
    if (node < 0)
        return;
    std::vector<int> above;
    for (int p = tree_.Parent(node); p >= 0; p = tree_.Parent(p))
        above.push_back(p);
    for (auto it = above.rbegin(); it != above.rend(); ++it)
        view_->expand(model_->IndexOf(*it));
    const QModelIndex index = model_->IndexOf(node);
    view_->setCurrentIndex(index);
    view_->scrollTo(index, QAbstractItemView::PositionAtCenter);
}

bool PickTreeDialog::FindNext(bool fromStart)
{
    const int node = tree_.Find(search_->text().toStdString(), fromStart ? -1 : CurrentNode());
    if (node >= 0)
        Reveal(node);
    QPalette p = search_->palette();
    p.setColor(QPalette::Text, node >= 0 || search_->text().isEmpty() ? palette().color(QPalette::Text) : Qt::red);
    search_->setPalette(p);
    return node >= 0;
}

bool PickTreeDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    auto *ke = static_cast<QKeyEvent *>(event);
    if (watched != search_ && watched != view_)
        return QDialog::eventFilter(watched, event);
    if (ke->key() == Qt::Key_F3) {
        FindNext(false);
        return true;
    }
    // Enter acts on the row highlighted, wherever the focus is: a product is
    // picked, a group opens or closes. Never the default button's accept,
    // which would take whatever the search moved to.
    if (ke->key() == Qt::Key_Return || ke->key() == Qt::Key_Enter) {
        const int node = CurrentNode();
        if (node >= 0 && tree_.Row(node) >= 0)
            accept();
        else if (node >= 0)
            view_->setExpanded(view_->currentIndex().siblingAtColumn(0),
                               !view_->isExpanded(view_->currentIndex().siblingAtColumn(0)));
        return true;
    }
    if (watched == search_ && (ke->key() == Qt::Key_Down || ke->key() == Qt::Key_Up || ke->key() == Qt::Key_PageDown)) {
        view_->setFocus();
        return true;
    }
    if (watched == view_) {
        // Typing in the tree searches the whole of it, not the rows in sight.
        const QString text = ke->text();
        if (!text.isEmpty() && text.at(0).isPrint() && !(ke->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            search_->setFocus();
            search_->setText(search_->text() + text);
            FindNext(true);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

std::optional<int> PickTreeDialog::Picked() const
{
    const int node = CurrentNode();
    if (node < 0 || tree_.Row(node) < 0)
        return std::nullopt;
    return tree_.Row(node);
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
        if (column != 0)
            Toggle(row);
    });
    table_->installEventFilter(this);
    auto *hint = new QLabel(QString::fromUtf8("Espaço marca ou desmarca a linha; Enter confirma."), this);
    auto *buttons = okCancel(this);
    layOut(this, table_, buttons);
    static_cast<QVBoxLayout *>(layout())->insertWidget(1, hint);
}

void PickRowsDialog::Toggle(int row)
{
    if (auto *box = table_->item(row, 0))
        box->setCheckState(box->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

bool PickRowsDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == table_ && event->type() == QEvent::KeyPress) {
        auto *ke = static_cast<QKeyEvent *>(event);
        if (ke->key() == Qt::Key_Space && ke->modifiers() == Qt::NoModifier) {
            if (table_->currentRow() >= 0)
                Toggle(table_->currentRow());
            return true;
        }
        if (ke->key() == Qt::Key_Return || ke->key() == Qt::Key_Enter) {
            accept();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
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

namespace {
// Paints the calendar's row of weekday headings with the calendar's own
// texts, and hands every other cell to the calendar's painter.
class WeekdayHeadings : public QStyledItemDelegate {
public:
    WeekdayHeadings(const DateCalendar &calendar, QAbstractItemDelegate *cells)
        : QStyledItemDelegate(const_cast<DateCalendar *>(&calendar)), calendar_(calendar), cells_(cells)
    {
    }
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        if (index.row() != 0 && cells_) {
            cells_->paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem o(option);
        initStyleOption(&o, index);
        o.text = calendar_.Heading(index.column());
        const QStyle *style = o.widget ? o.widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &o, painter, o.widget);
    }
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        return cells_ ? cells_->sizeHint(option, index) : QStyledItemDelegate::sizeHint(option, index);
    }

private:
    const DateCalendar &calendar_;
    QPointer<QAbstractItemDelegate> cells_;
};
} // namespace

DateCalendar::DateCalendar(const std::vector<std::string> &weekdayNames, QWidget *parent) : QCalendarWidget(parent)
{
    setLocale(QLocale(QLocale::Portuguese, QLocale::Brazil));
    setFirstDayOfWeek(Qt::Sunday);
    setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
    setGridVisible(true);
    if (weekdayNames.size() != 7)
        return;
    for (const auto &name : weekdayNames)
        names_ << qs(name);
    // The headings are a row of the calendar's own table (Qt names its view).
    auto *view = findChild<QTableView *>(QStringLiteral("qt_calendar_calendarview"));
    if (!view) {
        names_.clear();
        return;
    }
    view->setItemDelegate(new WeekdayHeadings(*this, view->itemDelegate()));
    // Columns wide enough for the longest name.
    int widest = 0;
    for (const QString &name : std::as_const(names_))
        widest = std::max(widest, view->fontMetrics().horizontalAdvance(name));
    setMinimumWidth(7 * (widest + 12));
}

QString DateCalendar::Heading(int column) const
{
    // Qt numbers the days from Monday (1) to Sunday (7).
    const int day = (static_cast<int>(firstDayOfWeek()) - 1 + column) % 7 + 1;
    if (names_.size() == 7)
        return names_[day % 7];
    return locale().dayName(day, QLocale::ShortFormat);
}
