// What the four report actions leave: print and preview write the report
// from its layout and hand it to the front end; save as and the layout
// editor write the person's own copy, atomically and never over another
// without consent; a failure says why and leaves no file.
#include "../support/run_command.h"
#include "../support/temp_folder.h"
#include "report/headless_reportui.h"
#include "rtl/files.h"
#include "screen_fixture.h"

#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>

#include <unistd.h>

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
        std::sort(out.begin(), out.end());
        return out;
    }
    void Write(const std::string &name, const std::string &text) const
    {
        fs::create_directories((path / name).parent_path());
        std::ofstream(path / name) << text;
    }
    fs::path path;
};

std::string read(const fs::path &file) { return ReadWholeFile(file); }
std::string pdfText(const std::string &pdf) { return RunCommand("pdftotext -layout '" + pdf + "' - 2>&1"); }

// A listing over the reference data, with the company's parameter.
const char *const kCompanies = R"({"code": "FIS028", "title": "Empresas",
  "query": {"sql": ["SELECT CDEMPRESA, NMEMPRESA FROM EMPRESA",
                    " WHERE CDEMPRESA >= :P_CDEMPRESA ORDER BY CDEMPRESA"]},
  "layout": {"parameters": [{"label": "Empresa", "param": "P_CDEMPRESA",
                             "lookup": "SELECT NMEMPRESA FROM EMPRESA WHERE CDEMPRESA = :P_CDEMPRESA", "header": true}],
             "columns": [{"caption": "Código", "field": "CDEMPRESA", "width": 50},
                         {"caption": "Razão social", "field": "NMEMPRESA", "width": 250}],
             "summary": false, "empty": "Nenhuma empresa."}})";

// The front end of these tests: an editor that gives back what it is told,
// a progress that may cancel, a preview that may export.
class TestReportUi : public HeadlessReportUi {
public:
    std::function<std::optional<ReportLayout>(const LayoutEditRequest &)> edit;
    std::size_t cancelAt = 0;  // 0: never
    std::vector<std::pair<std::string, std::string>> exports;  // format, path asked of the preview
    std::optional<LayoutEditRequest> lastRequest;
    std::vector<TCursor> cursors;  // as the pages were handed over

    void Preview(const std::string &pdf, const std::string &title, const ReportExport &exportTo) override
    {
        cursors.push_back(Screen->Cursor());
        HeadlessReportUi::Preview(pdf, title, exportTo);
        for (const auto &[format, path] : exports)
            exportTo(format, path);
    }
    bool Print(const std::string &pdf, const std::string &title) override
    {
        cursors.push_back(Screen->Cursor());
        return HeadlessReportUi::Print(pdf, title);
    }
    std::optional<ReportLayout> EditLayout(const LayoutEditRequest &request) override
    {
        lastRequest = request;
        return edit ? edit(request) : std::nullopt;
    }
    std::unique_ptr<ReportProgress> BeginProgress(const std::string &) override
    {
        struct Progress : ReportProgress {
            std::size_t at;
            explicit Progress(std::size_t n) : at(n) {}
            bool Step(std::size_t rows) override { return at == 0 || rows < at; }
        };
        return std::make_unique<Progress>(cancelAt);
    }
};

class ReportOutputTest : public ScreenTest {
protected:
    void SetUp() override
    {
        ScreenTest::SetUp();
        reports.Write("FIS028/010-empresas.json", kCompanies);
        MutableHostSettings().reportsDir = reports.path.string();
        MutableHostSettings().reportOutputDir = output.path.string();
        MutableHostSettings().savedReportsDir = saved.path.string();
        auto owned = std::make_unique<TestReportUi>();
        ui = owned.get();
        SetReportUserInterface(std::move(owned));
    }
    void TearDown() override
    {
        ScreenTest::TearDown();
        SetReportUserInterface(nullptr);
    }
    TfrmResumoOficialCfop &Filled()
    {
        TfrmResumoOficialCfop &screen = Open();
        screen.medCdImposto->SetText("01");
        screen.medCdEmpresa->SetText("02");
        screen.depDtInicial->SetText("01/01/2026");
        screen.depDtFinal->SetText("31/01/2026");
        return screen;
    }
    void Click(TSpeedButton *button) { Application->RunUserAction([button] { button->Click(); }); }
    std::string NextMessage()
    {
        if (ws->messages.empty())
            return "(no message)";
        std::string text = ws->messages.front().text;
        ws->messages.pop_front();
        return text;
    }
    std::vector<std::string> Titles(TfrmResumoOficialCfop &screen) const { return screen.cbbReportNames->Items(); }

    Folder reports, output, saved;
    TestReportUi *ui = nullptr;
};
} // namespace

TEST_F(ReportOutputTest, PrintAndPreviewWriteTheReportFromItsLayoutAndHandItOn)
{
    TfrmResumoOficialCfop &screen = Filled();
    Click(screen.sbtPrint);
    ASSERT_TRUE(ws->messages.empty()) << ws->messages.front().text;
    Click(screen.sbtPreview);
    ASSERT_TRUE(ws->messages.empty()) << ws->messages.front().text;
    ASSERT_EQ(ui->Printed().size(), 1u);
    ASSERT_EQ(ui->Previewed().size(), 1u);
    const auto &run = *screen.rpddPadrao->LastRun();
    EXPECT_EQ(ui->Previewed()[0], run.output);
    EXPECT_EQ(run.rows, 4u);  // companies from 02 on
    EXPECT_EQ(run.pages, 1);
    EXPECT_EQ(fs::path(run.output).parent_path(), output.path);
    const std::string text = pdfText(run.output);
    for (const char *expected : {"Empresas", "FIS028", "Empresa: 02 – Industria Serra do Cipo S.A.", "Código",
                                 "Razão social", "Distribuidora Vale do Tiete Ltda", "Página 1 de 1"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
    EXPECT_EQ(text.find("P_CDEMPRESA"), std::string::npos);
    EXPECT_EQ(output.Files().size(), 2u);  // one file per run
    // The person gets the pages without the hourglass.
    EXPECT_EQ(ui->cursors, (std::vector<TCursor>{crDefault, crDefault}));
}

TEST_F(ReportOutputTest, TheHostsFormatsAreWrittenOnEveryRun)
{
    MutableHostSettings().reportFormats = "pdf, csv,xlsx";
    TfrmResumoOficialCfop &screen = Filled();
    Click(screen.sbtPreview);
    ASSERT_TRUE(ws->messages.empty()) << ws->messages.front().text;
    const auto &run = *screen.rpddPadrao->LastRun();
    ASSERT_EQ(run.outputs.size(), 3u);
    EXPECT_EQ(run.outputs[0], run.output);
    const fs::path pdf(run.output);
    EXPECT_EQ(run.outputs[1], pdf.parent_path() / (pdf.stem().string() + ".csv"));
    EXPECT_EQ(run.outputs[2], pdf.parent_path() / (pdf.stem().string() + ".xlsx"));
    EXPECT_EQ(read(run.outputs[1]), "\xEF\xBB\xBF"
                                    "Código;Razão social\r\n02;Industria Serra do Cipo S.A.\r\n"
                                    "03;Distribuidora Vale do Tiete Ltda\r\n09;\r\n10;Atacadista Boa Vista Ltda\r\n");
    EXPECT_EQ(read(run.outputs[2]).substr(0, 2), "PK");
    EXPECT_EQ(output.Files().size(), 3u);
}

// The files carry the code and the moment of the run, the pages its date and time.
TEST_F(ReportOutputTest, EachRunsFilesAreNamedAfterItsCodeAndMoment)
{
    TfrmResumoOficialCfop &screen = Filled();
    const auto now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    Click(screen.sbtPreview);
    ASSERT_TRUE(ws->messages.empty()) << ws->messages.front().text;
    const std::string name = fs::path(screen.rpddPadrao->LastRun()->output).filename().string();
    std::smatch m;
    ASSERT_TRUE(std::regex_match(name, m, std::regex(R"(FIS028-(\d{8})-(\d{2})(\d{2})\d{2}-(\d+)-\d+\.pdf)"))) << name;
    const TDateTime today = EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    EXPECT_EQ(m[1], FormatDate(today, DateFormat::Compact));
    EXPECT_EQ(m[4], std::to_string(::getpid()));
    EXPECT_NE(pdfText(screen.rpddPadrao->LastRun()->output)
                  .find("Emitido em " + FormatDate(today) + " " + m[2].str() + ":" + m[3].str()),
              std::string::npos);
}

TEST_F(ReportOutputTest, ThePreviewExportsTheSameReport)
{
    ui->exports = {{"csv", (output.path / "exportado.csv").string()}};
    TfrmResumoOficialCfop &screen = Filled();
    Click(screen.sbtPreview);
    ASSERT_TRUE(ws->messages.empty()) << ws->messages.front().text;
    EXPECT_NE(read(output.path / "exportado.csv").find("03;Distribuidora Vale do Tiete Ltda"), std::string::npos);
}

TEST_F(ReportOutputTest, ACancelledRunLeavesNothingAndSaysNothing)
{
    reports.Write("FIS028/010-empresas.json",
                  std::string(kCompanies).replace(std::string(kCompanies).find("FROM EMPRESA\""), 13,
                                                  "FROM EMPRESA, PRODUTO A, PRODUTO B, PRODUTO C\""));
    ui->cancelAt = 500;
    TfrmResumoOficialCfop &screen = Filled();
    const int runs = screen.rpddPadrao->RunCount();
    Click(screen.sbtPrint);
    EXPECT_TRUE(ws->messages.empty()) << ws->messages.front().text;
    EXPECT_EQ(screen.rpddPadrao->RunCount(), runs);
    EXPECT_TRUE(ui->Printed().empty());
    EXPECT_TRUE(output.Files().empty());
    EXPECT_TRUE(fs::is_empty(output.path));  // no temporary either
}

TEST_F(ReportOutputTest, AFailureSaysWhyAndLeavesNothing)
{
    const struct {
        const char *what;
        std::string definition;
        const char *reason;
    } cases[] = {
        {"statement",
         R"({"code":"FIS028","title":"Quebrado","query":{"sql":["SELECT X FROM TABELA_QUE_NAO_EXISTE WHERE X = :P_CDEMPRESA"]},
             "layout":{"columns":[{"field":"X"}]}})",
         "TABELA_QUE_NAO_EXISTE"},
        {"layout field",
         R"({"code":"FIS028","title":"Quebrado","query":{"sql":["SELECT CDEMPRESA FROM EMPRESA WHERE CDEMPRESA = :P_CDEMPRESA"]},
             "layout":{"columns":[{"field":"VLCONTABIL"}]}})",
         "O campo 'VLCONTABIL' (coluna 1) não está entre as colunas"},
        {"no layout",
         R"({"code":"FIS028","title":"Quebrado","query":{"sql":["SELECT CDEMPRESA FROM EMPRESA WHERE CDEMPRESA = :P_CDEMPRESA"]}})",
         "o relatório não tem layout"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Folder broken;
        broken.Write("FIS028/010.json", c.definition);
        MutableHostSettings().reportsDir = broken.path.string();
        TfrmResumoOficialCfop &screen = Filled();
        const int runs = screen.rpddPadrao->RunCount();
        Click(screen.sbtPreview);
        ASSERT_EQ(ws->messages.size(), 1u);
        const std::string message = NextMessage();
        EXPECT_EQ(message.rfind("Não foi possível gerar o relatório 'Quebrado': ", 0), 0u) << message;
        EXPECT_NE(message.find(c.reason), std::string::npos) << message;
        EXPECT_EQ(screen.rpddPadrao->RunCount(), runs);
        EXPECT_TRUE(ui->Previewed().empty());
        EXPECT_TRUE(output.Files().empty());
        EXPECT_EQ(Screen->Cursor(), crDefault);
        Application->RunUserAction([&screen] { screen.Close(); });
        Application->ProcessMessages();
    }
}

TEST_F(ReportOutputTest, TheReportCodeNeverTakesTheFileOutOfTheOutputFolder)
{
    TfrmResumoOficialCfop &screen = Filled();
    screen.lblCodRel->SetCaption("../../fora/FIS 028");
    Click(screen.sbtPreview);
    ASSERT_TRUE(ws->messages.empty()) << ws->messages.front().text;
    const std::string written = screen.rpddPadrao->LastRun()->output;
    EXPECT_EQ(fs::path(written).parent_path(), output.path);
    EXPECT_EQ(fs::path(written).filename().string().rfind("______fora_FIS_028-", 0), 0u) << written;
}

TEST_F(ReportOutputTest, SaveAsListsTheCopyAtOnceAndOnEveryLaterOpen)
{
    TfrmResumoOficialCfop &screen = Filled();
    for (const char *title : {"a/b", "a_b", "  Minha cópia  "}) {
        ws->promptAnswers.push_back(title);
        Click(screen.sbtSalvarComo);
        ASSERT_TRUE(ws->messages.empty()) << ws->messages.front().text;
    }
    // After the shipped ones, in the order of their files.
    EXPECT_EQ(Titles(screen), (std::vector<std::string>{"Empresas", "Minha cópia", "a/b", "a_b"}));
    EXPECT_EQ(screen.cbbReportNames->Text(), "Empresas");  // the selection stays
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(screen.cbbReportNames->ItemNote(i), "") << i;  // new reports, no delivered layout changed
    EXPECT_EQ(fs::path(screen.LastSavedFile()), saved.path / "FIS028" / "Minha cópia.json");
    EXPECT_EQ(saved.Files().size(), 3u);
    EXPECT_TRUE(output.Files().empty());  // a save writes no report

    Application->RunUserAction([&screen] { screen.Close(); });
    Application->ProcessMessages();
    TfrmResumoOficialCfop &again = Open();
    EXPECT_EQ(Titles(again), (std::vector<std::string>{"Empresas", "Minha cópia", "a/b", "a_b"}));
    // The copy runs like the original.
    again.cbbReportNames->SetItemIndex(1);
    again.medCdImposto->SetText("01");
    again.medCdEmpresa->SetText("02");
    again.depDtInicial->SetText("01/01/2026");
    again.depDtFinal->SetText("31/01/2026");
    Click(again.sbtPreview);
    ASSERT_TRUE(ws->messages.empty()) << ws->messages.front().text;
    EXPECT_EQ(again.rpddPadrao->LastRun()->title, "Minha cópia");
    EXPECT_NE(pdfText(again.rpddPadrao->LastRun()->output).find("Minha cópia"), std::string::npos);
}

TEST_F(ReportOutputTest, SaveAsNeverReplacesAReportWithoutConsent)
{
    TfrmResumoOficialCfop &screen = Filled();
    ws->promptAnswers.push_back("Cópia");
    Click(screen.sbtSalvarComo);
    const fs::path copy = saved.path / "FIS028" / "Cópia.json";
    const std::string first = read(copy);
    for (const char *title : {"Cópia", "Empresas"}) {
        SCOPED_TRACE(title);
        ws->promptAnswers.push_back(title);
        Click(screen.sbtSalvarComo);
        // Asked, and without a person the answer is the default, No.
        EXPECT_EQ(NextMessage(), std::string("Já existe um relatório com o título '") + title + "'. Deseja substituí-lo?");
        EXPECT_TRUE(ws->messages.empty());
        EXPECT_EQ(read(copy), first);
        EXPECT_EQ(saved.Files().size(), 1u);
        EXPECT_EQ(Titles(screen), (std::vector<std::string>{"Empresas", "Cópia"}));
    }
}

TEST_F(ReportOutputTest, ATitleThatCannotBeSavedIsRefusedInPortuguese)
{
    TfrmResumoOficialCfop &screen = Filled();
    const struct {
        std::optional<std::string> answer;
        const char *message;  // nullptr: nothing said
    } cases[] = {
        {std::string("Rela\xE7\xE3o"), "O título do relatório tem caracteres inválidos"},
        {std::string("duas\nlinhas"), "não pode ter quebras de linha"},
        {std::string("   "), nullptr},
        {std::nullopt, nullptr},
    };
    for (const auto &c : cases) {
        ws->promptAnswers.push_back(c.answer);
        Click(screen.sbtSalvarComo);
        if (c.message) {
            const std::string message = NextMessage();
            EXPECT_NE(message.find(c.message), std::string::npos) << message;
            EXPECT_EQ(message.find("json"), std::string::npos) << message;
        }
        EXPECT_TRUE(ws->messages.empty());
    }
    EXPECT_TRUE(saved.Files().empty());
    EXPECT_EQ(Titles(screen), std::vector<std::string>{"Empresas"});
}

TEST_F(ReportOutputTest, WithoutAnEditorTheLayoutIsCheckedAndNothingWritten)
{
    TfrmResumoOficialCfop &screen = Filled();
    Click(screen.sbtReportEdit);
    EXPECT_TRUE(ws->messages.empty()) << ws->messages.front().text;
    ASSERT_TRUE(screen.rpddPadrao->LastRun());
    EXPECT_EQ(screen.rpddPadrao->LastRun()->action, ReportAction::EditLayout);
    EXPECT_EQ(screen.rpddPadrao->LastRun()->output, "");
    ASSERT_TRUE(ui->lastRequest);
    EXPECT_EQ(ui->lastRequest->fields, (std::vector<std::string>{"CDEMPRESA", "NMEMPRESA"}));
    EXPECT_EQ(ui->lastRequest->title, "Empresas");
    EXPECT_TRUE(saved.Files().empty());
    EXPECT_TRUE(output.Files().empty());
}

TEST_F(ReportOutputTest, AnEditedLayoutBecomesThePersonsCopyInThePlaceOfTheShippedOne)
{
    std::string preview;
    ui->edit = [&](const LayoutEditRequest &request) -> std::optional<ReportLayout> {
        ReportLayout l = request.layout;
        l.columns[1].caption = "Nome da empresa";
        l.landscape = true;
        preview = request.previewFirstPage(l);
        return l;
    };
    TfrmResumoOficialCfop &screen = Filled();
    const std::string shipped = read(reports.path / "FIS028" / "010-empresas.json");
    Click(screen.sbtReportEdit);
    ASSERT_TRUE(ws->messages.empty()) << ws->messages.front().text;
    EXPECT_NE(pdfText(preview).find("Nome da empresa"), std::string::npos);
    EXPECT_EQ(read(reports.path / "FIS028" / "010-empresas.json"), shipped);  // the shipped folder stays as delivered
    ASSERT_EQ(saved.Files().size(), 1u);
    EXPECT_EQ(saved.Files()[0], saved.path / "FIS028" / "Empresas.json");
    EXPECT_EQ(Titles(screen), std::vector<std::string>{"Empresas"});  // one entry, the edited one
    EXPECT_EQ(screen.cbbReportNames->ItemNote(0), "Layout alterado");  // marked, its title as delivered
    EXPECT_EQ(screen.ReportTitle(), "Empresas");
    Click(screen.sbtPreview);
    ASSERT_TRUE(ws->messages.empty()) << ws->messages.front().text;
    EXPECT_NE(pdfText(screen.rpddPadrao->LastRun()->output).find("Nome da empresa"), std::string::npos);

    // Edited again: the same copy is replaced.
    ui->edit = [](const LayoutEditRequest &request) -> std::optional<ReportLayout> {
        ReportLayout l = request.layout;
        EXPECT_EQ(l.columns[1].caption, "Nome da empresa");
        l.columns[0].visible = false;
        return l;
    };
    Click(screen.sbtReportEdit);
    ASSERT_TRUE(ws->messages.empty()) << ws->messages.front().text;
    EXPECT_EQ(saved.Files().size(), 1u);
    EXPECT_FALSE(ParseLayout(ReadReportDefinition(screen.Reports()[0]).layoutJson).columns[0].visible);
    EXPECT_EQ(screen.cbbReportNames->ItemNote(0), "Layout alterado");

    // Back to the delivered layout: the copy goes and so does the mark.
    ui->edit = [](const LayoutEditRequest &request) -> std::optional<ReportLayout> {
        EXPECT_TRUE(request.original);
        return request.original;
    };
    Click(screen.sbtReportEdit);
    ASSERT_TRUE(ws->messages.empty()) << ws->messages.front().text;
    EXPECT_TRUE(saved.Files().empty());
    EXPECT_EQ(Titles(screen), std::vector<std::string>{"Empresas"});
    EXPECT_EQ(screen.cbbReportNames->ItemNote(0), "");
}

TEST_F(ReportOutputTest, AnEditedLayoutThatCannotBeUsedIsRefusedAndNothingWritten)
{
    ui->edit = [](const LayoutEditRequest &request) -> std::optional<ReportLayout> {
        ReportLayout l = request.layout;
        l.columns[1].field = "NMFANTASIA";
        return l;
    };
    TfrmResumoOficialCfop &screen = Filled();
    Click(screen.sbtReportEdit);
    const std::string message = NextMessage();
    EXPECT_EQ(message.rfind("O layout não foi salvo: O campo 'NMFANTASIA'", 0), 0u) << message;
    EXPECT_TRUE(saved.Files().empty());
}

TEST_F(ReportOutputTest, ABrokenSavedCopyIsToldOncePerOpenAndTheListStillOpens)
{
    saved.Write("FIS028/Minha cópia.json",
                R"({"code":"FIS028","title":"Minha cópia","query":{"sql":["SELECT 1 AS X"]},"layout":{}})");
    const struct {
        const char *what;
        std::string text;
        const char *reason;
    } cases[] = {
        {"bad JSON", "{\"title\": ", "o texto não é JSON válido"},
        {"200,000 nested arrays", std::string(200000, '[') + std::string(200000, ']'),
         "o JSON aninha listas ou objetos em mais de"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        saved.Write("FIS028/Quebrado.json", c.text);
        const std::string file = (saved.path / "FIS028" / "Quebrado.json").string();
        for (int open = 0; open < 2; ++open) {  // told again while the file stays broken
            TfrmResumoOficialCfop &screen = Filled();
            EXPECT_EQ(Titles(screen), (std::vector<std::string>{"Empresas", "Minha cópia"}));
            ASSERT_EQ(ws->messages.size(), 1u);
            EXPECT_EQ(ws->messages.front().kind, MessageKind::Warning);
            const std::string message = NextMessage();
            EXPECT_EQ(message.rfind("O relatório salvo " + file + " não pôde ser lido e foi ignorado: " + c.reason, 0), 0u)
                << message;
            EXPECT_EQ(message.back(), '.');
            // A later relisting (after a save) does not tell it again.
            ws->promptAnswers.push_back("Outra");
            Click(screen.sbtSalvarComo);
            EXPECT_TRUE(ws->messages.empty()) << NextMessage();
            fs::remove(saved.path / "FIS028" / "Outra.json");
            Application->RunUserAction([&screen] { screen.Close(); });
            Application->ProcessMessages();
        }
    }
    // Mended or removed, nothing more is said.
    fs::remove(saved.path / "FIS028" / "Quebrado.json");
    Open();
    EXPECT_TRUE(ws->messages.empty()) << NextMessage();
}
