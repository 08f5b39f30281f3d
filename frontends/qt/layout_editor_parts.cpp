#include "layout_editor_parts.h"

#include "report_theme.h"

#include <QBoxLayout>
#include <QHeaderView>

bool WheelGuard::eventFilter(QObject *watched, QEvent *event)
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

QTableWidget *RowTable(const char *name, const QStringList &headers, QWidget *page)
{
    auto *table = new QTableWidget(0, static_cast<int>(headers.size()), page);
    table->setObjectName(QLatin1String(name));
    table->setHorizontalHeaderLabels(headers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->verticalHeader()->setVisible(false);
    return table;
}

RowButtons MakeRowButtons(const std::string &list, const QString &addText, const QString &removeText)
{
    const auto name = [&](const char *what) { return list + what; };
    return {NamedButton(name("Up").c_str(), QStringLiteral("Para cima"), "go-up", QStyle::SP_ArrowUp),
            NamedButton(name("Down").c_str(), QStringLiteral("Para baixo"), "go-down", QStyle::SP_ArrowDown),
            NamedButton(name("Add").c_str(), addText, "list-add", QStyle::SP_FileDialogNewFolder),
            NamedButton(name("Remove").c_str(), removeText, "list-remove", QStyle::SP_TrashIcon)};
}

void LayOutRowPage(QWidget *page, QTableWidget *table, const RowButtons &buttons, QWidget *note)
{
    auto *row = new QHBoxLayout;
    row->addWidget(buttons.up);
    row->addWidget(buttons.down);
    row->addStretch(1);
    row->addWidget(buttons.add);
    row->addWidget(buttons.remove);
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(table, 1);
    layout->addLayout(row);
    layout->addWidget(note);
}

void EnableRowButtons(const QWidget &dialog, const std::string &list, int selected, int count, int keep,
                      bool canAdd)
{
    const auto enable = [&](const char *what, bool on) {
        if (auto *b = dialog.findChild<QPushButton *>(QString::fromStdString(list + what)))
            b->setEnabled(on);
    };
    enable("Up", selected > 0);
    enable("Down", selected >= 0 && selected < count - 1);
    enable("Remove", selected >= 0 && count > keep);
    enable("Add", canAdd);
}

namespace {
// The naming habits of the fiscal tables: a kind prefix, then a stem.
struct Words {
    const char *part;
    const char *words;
};
constexpr Words Prefixes[] = {
    {"CD", "Código"}, {"NM", "Nome"},   {"DS", "Descrição"},  {"DT", "Data"},      {"VL", "Valor"},
    {"QT", "Quantidade"}, {"NR", "Número"}, {"ID", "Indicador"}, {"SG", "Sigla"}, {"PC", "Percentual"},
};
// Each stem with the words that join it to its prefix.
constexpr Words Stems[] = {
    {"ENTRSAIDA", "de entrada/saída"}, {"ENTRSAIDOP", "de entrada/saída"}, {"NOTAFISC", "da nota fiscal"},
    {"SERIE", "da série"}, {"MODDOCFISC", "do modelo do documento"}, {"TIPOOPER", "do tipo de operação"},
    {"FILIAL", "da filial"}, {"PARTICIPANTE", "do participante"}, {"UF", "da UF"}, {"CONTABIL", "contábil"},
    {"BASECALC", "da base de cálculo"}, {"IMPOSTO", "do imposto"}, {"IMPOSTONFE", "do imposto"},
    {"CFOP", "do CFOP"}, {"PRODUTO", "do produto"}, {"EMPRESA", "da empresa"},
    {"INSCESTA", "da inscrição estadual"}, {"INSCMUNI", "da inscrição municipal"},
    {"ARVPROD", "do produto na árvore"}, {"SITUACAO", "da situação"}, {"ITEM", "do item"}, {"LOTE", "do lote"},
    {"TOTAL", "total"}, {"ALIQUOTA", "da alíquota"}, {"ICMS", "do ICMS"}, {"ICMSST", "do ICMS ST"},
    {"IPI", "do IPI"}, {"RESSARC", "do ressarcimento"}, {"ISENTO", "isento"}, {"OUTRAS", "de outras"},
    {"BASEST", "da base ST"}, {"IMPOSTOST", "do imposto ST"},
};
// Fields a bookkeeper knows by a name of their own, as the books print them.
constexpr Words Whole[] = {
    {"VLISENTO", "Isentas"}, {"VLOUTRAS", "Outras"}, {"VLBASEST", "Base ST"}, {"VLIMPOSTOST", "ICMS ST"},
    {"VLBASECALC", "Base de cálculo"}, {"VLCONTABIL", "Valor contábil"},
};
} // namespace

QString FieldWords(const std::string &field, const std::vector<const ReportLayout *> &layouts)
{
    for (const ReportLayout *layout : layouts)
        if (layout) {
            for (const LayoutColumn &c : layout->columns)
                if (c.field == field && !c.caption.empty())
                    return QString::fromStdString(c.caption);
            for (const LayoutGroup &g : layout->groups)
                if (g.field == field && !g.caption.empty())
                    return QString::fromStdString(g.caption);
        }
    for (const Words &w : Whole)
        if (field == w.part)
            return QString::fromUtf8(w.words);
    for (const Words &prefix : Prefixes) {
        const std::string p = prefix.part;
        if (field.size() <= p.size() || field.compare(0, p.size(), p) != 0)
            continue;
        const std::string stem = field.substr(p.size());
        for (const Words &s : Stems)
            if (stem == s.part)
                return QStringLiteral("%1 %2").arg(QString::fromUtf8(prefix.words), QString::fromUtf8(s.words));
    }
    return QString::fromStdString(field);
}
