// What a print or a preview leaves: the report's rows as a PDF, handed to
// the viewer or the printer; and nothing at all when the report fails.
#include "screen_fixture.h"

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {
struct Folder {
    Folder()
    {
        std::string pattern = (fs::temp_directory_path() / "fis-output-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~Folder() { fs::remove_all(path); }
    std::vector<fs::path> Files() const
    {
        std::vector<fs::path> out;
        for (const auto &e : fs::recursive_directory_iterator(path))
            if (e.is_regular_file())
                out.push_back(e.path());
        return out;
    }
    fs::path path;
};

std::string head(const std::string &file, std::size_t n)
{
    std::ifstream in(file, std::ios::binary);
    std::string s(n, '\0');
    in.read(s.data(), static_cast<std::streamsize>(n));
    s.resize(static_cast<std::size_t>(in.gcount()));
    return s;
}

class ReportOutputTest : public ScreenTest {
protected:
    void SetUp() override
    {
        ScreenTest::SetUp();
        MutableHostSettings().reportOutputDir = output.path.string();
    }
    TfrmResumoOficialCfop &Filled()
    {
        TfrmResumoOficialCfop &screen = Open();
        screen.medCdImposto->SetText("01");
        screen.medCdEmpresa->SetText("01");
        screen.depDtInicial->SetText("01/01/2026");
        screen.depDtFinal->SetText("31/01/2026");
        return screen;
    }
    Folder output;
};
} // namespace

TEST_F(ReportOutputTest, PrintAndPreviewWriteTheRowsAsPdfAndHandThemOn)
{
    struct Case {
        const char *what;
        TSpeedButton *TfrmResumoOficialCfop::*button;
        std::vector<std::string> HeadlessWidgetSet::*delivered;
        std::vector<std::string> HeadlessWidgetSet::*untouched;
    } cases[] = {
        {"print", &TfrmResumoOficialCfop::sbtPrint, &HeadlessWidgetSet::printedDocuments,
         &HeadlessWidgetSet::shownDocuments},
        {"preview", &TfrmResumoOficialCfop::sbtPreview, &HeadlessWidgetSet::shownDocuments,
         &HeadlessWidgetSet::printedDocuments},
    };
    TfrmResumoOficialCfop &screen = Filled();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ws->printedDocuments.clear();
        ws->shownDocuments.clear();
        Application->RunUserAction([&] { (screen.*c.button)->Click(); });
        ASSERT_TRUE(ws->messages.empty()) << ws->messages.front().text;
        const auto &run = *screen.rpddPadrao->LastRun();
        EXPECT_EQ(run.rows, 8u);  // the CFOPs of company 01's January entries
        EXPECT_EQ(run.pages, 1);
        ASSERT_EQ((ws->*c.delivered).size(), 1u);
        EXPECT_TRUE((ws->*c.untouched).empty());
        EXPECT_EQ((ws->*c.delivered)[0], run.output);
        EXPECT_EQ(fs::path(run.output).parent_path(), output.path);
        EXPECT_EQ(head(run.output, 5), "%PDF-");
    }
    EXPECT_EQ(output.Files().size(), 2u);  // one file per run
}

TEST_F(ReportOutputTest, LayoutEditsAndCancelledSavesWriteNothing)
{
    TfrmResumoOficialCfop &screen = Filled();
    Application->RunUserAction([&] { screen.sbtReportEdit->Click(); });
    ASSERT_TRUE(screen.rpddPadrao->LastRun());
    EXPECT_EQ(screen.rpddPadrao->LastRun()->output, "");
    ws->promptAnswers.push_back(std::nullopt);
    Application->RunUserAction([&] { screen.sbtSalvarComo->Click(); });
    EXPECT_TRUE(output.Files().empty());
    EXPECT_TRUE(ws->shownDocuments.empty());
    EXPECT_TRUE(ws->printedDocuments.empty());
}

TEST_F(ReportOutputTest, AReportWhoseQueryFailsSaysWhyAndLeavesNothing)
{
    Folder reports;
    fs::create_directories(reports.path / "FIS028");
    std::ofstream(reports.path / "FIS028" / "010.json")
        << R"({"code":"FIS028","title":"Quebrado","query":{"sql":["SELECT X FROM TABELA_QUE_NAO_EXISTE WHERE X = :P_CDEMPRESA"]}})";
    MutableHostSettings().reportsDir = reports.path.string();
    TfrmResumoOficialCfop &screen = Filled();
    const int runs = screen.rpddPadrao->RunCount();
    Application->RunUserAction([&] { screen.sbtPreview->Click(); });
    ASSERT_EQ(ws->messages.size(), 1u);
    EXPECT_NE(ws->messages.front().text.find("TABELA_QUE_NAO_EXISTE"), std::string::npos)
        << ws->messages.front().text;
    EXPECT_EQ(ws->messages.front().kind, MessageKind::Error);
    EXPECT_EQ(screen.rpddPadrao->RunCount(), runs);
    EXPECT_TRUE(ws->shownDocuments.empty());
    EXPECT_TRUE(output.Files().empty());
    EXPECT_EQ(Screen->Cursor(), crDefault);
}

TEST_F(ReportOutputTest, TheReportCodeNeverTakesTheFileOutOfTheOutputFolder)
{
    TfrmResumoOficialCfop &screen = Filled();
    screen.lblCodRel->SetCaption("../../fora/FIS 028");
    Application->RunUserAction([&] { screen.sbtPreview->Click(); });
    ASSERT_TRUE(ws->messages.empty()) << ws->messages.front().text;
    const std::string written = screen.rpddPadrao->LastRun()->output;
    EXPECT_EQ(fs::path(written).parent_path(), output.path);
    EXPECT_EQ(fs::path(written).filename().string().rfind("______fora_FIS_028-", 0), 0u) << written;
}
