#include "scenario_runner.h"

namespace scenario {
void Runner::Check(bool ok, const std::string &expected, const std::string &got)
{
    if (!ok)
        fail("expected " + expected + ", got " + got);
}

void Runner::Expect(const Words &w)
{
    const std::string &what = Arg(w, 1, "what to expect");
    const Verb *verb = Lookup(Expectations(), what);
    if (!verb)
        fail("unknown expectation '" + what + "'");
    (this->*verb->run)(w);
}

void Runner::ExpectMessage(const Words &w)
{
    const std::string &text = Quoted(w, 2, "message");
    NoMore(w, 3);
    if (ws_->messages.empty())
        fail("expected message " + quote(text) + ", got no message");
    std::string got = ws_->messages.front().text;
    ws_->messages.pop_front();
    Check(got == text, "message " + quote(text), "message " + quote(got));
}

void Runner::ExpectNoMessage(const Words &w)
{
    if (Arg(w, 2, "'message'") != "message")
        fail("expected 'expect no message'");
    NoMore(w, 3);
    if (!ws_->messages.empty())
        fail("expected no message, got message " + quote(ws_->messages.front().text));
}

void Runner::ExpectFocus(const Words &w)
{
    const std::string &control = Arg(w, 2, "control");
    NoMore(w, 3);
    Find(control);
    TWinControl *active = RequireScreen().ActiveControl();
    std::string got = active ? active->Name() : "no control";
    Check(got == control, "focus " + control, "focus " + got);
}

void Runner::ExpectText(const Words &w)
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

void Runner::ExpectEnabled(const Words &w)
{
    const std::string &control = Arg(w, 2, "control");
    const bool want = YesNo(w, 3);
    NoMore(w, 4);
    const bool got = FindAs<TControl>(control, "a control").Enabled();
    Check(got == want, std::string("enabled ") + (want ? "yes" : "no"), std::string("enabled ") + (got ? "yes" : "no"));
}

void Runner::ExpectChecked(const Words &w)
{
    const std::string &control = Arg(w, 2, "control");
    const bool want = YesNo(w, 3);
    NoMore(w, 4);
    const bool got = FindAs<TRadioButton>(control, "a radio button").Checked();
    Check(got == want, std::string("checked ") + (want ? "yes" : "no"), std::string("checked ") + (got ? "yes" : "no"));
}

void Runner::ExpectQuoted(const Words &w, const char *what, const char *argument,
                          const std::function<std::string(const std::string &)> &read)
{
    const std::string &control = Arg(w, 2, "control");
    const std::string &text = Quoted(w, 3, argument);
    NoMore(w, 4);
    const std::string got = read(control);
    Check(got == text, std::string(what) + " " + quote(text), std::string(what) + " " + quote(got));
}

void Runner::ExpectCaption(const Words &w)
{
    ExpectQuoted(w, "caption", "caption", [this](const std::string &c) { return FindAs<TControl>(c, "a control").Caption(); });
}

void Runner::ExpectHint(const Words &w)
{
    ExpectQuoted(w, "hint", "hint", [this](const std::string &c) { return FindAs<TControl>(c, "a control").Hint(); });
}

void Runner::ExpectColor(const Words &w)
{
    const std::string &control = Arg(w, 2, "control");
    const std::string &name = Arg(w, 3, "colour");
    NoMore(w, 4);
    if (!StringToColor(name))
        fail("unknown colour " + name);
    std::string got = ColorToString(FindAs<TControl>(control, "a control").Color());
    Check(got == name, "color " + name, "color " + got);
}

void Runner::ExpectSelected(const Words &w)
{
    ExpectQuoted(w, "selected", "item", [this](const std::string &c) { return FindAs<TComboBox>(c, "a combo box").Text(); });
}

void Runner::ExpectTitle(const Words &w)
{
    ExpectQuoted(w, "title", "title", [this](const std::string &c) { return FindAs<TBtnPesquisa>(c, "a lookup button").Title; });
}

void Runner::ExpectGlobal(const Words &w)
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

void Runner::ExpectScreens(const Words &w)
{
    const std::string &n = Arg(w, 2, "count");
    NoMore(w, 3);
    const std::string got = std::to_string(ScreenCount());
    Check(got == n, "screens " + n, "screens " + got);
}

void Runner::ExpectReport(const Words &w)
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

void Runner::ExpectQueries(const Words &w)
{
    const std::string &n = Arg(w, 2, "count");
    NoMore(w, 3);
    const long got = StatementCounter::Count() - queryMark_;
    queryMark_ = StatementCounter::Count();
    Check(std::to_string(got) == n, "queries " + n, "queries " + std::to_string(got));
}

void Runner::ExpectParam(const Words &w)
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
        const std::string got = FormatDate(p->AsVariant().asDateTime(), DateFormat::Iso);
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
} // namespace scenario
