// The desktop action's dialog, offscreen: an import runs on its thread while
// the progress moves, its result is shown, and the demo copy asks first.
#include "import_dialog.h"
#include "import_target.h"
#include "nfe_builder.h"
#include "qt_fixture.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

HostConfig configFor(const ImportTarget &)
{
    HostConfig c;
    c.engine = "sqlite";
    return c;
}

TEST(ImportDialog, ImportsOnItsThreadAndShowsTheResult)
{
    ImportTarget target(kImportSqlite);
    HostConfig config = configFor(target);
    config.database = target.Dir() + "/own.sqlite";
    std::vector<std::string> paths;
    for (int i = 1; i <= 30; ++i) {
        TestNfe n;
        n.number = i;
        paths.push_back(target.Write("d/" + std::to_string(i) + ".xml", n.Xml()));
    }
    ImportDialog dialog(config, false);
    dialog.show();
    ASSERT_TRUE(dialog.Start({target.Dir() + "/d"}));
    QElapsedTimer clock;
    clock.start();
    while ((dialog.Running() || dialog.ResultText().isEmpty()) && clock.elapsed() < 30000)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_TRUE(dialog.ResultText().contains(QStringLiteral("Documentos importados: 30"))) << dialog.ResultText().toStdString();
    if (const char *shot = std::getenv("FIS_IMPORT_SHOT"))
        dialog.grab().save(QString::fromUtf8(shot));
}

void waitFor(const ImportDialog &dialog)
{
    QElapsedTimer clock;
    clock.start();
    while ((dialog.Running() || dialog.ResultText().isEmpty()) && clock.elapsed() < 30000)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
}

TEST(ImportDialog, HomologationIsRefusedUnlessTheBoxIsTicked)
{
    ImportTarget target(kImportSqlite);
    HostConfig config = configFor(target);
    config.database = target.Dir() + "/own.sqlite";
    TestNfe trial;
    trial.environment = 2;
    const std::string file = target.Write("h/trial.xml", trial.Xml());
    for (bool tick : {false, true}) {
        ImportDialog dialog(config, false);
        auto *box = dialog.findChild<QCheckBox *>();
        ASSERT_NE(box, nullptr);
        EXPECT_FALSE(box->isChecked()) << "off by default";
        box->setChecked(tick);
        EXPECT_EQ(dialog.EntryDateChoice().rule, EntryDateRule::Exit);
        ASSERT_TRUE(dialog.Start({file}));
        waitFor(dialog);
        const std::string text = dialog.ResultText().toStdString();
        EXPECT_NE(text.find(tick ? "Documentos importados: 1" : "sem valor fiscal"), std::string::npos) << text;
        EXPECT_TRUE(dialog.ResultCsv().contains(tick ? QStringLiteral(";importado;") : QStringLiteral(";recusado;")))
            << dialog.ResultCsv().toStdString();
    }
}

TEST(ImportDialog, TheDemoCopyAsksBeforeImporting)
{
    HostConfig config;
    config.database = "/tmp/demo.sqlite";
    ImportDialog dialog(config, true);
    QString asked;
    QTimer::singleShot(100, [&asked] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            asked = box->text();
            box->button(QMessageBox::No)->click();
        }
    });
    EXPECT_FALSE(dialog.Start({"/nonexistent"}));
    EXPECT_TRUE(asked.contains(QStringLiteral("se perde quando o programa fechar"))) << asked.toStdString();
    EXPECT_FALSE(dialog.Running());
}

} // namespace
