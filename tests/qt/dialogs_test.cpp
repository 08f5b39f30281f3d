// The pick dialogs answer in the model's rows, whatever the person did to the view.
#include "pickdialogs.h"

#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTreeWidget>
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

TEST(PickTreeDialogTest, OnlyLeavesArePickable)
{
    PickTable table{{"Código", "Nome"}, {{"01.01.0001", "Cola"}, {"01.01.0002", "Guaraná"}},
                    {"01.01.0001", "01.01.0002"}};
    std::vector<PickTreeNode> roots{{"01", "01 Bebidas", -1,
                                     {{"01.01", "01 Refrigerantes", -1,
                                       {{"01.01.0001", "0001 Cola", 0, {}}, {"01.01.0002", "0002 Guaraná", 1, {}}}}}}};
    PickTreeDialog d("Produto", table, roots);
    auto *ok = d.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
    QTreeWidgetItem *inner = d.Tree()->topLevelItem(0)->child(0);
    d.Tree()->setCurrentItem(inner);
    EXPECT_EQ(d.Picked(), std::nullopt);
    EXPECT_FALSE(ok->isEnabled());
    emit d.Tree()->itemDoubleClicked(inner, 0);
    EXPECT_NE(d.result(), QDialog::Accepted);

    QTreeWidgetItem *leaf = inner->child(1);
    d.Tree()->setCurrentItem(leaf);
    EXPECT_TRUE(ok->isEnabled());
    EXPECT_EQ(d.Picked(), 1);
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
