// The real screen, loaded as fishost-qt loads it, inside a main window's MDI area.
#include "hostpkg.h"
#include "hostsetup.h"
#include "qt_fixture.h"
#include "vcl/headless.h"
#include "vcl/stdctrls.h"

#include <QLabel>
#include <QLineEdit>
#include <QSet>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

class ScreenQtTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        desktop = std::make_unique<DesktopHost>(HostConfig(), 800, 600);
        area = desktop->Area();
        ws = desktop->Widgets();
        screen = desktop->OpenScreen();
        ASSERT_NE(screen, nullptr);
    }
    void TearDown() override { desktop.reset(); }
    template <class T = TWinControl>
    T *Control(const char *name)
    {
        auto *c = dynamic_cast<T *>(screen->FindComponent(name));
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
    QWidget *QtFocus() const { return area->activeSubWindow() ? area->activeSubWindow()->focusWidget() : nullptr; }
    void Focus(TWinControl *c) { ws->Run([c] { c->SetFocus(); }); }

    std::unique_ptr<DesktopHost> desktop;
    QMdiArea *area = nullptr;
    ScriptedQtWidgetSet *ws = nullptr;
    TCustomForm *screen = nullptr;
};

TEST_F(ScreenQtTest, OpensAsASubWindowWithTheModelFocus)
{
    ASSERT_EQ(area->subWindowList().size(), 1);
    EXPECT_EQ(area->subWindowList().front()->windowTitle(), QString::fromUtf8("Resumo não Oficial de CFOp"));
    // The screen puts the focus on the tax code when it activates.
    EXPECT_EQ(screen->ActiveControl(), Control("medCdImposto"));
    EXPECT_EQ(QtFocus(), WidgetFor(*Control("medCdImposto")));
    EXPECT_TRUE(ws->messages.empty());
}

TEST_F(ScreenQtTest, TypingIntoTheCfopEditRunsItsMask)
{
    auto *cfop = Control<TMaskEdit>("medCFOp");
    Focus(cfop);
    auto *line = WidgetFor<QLineEdit>(*cfop);
    QTest::keyClicks(line, "5.102");
    EXPECT_EQ(line->text(), "5.102");
    EXPECT_EQ(cfop->Text(), "5102");
    // Letters have no place in it.
    QTest::keyClicks(line, "x");
    EXPECT_EQ(cfop->Text(), "5102");

    line->selectAll();
    QTest::keyClick(line, Qt::Key_Delete);
    EXPECT_EQ(cfop->Text(), "");
    EXPECT_EQ(line->text().toStdString(), cfop->DisplayText());
}

TEST_F(ScreenQtTest, TabFromTheCompanyEditMovesTheModelFocus)
{
    auto *company = Control<TMaskEdit>("medCdEmpresa");
    const auto order = screen->FocusOrder();
    auto at = std::find(order.begin(), order.end(), company);
    ASSERT_NE(at, order.end());
    TWinControl *next = (at + 1 == order.end()) ? order.front() : *(at + 1);

    Focus(company);
    QTest::keyClicks(WidgetFor(*company), "01");
    QTest::keyClick(WidgetFor(*company), Qt::Key_Tab);
    Settle();
    EXPECT_EQ(screen->ActiveControl(), next) << (screen->ActiveControl() ? screen->ActiveControl()->Name() : "none");
    EXPECT_EQ(QtFocus(), WidgetFor(*next));
}

TEST_F(ScreenQtTest, ALookupButtonClickOpensItsListAndNeverMovesTheFocus)
{
    auto *company = Control<TMaskEdit>("medCdEmpresa");
    Focus(company);
    auto *button = Control<TControl>("btpEmpresa");
    ASSERT_TRUE(button->IsUsable());
    QTest::mouseClick(WidgetFor(*button), Qt::LeftButton);
    Settle();
    EXPECT_EQ(ws->picks.size(), 1u);
    EXPECT_EQ(screen->ActiveControl(), company);
    EXPECT_EQ(QtFocus(), WidgetFor(*company));
}

// A click lands where the person sees the button: nothing drawn over it
// (the company's lies on the form, under the parameters' group box).
TEST_F(ScreenQtTest, EveryLookupButtonTakesTheClickAtItsCentre)
{
    QWidget *form = WidgetFor(*screen);
    for (const char *name : {"btpImposto", "btpEmpresa", "btpInscricao", "btpInscricaoM", "btnProdInic", "btnProdFin",
                             "btpSerieNF", "btnFiliOrig", "btnTpOperacao", "btnModDoc"}) {
        QWidget *button = WidgetFor(*Control<TControl>(name));
        ASSERT_NE(button, nullptr) << name;
        EXPECT_EQ(form->childAt(button->mapTo(form, button->rect().center())), button) << name;
    }
    auto *company = Control<TMaskEdit>("medCdEmpresa");
    Focus(company);
    QWidget *button = WidgetFor(*Control<TControl>("btpEmpresa"));
    const QPoint centre = button->mapTo(form, button->rect().center());
    QWidget *hit = form->childAt(centre);
    ASSERT_NE(hit, nullptr);
    QTest::mouseClick(hit, Qt::LeftButton, {}, hit->mapFrom(form, centre));
    Settle();
    EXPECT_EQ(ws->picks, std::vector<std::string>{"Empresa"});
}

// After a message the field to correct has the focus with all of its text
// selected: what the person types next replaces the wrong value.
TEST_F(ScreenQtTest, AfterAnErrorMessageTheFieldIsSelectedForRetyping)
{
    struct Case {
        const char *field;
        const char *typed;
        const char *leaveBy;  // "tab" or a button clicked
        const char *retyped;
        const char *text;  // the field's text after retyping
    } cases[] = {
        {"medCdImposto", "99", "tab", "01", "01"},
        {"medCdEmpresa", "99", "tab", "01", "01"},
        {"depDtInicial", "32132026", "tab", "01012026", "01/01/2026"},
        {"depDtInicial", "32132026", "sbtPreview", "01012026", "01/01/2026"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.field) + " left by " + c.leaveBy);
        if (std::string(c.field) != "medCdImposto") {
            Focus(Control("medCdImposto"));
            QTest::keyClicks(WidgetFor(*Control("medCdImposto")), "01");
            QTest::keyClick(WidgetFor(*Control("medCdImposto")), Qt::Key_Tab);
            Settle();
        }
        auto *edit = Control<TCustomEdit>(c.field);
        Focus(edit);
        auto *line = WidgetFor<QLineEdit>(*edit);
        line->selectAll();
        QTest::keyClicks(line, c.typed);
        ws->messages.clear();
        if (std::string(c.leaveBy) == "tab")
            QTest::keyClick(line, Qt::Key_Tab);
        else
            QTest::mouseClick(WidgetFor(*Control<TControl>(c.leaveBy)), Qt::LeftButton);
        Settle();
        ASSERT_FALSE(ws->messages.empty());
        ASSERT_EQ(screen->ActiveControl(), edit) << ws->messages.front();
        EXPECT_EQ(QtFocus(), line);
        EXPECT_EQ(edit->SelLength(), static_cast<int>(QString::fromStdString(edit->DisplayText()).size()));
        EXPECT_EQ(line->selectedText(), line->text());
        QTest::keyClicks(line, c.retyped);
        EXPECT_EQ(edit->DisplayText(), c.text);
    }
}

// What can be used looks it: a disabled field is drawn as the style draws
// one, only the focused edit shows a selection, captions share one size.
TEST_F(ScreenQtTest, StatesShowAsTheDesktopDrawsThem)
{
    for (const char *name : {"edtInscricao", "medProdInic", "edtCdSerie", "medFiliOrig"}) {
        SCOPED_TRACE(name);
        QWidget *w = WidgetFor(*Control(name));
        ASSERT_FALSE(w->isEnabled());
        const QPalette style = QApplication::palette(w);
        EXPECT_EQ(w->palette().color(QPalette::Disabled, QPalette::Base), style.color(QPalette::Disabled, QPalette::Base));
        EXPECT_NE(w->palette().color(QPalette::Disabled, QPalette::Base), QColor(Qt::white));
    }
    // Tab selects the whole of each edit it enters; only the one left with the focus shows it.
    Focus(Control("medCdImposto"));
    QTest::keyClicks(WidgetFor(*Control("medCdImposto")), "01");
    for (const char *name : {"medCdImposto", "medCdEmpresa", "depDtInicial"}) {
        Focus(Control(name));
        QTest::keyClick(WidgetFor(*Control(name)), Qt::Key_Tab);
        Settle();
    }
    int selected = 0;
    for (QLineEdit *line : WidgetFor(*screen)->findChildren<QLineEdit *>())
        if (line->hasSelectedText()) {
            ++selected;
            EXPECT_EQ(line, QtFocus()) << line->objectName().toStdString();
        }
    EXPECT_LE(selected, 1);
    // The product captions are designed a point larger; drawn like their neighbours.
    const QFont product = WidgetFor(*Control<TControl>("lblProdInic"))->font();
    const QFont company = WidgetFor(*Control<TControl>("lblEmpresa"))->font();
    EXPECT_EQ(product.pointSize(), company.pointSize());
    EXPECT_EQ(product.family(), company.family());
}

// Each caption underlines a letter of its own; Alt with it moves the focus
// to the field on its right, through the model.
TEST_F(ScreenQtTest, AltAndACaptionsLetterFocusesItsField)
{
    // Valid values, so that leaving a field never sends the focus back to it.
    for (auto [field, typed] : {std::pair{"medCdImposto", "01"}, {"medCdEmpresa", "01"}, {"depDtInicial", "01012026"},
                                {"depDtFinal", "31012026"}}) {
        Focus(Control(field));
        QTest::keyClicks(WidgetFor(*Control(field)), typed);
    }
    Focus(Control("medCdImposto"));
    Settle();
    ASSERT_TRUE(ws->messages.empty()) << ws->messages.front();
    QSet<QChar> letters;
    for (auto [label, field] : {std::pair{"lblImposto", "medCdImposto"}, {"lblEmpresa", "medCdEmpresa"},
                                {"Label2", "depDtInicial"}, {"Label3", "depDtFinal"}, {"Label4", "cbbEntrSaid"},
                                {"lblCFOP", "medCFOp"}}) {
        SCOPED_TRACE(label);
        auto *caption = WidgetFor<QLabel>(*Control<TControl>(label));
        ASSERT_NE(caption, nullptr);
        // Underlined, never shown as a bare '&'.
        const QString text = caption->text();
        EXPECT_EQ(caption->textFormat(), Qt::RichText);
        EXPECT_FALSE(text.contains(QLatin1Char('&'))) << text.toStdString();
        const qsizetype at = text.indexOf(QStringLiteral("<u>"));
        ASSERT_GE(at, 0) << text.toStdString();
        const QChar letter = text[at + 3].toUpper();
        EXPECT_FALSE(letters.contains(letter)) << "the letter is another caption's";
        letters.insert(letter);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(letter.unicode()), Qt::AltModifier);
        Settle();
        EXPECT_EQ(screen->ActiveControl(), Control(field))
            << "Alt+" << letter.toLatin1() << " went to " << screen->ActiveControl()->Name();
        EXPECT_EQ(QtFocus(), WidgetFor(*Control(field)));
    }
}

// A list the screen leaves untitled is named after the field it fills.
TEST_F(ScreenQtTest, AnUntitledListTakesItsFieldsCaption)
{
    Focus(Control("medCdEmpresa"));
    EXPECT_EQ(ws->ListTitle("Pesquisar"), "Empresa");
    EXPECT_EQ(ws->ListTitle("Tipos de operação"), "Tipos de operação");  // titled by the screen: as it is
    Focus(Control("depDtFinal"));
    EXPECT_EQ(ws->ListTitle("Pesquisar"), "Data Final");
}

// What is ticked in a multi-pick list shows beside its button, readable in
// its room, and in full as the hint of "Lista".
TEST_F(ScreenQtTest, TheTickedEntriesShowBesideTheirList)
{
    auto *reports = Control<TComboBox>("cbbReportNames");
    const auto &titles = reports->Items();
    const auto at = std::find(titles.begin(), titles.end(), "Relação de Notas Fiscais");
    ASSERT_NE(at, titles.end());
    ws->Run([reports, index = static_cast<int>(at - titles.begin())] { reports->PickItem(index); });
    struct Case {
        const char *radio, *button, *label;
        std::vector<std::string> keys;
        QString shown, hint;
    };
    for (const Case &c : {Case{"rdbListaMod", "btnModDoc", "lblListaMod", {"65", "01"}, "01, 65", "Marcados: 01, 65"},
                          Case{"rdbListaTp", "btnTpOperacao", "lblListaTp", {"S04", "E01"}, "(2)",
                               "Marcados: E01, S04"},
                          Case{"rdbListaTp", "btnTpOperacao", "lblListaTp", {"E02"}, "E02", "Marcados: E02"}}) {
        SCOPED_TRACE(c.label);
        auto *radio = Control<TRadioButton>(c.radio);
        QTest::mouseClick(WidgetFor(*radio), Qt::LeftButton);
        Settle();
        ASSERT_TRUE(radio->Checked());
        ws->ticks.push_back(c.keys);
        QTest::mouseClick(WidgetFor(*Control<TControl>(c.button)), Qt::LeftButton);
        Settle();
        auto *label = WidgetFor<QLabel>(*Control<TControl>(c.label));
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), c.shown);
        EXPECT_TRUE(label->isVisible());
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width());
        EXPECT_TRUE(label->parentWidget()->rect().contains(label->geometry()));
        EXPECT_EQ(label->toolTip(), c.hint);
        EXPECT_EQ(WidgetFor(*radio)->toolTip(), c.hint);
    }
    EXPECT_TRUE(ws->messages.empty());
}

TEST_F(ScreenQtTest, WidgetsMirrorTheScreenState)
{
    auto *entryExit = Control<TComboBox>("cbbEntrSaid");
    auto *box = WidgetFor(*entryExit);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->isEnabled(), entryExit->IsUsable());
    auto *name = Control<TEdit>("edtNmImposto");
    EXPECT_FALSE(WidgetFor(*name)->isEnabled());
    EXPECT_EQ(WidgetFor(*Control("medCdEmpresa"))->palette().color(QPalette::Base), QtColor(clInfoBk));
}

TEST_F(ScreenQtTest, PrintingGoesThroughThePrintCommandOrSaysWhereTheFileIs)
{
    const std::string pdf = "/tmp/relatorio de teste.pdf";
    struct Case {
        const char *command;
        std::string error;  // "" when the command starts
    } cases[] = {
        {"true", ""},
        {"true --with an-argument", ""},
        {"", "Não há impressora configurada. O relatório foi gravado em '" + pdf + "'."},
        {"/nao/existe/lp", "Não foi possível enviar o relatório à impressora. O relatório foi gravado em '" + pdf + "'."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.command);
        MutableHostSettings().printCommand = c.command;
        std::string error;
        try {
            ws->QtWidgetSet::PrintDocument(pdf);
        } catch (const Exception &e) {
            error = e.Message();
        }
        EXPECT_EQ(error, c.error);
    }
}

} // namespace
