// The scenario runner itself: what passes, what fails and how it says so.
#include "scenario.h"
#include "../support/temp_folder.h"
#include "rtl/sysutils.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct RunnerCase {
    const char *name;
    const char *script;
    bool passes;
    const char *failure;  // the one failure line expected, when it fails
};

class RunnerTest : public ::testing::TestWithParam<RunnerCase> {};

TEST_P(RunnerTest, ReportsTheFirstFailureWithItsLine)
{
    const RunnerCase &c = GetParam();
    ScenarioOptions options;
    options.startServer = false;  // none of these cases reaches the server
    ScenarioResult r = RunScenarioText("t.scn", c.script, options);
    EXPECT_EQ(r.passed, c.passes);
    if (c.passes) {
        EXPECT_TRUE(r.failures.empty()) << r.failures.front();
    } else {
        ASSERT_EQ(r.failures.size(), 1u);
        EXPECT_EQ(r.failures.front(), c.failure);
    }
}

const RunnerCase kCases[] = {
    {"passing", "# comment\n\nopen\nexpect screens 1\n", true, ""},
    {"failed expectation", "open\n\nexpect screens 2\nexpect screens 7\n", false,
     "t.scn:3: expected screens 2, got screens 1"},
    {"unknown command", "open\nfrobnicate medCdEmpresa\n", false, "t.scn:2: unknown command 'frobnicate'"},
    {"unknown expectation", "open\nexpect colour medCdEmpresa clInfoBk\n", false,
     "t.scn:2: unknown expectation 'colour'"},
    {"unterminated string", "open\ntype medCdEmpresa \"01\n", false, "t.scn:2: unterminated string"},
    {"missing quotes", "open\ntype medCdEmpresa 01\n", false, "t.scn:2: expected a quoted text"},
    {"unknown control", "open\nfocus medNada\n", false, "t.scn:2: the screen has no control medNada"},
    {"disabled control", "open\ntype edtInscricao \"1\"\n", false,
     "t.scn:2: edtInscricao cannot be used: it is disabled or inside a disabled group"},
    {"control inside a disabled group", "open\nclick rdbListaMod\n", false,
     "t.scn:2: rdbListaMod cannot be used: it is disabled or inside a disabled group"},
    {"no screen", "expect focus medCdEmpresa\n", false, "t.scn:1: no screen is open"},
    {"message expected but none", "open\nexpect message \"Empresa não cadastrada.\"\n", false,
     "t.scn:2: expected message \"Empresa não cadastrada.\", got no message"},
    {"escapes in strings", "open\nexpect text medCdEmpresa \"a\\\"b\\\\\"\n", false,
     "t.scn:2: expected text \"a\\\"b\\\\\", got text \"\""},
    {"report title not listed", "open\nreport \"Resumo\"\n", false, "t.scn:2: cbbReportNames has no entry \"Resumo\""},
    {"a byte-order mark before the first command", "\xEF\xBB\xBFopen\nexpect screens 1\n", true, ""},
};

INSTANTIATE_TEST_SUITE_P(Scripts, RunnerTest, ::testing::ValuesIn(kCases),
                         [](const auto &info) {
                             std::string n = info.param.name;
                             for (char &ch : n)
                                 if (!isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return n;
                         });

// What is not a scenario file is refused before anything runs, each with
// the path and the reason; a line too long is named by its number, never
// echoed.
TEST(ScenarioFile, RefusesWhatIsNotARegularFileAndLinesTooLong)
{
    TempFolder f("fis-scenario");
    const std::string loop = f.file("loop.scn");
    std::filesystem::create_symlink(loop, loop);
    const std::string fifo = f.file("pipe.scn");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string longLine = f.file("long.scn");
    std::ofstream(longLine) << "open\ntype medCdEmpresa \"" << std::string(kScenarioLineLimit, '7') << "\"\n";
    const struct {
        const char *label;
        std::string path;
        std::string failure;
    } rows[] = {
        {"a device", "/dev/zero", "O arquivo '/dev/zero' não é um arquivo comum e não foi lido."},
        {"a pipe", fifo, "O arquivo '" + fifo + "' não é um arquivo comum e não foi lido."},
        {"a folder", f.root.string(), "Não foi possível ler o arquivo '" + f.root.string() + "': é uma pasta."},
        {"a loop of links", loop, "Não foi possível ler o arquivo '" + loop + "': ligações simbólicas em laço."},
        {"a line over the limit", longLine,
         longLine + ":2: linha com mais de " + std::to_string(kScenarioLineLimit) + " bytes; não foi lida."},
    };
    ScenarioOptions options;
    options.startServer = false;
    for (const auto &r : rows) {
        SCOPED_TRACE(r.label);
        const ScenarioResult result = RunScenarioFile(r.path, options);
        EXPECT_FALSE(result.passed);
        ASSERT_EQ(result.failures.size(), 1u);
        EXPECT_EQ(result.failures.front(), r.failure);
    }
}

TEST(ScenarioLineTest, SplitsWordsAndQuotedStrings)
{
    auto w = SplitScenarioLine("type  medCdEmpresa \"Empresa  \\\"X\\\"  \"");
    ASSERT_EQ(w.size(), 3u);
    EXPECT_EQ(w[1].text, "medCdEmpresa");
    EXPECT_FALSE(w[1].quoted);
    EXPECT_EQ(w[2].text, "Empresa  \"X\"  ");  // trailing blanks inside quotes count
    EXPECT_TRUE(w[2].quoted);
    EXPECT_THROW(SplitScenarioLine("answer \"x\"y"), Exception);
}

} // namespace

TEST(Runner, FoldersOfKilledRunsGoAtTheNextAndLiveOnesStay)
{
    TempFolder dir("fis-leftovers");
    const pid_t gone = fork();
    if (gone == 0)
        _exit(0);
    waitpid(gone, nullptr, 0);
    const std::string dead = std::to_string(gone), alive = std::to_string(getpid());
    const std::vector<std::string> folders = {
        "fishost-saved-" + dead + "-aB3xYz", "fishost-run-" + dead + "-aB3xYz", "fisdemo-" + dead + "-aB3xYz",
        "fishost-saved-" + alive + "-aB3xYz", "fishost-run-old-aB3xYz", "outro-" + dead + "-aB3xYz"};
    for (const std::string &f : folders)
        std::filesystem::create_directory(dir.file(f));
    std::ofstream(dir.file("fisdemo-" + dead + "-aB3xYz/demo.sqlite")) << "x";
    EXPECT_EQ(RemoveLeftoverRunFolders(dir.root.string()), 3u);
    EXPECT_EQ(dir.entries(), (std::set<std::string>{"fishost-saved-" + alive + "-aB3xYz", "fishost-run-old-aB3xYz",
                                                    "outro-" + dead + "-aB3xYz"}));
}
