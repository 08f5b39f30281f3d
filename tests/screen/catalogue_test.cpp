// The report catalogue as data: every shipped report finds its own row, any
// other title the default one, and a report never enables a field its
// statement ignores.
#include "Cli_Fis02800.h"
#include "catalogue.h"
#include "data/sqlparams.h"
#include "host/hostconfig.h"
#include "report/reportdef.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace {
std::vector<ReportDefinition> shippedReports() { return *LoadReportDefinitions(DefaultReportsDir(), "FIS028"); }

TEST(Catalogue, EveryShippedReportHasARowOfItsOwn)
{
    std::set<const CatalogueRow *> rows;
    for (const ReportDefinition &def : shippedReports()) {
        const CatalogueRow &row = CatalogueRowFor(def.title);
        EXPECT_EQ(row.title, def.title);
        EXPECT_TRUE(rows.insert(&row).second) << def.title << " shares a row";
    }
    EXPECT_EQ(rows.size(), 8u);
    EXPECT_TRUE(rows.count(&DefaultCatalogueRow()));
}

TEST(Catalogue, AnyOtherTitleTakesTheSummarysRow)
{
    EXPECT_STREQ(DefaultCatalogueRow().title, ReportTitles::Resumo);
    const char *const others[] = {
        "",
        "Meu resumo de CFOP",                    // saved under a title of the person's own
        "Relação de Notas Fiscais ",             // a trailing blank
        "relação de notas fiscais",              // another case
        "Relacao de Notas Fiscais",              // without its accents
        "Mapa Fiscal - Inscric\xCC\xA7\xC3\xA3o Estadual",  // the same letters, decomposed
        "Resumo não Oficial de CFOp com Produtos",
    };
    for (const char *title : others)
        EXPECT_EQ(&CatalogueRowFor(title), &DefaultCatalogueRow()) << title;
}

// Which parameter of the statement each field group fills.
struct Group {
    GroupRule CatalogueRow::*rule;
    const char *name;
    const char *param;
};
const Group kGroups[] = {
    {&CatalogueRow::state, "state", "P_CDINSCESTA"},
    {&CatalogueRow::municipal, "municipal", "P_CDINSCMUNI"},
    {&CatalogueRow::products, "products", "P_PRODUTOINI"},
    {&CatalogueRow::series, "series", "P_CDSERIE"},
    {&CatalogueRow::number, "number", "P_NRNOTAFISC"},
    {&CatalogueRow::entryExit, "entryExit", "P_IDENTRSAIDOP"},
    {&CatalogueRow::cfop, "cfop", "P_CDCFOP"},
    {&CatalogueRow::branch, "branch", "P_CDFILIAL"},
    {&CatalogueRow::operationTypes, "operationTypes", "P_CDTIPOOPER"},
    {&CatalogueRow::models, "models", "P_CDMODDOCFISC"},
};

TEST(Catalogue, AReportEnablesOnlyFieldsItsStatementFilters)
{
    for (const ReportDefinition &def : shippedReports()) {
        const CatalogueRow &row = CatalogueRowFor(def.title);
        for (const SqlDialectName &dialect : kSqlDialects) {
            const std::vector<std::string> params = ParamNames(def.StatementFor(dialect.name));
            for (const Group &g : kGroups) {
                if (row.*g.rule != GroupRule::Enabled)
                    continue;
                EXPECT_NE(std::find(params.begin(), params.end(), g.param), params.end())
                    << def.title << " enables " << g.name << " but its " << dialect.name << " statement takes no "
                    << g.param;
            }
        }
    }
}
} // namespace
