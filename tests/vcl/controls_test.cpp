// Change notification, combo boxes, radio groups, descriptions.
#include "vcl/forms.h"
#include "vcl/headless.h"
#include "vcl/stdctrls.h"

#include <gtest/gtest.h>

namespace {

struct Owner : TComponent {
    Owner() : TComponent(nullptr) {}
};

TEST(ChangeTest, FiresOnlyWhenTheTextReallyChanges)
{
    Owner owner;
    auto *edit = new TEdit(&owner);
    int changes = 0;
    edit->OnChange = [&](TObject *) { ++changes; };
    struct Step {
        std::function<void()> act;
        int expectChanges;
        const char *expectText;
    };
    const std::vector<Step> steps = {
        {[&] { edit->SetText("abc"); }, 1, "abc"},
        {[&] { edit->SetText("abc"); }, 1, "abc"},  // same text: nothing
        {[&] { edit->Clear(); }, 2, ""},
        {[&] { edit->Clear(); }, 2, ""},
        {[&] { edit->SelectAll(); edit->TypeKey(U'x'); }, 3, "x"},
        {[&] { edit->TypeKey(U'y'); }, 4, "xy"},
        {[&] { edit->SelectAll(); edit->DeleteSelection(); }, 5, ""},
    };
    for (std::size_t i = 0; i < steps.size(); ++i) {
        steps[i].act();
        EXPECT_EQ(changes, steps[i].expectChanges) << "step " << i;
        EXPECT_EQ(edit->Text(), steps[i].expectText) << "step " << i;
    }
}

TEST(ChangeTest, PlainEditLengthAndCase)
{
    Owner owner;
    auto *edit = new TEdit(&owner);
    edit->SetMaxLength(5);
    edit->SetCharCase(ecUpperCase);
    edit->SelectAll();
    for (char32_t k : std::u32string(U"abçdefg"))
        edit->TypeKey(k);
    EXPECT_EQ(edit->Text(), "ABÇDE");
    edit->SetText("lower and longer");  // code is not bound by what a person may type
    EXPECT_EQ(edit->Text(), "lower and longer");
}

TEST(ChangeTest, MaskedEditChangesFollowTheShownText)
{
    Owner owner;
    auto *edit = new TMaskEdit(&owner);
    edit->SetEditMask("9.999;0; ");
    int changes = 0;
    edit->OnChange = [&](TObject *) { ++changes; };
    edit->SelectAll();
    for (char32_t k : std::u32string(U"5.102"))
        edit->TypeKey(k);
    EXPECT_EQ(edit->Text(), "5102");
    EXPECT_EQ(changes, 4);  // the '.' only moved the caret
    edit->SetEditMask("9.999;0; ");
    EXPECT_EQ(changes, 4);  // same mask again: nothing
}

TEST(ComboBoxTest, PersonPicksRunChangeCodeDoesNot)
{
    Owner owner;
    auto *box = new TComboBox(&owner);
    box->SetItems({"Entrada", "Saída", "Ambos"});
    int changes = 0;
    box->OnChange = [&](TObject *) { ++changes; };
    box->SetItemIndex(0);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(box->Text(), "Entrada");
    box->PickItem(0);  // re-picking the selected entry
    EXPECT_EQ(changes, 1);
    box->PickItem(2);
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(box->Text(), "Ambos");
    box->SetItemIndex(3);
    EXPECT_EQ(box->ItemIndex(), -1);
    EXPECT_EQ(box->Text(), "");
}

TEST(ComboBoxTest, ANoteMarksAnEntryWithoutChangingItsText)
{
    Owner owner;
    auto *box = new TComboBox(&owner);
    box->SetItems({"Empresas", "Notas"});
    box->SetItemNote(1, "Layout alterado");
    box->SetItemNote(5, "fora da lista");  // ignored
    box->SetItemNote(-1, "fora da lista");
    box->SetItemIndex(1);
    EXPECT_EQ(box->Text(), "Notas");
    EXPECT_EQ(box->ItemNote(0), "");
    EXPECT_EQ(box->ItemNote(1), "Layout alterado");
    EXPECT_EQ(box->ItemNote(-1), "");
    EXPECT_EQ(box->ItemNote(2), "");
    box->AddItem("Outro");
    EXPECT_EQ(box->ItemNote(1), "Layout alterado");  // notes stay with their entries
    EXPECT_EQ(box->ItemNote(2), "");
    // A new list starts unmarked, whichever way it comes.
    box->SetItems({"Empresas", "Notas"});
    EXPECT_EQ(box->ItemNote(1), "");
    box->SetItemNote(0, "x");
    box->ClearItems();
    box->AddItem("Empresas");
    EXPECT_EQ(box->ItemNote(0), "");
}

TEST(RadioTest, CheckingUnchecksSiblingsOfTheSameParentOnly)
{
    InitializeApplication();
    TForm *form = nullptr;
    Application->CreateForm(form);
    auto group = [&](const char *name) {
        auto *g = new TGroupBox(form);
        g->SetName(name);
        g->SetParent(form);
        return g;
    };
    auto radio = [&](TGroupBox *g, bool checked) {
        auto *r = new TRadioButton(form);
        r->SetParent(g);
        r->SetChecked(checked);
        return r;
    };
    auto *g1 = group("g1");
    auto *g2 = group("g2");
    auto *todos1 = radio(g1, true);
    auto *lista1 = radio(g1, false);
    auto *todos2 = radio(g2, true);
    int clicks = 0;
    todos1->OnClick = [&](TObject *) { ++clicks; };
    lista1->OnClick = [&](TObject *) { ++clicks; };

    lista1->SetChecked(true);  // code: no event
    EXPECT_EQ(clicks, 0);
    EXPECT_FALSE(todos1->Checked());
    EXPECT_TRUE(todos2->Checked());
    todos1->Click();
    EXPECT_EQ(clicks, 1);
    todos1->Click();  // already checked: the click still runs
    EXPECT_EQ(clicks, 2);
    EXPECT_TRUE(todos1->Checked());
    EXPECT_FALSE(lista1->Checked());
    delete form;
    FinalizeApplication();
}

const ComponentDesc *pendingDesc = nullptr;

class DescribedForm : public TForm {
public:
    explicit DescribedForm(TComponent *owner) : TForm(owner), desc(*pendingDesc) {}
    ComponentDesc desc;
    int changes = 0;

protected:
    void RegisterMethods(MethodTable &m) override
    {
        TForm::RegisterMethods(m);
        m.Add<void(TObject *)>("edtChange", [this](TObject *) { ++changes; });
    }
    void BuildForm() override { LoadFrom(desc); }
};

TEST(DescriptionTest, BuildingFiresNoEventAndUnknownNamesAreRefused)
{
    RegisterStandardControls();
    InitializeApplication();
    DescribedForm *form = nullptr;
    struct Case {
        const char *name;
        ComponentDesc desc;
        bool ok;
    };
    const std::vector<Case> cases = {
        {"binds by name",
         {"", "", {{"Caption", std::string("F")}},
          {{"TEdit", "edt", {{"Text", std::string("x")}, {"OnChange", std::string("edtChange")}}, {}}}},
         true},
        {"unknown method", {"", "", {}, {{"TEdit", "edt", {{"OnChange", std::string("nope")}}, {}}}}, false},
        {"unknown property", {"", "", {}, {{"TEdit", "edt", {{"Colour", std::string("x")}}, {}}}}, false},
        {"unknown class", {"", "", {}, {{"TWidget", "w", {}, {}}}}, false},
        // An enumerated value with a typo never loads as the default.
        {"unknown form style", {"", "", {{"FormStyle", std::string("fsMdiChild")}}, {}}, false},
        {"unknown border style", {"", "", {{"BorderStyle", std::string("bsFixed")}}, {}}, false},
        {"unknown char case", {"", "", {}, {{"TEdit", "edt", {{"CharCase", std::string("ecUpper")}}, {}}}}, false},
        {"unknown combo style", {"", "", {}, {{"TComboBox", "cbb", {{"Style", std::string("csList")}}, {}}}}, false},
        {"known values",
         {"", "", {{"FormStyle", std::string("fsMDIChild")}, {"BorderStyle", std::string("bsSingle")}},
          {{"TEdit", "edt",
            {{"Text", std::string("x")}, {"CharCase", std::string("ecNormal")}, {"OnChange", std::string("edtChange")}},
            {}},
           {"TComboBox", "cbb", {{"Style", std::string("csDropDownList")}}, {}}}},
         true},
    };
    for (const auto &tc : cases) {
        pendingDesc = &tc.desc;
        DescribedForm *m = nullptr;
        if (!tc.ok) {
            EXPECT_THROW(Application->CreateForm(m), EComponentError) << tc.name;
            EXPECT_EQ(m, nullptr);
            continue;
        }
        Application->CreateForm(m);
        form = m;
        auto *edt = FindTyped<TEdit>(form, "edt");
        ASSERT_NE(edt, nullptr);
        EXPECT_EQ(edt->Text(), "x");
        EXPECT_EQ(form->changes, 0) << "building fired an event";
        edt->SetText("y");
        EXPECT_EQ(form->changes, 1);
        delete form;
    }
    FinalizeApplication();
}

TEST(OwnershipTest, DestroyingTheOwnerDestroysWhatItOwns)
{
    int destroyed = 0;
    struct Counted : TComponent {
        Counted(TComponent *o, int &n) : TComponent(o), n_(n) {}
        ~Counted() override { ++n_; }
        int &n_;
    };
    {
        Owner owner;
        auto *a = new Counted(&owner, destroyed);
        new Counted(a, destroyed);
        new Counted(&owner, destroyed);
        delete a;  // goes with its own child, leaves the owner consistent
        EXPECT_EQ(destroyed, 2);
        EXPECT_EQ(owner.ComponentCount(), 1);
    }
    EXPECT_EQ(destroyed, 3);
}

} // namespace
