#include "data/dberrors.h"
#include "data/rowstore.h"
#include "data/sqlquery.h"
#include "testdb.h"

#include <gtest/gtest.h>

namespace {

using Cells = std::vector<std::optional<std::string>>;

TEST(RowStoreTest, CellsReadBackAsStoredAcrossBlocks)
{
    // Enough rows to fill several blocks, NULLs beside empty texts, a NUL
    // byte inside a text, lengths of one and two bytes.
    const Cells rows[] = {
        {"01", std::nullopt, ""},
        {std::nullopt, std::nullopt, std::nullopt},
        {"", "", ""},
        {std::string("a\0b", 3), "Água", std::string(200, 'x')},
        {"last", "é", "z"},
    };
    RowStore store(3);
    for (int i = 0; i < 40000; ++i)
        for (const Cells &row : rows)
            store.Append(row);
    // A row larger than a block, and rows after it.
    const std::string big(3 << 20, 'y');
    store.Append({"big", big, std::nullopt});
    store.Append(rows[0]);
    ASSERT_EQ(store.Rows(), 200002u);
    EXPECT_EQ(store.Cell(200000, 1), big);
    EXPECT_EQ(store.Cell(200000, 2), std::nullopt);
    EXPECT_EQ(store.Cell(200001, 0), "01");
    for (std::size_t r = 0; r < 200000; r += 997)
        for (std::size_t c = 0; c < 3; ++c) {
            SCOPED_TRACE(std::to_string(r) + "," + std::to_string(c));
            const auto &expected = rows[r % 5][c];
            const auto cell = store.Cell(r, c);
            ASSERT_EQ(cell.has_value(), expected.has_value());
            if (cell) {
                EXPECT_EQ(*cell, *expected);
            }
        }
    EXPECT_EQ(store.Cell(200002, 0), std::nullopt);
    EXPECT_EQ(store.Cell(0, 3), std::nullopt);
}

TEST(RowStoreTest, KeepOnlyLeavesOneRowAndClearLeavesNone)
{
    RowStore store(2);
    for (int i = 0; i < 1000; ++i)
        store.Append({std::to_string(i), i % 2 ? std::nullopt : std::optional<std::string>("par")});
    store.KeepOnly(998);
    ASSERT_EQ(store.Rows(), 1u);
    EXPECT_EQ(store.Cell(0, 0), "998");
    EXPECT_EQ(store.Cell(0, 1), "par");
    store.KeepOnly(5);  // outside the rows: nothing stays
    EXPECT_TRUE(store.Empty());
    store.Append({"a", "b"});
    store.Clear();
    EXPECT_TRUE(store.Empty());
    EXPECT_EQ(store.Columns(), 0u);
}

TEST(RowStoreTest, RowsWithoutColumnsAreCounted)
{
    RowStore store(0);
    store.Append({});
    store.Append({});
    EXPECT_EQ(store.Rows(), 2u);
    EXPECT_EQ(store.Cell(0, 0), std::nullopt);
}

class KeepRowTest : public testing::Test {
protected:
    std::unique_ptr<DatabaseSession> db = ReferenceDb();
    TSQLQuery qry{db.get()};
    TStringField code{&qry, "CDEMPRESA", 2};
    TStringField name{&qry, "NMEMPRESA", 40};
    void SetUp() override
    {
        qry.SetSQL("SELECT CDEMPRESA, NMEMPRESA FROM EMPRESA ORDER BY CDEMPRESA");
        qry.Open();
    }
};

// A reader done with a large result keeps the row it stood on, nothing more.
TEST_F(KeepRowTest, TheCurrentRowStaysAsTheOnlyOne)
{
    ASSERT_TRUE(qry.Locate("CDEMPRESA", "03"));
    const std::string shown = name.AsString();
    qry.KeepCurrentRowOnly();
    EXPECT_TRUE(qry.Active());
    EXPECT_EQ(qry.RecordCount(), 1);
    EXPECT_EQ(qry.RecNo(), 1);
    EXPECT_EQ(code.AsString(), "03");
    EXPECT_EQ(name.AsString(), shown);
    EXPECT_EQ((*qry.CurrentRow())[0], "03");
    EXPECT_FALSE(qry.Locate("CDEMPRESA", "01"));
    qry.Next();
    EXPECT_TRUE(qry.Eof());
    EXPECT_EQ(code.AsString(), "03");
    // Reopening brings every row back.
    qry.Close();
    qry.Open();
    EXPECT_EQ(qry.RecordCount(), 5);
}

TEST_F(KeepRowTest, NullsSurviveAndAnEmptyResultStaysEmpty)
{
    ASSERT_TRUE(qry.Locate("CDEMPRESA", "09"));  // its name is NULL
    qry.KeepCurrentRowOnly();
    EXPECT_TRUE(name.IsNull());
    EXPECT_EQ(name.AsVariant(), Variant::Null());
    qry.Close();
    qry.SetSQL("SELECT CDEMPRESA, NMEMPRESA FROM EMPRESA WHERE 1 = 0");
    qry.Open();
    qry.KeepCurrentRowOnly();
    EXPECT_TRUE(qry.IsEmpty());
}

} // namespace
