// The demo-data generator: the fixture's rows survive unchanged, generated
// keys are unique and clear of the fixture's, the product tree is complete
// and fits the product picture, and bad sizes or targets leave nothing behind.
#include "screen_host.h"

#include "data/sqlite/session.h"
#include "demogen.h"
#include "rtl/files.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

namespace {
namespace fs = std::filesystem;
using Rows = std::vector<std::vector<std::optional<std::string>>>;

const char *const kTables[] = {"EMPRESA",    "IMPOSTONFE", "IMPOSTO",    "INSCRESTAD", "INSCRESTADST",
                               "INSCRMUNICIP", "PRODUTO",  "SERIENF",    "SERIEENTR",  "MODDOCFISC",
                               "TIPOOPERAC", "FILIAL",     "CFOP",       "NOTAFISCAL", "ITEMNOTAFISC",
                               "IMPOSTOITEMNF"};

class TempDir {
public:
    TempDir()
    {
        std::string pattern = (fs::temp_directory_path() / "fisdemogen-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp");
        path_ = pattern;
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string File(const char *name) const { return (path_ / name).string(); }
    std::size_t Entries() const { return static_cast<std::size_t>(std::distance(fs::directory_iterator(path_), {})); }

private:
    fs::path path_;
};

Rows all(DatabaseSession &db, const std::string &table)
{
    return db.Query("SELECT * FROM " + table, {}).rows;
}

std::string scalar(DatabaseSession &db, const std::string &sql)
{
    return db.Query(sql, {}).rows.at(0).at(0).value_or("(null)");
}

class DemoGenTest : public testing::Test {
protected:
    DemoCounts Build(long products, int companies, long items = 0)
    {
        DemoCounts c = BuildDemoSqlite(path, {products, companies, items}, DefaultFixturePaths());
        db = OpenSqliteSession(path, true);
        return c;
    }
    TempDir dir;
    std::string path = dir.File("grown.sqlite");
    TemporaryDemoDatabase reference;
    std::unique_ptr<DatabaseSession> ref = OpenSqliteSession(reference.Path(), true);
    std::unique_ptr<DatabaseSession> db;
};

TEST_F(DemoGenTest, FixtureRowsSurviveAndFixtureCompaniesGainNothing)
{
    Build(1000, 5, 500);
    for (const char *table : kTables) {
        SCOPED_TRACE(table);
        const Rows before = all(*ref, table), after = all(*db, table);
        const std::multiset<std::vector<std::optional<std::string>>> grown(after.begin(), after.end());
        for (const auto &row : before)
            EXPECT_EQ(grown.count(row), std::count(before.begin(), before.end(), row));
    }
    // SERIENF has no key: only the fixture's own rows may name the fixture's companies.
    for (const char *table : {"INSCRESTAD", "INSCRMUNICIP", "SERIENF", "FILIAL"}) {
        const std::string sql = std::string("SELECT COUNT(*) FROM ") + table +
                                " WHERE CDEMPRESA IN ('01', '02', '03', '09', '10')";
        EXPECT_EQ(scalar(*db, sql), scalar(*ref, sql)) << table;
    }
}

struct TreeCase {
    const char *label;
    long products;
};
std::ostream &operator<<(std::ostream &os, const TreeCase &c) { return os << c.label; }

class ProductTreeTest : public DemoGenTest, public testing::WithParamInterface<TreeCase> {};

TEST_P(ProductTreeTest, LeavesAreNewUniqueAndHangFromTheirGroups)
{
    const long n = GetParam().products;
    const DemoCounts c = Build(n, 0);
    EXPECT_EQ(c.products, n);
    auto count = [&](const std::string &where) {
        return std::stol(scalar(*db, "SELECT COUNT(*) FROM PRODUTO P WHERE " + where));
    };
    EXPECT_EQ(count("CDNVPRODUTO = '3'"), 9 + n);
    EXPECT_EQ(count("CDNVPRODUTO IN ('1', '2')"), 7 + c.productGroups);
    EXPECT_EQ(scalar(*db, "SELECT COUNT(DISTINCT CDPRODUTO) FROM PRODUTO"), std::to_string(16 + n + c.productGroups));
    // Every code fits the picture 99.99.9999 at its level.
    EXPECT_EQ(count("NOT ((CDNVPRODUTO = '1' AND CDARVPROD GLOB '[0-9][0-9]')"
                    " OR (CDNVPRODUTO = '2' AND CDARVPROD GLOB '[0-9][0-9].[0-9][0-9]')"
                    " OR (CDNVPRODUTO = '3' AND CDARVPROD GLOB '[0-9][0-9].[0-9][0-9].[0-9][0-9][0-9][0-9]'))"),
              0);
    // Every generated leaf has its subgroup and group (the fixture's 09.99.9999 has neither).
    EXPECT_EQ(count("CDNVPRODUTO = '3' AND CDARVPROD <> '09.99.9999' AND NOT EXISTS (SELECT 1 FROM PRODUTO Q "
                    "WHERE Q.CDARVPROD = SUBSTR(P.CDARVPROD, 1, 5) AND Q.CDNVPRODUTO = '2')"),
              0);
    EXPECT_EQ(count("CDNVPRODUTO = '2' AND NOT EXISTS (SELECT 1 FROM PRODUTO Q "
                    "WHERE Q.CDARVPROD = SUBSTR(P.CDARVPROD, 1, 2) AND Q.CDNVPRODUTO = '1')"),
              0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ProductTreeTest,
                         testing::Values(TreeCase{"one", 1}, TreeCase{"oneSubgroup", 100},
                                         TreeCase{"secondSubgroup", 101},
                                         // reaches group 01, whose 01.01 and 01.02 the fixture has
                                         TreeCase{"intoFixtureGroups", 20000}),
                         [](const testing::TestParamInfo<TreeCase> &info) { return std::string(info.param.label); });

TEST_F(DemoGenTest, TheScreenSeesTheGrownData)
{
    Build(1000, 2);
    const std::string company = scalar(*db, "SELECT MIN(CDEMPRESA) FROM EMPRESA WHERE NMEMPRESA LIKE 'Empresa demo%'");
    const std::string leaf = scalar(*db, "SELECT MAX(CDARVPROD) FROM PRODUTO WHERE CDNVPRODUTO = '3'");
    const std::string subgroup = leaf.substr(0, 5);
    auto session = OpenSqliteSession(path, true);
    ScreenHost host(session.get(), TDialect::Oracle, path);
    TfrmResumoOficialCfop &s = host.Screen();

    Reopen(*s.qryProduto, {Set("P_CDPRODUTO", ""), Set("P_TCDPRODUTO", "T")});
    EXPECT_EQ(s.qryProduto->Query.RecordCount(), 1009);
    Reopen(*s.qryValidProd, {Set("P_CDPRODUTO", leaf)});
    EXPECT_EQ(s.qryValidProd->Query.RecordCount(), 1);
    Reopen(*s.qryValidProd, {Set("P_CDPRODUTO", subgroup)});
    EXPECT_TRUE(s.qryValidProd->IsEmpty());

    Reopen(*s.qryPesqInscEsta, {Set("P_EMPRESA", company), Null("P_INSCESTA"), Set("P_TINSCESTA", "T")});
    EXPECT_EQ(s.qryPesqInscEsta->Query.RecordCount(), kStateRegistrationsPerCompany);
    Reopen(*s.qryInscrMuni, {Set("P_EMPRESA", company), Null("P_INSCMUNI"), Set("P_TINSCMUNI", "T")});
    EXPECT_EQ(s.qryInscrMuni->Query.RecordCount(), kMunicipalRegistrationsPerCompany);
    // Each code once; the code held only without municipal registration never.
    Reopen(*s.qrySerieNF, {Null("P_CDINSCESTA"), Null("P_CDINSCMUNI"), Null("P_CDSERIE"), Set("P_CDEMPRESA", company)});
    const std::vector<std::string> series = Column(*s.qrySerieNF, *s.qrySerieNFCDSERIE);
    EXPECT_EQ(series.size(), 10u);
    EXPECT_EQ(std::set<std::string>(series.begin(), series.end()).size(), series.size());
    EXPECT_EQ(std::count(series.begin(), series.end(), kSeriesWithoutMunicipalRegistration), 0);
    EXPECT_GT(std::stol(scalar(*db, "SELECT COUNT(*) FROM SERIENF WHERE CDINSCMUNI IS NULL AND CDEMPRESA = '" +
                                        company + "'")),
              0);
}

struct BadRun {
    const char *label;
    long products;
    int companies;
    long items = 0;
};
std::ostream &operator<<(std::ostream &os, const BadRun &c) { return os << c.label; }

class BadSizeTest : public DemoGenTest, public testing::WithParamInterface<BadRun> {};

TEST_P(BadSizeTest, IsRefusedAndLeavesNoFile)
{
    EXPECT_THROW(BuildDemoSqlite(path, {GetParam().products, GetParam().companies, GetParam().items},
                                 DefaultFixturePaths()),
                 EDemoArgument);
    EXPECT_EQ(dir.Entries(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Sizes, BadSizeTest,
                         testing::Values(BadRun{"noProducts", 0, 1}, BadRun{"negativeProducts", -5, 1},
                                         BadRun{"beyondTheTree", kMaxDemoProducts + 1, 1},
                                         BadRun{"negativeCompanies", 10, -1},
                                         BadRun{"negativeItems", 10, 1, -1},
                                         BadRun{"tooManyItems", 10, 1, kMaxDemoItems + 1},
                                         // 36 x 36 two-character codes, five taken by the fixture
                                         BadRun{"moreCompaniesThanCodes", 10, 36 * 36 - 4}),
                         [](const testing::TestParamInfo<BadRun> &info) { return std::string(info.param.label); });

TEST_F(DemoGenTest, AnExistingFileIsKeptUnlessReplacing)
{
    { std::ofstream(path) << "not a database"; }
    EXPECT_THROW(BuildDemoSqlite(path, {10, 1}, DefaultFixturePaths()), Exception);
    EXPECT_EQ(ReadWholeFile(path), "not a database");

    BuildDemoSqlite(path, {10, 1}, DefaultFixturePaths(), /*replace=*/true);
    EXPECT_EQ(scalar(*OpenSqliteSession(path, true), "SELECT COUNT(*) FROM EMPRESA"), "6");
    EXPECT_EQ(dir.Entries(), 1u);
}

TEST_F(DemoGenTest, AMissingFixtureLeavesNoFile)
{
    EXPECT_THROW(BuildDemoSqlite(path, {10, 1}, {dir.File("absent.sql")}), std::exception);
    EXPECT_EQ(dir.Entries(), 0u);
}

TEST_F(DemoGenTest, AllFreeCompanyCodesCanBeUsed)
{
    const DemoCounts c = Build(1, 36 * 36 - 5);
    EXPECT_EQ(c.companies, 36 * 36 - 5);
    EXPECT_EQ(scalar(*db, "SELECT COUNT(*) FROM EMPRESA"), std::to_string(36 * 36));
    EXPECT_EQ(c.branches, c.companies * kBranchesPerCompany);
}

// Generated documents: exactly the items asked for, booked over the whole
// year under their company's own registrations and branches, on leaf
// products, with every kind the reports tell apart.
TEST_F(DemoGenTest, DocumentsFillTheYearWithTheMixTheReportsTellApart)
{
    const DemoCounts c = Build(200, 0, 3000);
    EXPECT_EQ(c.items, 3000);
    // Generated keys follow the fixture's last document, one by one.
    const std::string last =
        std::to_string(std::stol(scalar(*db, "SELECT MAX(CDNOTAFISC) FROM NOTAFISCAL")) - c.documents);
    auto count = [&](const std::string &sql) { return std::stol(scalar(*db, sql)); };
    const std::string generated = " FROM NOTAFISCAL N WHERE N.CDNOTAFISC > " + last;
    const std::string items = " FROM ITEMNOTAFISC I JOIN NOTAFISCAL N ON N.CDNOTAFISC = I.CDNOTAFISC"
                              " WHERE N.CDNOTAFISC > " + last;
    EXPECT_EQ(count("SELECT COUNT(*)" + items), 3000);
    EXPECT_EQ(count("SELECT COUNT(*)" + generated), c.documents);
    EXPECT_EQ(count("SELECT COUNT(*) FROM IMPOSTOITEMNF WHERE CDNOTAFISC > " + last), c.taxRows);
    EXPECT_EQ(count("SELECT COUNT(DISTINCT SUBSTR(DTENTRSAIDA, 1, 7))" + generated + " AND DTENTRSAIDA LIKE '2026-%'"),
              12);
    EXPECT_EQ(scalar(*db, "SELECT MAX(DTENTRSAIDA)" + generated), "2026-12-31");
    EXPECT_EQ(count("SELECT COUNT(*)" + generated + " AND DTEMISSAO > DTENTRSAIDA"), 0);
    // Everything a document names exists, and belongs to its company.
    EXPECT_EQ(count("SELECT COUNT(*)" + generated +
                    " AND (N.CDEMPRESA NOT IN ('01', '02')"
                    " OR NOT EXISTS (SELECT 1 FROM FILIAL F WHERE F.CDFILIAL = N.CDFILIAL AND F.CDEMPRESA = N.CDEMPRESA)"
                    " OR (N.CDINSCESTA IS NOT NULL AND NOT EXISTS (SELECT 1 FROM INSCRESTAD R"
                    "     WHERE R.CDINSCESTA = N.CDINSCESTA AND R.CDEMPRESA = N.CDEMPRESA))"
                    " OR (N.CDINSCMUNI IS NOT NULL AND NOT EXISTS (SELECT 1 FROM INSCRMUNICIP M"
                    "     WHERE M.CDINSCMUNI = N.CDINSCMUNI AND M.CDEMPRESA = N.CDEMPRESA))"
                    " OR NOT EXISTS (SELECT 1 FROM TIPOOPERAC T"
                    "     WHERE T.IDENTRSAIDOP = N.IDENTRSAIDA AND T.CDTIPOOPER = N.CDTIPOOPER)"
                    " OR NOT EXISTS (SELECT 1 FROM MODDOCFISC D WHERE D.CDMODDOCFISC = N.CDMODDOCFISC))"),
              0);
    EXPECT_EQ(count("SELECT COUNT(*)" + items +
                    " AND (NOT EXISTS (SELECT 1 FROM PRODUTO P WHERE P.CDPRODUTO = I.CDPRODUTO AND P.CDNVPRODUTO = '3')"
                    " OR NOT EXISTS (SELECT 1 FROM CFOP C WHERE C.CDCFOP = I.CDCFOP)"
                    " OR SUBSTR(I.CDCFOP, 1, 1) NOT IN"
                    "    (CASE N.IDENTRSAIDA WHEN 'E' THEN '1' ELSE '5' END,"
                    "     CASE N.IDENTRSAIDA WHEN 'E' THEN '2' ELSE '6' END,"
                    "     CASE N.IDENTRSAIDA WHEN 'E' THEN '3' ELSE '7' END))"),
              0);
    // Valor Contábil holds the goods, their IPI and ST.
    EXPECT_EQ(count("SELECT COUNT(*)" + items +
                    " AND ABS(I.VLCONTABIL - ROUND(I.QTITEM * I.VLUNITARIO, 2)"
                    " - COALESCE((SELECT VLIMPOSTO FROM IMPOSTOITEMNF T WHERE T.CDNOTAFISC = I.CDNOTAFISC"
                    "             AND T.NRITEM = I.NRITEM AND T.CDIMPOSTONFE = '03'), 0)"
                    " - COALESCE((SELECT VLIMPOSTOST FROM IMPOSTOITEMNF T WHERE T.CDNOTAFISC = I.CDNOTAFISC"
                    "             AND T.NRITEM = I.NRITEM AND T.CDIMPOSTONFE = '01'), 0)) > 0.005"),
              0);
    // The mix: every origin on each side, cancelled documents, ST, IPI, ISS
    // under a municipal registration alone, and items without an ICMS row.
    for (const char *digit : {"1", "2", "3", "5", "6", "7"})
        EXPECT_GT(count(std::string("SELECT COUNT(*)") + items + " AND I.CDCFOP LIKE '" + digit + "%'"), 0) << digit;
    EXPECT_GT(count("SELECT COUNT(*)" + generated + " AND IDSITUACAO = 'C'"), 0);
    EXPECT_GT(count("SELECT COUNT(*) FROM IMPOSTOITEMNF WHERE CDNOTAFISC > " + last + " AND VLIMPOSTOST > 0"), 0);
    EXPECT_GT(count("SELECT COUNT(*) FROM IMPOSTOITEMNF WHERE CDNOTAFISC > " + last + " AND CDIMPOSTONFE = '03'"), 0);
    EXPECT_GT(count("SELECT COUNT(*)" + generated + " AND CDINSCESTA IS NULL AND CDINSCMUNI IS NOT NULL"
                    " AND EXISTS (SELECT 1 FROM IMPOSTOITEMNF T WHERE T.CDNOTAFISC = N.CDNOTAFISC AND T.CDIMPOSTONFE = '02')"),
              0);
    EXPECT_GT(count("SELECT COUNT(*)" + items + " AND NOT EXISTS (SELECT 1 FROM IMPOSTOITEMNF T"
                    " WHERE T.CDNOTAFISC = I.CDNOTAFISC AND T.NRITEM = I.NRITEM AND T.CDIMPOSTONFE = '01')"),
              0);
    EXPECT_GT(count("SELECT COUNT(*)" + generated + " AND CDEMPRESA = '02'"), 0);
}

TEST_F(DemoGenTest, TheSameSizeGivesTheSameDocuments)
{
    Build(50, 0, 400);
    const Rows first = db->Query("SELECT * FROM ITEMNOTAFISC ORDER BY CDNOTAFISC, NRITEM", {}).rows;
    db.reset();
    std::filesystem::remove(path);
    Build(50, 0, 400);
    EXPECT_EQ(db->Query("SELECT * FROM ITEMNOTAFISC ORDER BY CDNOTAFISC, NRITEM", {}).rows, first);
}

} // namespace
