// The pick dialogs answer in the model's rows, whatever the person did to the view.
#include "pickdialogs.h"
#include "qt_fixture.h"
#include "vdl/pick_tree.h"

#include <QInputDialog>
#include <QPushButton>
#include "qtwidgetset.h"
#include <QTableWidget>
#include <QTest>
#include <QLineEdit>
#include <QTreeView>
#include <QDialogButtonBox>

#include <gtest/gtest.h>

namespace {

PickTable Companies()
{
    return {{"Código", "Nome"},
            {{"03", "Casa Azul"}, {"01", "Zeta Comércio"}, {"02", "Mercado Bom"}},
            {"03", "01", "02"}};
}

TEST(PickRowDialogTest, ColumnsAreTheTitlesAndTheFirstRowStartsCurrent)
{
    PickRowDialog d("Empresa", Companies());
    EXPECT_EQ(d.windowTitle(), "Empresa");
    ASSERT_EQ(d.Table()->columnCount(), 2);
    EXPECT_EQ(d.Table()->horizontalHeaderItem(0)->text(), QString::fromUtf8("Código"));
    EXPECT_EQ(d.Picked(), 0);
}

TEST(PickRowDialogTest, DoubleClickPicksTheModelRowEvenWhenSorted)
{
    PickRowDialog d("Empresa", Companies());
    d.Table()->sortByColumn(0, Qt::AscendingOrder);  // shown: 01, 02, 03
    ASSERT_EQ(d.Table()->item(0, 0)->text(), "01");
    d.Table()->setCurrentCell(0, 1);
    emit d.Table()->cellDoubleClicked(0, 1);
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(d.Picked(), 1);  // "01" is the model's second row
}

TEST(PickRowDialogTest, AnEmptyTablePicksNothing)
{
    PickRowDialog d("Empresa", PickTable{{"Código"}, {}, {}});
    EXPECT_EQ(d.Picked(), std::nullopt);
    EXPECT_FALSE(d.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->isEnabled());
}

// The search box keeps the rows with the text anywhere; Enter picks what is left current.
TEST(PickRowDialogTest, TheSearchKeepsMatchingRowsAndEnterPicks)
{
    struct Case {
        const char *typed;
        int shown;
        std::optional<int> picked;  // by Enter in the box
    } cases[] = {
        {"comercio", 1, 1}, {"BOM", 1, 2}, {"0", 3, 0}, {"03", 1, 0}, {"nada", 0, std::nullopt}, {"", 3, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.typed);
        PickRowDialog d("Empresa", Companies());
        d.show();
        QTest::keyClicks(d.Search(), QString::fromUtf8(c.typed));
        int shown = 0;
        for (int r = 0; r < d.Table()->rowCount(); ++r)
            shown += d.Table()->isRowHidden(r) ? 0 : 1;
        EXPECT_EQ(shown, c.shown);
        QTest::keyClick(d.Search(), Qt::Key_Return);
        EXPECT_EQ(d.result() == QDialog::Accepted, c.picked.has_value());
        EXPECT_EQ(d.Picked(), c.picked);
    }
}

// Rows as a product lookup returns them: the deepest level, ordered by code
// (or in the order given).
class Products : public TDataSet {
public:
    explicit Products(std::vector<int> order = {0, 1, 2, 3}) : order_(std::move(order))
    {
        new TStringField(this, "CDARVPROD", 10, this);
        new TStringField(this, "NMPRODUTO", 50, this);
        Open();
    }

protected:
    ResultSet InternalOpen() override
    {
        const std::vector<std::optional<std::string>> rows[] = {
            {"01.01.0001", "Cola 350 ml"}, {"01.01.0002", "Guaraná 2 L"}, {"01.02.0001", "Água 500 ml"},
            {"02.01.0001", "Sabão em pó"}};
        ResultSet r{{"CDARVPROD", "NMPRODUTO"}, {}};
        for (int i : order_)
            r.rows.push_back(rows[i]);
        return r;
    }

private:
    std::vector<int> order_;
};

// Rows out of code order make the same tree, each leaf still naming its row.
TEST(PickTreeTest, RowsOutOfCodeOrderMakeTheSameTree)
{
    Products sorted, shuffled({3, 1, 0, 2});
    DataSetPickTree a(sorted, "CDARVPROD", "NMPRODUTO"), b(shuffled, "CDARVPROD", "NMPRODUTO");
    ASSERT_EQ(a.NodeCount(), b.NodeCount());
    for (int node = 0; node < a.NodeCount(); ++node) {
        EXPECT_EQ(a.Key(node), b.Key(node));
        EXPECT_EQ(a.Name(node), b.Name(node));
        EXPECT_EQ(a.ChildCount(node), b.ChildCount(node));
    }
    const int leaf = b.LeafOfKey("01.02.0001");
    ASSERT_GE(leaf, 0);
    EXPECT_EQ(b.Row(leaf), 3);
    EXPECT_EQ(b.Segment(leaf), "0001");
    EXPECT_EQ(b.Key(b.Parent(leaf)), "01.02");
}

TEST(PickTreeDialogTest, OnlyLeavesArePickableAndGroupsShowTheirNames)
{
    Products rows;
    DataSetPickTree tree(rows, "CDARVPROD", "NMPRODUTO", {{"01", "Bebidas"}, {"01.02", "Aguas"}});
    PickTreeDialog d("Produto", tree);
    auto *ok = d.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
    const QAbstractItemModel *model = d.Tree()->model();
    ASSERT_EQ(model->rowCount({}), 2);
    const QModelIndex drinks = model->index(0, 0, {});
    EXPECT_EQ(model->index(0, 1, {}).data().toString(), "Bebidas");
    EXPECT_EQ(model->index(1, 1, {}).data().toString(), "");  // no row names group 02
    const QModelIndex sodas = model->index(0, 0, drinks);
    d.Tree()->setCurrentIndex(sodas);
    EXPECT_EQ(d.Picked(), std::nullopt);
    EXPECT_FALSE(ok->isEnabled());
    d.Tree()->setCurrentIndex(model->index(1, 0, sodas));
    EXPECT_TRUE(ok->isEnabled());
    EXPECT_EQ(d.Picked(), 1);
}

TEST(PickTreeDialogTest, TheSearchFindsByCodeOrNameAnywhereInTheTree)
{
    Products rows;
    DataSetPickTree tree(rows, "CDARVPROD", "NMPRODUTO", {{"01", "Bebidas"}});
    PickTreeDialog d("Produto", tree);
    struct Case {
        const char *typed;
        const char *code;  // of the node it lands on; "" when none
    } cases[] = {
        {"0102", "01.02"}, {"01.01.0002", "01.01.0002"}, {"02", "02"}, {"xyz", ""},
        // Names without case and accents, on either side.
        {"sabao", "02.01.0001"}, {"GUARANA", "01.01.0002"}, {"agua", "01.02.0001"},
        {"ÁGUA 5", "01.02.0001"}, {"Em Pó", "02.01.0001"}, {"colá", "01.01.0001"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.typed);
        d.Search()->setText(QString::fromUtf8(c.typed));
        const bool found = d.FindNext(true);
        EXPECT_EQ(found, *c.code != 0);
        if (found) {
            EXPECT_EQ(d.Tree()->currentIndex().data(Qt::ToolTipRole).toString().toStdString(), c.code);
        }
    }
    // F3 in the box goes on to the next match.
    d.Search()->setText("01.01");
    d.FindNext(true);
    EXPECT_EQ(d.Tree()->currentIndex().data(Qt::ToolTipRole).toString(), "01.01");
    QTest::keyClick(d.Search(), Qt::Key_F3);
    EXPECT_EQ(d.Tree()->currentIndex().data(Qt::ToolTipRole).toString(), "01.01.0001");
    // Typing in the tree goes to the search box.
    d.Search()->clear();
    QTest::keyClicks(d.Tree(), "agua");
    EXPECT_EQ(d.Search()->text(), "agua");
    EXPECT_EQ(d.Picked(), 2);
}

// Enter acts on the row the person sees highlighted, from the search box as
// from the tree: a product is picked as it is, a group only opens or closes.
TEST(PickTreeDialogTest, EnterPicksTheHighlightedRowNeverTheNextMatch)
{
    Products rows;
    DataSetPickTree tree(rows, "CDARVPROD", "NMPRODUTO", {{"01", "Bebidas"}});
    struct Case {
        const char *typed;
        bool fromTree;
        bool accepted;
        std::optional<int> picked;
        bool groupOpen;
    } cases[] = {
        {"guarana", false, true, 1, false},
        {"guarana", true, true, 1, false},
        {"0101", false, false, std::nullopt, true},
        {"0101", true, false, std::nullopt, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.typed) + (c.fromTree ? " from the tree" : " from the box"));
        PickTreeDialog d("Produto", tree);
        d.show();
        QTest::keyClicks(d.Search(), c.typed);
        const QModelIndex highlighted = d.Tree()->currentIndex();
        const bool wasOpen = d.Tree()->isExpanded(highlighted);
        QWidget *from = c.fromTree ? static_cast<QWidget *>(d.Tree()) : d.Search();
        from->setFocus();
        QTest::keyClick(from, Qt::Key_Return);
        EXPECT_EQ(d.result() == QDialog::Accepted, c.accepted);
        EXPECT_EQ(d.isVisible(), !c.accepted);
        EXPECT_EQ(d.Tree()->currentIndex(), highlighted);
        EXPECT_EQ(d.Picked(), c.picked);
        if (c.groupOpen) {
            EXPECT_NE(d.Tree()->isExpanded(highlighted), wasOpen);
        }
    }
}

TEST(PromptTest, TheSaveAsPromptShowsItsWholeTitleAndText)
{
    QInputDialog dialog;
    ConfigurePrompt(dialog, "Título do relatório", "Informe o título do relatório:",
                    "Relação de Notas Fiscais com ICMS ST – cópia");
    dialog.show();
    const QFontMetrics metrics(dialog.font());
    EXPECT_GE(dialog.width(), metrics.horizontalAdvance(QStringLiteral("Título do relatório")) + 200);
    auto *line = dialog.findChild<QLineEdit *>();
    ASSERT_NE(line, nullptr);
    EXPECT_GE(line->width(), metrics.horizontalAdvance(line->text()));
    QStringList buttons;
    for (QPushButton *b : dialog.findChildren<QPushButton *>())
        buttons << b->text();
    EXPECT_TRUE(buttons.contains(QStringLiteral("Cancelar"))) << buttons.join(',').toStdString();
}

TEST(PickRowsDialogTest, MarkedRowsStartCheckedAndRowClicksToggle)
{
    PickRowsDialog d("Modelos", Companies(), {2, 7, -1});  // rows the table lacks are ignored
    EXPECT_EQ(d.Checked(), std::vector<int>{2});
    emit d.Table()->cellClicked(0, 1);
    emit d.Table()->cellClicked(2, 2);
    EXPECT_EQ(d.Checked(), std::vector<int>{0});
}

} // namespace
