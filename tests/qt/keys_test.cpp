// The keyboard on the real screen: every key typed in the desktop host does
// what the same key does headless (text, caret, report parameter); the
// lookup key, lists, Ctrl+A and the action shortcuts.
#include "hostsetup.h"
#include "pickdialogs.h"
#include "qt_fixture.h"
#include "report/qrddlgs.h"
#include "vcl/headless.h"
#include "vcl/stdctrls.h"
#include "vdl/DateEditPlus.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QCalendarWidget>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QComboBox>
#include <QKeySequence>
#include <QLineEdit>
#include <QMainWindow>
#include <QMdiArea>
#include <QTableWidget>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

const char *const kReport = "Resumo não Oficial de CFOp com Produtos(Analítico)";

// Typed into each field after Tab has brought the focus there, in tab order.
// '<' stands for Backspace and '^' for Home.
struct Typing {
    const char *field;
    const char *keys;
};
const Typing kTyping[] = {
    {"medCdImposto", "1<01"},
    {"medCdEmpresa", "01"},
    {"edtInscricao", "110042490114"},
    {"edtInscricaoM", "1234567"},
    {"depDtInicial", "01012026"},
    {"depDtFinal", "31/01/2026"},
    {"medCFOp", "5.1x02"},
    {"medProdInic", "1^01010001"},
    {"medProdFina", "02.01.0002"},
    {"medNrNotaFisc", "000123"},
};
const char *const kParams[] = {"P_CDIMPOSTO", "P_CDEMPRESA",  "P_CDINSCESTA",  "P_CDINSCMUNI",
                               "P_CDCFOP",    "P_PRODUTOINI", "P_PRODUTOFIN", "P_NRNOTAFISC"};

struct Trace {
    std::vector<std::string> steps;  // field, key, shown text, text, caret
    std::map<std::string, std::string> params;
    std::vector<std::string> messages;
};

// One person's session on the screen, headless or on the desktop.
class Session {
public:
    explicit Session(bool desktop) : desktop_(desktop)
    {
        if (desktop_) {
            host_ = std::make_unique<DesktopHost>(HostConfig(), 900, 650, true);
            area_ = host_->Area();
            ws_ = host_->Widgets();
            screen_ = host_->OpenScreen();
        } else {
            run_ = StartTestHost(HostConfig(), true);
            SetWidgetSet(std::make_unique<HeadlessWidgetSet>());
            Application->RunUserAction([this] { run_->Package().IniProc(); });
            screen_ = Application->ActiveChild();
        }
    }
    ~Session()
    {
        if (host_) {
            host_.reset();
            return;
        }
        run_.reset();
        Settle();
        SetWidgetSet(std::make_unique<HeadlessWidgetSet>());
    }
    TCustomForm *Screen() const { return screen_; }
    template <class T = TWinControl>
    T *Control(const std::string &name) const
    {
        return dynamic_cast<T *>(screen_->FindComponent(name));
    }
    QWidget *Widget(const std::string &name) const { return QtWidgetSet::WidgetOf(*Control<TControl>(name)); }

    void Act(const std::function<void()> &action)
    {
        if (desktop_)
            ws_->Run(action);
        else
            Application->RunUserAction(action);
    }
    void Report(const std::string &title)
    {
        auto *box = Control<TComboBox>("cbbReportNames");
        const auto &items = box->Items();
        const int index = static_cast<int>(std::find(items.begin(), items.end(), title) - items.begin());
        Act([box, index] { box->PickItem(index); });
    }
    // One key as a person presses it where the focus is.
    void Press(char key)
    {
        TWinControl *focused = screen_->ActiveControl();
        if (desktop_) {
            QWidget *w = QtWidgetSet::WidgetOf(*focused);
            if (key == '\t') QTest::keyClick(w, Qt::Key_Tab);
            else if (key == '<') QTest::keyClick(w, Qt::Key_Backspace);
            else if (key == '^') QTest::keyClick(w, Qt::Key_Home);
            else QTest::keyClick(w, key);
            Settle();
            return;
        }
        auto *edit = dynamic_cast<TCustomEdit *>(focused);
        if (key == '\t') Act([this] { screen_->KeyDown(TKey::Tab, ssNone); });
        else if (key == '<') Act([this] { screen_->KeyDown(TKey::Backspace, ssNone); });
        else if (key == '^') Act([this] { screen_->KeyDown(TKey::Home, ssNone); });
        else if (edit) Act([edit, key] { edit->TypeKey(static_cast<char32_t>(key)); });
    }
    std::vector<std::string> Messages()
    {
        if (desktop_)
            return std::exchange(ws_->messages, {});
        std::vector<std::string> out;
        for (auto &m : HeadlessWidgets()->messages)
            out.push_back(m.text);
        HeadlessWidgets()->messages.clear();
        return out;
    }
    ScriptedQtWidgetSet *Widgets() const { return ws_; }
    QMdiArea *Area() const { return area_; }

private:
    bool desktop_;
    std::unique_ptr<HostRun> run_;       // headless
    std::unique_ptr<DesktopHost> host_;  // on the desktop
    QMdiArea *area_ = nullptr;
    ScriptedQtWidgetSet *ws_ = nullptr;
    TCustomForm *screen_ = nullptr;
};

Trace TypeEverything(bool desktop)
{
    Session s(desktop);
    Trace t;
    s.Report(kReport);
    s.Act([&s] { s.Control("medCdImposto")->SetFocus(); });
    for (const Typing &typing : kTyping) {
        // Tab until the field has the focus, as a person would.
        for (int guard = 0; s.Screen()->ActiveControl() != s.Control(typing.field) && guard < 30; ++guard)
            s.Press('\t');
        auto *edit = s.Control<TCustomEdit>(typing.field);
        for (const char *k = typing.keys; *k; ++k) {
            s.Press(*k);
            std::string step = std::string(typing.field) + " '" + *k + "' shows \"" + edit->DisplayText() +
                               "\" reads \"" + edit->Text() + "\" caret " + std::to_string(edit->CaretPos());
            if (desktop) {
                // The desktop shows exactly what the model holds, caret included.
                auto *line = qobject_cast<QLineEdit *>(s.Widget(typing.field));
                EXPECT_EQ(line->text().toStdString(), edit->DisplayText()) << step;
                EXPECT_EQ(line->cursorPosition(), edit->CaretPos()) << step;
            }
            t.steps.push_back(step);
        }
    }
    s.Press('\t');
    s.Act([&s] { s.Control<TControl>("sbtPrint")->Click(); });
    t.messages = s.Messages();
    auto *dialog = dynamic_cast<TReportDesignerDialog *>(s.Screen()->FindComponent("rpddPadrao"));
    if (dialog && dialog->LastRun())
        for (const char *name : kParams)
            if (const TParam *p = dialog->LastRun()->params.FindParam(name))
                t.params[name] = p->AsString();
    return t;
}

TEST(KeysQtTest, EveryKeyInEveryMaskedFieldDoesWhatItDoesHeadless)
{
    const Trace headless = TypeEverything(false);
    const Trace desktop = TypeEverything(true);
    ASSERT_EQ(headless.steps.size(), desktop.steps.size());
    for (std::size_t i = 0; i < headless.steps.size(); ++i)
        EXPECT_EQ(desktop.steps[i], headless.steps[i]);
    EXPECT_EQ(desktop.messages, headless.messages);
    EXPECT_EQ(headless.params.size(), std::size(kParams)) << "the report did not run headless";
    EXPECT_EQ(desktop.params, headless.params);
    EXPECT_EQ(headless.params.at("P_CDCFOP"), "5102");
    EXPECT_EQ(headless.params.at("P_PRODUTOINI"), "01.01.0001");
}

class ScreenKeysTest : public ::testing::Test {
protected:
    void SetUp() override { s = std::make_unique<Session>(true); }
    void TearDown() override { s.reset(); }
    QLineEdit *Line(const char *name) { return qobject_cast<QLineEdit *>(s->Widget(name)); }
    std::unique_ptr<Session> s;
};

// CFOp held "1."; Tab into it selects all, and 1102 typed over it is 1102.
TEST_F(ScreenKeysTest, RetypingTheCfopOverItsSelectionKeepsEveryKey)
{
    auto *cfop = s->Control<TMaskEdit>("medCFOp");
    s->Act([cfop] { cfop->SetText("1"); });
    s->Act([this] { s->Control("cbbEntrSaid")->SetFocus(); });
    QTest::keyClick(s->Widget("cbbEntrSaid"), Qt::Key_Tab);
    Settle();
    ASSERT_EQ(s->Screen()->ActiveControl(), cfop);
    EXPECT_EQ(Line("medCFOp")->selectedText().size(), Line("medCFOp")->text().size());
    QTest::keyClicks(Line("medCFOp"), "1102");
    EXPECT_EQ(cfop->Text(), "1102");
    EXPECT_EQ(Line("medCFOp")->text(), "1.102");
}

TEST_F(ScreenKeysTest, CtrlASelectsEverythingInADateEdit)
{
    auto *date = s->Control<TMaskEdit>("depDtInicial");
    s->Act([date] {
        date->SetFocus();
        date->SetText("10/12/2024");
    });
    QTest::keyClick(Line("depDtInicial"), Qt::Key_End);
    QTest::keyClick(Line("depDtInicial"), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(date->SelLength(), 10);
    QTest::keyClicks(Line("depDtInicial"), "01022025");
    EXPECT_EQ(date->Text(), "01/02/2025");
    // A valid date shows in the edit's valid-date colour.
    EXPECT_EQ(Line("depDtInicial")->palette().color(QPalette::Text), QtColor(clBlue));
}

TEST_F(ScreenKeysTest, ControlCharactersNeverReachAnEdit)
{
    auto *series = s->Control<TEdit>("edtInscricao");
    s->Report(kReport);
    s->Act([series] { series->SetFocus(); });
    QApplication::clipboard()->setText(QString::fromUtf8("A\x01" "B\x1b"));
    QTest::keyClick(Line("edtInscricao"), Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(Line("edtInscricao"), Qt::Key_Escape);
    EXPECT_EQ(series->Text(), "AB");
}

// F2 and Alt+Down on a field do what a click on its lookup button does, for
// every field that has one on each report.
TEST_F(ScreenKeysTest, TheLookupKeyOnEveryFieldDoesWhatItsButtonDoes)
{
    std::set<std::string> tried;
    for (const char *report : {kReport, "Relação de Notas Fiscais"}) {
        s->Report(report);
        s->Act([this] { s->Control<TCustomEdit>("medCdEmpresa")->SetText("01"); });
        TCustomForm *screen = s->Screen();
        for (int i = 0; i < screen->ComponentCount(); ++i) {
            auto *button = dynamic_cast<TControl *>(screen->Components(i));
            TWinControl *field = button ? button->ServedControl() : nullptr;
            if (!field || !button->IsUsable() || !field->CanFocus())
                continue;
            tried.insert(field->Name());
            const auto outcome = [this] {
                auto picks = std::exchange(s->Widgets()->picks, {});
                auto messages = std::exchange(s->Widgets()->messages, {});
                picks.insert(picks.end(), messages.begin(), messages.end());
                return picks;
            };
            s->Act([button] { button->Click(); });
            const std::vector<std::string> clicked = outcome();
            ASSERT_FALSE(clicked.empty()) << button->Name();
            for (const QKeyCombination keys : {QKeyCombination(Qt::Key_F2), QKeyCombination(Qt::AltModifier, Qt::Key_Down)}) {
                SCOPED_TRACE(field->Name() + " " + QKeySequence(keys).toString().toStdString());
                s->Act([field] { field->SetFocus(); });
                ASSERT_EQ(screen->ActiveControl(), field);
                QTest::keyClick(s->Widget(field->Name()), keys.key(), keys.keyboardModifiers());
                Settle();
                EXPECT_EQ(outcome(), clicked);
            }
        }
    }
    EXPECT_EQ(tried, (std::set<std::string>{"medCdEmpresa", "medCdImposto", "edtInscricao", "edtInscricaoM",
                                            "medProdInic", "medProdFina", "edtCdSerie", "medFiliOrig"}));

    // A date edit's lookup key is its calendar, headed by the edit's weekday names.
    for (const QKeyCombination keys : {QKeyCombination(Qt::Key_F2), QKeyCombination(Qt::Key_F4),
                                       QKeyCombination(Qt::AltModifier, Qt::Key_Down)}) {
        SCOPED_TRACE(QKeySequence(keys).toString().toStdString());
        s->Act([this] { s->Control("depDtFinal")->SetFocus(); });
        QTest::keyClick(s->Widget("depDtFinal"), keys.key(), keys.keyboardModifiers());
        QCalendarWidget *calendar = QtWidgetSet::CalendarOf(*s->Control<TControl>("depDtFinal"));
        ASSERT_NE(calendar, nullptr);
        EXPECT_TRUE(calendar->isVisible());
        calendar->hide();
    }
    auto *calendar = dynamic_cast<DateCalendar *>(QtWidgetSet::CalendarOf(*s->Control<TControl>("depDtFinal")));
    ASSERT_NE(calendar, nullptr);
    const auto &names = s->Control<TDateEditPlus>("depDtFinal")->NomeSemana;
    ASSERT_EQ(names.size(), 7u);
    EXPECT_EQ(names[0], "Domingo");
    for (int column = 0; column < 7; ++column)
        EXPECT_EQ(calendar->Heading(column).toStdString(), names[static_cast<std::size_t>(column)]);
    QTest::keyClick(s->Widget("depDtFinal"), Qt::Key_F4);
    emit calendar->clicked(QDate(2026, 3, 5));
    Settle();
    EXPECT_EQ(s->Control<TCustomEdit>("depDtFinal")->Text(), "05/03/2026");
    EXPECT_FALSE(calendar->isVisible());
}

TEST_F(ScreenKeysTest, ShortcutsRunTheActionsAndShowInTheHints)
{
    struct Case {
        const char *button;
        QKeyCombination keys;
        const char *hint;
    } cases[] = {
        {"sbtPrint", QKeyCombination(Qt::ControlModifier, Qt::Key_P), "Imprimir (Ctrl+P)"},
        {"sbtPreview", QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_P),
         "Visualizar (Ctrl+Shift+P ou Ctrl+Enter)"},
        {"sbtSalvarComo", QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_S),
         "Salvar como (Ctrl+Shift+S)"},
        {"sbtReportEdit", QKeyCombination(Qt::ControlModifier, Qt::Key_E), "Editar relatório (Ctrl+E)"},
    };
    std::vector<TWinControl *> focusable;
    for (TWinControl *c : s->Screen()->FocusOrder())
        if (c->IsUsable() && QtWidgetSet::WidgetOf(*c))
            focusable.push_back(c);
    ASSERT_GT(focusable.size(), 5u);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.button);
        EXPECT_EQ(s->Widget(c.button)->toolTip().toStdString(), c.hint);
        for (TWinControl *from : focusable) {
            SCOPED_TRACE(from->Name());
            s->Act([from] { from->SetFocus(); });
            QWidget *w = QtWidgetSet::WidgetOf(*from);
            // No control keeps the combination for itself, whatever the
            // desktop's key scheme makes of it (Ctrl+E: end of line).
            QKeyEvent override(QEvent::ShortcutOverride, c.keys.key(), c.keys.keyboardModifiers());
            QApplication::sendEvent(w, &override);
            EXPECT_FALSE(override.isAccepted());
            s->Widgets()->messages.clear();
            const long runs = TReportDesignerDialog::TotalRunCount();
            QTest::keySequence(w, QKeySequence(c.keys));
            Settle();
            // The action ran: its checks reported an empty field, or (editing
            // a layout checks less) the report's parameters were filled.
            EXPECT_TRUE(!s->Widgets()->messages.empty() || TReportDesignerDialog::TotalRunCount() != runs);
        }
    }
}

// A combo box without a lookup opens its own list on Alt+Down, as on any desktop.
TEST_F(ScreenKeysTest, AltDownOpensTheReportList)
{
    s->Act([this] { s->Control("cbbReportNames")->SetFocus(); });
    auto *box = qobject_cast<QComboBox *>(s->Widget("cbbReportNames"));
    ASSERT_NE(box, nullptr);
    QTest::keyClick(box, Qt::Key_Down, Qt::AltModifier);
    EXPECT_TRUE(box->view()->isVisible());
    box->hidePopup();
}

// Tab walks every control of the screen; wherever the focus lands, the
// mark surrounds that control, and Qt's focus is there too.
TEST_F(ScreenKeysTest, TheFocusMarkSurroundsEveryControlTabReaches)
{
    s->Report("Relação de Notas Fiscais");
    s->Act([this] { s->Control("cbbReportNames")->SetFocus(); });
    std::set<std::string> visited;
    for (int guard = 0; guard < 40; ++guard) {
        TWinControl *focused = s->Screen()->ActiveControl();
        ASSERT_NE(focused, nullptr);
        if (!visited.insert(focused->Name()).second)
            break;  // round the whole screen
        SCOPED_TRACE(focused->Name());
        QWidget *w = QtWidgetSet::WidgetOf(*focused);
        QWidget *mark = s->Widgets()->FocusMark();
        ASSERT_NE(mark, nullptr);
        EXPECT_TRUE(mark->isVisible());
        EXPECT_EQ(mark->parentWidget(), w->parentWidget());
        EXPECT_TRUE(mark->geometry().contains(w->geometry()));
        EXPECT_EQ(QApplication::focusWidget(), w);
        QTest::keyClick(w, Qt::Key_Tab);
        Settle();
    }
    // The report combo, the edits, a date edit, a radio group.
    for (const char *name : {"cbbReportNames", "medCdEmpresa", "depDtInicial", "cbbEntrSaid", "rdbTodosTp"})
        EXPECT_TRUE(visited.count(name)) << name;
}

TEST_F(ScreenKeysTest, TabStopsOnceInEachRadioGroupAndArrowsMoveWithin)
{
    s->Report("Relação de Notas Fiscais");
    s->Act([this] { s->Control("rdbTodosTp")->SetFocus(); });
    QTest::keyClick(s->Widget("rdbTodosTp"), Qt::Key_Tab);
    Settle();
    EXPECT_EQ(s->Screen()->ActiveControl(), s->Control("rdbTodosMod"));
    QTest::keyClick(s->Widget("rdbTodosMod"), Qt::Key_Down);
    Settle();
    EXPECT_EQ(s->Screen()->ActiveControl(), s->Control("rdbListaMod"));
    EXPECT_TRUE(s->Control<TRadioButton>("rdbListaMod")->Checked());
    EXPECT_TRUE(qobject_cast<QAbstractButton *>(s->Widget("rdbListaMod"))->isChecked());
    EXPECT_EQ(QApplication::focusWidget(), s->Widget("rdbListaMod"));
}

TEST(PickRowsKeysTest, SpaceTicksAndEnterConfirms)
{
    PickTable table{{"Código", "Nome"}, {{"01", "Nota fiscal"}, {"55", "NF-e"}}, {"01", "55"}};
    PickRowsDialog d("Modelo de Documento", table, {});
    d.show();
    d.Table()->setFocus();
    d.Table()->setCurrentCell(1, 1);
    QTest::keyClick(d.Table(), Qt::Key_Space);
    EXPECT_EQ(d.Checked(), std::vector<int>{1});
    QTest::keyClick(d.Table(), Qt::Key_Return);
    EXPECT_EQ(d.result(), QDialog::Accepted);
    // Qt's own texts are in Portuguese.
    EXPECT_EQ(d.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Cancel)->text(), "Cancelar");
}

} // namespace
