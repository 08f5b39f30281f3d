// "Empresas" on a database of one's own: a registration whose check digits
// fail is kept only once the person agrees; names change and registrations
// go away, and the list shows what the database holds.
#include "company_dialog.h"
#include "import/tax_ids.h"
#include "import_target.h"
#include "qt_fixture.h"

#include <QLineEdit>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

int Registrations(QTreeWidget *tree, const QString &ie)
{
    int n = 0;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        for (int j = 0; j < tree->topLevelItem(i)->childCount(); ++j)
            n += tree->topLevelItem(i)->child(j)->text(1) == ie;
    return n;
}

TEST(CompanyDialogTest, AFailingCheckDigitIsAskedAboutAndKeptOnlyWhenConfirmed)
{
    ImportTarget target(kImportSqlite);
    HostConfig config;
    config.engine = "sqlite";
    config.database = target.Dir() + "/own.sqlite";
    CompanyDialog dialog(config);
    std::vector<QString> asked, told;
    bool answer = false;
    dialog.SetQuestionSink([&](const QString &q) {
        asked.push_back(q);
        return answer;
    });
    dialog.SetErrorSink([&](const QString &t) { told.push_back(t); });

    struct Case {
        const char *code, *name, *cnpj, *ie, *state;
        bool answer;
        bool asks, kept;
        int listed;  // rows with that IE in the list afterwards
    } cases[] = {
        {"07", "Papelaria Sete", "11.222.333/0001-81", "110042490114", "SP", false, false, false, 1},  // 01's IE
        {"07", "Papelaria Sete", "11.222.333/0001-81", "99999993", "RJ", false, false, true, 1},
        {"08", "Oito Comércio", "11.222.333/0001-82", "251040852", "SC", false, true, false, 0},
        {"08", "Oito Comércio", "11.222.333/0001-82", "251040852", "SC", true, true, true, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.code) + " " + c.ie);
        asked.clear();
        told.clear();
        answer = c.answer;
        dialog.Field("code")->setText(c.code);
        dialog.Field("name")->setText(QString::fromUtf8(c.name));
        dialog.Field("cnpj")->setText(c.cnpj);
        dialog.Field("ie")->setText(c.ie);
        dialog.Field("state")->setText(c.state);
        EXPECT_EQ(dialog.Register(), c.kept);
        EXPECT_EQ(!asked.empty(), c.asks);
        if (c.asks) {
            EXPECT_TRUE(asked.front().contains(QStringLiteral("O CNPJ 11.222.333/0001-82 não confere")));
        }
        EXPECT_EQ(Registrations(dialog.Tree(), QString::fromLatin1(c.ie)), c.listed);
        EXPECT_EQ(told.empty(), c.kept || c.asks);  // a refusal is told
    }
    auto db = target.Open();
    EXPECT_EQ(One(*db, "SELECT NMEMPRESA FROM EMPRESA WHERE CDEMPRESA = '08'"), "Oito Comércio");

    RenameCompany(*db, "08", "Oito Comércio Ltda");
    RemoveRegistration(*db, "07", "99999993");
    dialog.Reload();
    EXPECT_EQ(Registrations(dialog.Tree(), QStringLiteral("99999993")), 0);
    bool renamed = false;
    for (int i = 0; i < dialog.Tree()->topLevelItemCount(); ++i)
        renamed = renamed || dialog.Tree()->topLevelItem(i)->text(0) == QStringLiteral("08 – Oito Comércio Ltda");
    EXPECT_TRUE(renamed);
}

} // namespace
