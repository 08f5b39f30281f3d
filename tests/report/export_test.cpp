// CSV and spreadsheet exports, read back as another program would.
#include "report/export_report.h"
#include "report_fixture.h"
#include "rtl/files.h"

#include <climits>
#include <fstream>
#include <map>

namespace {
std::string readFile(const std::string &path) { return ReadWholeFile(path); }

ReportJob groupedJob()
{
    ReportJob job = SampleJob();
    job.layout = ParseLayout(R"({
        "groups": [{"field": "ES", "header": "{DSES}", "footer": "Total das {DSES}", "caption": "Entrada/Saída"},
                   {"field": "DATA", "header": "", "footer": "Total do dia {DATA}"}],
        "columns": [{"caption": "Data", "field": "DATA", "format": "date"},
                    {"caption": "Participante", "field": "NOME"},
                    {"caption": "CFOP", "field": "CFOP", "format": "cfop"},
                    {"caption": "Qtde.", "field": "QT", "format": "quantity", "total": "sum"},
                    {"caption": "Valor", "field": "VL", "format": "money", "total": "sum"},
                    {"caption": "Alíquota", "field": "AL", "format": "percent"}]})");
    return job;
}

TableSession groupedRows()
{
    TableSession s;
    s.columns = {"ES", "DSES", "DATA", "NOME", "CFOP", "QT", "VL", "AL"};
    s.rows = {{"E", "Entradas", "2026-01-05", "Fornecedor; \"Um\"", "1102", "2", "1234.5", "18"},
              {"E", "Entradas", "2026-01-05", "=HIPERLINK(\"x\")", "1102", "1", "0.25", "12"},
              {"S", "Saídas", "2026-01-06", std::nullopt, "5102", "3", "-10", std::nullopt}};
    return s;
}

// Cells of a worksheet by reference ("B7"): the text or number, and the
// number format of the cell's style.
struct Cell {
    std::string value;
    std::string format;
};

std::map<std::string, Cell> readSheet(const std::string &xlsx, const std::string &sheet = "sheet1")
{
    const std::string xml = RunCommand("unzip -p '" + xlsx + "' xl/worksheets/" + sheet + ".xml");
    const std::string styles = RunCommand("unzip -p '" + xlsx + "' xl/styles.xml");
    std::map<std::string, std::string> formats = {{"0", ""}, {"14", "m/d/yyyy"}};
    std::regex numFmt(R"re(<numFmt numFmtId="(\d+)" formatCode="([^"]*)")re");
    for (std::sregex_iterator it(styles.begin(), styles.end(), numFmt), end; it != end; ++it)
        formats[(*it)[1]] = std::regex_replace((*it)[2].str(), std::regex("&quot;"), "\"");
    std::vector<std::string> xfFormats;
    const std::size_t xfs = styles.find("<cellXfs");
    std::regex xf(R"re(<xf numFmtId="(\d+)")re");
    for (std::sregex_iterator it(styles.begin() + static_cast<long>(xfs), styles.end(), xf), end; it != end; ++it)
        xfFormats.push_back(formats[(*it)[1]]);
    std::map<std::string, Cell> cells;
    std::regex cell(R"re(<c r="([A-Z]+\d+)"( s="(\d+)")?( t="(\w+)")?>(.*?)</c>)re");
    for (std::sregex_iterator it(xml.begin(), xml.end(), cell), end; it != end; ++it) {
        Cell c;
        const std::string body = (*it)[6];
        std::smatch m;
        if (std::regex_search(body, m, std::regex("<t[^>]*>(.*?)</t>")) || std::regex_search(body, m, std::regex("<v>(.*?)</v>")))
            c.value = m[1];
        if ((*it)[3].matched)
            c.format = xfFormats.at(static_cast<std::size_t>(std::stoi((*it)[3])));
        cells[(*it)[1]] = c;
    }
    return cells;
}
} // namespace

// A group whose field has a column of its own takes no second one.
TEST(ReportExport, CsvHasOneLinePerDetailRowWithItsGroups)
{
    TempDir dir;
    TableSession rows = groupedRows();
    WriteReport(&rows, groupedJob(), {{"csv", dir.file("r.csv")}}, nullptr);
    EXPECT_EQ(readFile(dir.file("r.csv")),
              "\xEF\xBB\xBF"
              "Entrada/Saída;Data;Participante;CFOP;Qtde.;Valor;Alíquota\r\n"
              "Entradas;05/01/2026;\"Fornecedor; \"\"Um\"\"\";1.102;2,000;1234,50;18,00\r\n"
              "Entradas;05/01/2026;\"'=HIPERLINK(\"\"x\"\")\";1.102;1,000;0,25;12,00\r\n"
              "Saídas;06/01/2026;;5.102;3,000;-10,00;\r\n");
}

// Another program finds each column by its caption, so no two may share one.
TEST(ReportExport, CsvCaptionsAreEachUsedOnce)
{
    const struct {
        std::vector<std::string> in, out;
    } rows[] = {
        {{"A", "B"}, {"A", "B"}},
        {{"Base", "Base", "Base"}, {"Base", "Base (2)", "Base (3)"}},
        {{"Base", "Base (2)", "Base"}, {"Base", "Base (2)", "Base (3)"}},
        {{"", ""}, {"", " (2)"}},
    };
    for (const auto &r : rows)
        EXPECT_EQ(UniqueCaptions(r.in), r.out);

    TempDir dir;
    TableSession rows2 = groupedRows();
    ReportJob job = groupedJob();
    job.layout.columns[4].caption = "Qtde.";
    WriteReport(&rows2, job, {{"csv", dir.file("r.csv")}}, nullptr);
    const std::string csv = readFile(dir.file("r.csv"));
    EXPECT_EQ(csv.substr(0, csv.find("\r\n")),
              "\xEF\xBB\xBF" "Entrada/Saída;Data;Participante;CFOP;Qtde.;Qtde. (2);Alíquota");
}

TEST(ReportExport, CsvOfNoRowIsItsHeaderLine)
{
    TempDir dir;
    TableSession rows = groupedRows();
    rows.rows.clear();
    WriteReport(&rows, groupedJob(), {{"csv", dir.file("r.csv")}}, nullptr);
    EXPECT_EQ(readFile(dir.file("r.csv")), "\xEF\xBB\xBF" "Entrada/Saída;Data;Participante;CFOP;Qtde.;Valor;Alíquota\r\n");
}

TEST(ReportExport, SpreadsheetKeepsNumbersDatesGroupsAndTotals)
{
    TempDir dir;
    TableSession rows = groupedRows();
    const std::string xlsx = dir.file("r.xlsx");
    WriteReport(&rows, groupedJob(), {{"xlsx", xlsx}}, nullptr);
    const auto cells = readSheet(xlsx);
    auto value = [&](const char *ref) { return cells.count(ref) ? cells.at(ref).value : "(none)"; };
    auto format = [&](const char *ref) { return cells.count(ref) ? cells.at(ref).format : "(none)"; };
    EXPECT_EQ(value("A1"), "Relação de Notas Fiscais");
    EXPECT_EQ(value("A2"), "FIS028 – Emitido em 08/12/2026 04:05");
    EXPECT_EQ(value("A3"), "Empresa");
    EXPECT_EQ(value("B3"), "01 – Comercial Andorinha Ltda");
    EXPECT_EQ(value("A5"), "Inscrição Estadual");
    // Row 6 is blank; the captions follow.
    EXPECT_EQ(value("A7"), "Data");
    EXPECT_EQ(value("F7"), "Alíquota");
    EXPECT_EQ(value("A8"), "Entradas");  // group header
    EXPECT_EQ(value("A9"), "46027");     // 05/01/2026 as a spreadsheet date
    EXPECT_EQ(format("A9"), "dd/mm/yyyy");
    EXPECT_EQ(value("B9"), "Fornecedor; \"Um\"");
    EXPECT_EQ(value("C9"), "1.102");
    EXPECT_EQ(value("D9"), "2");
    EXPECT_EQ(format("D9"), "#,##0.000");
    EXPECT_EQ(value("E9"), "1234.5");
    EXPECT_EQ(format("E9"), "#,##0.00");
    EXPECT_EQ(value("F9"), "18");
    EXPECT_EQ(format("F9"), "#,##0.00\" %\"");
    EXPECT_EQ(value("E10"), "0.25");
    EXPECT_EQ(value("A11"), "Total do dia 05/01/2026");
    EXPECT_EQ(value("D11"), "3");
    EXPECT_EQ(value("E11"), "1234.75");
    EXPECT_EQ(format("E11"), "#,##0.00");
    EXPECT_EQ(value("A12"), "Total das Entradas");
    EXPECT_EQ(value("A13"), "Saídas");
    EXPECT_EQ(value("E14"), "-10");
    EXPECT_EQ(value("B14"), "(none)");  // NULL stays empty
    EXPECT_EQ(value("A17"), "Total geral");
    EXPECT_EQ(value("E17"), "1224.75");
}

// A database's date with a blank or a time about it is still that date; a
// day that does not exist stays the text it came as, not a date rolled over.
TEST(ReportExport, SpreadsheetDatesFromEveryShapeOfDateText)
{
    TempDir dir;
    TableSession rows = groupedRows();
    rows.rows[2][2] = " 2026-01-06 10:00:00";
    rows.rows.push_back({"S", "Saídas", "2026-02-30", "Y", "5102", "1", "1", "18"});
    const std::string xlsx = dir.file("r.xlsx");
    WriteReport(&rows, groupedJob(), {{"xlsx", xlsx}}, nullptr);
    std::map<std::string, std::string> dates;  // column A's values and their formats
    for (const auto &[ref, cell] : readSheet(xlsx))
        if (ref[0] == 'A')
            dates[cell.value] = cell.format;
    ASSERT_TRUE(dates.count("46028")) << "06/01/2026 as a spreadsheet date";
    EXPECT_EQ(dates["46028"], "dd/mm/yyyy");
    ASSERT_TRUE(dates.count("2026-02-30"));
    EXPECT_NE(dates["2026-02-30"], "dd/mm/yyyy");
}

TEST(ReportExport, EveryFormatFromOneRunAndNothingLeftWhenItFails)
{
    TempDir dir;
    TableSession rows = groupedRows();
    const std::vector<ReportOutput> outputs = {
        {"pdf", dir.file("r.pdf")}, {"csv", dir.file("r.csv")}, {"xlsx", dir.file("r.xlsx")}};
    const ReportResult result = WriteReport(&rows, groupedJob(), outputs, nullptr);
    EXPECT_EQ(result.rows, 3u);
    EXPECT_EQ(rows.given, 3u);  // the statement ran once for the three
    EXPECT_EQ(dir.entries(), (std::set<std::string>{"r.csv", "r.pdf", "r.xlsx"}));

    const struct {
        const char *what;
        std::function<void(TableSession &, ReportJob &)> spoil;
    } failures[] = {
        {"the statement fails", [](TableSession &s, ReportJob &) { s.failure = "no such table: NOTAFISCAL"; }},
        {"a layout field is missing", [](TableSession &s, ReportJob &) { s.columns[6] = "OUTRO"; }},
        {"cancelled", [](TableSession &s, ReportJob &) { s.rows.assign(2000, s.rows[0]); }},
    };
    struct Cancel : ReportProgress {
        bool Step(std::size_t rows) override { return rows < 300; }
    } cancel;
    for (const auto &f : failures) {
        SCOPED_TRACE(f.what);
        TempDir empty;
        TableSession s = groupedRows();
        ReportJob job = groupedJob();
        f.spoil(s, job);
        const std::vector<ReportOutput> out = {
            {"pdf", empty.file("r.pdf")}, {"csv", empty.file("r.csv")}, {"xlsx", empty.file("r.xlsx")}};
        EXPECT_ANY_THROW(WriteReport(&s, job, out, &cancel));
        EXPECT_TRUE(empty.entries().empty()) << *empty.entries().begin();
    }
}

TEST(ReportExport, XmlSafeText)
{
    const struct {
        std::string in, out;
    } rows[] = {
        {"Ação", "Ação"},
        {std::string("a\0b\x01\x7F", 5), "a b  "},
        {"tab\tlinha\n", "tab\tlinha\n"},
        {"\xC3", "\xEF\xBF\xBD"},
        {"\xFF" "ok", "\xEF\xBF\xBD" "ok"},
        {"\xEF\xBF\xBF", "\xEF\xBF\xBD"},
        {"😀", "😀"},
    };
    for (const auto &r : rows)
        EXPECT_EQ(XmlSafeText(r.in), r.out) << r.in;
}

// Each number goes in as the exact decimal of its units: the nearest binary
// float would read back as 8555.969999999999 to a program that prints it.
TEST(ReportExport, SpreadsheetNumbersAreTheirExactDecimalText)
{
    const struct {
        long long units;
        int places;
        const char *text;
    } rows[] = {
        {855597, 2, "8555.97"}, {250050, 2, "2500.5"},  {9124, 2, "91.24"},   {558, 3, "0.558"},
        {612, 4, "0.0612"},     {-1000, 2, "-10"},      {0, 2, "0"},          {-5, 2, "-0.05"},
        {7, 0, "7"},            {LLONG_MIN, 2, "-92233720368547758.08"},      {120000, 3, "120"},
    };
    for (const auto &r : rows)
        EXPECT_EQ(SpreadsheetNumberText(r.units, r.places), r.text) << r.units << "/" << r.places;

    TempDir dir;
    TableSession s = groupedRows();
    s.rows = {{"E", "Entradas", "2026-01-05", "a", "1102", "0.558", "8555.97", "18"},
              {"E", "Entradas", "2026-01-05", "b", "1102", "1", "656.06", "12"},
              {"E", "Entradas", "2026-01-05", "c", "1102", "1", "91.24", "12"}};
    const std::string xlsx = dir.file("r.xlsx");
    WriteReport(&s, groupedJob(), {{"xlsx", xlsx}}, nullptr);
    const auto cells = readSheet(xlsx);
    EXPECT_EQ(cells.at("D9").value, "0.558");
    EXPECT_EQ(cells.at("E9").value, "8555.97");
    EXPECT_EQ(cells.at("E10").value, "656.06");
    EXPECT_EQ(cells.at("E11").value, "91.24");
    EXPECT_EQ(cells.at("E12").value, "9303.27");  // the day's total, summed in cents
    const std::string xml = RunCommand("unzip -p '" + xlsx + "' xl/worksheets/sheet1.xml");
    EXPECT_EQ(xml.find("99999"), std::string::npos);
    EXPECT_EQ(xml.find("00000"), std::string::npos);
}

// A sheet holds 1,048,576 rows: the rest goes on a second one, under the
// captions again, and the totals still add every row.
TEST(ReportExport, SpreadsheetContinuesOnANewSheetWhenOneIsFull)
{
    TempDir dir;
    TableSession s = groupedRows();
    const Cells row = {"E", "Entradas", "2026-01-05", "x", "1102", "1", "0.01", "18"};
    s.rows.assign(1048576, row);
    const std::string xlsx = dir.file("r.xlsx");
    WriteReport(&s, groupedJob(), {{"xlsx", xlsx}}, nullptr);
    const std::string list = RunCommand("unzip -l '" + xlsx + "'");
    EXPECT_NE(list.find("xl/worksheets/sheet2.xml"), std::string::npos) << list;
    EXPECT_NE(RunCommand("unzip -p '" + xlsx + "' xl/workbook.xml").find("Relatório 2"), std::string::npos);
    const auto second = readSheet(xlsx, "sheet2");
    EXPECT_EQ(second.at("A1").value, "Data");  // the captions first
    EXPECT_EQ(second.at("E2").value, "0.01");
    bool summary = false;
    for (const auto &[ref, cell] : second)
        if (cell.value == "Total geral")
            summary = second.at("E" + ref.substr(1)).value == "10485.76";
    EXPECT_TRUE(summary);
}
