// The front end without a display: a preview is listed, a print goes to the
// configured command, which fails in Portuguese.
#include "report/headless_reportui.h"
#include "report_fixture.h"

#include <fstream>

TEST(HeadlessReportUi, PrintsThroughTheConfiguredCommand)
{
    TempDir dir;
    const std::string pdf = dir.file("r.pdf"), copy = dir.file("impresso.pdf");
    std::ofstream(pdf) << "%PDF-1.4";
    const struct {
        std::string command;
        const char *message;  // nullptr: printed
    } cases[] = {
        {"", nullptr},
        {"copy", nullptr},  // replaced below
        {"false", "'false' terminou com erro"},
        {"programa-que-nao-existe --x", "'programa-que-nao-existe' não pôde ser executado (arquivo ou pasta inexistente)"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        std::string command = cases[i].command;
        if (i == 1)  // a "printer" that copies the file to where the test can see it
            command = "sh -c 'cp \"$0\" \"" + copy + "\"'";
        SCOPED_TRACE(command);
        HeadlessReportUi ui(command);
        try {
            EXPECT_TRUE(ui.Print(pdf, "Relatório"));
            EXPECT_EQ(cases[i].message, nullptr);
        } catch (const Exception &e) {
            ASSERT_NE(cases[i].message, nullptr) << e.Message();
            EXPECT_NE(e.Message().find(cases[i].message), std::string::npos) << e.Message();
            EXPECT_NE(e.Message().find("O relatório foi gravado em '" + pdf + "'"), std::string::npos) << e.Message();
        }
        EXPECT_EQ(ui.Printed(), std::vector<std::string>{pdf});
    }
    EXPECT_TRUE(fs::exists(copy));
}

TEST(HeadlessReportUi, CommandLinesSplitLikeAShell)
{
    const struct {
        const char *line;
        std::vector<std::string> words;
    } rows[] = {
        {"lp", {"lp"}},
        {"  lp   -d  sala ", {"lp", "-d", "sala"}},
        {"lp -d 'Sala 2'", {"lp", "-d", "Sala 2"}},
        {"lp -t \"a \\\"b\\\"\"", {"lp", "-t", "a \"b\""}},
        {"a\\ b c", {"a b", "c"}},
        {"''", {""}},
        {"", {}},
    };
    for (const auto &r : rows)
        EXPECT_EQ(SplitCommandLine(r.line), r.words) << r.line;
}
