// fishost: the host program, headless. It loads the screen package, gives it
// the configured database and an application server, and either shows the
// screen's state as text or runs scenario files.
#include "hostsetup.h"
#include "import_verbs.h"
#include "scenario.h"
#include "vcl/forms.h"
#include "vcl/headless.h"
#include "vcl/stdctrls.h"

#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

namespace {

void usage(std::ostream &out)
{
    out << "usage: fishost [--package PATH] [--engine sqlite|firebird] [--dialect oracle|mssql|interbase] [--no-server]\n"
           "       fishost script [options] [--output DIR] FILE...\n"
        << kImportUsage << kEfdUsage <<
           "Without a command it opens the screen on the configured database (the embedded\n"
           "demo database by default), prints its controls and closes it. With --output, the report\n"
           "files the scenarios write are kept in DIR instead of being removed.\n\n"
           "Configuration keys (the file named by FISHOST_CONFIG, each key overridden by\n"
           "FISHOST_<KEY> in upper case):\n"
        << HostConfig::KeysHelp() << '\n'
        << ScenarioHelp();
}

void printControl(const TControl &c, int depth, std::ostream &out)
{
    out << std::string(static_cast<std::size_t>(depth) * 2, ' ') << c.Name() << " (" << c.ClassName() << ")";
    if (auto *e = dynamic_cast<const TCustomEdit *>(&c))
        out << " text=\"" << e->DisplayText() << "\"";
    else if (auto *b = dynamic_cast<const TComboBox *>(&c))
        out << " selected=\"" << b->Text() << "\"";
    else if (!c.Caption().empty())
        out << " \"" << c.Caption() << "\"";
    if (auto *r = dynamic_cast<const TRadioButton *>(&c); r && r->Checked())
        out << " checked";
    if (!c.Enabled())
        out << " disabled";
    out << '\n';
    if (auto *w = dynamic_cast<const TWinControl *>(&c))
        for (TControl *child : w->Controls())
            printControl(*child, depth + 1, out);
}

int showScreen(HostConfig config, const ScenarioOptions &so)
{
    HostRunOptions ho;
    ho.packagePath = so.packagePath;
    ho.startServer = so.startServer;
    HostRun run(std::move(config), ho);
    Application->RunUserAction([&run] { run.Package().IniProc(); });
    auto *ws = HeadlessWidgets();
    for (const auto &m : ws->messages)
        std::cout << "message: " << m.text << '\n';
    TCustomForm *screen = Application->ActiveChild();
    if (!screen) {
        std::cerr << "fishost: the screen did not open\n";
        return 1;
    }
    std::cout << "Screen \"" << screen->Caption() << "\" on " << run.Config().engine << " ("
              << run.Config().dialect << "), application server " << run.Config().serverHost << ":"
              << run.Config().serverPort << "\n";
    for (TControl *c : screen->Controls())
        printControl(*c, 1, std::cout);
    std::cout << "focus: " << (screen->ActiveControl() ? screen->ActiveControl()->Name() : "none") << '\n';
    Application->RunUserAction([screen] { screen->Close(); });
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    ScenarioOptions so;
    bool script = false;
    std::vector<std::string> files;
    HostRunOptions run;
    try {
        so.config = HostConfig::Load();
        // Verbs with options of their own.
        static const struct {
            const char *name;
            int (*run)(const std::vector<std::string> &, HostConfig, std::ostream &, std::ostream &);
        } verbs[] = {{"import", RunImportVerb}, {"company", RunCompanyVerb}, {"efd", RunEfdVerb}};
        for (const auto &verb : verbs)
            if (!args.empty() && args[0] == verb.name) {
                const int status = verb.run({args.begin() + 1, args.end()}, so.config, std::cout, std::cerr);
                if (status != kUsageStatus)
                    return status;
                usage(std::cerr);
                return 2;
            }
        for (std::size_t i = 0; i < args.size(); ++i) {
            const std::string &a = args[i];
            if (a == "--help" || a == "-h") {
                usage(std::cout);
                return 0;
            } else if (a == "script" && !script && files.empty()) {
                script = true;
            } else if (a == "--output" && script) {
                if (i + 1 >= args.size())
                    throw UsageError("option --output needs a folder");
                so.reportOutputDir = args[++i];
                std::filesystem::create_directories(so.reportOutputDir);
            } else if (TakeHostOption(args, i, so.config, run)) {
                so.packagePath = run.packagePath;
                so.startServer = run.startServer;
            } else if (!a.empty() && a[0] == '-') {
                throw UsageError("unknown option " + a);
            } else if (script) {
                files.push_back(a);
            } else {
                throw UsageError("unknown command " + a);
            }
        }
        if (script) {
            if (files.empty())
                throw UsageError("script needs at least one file");
            return RunScenarios(files, so, std::cout);
        }
        return showScreen(so.config, so);
    } catch (const UsageError &e) {
        std::cerr << "fishost: " << e.what() << '\n';
        usage(std::cerr);
        return 2;
    } catch (const std::exception &e) {
        // The configuration, the database or the host failed: the command
        // line was right, and the usage text would bury the message.
        std::cerr << "fishost: " << e.what() << '\n';
        return 2;
    }
}
