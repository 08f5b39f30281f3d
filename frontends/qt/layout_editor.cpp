#include "layout_editor.h"

#include "print_support.h"
#include "report_theme.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPdfDocument>
#include <QPdfPageNavigator>
#include <QPdfView>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

struct FormatChoice {
    ValueFormat format;
    const char *label;
};

const std::vector<FormatChoice> &FormatChoices()
{
    using K = ValueFormat::Kind;
    static const std::vector<FormatChoice> choices{
        {{K::Text, 0}, "Texto"},
        {{K::Money, 0}, "Valor (1.234,56)"},
        {{K::Quantity, 0}, "Quantidade (1.234,000)"},
        {{K::Integer, 0}, "Inteiro (1.234)"},
        {{K::Decimal, 1}, "Decimal, 1 casa (0,0)"},
        {{K::Decimal, 2}, "Decimal, 2 casas (0,00)"},
        {{K::Decimal, 3}, "Decimal, 3 casas (0,000)"},
        {{K::Decimal, 4}, "Decimal, 4 casas (0,0000)"},
        {{K::Decimal, 5}, "Decimal, 5 casas (0,00000)"},
        {{K::Decimal, 6}, "Decimal, 6 casas (0,000000)"},
        {{K::Percent, 0}, "Percentual (18,00 %)"},
        {{K::Cfop, 0}, "CFOP (5.102)"},
        {{K::Date, 0}, "Data (dd/mm/aaaa)"},
        {{K::Product, 0}, "Código de produto"},
    };
    return choices;
}

QString FormatLabel(const ValueFormat &format)
{
    for (const FormatChoice &c : FormatChoices())
        if (c.format == format)
            return QString::fromUtf8(c.label);
    if (format.kind == ValueFormat::Kind::Decimal)
        return QStringLiteral("Decimal, %1 casas").arg(format.decimals);
    return QStringLiteral("Lista");
}

int FormatKey(const ValueFormat &f) { return static_cast<int>(f.kind) * 100 + f.decimals; }
ValueFormat FormatOfKey(int key) { return {static_cast<ValueFormat::Kind>(key / 100), key % 100}; }

// A wheel turned over a table scrolls the table; it changes a box in a cell
// only once the person has put the focus in it.
class WheelGuard : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Wheel) {
            auto *w = static_cast<QWidget *>(watched);
            if (!w->hasFocus()) {
                event->ignore();
                return true;
            }
        }
        return false;
    }
};

template <class Box>
Box *Guarded(Box *box, QObject *guard)
{
    box->setFocusPolicy(Qt::StrongFocus);
    box->installEventFilter(guard);
    return box;
}

QComboBox *ChoiceBox(const QStringList &labels, int current, QObject *guard)
{
    auto *box = Guarded(new QComboBox, guard);
    box->addItems(labels);
    box->setCurrentIndex(current);
    return box;
}

QPushButton *NamedButton(const char *name, const QString &text, const char *icon, QStyle::StandardPixmap fallback)
{
    auto *b = new QPushButton(ThemeIcon(icon, fallback), text);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    return b;
}

double PageWidthPoints(const ReportLayout &layout)
{
    const bool letter = layout.page == "Letter";
    const double shortSide = letter ? 612 : 595;
    const double longSide = letter ? 792 : 842;
    return layout.landscape ? longSide : shortSide;
}

// A new column's shape guessed from the field's prefix (VL value, QT quantity...).
LayoutColumn ColumnFor(const std::string &field)
{
    LayoutColumn c;
    c.field = field;
    c.caption = field;
    auto starts = [&](const char *prefix) { return field.rfind(prefix, 0) == 0; };
    if (starts("VL")) {
        c.format.kind = ValueFormat::Kind::Money;
        c.align = ColumnAlign::Right;
        c.width = 70;
    } else if (starts("QT")) {
        c.format.kind = ValueFormat::Kind::Quantity;
        c.align = ColumnAlign::Right;
        c.width = 60;
    } else if (starts("DT")) {
        c.format.kind = ValueFormat::Kind::Date;
        c.width = 52;
    } else if (starts("NM") || starts("DS")) {
        c.width = 150;
    }
    return c;
}

} // namespace

LayoutEditor::LayoutEditor(LayoutEditRequest request, QWidget *parent)
    : QDialog(parent), request_(std::move(request)), layout_(request_.layout), wheelGuard_(new WheelGuard(this))
{
    setWindowTitle(QStringLiteral("Editar relatório – ") + ToQString(request_.title));
    setWindowIcon(ThemeIcon("document-properties", QStyle::SP_FileDialogDetailedView));
    showError_ = [this](const QString &text) { QMessageBox::warning(this, windowTitle(), text); };

    auto *tabs = new QTabWidget;
    tabs->addTab(BuildColumnsTab(), QStringLiteral("Colunas"));
    tabs->addTab(BuildGroupsTab(), QStringLiteral("Grupos"));
    tabs->addTab(BuildPageTab(), QStringLiteral("Página"));

    auto *splitter = new QSplitter(Qt::Horizontal);
    splitter->addWidget(tabs);
    splitter->addWidget(BuildPreview());
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 0);
    splitter->setChildrenCollapsible(false);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancelar"));
    connect(buttons, &QDialogButtonBox::accepted, this, &LayoutEditor::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &LayoutEditor::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(splitter, 1);
    layout->addWidget(buttons);

    FillColumns(0);
    FillGroups(0);
    // Roomy where the desktop has the room, never larger than it.
    QSize size(1280, 680);
    if (const QScreen *desktop = screen())
        size = size.boundedTo(desktop->availableGeometry().size() * 0.95);
    resize(size);
    splitter->setSizes({size.width() * 7 / 10, size.width() * 3 / 10});
    // The first page shows as soon as the dialog runs.
    QTimer::singleShot(0, this, [this] { RefreshPreview(); });
}

LayoutEditor::~LayoutEditor()
{
    delete previewView_;  // before the document it paints
}

QWidget *LayoutEditor::BuildColumnsTab()
{
    auto *page = new QWidget;
    columns_ = new QTableWidget(0, ColumnCells, page);
    columns_->setObjectName(QStringLiteral("columns"));
    columns_->setHorizontalHeaderLabels({QStringLiteral("Mostrar"), QStringLiteral("Título"), QStringLiteral("Campo"),
                                         QStringLiteral("Largura"), QStringLiteral("Formato"), QStringLiteral("Total"),
                                         QStringLiteral("Alinhamento"), QStringLiteral("Texto longo")});
    columns_->setSelectionBehavior(QAbstractItemView::SelectRows);
    columns_->setSelectionMode(QAbstractItemView::SingleSelection);
    columns_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                              QAbstractItemView::AnyKeyPressed);
    columns_->verticalHeader()->setVisible(false);
    columns_->setWordWrap(false);
    QHeaderView *header = columns_->horizontalHeader();
    header->setMinimumSectionSize(40);
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setSectionResizeMode(ColCaption, QHeaderView::Stretch);
    header->setSectionResizeMode(ColField, QHeaderView::ResizeToContents);
    for (auto [cell, width] : {std::pair{ColShow, 64}, {ColWidth, 80}, {ColFormat, 160}, {ColTotal, 96},
                               {ColAlign, 100}, {ColOverflow, 124}})
        columns_->setColumnWidth(cell, width);
    connect(columns_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem *item) {
        const auto row = static_cast<std::size_t>(item->row());
        if (row >= layout_.columns.size())
            return;
        if (item->column() == ColShow)
            layout_.columns[row].visible = item->checkState() == Qt::Checked;
        else if (item->column() == ColCaption)
            layout_.columns[row].caption = item->text().toStdString();
        else
            return;
        Changed();
    });
    connect(columns_, &QTableWidget::itemSelectionChanged, this, [this] { UpdateButtons(); });

    auto *up = NamedButton("columnUp", QStringLiteral("Para cima"), "go-up", QStyle::SP_ArrowUp);
    auto *down = NamedButton("columnDown", QStringLiteral("Para baixo"), "go-down", QStyle::SP_ArrowDown);
    auto *add = NamedButton("columnAdd", QStringLiteral("Incluir coluna"), "list-add", QStyle::SP_FileDialogNewFolder);
    auto *remove = NamedButton("columnRemove", QStringLiteral("Excluir coluna"), "list-remove", QStyle::SP_TrashIcon);
    connect(up, &QPushButton::clicked, this, [this] { MoveColumn(-1); });
    connect(down, &QPushButton::clicked, this, [this] { MoveColumn(+1); });
    connect(remove, &QPushButton::clicked, this, [this] { RemoveColumn(); });
    auto *menu = new QMenu(add);
    add->setMenu(menu);
    connect(menu, &QMenu::aboutToShow, this, [this, menu] {
        menu->clear();
        for (const std::string &field : request_.fields) {
            const bool shown = std::any_of(layout_.columns.begin(), layout_.columns.end(),
                                           [&](const LayoutColumn &c) { return c.field == field; });
            if (!shown)
                menu->addAction(ToQString(field), this, [this, field] { AddColumn(field); });
        }
        if (menu->isEmpty())
            menu->addAction(QStringLiteral("Todos os campos já têm coluna"))->setEnabled(false);
    });

    widthNote_ = new QLabel(page);
    widthNote_->setWordWrap(true);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(up);
    buttons->addWidget(down);
    buttons->addStretch(1);
    buttons->addWidget(add);
    buttons->addWidget(remove);
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(columns_, 1);
    layout->addLayout(buttons);
    layout->addWidget(widthNote_);
    return page;
}

QWidget *LayoutEditor::BuildGroupsTab()
{
    auto *page = new QWidget;
    groups_ = new QTableWidget(0, GroupCells, page);
    groups_->setObjectName(QStringLiteral("groups"));
    groups_->setHorizontalHeaderLabels(
        {QStringLiteral("Agrupar por"), QStringLiteral("Cabeçalho do grupo"), QStringLiteral("Rodapé do grupo"),
         QStringLiteral("Título na exportação")});
    groups_->setSelectionBehavior(QAbstractItemView::SelectRows);
    groups_->setSelectionMode(QAbstractItemView::SingleSelection);
    groups_->verticalHeader()->setVisible(false);
    groups_->horizontalHeader()->setSectionResizeMode(GroupField, QHeaderView::ResizeToContents);
    groups_->horizontalHeader()->setSectionResizeMode(GroupHeader, QHeaderView::Stretch);
    groups_->horizontalHeader()->setSectionResizeMode(GroupFooter, QHeaderView::Stretch);
    groups_->horizontalHeader()->setSectionResizeMode(GroupCaption, QHeaderView::ResizeToContents);
    groups_->horizontalHeaderItem(GroupCaption)
        ->setToolTip(QStringLiteral("Título da coluna do grupo em planilhas e CSV; vazio: o da coluna do campo"));
    connect(groups_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem *item) {
        const auto row = static_cast<std::size_t>(item->row());
        if (row >= layout_.groups.size())
            return;
        if (item->column() == GroupHeader)
            layout_.groups[row].header = item->text().toStdString();
        else if (item->column() == GroupFooter)
            layout_.groups[row].footer = item->text().toStdString();
        else if (item->column() == GroupCaption)
            layout_.groups[row].caption = item->text().toStdString();
        else
            return;
        Changed();
    });
    connect(groups_, &QTableWidget::itemSelectionChanged, this, [this] { UpdateButtons(); });

    auto *up = NamedButton("groupUp", QStringLiteral("Para cima"), "go-up", QStyle::SP_ArrowUp);
    auto *down = NamedButton("groupDown", QStringLiteral("Para baixo"), "go-down", QStyle::SP_ArrowDown);
    auto *add = NamedButton("groupAdd", QStringLiteral("Incluir grupo"), "list-add", QStyle::SP_FileDialogNewFolder);
    auto *remove = NamedButton("groupRemove", QStringLiteral("Excluir grupo"), "list-remove", QStyle::SP_TrashIcon);
    connect(up, &QPushButton::clicked, this, [this] { MoveGroup(-1); });
    connect(down, &QPushButton::clicked, this, [this] { MoveGroup(+1); });
    connect(add, &QPushButton::clicked, this, [this] { AddGroup(); });
    connect(remove, &QPushButton::clicked, this, [this] { RemoveGroup(); });
    if (request_.fields.empty())
        add->setToolTip(QStringLiteral("Os campos do relatório não são conhecidos."));

    auto *hint = new QLabel(
        QStringLiteral("O primeiro grupo é o mais externo. Um grupo dura enquanto o campo mantém o mesmo valor, "
                       "por isso agrupe por campos pelos quais as linhas já vêm ordenadas. No cabeçalho e no "
                       "rodapé, {CAMPO} mostra o valor do campo na primeira linha do grupo."),
        page);
    hint->setWordWrap(true);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(up);
    buttons->addWidget(down);
    buttons->addStretch(1);
    buttons->addWidget(add);
    buttons->addWidget(remove);
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(groups_, 1);
    layout->addLayout(buttons);
    layout->addWidget(hint);
    return page;
}

QWidget *LayoutEditor::BuildPageTab()
{
    auto *page = new QWidget;

    auto *orientation = new QGroupBox(QStringLiteral("Orientação"), page);
    portrait_ = new QRadioButton(QStringLiteral("Retrato"), orientation);
    landscape_ = new QRadioButton(QStringLiteral("Paisagem"), orientation);
    portrait_->setIcon(ThemeIcon("x-office-document", QStyle::SP_FileIcon));
    landscape_->setIcon(ThemeIcon("x-office-presentation", QStyle::SP_FileIcon));
    (layout_.landscape ? landscape_ : portrait_)->setChecked(true);
    auto *orientationLayout = new QHBoxLayout(orientation);
    orientationLayout->addWidget(portrait_);
    orientationLayout->addWidget(landscape_);
    orientationLayout->addStretch(1);
    connect(landscape_, &QRadioButton::toggled, this, [this](bool on) {
        layout_.landscape = on;
        Changed();
    });

    pageSize_ = new QComboBox(page);
    pageSize_->addItem(QStringLiteral("A4 (210 × 297 mm)"), QStringLiteral("A4"));
    pageSize_->addItem(QStringLiteral("Carta (216 × 279 mm)"), QStringLiteral("Letter"));
    pageSize_->setCurrentIndex(std::max(0, pageSize_->findData(ToQString(layout_.page))));
    connect(pageSize_, &QComboBox::currentIndexChanged, this, [this] {
        layout_.page = pageSize_->currentData().toString().toStdString();
        Changed();
    });

    summary_ = new QCheckBox(QStringLiteral("Mostrar os totais do relatório inteiro no fim"), page);
    summary_->setChecked(layout_.summary);
    summaryCaption_ = new QLineEdit(ToQString(layout_.summaryCaption), page);
    summaryCaption_->setEnabled(layout_.summary);
    connect(summary_, &QCheckBox::toggled, this, [this](bool on) {
        layout_.summary = on;
        summaryCaption_->setEnabled(on);
        Changed();
    });
    connect(summaryCaption_, &QLineEdit::textEdited, this, [this](const QString &text) {
        layout_.summaryCaption = text.toStdString();
        Changed();
    });
    emptyText_ = new QLineEdit(ToQString(layout_.emptyText), page);
    connect(emptyText_, &QLineEdit::textEdited, this, [this](const QString &text) {
        layout_.emptyText = text.toStdString();
        Changed();
    });

    auto *form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);  // texts widen, the paper box does not
    form->addRow(QStringLiteral("Papel:"), pageSize_);
    form->addRow(QString(), summary_);
    form->addRow(QStringLiteral("Título dos totais:"), summaryCaption_);
    form->addRow(QStringLiteral("Sem registros, mostrar:"), emptyText_);

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(orientation);
    layout->addLayout(form);
    layout->addStretch(1);
    return page;
}

QWidget *LayoutEditor::BuildPreview()
{
    auto *box = new QGroupBox(QStringLiteral("Primeira página"));
    previewDocument_ = new QPdfDocument(this);
    previewView_ = new QPdfView(box);
    previewView_->setDocument(previewDocument_);
    previewView_->setPageMode(QPdfView::PageMode::SinglePage);
    previewView_->setZoomMode(QPdfView::ZoomMode::FitInView);
    previewView_->setMinimumSize(300, 240);
    previewStatus_ = new QLabel(box);
    previewStatus_->setWordWrap(true);
    auto *refresh = NamedButton("refresh", QStringLiteral("Atualizar"), "view-refresh", QStyle::SP_BrowserReload);
    refresh->setToolTip(QStringLiteral("Gera de novo a primeira página com o layout como está"));
    refresh->setEnabled(static_cast<bool>(request_.previewFirstPage));
    connect(refresh, &QPushButton::clicked, this, [this] { RefreshPreview(); });

    auto *bottom = new QHBoxLayout;
    bottom->addWidget(previewStatus_, 1);
    bottom->addWidget(refresh, 0, Qt::AlignTop);
    auto *layout = new QVBoxLayout(box);
    layout->addWidget(previewView_, 1);
    layout->addLayout(bottom);
    return box;
}

void LayoutEditor::FillColumns(int selectRow)
{
    QObject *guard = wheelGuard_;
    const QSignalBlocker block(columns_);
    columns_->setRowCount(0);
    columns_->setRowCount(static_cast<int>(layout_.columns.size()));
    for (int row = 0; row < columns_->rowCount(); ++row) {
        const LayoutColumn &c = layout_.columns[static_cast<std::size_t>(row)];

        auto *show = new QTableWidgetItem;
        show->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        show->setCheckState(c.visible ? Qt::Checked : Qt::Unchecked);
        columns_->setItem(row, ColShow, show);

        columns_->setItem(row, ColCaption, new QTableWidgetItem(ToQString(c.caption)));

        auto *field = new QTableWidgetItem(c.field.empty() ? QStringLiteral("= ") + ToQString(c.expression)
                                                           : ToQString(c.field));
        field->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        field->setToolTip(c.field.empty() ? QStringLiteral("Calculada pela expressão") : QString());
        columns_->setItem(row, ColField, field);

        auto *width = Guarded(new QDoubleSpinBox, guard);
        width->setRange(5, 2000);
        width->setDecimals(0);
        width->setSuffix(QStringLiteral(" pt"));
        width->setValue(c.width);
        width->setToolTip(QStringLiteral("Em pontos: 1 cm tem cerca de 28 pt."));
        connect(width, &QDoubleSpinBox::valueChanged, this, [this, row](double value) {
            layout_.columns[static_cast<std::size_t>(row)].width = value;
            Changed();
        });
        columns_->setCellWidget(row, ColWidth, width);

        auto *format = Guarded(new QComboBox, guard);
        for (const FormatChoice &choice : FormatChoices())
            format->addItem(QString::fromUtf8(choice.label), FormatKey(choice.format));
        if (format->findData(FormatKey(c.format)) < 0)
            format->addItem(FormatLabel(c.format), FormatKey(c.format));
        format->setCurrentIndex(format->findData(FormatKey(c.format)));
        connect(format, &QComboBox::currentIndexChanged, this, [this, row, format] {
            layout_.columns[static_cast<std::size_t>(row)].format = FormatOfKey(format->currentData().toInt());
            Changed();
        });
        columns_->setCellWidget(row, ColFormat, format);

        auto *total = ChoiceBox({QStringLiteral("Nenhum"), QStringLiteral("Soma"), QStringLiteral("Contagem")},
                                static_cast<int>(c.total), guard);
        connect(total, &QComboBox::currentIndexChanged, this, [this, row](int index) {
            layout_.columns[static_cast<std::size_t>(row)].total = static_cast<ColumnTotal>(index);
            Changed();
        });
        columns_->setCellWidget(row, ColTotal, total);

        auto *align = ChoiceBox({QStringLiteral("Esquerda"), QStringLiteral("Centro"), QStringLiteral("Direita")},
                                static_cast<int>(c.align), guard);
        connect(align, &QComboBox::currentIndexChanged, this, [this, row](int index) {
            layout_.columns[static_cast<std::size_t>(row)].align = static_cast<ColumnAlign>(index);
            Changed();
        });
        columns_->setCellWidget(row, ColAlign, align);

        auto *overflow = ChoiceBox({QStringLiteral("Cortar com …"), QStringLiteral("Quebrar linha")},
                                   static_cast<int>(c.overflow), guard);
        connect(overflow, &QComboBox::currentIndexChanged, this, [this, row](int index) {
            layout_.columns[static_cast<std::size_t>(row)].overflow = static_cast<ColumnOverflow>(index);
            Changed();
        });
        columns_->setCellWidget(row, ColOverflow, overflow);
    }
    if (selectRow >= 0 && selectRow < columns_->rowCount())
        columns_->selectRow(selectRow);
    UpdateButtons();
    Changed();
}

void LayoutEditor::FillGroups(int selectRow)
{
    QObject *guard = wheelGuard_;
    const QSignalBlocker block(groups_);
    groups_->setRowCount(0);
    groups_->setRowCount(static_cast<int>(layout_.groups.size()));
    for (int row = 0; row < groups_->rowCount(); ++row) {
        const LayoutGroup &g = layout_.groups[static_cast<std::size_t>(row)];
        auto *field = Guarded(new QComboBox, guard);
        for (const std::string &f : request_.fields)
            field->addItem(ToQString(f));
        if (field->findText(ToQString(g.field)) < 0)
            field->addItem(ToQString(g.field));  // kept as it is; OK says what is wrong with it
        field->setCurrentIndex(field->findText(ToQString(g.field)));
        connect(field, &QComboBox::currentTextChanged, this, [this, row](const QString &text) {
            layout_.groups[static_cast<std::size_t>(row)].field = text.toStdString();
            Changed();
        });
        groups_->setCellWidget(row, GroupField, field);
        groups_->setItem(row, GroupHeader, new QTableWidgetItem(ToQString(g.header)));
        groups_->setItem(row, GroupFooter, new QTableWidgetItem(ToQString(g.footer)));
        groups_->setItem(row, GroupCaption, new QTableWidgetItem(ToQString(g.caption)));
    }
    if (selectRow >= 0 && selectRow < groups_->rowCount())
        groups_->selectRow(selectRow);
    UpdateButtons();
}

int LayoutEditor::SelectedRow(const QTableWidget *table) const
{
    const QList<QTableWidgetSelectionRange> ranges = table->selectedRanges();
    return ranges.isEmpty() ? -1 : ranges.first().topRow();
}

void LayoutEditor::UpdateButtons()
{
    const int column = SelectedRow(columns_);
    const int columnCount = static_cast<int>(layout_.columns.size());
    if (QPushButton *b = Button("columnUp"))
        b->setEnabled(column > 0);
    if (QPushButton *b = Button("columnDown"))
        b->setEnabled(column >= 0 && column < columnCount - 1);
    if (QPushButton *b = Button("columnRemove"))
        b->setEnabled(column >= 0 && columnCount > 1);
    if (QPushButton *b = Button("columnAdd"))
        b->setEnabled(!request_.fields.empty());

    const int group = SelectedRow(groups_);
    const int groupCount = static_cast<int>(layout_.groups.size());
    if (QPushButton *b = Button("groupUp"))
        b->setEnabled(group > 0);
    if (QPushButton *b = Button("groupDown"))
        b->setEnabled(group >= 0 && group < groupCount - 1);
    if (QPushButton *b = Button("groupRemove"))
        b->setEnabled(group >= 0);
    if (QPushButton *b = Button("groupAdd"))
        b->setEnabled(!request_.fields.empty());
}

void LayoutEditor::MoveColumn(int delta)
{
    const int row = SelectedRow(columns_);
    const int to = row + delta;
    if (row < 0 || to < 0 || to >= static_cast<int>(layout_.columns.size()))
        return;
    std::swap(layout_.columns[static_cast<std::size_t>(row)], layout_.columns[static_cast<std::size_t>(to)]);
    FillColumns(to);
}

void LayoutEditor::AddColumn(const std::string &field)
{
    layout_.columns.push_back(ColumnFor(field));
    FillColumns(static_cast<int>(layout_.columns.size()) - 1);
    columns_->scrollToBottom();
}

void LayoutEditor::RemoveColumn()
{
    const int row = SelectedRow(columns_);
    if (row < 0 || layout_.columns.size() <= 1)
        return;
    layout_.columns.erase(layout_.columns.begin() + row);
    FillColumns(std::min(row, static_cast<int>(layout_.columns.size()) - 1));
}

void LayoutEditor::MoveGroup(int delta)
{
    const int row = SelectedRow(groups_);
    const int to = row + delta;
    if (row < 0 || to < 0 || to >= static_cast<int>(layout_.groups.size()))
        return;
    std::swap(layout_.groups[static_cast<std::size_t>(row)], layout_.groups[static_cast<std::size_t>(to)]);
    FillGroups(to);
    Changed();
}

void LayoutEditor::AddGroup()
{
    if (request_.fields.empty())
        return;
    // The first field no group uses yet; the person picks another in the row.
    std::string field = request_.fields.front();
    for (const std::string &f : request_.fields) {
        if (std::none_of(layout_.groups.begin(), layout_.groups.end(), [&](const LayoutGroup &g) { return g.field == f; })) {
            field = f;
            break;
        }
    }
    layout_.groups.push_back({field, "{" + field + "}", "Total de {" + field + "}", {}});
    FillGroups(static_cast<int>(layout_.groups.size()) - 1);
    Changed();
}

void LayoutEditor::RemoveGroup()
{
    const int row = SelectedRow(groups_);
    if (row < 0)
        return;
    layout_.groups.erase(layout_.groups.begin() + row);
    FillGroups(std::min(row, static_cast<int>(layout_.groups.size()) - 1));
    Changed();
}

void LayoutEditor::Changed()
{
    if (widthNote_) {
        double sum = 0;
        for (const LayoutColumn &c : layout_.columns)
            if (c.visible)
                sum += c.width;
        widthNote_->setText(QStringLiteral("Colunas visíveis: %1 pt de largura; a página tem %2 pt. "
                                           "Colunas que não cabem são estreitadas por igual.")
                                .arg(GroupedNumber(std::llround(sum)), GroupedNumber(std::llround(PageWidthPoints(layout_)))));
    }
    if (previewStatus_ && previewDocument_ && previewDocument_->pageCount() > 0)
        previewStatus_->setText(QStringLiteral("O layout mudou: clique em Atualizar para ver a primeira página como ficou."));
}

QPushButton *LayoutEditor::Button(const char *name) const
{
    return findChild<QPushButton *>(QLatin1String(name));
}

QString LayoutEditor::PreviewStatus() const { return previewStatus_->text(); }

std::optional<QString> LayoutEditor::Problem() const
{
    try {
        const ReportLayout checked = ParseLayout(SerializeLayout(layout_));
        // Without the statement's columns there is nothing to check the names against.
        if (!request_.fields.empty())
            CheckLayoutFields(checked, request_.fields);
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    }
    return std::nullopt;
}

void LayoutEditor::accept()
{
    if (const std::optional<QString> problem = Problem()) {
        showError_(QStringLiteral("O layout não pode ser usado e não foi salvo.\n\n") + *problem);
        return;
    }
    result_ = ParseLayout(SerializeLayout(layout_));
    QDialog::accept();
}

void LayoutEditor::RefreshPreview()
{
    if (!request_.previewFirstPage) {
        previewStatus_->setText(QStringLiteral("A primeira página não pode ser mostrada para este relatório."));
        return;
    }
    if (const std::optional<QString> problem = Problem()) {
        previewStatus_->setText(QStringLiteral("O layout ainda não pode ser usado: ") + *problem);
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        const std::string path = request_.previewFirstPage(layout_);
        OpenPdf(*previewDocument_, ToQString(path));
        previewView_->pageNavigator()->jump(0, QPointF());
        previewStatus_->setText(QStringLiteral("Primeira página com o layout atual."));
    } catch (const std::exception &e) {
        previewStatus_->setText(QStringLiteral("Não foi possível mostrar a primeira página: ") + QString::fromUtf8(e.what()));
    }
    QApplication::restoreOverrideCursor();
}
