// The keyboard in the model: edits with their caret and selection, radio
// groups as one tab stop, and the lookup key.
#include "form_fixture.h"
#include "vcl/forms.h"
#include "vcl/headless.h"
#include "vcl/stdctrls.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

struct Owner : TComponent {
    Owner() : TComponent(nullptr) {}
};

void typeAll(TCustomEdit &e, const std::u32string &keys)
{
    for (char32_t k : keys)
        e.TypeKey(k);
}

// One edit, one script of keys, what it must show afterwards.
struct EditRow {
    const char *name;
    const char *mask;  // "" for a plain edit
    const char *start;
    std::function<void(TCustomEdit &)> keys;
    const char *text;
    int caret;
    int selStart, selLength;
};

const EditRow kEditRows[] = {
    {"PlainInsertsAtCaret", "", "abc", [](TCustomEdit &e) { e.KeyDown(TKey::End, ssNone); e.KeyDown(TKey::Left, ssNone); typeAll(e, U"X"); },
     "abXc", 3, 3, 0},
    {"PlainShiftHomeSelectsThenTypeReplaces", "", "abc",
     [](TCustomEdit &e) { e.KeyDown(TKey::End, ssNone); e.KeyDown(TKey::Left, ssShift); typeAll(e, U"Z"); }, "abZ", 3, 3, 0},
    {"PlainBackspaceAndDelete", "", "abcd",
     [](TCustomEdit &e) { e.SetSelection(2, 2); e.Backspace(); e.KeyDown(TKey::Delete, ssNone); }, "ad", 1, 1, 0},
    {"PlainCtrlASelectsEverything", "", "abc", [](TCustomEdit &e) { e.KeyDown(TKey::A, ssCtrl); }, "abc", 3, 0, 3},
    {"PlainControlCharactersNeverGetIn", "", "", [](TCustomEdit &e) { typeAll(e, U"A\x01" "B\x1b"); e.Paste("C\tD\n"); },
     "ABCD", 4, 4, 0},
    {"MaskedRetypeOverSelectionKeepsEveryKey", "9.999;0; ", "1",
     [](TCustomEdit &e) { e.SelectAll(); typeAll(e, U"1102"); }, "1102", 5, 5, 0},
    {"MaskedBackspaceStepsOverLiteral", "9.999;0; ", "5102",
     [](TCustomEdit &e) { e.SetSelection(2, 2); e.Backspace(); e.Backspace(); }, "102", 0, 0, 0},
    {"MaskedSelectionTypedOverBlanksOnlyIt", "99/99/9999;1; ", "31/12/2025",
     [](TCustomEdit &e) { e.SetSelection(3, 5); typeAll(e, U"0"); }, "31/0 /2025", 4, 4, 0},
    {"MaskedCtrlAThenDelete", "99/99/9999;1; ", "10/12/2024",
     [](TCustomEdit &e) { e.KeyDown(TKey::A, ssCtrl); e.KeyDown(TKey::Delete, ssNone); }, "", 0, 0, 0},
    {"MaskedPasteSkipsControlCharacters", "99/99/9999;1; ", "",
     [](TCustomEdit &e) { e.Paste("01\x01/02/2026\r\n"); }, "01/02/2026", 10, 10, 0},
};

void PrintTo(const EditRow &r, std::ostream *os) { *os << r.name; }

class EditKeys : public ::testing::TestWithParam<EditRow> {};

TEST_P(EditKeys, TextCaretAndSelectionLiveInTheModel)
{
    const EditRow &r = GetParam();
    Owner owner;
    auto *edit = new TMaskEdit(&owner);
    edit->SetEditMask(r.mask);
    edit->SetText(r.start);
    r.keys(*edit);
    EXPECT_EQ(edit->Text(), r.text);
    EXPECT_EQ(edit->CaretPos(), r.caret);
    EXPECT_EQ(edit->SelStart(), r.selStart);
    EXPECT_EQ(edit->SelLength(), r.selLength);
}

INSTANTIATE_TEST_SUITE_P(Edits, EditKeys, ::testing::ValuesIn(kEditRows),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(EditOwnerTest, OneTextWhateverTheMaskDid)
{
    Owner owner;
    auto *edit = new TMaskEdit(&owner);
    edit->SetText("abc");
    edit->SetEditMask("99.99;1;_");
    edit->SetText("12.34");
    edit->SetEditMask("");
    EXPECT_EQ(edit->Text(), "12.34");
    EXPECT_EQ(edit->DisplayText(), "12.34");
}

TEST(EditOwnerTest, ControlCharactersSetFromCodeNeverGetIn)
{
    Owner owner;
    auto *edit = new TEdit(&owner);
    edit->SetText("A\x01" "B\x1b");
    EXPECT_EQ(edit->Text(), "AB");
}

TEST(EditOwnerTest, CaretMovesTellThePeerWithoutAChangeEvent)
{
    struct Counter : ControlPeer {
        std::vector<ControlProperty> seen;
        void Changed(ControlProperty what) override { seen.push_back(what); }
    };
    Owner owner;
    auto *edit = new TEdit(&owner);
    int changes = 0;
    edit->OnChange = [&](TObject *) { ++changes; };
    edit->SetText("abc");
    auto peer = std::make_unique<Counter>();
    Counter *p = peer.get();
    edit->AttachPeer(std::move(peer));
    p->seen.clear();
    edit->KeyDown(TKey::End, ssNone);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(p->seen, std::vector<ControlProperty>{ControlProperty::Selection});
}

// A form with an edit, two radio groups and a lookup button for the edit.
class KeyForm : public TForm {
public:
    using TForm::TForm;
    TEdit *code = nullptr;
    TSpeedButton *lookup = nullptr;
    TGroupBox *types = nullptr, *models = nullptr;
    TRadioButton *allTypes = nullptr, *listTypes = nullptr, *allModels = nullptr, *listModels = nullptr;
    std::vector<std::string> log;

    class Lookup : public TSpeedButton {
    public:
        using TSpeedButton::TSpeedButton;
        TWinControl *serves = nullptr;
        TWinControl *ServedControl() const override { return serves; }
    };

protected:
    void BuildForm() override
    {
        code = new TEdit(this);
        code->SetName("code");
        code->SetParent(this);
        code->SetTabOrder(0);
        auto *button = new Lookup(this);
        button->SetParent(this);
        button->serves = code;
        button->OnClick = [this](TObject *) { log.push_back("lookup"); };
        lookup = button;
        types = group("types", 1, allTypes, listTypes);
        models = group("models", 2, allModels, listModels);
        SetActiveControl(code);
    }

private:
    TGroupBox *group(const char *name, int tab, TRadioButton *&all, TRadioButton *&list)
    {
        auto *g = new TGroupBox(this);
        g->SetName(name);
        g->SetParent(this);
        g->SetTabOrder(tab);
        all = radio(g, std::string(name) + "All", 0);
        list = radio(g, std::string(name) + "List", 1);
        all->SetChecked(true);
        return g;
    }
    TRadioButton *radio(TGroupBox *g, const std::string &name, int tab)
    {
        auto *r = new TRadioButton(this);
        r->SetName(name);
        r->SetParent(g);
        r->SetTabOrder(tab);
        r->OnClick = [this, name](TObject *) { log.push_back("click " + name); };
        return r;
    }
};

using KeyFormTest = FormTest<KeyForm>;

TEST_F(KeyFormTest, TabStopsOnceInEachRadioGroupAtItsCheckedButton)
{
    struct Step {
        TKey key;
        TShiftState shift;
        const char *focus;
    };
    const std::vector<Step> steps = {
        {TKey::Tab, ssNone, "typesAll"},   {TKey::Tab, ssNone, "modelsAll"},
        {TKey::Down, ssNone, "modelsList"}, {TKey::Tab, ssShift, "typesAll"},
        {TKey::Tab, ssNone, "modelsList"}, {TKey::Tab, ssNone, "code"},
        {TKey::Tab, ssShift, "modelsList"}, {TKey::Up, ssNone, "modelsAll"},
    };
    for (std::size_t i = 0; i < steps.size(); ++i) {
        Application->RunUserAction([&] { form->KeyDown(steps[i].key, steps[i].shift); });
        EXPECT_EQ(focused(), steps[i].focus) << "step " << i;
    }
    EXPECT_TRUE(form->allModels->Checked());
    EXPECT_FALSE(form->listModels->Checked());
    // The arrows check the button they move to, running its click.
    EXPECT_EQ(form->log, (std::vector<std::string>{"click modelsList", "click modelsAll"}));
}

TEST_F(KeyFormTest, AGroupWithNothingCheckedStopsAtItsFirstButton)
{
    form->allTypes->SetChecked(false);
    auto order = form->FocusOrder();
    ASSERT_EQ(order.size(), 3u);
    EXPECT_EQ(order[1], form->allTypes);
    form->listTypes->SetEnabled(false);
    form->allTypes->SetEnabled(false);
    EXPECT_EQ(form->FocusOrder().size(), 2u);
}

TEST_F(KeyFormTest, LookupKeyClicksTheButtonServingTheFocusedControl)
{
    const std::vector<std::pair<TKey, TShiftState>> opens = {{TKey::F2, ssNone}, {TKey::Down, ssAlt}};
    for (auto [key, shift] : opens)
        EXPECT_TRUE(form->KeyDown(key, shift));
    EXPECT_EQ(form->log, (std::vector<std::string>{"lookup", "lookup"}));
    form->lookup->SetEnabled(false);  // a disabled button is not there for the key
    EXPECT_FALSE(form->KeyDown(TKey::F2, ssNone));
    form->lookup->SetEnabled(true);
    Application->RunUserAction([&] { form->allTypes->SetFocus(); });
    EXPECT_FALSE(form->KeyDown(TKey::F2, ssNone));  // nothing serves a radio button here
    EXPECT_EQ(form->log.size(), 2u);
}

TEST_F(KeyFormTest, TabIntoAnEditSelectsItsText)
{
    form->code->SetText("abc");
    Application->RunUserAction([&] { form->allModels->SetFocus(); });
    Application->RunUserAction([&] { form->KeyDown(TKey::Tab, ssNone); });
    ASSERT_EQ(focused(), "code");
    EXPECT_EQ(form->code->SelLength(), 3);
    form->code->TypeKey(U'x');
    EXPECT_EQ(form->code->Text(), "x");
}

} // namespace
