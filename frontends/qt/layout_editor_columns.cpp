// The columns page: which fields show, and how.
#include "layout_editor.h"

#include "layout_editor_parts.h"
#include "report_theme.h"

#include <QDoubleSpinBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QSignalBlocker>

#include <algorithm>
#include <type_traits>

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
        {{K::Month, 0}, "Mês (mm/aaaa)"},
        {{K::TaxId, 0}, "CNPJ/CPF (00.000.000/0000-00)"},
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

// A new column's shape guessed from the field's prefix (VL value, QT quantity...).
LayoutColumn ColumnFor(const std::string &field, const QString &caption)
{
    LayoutColumn c;
    c.field = field;
    c.caption = caption.toStdString();
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

QWidget *LayoutEditor::BuildColumnsTab()
{
    auto *page = new QWidget;
    columns_ = RowTable("columns",
                        {QStringLiteral("Mostrar"), QStringLiteral("Título"), QStringLiteral("Campo"),
                         QStringLiteral("Largura"), QStringLiteral("Formato"), QStringLiteral("Total"),
                         QStringLiteral("Alinhamento"), QStringLiteral("Texto longo")},
                        page);
    columns_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                              QAbstractItemView::AnyKeyPressed);
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

    const RowButtons buttons =
        MakeRowButtons("column", QStringLiteral("Incluir coluna"), QStringLiteral("Excluir coluna"));
    connect(buttons.up, &QPushButton::clicked, this, [this] { MoveColumn(-1); });
    connect(buttons.down, &QPushButton::clicked, this, [this] { MoveColumn(+1); });
    connect(buttons.remove, &QPushButton::clicked, this, [this] { RemoveColumn(); });
    auto *menu = new QMenu(buttons.add);
    buttons.add->setMenu(menu);
    connect(menu, &QMenu::aboutToShow, this, [this, menu] {
        menu->clear();
        for (const std::string &field : request_.fields) {
            const bool shown = std::any_of(layout_.columns.begin(), layout_.columns.end(),
                                           [&](const LayoutColumn &c) { return c.field == field; });
            if (!shown)
                menu->addAction(FieldLabel(field), this, [this, field] { AddColumn(field); })
                    ->setToolTip(ToQString(field));
        }
        if (menu->isEmpty())
            menu->addAction(QStringLiteral("Todos os campos já têm coluna"))->setEnabled(false);
    });

    widthNote_ = new QLabel(page);
    widthNote_->setWordWrap(true);
    LayOutRowPage(page, columns_, buttons, widthNote_);
    return page;
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

        // The field in the report's words as delivered (the title beside it
        // is the person's); its own name only in the tooltip.
        const ReportLayout *delivered = request_.original ? &*request_.original : &request_.layout;
        auto *field = new QTableWidgetItem(c.field.empty() ? QStringLiteral("= ") + ToQString(c.expression)
                                                           : FieldWords(c.field, {delivered}));
        field->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        field->setToolTip(c.field.empty() ? QStringLiteral("Calculada pela expressão")
                                          : QStringLiteral("Coluna %1 do resultado").arg(ToQString(c.field)));
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

        // A list of choices in the cell, its index an enumeration of the column.
        const auto choice = [&](ColumnCell cell, const QStringList &labels, auto LayoutColumn::*member) {
            using Value = std::remove_reference_t<decltype(c.*member)>;
            auto *box = ChoiceBox(labels, static_cast<int>(c.*member), guard);
            connect(box, &QComboBox::currentIndexChanged, this, [this, row, member](int index) {
                layout_.columns[static_cast<std::size_t>(row)].*member = static_cast<Value>(index);
                Changed();
            });
            columns_->setCellWidget(row, cell, box);
        };
        choice(ColTotal, {QStringLiteral("Nenhum"), QStringLiteral("Soma"), QStringLiteral("Contagem")},
               &LayoutColumn::total);
        choice(ColAlign, {QStringLiteral("Esquerda"), QStringLiteral("Centro"), QStringLiteral("Direita")},
               &LayoutColumn::align);
        choice(ColOverflow, {QStringLiteral("Cortar com …"), QStringLiteral("Quebrar linha")},
               &LayoutColumn::overflow);
    }
    if (selectRow >= 0 && selectRow < columns_->rowCount())
        columns_->selectRow(selectRow);
    UpdateButtons();
    Changed();
}

void LayoutEditor::MoveColumn(int delta)
{
    const int to = MoveRow(layout_.columns, SelectedRow(columns_), delta);
    if (to >= 0)
        FillColumns(to);
}

void LayoutEditor::AddColumn(const std::string &field)
{
    layout_.columns.push_back(ColumnFor(field, FieldLabel(field)));
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
