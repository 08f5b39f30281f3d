#include "data/dberrors.h"
#include "data/sqlquery.h"
#include "testdb.h"

#include <gtest/gtest.h>

namespace {
class QueryTest : public testing::Test {
protected:
    std::unique_ptr<DatabaseSession> db = ReferenceDb();
    TSQLQuery qry{db.get()};

    std::vector<std::string> column(const std::string &field)
    {
        std::vector<std::string> out;
        for (qry.First(); !qry.Eof(); qry.Next())
            out.push_back(qry.FieldByName(field)->AsString());
        return out;
    }
};

TEST_F(QueryTest, CursorWalksEveryRow)
{
    qry.SetName("qryEmpresa");
    qry.SetSQL("SELECT CDEMPRESA, NMEMPRESA FROM EMPRESA ORDER BY CDEMPRESA");
    qry.Open();
    EXPECT_TRUE(qry.Bof());
    EXPECT_FALSE(qry.IsEmpty());
    EXPECT_EQ(qry.RecordCount(), 5);
    EXPECT_EQ(column("CDEMPRESA"), (std::vector<std::string>{"01", "02", "03", "09", "10"}));
    EXPECT_EQ(qry.RecNo(), 5);  // Next past the end stays on the last row
    qry.Prior();
    EXPECT_EQ(qry.FieldByName("cdempresa")->AsString(), "09");
    EXPECT_TRUE(qry.FieldByName("NMEMPRESA")->IsNull());
    EXPECT_EQ(qry.FieldByName("NMEMPRESA")->AsString(), "");
    EXPECT_EQ(qry.Fields().size(), 2u);
    EXPECT_EQ(qry.Fields()[1]->FieldName, "NMEMPRESA");
    try {
        qry.FieldByName("NOPE");
        FAIL();
    } catch (const EDatabaseError &e) {
        EXPECT_NE(std::string(e.what()).find("'NOPE'"), std::string::npos);
    }
}

TEST_F(QueryTest, LocateMovesOnlyOnMatch)
{
    qry.SetSQL("SELECT CDEMPRESA, NMEMPRESA FROM EMPRESA ORDER BY CDEMPRESA");
    qry.Open();
    EXPECT_TRUE(qry.Locate("CDEMPRESA", "03"));
    EXPECT_EQ(qry.RecNo(), 3);
    EXPECT_FALSE(qry.Locate("CDEMPRESA", "99"));
    EXPECT_EQ(qry.RecNo(), 3);
    EXPECT_TRUE(qry.Locate("NMEMPRESA", Variant::Null()));
    EXPECT_EQ(qry.FieldByName("CDEMPRESA")->AsString(), "09");
    EXPECT_THROW(qry.Locate("NOPE", "x"), EDatabaseError);
}

TEST_F(QueryTest, PersistentFieldsBindByNameAndMissingColumnFails)
{
    qry.SetName("qryEmpresa");
    TStringField name(&qry, "nmempresa", 40);
    TStringField code(&qry, "CDEMPRESA", 2);
    qry.SetSQL("SELECT CDEMPRESA, NMEMPRESA FROM EMPRESA WHERE CDEMPRESA = :P");
    qry.ParamByName("P")->SetAsString("02");
    qry.Open();
    EXPECT_EQ(code.AsString(), "02");
    EXPECT_EQ(name.AsString(), "Industria Serra do Cipo S.A.");
    EXPECT_EQ(qry.Fields(), (std::vector<TField *>{&name, &code}));
    EXPECT_THROW(TStringField(&qry, "X"), EDatabaseError);  // fields attach only while closed
    qry.Close();

    TStringField missing(&qry, "DSEMPRESA");
    try {
        qry.Open();
        FAIL() << "opened without column DSEMPRESA";
    } catch (const EDatabaseError &e) {
        const std::string msg = e.what();
        EXPECT_NE(msg.find("DSEMPRESA"), std::string::npos) << msg;
        EXPECT_NE(msg.find("qryEmpresa"), std::string::npos) << msg;
    }
    EXPECT_FALSE(qry.Active());
    EXPECT_EQ(code.AsString(), "");
}

TEST_F(QueryTest, AsStringOnClosedAndEmptyIsEmpty)
{
    TStringField code(&qry, "CDEMPRESA", 2);
    EXPECT_EQ(code.AsString(), "");
    EXPECT_TRUE(qry.Eof());
    qry.SetSQL("SELECT CDEMPRESA FROM EMPRESA WHERE 1 = 0");
    qry.Open();
    EXPECT_TRUE(qry.IsEmpty());
    EXPECT_TRUE(qry.Eof());
    EXPECT_EQ(code.AsString(), "");
    EXPECT_EQ(qry.RecNo(), 0);
    EXPECT_EQ(qry.CurrentRow(), nullptr);
}

TEST_F(QueryTest, FieldsAndDataSetMayDieInEitherOrder)
{
    auto field = std::make_unique<TStringField>(&qry, "CDEMPRESA");
    {
        TSQLQuery other(db.get());
        field->SetDataSet(&other);
        EXPECT_TRUE(qry.Fields().empty());
    }
    EXPECT_EQ(field->DataSet(), nullptr);
    field->SetDataSet(&qry);
    field.reset();
    EXPECT_TRUE(qry.Fields().empty());
}

TEST_F(QueryTest, SetSqlKeepsValuesOfSurvivingParams)
{
    qry.SetSQL("SELECT * FROM EMPRESA WHERE CDEMPRESA = :P_EMPRESA OR NMEMPRESA = :P_NOME");
    qry.ParamByName("P_EMPRESA")->SetAsString("01");
    qry.ParamByName("P_NOME")->SetAsString("x");
    qry.SetSQL("SELECT * FROM EMPRESA WHERE CDEMPRESA = :p_empresa");
    ASSERT_EQ(qry.Params().Count(), 1);
    EXPECT_EQ(qry.Params().Items(0)->Name, "p_empresa");
    EXPECT_EQ(qry.ParamByName("P_EMPRESA")->AsString(), "01");
    qry.Open();
    EXPECT_EQ(qry.RecordCount(), 1);
    EXPECT_THROW(qry.SetSQL("SELECT 1"), EDatabaseError);
}

TEST_F(QueryTest, RemovedParamIsReportedNotBoundAsNull)
{
    qry.SetSQL("SELECT * FROM EMPRESA WHERE CDEMPRESA = :P");
    qry.Params().Clear();
    EXPECT_THROW(qry.Open(), EDatabaseError);
    EXPECT_FALSE(qry.Active());
}

TEST(TSQLQuery, OpenWithoutSessionFails)
{
    TSQLQuery qry;
    qry.SetSQL("SELECT 1");
    EXPECT_THROW(qry.Open(), EDatabaseError);
}

TEST_F(QueryTest, StatementCounterCountsEachOpenOfCountingQueries)
{
    qry.SetSQL("SELECT CDEMPRESA FROM EMPRESA");
    TSQLQuery report(db.get());
    report.CountStatements = false;
    report.SetSQL("SELECT CDEMPRESA FROM EMPRESA");

    StatementCounter::Reset();
    qry.Open();
    qry.Open();  // already open: nothing sent
    qry.Close();
    qry.Open();
    report.Open();
    EXPECT_EQ(StatementCounter::Count(), 2);
    StatementCounter::Reset();
    EXPECT_EQ(StatementCounter::Count(), 0);
}

class HookedQuery : public TSQLQuery {
public:
    using TSQLQuery::TSQLQuery;
    std::vector<std::string> events;

protected:
    void DoAfterOpen() override { events.push_back("open:" + std::to_string(RecordCount())); }
    void DoAfterClose() override { events.push_back("close"); }
};

TEST_F(QueryTest, HooksRunAfterOpenAndClose)
{
    HookedQuery hooked(db.get());
    hooked.SetSQL("SELECT CDEMPRESA FROM EMPRESA");
    hooked.Open();
    hooked.Close();
    EXPECT_EQ(hooked.events, (std::vector<std::string>{"open:5", "close"}));
}
} // namespace
