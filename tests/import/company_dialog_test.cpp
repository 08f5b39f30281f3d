// "Empresas" on a database of one's own and on each server through the
// writing login: a registration whose check digits fail is kept only once
// the person agrees; names, activities, CNPJs and branches change,
// registrations and companies go away (never with documents under them),
// and the list shows what the database holds.
#include "company_dialog.h"
#include "import/tax_ids.h"
#include "import_target.h"
#include "qt_fixture.h"

#include "host/hostconfig.h"
#include "host/hostsession.h"
#include "import/connection.h"
#include "import/importer.h"

#include <QComboBox>
#include <functional>
#include <QLineEdit>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

int Registrations(QTreeWidget *tree, const QString &ie)
{
    int n = 0;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        for (int j = 0; j < tree->topLevelItem(i)->childCount(); ++j)
            n += tree->topLevelItem(i)->child(j)->text(CompanyDialog::IeColumn) == ie;
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

// The host's settings that reach the target's database.
HostConfig configFor(const ImportEngine &engine, const ImportTarget &target)
{
    HostConfig config;
    config.engine = engine.engine.name;
    if (engine.engine.localFile) {
        config.database = target.Dir() + "/own.sqlite";
        return config;
    }
    const EngineConnection reading = engine.Server(EngineLogin::Reading), writing = engine.Server(EngineLogin::Writing);
    config.database = reading.database;
    config.dbHost = reading.host;
    config.dbPort = reading.port;
    config.dbUser = reading.user;
    config.dbPassword = reading.password;
    config.importUser = writing.user;
    config.importPassword = writing.password;
    return config;
}

class CompanyRegister : public testing::TestWithParam<const ImportEngine *> {};

void choose(QComboBox *activity, const char *letter)
{
    activity->setCurrentIndex(activity->findData(QString::fromLatin1(letter)));
}

TEST_P(CompanyRegister, RegistersChangesAndRemovesWithTheWritingLogin)
{
    if (auto why = ImportTarget::Unavailable(*GetParam()); !why.empty())
        GTEST_SKIP() << why;
    ImportTarget target(*GetParam());
    // A connection of its own for each look: a server's snapshot would not
    // see what the dialog committed after it began.
    auto one = [&](const std::string &sql) { return One(*target.Open(), sql); };
    auto removeLeftovers = [&] {
        auto db = target.Open();
        for (const char *table : {"INSCRESTAD", "EMPRESAATIVIDADE", "EMPRESA"})
            db->Execute(std::string("DELETE FROM ") + table + " WHERE CDEMPRESA = '97'");
    };
    removeLeftovers();
    CompanyDialog dialog(configFor(*GetParam(), target));
    std::vector<QString> asked, told;
    bool answer = true;
    dialog.SetQuestionSink([&](const QString &q) {
        asked.push_back(q);
        return answer;
    });
    dialog.SetErrorSink([&](const QString &t) { told.push_back(t); });
    auto fill = [&](const char *ie, const char *state, const char *cnpj, const char *branch) {
        dialog.Field("code")->setText(QStringLiteral("97"));
        dialog.Field("name")->setText(QStringLiteral("Noventa e Sete Ltda"));
        choose(dialog.Activity(), "I");
        dialog.Field("ie")->setText(QString::fromLatin1(ie));
        dialog.Field("state")->setText(QString::fromLatin1(state));
        dialog.Field("cnpj")->setText(QString::fromLatin1(cnpj));
        dialog.Field("branch")->setText(QString::fromLatin1(branch));
    };

    fill("99999993", "RJ", "11.222.333/0001-81", "");
    ASSERT_TRUE(dialog.Register()) << (told.empty() ? QString() : told.front()).toStdString();
    EXPECT_TRUE(asked.empty());
    EXPECT_EQ(one("SELECT IDATIVIDADE FROM EMPRESAATIVIDADE WHERE CDEMPRESA = '97'"), "I");
    EXPECT_EQ(Registrations(dialog.Tree(), QStringLiteral("99999993")), 1);

    // Branches: another company's is refused; one the register lacks is asked about.
    const bool demoBranches = !one("SELECT CDEMPRESA FROM FILIAL WHERE CDFILIAL = '0001'").empty();
    if (demoBranches) {
        fill("251040852", "SC", "", "0001");
        EXPECT_FALSE(dialog.Register());
        ASSERT_EQ(told.size(), 1u);
        EXPECT_TRUE(told.front().contains(QStringLiteral("A filial 0001 é da empresa 01")));
    }
    answer = false;
    fill("251040852", "SC", "", "9X9X");
    EXPECT_FALSE(dialog.Register());
    ASSERT_FALSE(asked.empty());
    EXPECT_TRUE(asked.back().contains(QStringLiteral("A filial 9X9X não está cadastrada")));
    EXPECT_EQ(Registrations(dialog.Tree(), QStringLiteral("251040852")), 0);

    // Changes: the company's name and activity, the registration's CNPJ and branch.
    answer = true;
    fill("99999993", "RJ", "12.345.678/0001-95", "9X9X");
    dialog.Field("name")->setText(QStringLiteral("Noventa e Sete Energia Ltda"));
    choose(dialog.Activity(), "E");
    told.clear();
    EXPECT_TRUE(dialog.SaveChanges()) << (told.empty() ? QString() : told.front()).toStdString();
    EXPECT_EQ(one("SELECT NMEMPRESA FROM EMPRESA WHERE CDEMPRESA = '97'"), "Noventa e Sete Energia Ltda");
    EXPECT_EQ(one("SELECT IDATIVIDADE FROM EMPRESAATIVIDADE WHERE CDEMPRESA = '97'"), "E");
    EXPECT_EQ(one("SELECT NRINSJURIEST FROM INSCRESTAD WHERE CDEMPRESA = '97'"), "12345678000195");
    EXPECT_EQ(one("SELECT CDFILIAL FROM INSCRESTAD WHERE CDEMPRESA = '97'"), "9X9X");
    // The list shows it, and picking its row gives the fields back.
    QTreeWidgetItem *row = nullptr;
    for (int i = 0; i < dialog.Tree()->topLevelItemCount(); ++i)
        if (dialog.Tree()->topLevelItem(i)->text(CompanyDialog::CompanyColumn).startsWith(QStringLiteral("97 ")))
            row = dialog.Tree()->topLevelItem(i);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->text(CompanyDialog::ActivityColumn).toStdString(), ActivityWords("E"));
    ASSERT_EQ(row->childCount(), 1);
    dialog.Field("branch")->clear();
    dialog.Tree()->setCurrentItem(row->child(0));
    EXPECT_EQ(dialog.Field("branch")->text(), QStringLiteral("9X9X"));
    EXPECT_EQ(dialog.Activity()->currentData().toString(), QStringLiteral("E"));

    // Removal: the registration, then the company; both asked first.
    asked.clear();
    EXPECT_TRUE(dialog.RemoveChosen());
    EXPECT_EQ(asked.size(), 1u);
    EXPECT_EQ(one("SELECT CDINSCESTA FROM INSCRESTAD WHERE CDEMPRESA = '97'"), "");
    dialog.Field("code")->setText(QStringLiteral("97"));
    EXPECT_TRUE(dialog.RemoveChosen());
    EXPECT_EQ(one("SELECT CDEMPRESA FROM EMPRESA WHERE CDEMPRESA = '97'"), "");
    EXPECT_EQ(one("SELECT CDEMPRESA FROM EMPRESAATIVIDADE WHERE CDEMPRESA = '97'"), "");
    removeLeftovers();
}

INSTANTIATE_TEST_SUITE_P(Engines, CompanyRegister, ::testing::Values(&kImportSqlite, &kImportFirebird, &kImportPostgresql),
                         [](const auto &info) { return std::string(info.param->label); });

// The import's connection to a fresh copy of the demo database.
std::unique_ptr<ImportConnection> openDemoCopy(const ImportTarget &target)
{
    const std::string path = target.Dir() + "/demo.sqlite";
    BuildDemoDatabase(path, DefaultFixturePaths());
    HostConfig config;
    config.engine = "sqlite";
    config.database = path;
    return OpenImportConnection(config);
}

// A registration or a company with documents booked under it stays: the
// documents would lose the state and the books they are kept in.
TEST(CompanyRegisterTest, DocumentsKeepTheirRegistrationAndCompany)
{
    ImportTarget target(kImportSqlite);
    auto db = openDemoCopy(target);
    const struct {
        const char *what;
        std::function<void()> remove;
        const char *message;
    } rows[] = {
        {"a registration", [&] { RemoveRegistration(*db, "01", "110042490114"); }, "A inscrição estadual 110042490114 da empresa 01 tem "},
        {"a company", [&] { RemoveCompany(*db, "01"); }, "A empresa 01 tem "},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.what);
        try {
            r.remove();
            ADD_FAILURE() << "removed";
        } catch (const Exception &e) {
            EXPECT_EQ(e.Message().find(r.message), 0u) << e.Message();
        }
        EXPECT_EQ(One(*db, "SELECT CDINSCESTA FROM INSCRESTAD WHERE CDEMPRESA = '01' AND CDINSCESTA = '110042490114'"),
                  "110042490114");
    }
    // Without documents a registration goes.
    RegisterCompany(*db, {"97", "Noventa e Sete", "99999993", "RJ", "", "", ""});
    EXPECT_NO_THROW(RemoveRegistration(*db, "97", "99999993"));
    EXPECT_EQ(One(*db, "SELECT CDINSCESTA FROM INSCRESTAD WHERE CDINSCESTA = '99999993'"), "");
}

// What the register refuses outright, and what it only warns about, on the
// demo database's branches.
TEST(CompanyRegisterTest, RefusalsAndWarnings)
{
    ImportTarget target(kImportSqlite);
    auto db = openDemoCopy(target);
    const struct {
        const char *what;
        CompanyRegistration company;
        const char *refusal;  // a part of the message; nullptr: kept
        const char *warning;  // a part of RegistrationWarning's; "" for none
    } rows[] = {
        {"an unknown activity", {"97", "N", "99999993", "RJ", "", "X", ""}, "Atividade desconhecida: 'X'", ""},
        {"another company's branch", {"97", "N", "99999993", "RJ", "", "", "0001"}, "A filial 0001 é da empresa 01",
         "fica em SP"},
        {"a branch code too long", {"97", "N", "99999993", "RJ", "", "", "00001"}, "até 4 caracteres", "não está cadastrada"},
        {"a branch in another state", {"01", "N", "99999993", "RJ", "", "C", "0001"}, nullptr,
         "A filial 0001 fica em SP; a inscrição é de RJ."},
        {"a branch the register lacks", {"02", "N", "251040852", "SC", "", "", "7777"}, nullptr,
         "A filial 7777 não está cadastrada."},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.what);
        const std::string warning =
            RegistrationWarning(*db, r.company.taxId, r.company.registration, r.company.state, r.company.branch);
        EXPECT_NE(warning.find(r.warning), std::string::npos) << warning;
        EXPECT_EQ(warning.empty(), std::string(r.warning).empty()) << warning;
        try {
            RegisterCompany(*db, r.company);
            EXPECT_EQ(r.refusal, nullptr) << "kept";
        } catch (const Exception &e) {
            ASSERT_NE(r.refusal, nullptr) << e.Message();
            EXPECT_NE(e.Message().find(r.refusal), std::string::npos) << e.Message();
        }
    }
    EXPECT_EQ(One(*db, "SELECT CDFILIAL FROM INSCRESTAD WHERE CDINSCESTA = '251040852'"), "7777");
    EXPECT_EQ(One(*db, "SELECT IDATIVIDADE FROM EMPRESAATIVIDADE WHERE CDEMPRESA = '01'"), "C");
    EXPECT_EQ(One(*db, "SELECT CDEMPRESA FROM EMPRESA WHERE CDEMPRESA = '97'"), "");
}

} // namespace
