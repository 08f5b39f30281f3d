// The person's own reports: safe and distinct file names, atomic writes
// that never replace without consent, listed at once after the shipped ones.
#include "report/reportdef.h"
#include "report_fixture.h"

#include <fstream>

namespace {
ReportDefinition definition(const std::string &title)
{
    ReportDefinition d;
    d.code = "FIS028";
    d.title = title;
    d.query.sql = "SELECT 1 AS X";
    d.layoutJson = R"({"columns":[{"field":"X"}]})";
    return d;
}

std::vector<std::string> titles(const ReportList &list)
{
    std::vector<std::string> out;
    for (const auto &d : *list)
        out.push_back(d.title);
    return out;
}
} // namespace

TEST(SavedReports, EveryTitleGetsASafeNameOfItsOwn)
{
    const std::vector<std::string> titleList = {
        "Resumo de saídas", "a/b", "a_b", "a%2Fb", "a\\b", "a:b", "a b", "A B", ".", "..", ".oculto", "-x", " x",
        "~x", "x~", "Relação 100%", "*?<>|\"", std::string(300, 'x'), std::string(300, 'x') + "y",
        std::string(400, 'x'), Repeat("ç", 200), Repeat("ç", 200) + "a"};
    std::set<std::string> names;
    for (const std::string &t : titleList) {
        const std::string name = ReportFileName(t);
        SCOPED_TRACE(t);
        EXPECT_TRUE(names.insert(name).second) << name;
        EXPECT_EQ(name.find('/'), std::string::npos);
        EXPECT_NE(name[0], '.');
        EXPECT_LE(name.size(), 210u);
        EXPECT_EQ(name.substr(name.size() - 5), ".json");
    }
    EXPECT_EQ(ReportFileName("Resumo de saídas"), "Resumo de saídas.json");
    EXPECT_EQ(ReportFileName("a/b"), "a%2Fb.json");
    EXPECT_EQ(ReportFileName("a_b"), "a_b.json");
}

TEST(SavedReports, TitlesThatLookTheSameAreOneTitleAndOneFile)
{
    const std::string composed = "Caf\xC3\xA9", decomposed = "Cafe\xCC\x81";
    EXPECT_EQ(ReportFileName(decomposed), ReportFileName(composed));
    TempDir dir;
    const std::string saved = dir.root.string();
    SaveReportDefinition(saved, definition(decomposed), AtomicFile::Replace::Never);
    EXPECT_THROW(SaveReportDefinition(saved, definition(composed), AtomicFile::Replace::Never), EFileExists);
    EXPECT_EQ(titles(LoadSavedReports(saved, "FIS028")), std::vector<std::string>{composed});
}

TEST(SavedReports, TitlesThePersonCannotGiveAreRefusedInPortuguese)
{
    for (const std::string &bad : {std::string(""), std::string("   "), std::string("Rela\xE7\xE3o"),
                                   std::string("corte \xC3"), std::string("linha\nnova"), std::string("tab\tx")}) {
        try {
            CheckReportTitle(bad);
            ADD_FAILURE() << bad;
        } catch (const Exception &e) {
            EXPECT_EQ(e.Message().find("json"), std::string::npos) << e.Message();
            EXPECT_NE(e.Message().find("título"), std::string::npos) << e.Message();
        }
    }
    EXPECT_NO_THROW(CheckReportTitle("Relação de saídas – 2026 (cópia)"));
}

TEST(SavedReports, SavedAtomicallyNeverReplacedWithoutConsentAndListedAtOnce)
{
    TempDir dir;
    const std::string saved = dir.root.string();
    EXPECT_TRUE(LoadSavedReports(saved, "FIS028")->empty());
    const std::string path = SaveReportDefinition(saved, definition("a/b"), AtomicFile::Replace::Never);
    EXPECT_EQ(path, saved + "/FIS028/a%2Fb.json");
    SaveReportDefinition(saved, definition("a_b"), AtomicFile::Replace::Never);
    EXPECT_EQ(titles(LoadSavedReports(saved, "FIS028")), (std::vector<std::string>{"a/b", "a_b"}));

    ReportDefinition changed = definition("a/b");
    changed.query.sql = "SELECT 2 AS X";
    EXPECT_THROW(SaveReportDefinition(saved, changed, AtomicFile::Replace::Never), EFileExists);
    EXPECT_EQ(ReadReportDefinition(LoadSavedReports(saved, "FIS028")->at(0)).query.sql, "SELECT 1 AS X");
    SaveReportDefinition(saved, changed, AtomicFile::Replace::Always);
    const ReportList list = LoadSavedReports(saved, "FIS028");
    EXPECT_EQ(list->at(0).query.sql, "SELECT 2 AS X");
    EXPECT_TRUE(list->at(0).saved);
    for (const auto &e : fs::directory_iterator(dir.root / "FIS028"))
        EXPECT_EQ(e.path().extension(), ".json") << e.path();  // no temporary left
}

TEST(SavedReports, NothingIsWrittenForATitleOrLayoutThatCannotBeSaved)
{
    TempDir dir;
    ReportDefinition bad = definition("Rela\xE7\xE3o");
    EXPECT_THROW(SaveReportDefinition(dir.root.string(), bad, AtomicFile::Replace::Always), Exception);
    ReportDefinition badLayout = definition("Bom título");
    badLayout.layoutJson = "{\"caption\": \"\xFF\"}";
    try {
        SaveReportDefinition(dir.root.string(), badLayout, AtomicFile::Replace::Always);
        ADD_FAILURE();
    } catch (const Exception &e) {
        EXPECT_EQ(e.Message().find("json.exception"), std::string::npos) << e.Message();
    }
    EXPECT_FALSE(fs::exists(dir.root / "FIS028" / "Bom título.json"));
}

TEST(SavedReports, TheyFollowTheShippedOnesAndTakeThePlaceOfOneOfTheSameTitle)
{
    const std::vector<ReportDefinition> shipped = {definition("Um"), definition("Dois"), definition("Três")};
    ReportDefinition edited = definition("Dois");
    edited.saved = true;
    edited.query.sql = "SELECT 'editado' AS X";
    ReportDefinition mine = definition("Meu");
    mine.saved = true;
    const auto merged = MergeSavedReports(shipped, {mine, edited});
    ASSERT_EQ(merged.size(), 4u);
    EXPECT_EQ(merged[0].title, "Um");
    EXPECT_EQ(merged[1].title, "Dois");
    EXPECT_EQ(merged[1].query.sql, "SELECT 'editado' AS X");
    EXPECT_EQ(merged[2].title, "Três");
    EXPECT_EQ(merged[3].title, "Meu");
}

TEST(SavedReports, ABrokenCopyIsSkippedAndAGoneFileIsReported)
{
    TempDir dir;
    const std::string saved = dir.root.string();
    SaveReportDefinition(saved, definition("Bom"), AtomicFile::Replace::Never);
    std::ofstream(dir.root / "FIS028" / "quebrado.json") << "{\"title\": \"Quebr";
    // Deep enough to exhaust the stack of a recursive writer.
    std::ofstream(dir.root / "FIS028" / "fundo.json")
        << "{\"title\": \"Fundo\", \"layout\": " << std::string(200000, '[') << std::string(200000, ']') << "}";
    const ReportList list = LoadSavedReports(saved, "FIS028");
    EXPECT_EQ(titles(list), std::vector<std::string>{"Bom"});
    const ReportDefinition listed = list->at(0);
    fs::remove(listed.file);
    EXPECT_THROW(ReadReportDefinition(listed), ReportNotFound);
}

TEST(SavedReports, DefinitionErrorsAreInPortugueseWithoutLibraryText)
{
    const struct {
        const char *text;
        const char *message;
    } rows[] = {
        {"{", "não é JSON válido"},
        {"[]", "deve ser um objeto"},
        {"{\"code\": 1, \"title\": \"x\"}", "\"code\" deve ser um texto"},
        {"{\"code\": \"FIS028\"}", "falta o título"},
        {"{\"title\": 5}", "falta o título"},
        {"{\"title\": \"x\", \"query\": []}", "\"query\" deve ser um objeto"},
        {"{\"title\": \"x\", \"query\": {\"sql\": [1]}}", "as linhas de \"sql\" devem ser textos"},
        {"{\"title\": \"x\", \"query\": {\"sql\": 1}}", "\"sql\" deve ser um texto ou uma lista"},
        {"{\"title\": \"x\", \"layout\": {\"a\": [[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]}}",
         "mais de 64 níveis"},
    };
    for (const auto &r : rows) {
        try {
            ParseReportDefinition(r.text, "/r/x.json");
            ADD_FAILURE() << r.text;
        } catch (const Exception &e) {
            EXPECT_NE(e.Message().find(r.message), std::string::npos) << e.Message();
            EXPECT_NE(e.Message().find("/r/x.json"), std::string::npos) << e.Message();
            EXPECT_EQ(e.Message().find("json.exception"), std::string::npos) << e.Message();
        }
    }
}

TEST(SavedReports, ReportNotFoundIsTheProjectsError)
{
    const ReportNotFound nf("FIS028", "/reports");
    const Exception &e = nf;
    EXPECT_EQ(nf.code, "FIS028");
    EXPECT_EQ(nf.directory, "/reports");
    EXPECT_NE(e.Message().find("FIS028"), std::string::npos);
}

TEST(SavedReports, ABrokenCopyIsLeftOutAndNamedWithItsReasonOnEveryCall)
{
    TempDir dir;
    const std::string saved = dir.root.string();
    SaveReportDefinition(saved, definition("Boa"), AtomicFile::Replace::Never);
    const struct {
        const char *file;
        std::string text;
        const char *reason;
    } broken[] = {
        {"FIS028/a-texto.json", "{\"title\": \"x\",", "o texto não é JSON válido"},
        {"FIS028/b-fundo.json", std::string(200000, '[') + std::string(200000, ']'), "níveis"},
        {"FIS028/c-sem-titulo.json", R"({"code": "FIS028", "query": {"sql": "SELECT 1"}})", "falta o título"},
        {"FIS028/d-lista.json", "[1, 2]", "deve ser um objeto JSON"},
    };
    for (const auto &b : broken)
        std::ofstream(dir.root / b.file) << b.text;
    for (int call = 0; call < 2; ++call) {  // the second from the kept list
        SCOPED_TRACE(call);
        std::vector<SkippedReport> skipped;
        EXPECT_EQ(titles(LoadSavedReports(saved, "FIS028", &skipped)), std::vector<std::string>{"Boa"});
        ASSERT_EQ(skipped.size(), std::size(broken));
        for (std::size_t i = 0; i < skipped.size(); ++i) {
            EXPECT_EQ(skipped[i].file, (dir.root / broken[i].file).string());
            EXPECT_NE(skipped[i].reason.find(broken[i].reason), std::string::npos) << skipped[i].reason;
            EXPECT_EQ(skipped[i].reason.find(skipped[i].file), std::string::npos) << "the file is named once, by the caller";
        }
    }
    // Only broken copies: no list, still told.
    fs::remove(dir.root / "FIS028" / "Boa.json");
    std::vector<SkippedReport> skipped;
    EXPECT_TRUE(LoadSavedReports(saved, "FIS028", &skipped)->empty());
    EXPECT_EQ(skipped.size(), std::size(broken));
}
