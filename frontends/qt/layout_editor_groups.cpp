// The groups page: the fields the rows are grouped by, outermost first.
#include "layout_editor.h"

#include "layout_editor_parts.h"
#include "report_theme.h"

#include <QHeaderView>
#include <QTableWidget>
#include <QLabel>
#include <QSignalBlocker>

#include <algorithm>

QWidget *LayoutEditor::BuildGroupsTab()
{
    auto *page = new QWidget;
    groups_ = RowTable("groups",
                       {QStringLiteral("Agrupar por"), QStringLiteral("Cabeçalho do grupo"),
                        QStringLiteral("Rodapé do grupo"), QStringLiteral("Título na exportação")},
                       page);
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
            layout_.groups[row].header = StoredTemplate(item->text());
        else if (item->column() == GroupFooter)
            layout_.groups[row].footer = StoredTemplate(item->text());
        else if (item->column() == GroupCaption)
            layout_.groups[row].caption = item->text().toStdString();
        else
            return;
        Changed();
    });
    connect(groups_, &QTableWidget::itemSelectionChanged, this, [this] { UpdateButtons(); });

    const RowButtons buttons = MakeRowButtons("group", QStringLiteral("Incluir grupo"), QStringLiteral("Excluir grupo"));
    connect(buttons.up, &QPushButton::clicked, this, [this] { MoveGroup(-1); });
    connect(buttons.down, &QPushButton::clicked, this, [this] { MoveGroup(+1); });
    connect(buttons.add, &QPushButton::clicked, this, [this] { AddGroup(); });
    connect(buttons.remove, &QPushButton::clicked, this, [this] { RemoveGroup(); });
    if (request_.fields.empty())
        buttons.add->setToolTip(QStringLiteral("Os campos do relatório não são conhecidos."));

    auto *hint = new QLabel(
        QStringLiteral("O primeiro grupo é o mais externo. Um grupo dura enquanto o campo mantém o mesmo valor, "
                       "por isso agrupe por campos pelos quais as linhas já vêm ordenadas. No cabeçalho e no "
                       "rodapé, o nome de um campo entre chaves, como {Descrição de entrada/saída}, mostra o valor dele na primeira "
                       "linha do grupo."),
        page);
    hint->setWordWrap(true);
    LayOutRowPage(page, groups_, buttons, hint);
    return page;
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
        const auto add = [this, field](const std::string &f) {
            field->addItem(FieldLabel(f), ToQString(f));
            field->setItemData(field->count() - 1, ToQString(f), Qt::ToolTipRole);
        };
        for (const std::string &f : request_.fields)
            add(f);
        if (field->findData(ToQString(g.field)) < 0)
            add(g.field);  // kept as it is; OK says what is wrong with it
        field->setCurrentIndex(field->findData(ToQString(g.field)));
        connect(field, &QComboBox::currentIndexChanged, this, [this, row, field] {
            LayoutGroup &group = layout_.groups[static_cast<std::size_t>(row)];
            const std::string from = "{" + group.field + "}";
            group.field = field->currentData().toString().toStdString();
            // The texts that showed the old field show the new one.
            const std::string to = "{" + group.field + "}";
            for (std::string *text : {&group.header, &group.footer})
                for (std::size_t at = text->find(from); at != std::string::npos; at = text->find(from, at + to.size()))
                    text->replace(at, from.size(), to);
            const QSignalBlocker block(groups_);
            SetTemplateItem(groups_->item(row, GroupHeader), group.header);
            SetTemplateItem(groups_->item(row, GroupFooter), group.footer);
            Changed();
        });
        groups_->setCellWidget(row, GroupField, field);
        groups_->setItem(row, GroupHeader, new QTableWidgetItem);
        groups_->setItem(row, GroupFooter, new QTableWidgetItem);
        SetTemplateItem(groups_->item(row, GroupHeader), g.header);
        SetTemplateItem(groups_->item(row, GroupFooter), g.footer);
        groups_->setItem(row, GroupCaption, new QTableWidgetItem(ToQString(g.caption)));
    }
    if (selectRow >= 0 && selectRow < groups_->rowCount())
        groups_->selectRow(selectRow);
    UpdateButtons();
}

void LayoutEditor::MoveGroup(int delta)
{
    const int to = MoveRow(layout_.groups, SelectedRow(groups_), delta);
    if (to < 0)
        return;
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

QString LayoutEditor::ShownTemplate(const std::string &text) const
{
    // Each {FIELD} in the report's words; what is no field stays as it is.
    QString out;
    const QString in = ToQString(text);
    qsizetype at = 0;
    while (at < in.size()) {
        const qsizetype open = in.indexOf(QLatin1Char('{'), at);
        const qsizetype close = open < 0 ? -1 : in.indexOf(QLatin1Char('}'), open + 1);
        if (open < 0 || close < 0) {
            out += in.mid(at);
            break;
        }
        out += in.mid(at, open - at);
        const std::string field = in.mid(open + 1, close - open - 1).toStdString();
        const bool known = std::find(request_.fields.begin(), request_.fields.end(), field) != request_.fields.end() ||
                           std::any_of(layout_.groups.begin(), layout_.groups.end(),
                                       [&](const LayoutGroup &g) { return g.field == field; });
        out += known ? QLatin1Char('{') + FieldLabel(field) + QLatin1Char('}') : in.mid(open, close - open + 1);
        at = close + 1;
    }
    return out;
}

std::string LayoutEditor::StoredTemplate(const QString &shown) const
{
    // Back from the words to the field: a field's words or its own name.
    std::vector<std::string> fields = request_.fields;
    for (const LayoutGroup &g : layout_.groups)
        fields.push_back(g.field);
    QString out;
    qsizetype at = 0;
    while (at < shown.size()) {
        const qsizetype open = shown.indexOf(QLatin1Char('{'), at);
        const qsizetype close = open < 0 ? -1 : shown.indexOf(QLatin1Char('}'), open + 1);
        if (open < 0 || close < 0) {
            out += shown.mid(at);
            break;
        }
        out += shown.mid(at, open - at);
        const QString inside = shown.mid(open + 1, close - open - 1).trimmed();
        QString field = inside;
        for (const std::string &f : fields)
            if (FieldLabel(f).compare(inside, Qt::CaseInsensitive) == 0 || ToQString(f) == inside) {
                field = ToQString(f);
                break;
            }
        out += QLatin1Char('{') + field + QLatin1Char('}');
        at = close + 1;
    }
    return out.toStdString();
}

void LayoutEditor::SetTemplateItem(QTableWidgetItem *item, const std::string &text) const
{
    item->setText(ShownTemplate(text));
    item->setToolTip(ToQString(text));  // the columns' own names, for whoever needs them
}
