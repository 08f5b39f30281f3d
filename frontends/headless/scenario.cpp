#include "scenario.h"

#include "data/sqlquery.h"
#include "hostsetup.h"
#include "report/headless_reportui.h"
#include "report/qrddlgs.h"
#include "rtl/utf8.h"
#include "vcl/forms.h"
#include "vcl/headless.h"
#include "vcl/stdctrls.h"
#include "vdl/BtnPesquisa.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <sstream>

namespace {

const char *const kScreenClass = "TfrmResumoOficialCfop";
const char *const kScreenName = "frmResumoOficialCfop";

// A line that does not hold; the runner reports it and stops the file.
class LineFailure : public Exception {
    using Exception::Exception;
};

[[noreturn]] void fail(const std::string &message) { throw LineFailure(message); }

std::string quote(const std::string &s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

class Runner {
public:
    Runner(std::string name, const ScenarioOptions &options) : name_(std::move(name)), options_(options) {}

    ScenarioResult Run(const std::string &text)
    {
        ScenarioResult result;
        auto headless = std::make_unique<HeadlessWidgetSet>();
        ws_ = headless.get();
        SetWidgetSet(std::move(headless));
        SetReportUserInterface(std::make_unique<HeadlessReportUi>());
        std::istringstream in(text);
        std::string line;
        int number = 0;
        try {
            HostRunOptions ho;
            ho.packagePath = options_.packagePath;
            ho.startServer = options_.startServer;
            // Runs never print, and leave nothing behind but what --output keeps.
            ho.temporaryReportOutput = true;
            HostConfig config = options_.config;
            config.printCommand.clear();
            if (!options_.reportOutputDir.empty())
                config.reportOutputDir = options_.reportOutputDir;
            // A folder named by the options or the configuration keeps the files.
            outputDir_ = config.reportOutputDir;
            before_ = filesIn(outputDir_);
            host_ = std::make_unique<HostRun>(config, ho);
            while (std::getline(in, line)) {
                ++number;
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                const auto first = line.find_first_not_of(" \t");
                if (first == std::string::npos || line[first] == '#')
                    continue;
                try {
                    Execute(SplitScenarioLine(line));
                } catch (const LineFailure &f) {
                    result.failures.push_back(name_ + ":" + std::to_string(number) + ": " + f.Message());
                    break;
                } catch (const std::exception &e) {
                    result.failures.push_back(name_ + ":" + std::to_string(number) + ": " + e.what());
                    break;
                }
            }
        } catch (const std::exception &e) {
            result.failures.push_back(name_ + ": the host could not start: " + e.what());
        }
        if (!outputDir_.empty())
            for (const std::string &f : filesIn(outputDir_))
                if (!before_.count(f))
                    result.written.push_back(f);
        host_.reset();
        SetWidgetSet(std::make_unique<HeadlessWidgetSet>());
        SetReportUserInterface(nullptr);
        result.passed = result.failures.empty();
        return result;
    }

private:
    // --- the screen and its controls -----------------------------------
    TCustomForm *Screen() const
    {
        if (!Application)
            return nullptr;
        for (int i = 0; i < Application->ComponentCount(); ++i)
            if (auto *f = dynamic_cast<TCustomForm *>(Application->Components(i)))
                if (std::string(f->ClassName()) == kScreenClass && !f->Releasing())
                    return f;
        return nullptr;
    }
    int ScreenCount() const
    {
        int n = 0;
        for (int i = 0; Application && i < Application->ComponentCount(); ++i)
            if (auto *f = dynamic_cast<TCustomForm *>(Application->Components(i)))
                if (std::string(f->ClassName()) == kScreenClass && !f->Releasing())
                    ++n;
        return n;
    }
    TCustomForm &RequireScreen() const
    {
        TCustomForm *s = Screen();
        if (!s)
            fail("no screen is open");
        return *s;
    }
    TComponent &Find(const std::string &name) const
    {
        TCustomForm &s = RequireScreen();
        if (name == kScreenName)
            return s;
        TComponent *c = s.FindComponent(name);
        if (!c)
            fail("the screen has no control " + name);
        return *c;
    }
    template <class T>
    T &FindAs(const std::string &name, const char *what) const
    {
        T *t = dynamic_cast<T *>(&Find(name));
        if (!t)
            fail(name + " is not " + what);
        return *t;
    }
    // A person can only act on what is enabled, visible and not inside a disabled group.
    TControl &Usable(const std::string &name) const
    {
        auto &c = FindAs<TControl>(name, "a control");
        if (!c.IsUsable())
            fail(name + " cannot be used: it is disabled or inside a disabled group");
        return c;
    }
    void RequireBuilt(TComponent &c, const std::string &event) const
    {
        const std::string method = c.BoundMethod(event);
        if (!method.empty() && RequireScreen().Methods().IsPlaceholder(method))
            fail("not available yet: " + method + " (" + c.Name() + "." + event + ")");
    }

    // --- a person's action ---------------------------------------------
    void Person(const std::function<void()> &action)
    {
        const long runsBefore = TReportDesignerDialog::TotalRunCount();
        Application->RunUserAction(action);
        reportRan_ = TReportDesignerDialog::TotalRunCount() != runsBefore;
    }
    // Clicks into a control; true when it has the focus afterwards.
    bool FocusInto(const std::string &name)
    {
        auto &c = Usable(name);
        auto *w = dynamic_cast<TWinControl *>(&c);
        if (!w || !w->AcceptsFocus())
            fail(name + " cannot take the focus");
        Person([w] { w->SetFocus(); });
        return Screen() && Screen()->ActiveControl() == w;
    }

    // --- commands ------------------------------------------------------
    static const std::string &Arg(const std::vector<ScenarioWord> &w, std::size_t i, const char *what)
    {
        if (i >= w.size())
            fail(std::string("missing ") + what);
        return w[i].text;
    }
    static const std::string &Quoted(const std::vector<ScenarioWord> &w, std::size_t i, const char *what)
    {
        if (i >= w.size() || !w[i].quoted)
            fail(std::string("expected a quoted ") + what);
        return w[i].text;
    }
    static void NoMore(const std::vector<ScenarioWord> &w, std::size_t n)
    {
        if (w.size() > n)
            fail("unexpected '" + w[n].text + "'");
    }
    static bool YesNo(const std::vector<ScenarioWord> &w, std::size_t i)
    {
        const std::string &v = Arg(w, i, "yes or no");
        if (v == "yes")
            return true;
        if (v == "no")
            return false;
        fail("expected yes or no, not '" + v + "'");
    }

public:
    using Words = std::vector<ScenarioWord>;
    // A word of the language: its name, its arguments as --help shows them,
    // what it does, and the handler that reads the rest of the line.
    struct Verb {
        const char *name;
        const char *arguments;
        const char *meaning;
        void (Runner::*run)(const Words &);
    };
    static const std::vector<Verb> &Commands();
    static const std::vector<Verb> &Expectations();

private:
    static const Verb *Lookup(const std::vector<Verb> &verbs, const std::string &name)
    {
        for (const Verb &v : verbs)
            if (name == v.name)
                return &v;
        return nullptr;
    }

    void Execute(const Words &w)
    {
        const Verb *verb = Lookup(Commands(), w[0].text);
        if (!verb)
            fail("unknown command '" + w[0].text + "'");
        (this->*verb->run)(w);
    }

    // --- commands: what a person does -----------------------------------
    void Open(const Words &w)
    {
        NoMore(w, 1);
        Person([this] { host_->Package().IniProc(); });
        queryMark_ = StatementCounter::Count();
    }
    void Activate(const Words &w)
    {
        NoMore(w, 1);
        TCustomForm &screen = RequireScreen();
        Person([this] {
            if (!other_) {
                Application->CreateForm(other_);
                other_->SetCaption("Outra janela");
            }
            other_->Show();
        });
        Person([&screen] { screen.Show(); });
    }
    void CloseScreen(const Words &w)
    {
        NoMore(w, 1);
        TCustomForm &screen = RequireScreen();
        Person([&screen] { screen.Close(); });
    }
    void Report(const Words &w)
    {
        const std::string &item = Quoted(w, 1, "item");
        NoMore(w, 2);
        PickFrom("cbbReportNames", item);
    }
    void Choose(const Words &w)
    {
        const std::string &control = Arg(w, 1, "control");
        const std::string &item = Quoted(w, 2, "item");
        NoMore(w, 3);
        PickFrom(control, item);
    }
    void PickFrom(const std::string &control, const std::string &item)
    {
        auto &box = FindAs<TComboBox>(control, "a combo box");
        const auto &items = box.Items();
        auto it = std::find(items.begin(), items.end(), item);
        if (it == items.end())
            fail(control + " has no entry " + quote(item));
        if (FocusInto(control))
            Person([&box, index = static_cast<int>(it - items.begin())] { box.PickItem(index); });
    }
    void Focus(const Words &w)
    {
        const std::string &control = Arg(w, 1, "control");
        NoMore(w, 2);
        FocusInto(control);
    }
    void Type(const Words &w)
    {
        const std::string &control = Arg(w, 1, "control");
        const std::string &text = Quoted(w, 2, "text");
        NoMore(w, 3);
        auto &edit = FindAs<TCustomEdit>(control, "an edit");
        if (!FocusInto(control))
            return;  // the control that had the focus kept it
        if (text.empty()) {
            Person([&edit] {
                edit.SelectAll();
                edit.DeleteSelection();
            });
            return;
        }
        Person([&edit] { edit.SelectAll(); });
        for (char32_t key : utf8::decode(text)) {
            if (!Screen() || Screen()->ActiveControl() != &edit)
                break;  // a handler moved the focus: later keys would go elsewhere
            Person([&edit, key] { edit.TypeKey(key); });
        }
    }
    void Tab(const Words &w)
    {
        NoMore(w, 1);
        TCustomForm &screen = RequireScreen();
        Person([&screen] { screen.SelectNext(true); });
    }
    void Key(const Words &w)
    {
        const std::string &name = Arg(w, 1, "key");
        NoMore(w, 2);
        const auto key = ParseKey(name);
        if (!key)
            fail("unknown key '" + name + "'");
        TCustomForm &screen = RequireScreen();
        Person([&screen, key] { screen.KeyDown(key->first, key->second); });
    }
    void ClickControl(const Words &w)
    {
        const std::string &control = Arg(w, 1, "control");
        NoMore(w, 2);
        auto &c = Usable(control);
        RequireBuilt(c, "OnClick");
        if (auto *win = dynamic_cast<TWinControl *>(&c); win && win->AcceptsFocus())
            if (!FocusInto(control))
                return;
        Person([&c] { c.Click(); });
    }
    void PickOne(const Words &w)
    {
        const std::string &control = Arg(w, 1, "control");
        PickAnswer answer;
        if (w.size() > 2 && !w[2].quoted && w[2].text == "cancel")
            answer.cancel = true;
        else
            answer.keys.push_back(Quoted(w, 2, "key"));
        NoMore(w, 3);
        auto &button = FindAs<TBtnPesquisa>(control, "a lookup button");
        Usable(control);
        RequireBuilt(button, "OnBeforePesq");
        RequireBuilt(button, "OnClick");
        Pick(button, std::move(answer));
    }
    void PickList(const Words &w)
    {
        const std::string &control = Arg(w, 1, "control");
        PickAnswer answer;
        for (std::size_t i = 2; i < w.size(); ++i)
            answer.keys.push_back(Quoted(w, i, "key"));
        auto &button = FindAs<TControl>(control, "a button");
        Usable(control);
        RequireBuilt(button, "OnClick");
        Pick(button, std::move(answer));
    }
    void Mark(const Words &w)
    {
        if (Arg(w, 1, "'queries'") != "queries")
            fail("expected 'mark queries'");
        NoMore(w, 2);
        queryMark_ = StatementCounter::Count();
    }
    void Answer(const Words &w)
    {
        if (w.size() > 1 && !w[1].quoted && w[1].text == "cancel")
            ws_->promptAnswers.push_back(std::nullopt);
        else
            ws_->promptAnswers.push_back(Quoted(w, 1, "answer"));
        NoMore(w, 2);
    }

    void Pick(TControl &button, PickAnswer answer)
    {
        ws_->pickAnswers.clear();
        ws_->pickFailure.reset();
        ws_->pickAnswers.push_back(std::move(answer));
        Person([&button] { button.Click(); });
        ws_->pickAnswers.clear();  // no list opened: the answer was not needed
        if (ws_->pickFailure) {
            std::string why = *ws_->pickFailure;
            ws_->pickFailure.reset();
            fail(why);
        }
    }

    // "Down", "Shift+Tab", "Alt+Down", "Ctrl+A", "F2".
    static std::optional<std::pair<TKey, TShiftState>> ParseKey(const std::string &name)
    {
        static const std::map<std::string, TKey> keys = {
            {"Tab", TKey::Tab},       {"Enter", TKey::Enter},   {"Escape", TKey::Escape}, {"Space", TKey::Space},
            {"Left", TKey::Left},     {"Right", TKey::Right},   {"Up", TKey::Up},         {"Down", TKey::Down},
            {"Home", TKey::Home},     {"End", TKey::End},       {"Delete", TKey::Delete}, {"Backspace", TKey::Backspace},
            {"A", TKey::A},           {"F2", TKey::F2},         {"F3", TKey::F3},         {"F4", TKey::F4}};
        TShiftState shift = ssNone;
        std::string rest = name;
        for (std::size_t plus; (plus = rest.find('+')) != std::string::npos && plus + 1 < rest.size();) {
            const std::string mod = rest.substr(0, plus);
            if (mod == "Shift") shift |= ssShift;
            else if (mod == "Alt") shift |= ssAlt;
            else if (mod == "Ctrl") shift |= ssCtrl;
            else return std::nullopt;
            rest = rest.substr(plus + 1);
        }
        auto it = keys.find(rest);
        if (it == keys.end())
            return std::nullopt;
        return std::make_pair(it->second, shift);
    }

    static void Check(bool ok, const std::string &expected, const std::string &got)
    {
        if (!ok)
            fail("expected " + expected + ", got " + got);
    }

    void Expect(const Words &w)
    {
        const std::string &what = Arg(w, 1, "what to expect");
        const Verb *verb = Lookup(Expectations(), what);
        if (!verb)
            fail("unknown expectation '" + what + "'");
        (this->*verb->run)(w);
    }

    // --- expectations: what must hold ----------------------------------
    void ExpectMessage(const Words &w)
    {
        const std::string &text = Quoted(w, 2, "message");
        NoMore(w, 3);
        if (ws_->messages.empty())
            fail("expected message " + quote(text) + ", got no message");
        std::string got = ws_->messages.front().text;
        ws_->messages.pop_front();
        Check(got == text, "message " + quote(text), "message " + quote(got));
    }
    void ExpectNoMessage(const Words &w)
    {
        if (Arg(w, 2, "'message'") != "message")
            fail("expected 'expect no message'");
        NoMore(w, 3);
        if (!ws_->messages.empty())
            fail("expected no message, got message " + quote(ws_->messages.front().text));
    }
    void ExpectFocus(const Words &w)
    {
        const std::string &control = Arg(w, 2, "control");
        NoMore(w, 3);
        Find(control);
        TWinControl *active = RequireScreen().ActiveControl();
        std::string got = active ? active->Name() : "no control";
        Check(got == control, "focus " + control, "focus " + got);
    }
    void ExpectText(const Words &w)
    {
        const std::string &control = Arg(w, 2, "control");
        const std::string &text = Quoted(w, 3, "text");
        NoMore(w, 4);
        TComponent &c = Find(control);
        std::string got;
        if (auto *e = dynamic_cast<TCustomEdit *>(&c)) got = e->Text();
        else if (auto *b = dynamic_cast<TComboBox *>(&c)) got = b->Text();
        else if (auto *k = dynamic_cast<TControl *>(&c)) got = k->Caption();
        else fail(control + " has no text");
        Check(got == text, "text " + quote(text), "text " + quote(got));
    }
    void ExpectEnabled(const Words &w)
    {
        const std::string &control = Arg(w, 2, "control");
        const bool want = YesNo(w, 3);
        NoMore(w, 4);
        const bool got = FindAs<TControl>(control, "a control").Enabled();
        Check(got == want, std::string("enabled ") + (want ? "yes" : "no"), std::string("enabled ") + (got ? "yes" : "no"));
    }
    void ExpectChecked(const Words &w)
    {
        const std::string &control = Arg(w, 2, "control");
        const bool want = YesNo(w, 3);
        NoMore(w, 4);
        const bool got = FindAs<TRadioButton>(control, "a radio button").Checked();
        Check(got == want, std::string("checked ") + (want ? "yes" : "no"), std::string("checked ") + (got ? "yes" : "no"));
    }
    void ExpectCaption(const Words &w)
    {
        const std::string &control = Arg(w, 2, "control");
        const std::string &text = Quoted(w, 3, "caption");
        NoMore(w, 4);
        std::string got = FindAs<TControl>(control, "a control").Caption();
        Check(got == text, "caption " + quote(text), "caption " + quote(got));
    }
    void ExpectColor(const Words &w)
    {
        const std::string &control = Arg(w, 2, "control");
        const std::string &name = Arg(w, 3, "colour");
        NoMore(w, 4);
        if (!StringToColor(name))
            fail("unknown colour " + name);
        std::string got = ColorToString(FindAs<TControl>(control, "a control").Color());
        Check(got == name, "color " + name, "color " + got);
    }
    void ExpectSelected(const Words &w)
    {
        const std::string &control = Arg(w, 2, "control");
        const std::string &item = Quoted(w, 3, "item");
        NoMore(w, 4);
        std::string got = FindAs<TComboBox>(control, "a combo box").Text();
        Check(got == item, "selected " + quote(item), "selected " + quote(got));
    }
    void ExpectTitle(const Words &w)
    {
        const std::string &control = Arg(w, 2, "control");
        const std::string &text = Quoted(w, 3, "title");
        NoMore(w, 4);
        std::string got = FindAs<TBtnPesquisa>(control, "a lookup button").Title;
        Check(got == text, "title " + quote(text), "title " + quote(got));
    }
    void ExpectGlobal(const Words &w)
    {
        const std::string &name = Arg(w, 2, "global");
        const std::string &text = Quoted(w, 3, "text");
        NoMore(w, 4);
        if (name != "stListaMod" && name != "stListaTp" && name != "stProdIni" && name != "stProdFin")
            fail("no text global " + name);
        auto *value = host_->Package().Global<AnsiString>(name);
        if (!value)
            fail("the package does not export " + name);
        Check(*value == text, "global " + name + " " + quote(text), quote(*value));
    }
    void ExpectScreens(const Words &w)
    {
        const std::string &n = Arg(w, 2, "count");
        NoMore(w, 3);
        const std::string got = std::to_string(ScreenCount());
        Check(got == n, "screens " + n, "screens " + got);
    }
    void ExpectReport(const Words &w)
    {
        const std::string &a = Arg(w, 2, "ran or not ran");
        bool want;
        if (a == "ran") {
            want = true;
            NoMore(w, 3);
        } else if (a == "not" && Arg(w, 3, "ran") == "ran") {
            want = false;
            NoMore(w, 4);
        } else {
            fail("expected 'report ran' or 'report not ran'");
        }
        Check(reportRan_ == want, want ? "report ran" : "report not ran", reportRan_ ? "report ran" : "report not ran");
    }
    void ExpectQueries(const Words &w)
    {
        const std::string &n = Arg(w, 2, "count");
        NoMore(w, 3);
        const long got = StatementCounter::Count() - queryMark_;
        queryMark_ = StatementCounter::Count();
        Check(std::to_string(got) == n, "queries " + n, "queries " + std::to_string(got));
    }

    void ExpectParam(const Words &w)
    {
        const std::string &name = Arg(w, 2, "parameter");
        TCustomForm &screen = RequireScreen();
        if (screen.Methods().IsPlaceholder("rpddPadraoBeforeGetQueryParams"))
            fail("not available yet: rpddPadraoBeforeGetQueryParams (report query parameters)");
        auto *dialog = dynamic_cast<TReportDesignerDialog *>(screen.FindComponent("rpddPadrao"));
        if (!dialog || !dialog->LastRun())
            fail("no report has run");
        const TParam *p = dialog->LastRun()->params.FindParam(name);
        if (w.size() > 3 && !w[3].quoted && w[3].text == "absent") {
            NoMore(w, 4);
            Check(p == nullptr, "param " + name + " absent", "param " + name + " present");
            return;
        }
        if (!p)
            fail("expected param " + name + ", got no such parameter");
        if (w.size() > 3 && !w[3].quoted && w[3].text == "date") {
            const std::string &date = Quoted(w, 4, "date");
            NoMore(w, 5);
            if (p->AsVariant().kind() != Variant::Kind::DateTime)
                fail("expected param " + name + " date " + quote(date) + ", got " + quote(p->AsString()));
            const std::string got = DateToIso(p->AsVariant().asDateTime());
            Check(got == date, "param " + name + " date " + quote(date), "date " + quote(got));
            return;
        }
        const std::string &text = Quoted(w, 3, "value");
        NoMore(w, 4);
        if (p->AsVariant().kind() != Variant::Kind::Text)
            fail("expected param " + name + " " + quote(text) + ", got a value that is not a text (" +
                 (p->IsNull() ? std::string("NULL") : quote(p->AsString())) + ")");
        Check(p->AsString() == text, "param " + name + " " + quote(text), quote(p->AsString()));
    }

    // The report files in a folder, by path.
    static std::set<std::string> filesIn(const std::string &dir)
    {
        std::set<std::string> files;
        std::error_code ec;
        if (dir.empty())
            return files;
        for (const auto &e : std::filesystem::directory_iterator(dir, ec))
            if (e.is_regular_file() && e.path().filename().string()[0] != '.')
                files.insert(e.path().string());
        return files;
    }

    std::string name_;
    const ScenarioOptions &options_;
    std::string outputDir_;
    std::set<std::string> before_;
    std::unique_ptr<HostRun> host_;
    HeadlessWidgetSet *ws_ = nullptr;
    TForm *other_ = nullptr;
    long queryMark_ = 0;
    bool reportRan_ = false;
};

const std::vector<Runner::Verb> &Runner::Commands()
{
    static const std::vector<Verb> verbs = {
        {"open", "", "the host calls the package entry (again: brings the screen to the front)", &Runner::Open},
        {"activate", "", "switches to another child window and back", &Runner::Activate},
        {"close", "", "closes the screen", &Runner::CloseScreen},
        {"report", "\"TITLE\"", "picks TITLE in the report selector with the mouse", &Runner::Report},
        {"choose", "CONTROL \"ITEM\"", "picks ITEM in a drop-down list with the mouse", &Runner::Choose},
        {"focus", "CONTROL", "clicks into CONTROL", &Runner::Focus},
        {"type", "CONTROL \"TEXT\"", "selects all of CONTROL's text and types TEXT key by key", &Runner::Type},
        {"tab", "", "presses Tab", &Runner::Tab},
        {"key", "NAME", "presses a key: Down, Shift+Tab, Alt+Down, Ctrl+A, F2...", &Runner::Key},
        {"click", "CONTROL", "clicks a button or a radio button", &Runner::ClickControl},
        {"pick", "CONTROL \"KEY\" | cancel", "opens a lookup list and picks KEY, or closes it", &Runner::PickOne},
        {"picklist", "CONTROL \"KEY\"...", "opens a multiple-choice list, leaves exactly the KEYs chosen, confirms",
         &Runner::PickList},
        {"mark", "queries", "restarts the count of the screen's statements", &Runner::Mark},
        {"answer", "\"TEXT\" | cancel", "answers the next text prompt", &Runner::Answer},
        {"expect", "WHAT ...", "checks what must hold (below)", &Runner::Expect},
    };
    return verbs;
}

const std::vector<Runner::Verb> &Runner::Expectations()
{
    static const std::vector<Verb> verbs = {
        {"message", "\"TEXT\"", "the oldest message not yet expected is TEXT", &Runner::ExpectMessage},
        {"no", "message", "no message is left unexpected", &Runner::ExpectNoMessage},
        {"focus", "CONTROL", "CONTROL has the focus", &Runner::ExpectFocus},
        {"text", "CONTROL \"TEXT\"", "the control's text as the program reads it", &Runner::ExpectText},
        {"enabled", "CONTROL yes|no", "the control's own enabled property", &Runner::ExpectEnabled},
        {"checked", "CONTROL yes|no", "a radio button's checked state", &Runner::ExpectChecked},
        {"caption", "CONTROL \"TEXT\"", "the caption of a label, group box, radio button or the form",
         &Runner::ExpectCaption},
        {"color", "CONTROL NAME", "the colour by name (clInfoBk, clWindow, clBtnFace, clWhite)", &Runner::ExpectColor},
        {"selected", "CONTROL \"ITEM\"", "the selected entry of a combo box", &Runner::ExpectSelected},
        {"title", "CONTROL \"TEXT\"", "the title a lookup button has now", &Runner::ExpectTitle},
        {"global", "NAME \"TEXT\"", "a package global holds TEXT", &Runner::ExpectGlobal},
        {"screens", "N", "N screens exist", &Runner::ExpectScreens},
        {"report", "ran | not ran", "the last action ran a report, or did not", &Runner::ExpectReport},
        {"param", "NAME \"TEXT\" | date \"YYYY-MM-DD\" | absent", "what the last report run received",
         &Runner::ExpectParam},
        {"queries", "N", "statements the screen ran since the last mark", &Runner::ExpectQueries},
    };
    return verbs;
}

} // namespace

std::vector<ScenarioWord> SplitScenarioLine(const std::string &line)
{
    std::vector<ScenarioWord> words;
    std::size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t') {
            ++i;
            continue;
        }
        ScenarioWord w;
        if (line[i] == '"') {
            w.quoted = true;
            ++i;
            bool closed = false;
            while (i < line.size()) {
                char c = line[i++];
                if (c == '\\' && i < line.size() && (line[i] == '"' || line[i] == '\\')) {
                    w.text += line[i++];
                } else if (c == '"') {
                    closed = true;
                    break;
                } else {
                    w.text += c;
                }
            }
            if (!closed)
                throw Exception("unterminated string");
            if (i < line.size() && line[i] != ' ' && line[i] != '\t')
                throw Exception("a blank must follow a closing quote");
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t')
                w.text += line[i++];
        }
        words.push_back(std::move(w));
    }
    return words;
}

std::string ScenarioHelp()
{
    const auto line = [](const std::string &left, const char *meaning) {
        return "  " + left + std::string(left.size() < 40 ? 40 - left.size() : 1, ' ') + meaning + "\n";
    };
    std::string out = "Scenario commands, one per line (# starts a comment):\n";
    for (const auto &v : Runner::Commands())
        out += line(std::string(v.name) + (*v.arguments ? " " : "") + v.arguments, v.meaning);
    out += "Expectations:\n";
    for (const auto &v : Runner::Expectations())
        out += line(std::string("expect ") + v.name + (*v.arguments ? " " : "") + v.arguments, v.meaning);
    return out;
}

ScenarioResult RunScenarioText(const std::string &name, const std::string &text, const ScenarioOptions &options)
{
    Runner runner(name, options);
    return runner.Run(text);
}

ScenarioResult RunScenarioFile(const std::string &path, const ScenarioOptions &options)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        ScenarioResult r;
        r.failures.push_back(path + ": cannot read the file");
        return r;
    }
    std::stringstream text;
    text << in.rdbuf();
    return RunScenarioText(path, text.str(), options);
}

int RunScenarios(const std::vector<std::string> &files, const ScenarioOptions &options, std::ostream &out)
{
    int passed = 0, failed = 0;
    for (const auto &f : files) {
        ScenarioResult r = RunScenarioFile(f, options);
        for (const auto &line : r.failures)
            out << line << '\n';
        for (const auto &file : r.written)
            out << f << ": wrote " << file << '\n';
        (r.passed ? passed : failed) += 1;
    }
    out << passed << " passed, " << failed << " failed" << std::endl;
    return failed == 0 ? 0 : 1;
}
