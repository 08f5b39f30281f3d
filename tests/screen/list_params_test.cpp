// What the report receives from the two package-wide lists: a held list
// filters only while its "Lista" button is checked, whether or not the
// report leaves its group enabled.
#include "screen_fixture.h"

#include "data/params.h"

#include <algorithm>

namespace {

struct ListUnderTest {
    const char *code, *flag;
    TRadioButton *TfrmResumoOficialCfop::*all;
    TRadioButton *TfrmResumoOficialCfop::*list;
    TGroupBox *TfrmResumoOficialCfop::*group;
    AnsiString *held;
};

class ListParamsTest : public ScreenTest {
protected:
    void Choose(TfrmResumoOficialCfop &screen, const std::string &title)
    {
        const auto &items = screen.cbbReportNames->Items();
        const int index = static_cast<int>(std::find(items.begin(), items.end(), title) - items.begin());
        ASSERT_LT(index, static_cast<int>(items.size())) << title;
        Application->RunUserAction([&] { screen.cbbReportNames->PickItem(index); });
    }
};

TEST_F(ListParamsTest, AHeldListReachesTheReportOnlyUnderLista)
{
    const ListUnderTest lists[] = {
        {"P_CDMODDOCFISC", "P_TCDMODDOCFISC", &TfrmResumoOficialCfop::rdbTodosMod,
         &TfrmResumoOficialCfop::rdbListaMod, &TfrmResumoOficialCfop::grbModDoc, &stListaMod},
        {"P_CDTIPOOPER", "P_TCDTIPOOPER", &TfrmResumoOficialCfop::rdbTodosTp, &TfrmResumoOficialCfop::rdbListaTp,
         &TfrmResumoOficialCfop::grbTpOperacao, &stListaTp},
    };
    struct Case {
        const char *name;
        const char *report;  // the invoice listing enables both groups, the fiscal map neither
        bool lista;
        std::string held;
        bool codeDeclared;
        std::string code, flag;  // received; "-" not set
    } cases[] = {
        {"Lista with a list", "Relação de Notas Fiscais", true, "01,55", true, "01,55", ""},
        {"Todos over a held list", "Relação de Notas Fiscais", false, "01,55", true, "", "T"},
        {"Lista with nothing picked", "Relação de Notas Fiscais", true, "", true, "", "T"},
        {"Todos and no list", "Relação de Notas Fiscais", false, "", true, "", "T"},
        {"a disabled group under Lista", "Mapa Fiscal - Inscrição Estadual", true, "01,55", true, "01,55", ""},
        {"a disabled group under Todos", "Mapa Fiscal - Inscrição Estadual", false, "01,55", true, "", "T"},
        {"the flag declared alone, Todos", "Relação de Notas Fiscais", false, "01,55", false, "-", "T"},
        {"the flag declared alone, Lista", "Relação de Notas Fiscais", true, "01,55", false, "-", ""},
    };
    TfrmResumoOficialCfop &screen = Open();
    for (const ListUnderTest &l : lists)
        for (const Case &c : cases) {
            SCOPED_TRACE(std::string(l.code) + ": " + c.name);
            Choose(screen, "Relação de Notas Fiscais");
            (screen.*(c.lista ? l.list : l.all))->SetChecked(true);
            Choose(screen, c.report);
            EXPECT_EQ((screen.*l.group)->Enabled(), std::string(c.report) == "Relação de Notas Fiscais");
            *l.held = c.held;
            TParams params;
            if (c.codeDeclared)
                params.CreateParam(ftString, l.code, ptInput);
            params.CreateParam(ftString, l.flag, ptInput);
            bool unused = false;
            screen.rpddPadraoBeforeGetQueryParams(&params, unused);
            if (c.codeDeclared) {
                EXPECT_EQ(params.ParamByName(l.code)->AsString(), c.code);
            }
            EXPECT_FALSE(params.ParamByName(l.flag)->IsNull());
            EXPECT_EQ(params.ParamByName(l.flag)->AsString(), c.flag);
            EXPECT_EQ(*l.held, c.held) << "filling the parameters never changes the list";
        }
}

// A flag the statement does not declare is never set: the screen once set
// the CFOP's unasked, which raised and left every later parameter unset.
TEST_F(ListParamsTest, AnUndeclaredFlagIsNeverSet)
{
    TfrmResumoOficialCfop &screen = Open();
    Choose(screen, "Relação de Notas Fiscais");
    screen.rdbTodosTp->SetChecked(true);
    TParams params;
    for (const char *name : {"P_CDCFOP", "P_CDINSCESTA", "P_IDENTRSAIDOP", "P_CDTIPOOPER", "P_TCDTIPOOPER"})
        params.CreateParam(ftString, name, ptInput);
    bool unused = false;
    ASSERT_NO_THROW(screen.rpddPadraoBeforeGetQueryParams(&params, unused));
    EXPECT_EQ(params.Count(), 5) << "nothing added";
    EXPECT_FALSE(params.ParamByName("P_CDCFOP")->IsNull());
    EXPECT_EQ(params.ParamByName("P_CDCFOP")->AsString(), "");
    EXPECT_EQ(params.ParamByName("P_TCDTIPOOPER")->AsString(), "T") << "what follows the CFOP is still filled";
}

} // namespace
