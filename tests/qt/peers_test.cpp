// Widgets mirror small model forms, and a person's input reaches the model.
#include "qt_fixture.h"
#include "rtl/sysutils.h"
#include "vcl/headless.h"
#include "vcl/stdctrls.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

class PeersTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        InitializeApplication();
        ws = &InstallScripted();
        form = new TForm(Application);
        form->SetBounds(10, 10, 300, 200);
    }
    void TearDown() override
    {
        delete form;
        Settle();
        SetWidgetSet(std::make_unique<HeadlessWidgetSet>());
        FinalizeApplication();
    }
    template <class T>
    T *Add(const char *name, int top, TWinControl *parent = nullptr)
    {
        auto *c = new T(form);
        c->SetName(name);
        c->SetParent(parent ? parent : form);
        c->SetBounds(8, top, 120, 21);
        return c;
    }
    void Show()
    {
        Application->RunUserAction([this] { form->Show(); });
        ws->Sync();
        Settle();
    }
    QWidget *Focused() const { return QtWidgetSet::WidgetOf(*form)->window()->focusWidget(); }

    ScriptedQtWidgetSet *ws = nullptr;
    TForm *form = nullptr;
};

TEST_F(PeersTest, WidgetsFollowModelChangesMadeAfterShow)
{
    auto *label = Add<TLabel>("lbl", 4);
    auto *edit = Add<TEdit>("edt", 30);
    auto *combo = Add<TComboBox>("cbb", 60);
    Show();

    label->SetCaption("&Empresa");
    edit->SetText("abc");
    edit->SetColor(clInfoBk);
    edit->SetEnabled(false);
    edit->SetBounds(20, 40, 90, 23);
    combo->SetItems({"Entrada", "Saída"});
    combo->SetItemIndex(1);
    label->SetVisible(false);

    EXPECT_EQ(WidgetFor<QLabel>(*label)->text(), "Empresa");
    EXPECT_TRUE(WidgetFor(*label)->isHidden());
    auto *line = WidgetFor<QLineEdit>(*edit);
    EXPECT_EQ(line->text(), "abc");
    EXPECT_FALSE(line->isEnabled());
    EXPECT_EQ(line->geometry(), QRect(20, 40, 90, 23));
    // The model's colour for when it can be used; disabled, it looks it.
    EXPECT_EQ(line->palette().color(QPalette::Active, QPalette::Base), QtColor(clInfoBk));
    EXPECT_EQ(line->palette().color(QPalette::Disabled, QPalette::Base),
              QApplication::palette(line).color(QPalette::Disabled, QPalette::Base));
    auto *box = WidgetFor<QComboBox>(*combo);
    ASSERT_EQ(box->count(), 2);
    EXPECT_EQ(box->currentText(), QString::fromUtf8("Saída"));
}

TEST_F(PeersTest, DisablingAContainerDisablesItsChildrenWidgets)
{
    auto *group = Add<TGroupBox>("grb", 4);
    group->SetBounds(4, 4, 200, 100);
    auto *radio = Add<TRadioButton>("rdb", 20, group);
    Show();
    group->SetEnabled(false);
    // The model's own flag stays set; only the parent chain makes it unusable.
    EXPECT_TRUE(radio->Enabled());
    EXPECT_FALSE(WidgetFor(*radio)->isEnabled());
}

TEST_F(PeersTest, ControlsCreatedAfterShowGetWidgetsOnTheNextAction)
{
    Show();
    TEdit *late = nullptr;
    ws->Run([&] {
        late = Add<TEdit>("late", 80);
        late->SetText("new");
    });
    ASSERT_NE(WidgetFor<QLineEdit>(*late), nullptr);
    EXPECT_EQ(WidgetFor<QLineEdit>(*late)->text(), "new");
}

TEST_F(PeersTest, KeysGoThroughTheModel)
{
    auto *edit = Add<TEdit>("edt", 4);
    edit->SetMaxLength(3);
    edit->SetCharCase(ecUpperCase);
    int changes = 0;
    edit->OnChange = [&](TObject *) { ++changes; };
    Show();
    auto *line = WidgetFor<QLineEdit>(*edit);
    ASSERT_EQ(form->ActiveControl(), nullptr);
    ws->Run([&] { edit->SetFocus(); });

    QTest::keyClicks(line, "abcd");  // the model's length and case rules apply
    EXPECT_EQ(edit->Text(), "ABC");
    EXPECT_EQ(line->text(), "ABC");
    EXPECT_EQ(changes, 3);

    QTest::keyClick(line, Qt::Key_Backspace);  // the character before the model's caret
    EXPECT_EQ(edit->Text(), "AB");
    EXPECT_EQ(line->cursorPosition(), edit->CaretPos());
    line->selectAll();  // a person's selection reaches the model
    QTest::keyClick(line, Qt::Key_Backspace);
    EXPECT_EQ(edit->Text(), "");
    EXPECT_EQ(line->text(), "");
}

TEST_F(PeersTest, KeysForAnEditWithoutTheModelFocusAreDropped)
{
    auto *first = Add<TEdit>("first", 4);
    auto *second = Add<TEdit>("second", 30);
    Show();
    ws->Run([&] { first->SetFocus(); });
    QTest::keyClicks(WidgetFor(*second), "x");
    EXPECT_EQ(second->Text(), "");
    EXPECT_EQ(WidgetFor<QLineEdit>(*second)->text(), "");
}

TEST_F(PeersTest, TabAndShiftTabMoveTheModelFocusAndQtFollows)
{
    auto *a = Add<TEdit>("a", 4);
    auto *b = Add<TEdit>("b", 30);
    auto *c = Add<TComboBox>("c", 60);
    a->SetTabOrder(0);
    b->SetTabOrder(1);
    c->SetTabOrder(2);
    Show();
    ws->Run([&] { a->SetFocus(); });

    QTest::keyClick(WidgetFor(*a), Qt::Key_Tab);
    EXPECT_EQ(form->ActiveControl(), b);
    EXPECT_EQ(Focused(), WidgetFor(*b));
    QTest::keyClick(WidgetFor(*b), Qt::Key_Tab);
    EXPECT_EQ(form->ActiveControl(), c);
    QTest::keyClick(WidgetFor(*c), Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(form->ActiveControl(), b);
    EXPECT_EQ(Focused(), WidgetFor(*b));
}

TEST_F(PeersTest, AMouseClickIntoAnEditAsksTheModelWhichMayRefuse)
{
    auto *a = Add<TEdit>("a", 4);
    auto *b = Add<TEdit>("b", 30);
    bool refuse = true;
    a->OnExit = [&](TObject *) {
        if (refuse)
            throw Exception("Empresa deve ser informada.");
    };
    Show();
    ws->Run([&] { a->SetFocus(); });

    QTest::mouseClick(WidgetFor(*b), Qt::LeftButton);
    Settle();
    EXPECT_EQ(form->ActiveControl(), a);
    EXPECT_EQ(Focused(), WidgetFor(*a));
    ASSERT_EQ(ws->messages.size(), 1u);

    refuse = false;
    QTest::mouseClick(WidgetFor(*b), Qt::LeftButton);
    Settle();
    EXPECT_EQ(form->ActiveControl(), b);
}

TEST_F(PeersTest, AToolButtonClickRunsItsEventAndLeavesTheFocus)
{
    auto *edit = Add<TEdit>("edt", 4);
    auto *other = Add<TEdit>("other", 30);
    auto *button = Add<TSpeedButton>("sbt", 60);
    int clicks = 0;
    button->OnClick = [&](TObject *) { ++clicks; };
    Show();
    ws->Run([&] { other->SetFocus(); });

    QTest::mouseClick(WidgetFor(*button), Qt::LeftButton);
    Settle();
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(form->ActiveControl(), other);
    EXPECT_EQ(WidgetFor(*button)->focusPolicy(), Qt::NoFocus);
    (void)edit;
}

TEST_F(PeersTest, RadioClicksCheckThroughTheModel)
{
    auto *first = Add<TRadioButton>("first", 4);
    auto *second = Add<TRadioButton>("second", 30);
    first->SetCaption("Todos");
    second->SetCaption("Lista");
    first->SetChecked(true);
    int clicks = 0;
    first->OnClick = [&](TObject *) { ++clicks; };
    Show();
    auto *q1 = WidgetFor<QRadioButton>(*first);
    auto *q2 = WidgetFor<QRadioButton>(*second);

    QTest::mouseClick(q2, Qt::LeftButton);
    Settle();
    EXPECT_TRUE(second->Checked());
    EXPECT_FALSE(first->Checked());
    EXPECT_TRUE(q2->isChecked());
    EXPECT_FALSE(q1->isChecked());

    // A second click on the checked one keeps it checked, and still runs its event.
    QTest::mouseClick(q1, Qt::LeftButton);
    QTest::mouseClick(q1, Qt::LeftButton);
    Settle();
    EXPECT_EQ(clicks, 2);
    EXPECT_TRUE(first->Checked());
    EXPECT_TRUE(q1->isChecked());
}

TEST_F(PeersTest, AComboPickRunsTheModelChangeEventEvenForTheSameEntry)
{
    auto *combo = Add<TComboBox>("cbb", 4);
    combo->SetItems({"Entrada", "Saída", "Ambos"});
    combo->SetItemIndex(0);
    auto *edit = Add<TEdit>("edt", 30);
    edit->SetText("serie");
    int changes = 0;
    combo->OnChange = [&](TObject *) {
        ++changes;
        edit->Clear();
    };
    Show();
    auto *box = WidgetFor<QComboBox>(*combo);

    emit box->activated(2);
    EXPECT_EQ(combo->ItemIndex(), 2);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(WidgetFor<QLineEdit>(*edit)->text(), "");
    EXPECT_EQ(box->currentIndex(), 2);

    emit box->activated(2);
    EXPECT_EQ(changes, 2);
}

TEST_F(PeersTest, AComboShowsTheModelWhenTheChangeEventRefusesThePick)
{
    auto *combo = Add<TComboBox>("cbb", 4);
    combo->SetItems({"Entrada", "Saída"});
    combo->SetItemIndex(0);
    combo->OnChange = [&](TObject *) {
        combo->SetItemIndex(0);
        throw Exception("Não permitido.");
    };
    Show();
    auto *box = WidgetFor<QComboBox>(*combo);
    box->setCurrentIndex(1);  // what Qt does itself before it reports the pick
    emit box->activated(1);
    EXPECT_EQ(box->currentIndex(), 0);
    EXPECT_EQ(ws->messages, std::vector<std::string>{"Não permitido."});
}

TEST_F(PeersTest, AFormReleasedByAClickGoesWithItsWidgets)
{
    auto *button = Add<TSpeedButton>("sbtClose", 4);
    form->OnClose = [](TObject *, TCloseAction &action) { action = caFree; };
    button->OnClick = [this](TObject *) { form->Close(); };
    Show();
    QPointer<QWidget> window = QtWidgetSet::WidgetOf(*form);
    QPointer<QWidget> tool = WidgetFor(*button);

    QTest::mouseClick(tool, Qt::LeftButton);
    form = nullptr;  // released by the model
    EXPECT_TRUE(Application->Children().empty());
    Settle();
    EXPECT_TRUE(window.isNull());
    EXPECT_TRUE(tool.isNull());
}

TEST_F(PeersTest, ClosingTheWindowAsksTheModel)
{
    bool asked = false;
    form->OnClose = [&](TObject *, TCloseAction &action) {
        asked = true;
        action = caNone;
    };
    Show();
    QWidget *window = QtWidgetSet::WidgetOf(*form);
    window->close();
    EXPECT_TRUE(asked);
    EXPECT_TRUE(form->Visible());
    EXPECT_TRUE(window->isVisible());
}

TEST_F(PeersTest, BusyCursorNests)
{
    ws->ShowBusy(true);
    ws->ShowBusy(true);
    ws->ShowBusy(false);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    ws->ShowBusy(false);
    ws->ShowBusy(false);  // one too many is harmless
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(QtMapping, Captions)
{
    const std::pair<const char *, const char *> cases[] = {
        {"&Empresa", "Empresa"}, {"P&&D", "P&D"}, {"", ""}, {"Fim&", "Fim"}, {"Série", "Série"},
    };
    for (const auto &[in, out] : cases)
        EXPECT_EQ(QtCaption(in), QString::fromUtf8(out)) << in;
}

TEST(QtMapping, Colours)
{
    const std::pair<TColor, QColor> cases[] = {
        {clWhite, QColor(255, 255, 255)},
        {clBlack, QColor(0, 0, 0)},
        {clBlue, QColor(0, 0, 255)},  // the model stores blue in the high byte
        {clRed, QColor(255, 0, 0)},
        {0x00336699, QColor(0x99, 0x66, 0x33)},
        {clWindow, QApplication::palette().color(QPalette::Base)},
        {clBtnFace, QApplication::palette().color(QPalette::Window)},
    };
    for (const auto &[in, out] : cases)
        EXPECT_EQ(QtColor(in), out) << std::hex << in;
    EXPECT_NE(QtColor(clInfoBk), QtColor(clWindow));
}

} // namespace
