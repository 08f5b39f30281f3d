#include "scenario_runner.h"

#include "rtl/files.h"

#include <cerrno>
#include <cstring>

#include <signal.h>

namespace scenario {
ScenarioResult Runner::Run(const std::string &text)
{
    ScenarioResult result;
    auto headless = std::make_unique<HeadlessWidgetSet>();
    ws_ = headless.get();
    SetWidgetSet(std::move(headless));
    SetReportUserInterface(std::make_unique<HeadlessReportUi>());
    std::istringstream in(WithoutBom(text));
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
            if (line.size() > kScenarioLineLimit) {
                // Named by its number only: echoing it could print megabytes.
                result.failures.push_back(name_ + ":" + std::to_string(number) + ": linha com mais de " +
                                          std::to_string(kScenarioLineLimit) + " bytes; não foi lida.");
                break;
            }
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

TCustomForm *Runner::Screen() const
{
    if (!Application)
        return nullptr;
    for (int i = 0; i < Application->ComponentCount(); ++i)
        if (auto *f = dynamic_cast<TCustomForm *>(Application->Components(i)))
            if (std::string(f->ClassName()) == kScreenClass && !f->Releasing())
                return f;
    return nullptr;
}

int Runner::ScreenCount() const
{
    int n = 0;
    for (int i = 0; Application && i < Application->ComponentCount(); ++i)
        if (auto *f = dynamic_cast<TCustomForm *>(Application->Components(i)))
            if (std::string(f->ClassName()) == kScreenClass && !f->Releasing())
                ++n;
    return n;
}

TCustomForm &Runner::RequireScreen() const
{
    TCustomForm *s = Screen();
    if (!s)
        fail("no screen is open");
    return *s;
}

TComponent &Runner::Find(const std::string &name) const
{
    TCustomForm &s = RequireScreen();
    if (name == kScreenName)
        return s;
    TComponent *c = s.FindComponent(name);
    if (!c)
        fail("the screen has no control " + name);
    return *c;
}

TControl &Runner::Usable(const std::string &name) const
{
    auto &c = FindAs<TControl>(name, "a control");
    if (!c.IsUsable())
        fail(name + " cannot be used: it is disabled or inside a disabled group");
    return c;
}

void Runner::RequireBuilt(TComponent &c, const std::string &event) const
{
    const std::string method = c.BoundMethod(event);
    if (!method.empty() && RequireScreen().Methods().IsPlaceholder(method))
        fail("not available yet: " + method + " (" + c.Name() + "." + event + ")");
}

void Runner::Person(const std::function<void()> &action)
{
    const long runsBefore = TReportDesignerDialog::TotalRunCount();
    Application->RunUserAction(action);
    reportRan_ = TReportDesignerDialog::TotalRunCount() != runsBefore;
}

bool Runner::FocusInto(const std::string &name)
{
    auto &c = Usable(name);
    auto *w = dynamic_cast<TWinControl *>(&c);
    if (!w || !w->AcceptsFocus())
        fail(name + " cannot take the focus");
    Person([w] { w->SetFocus(); });
    return Screen() && Screen()->ActiveControl() == w;
}

const std::string &Runner::Arg(const std::vector<ScenarioWord> &w, std::size_t i, const char *what)
{
    if (i >= w.size())
        fail(std::string("missing ") + what);
    return w[i].text;
}

const std::string &Runner::Quoted(const std::vector<ScenarioWord> &w, std::size_t i, const char *what)
{
    if (i >= w.size() || !w[i].quoted)
        fail(std::string("expected a quoted ") + what);
    return w[i].text;
}

void Runner::NoMore(const std::vector<ScenarioWord> &w, std::size_t n)
{
    if (w.size() > n)
        fail("unexpected '" + w[n].text + "'");
}

bool Runner::YesNo(const std::vector<ScenarioWord> &w, std::size_t i)
{
    const std::string &v = Arg(w, i, "yes or no");
    if (v == "yes")
        return true;
    if (v == "no")
        return false;
    fail("expected yes or no, not '" + v + "'");
}

const Runner::Verb *Runner::Lookup(const std::vector<Verb> &verbs, const std::string &name)
{
    for (const Verb &v : verbs)
        if (name == v.name)
            return &v;
    return nullptr;
}

void Runner::Execute(const Words &w)
{
    const Verb *verb = Lookup(Commands(), w[0].text);
    if (!verb)
        fail("unknown command '" + w[0].text + "'");
    (this->*verb->run)(w);
}

std::set<std::string> Runner::filesIn(const std::string &dir)
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
        {"hint", "CONTROL \"TEXT\"", "the hint the control shows", &Runner::ExpectHint},
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
} // namespace scenario

using scenario::Runner;

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
    std::string text;
    try {
        text = ReadRegularFile(path, kScenarioFileLimit);
    } catch (const EFileReadError &e) {
        ScenarioResult r;
        r.failures.push_back(e.Message());  // names the path
        return r;
    }
    return RunScenarioText(path, text, options);
}

std::size_t RemoveLeftoverRunFolders(const std::string &dir)
{
    std::size_t removed = 0;
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(dir, ec)) {
        const std::string name = entry.path().filename().string();
        std::size_t at = std::string::npos;
        for (const char *prefix : {"fishost-run-", "fishost-saved-", "fisdemo-"})
            if (name.rfind(prefix, 0) == 0)
                at = std::strlen(prefix);
        if (at == std::string::npos || !entry.is_directory(ec))
            continue;
        const std::size_t dash = name.find('-', at);
        const std::string pid = name.substr(at, dash == std::string::npos ? 0 : dash - at);
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        // A process that no longer runs cannot come back for its folder.
        if (::kill(static_cast<pid_t>(std::stol(pid)), 0) != 0 && errno == ESRCH) {
            std::filesystem::remove_all(entry.path(), ec);
            removed += !ec;
        }
    }
    return removed;
}

int RunScenarios(const std::vector<std::string> &files, const ScenarioOptions &options, std::ostream &out)
{
    RemoveLeftoverRunFolders(std::filesystem::temp_directory_path().string());
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
