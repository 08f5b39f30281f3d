// The CFOP summary kept per document (RESUMOCFOPNF) against the detail it
// sums (RESUMOCFOPITEM, one row per item and tax), and the ICMS kept per day
// (APURACAODIA) against its detail (APURACAODIANOTA), and the books per CST
// and rate (RESUMOCSTNF) against theirs (RESUMOCSTITEM): equal after an import
// and after every kind of later write to headers, items and tax rows, on
// every engine, whoever writes and in whatever order.
#include "data/dberrors.h"
#include "data/sqlite/upgrade.h"
#include "host/hostsession.h"
#include "import/importer.h"
#include "import_target.h"
#include "nfe_files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char *const kColumns[] = {"QTITENS", "VLCONTABIL", "VLBASECALC", "VLIMPOSTO",   "VLISENTO",
                                "VLIPI",   "VLBASEST",   "VLIMPOSTOST", "VLEXCESSO", "VLEXCESSOSEMIPI"};

std::string keptSql()
{
    std::string sql = "SELECT CAST(CDNOTAFISC AS VARCHAR(12)), CDIMPOSTONFE, CDCFOP";
    for (const char *c : kColumns)
        sql += std::string(", CAST(") + c + " AS VARCHAR(20))";
    return sql + " FROM RESUMOCFOPNF ORDER BY CDNOTAFISC, CDIMPOSTONFE, CDCFOP";
}

std::string detailSql()
{
    std::string sql = "SELECT CAST(CDNOTAFISC AS VARCHAR(12)), CDIMPOSTONFE, CDCFOP";
    for (const char *c : kColumns)
        sql += std::string(", CAST(SUM(") + c + ") AS VARCHAR(20))";
    return sql + " FROM RESUMOCFOPITEM GROUP BY CDNOTAFISC, CDIMPOSTONFE, CDCFOP ORDER BY CDNOTAFISC, CDIMPOSTONFE, CDCFOP";
}

const char *const kDailyKey = "CDEMPRESA, CDINSCESTA, DTENTRSAIDA, IDENTRSAIDA, CDCFOP";

// A row counted back to no line stands for none; one with a value left would not.
std::string dailyKeptSql()
{
    return "SELECT CDEMPRESA, CDINSCESTA, CAST(DTENTRSAIDA AS VARCHAR(10)), IDENTRSAIDA, CDCFOP, "
           "CAST(QTNOTAS AS VARCHAR(12)), CAST(VLIMPOSTO AS VARCHAR(20)) FROM APURACAODIA "
           "WHERE QTNOTAS <> 0 OR VLIMPOSTO <> 0 ORDER BY " + std::string(kDailyKey);
}

std::string dailyDetailSql()
{
    return "SELECT CDEMPRESA, CDINSCESTA, CAST(DTENTRSAIDA AS VARCHAR(10)), IDENTRSAIDA, CDCFOP, "
           "CAST(COUNT(*) AS VARCHAR(12)), CAST(SUM(VLIMPOSTO) AS VARCHAR(20)) FROM APURACAODIANOTA GROUP BY " +
           std::string(kDailyKey) + " ORDER BY " + kDailyKey;
}

// The books per CST and rate (RESUMOCSTNF) against theirs (RESUMOCSTITEM).
const char *const kCstKey = "CDNOTAFISC, CDCFOP, CDCST, PCALIQUOTA";
const char *const kCstColumns[] = {"QTITENS", "VLCONTABIL", "VLBASECALC", "VLIMPOSTO", "VLIMPOSTOST", "VLIPI"};

std::string cstSql(bool kept)
{
    std::string sql = "SELECT CAST(CDNOTAFISC AS VARCHAR(12)), CDCFOP, CDCST, CAST(PCALIQUOTA AS VARCHAR(12))";
    for (const char *c : kCstColumns)
        sql += kept ? std::string(", CAST(") + c + " AS VARCHAR(20))" : std::string(", CAST(SUM(") + c + ") AS VARCHAR(20))";
    return sql + (kept ? std::string(" FROM RESUMOCSTNF") : std::string(" FROM RESUMOCSTITEM GROUP BY ") + kCstKey) +
           " ORDER BY " + kCstKey;
}

// The first row that differs, for the failure message.
std::string firstDifference(const std::vector<ImportConnection::Values> &kept,
                            const std::vector<ImportConnection::Values> &detail)
{
    auto text = [](const ImportConnection::Values &row) {
        std::string s;
        for (const auto &v : row)
            s += (v ? *v : "NULL") + " ";
        return s;
    };
    for (std::size_t i = 0; i < std::max(kept.size(), detail.size()); ++i) {
        const std::string k = i < kept.size() ? text(kept[i]) : "(none)";
        const std::string d = i < detail.size() ? text(detail[i]) : "(none)";
        if (k != d)
            return "kept: " + k + "\ndetail: " + d;
    }
    return "";
}

class KeptSummary : public ::testing::TestWithParam<const ImportEngine *> {};

TEST_P(KeptSummary, EqualsTheDetailAfterImportAndEveryLaterWrite)
{
    if (auto why = ImportTarget::Unavailable(*GetParam()); !why.empty())
        GTEST_SKIP() << why;
    ImportTarget target(*GetParam());
    NfeFileOptions files;
    files.dir = target.Dir() + "/nfe";
    files.count = 60;
    files.year = 2027;
    WriteNfeFiles(files);
    auto db = target.Open();
    const ImportReport report = ImportFiles(*db, {files.dir});
    ASSERT_GT(report.imported, 10) << report.Text();

    // Two imported documents with at least two items, and one of their items.
    const auto docs = db->Select(
        db->Prepare("SELECT CAST(K.CDNOTAFISC AS VARCHAR(12)) FROM NFECHAVE K WHERE K.CDNOTAFISC IS NOT NULL "
                    "AND (SELECT COUNT(*) FROM ITEMNOTAFISC I WHERE I.CDNOTAFISC = K.CDNOTAFISC) >= 2 "
                    "ORDER BY K.CDNOTAFISC"),
        {});
    ASSERT_GE(docs.size(), 3u);
    const std::string a = *docs[0][0], b = *docs[1][0], c = *docs[2][0];
    const std::string itemA = "CDNOTAFISC = " + a + " AND NRITEM = 1";

    const int kept = db->Prepare(keptSql()), detail = db->Prepare(detailSql());
    const int dailyKept = db->Prepare(dailyKeptSql()), dailyDetail = db->Prepare(dailyDetailSql());
    const int cstKept = db->Prepare(cstSql(true)), cstDetail = db->Prepare(cstSql(false));
    auto check = [&](const std::string &step) {
        const auto k = db->Select(kept, {}), d = db->Select(detail, {});
        EXPECT_FALSE(k.empty()) << step;
        EXPECT_EQ(firstDifference(k, d), "") << "after: " << step;
        const auto dk = db->Select(dailyKept, {}), dd = db->Select(dailyDetail, {});
        EXPECT_FALSE(dk.empty()) << step;
        EXPECT_EQ(firstDifference(dk, dd), "") << "the daily ICMS, after: " << step;
        const auto ck = db->Select(cstKept, {}), cd = db->Select(cstDetail, {});
        EXPECT_FALSE(ck.empty()) << step;
        EXPECT_EQ(firstDifference(ck, cd), "") << "per CST and rate, after: " << step;
    };
    check("the import");

    struct Write {
        const char *what;
        std::vector<std::string> sql;
    };
    const std::vector<Write> writes = {
        {"an item's value changed", {"UPDATE ITEMNOTAFISC SET VLCONTABIL = VLCONTABIL + 12.34 WHERE " + itemA}},
        {"an item's CFOP changed", {"UPDATE ITEMNOTAFISC SET CDCFOP = '5949' WHERE " + itemA}},
        {"a tax row's values changed",
         {"UPDATE IMPOSTOITEMNF SET VLBASECALC = VLBASECALC + 1, VLIMPOSTOST = VLIMPOSTOST + 2.5 WHERE " + itemA}},
        {"the ICMS row's CST and rate changed",
         {"UPDATE IMPOSTOITEMNF SET CDCST = '020', PCALIQUOTA = 12 WHERE " + itemA + " AND CDIMPOSTONFE = '01'"}},
        {"another item of the document under the same CST and rate",
         {"UPDATE IMPOSTOITEMNF SET CDCST = '020', PCALIQUOTA = 12 WHERE CDNOTAFISC = " + a +
          " AND NRITEM = 2 AND CDIMPOSTONFE = '01'"}},
        {"a PIS row's values changed, which counts nowhere per CST",
         {"UPDATE IMPOSTOITEMNF SET VLIMPOSTO = VLIMPOSTO + 1 WHERE " + itemA + " AND CDIMPOSTONFE = '04'"}},
        {"parts exceeding the item's value",
         {"UPDATE IMPOSTOITEMNF SET VLBASECALC = 999999 WHERE " + itemA + " AND CDIMPOSTONFE = '01'"}},
        {"an IPI row added", {"DELETE FROM IMPOSTOITEMNF WHERE " + itemA + " AND CDIMPOSTONFE = '03'",
                              "INSERT INTO IMPOSTOITEMNF (CDNOTAFISC, NRITEM, CDIMPOSTONFE, VLBASECALC, PCALIQUOTA, "
                              "VLIMPOSTO, VLISENTO, VLOUTROS, VLBASEST, VLIMPOSTOST) VALUES (" + a +
                                  ", 1, '03', 100, 10, 10, 0, 0, 0, 0)"}},
        {"a tax row moved to another document's item",
         {"DELETE FROM IMPOSTOITEMNF WHERE CDNOTAFISC = " + b + " AND NRITEM = 2 AND CDIMPOSTONFE = '03'",
          "UPDATE IMPOSTOITEMNF SET CDNOTAFISC = " + b + ", NRITEM = 2 WHERE " + itemA + " AND CDIMPOSTONFE = '03'"}},
        {"the ICMS row removed", {"DELETE FROM IMPOSTOITEMNF WHERE " + itemA + " AND CDIMPOSTONFE = '01'"}},
        {"an item removed", {"DELETE FROM ITEMNOTAFISC WHERE CDNOTAFISC = " + b + " AND NRITEM = 1"}},
        {"an item written before its tax rows",
         {"INSERT INTO ITEMNOTAFISC (CDNOTAFISC, NRITEM, CDPRODUTO, CDCFOP, QTITEM, VLUNITARIO, VLCONTABIL) VALUES (" +
              b + ", 901, '1', '3102', 1, 50, 50)",
          "INSERT INTO IMPOSTOITEMNF (CDNOTAFISC, NRITEM, CDIMPOSTONFE, VLBASECALC, PCALIQUOTA, VLIMPOSTO, VLISENTO, "
          "VLOUTROS, VLBASEST, VLIMPOSTOST) VALUES (" + b + ", 901, '01', 40, 18, 7.2, 0, 0, 30, 5.4)",
          "INSERT INTO IMPOSTOITEMNF (CDNOTAFISC, NRITEM, CDIMPOSTONFE, VLBASECALC, PCALIQUOTA, VLIMPOSTO, VLISENTO, "
          "VLOUTROS, VLBASEST, VLIMPOSTOST) VALUES (" + b + ", 901, '03', 50, 10, 5, 0, 0, 0, 0)"}},
        {"an item written after its tax rows",
         {"INSERT INTO IMPOSTOITEMNF (CDNOTAFISC, NRITEM, CDIMPOSTONFE, VLBASECALC, PCALIQUOTA, VLIMPOSTO, VLISENTO, "
          "VLOUTROS, VLBASEST, VLIMPOSTOST) VALUES (" + b + ", 902, '02', 80, 5, 4, 0, 0, 0, 0)",
          "INSERT INTO ITEMNOTAFISC (CDNOTAFISC, NRITEM, CDPRODUTO, CDCFOP, QTITEM, VLUNITARIO, VLCONTABIL) VALUES (" +
              b + ", 902, '1', '5933', 1, 80, 80)"}},
        {"an item moved to another document",
         {"UPDATE ITEMNOTAFISC SET CDNOTAFISC = " + a + ", NRITEM = 903 WHERE CDNOTAFISC = " + b +
          " AND NRITEM = 902"}},
        {"a document cancelled", {"UPDATE NOTAFISCAL SET IDSITUACAO = 'C' WHERE CDNOTAFISC = " + c}},
        {"a cancellation undone", {"UPDATE NOTAFISCAL SET IDSITUACAO = 'N' WHERE CDNOTAFISC = " + c}},
        {"a document booked on another day", {"UPDATE NOTAFISCAL SET DTENTRSAIDA = '2027-02-15' WHERE CDNOTAFISC = " + c}},
        {"a document on the other side",
         {"UPDATE NOTAFISCAL SET IDENTRSAIDA = CASE WHEN IDENTRSAIDA = 'E' THEN 'S' ELSE 'E' END WHERE CDNOTAFISC = " + c}},
        {"a document's registration taken away", {"UPDATE NOTAFISCAL SET CDINSCESTA = NULL WHERE CDNOTAFISC = " + c}},
        {"a document under another registration",
         {"UPDATE NOTAFISCAL SET CDINSCESTA = '0623079040081' WHERE CDNOTAFISC = " + c}},
        {"a header other than the rows' dates changed",
         {"UPDATE NOTAFISCAL SET NMPARTICIPANTE = 'Outro nome' WHERE CDNOTAFISC = " + c}},
        {"a header written apart from its document and removed",
         {"INSERT INTO NOTAFISCAL (CDNOTAFISC, CDEMPRESA, IDENTRSAIDA, NRNOTAFISC, CDMODDOCFISC, CDTIPOOPER, DTEMISSAO, "
          "DTENTRSAIDA, CDINSCESTA, IDSITUACAO) SELECT CDNOTAFISC + 1000000, CDEMPRESA, IDENTRSAIDA, NRNOTAFISC, "
          "CDMODDOCFISC, CDTIPOOPER, DTEMISSAO, DTENTRSAIDA, CDINSCESTA, IDSITUACAO FROM NOTAFISCAL WHERE CDNOTAFISC = " + c,
          "DELETE FROM NOTAFISCAL WHERE CDNOTAFISC = " + c}},
        {"a header written after its items",
         {"INSERT INTO NOTAFISCAL (CDNOTAFISC, CDEMPRESA, IDENTRSAIDA, NRNOTAFISC, CDMODDOCFISC, CDTIPOOPER, DTEMISSAO, "
          "DTENTRSAIDA, CDINSCESTA, IDSITUACAO) SELECT CDNOTAFISC - 1000000, CDEMPRESA, IDENTRSAIDA, NRNOTAFISC, "
          "CDMODDOCFISC, CDTIPOOPER, DTEMISSAO, DTENTRSAIDA, CDINSCESTA, IDSITUACAO FROM NOTAFISCAL WHERE CDNOTAFISC = " +
              c + " + 1000000"}},
        // The copy goes too: a server's database outlives the test.
        {"a header removed before its items",
         {"DELETE FROM NOTAFISCAL WHERE CDNOTAFISC = " + c, "DELETE FROM ITEMNOTAFISC WHERE CDNOTAFISC = " + c,
          "DELETE FROM NOTAFISCAL WHERE CDNOTAFISC = " + c + " + 1000000"}},
        {"every item of a document removed", {"DELETE FROM ITEMNOTAFISC WHERE CDNOTAFISC = " + a}},
        {"every tax row of a document removed", {"DELETE FROM IMPOSTOITEMNF WHERE CDNOTAFISC = " + b}},
    };
    for (const Write &w : writes) {
        db->Begin();
        for (const std::string &sql : w.sql)
            db->Run(db->Prepare(sql), {});
        db->Commit();
        check(w.what);
    }

    // A write undone leaves the summary as it was.
    const auto before = db->Select(kept, {}), dailyBefore = db->Select(dailyKept, {}), cstBefore = db->Select(cstKept, {});
    db->Begin();
    db->Run(db->Prepare("DELETE FROM IMPOSTOITEMNF WHERE CDNOTAFISC = " + a), {});
    db->Run(db->Prepare("UPDATE ITEMNOTAFISC SET VLCONTABIL = 1 WHERE CDNOTAFISC = " + b), {});
    db->Run(db->Prepare("UPDATE NOTAFISCAL SET IDSITUACAO = 'C' WHERE CDNOTAFISC = " + b), {});
    db->Rollback();
    EXPECT_EQ(firstDifference(db->Select(kept, {}), before), "");
    EXPECT_EQ(firstDifference(db->Select(dailyKept, {}), dailyBefore), "");
    EXPECT_EQ(firstDifference(db->Select(cstKept, {}), cstBefore), "");
}

// Takes a SQLite database back to before the kept summary, to before the
// daily ICMS, or to before the books per CST and rate, each block made after
// the one before.
enum class Before { Summary, Daily, PerCst };

void dropKeptSummary(ImportConnection &db, Before before)
{
    auto drop = [&](const std::string &triggers) {
        const auto names = db.Select(
            db.Prepare("SELECT name FROM sqlite_master WHERE type = 'trigger' AND (" + triggers + ")"), {});
        ASSERT_FALSE(names.empty()) << triggers;
        for (const auto &t : names)
            db.Execute("DROP TRIGGER " + *t[0]);
    };
    drop("name LIKE '%\\_CST\\_%' ESCAPE '\\'");
    db.Execute("DROP VIEW RESUMOCSTITEM");
    db.Execute("DROP TABLE RESUMOCSTNF");
    if (before == Before::PerCst)
        return;
    drop("name LIKE 'RESUMOCFOPNF_DIA_%' OR name LIKE 'NOTAFISCAL_DIA_RESUMO_%'");
    db.Execute("DROP VIEW APURACAODIANOTA");
    db.Execute("DROP TABLE APURACAODIA");
    if (before == Before::Daily)
        return;
    drop("name LIKE '%RESUMO%'");
    db.Execute("DROP VIEW RESUMOCFOPITEM");
    db.Execute("DROP TABLE RESUMOCFOPNF");
}

// A SQLite database made before the summary, before the daily ICMS or before
// the books per CST and rate gets each block it lacks, with its documents
// summed, the first time the host opens it; later opens change nothing, the
// blocks it had stay as they were, and the triggers keep every block from
// then on.
TEST(KeptSummaryUpgrade, AnOlderDatabaseGetsTheBlocksItLacksWhenOpened)
{
    struct Block {
        const char *name;
        std::string kept, detail;
        std::size_t atLeast;  // rows the 30 documents give
    };
    const Block blocks[] = {{"the summary", keptSql(), detailSql(), 10},
                            {"the daily ICMS", dailyKeptSql(), dailyDetailSql(), 5},
                            {"the books per CST and rate", cstSql(true), cstSql(false), 10}};
    for (const Before before : {Before::Summary, Before::Daily, Before::PerCst}) {
        SCOPED_TRACE("before " + std::string(blocks[static_cast<int>(before)].name));
        ImportTarget target(kImportSqlite);
        NfeFileOptions files;
        files.dir = target.Dir() + "/nfe";
        files.count = 30;
        files.year = 2027;
        WriteNfeFiles(files);
        const std::string path = target.Dir() + "/own.sqlite";
        std::vector<std::vector<ImportConnection::Values>> was;
        {
            auto db = target.Open();
            ASSERT_GT(ImportFiles(*db, {files.dir}).imported, 10);
            for (const Block &b : blocks)
                was.push_back(db->Select(db->Prepare(b.kept), {}));
            dropKeptSummary(*db, before);
        }
        AddKeptSummary(path, UpgradeFixturesFor(SqliteEngine()));
        AddKeptSummary(path, UpgradeFixturesFor(SqliteEngine()));
        auto db = target.Open();
        for (std::size_t n = 0; n < std::size(blocks); ++n) {
            const auto kept = db->Select(db->Prepare(blocks[n].kept), {});
            EXPECT_GT(kept.size(), blocks[n].atLeast) << blocks[n].name;
            EXPECT_EQ(firstDifference(kept, was[n]), "") << blocks[n].name;
            EXPECT_EQ(firstDifference(kept, db->Select(db->Prepare(blocks[n].detail), {})), "") << blocks[n].name;
        }
        db->Begin();
        for (const char *sql :
             {"DELETE FROM IMPOSTOITEMNF WHERE CDIMPOSTONFE = '01' AND NRITEM = 2",
              "UPDATE IMPOSTOITEMNF SET CDCST = '041' WHERE CDIMPOSTONFE = '01' AND NRITEM = 1",
              "UPDATE NOTAFISCAL SET IDSITUACAO = 'C' WHERE CDNOTAFISC IN (SELECT MIN(CDNOTAFISC) FROM NOTAFISCAL)"})
            db->Run(db->Prepare(sql), {});
        db->Commit();
        for (const Block &b : blocks)
            EXPECT_EQ(firstDifference(db->Select(db->Prepare(b.kept), {}), db->Select(db->Prepare(b.detail), {})), "")
                << b.name << ", after later writes";
    }
}

bool hasTable(DatabaseSession &s, const char *table)
{
    const ResultSet r =
        s.Query(std::string("SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name = '") + table + "'", {});
    return !r.rows.empty() && r.rows[0][0].value_or("0") != "0";
}

TEST(HostDatabase, OneWithOnlyTheReferenceTablesOpensAndSaysWhatItLacks)
{
    ImportTarget target(kImportSqlite);
    const std::string path = target.Dir() + "/reference-only.sqlite";
    std::vector<std::string> fixtures;
    for (const std::string &f : DefaultFixturePaths())
        if (f.ends_with("/reference.sql") || f.ends_with("/cfop.sql"))
            fixtures.push_back(f);
    ASSERT_EQ(fixtures.size(), 2u);
    BuildDemoDatabase(path, fixtures);
    HostConfig config;
    config.engine = "sqlite";
    config.database = path;
    std::unique_ptr<DatabaseSession> session;
    ASSERT_NO_THROW(session = OpenHostSession(config));
    // The lookups work; the documents' tables are named as missing, in Portuguese.
    EXPECT_FALSE(session->Query("SELECT CDEMPRESA FROM EMPRESA", {}).rows.empty());
    try {
        session->Query("SELECT COUNT(*) FROM ITEMNOTAFISC", {});
        ADD_FAILURE() << "no error";
    } catch (const EDatabaseError &e) {
        EXPECT_EQ(std::string(e.what()).find("A tabela ITEMNOTAFISC não existe neste banco de dados"), 0u) << e.what();
    }
    EXPECT_FALSE(hasTable(*session, "RESUMOCFOPNF"));
}

TEST(HostDatabase, OnlyTheHostBringsADatabaseUpToDateNeverTheApplicationServer)
{
    ImportTarget target(kImportSqlite);
    const std::string path = target.Dir() + "/own.sqlite";
    {
        // A database made before the kept summary.
        auto db = target.Open();
        dropKeptSummary(*db, Before::Summary);
    }
    HostConfig config;
    config.engine = "sqlite";
    config.database = path;
    EXPECT_FALSE(hasTable(*OpenHostSession(config, false), "RESUMOCFOPNF"));
    EXPECT_TRUE(hasTable(*OpenHostSession(config), "RESUMOCFOPNF"));
}

// Several rows at once through a statement whose row also holds literals:
// every row keeps them, on each engine's writer.
TEST_P(KeptSummary, RowsWrittenTogetherKeepTheLiteralsOfTheirStatement)
{
    if (auto why = ImportTarget::Unavailable(*GetParam()); !why.empty())
        GTEST_SKIP() << why;
    ImportTarget target(*GetParam());
    auto db = target.Open();
    db->Begin();
    const int insert = db->Prepare("INSERT INTO NFECHAVE (CHNFE, CDNOTAFISC, IDCANCELADA) VALUES (?, NULL, 'S')");
    std::vector<DatabaseWriter::Values> rows;
    for (const char *key : {"TESTE-LOTE-1", "TESTE-LOTE-2", "TESTE-LOTE-3"})
        rows.push_back({std::string(key)});
    db->RunMany(insert, rows);
    const auto back = db->Select(
        db->Prepare("SELECT CHNFE, IDCANCELADA FROM NFECHAVE WHERE CHNFE LIKE 'TESTE-LOTE-%' ORDER BY CHNFE"), {});
    db->Rollback();
    ASSERT_EQ(back.size(), 3u);
    for (const auto &row : back)
        EXPECT_EQ(row[1].value_or(""), "S") << row[0].value_or("");
}

INSTANTIATE_TEST_SUITE_P(Engines, KeptSummary, ::testing::Values(&kImportSqlite, &kImportFirebird, &kImportPostgresql),
                         [](const auto &info) { return std::string(info.param->label); });

} // namespace
