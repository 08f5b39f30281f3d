// Without a database: every report has a variant per dialect, each variant
// declares exactly the parameters the screen's scenarios rely on, holds no
// function of another dialect, and selects the columns its layout shows, in
// the same order in every dialect (the SQL Server variant is never run here).
#include "report_runner.h"

#include "data/params.h"
#include "data/sqlparams.h"
#include "report/layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>

namespace {
struct Declared {
    const char *file;
    std::vector<std::string> params;
    std::vector<std::string> columns;
};

const std::vector<std::string> kCommon{"P_CDEMPRESA", "P_DTINICIAL", "P_DTFINAL", "P_CDIMPOSTO"};
std::vector<std::string> with(std::vector<std::string> more)
{
    std::vector<std::string> out = kCommon;
    out.insert(out.end(), more.begin(), more.end());
    return out;
}

const Declared kReports[] = {
    {kCfopSummary,
     with({"P_IDENTRSAIDOP", "P_TIDENTRSAIDOP", "P_CDCFOP", "P_TCDCFOP", "P_CDINSCESTA", "P_TCDINSCESTA",
           "P_CDINSCMUNI", "P_TCDINSCMUNI"}),
     {"IDENTRSAIDA", "DSENTRSAIDA", "IDORIGEM", "DSORIGEM", "CDCFOP", "DSCFOP", "VLCONTABIL", "VLBASECALC",
      "VLIMPOSTO", "VLISENTO", "VLOUTROS", "VLIPI", "VLBASEST", "VLIMPOSTOST"}},
    {kCfopProducts,
     with({"P_IDENTRSAIDOP", "P_TIDENTRSAIDOP", "P_CDCFOP", "P_TCDCFOP", "P_CDINSCESTA", "P_TCDINSCESTA",
           "P_CDINSCMUNI", "P_TCDINSCMUNI", "P_NRNOTAFISC", "P_PRODUTOINI", "P_PRODUTOFIN", "P_CDSERIE"}),
     {"IDENTRSAIDA", "DSENTRSAIDA", "IDORIGEM", "DSORIGEM", "CDCFOP", "DSCFOP", "CDARVPROD", "NMPRODUTO", "QTITEM",
      "VLCONTABIL", "VLBASECALC", "VLIMPOSTO", "VLISENTO", "VLOUTROS", "VLIPI", "VLIMPOSTOST"}},
    {kInvoiceList,
     with({"P_IDENTRSAIDOP", "P_TIDENTRSAIDOP", "P_CDINSCESTA", "P_TCDINSCESTA", "P_CDINSCMUNI", "P_TCDINSCMUNI",
           "P_PRODUTOINI", "P_PRODUTOFIN", "P_CDFILIAL", "P_CDTIPOOPER", "P_TCDTIPOOPER", "P_CDMODDOCFISC",
           "P_TCDMODDOCFISC"}),
     {"CDINSCESTA", "IDENTRSAIDA", "DSENTRSAIDA", "DTENTRSAIDA", "DTEMISSAO", "CDMODDOCFISC", "CDSERIE", "NRNOTAFISC",
      "NRDOCPARTIC", "NRIEPARTIC", "SGUF", "NMPARTICIPANTE", "CDCFOP", "PCALIQUOTA", "DSSITUACAO", "VLCONTABIL",
      "VLBASECALC", "VLIMPOSTO", "VLISENTO", "VLOUTROS", "VLIPI", "VLIMPOSTOST"}},
    {kStByProduct,
     with({"P_IDENTRSAIDOP", "P_TIDENTRSAIDOP", "P_CDCFOP", "P_TCDCFOP", "P_CDINSCESTA", "P_TCDINSCESTA",
           "P_PRODUTOINI", "P_PRODUTOFIN", "P_CDTIPOOPER", "P_TCDTIPOOPER"}),
     {"IDENTRSAIDA", "DSENTRSAIDA", "CDARVPROD", "NMPRODUTO", "DTENTRSAIDA", "NRNOTAFISC", "CDSERIE",
      "NMPARTICIPANTE", "SGUF", "CDCFOP", "QTITEM", "VLBASEST", "VLIMPOSTOST"}},
    {kStRefund,
     with({"P_IDENTRSAIDOP", "P_TIDENTRSAIDOP", "P_CDINSCESTA", "P_TCDINSCESTA", "P_PRODUTOINI", "P_PRODUTOFIN",
           "P_CDTIPOOPER", "P_TCDTIPOOPER"}),
     {"CDINSCESTA", "SGESTADO", "DTMES", "CDARVPROD", "NMPRODUTO", "QTENTRADA", "VLSTENTRADA", "VLSTMEDIO", "DTMEDIA",
      "QTSAIDAINTER", "VLRESSARC", "DSOBSERVACAO"}},
    {kCfopCst,
     with({"P_IDENTRSAIDOP", "P_TIDENTRSAIDOP", "P_CDCFOP", "P_TCDCFOP", "P_CDINSCESTA", "P_TCDINSCESTA",
           "P_CDINSCMUNI", "P_TCDINSCMUNI"}),
     {"IDENTRSAIDA", "DSENTRSAIDA", "IDORIGEM", "DSORIGEM", "CDCFOP", "DSCFOP", "CDCST", "PCALIQUOTA", "VLCONTABIL",
      "VLBASECALC", "VLIMPOSTO", "VLISENTO", "VLOUTROS", "VLIPI", "VLBASEST", "VLIMPOSTOST"}},
    {kApuracao, {"P_CDEMPRESA", "P_DTINICIAL", "P_DTFINAL", "P_CDINSCESTA", "P_TCDINSCESTA"},
     {"CDINSCESTA", "SGESTADO", "DTMES", "NRORDEM", "DSLINHA", "CDCFOP", "CDAJUSTE", "DSAJUSTE", "VLVALOR"}},
    {kStateMap, with({"P_CDINSCESTA", "P_TCDINSCESTA"}),
     {"CDINSCESTA", "SGESTADO", "SGUFST", "VLCONTABILENT", "VLBASEENT", "VLCREDITO", "VLSTPAGO", "VLCONTABILSAI",
      "VLBASESAI", "VLDEBITO", "VLSALDO", "DSSITUACAO"}},
};

std::ostream &operator<<(std::ostream &os, const Declared &d) { return os << d.file; }

// What a dialect's database does not understand (Firebird has neither SUBSTR
// nor INSTR; SQL Server concatenates with +). No dialect compares a period
// with BETWEEN: a date stored with its time of day would miss the last day.
struct Foreign {
    const char *dialect;
    std::vector<const char *> tokens;
};
const Foreign kForeign[] = {
    {"oracle", {"ISNULL(", "NVLSTR(", "PARAM(", "CHARINDEX(", "DOUBLE PRECISION", "DATEADD(", " BETWEEN "}},
    {"interbase", {"NVL(", "ISNULL(", "INSTR(", "SUBSTR(", "CHARINDEX(", "DECIMAL(", "DATEADD(", " BETWEEN "}},
    {"mssql", {"NVL(", "NVLSTR(", "PARAM(", "||", "INSTR(", "SUBSTR(", "DOUBLE PRECISION", "DIASEGUINTE(", " BETWEEN "}},
};

std::string upper(std::string s)
{
    for (char &c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// The names the outermost select list gives its columns: an alias after AS,
// else the column after its table's prefix. Comments, literals and nested
// parentheses are skipped.
std::vector<std::string> outerColumns(const std::string &sql)
{
    std::string text = upper(sql);
    // Blank comments and literals so their words and commas do not count.
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "--") == 0) {
            const std::size_t end = text.find('\n', i);
            std::fill(text.begin() + static_cast<long>(i),
                      end == std::string::npos ? text.end() : text.begin() + static_cast<long>(end), ' ');
        } else if (text[i] == '\'') {
            const std::size_t end = SkipQuotedRun(text, i);
            std::fill(text.begin() + static_cast<long>(i), text.begin() + static_cast<long>(end), ' ');
            i = end - 1;
        }
    }
    // After a WITH, the statement's own SELECT is the first outside parentheses.
    std::size_t start = text.find("SELECT");
    for (std::size_t i = 0, depth = 0; text.compare(text.find_first_not_of(" \n\t"), 5, "WITH ") == 0 && i < text.size(); ++i) {
        depth += text[i] == '(' ? 1 : 0;
        depth -= text[i] == ')' ? 1 : 0;
        if (depth == 0 && text.compare(i, 7, "SELECT ") == 0 && (i == 0 || !std::isalnum(static_cast<unsigned char>(text[i - 1])))) {
            start = i;
            break;
        }
    }
    start += 6;
    std::vector<std::string> items;
    std::string current;
    int depth = 0;
    for (std::size_t i = start; i < text.size(); ++i) {
        const char c = text[i];
        depth += c == '(' ? 1 : c == ')' ? -1 : 0;
        const bool boundary = i == 0 || !std::isalnum(static_cast<unsigned char>(text[i - 1]));
        if (depth == 0 && boundary && text.compare(i, 5, "FROM ") == 0) {
            items.push_back(current);
            break;
        }
        if (depth == 0 && c == ',') {
            items.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    std::vector<std::string> names;
    for (std::string item : items) {
        item.erase(item.find_last_not_of(" \n\t") + 1);
        std::size_t cut = item.find_last_of(" .\n");
        names.push_back(item.substr(cut == std::string::npos ? 0 : cut + 1));
    }
    return names;
}

class ReportVariantTest : public testing::TestWithParam<Declared> {};

TEST_P(ReportVariantTest, EveryDialectHasItsOwnStatement)
{
    const ReportDefinition def = LoadReport(GetParam().file);
    EXPECT_FALSE(def.query.sql.empty());
    EXPECT_FALSE(def.query.Variant(SqlDialect::InterBase).empty());
    EXPECT_FALSE(def.query.Variant(SqlDialect::MSSQL).empty());
    EXPECT_EQ(&def.StatementFor("oracle"), &def.query.sql);
    EXPECT_EQ(&def.StatementFor("interbase"), &def.query.Variant(SqlDialect::InterBase));
    EXPECT_EQ(&def.StatementFor("mssql"), &def.query.Variant(SqlDialect::MSSQL));
}

TEST_P(ReportVariantTest, EveryVariantDeclaresTheParametersTheScreenFills)
{
    const ReportDefinition def = LoadReport(GetParam().file);
    const std::set<std::string> want(GetParam().params.begin(), GetParam().params.end());
    for (const char *dialect : {"oracle", "interbase", "mssql"}) {
        const std::vector<std::string> names = ParamNames(def.StatementFor(dialect));
        EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), want) << dialect;
    }
}

TEST_P(ReportVariantTest, NoDialectIsSentAnotherDialectsFunctions)
{
    const ReportDefinition def = LoadReport(GetParam().file);
    for (const Foreign &f : kForeign) {
        const std::string statement = upper(def.StatementFor(f.dialect));
        for (const char *token : f.tokens)
            EXPECT_EQ(statement.find(token), std::string::npos) << f.dialect << " holds " << token;
    }
}

TEST_P(ReportVariantTest, EveryVariantSelectsTheColumnsItsLayoutShows)
{
    const ReportDefinition def = LoadReport(GetParam().file);
    for (const char *dialect : {"oracle", "interbase", "mssql"})
        EXPECT_EQ(outerColumns(def.StatementFor(dialect)), GetParam().columns) << dialect;

    // Every field the layout names (columns, groups, captions) must come out of the statement.
    const std::set<std::string> selected(GetParam().columns.begin(), GetParam().columns.end());
    for (const std::string &field : LayoutFieldNames(ParseLayout(def.layoutJson)))
        EXPECT_TRUE(selected.count(field)) << field;
}

// A section's statement takes only parameters its report declares, and gives
// the fields its layout names, in every dialect.
TEST_P(ReportVariantTest, SectionsTakeTheReportsParameters)
{
    const ReportDefinition def = LoadReport(GetParam().file);
    const std::set<std::string> report(GetParam().params.begin(), GetParam().params.end());
    for (const ReportSection &section : def.sections) {
        for (const char *dialect : {"oracle", "interbase", "mssql"}) {
            for (const std::string &name : ParamNames(section.StatementFor(dialect)))
                EXPECT_TRUE(report.count(name)) << section.title << " " << dialect << " " << name;
            const std::vector<std::string> columns = outerColumns(section.StatementFor(dialect));
            const std::set<std::string> selected(columns.begin(), columns.end());
            for (const std::string &field : LayoutFieldNames(ParseLayout(section.layoutJson)))
                EXPECT_TRUE(selected.count(field)) << section.title << " " << dialect << " " << field;
        }
        for (const Foreign &f : kForeign) {
            const std::string statement = upper(section.StatementFor(f.dialect));
            for (const char *token : f.tokens)
                EXPECT_EQ(statement.find(token), std::string::npos) << f.dialect << " holds " << token;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Reports, ReportVariantTest, testing::ValuesIn(kReports),
                         [](const testing::TestParamInfo<Declared> &info) {
                             std::string name = info.param.file;
                             name = name.substr(4, name.find('.') - 4);
                             name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                             return name;
                         });
} // namespace
