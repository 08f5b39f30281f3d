#include "report/headless_reportui.h"

#include "rtl/sysutils.h"

#include <cerrno>

#include <spawn.h>
#include <sys/wait.h>

extern char **environ;

namespace {
std::unique_ptr<ReportUi> &installed()
{
    static std::unique_ptr<ReportUi> ui = std::make_unique<HeadlessReportUi>();
    return ui;
}

class SteadyProgress : public ReportProgress {
public:
    bool Step(std::size_t) override { return true; }
};
} // namespace

ReportUi &ReportUserInterface() { return *installed(); }

void ReportUi::RunLong(const std::string &title, const std::function<void(ReportProgress &)> &work,
                       const std::function<void()> &)
{
    std::unique_ptr<ReportProgress> progress = BeginProgress(title);
    work(*progress);
}

void SetReportUserInterface(std::unique_ptr<ReportUi> ui)
{
    installed() = ui ? std::move(ui) : std::make_unique<HeadlessReportUi>();
}

void HeadlessReportUi::Preview(const std::string &pdfPath, const std::string &, const ReportExport &)
{
    previewed_.push_back(pdfPath);
    if (viewer_)
        viewer_(pdfPath);
}

bool HeadlessReportUi::Print(const std::string &pdfPath, const std::string &)
{
    printed_.push_back(pdfPath);
    std::vector<std::string> args = SplitCommandLine(printCommand_);
    if (args.empty())
        return true;
    const std::string where = " O relatório foi gravado em '" + pdfPath + "'.";
    args.push_back(pdfPath);
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    const int err = ::posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ);
    if (err != 0)
        throw Exception("Não foi possível imprimir: '" + args[0] + "' não pôde ser executado (" +
                        SystemErrorText(err) + ")." + where);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw Exception("Não foi possível imprimir: '" + args[0] + "' terminou com erro." + where);
    return true;
}

std::unique_ptr<ReportProgress> HeadlessReportUi::BeginProgress(const std::string &)
{
    return std::make_unique<SteadyProgress>();
}

std::vector<std::string> SplitCommandLine(const std::string &command)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (std::size_t i = 0; i < command.size(); ++i) {
        const char c = command[i];
        if (quote) {
            if (c == quote)
                quote = 0;
            else if (c == '\\' && quote == '"' && i + 1 < command.size())
                word += command[++i];
            else
                word += c;
        } else if (c == '\'' || c == '"') {
            quote = c;
            inWord = true;
        } else if (c == '\\' && i + 1 < command.size()) {
            word += command[++i];
            inWord = true;
        } else if (c == ' ' || c == '\t') {
            if (inWord)
                words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words.push_back(std::move(word));
    return words;
}
