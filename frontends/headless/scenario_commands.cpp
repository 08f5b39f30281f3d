#include "scenario_runner.h"

namespace scenario {
void Runner::Open(const Words &w)
{
    NoMore(w, 1);
    Person([this] { host_->Package().IniProc(); });
    queryMark_ = StatementCounter::Count();
}

void Runner::Activate(const Words &w)
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

void Runner::CloseScreen(const Words &w)
{
    NoMore(w, 1);
    TCustomForm &screen = RequireScreen();
    Person([&screen] { screen.Close(); });
}

void Runner::Report(const Words &w)
{
    const std::string &item = Quoted(w, 1, "item");
    NoMore(w, 2);
    PickFrom("cbbReportNames", item);
}

void Runner::Choose(const Words &w)
{
    const std::string &control = Arg(w, 1, "control");
    const std::string &item = Quoted(w, 2, "item");
    NoMore(w, 3);
    PickFrom(control, item);
}

void Runner::PickFrom(const std::string &control, const std::string &item)
{
    auto &box = FindAs<TComboBox>(control, "a combo box");
    const auto &items = box.Items();
    auto it = std::find(items.begin(), items.end(), item);
    if (it == items.end())
        fail(control + " has no entry " + quote(item));
    if (FocusInto(control))
        Person([&box, index = static_cast<int>(it - items.begin())] { box.PickItem(index); });
}

void Runner::Focus(const Words &w)
{
    const std::string &control = Arg(w, 1, "control");
    NoMore(w, 2);
    FocusInto(control);
}

void Runner::Type(const Words &w)
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

void Runner::Tab(const Words &w)
{
    NoMore(w, 1);
    TCustomForm &screen = RequireScreen();
    Person([&screen] { screen.SelectNext(true); });
}

void Runner::Key(const Words &w)
{
    const std::string &name = Arg(w, 1, "key");
    NoMore(w, 2);
    const auto key = ParseKey(name);
    if (!key)
        fail("unknown key '" + name + "'");
    TCustomForm &screen = RequireScreen();
    Person([&screen, key] { screen.KeyDown(key->first, key->second); });
}

void Runner::ClickControl(const Words &w)
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

void Runner::PickOne(const Words &w)
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

void Runner::PickList(const Words &w)
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

void Runner::Mark(const Words &w)
{
    if (Arg(w, 1, "'queries'") != "queries")
        fail("expected 'mark queries'");
    NoMore(w, 2);
    queryMark_ = StatementCounter::Count();
}

void Runner::Answer(const Words &w)
{
    if (w.size() > 1 && !w[1].quoted && w[1].text == "cancel")
        ws_->promptAnswers.push_back(std::nullopt);
    else
        ws_->promptAnswers.push_back(Quoted(w, 1, "answer"));
    NoMore(w, 2);
}

void Runner::Pick(TControl &button, PickAnswer answer)
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

std::optional<std::pair<TKey, TShiftState>> Runner::ParseKey(const std::string &name)
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
} // namespace scenario
