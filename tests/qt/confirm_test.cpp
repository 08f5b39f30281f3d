// The desktop's yes/no question: No is what a hurried key gives.
#include "qt_fixture.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

// The button whose accelerator is Alt+key, as the key would press it; the
// box is closed unanswered when there is none.
void PressAccelerator(QMessageBox &box, Qt::Key key)
{
    for (QAbstractButton *button : box.buttons())
        if (button->shortcut() == QKeySequence(Qt::ALT | key)) {
            button->animateClick();
            return;
        }
    ADD_FAILURE() << "no button answers Alt+" << QKeySequence(key).toString().toStdString();
    box.reject();
}

TEST(ConfirmTest, NoIsTheDefaultAndYesMustBeChosen)
{
    InstallScripted();
    struct Case {
        const char *what;
        std::function<void(QMessageBox &)> answer;
        bool confirmed;
    } cases[] = {
        {"Enter", [](QMessageBox &b) { QTest::keyClick(&b, Qt::Key_Return); }, false},
        {"Esc", [](QMessageBox &b) { QTest::keyClick(&b, Qt::Key_Escape); }, false},
        {"Sim", [](QMessageBox &b) {
             for (QAbstractButton *button : b.buttons())
                 if (button->text() == QStringLiteral("&Sim"))
                     button->click();
         }, true},
        // The accelerators, as on any desktop.
        {"Alt+S", [](QMessageBox &b) { PressAccelerator(b, Qt::Key_S); }, true},
        {"Alt+N", [](QMessageBox &b) { PressAccelerator(b, Qt::Key_N); }, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        QStringList buttons;
        QTimer::singleShot(0, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            for (QAbstractButton *b : box->buttons())
                buttons << b->text();
            c.answer(*box);
        });
        // The scripted widget set answers messages itself, not questions.
        EXPECT_EQ(WidgetSet().Confirm("Descartar as alterações?"), c.confirmed);
        EXPECT_EQ(buttons.size(), 2);
        EXPECT_TRUE(buttons.contains(QStringLiteral("&Sim")));
        EXPECT_TRUE(buttons.contains(QStringLiteral("&Não")));
    }
}

} // namespace
