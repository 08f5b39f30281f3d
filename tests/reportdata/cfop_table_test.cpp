// The CFOP table every database gets: the annex's codes with their titles, on
// SQLite and the Firebird server, and in a database of one's own, also one
// made when the table held only the demo's codes.
#include "report_runner.h"

#include "../support/demo_session.h"
#include "../support/temp_folder.h"
#include "data/firebird/session.h"
#include "data/sqlite/session.h"
#include "data/sqlite/upgrade.h"
#include "host/hostsession.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>

namespace {
std::map<std::string, std::string> cfopTable(DatabaseSession &db)
{
    std::map<std::string, std::string> table;
    for (const auto &row : db.Query("SELECT CDCFOP, DSCFOP FROM CFOP", {}).rows)
        table[row[0].value_or("")] = row[1].value_or("");
    return table;
}

// What any complete table must hold, whatever the annex's later changes.
void expectTheAnnex(const std::map<std::string, std::string> &table)
{
    EXPECT_GE(table.size(), 600u);
    for (const auto &[code, title] : table) {
        EXPECT_EQ(code.size(), 4u) << code;
        EXPECT_NE(std::string("123567").find(code[0]), std::string::npos) << code;
        EXPECT_NE(code.substr(1), "000") << "a group heading names no operation: " << code;
        EXPECT_FALSE(title.empty()) << code;
        EXPECT_NE(title.back(), '.') << code;
    }
    const std::pair<const char *, const char *> known[] = {
        {"1102", "Compra para comercialização"},
        {"1101", "Compra para industrialização ou produção rural"},
        {"1253", "Compra de energia elétrica por estabelecimento comercial"},
        {"1403", "Compra para comercialização em operação com mercadoria sujeita ao regime de substituição tributária"},
        {"1949", "Outra entrada de mercadoria ou prestação de serviço não especificada"},
        {"2949", "Outra entrada de mercadoria ou prestação de serviço não especificada"},
        {"3949", "Outra entrada de mercadoria ou prestação de serviço não especificada"},
        {"5405", "Venda de mercadoria adquirida ou recebida de terceiros em operação com mercadoria sujeita ao "
                 "regime de substituição tributária, na condição de contribuinte substituído"},
        {"5933", "Prestação de serviço tributado pelo ISSQN"},
        {"5949", "Outra saída de mercadoria ou prestação de serviço não especificado"},
        {"6107", "Venda de produção do estabelecimento, destinada a não contribuinte"},
        {"7949", "Outra saída de mercadoria ou prestação de serviço não especificado"},
    };
    for (const auto &[code, title] : known) {
        ASSERT_TRUE(table.count(code)) << code;
        EXPECT_EQ(table.at(code), title);
    }
    // The demo's deliberate code outside the table stays outside it.
    EXPECT_FALSE(table.count("1234"));
    EXPECT_FALSE(table.count("9999"));
}

class CfopTableTest : public testing::TestWithParam<DbSetup> {};

TEST_P(CfopTableTest, EveryDatabaseHasTheAnnexInForce)
{
    if (const std::string why = GetParam().engine.Unavailable(); !why.empty())
        GTEST_SKIP() << why;
    DemoSession demo(GetParam().engine);
    expectTheAnnex(cfopTable(demo.Session()));
}

INSTANTIATE_TEST_SUITE_P(Engines, CfopTableTest, testing::Values(kSqliteOracle, kFirebirdInterBase, kPostgresqlOracle),
                         [](const testing::TestParamInfo<DbSetup> &info) { return std::string(info.param.label); });

// A database of one's own gets the whole table; one made when the table had
// only the demo's codes gets the rest the first time the host opens it,
// keeping a description its owner wrote.
TEST(CfopTableOfOnesOwn, MadeWholeAndCompletedLater)
{
    TempFolder folder("fis-cfop");
    const std::string path = folder.file("minha.sqlite");
    CreateOwnDatabase(path);
    expectTheAnnex(cfopTable(*OpenSqliteSession(path, true)));

    {
        auto db = OpenSqliteSession(path, false);
        db->Execute("DELETE FROM CFOP WHERE CDCFOP NOT IN ('1102', '5102')");
        db->Execute("UPDATE CFOP SET DSCFOP = 'Vendas' WHERE CDCFOP = '5102'");
    }
    AddMissingCfops(path, UpgradeFixturesFor(SqliteEngine()));
    AddMissingCfops(path, UpgradeFixturesFor(SqliteEngine()));  // a second time finds nothing to do
    auto table = cfopTable(*OpenSqliteSession(path, true));
    EXPECT_EQ(table.at("5102"), "Vendas");
    table["5102"] = "Venda de mercadoria adquirida ou recebida de terceiros";
    expectTheAnnex(table);
}
} // namespace

namespace {
// A database made before a tax row had its CST (and so before the books
// kept per CST) gets the column, empty on the rows it holds, then the books
// per CST, when the host opens it; the CST report runs on it.
TEST(TaxSituationOfOnesOwn, AnOlderDatabaseGetsTheColumnEmpty)
{
    TempFolder folder("fis-cst");
    const std::string path = folder.file("antiga.sqlite");
    CreateOwnDatabase(path);
    {
        auto db = OpenSqliteSession(path, false);
        const ResultSet triggers =
            db->Query("SELECT name FROM sqlite_master WHERE type = 'trigger' AND name LIKE '%\\_CST\\_%' ESCAPE '\\'", {});
        ASSERT_FALSE(triggers.rows.empty());
        for (const auto &t : triggers.rows)
            db->Execute("DROP TRIGGER " + *t[0]);
        db->Execute("DROP VIEW RESUMOCSTITEM");
        db->Execute("DROP TABLE RESUMOCSTNF");
        db->Execute("ALTER TABLE IMPOSTOITEMNF DROP COLUMN CDCST");
        db->Execute("INSERT INTO IMPOSTOITEMNF (CDNOTAFISC, NRITEM, CDIMPOSTONFE) VALUES (1, 1, '01')");
    }
    EngineConnection c;
    c.database = path;
    SqliteEngine().upgrade(c, UpgradeFixturesFor(SqliteEngine()), false);
    SqliteEngine().upgrade(c, UpgradeFixturesFor(SqliteEngine()), false);
    auto db = OpenSqliteSession(path, true);
    const ResultSet rows = db->Query("SELECT CDCST FROM IMPOSTOITEMNF", {});
    ASSERT_EQ(rows.rows.size(), 1u);
    EXPECT_EQ(rows.rows[0][0], std::nullopt);
    EXPECT_EQ(db->Query("SELECT COUNT(*) FROM RESUMOCSTNF", {}).rows.size(), 1u);
    ReportInputs in;
    EXPECT_NO_THROW(RunReport(*db, kSqliteOracle, LoadReport(kCfopCst), in));
}
} // namespace

namespace {
long countOf(DatabaseSession &db, const std::string &sql)
{
    return std::atol(db.Query(sql, {}).rows.at(0).at(0).value_or("0").c_str());
}

// A database made before the fiscal months were shared, the apuração, the
// company's activity, the participant's columns and the registration's
// branch existed gets them when the
// host or the import opens it, and the reports that read them run on it.
TEST(FiscalSchemaOfAnOlderDatabase, GetsTheTablesColumnsAndSharedRowsItLacks)
{
    TempFolder folder("fis-schema");
    const std::string own = folder.file("minha.sqlite");
    CreateOwnDatabase(own);
    {
        auto db = OpenSqliteSession(own, true);
        EXPECT_GE(countOf(*db, "SELECT COUNT(*) FROM PERIODOFISCAL"), 12 * 16) << "a database of one's own has no months";
        EXPECT_EQ(countOf(*db, "SELECT COUNT(*) FROM APURACAOLINHA"), 13);
    }

    TemporaryDemoDatabase demo;
    auto reference = OpenSqliteSession(demo.Path(), true);
    const long months = countOf(*reference, "SELECT COUNT(*) FROM PERIODOFISCAL");
    const std::string old = folder.file("antiga.sqlite");
    std::filesystem::copy_file(demo.Path(), old);
    {
        auto db = OpenSqliteSession(old, false);
        for (const char *table : {"EMPRESAATIVIDADE", "APURACAOAJUSTE", "APURACAOLINHA", "FILIALUF"})
            db->Execute(std::string("DROP TABLE ") + table);
        db->Execute("DELETE FROM PERIODOFISCAL");
        db->Execute("ALTER TABLE NOTAFISCAL DROP COLUMN NRDOCPARTIC");
        db->Execute("ALTER TABLE NOTAFISCAL DROP COLUMN NRIEPARTIC");
        db->Execute("ALTER TABLE INSCRESTAD DROP COLUMN CDFILIAL");
    }
    AddMissingColumns(old, UpgradeFixturesFor(SqliteEngine()));
    AddMissingColumns(old, UpgradeFixturesFor(SqliteEngine()));  // a second time finds nothing to do
    auto db = OpenSqliteSession(old, true);
    EXPECT_EQ(countOf(*db, "SELECT COUNT(*) FROM INSCRESTAD WHERE CDFILIAL IS NOT NULL"), 0) << "a registration's branch";
    EXPECT_EQ(countOf(*db, "SELECT COUNT(*) FROM PERIODOFISCAL"), months);
    EXPECT_EQ(countOf(*db, "SELECT COUNT(*) FROM APURACAOLINHA"), 13);
    EXPECT_EQ(countOf(*db, "SELECT COUNT(*) FROM APURACAOAJUSTE"), 0) << "the demo's adjustments are no one's";
    EXPECT_EQ(countOf(*db, "SELECT COUNT(*) FROM NOTAFISCAL WHERE NRDOCPARTIC IS NOT NULL"), 0);
    ReportInputs in;
    EXPECT_GT(RunReport(*db, kSqliteOracle, LoadReport(kApuracao), in).rows.size(), 0u);
    for (const char *report : {kCfopSummary, kInvoiceList, kStRefund, kStateMap})
        EXPECT_NO_THROW(RunReport(*db, kSqliteOracle, LoadReport(report), in)) << report;
}
} // namespace
