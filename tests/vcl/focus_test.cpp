// Focus moves, exit events, redirection and cancellation.
#include "form_fixture.h"
#include "vcl/forms.h"
#include "vcl/headless.h"
#include "vcl/stdctrls.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

class FocusForm : public TForm {
public:
    using TForm::TForm;
    TEdit *a = nullptr;
    TEdit *b = nullptr;
    TEdit *c = nullptr;
    TGroupBox *group = nullptr;
    TEdit *inGroup = nullptr;
    TSpeedButton *tool = nullptr;
    std::vector<std::string> log;
    // What each control's exit event does: nothing, redirect, raise...
    std::map<std::string, std::function<void(TEdit *)>> onExit;

protected:
    void BuildForm() override
    {
        a = make("a", 0);
        b = make("b", 1);
        c = make("c", 2);
        group = new TGroupBox(this);
        group->SetName("group");
        group->SetParent(this);
        group->SetTabOrder(3);
        inGroup = new TEdit(this);
        inGroup->SetName("inGroup");
        inGroup->SetParent(group);
        inGroup->OnExit = [this](TObject *s) { exit(static_cast<TEdit *>(s)); };
        tool = new TSpeedButton(this);
        tool->SetParent(this);
        tool->OnClick = [this](TObject *) { log.push_back("click with focus on " + ActiveControl()->Name()); };
        SetActiveControl(a);
    }

private:
    TEdit *make(const char *name, int tab)
    {
        auto *e = new TEdit(this);
        e->SetName(name);
        e->SetParent(this);
        e->SetTabOrder(tab);
        e->OnExit = [this](TObject *s) { exit(static_cast<TEdit *>(s)); };
        return e;
    }
    void exit(TEdit *e)
    {
        log.push_back("exit " + e->Name());
        if (auto it = onExit.find(e->Name()); it != onExit.end())
            it->second(e);
    }
};

using FocusTest = FormTest<FocusForm>;

struct MoveCase {
    const char *name;
    std::function<void(FocusForm &)> arrange;  // sets exit behaviour
    const char *to;
    const char *expectFocus;
    std::vector<std::string> expectLog;
    bool expectThrow;
};

TEST_F(FocusTest, MovesRunTheExitEventOnceWhoeverAsks)
{
    const std::vector<MoveCase> cases = {
        {"plain move", [](FocusForm &) {}, "b", "b", {"exit a"}, false},
        {"move to the focused control does nothing", [](FocusForm &) {}, "a", "a", {}, false},
        {"exit redirects the move", [](FocusForm &f) { f.onExit["a"] = [&f](TEdit *) { f.c->SetFocus(); }; },
         "b", "c", {"exit a"}, false},
        {"exit sends the focus back to itself (a failed check)",
         [](FocusForm &f) { f.onExit["a"] = [](TEdit *e) { e->SetFocus(); }; }, "b", "a", {"exit a"}, false},
        {"exit raises without redirect: the move is cancelled",
         [](FocusForm &f) { f.onExit["a"] = [](TEdit *) { throw Exception("bad"); }; }, "b", "a", {"exit a"}, true},
        {"exit redirects then raises: the move ends at the redirect",
         [](FocusForm &f) {
             f.onExit["a"] = [&f](TEdit *) {
                 f.c->SetFocus();
                 throw EAbort();
             };
         },
         "b", "c", {"exit a"}, true},
        {"redirect inside exit never runs that exit again",
         [](FocusForm &f) {
             f.onExit["a"] = [&f](TEdit *) {
                 f.b->SetFocus();
                 f.c->SetFocus();
             };
         },
         "b", "c", {"exit a"}, false},
    };
    for (const auto &tc : cases) {
        TearDown();
        SetUp();
        tc.arrange(*form);
        auto *to = dynamic_cast<TWinControl *>(form->FindComponent(tc.to));
        bool threw = false;
        try {
            to->SetFocus();
        } catch (const Exception &) {
            threw = true;
        }
        EXPECT_EQ(focused(), tc.expectFocus) << tc.name;
        EXPECT_EQ(form->log, tc.expectLog) << tc.name;
        EXPECT_EQ(threw, tc.expectThrow) << tc.name;
    }
}

TEST_F(FocusTest, TabFollowsTabOrderAndEntersGroups)
{
    form->SelectNext();
    EXPECT_EQ(focused(), "b");
    form->SelectNext();
    form->SelectNext();
    EXPECT_EQ(focused(), "inGroup");
    form->SelectNext();
    EXPECT_EQ(focused(), "a");
    EXPECT_EQ(form->log, (std::vector<std::string>{"exit a", "exit b", "exit c", "exit inGroup"}));
}

TEST_F(FocusTest, ControlsThatCannotTakeTheFocus)
{
    form->group->SetEnabled(false);
    EXPECT_TRUE(form->inGroup->Enabled());  // its own property is unchanged
    EXPECT_FALSE(form->inGroup->CanFocus());
    EXPECT_THROW(form->inGroup->SetFocus(), EInvalidOperation);
    form->SelectNext();
    form->SelectNext();
    form->SelectNext();
    EXPECT_EQ(focused(), "a");  // the disabled group is skipped
    EXPECT_FALSE(form->group->CanFocus());
}

TEST_F(FocusTest, DisablingTheFocusedControlDropsTheFocusWithoutExit)
{
    form->b->SetFocus();
    form->log.clear();
    form->b->SetEnabled(false);
    EXPECT_EQ(form->ActiveControl(), nullptr);
    EXPECT_TRUE(form->log.empty());
    form->c->SetFocus();
    EXPECT_TRUE(form->log.empty());  // nobody had the focus, so no exit
}

TEST_F(FocusTest, DeactivationRunsNoExitAndTheFormRemembersItsControl)
{
    form->b->SetFocus();
    form->log.clear();
    TForm *other = nullptr;
    Application->CreateForm(other);
    other->Show();
    EXPECT_FALSE(form->Active());
    form->Show();
    EXPECT_TRUE(form->Active());
    EXPECT_EQ(focused(), "b");
    EXPECT_TRUE(form->log.empty());
    delete other;
}

TEST_F(FocusTest, ToolButtonsLeaveTheFocusWhereItIs)
{
    form->b->SetFocus();
    form->tool->Click();
    EXPECT_EQ(form->log.back(), "click with focus on b");
}

TEST_F(FocusTest, UserActionShowsErrorsAndSwallowsSilentAborts)
{
    auto *ws = HeadlessWidgets();
    Application->RunUserAction([] { throw EAbort(); });
    EXPECT_TRUE(ws->messages.empty());
    Application->RunUserAction([] { throw Exception("Falhou."); });
    ASSERT_EQ(ws->messages.size(), 1u);
    EXPECT_EQ(ws->messages.front().text, "Falhou.");
}

TEST(ReleaseTest, ReleaseDestroysTheFormOnlyWhenTheQueueIsDrained)
{
    InitializeApplication();
    struct Probe : TForm {
        using TForm::TForm;
        bool *alive = nullptr;
        ~Probe() override { *alive = false; }
    };
    bool alive = true;
    Probe *form = nullptr;
    Application->CreateForm(form);
    form->alive = &alive;
    form->Show();
    form->OnClose = [form](TObject *, TCloseAction &) { form->Release(); };
    Application->RunUserAction([form, &alive] {
        form->Close();
        EXPECT_TRUE(alive) << "released from inside its own handler";
    });
    EXPECT_FALSE(alive);
    EXPECT_TRUE(Application->Children().empty());
    FinalizeApplication();
}

// Enter goes on as Tab does; a caption's key enters as Tab does: either way
// the edit so entered has its text selected, and typing replaces it. An
// exit check that keeps the focus keeps it from both.
TEST_F(FocusTest, EnterAndACaptionKeyEnterAsTabDoes)
{
    struct Case {
        const char *name;
        std::function<bool(FocusForm &)> act;  // what the key does; true when used
        const char *expectFocus;
        bool selected;  // the entered edit's text all selected
    } cases[] = {
        {"Enter", [](FocusForm &f) { return f.KeyDown(TKey::Enter, ssNone); }, "b", true},
        {"Shift+Enter is nobody's", [](FocusForm &f) { return f.KeyDown(TKey::Enter, ssShift); }, "a", false},
        {"a caption's key", [](FocusForm &f) { return f.EnterControl(f.c); }, "c", true},
        {"a caption's key on the focused edit", [](FocusForm &f) { return f.EnterControl(f.a); }, "a", true},
        {"an exit check that keeps the focus",
         [](FocusForm &f) {
             f.onExit["a"] = [](TEdit *e) { e->SetFocus(); };
             return f.EnterControl(f.c);
         },
         "a", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        for (TEdit *e : {form->a, form->b, form->c})
            e->SetText("31/03/2026");
        form->a->SetSelection(10, 10);
        c.act(*form);
        EXPECT_EQ(focused(), c.expectFocus);
        auto *edit = dynamic_cast<TEdit *>(form->ActiveControl());
        ASSERT_NE(edit, nullptr);
        EXPECT_EQ(edit->SelLength() == 10, c.selected);
    }
}

TEST(ButtonKeysTest, EnterPressesAFocusedButton)
{
    TButton button(nullptr);
    int clicks = 0;
    button.OnClick = [&clicks](TObject *) { ++clicks; };
    EXPECT_TRUE(button.KeyDown(TKey::Enter, ssNone));
    EXPECT_FALSE(button.KeyDown(TKey::Enter, ssCtrl));
    EXPECT_FALSE(button.KeyDown(TKey::Space, ssNone));
    EXPECT_EQ(clicks, 1);
}

} // namespace
