// Typing is never lost: whichever way the person reaches a field (Tab,
// Enter, its caption's Alt+letter, a click past the text, the message that
// sends them back, a lookup that returns), what they type replaces what the
// field held. Each kind of edit: a date, a product code, a masked code, a
// plain text.
#include "qt_fixture.h"
#include "report/qrddlgs.h"
#include "vcl/stdctrls.h"
#include "vdl/DateEditPlus.h"

#include <QCalendarWidget>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

const char *const kReport = "Resumo não Oficial de CFOp com Produtos(Analítico)";

enum class Way { Tab, Enter, Accelerator, Click, Message, Lookup };

const char *Name(Way w)
{
    switch (w) {
    case Way::Tab: return "Tab";
    case Way::Enter: return "Enter";
    case Way::Accelerator: return "Alt+letra";
    case Way::Click: return "clique";
    case Way::Message: return "mensagem";
    case Way::Lookup: return "pesquisa";
    }
    return "";
}

struct Field {
    const char *name;
    const char *held;   // what the field shows before
    const char *typed;  // the keys typed
    const char *shown;  // what it shows afterwards
    bool lookup;        // has a lookup (a date edit: its calendar)
};

const Field kFields[] = {
    {"depDtFinal", "31/03/2026", "31122026", "31/12/2026", true},
    {"medProdInic", "02.01.0002", "01010001", "01.01.0001", true},
    {"medCFOp", "5102", "1102", "1.102", false},
    {"edtInscricao", "110042490114", "123", "123", true},
};

class TypingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        desktop = std::make_unique<DesktopHost>(HostConfig(), 1000, 700);
        ws = desktop->Widgets();
        screen = desktop->OpenScreen();
        ASSERT_NE(screen, nullptr);
        auto *box = Control<TComboBox>("cbbReportNames");
        const auto &items = box->Items();
        const int index = static_cast<int>(std::find(items.begin(), items.end(), kReport) - items.begin());
        ws->Run([box, index] { box->PickItem(index); });
        ws->Run([this] { Control<TCustomEdit>("medCdEmpresa")->SetText("01"); });
        Settle();
    }
    void TearDown() override { desktop.reset(); }

    template <class T = TWinControl>
    T *Control(const std::string &name)
    {
        return dynamic_cast<T *>(screen->FindComponent(name));
    }
    QLineEdit *Line(const TControl &c) { return qobject_cast<QLineEdit *>(QtWidgetSet::WidgetOf(c)); }
    // The usable field before `target` in the tab order.
    TWinControl *Before(TWinControl *target)
    {
        const auto order = screen->FocusOrder();
        const auto at = std::find(order.begin(), order.end(), target);
        return at == order.begin() || at == order.end() ? nullptr : *(at - 1);
    }
    void Reach(Way way, TCustomEdit *field)
    {
        TWinControl *elsewhere = Control("medCdImposto");
        switch (way) {
        case Way::Tab:
        case Way::Enter: {
            TWinControl *before = Before(field);
            ASSERT_NE(before, nullptr);
            ws->Run([before] { before->SetFocus(); });
            QTest::keyClick(QtWidgetSet::WidgetOf(*before), way == Way::Tab ? Qt::Key_Tab : Qt::Key_Return);
            break;
        }
        case Way::Accelerator: {
            const QKeySequence keys = QtWidgetSet::AcceleratorOf(*field);
            ASSERT_FALSE(keys.isEmpty()) << field->Name();
            ws->Run([elsewhere] { elsewhere->SetFocus(); });
            QTest::keySequence(QtWidgetSet::WidgetOf(*elsewhere), keys);
            break;
        }
        case Way::Click: {
            ws->Run([elsewhere] { elsewhere->SetFocus(); });
            QLineEdit *line = Line(*field);
            // Past the end of the text, where people click in a wide box.
            QTest::mouseClick(line, Qt::LeftButton, {}, QPoint(line->width() - 30, line->height() / 2));
            break;
        }
        case Way::Message:
            ws->Run([field] {
                field->SetFocus();
                WidgetSet().ShowMessage("Verifique o campo.", MessageKind::Warning);
            });
            break;
        case Way::Lookup:
            ws->Run([field] { field->SetFocus(); });
            if (auto *date = dynamic_cast<TDateEditPlus *>(field)) {
                QTest::keyClick(Line(*field), Qt::Key_F4);
                QCalendarWidget *calendar = QtWidgetSet::CalendarOf(*date);
                ASSERT_NE(calendar, nullptr);
                emit calendar->clicked(QDate(2026, 3, 31));
            } else {
                QTest::keyClick(Line(*field), Qt::Key_F2);  // the list is cancelled
            }
            break;
        }
        Settle();
    }

    std::unique_ptr<DesktopHost> desktop;
    ScriptedQtWidgetSet *ws = nullptr;
    TCustomForm *screen = nullptr;
};

TEST_F(TypingTest, EveryWayIntoEveryKindOfFieldTakesWhatIsTyped)
{
    for (const Field &f : kFields)
        for (Way way : {Way::Tab, Way::Enter, Way::Accelerator, Way::Click, Way::Message, Way::Lookup}) {
            if (way == Way::Lookup && !f.lookup)
                continue;
            SCOPED_TRACE(std::string(f.name) + " por " + Name(way));
            auto *field = Control<TCustomEdit>(f.name);
            ASSERT_NE(field, nullptr);
            ASSERT_TRUE(field->IsUsable());
            ws->Run([field, &f] { field->SetText(f.held); });
            Reach(way, field);
            ASSERT_EQ(screen->ActiveControl(), field);
            EXPECT_EQ(QApplication::focusWidget(), Line(*field));
            QTest::keyClicks(Line(*field), QString::fromLatin1(f.typed));
            Settle();
            EXPECT_EQ(field->DisplayText(), f.shown);
            EXPECT_EQ(Line(*field)->text().toStdString(), f.shown);
            ws->messages.clear();
            ws->picks.clear();
        }
}

// A click in a field that already has the focus places the caret there:
// only the click that brings the focus in selects the text.
TEST_F(TypingTest, ASecondClickPlacesTheCaret)
{
    auto *cfop = Control<TCustomEdit>("medCFOp");
    ws->Run([cfop] { cfop->SetText("5102"); });
    ws->Run([this] { Control("medCdImposto")->SetFocus(); });
    QLineEdit *line = Line(*cfop);
    QTest::mouseClick(line, Qt::LeftButton, {}, QPoint(line->width() - 30, line->height() / 2));
    Settle();
    EXPECT_EQ(cfop->SelLength(), static_cast<int>(cfop->DisplayText().size()));
    QTest::mouseClick(line, Qt::LeftButton, {}, QPoint(2, line->height() / 2));
    Settle();
    EXPECT_EQ(cfop->SelLength(), 0);
    EXPECT_EQ(cfop->CaretPos(), 0);
}

// Enter goes where Tab goes; on the report list too; Ctrl+Enter shows the report.
TEST_F(TypingTest, EnterMovesOnAsTabAndCtrlEnterPreviews)
{
    std::vector<std::string> byTab, byEnter;
    for (Qt::Key key : {Qt::Key_Tab, Qt::Key_Return}) {
        ws->Run([this] { Control("cbbReportNames")->SetFocus(); });
        auto &visited = key == Qt::Key_Tab ? byTab : byEnter;
        for (int i = 0; i < 6; ++i) {
            QTest::keyClick(QtWidgetSet::WidgetOf(*screen->ActiveControl()), key);
            Settle();
            visited.push_back(screen->ActiveControl()->Name());
            ws->messages.clear();
        }
    }
    EXPECT_EQ(byEnter, byTab);
    EXPECT_NE(byTab.front(), "cbbReportNames");

    ws->Run([this] { Control("medCdImposto")->SetFocus(); });
    const long runs = TReportDesignerDialog::TotalRunCount();
    QTest::keyClick(QtWidgetSet::WidgetOf(*screen->ActiveControl()), Qt::Key_Return, Qt::ControlModifier);
    Settle();
    // It ran, or its checks said what is missing.
    EXPECT_TRUE(TReportDesignerDialog::TotalRunCount() != runs || !ws->messages.empty());
}

} // namespace
