// The demo reports, each printed from the screen as a person would, for
// the demo company's first quarter: the text of the PDF (as pdftotext reads
// it), the CSV and the spreadsheet's cells with their formats are compared
// with the expected files in tests/golden/FIS028. Run with
// FIS_UPDATE_GOLDEN=1 to write those files anew from what the reports give.
#include "../support/run_command.h"
#include "../support/temp_folder.h"
#include "rtl/files.h"
#include "scenario.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {
const fs::path kGolden = fs::path(FIS_SOURCE_DIR) / "tests" / "golden" / "FIS028";

std::string run(const std::string &command) { return RunCommand(command); }
std::string read(const fs::path &file) { return ReadWholeFile(file); }

// The time of the run is the one thing that changes between runs.
std::string timeless(const std::string &text)
{
    return std::regex_replace(text, std::regex(R"(Emitido em \d\d/\d\d/\d{4} \d\d:\d\d)"),
                              "Emitido em DD/MM/AAAA HH:MM");
}

// Every cell of the first sheet as "REF  value  [number format]", one a line.
std::string sheetCells(const std::string &xlsx)
{
    const std::string xml = run("unzip -p '" + xlsx + "' xl/worksheets/sheet1.xml");
    const std::string styles = run("unzip -p '" + xlsx + "' xl/styles.xml");
    std::map<std::string, std::string> formats = {{"0", ""}};
    std::regex numFmt(R"re(<numFmt numFmtId="(\d+)" formatCode="([^"]*)")re");
    for (std::sregex_iterator it(styles.begin(), styles.end(), numFmt), end; it != end; ++it)
        formats[(*it)[1]] = std::regex_replace((*it)[2].str(), std::regex("&quot;"), "\"");
    std::vector<std::string> xf;
    std::regex xfRe(R"re(<xf numFmtId="(\d+)")re");
    const std::size_t cellXfs = styles.find("<cellXfs");
    for (std::sregex_iterator it(styles.begin() + static_cast<long>(cellXfs), styles.end(), xfRe), end; it != end; ++it)
        xf.push_back(formats[(*it)[1]]);
    std::string out;
    std::regex cell(R"re(<c r="([A-Z]+\d+)"( s="(\d+)")?( t="(\w+)")?>(.*?)</c>)re");
    for (std::sregex_iterator it(xml.begin(), xml.end(), cell), end; it != end; ++it) {
        const std::string body = (*it)[6];
        std::smatch m;
        std::string value;
        if (std::regex_search(body, m, std::regex("<t[^>]*>(.*?)</t>")) || std::regex_search(body, m, std::regex("<v>(.*?)</v>")))
            value = m[1];
        std::string format = (*it)[3].matched ? xf.at(static_cast<std::size_t>(std::stoi((*it)[3]))) : "";
        out += (*it)[1].str() + "  " + value + (format.empty() ? "" : "  [" + format + "]") + "\n";
    }
    return out;
}

struct Golden {
    const char *stem;   // of the expected files
    const char *title;  // the report picked
    const char *fields; // scenario lines that fill the fields the report takes
};

const char *const kCommon = R"(type medCdEmpresa "01"
type medCdImposto "01"
type depDtInicial "01/01/2026"
type depDtFinal "31/03/2026"
)";

const Golden kReports[] = {
    {"010-resumo-cfop", "Resumo não Oficial de CFOp", "choose cbbEntrSaid \"Ambos\"\n"},
    {"020-resumo-cfop-produtos", "Resumo não Oficial de CFOp com Produtos(Analítico)",
     "choose cbbEntrSaid \"Ambos\"\ntype edtInscricao \"110042490114\"\n"},
    {"030-relacao-notas", "Relação de Notas Fiscais", "choose cbbEntrSaid \"Ambos\"\n"},
    {"040-relacao-notas-icms-st", "Relação de Notas Fiscais - ICMS-ST por Produto", "choose cbbEntrSaid \"Ambos\"\n"},
    {"050-ressarcimento-icms-st", "Ressarcimento de ICMS ST - Valores por Produto", ""},
    {"060-mapa-fiscal-ie", "Mapa Fiscal - Inscrição Estadual", ""},
    {"070-resumo-cfop-cst-aliquota", "Resumo de CFOP por CST e Alíquota", "choose cbbEntrSaid \"Ambos\"\n"},
    {"080-apuracao-icms", "Registro de Apuração do ICMS", ""},
};

void PrintTo(const Golden &g, std::ostream *os) { *os << g.stem; }

class GoldenReports : public testing::TestWithParam<Golden> {};

// Compares with the expected file, or writes it when asked to.
void compare(const std::string &got, const fs::path &expected)
{
    if (std::getenv("FIS_UPDATE_GOLDEN")) {
        fs::create_directories(expected.parent_path());
        std::ofstream(expected, std::ios::binary) << got;
        return;
    }
    ASSERT_TRUE(fs::exists(expected)) << expected << " is missing; FIS_UPDATE_GOLDEN=1 writes it";
    EXPECT_EQ(got, read(expected)) << "differs from " << expected;
}
} // namespace

TEST_P(GoldenReports, PrintedFromTheScreenAsExpected)
{
    const Golden &g = GetParam();
    char tmpl[] = "/tmp/fis-golden-XXXXXX";
    const fs::path out = mkdtemp(tmpl);
    ScenarioOptions options;
    options.config = HostConfig::Load();
    options.config.Set("report_formats", "pdf,csv,xlsx");
    options.reportOutputDir = out.string();
    const std::string scenario = std::string("open\nreport \"") + g.title + "\"\n" + kCommon + g.fields +
                                 "click sbtPrint\nexpect no message\nexpect report ran\n";
    const ScenarioResult result = RunScenarioText(g.stem, scenario, options);
    for (const auto &f : result.failures)
        ADD_FAILURE() << f;
    std::map<std::string, std::string> files;  // by extension
    for (const auto &f : result.written)
        files[fs::path(f).extension().string()] = f;
    ASSERT_EQ(files.size(), 3u);
    compare(timeless(run("pdftotext -layout '" + files[".pdf"] + "' -")), kGolden / (std::string(g.stem) + ".pdf.txt"));
    const std::string csv = read(files[".csv"]);
    compare(csv, kGolden / (std::string(g.stem) + ".csv"));
    // Another program finds each column by its caption.
    std::set<std::string> captions;
    std::stringstream header(csv.substr(3, csv.find("\r\n") - 3));
    for (std::string caption; std::getline(header, caption, ';');)
        EXPECT_TRUE(captions.insert(caption).second) << caption;
    compare(timeless(sheetCells(files[".xlsx"])), kGolden / (std::string(g.stem) + ".xlsx.txt"));
    fs::remove_all(out);
}

INSTANTIATE_TEST_SUITE_P(DemoReports, GoldenReports, testing::ValuesIn(kReports),
                         [](const testing::TestParamInfo<Golden> &info) {
                             std::string name = info.param.stem;
                             for (char &c : name)
                                 if (c == '-')
                                     c = '_';
                             return "r" + name;
                         });
