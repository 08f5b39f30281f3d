// Reports come out as real PDF files, drawn from their layout: checked with
// poppler's pdfinfo and pdftotext, as a reader of the file would see them.
#include "report/pdf_objects.h"
#include "report/pdf_report.h"
#include "report_fixture.h"

#include <fstream>
#include <functional>

namespace {
// The lines of `text` that hold `needle`, trimmed of repeated blanks.
std::string lineWith(const std::string &text, const std::string &needle)
{
    const std::size_t at = text.find(needle);
    if (at == std::string::npos)
        return {};
    const std::size_t start = text.rfind('\n', at) + 1;
    std::string line = text.substr(start, text.find('\n', at) - start);
    std::string out;
    for (char c : line)
        if (c != ' ' || (!out.empty() && out.back() != ' '))
            out += c;
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}
} // namespace

TEST(PdfReport, SmallDocumentShowsEverything)
{
    TempDir dir;
    TableSession rows = SampleRows();
    const std::string pdf = dir.file("r.pdf");
    const ReportResult result = RenderPdf(rows, SampleJob(), pdf);
    EXPECT_EQ(result.pages, 1);
    EXPECT_EQ(result.rows, 3u);
    EXPECT_EQ(PdfPages(pdf), 1);
    EXPECT_NE(PdfInfo(pdf).find("Relação de Notas Fiscais"), std::string::npos) << PdfInfo(pdf);
    const std::string text = PdfText(pdf);
    for (const char *expected :
         {"Relação de Notas Fiscais", "FIS028", "Emitido em 08/12/2026 04:05", "Empresa: 01 – Comercial Andorinha Ltda",
          "Período:", "01/11/2026 a 30/11/2026", "Inscrição Estadual:", "123.456.789.110", "Número", "Emitente",
          "Valor", "Comércio São João Ltda", "ÁÀÂÃÉÊÍÓÔÕÚÇ áàâãéêíóôõúç", "1.234,56", "78,90",
          "Nº 12, 1ª via “aspas” – Ñandú", "Página 1 de 1"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
    EXPECT_EQ(lineWith(text, "Total geral"), "Total geral 1.313,46") << text;
    EXPECT_EQ(text.find("P_"), std::string::npos);
    EXPECT_EQ(text.find("Nenhuma nota"), std::string::npos);
}

TEST(PdfReport, ManyRowsContinueOnPagesWithHeaderAndFooter)
{
    TableSession rows = SampleRows();
    rows.rows.clear();
    for (int i = 1; i <= 200; ++i)
        rows.rows.push_back({"NF" + std::to_string(100000 + i), "Emitente " + std::to_string(i), "1"});
    TempDir dir;
    const std::string pdf = dir.file("r.pdf");
    const int pages = RenderPdf(rows, SampleJob(), pdf).pages;
    ASSERT_GT(pages, 1);
    EXPECT_EQ(PdfPages(pdf), pages);
    const auto texts = PdfPageTexts(pdf);
    ASSERT_EQ(static_cast<int>(texts.size()), pages);
    int next = 1;  // every row once, in order
    for (int p = 0; p < pages; ++p) {
        const std::string &t = texts[p];
        SCOPED_TRACE("page " + std::to_string(p + 1));
        EXPECT_NE(t.find("Página " + std::to_string(p + 1) + " de " + std::to_string(pages)), std::string::npos);
        EXPECT_NE(t.find("Relação de Notas Fiscais"), std::string::npos);
        EXPECT_NE(t.find("Empresa: 01 – Comercial"), std::string::npos);  // the header parameters, every page
        EXPECT_NE(t.find("Número"), std::string::npos);
        EXPECT_EQ(t.find("Inscrição Estadual") != std::string::npos, p == 0);  // the block, first page only
        std::regex row(R"(NF1(\d{5}))");
        for (std::sregex_iterator it(t.begin(), t.end(), row), end; it != end; ++it)
            EXPECT_EQ(std::stoi((*it)[1]), next++);
    }
    EXPECT_EQ(next, 201);
    EXPECT_EQ(lineWith(texts.back(), "Total geral"), "Total geral 200,00");
}

TEST(PdfReport, NestedGroupsCarryTheirSubtotals)
{
    ReportJob job = SampleJob();
    job.layout = ParseLayout(R"({
        "groups": [{"field": "ES", "header": "{DSES}", "footer": "Total das {DSES}"},
                   {"field": "CFOP", "header": "CFOP {CFOP}", "footer": "Subtotal do CFOP {CFOP}"}],
        "columns": [{"caption": "CFOP", "field": "CFOP", "width": 40, "format": "cfop"},
                    {"caption": "Data", "field": "DATA", "width": 60, "format": "date"},
                    {"caption": "Qtde.", "field": "QT", "width": 60, "align": "right", "format": "quantity", "total": "sum"},
                    {"caption": "Valor", "field": "VL", "width": 80, "align": "right", "format": "money", "total": "sum"},
                    {"caption": "Notas", "field": "DATA", "width": 50, "align": "right", "format": "date", "total": "count"},
                    {"caption": "Médio", "expression": "VL / QT", "width": 60, "align": "right", "format": "decimal:4"}],
        "summary": {"caption": "Total geral"}})");
    TableSession rows;
    rows.columns = {"ES", "DSES", "CFOP", "DATA", "QT", "VL"};
    rows.rows = {{"E", "Entradas", "1102", "2026-01-05", "2", "10.5"},
                 {"E", "Entradas", "1102", "2026-01-06 00:00:00", "1", "0.25"},
                 {"E", "Entradas", "2102", "2026-01-07", "3", "100"},
                 {"S", "Saídas", "5102", "2026-01-08", "0", "7"}};
    TempDir dir;
    const std::string pdf = dir.file("r.pdf");
    RenderPdf(rows, job, pdf);
    const std::string text = PdfText(pdf);
    // Bands in order: each header before its rows, each footer after them.
    const char *order[] = {"Entradas", "CFOP 1.102", "05/01/2026", "06/01/2026", "Subtotal do CFOP 1.102",
                           "CFOP 2.102", "07/01/2026", "Subtotal do CFOP 2.102", "Total das Entradas",
                           "Saídas", "CFOP 5.102", "08/01/2026", "Subtotal do CFOP 5.102", "Total das Saídas",
                           "Total geral"};
    std::size_t at = 0;
    for (const char *band : order) {
        const std::size_t found = text.find(band, at);
        ASSERT_NE(found, std::string::npos) << band << " after " << at << "\n" << text;
        at = found + 1;
    }
    EXPECT_EQ(lineWith(text, "Subtotal do CFOP 1.102"), "Subtotal do CFOP 1.102 3,000 10,75 2");
    EXPECT_EQ(lineWith(text, "Total das Entradas"), "Total das Entradas 6,000 110,75 3");
    EXPECT_EQ(lineWith(text, "Total das Saídas"), "Total das Saídas 0,000 7,00 1");
    EXPECT_EQ(lineWith(text, "Total geral"), "Total geral 6,000 117,75 4");
    EXPECT_EQ(lineWith(text, "07/01/2026"), "2.102 07/01/2026 3,000 100,00 07/01/2026 33,3333");
    EXPECT_EQ(lineWith(text, "08/01/2026"), "5.102 08/01/2026 0,000 7,00 08/01/2026 0,0000");  // divided by zero
}

TEST(PdfReport, AResultWithoutRowsSaysSoUnderTheParameters)
{
    TableSession rows = SampleRows();
    rows.rows.clear();
    TempDir dir;
    const std::string pdf = dir.file("r.pdf");
    EXPECT_EQ(RenderPdf(rows, SampleJob(), pdf).pages, 1);
    const std::string text = PdfText(pdf);
    const std::size_t parameters = text.find("Inscrição Estadual"), empty = text.find("Nenhuma nota no período.");
    ASSERT_NE(parameters, std::string::npos) << text;
    ASSERT_NE(empty, std::string::npos) << text;
    EXPECT_LT(parameters, empty);
    EXPECT_EQ(text.find("Total geral"), std::string::npos);
    EXPECT_NE(text.find("Página 1 de 1"), std::string::npos);
}

TEST(PdfReport, NothingRunsOffThePage)
{
    const std::string oneWord = Repeat("X", 70000);
    struct Case {
        const char *what;
        std::function<void(ReportJob &, TableSession &)> change;
        const char *absent;  // text past the cut
    } cases[] = {
        {"long cell", [](ReportJob &, TableSession &s) { s.rows[0][1] = Repeat("Emitente ", 200) + "FIMDOTEXTO"; },
         "FIMDOTEXTO"},
        {"one huge word", [&](ReportJob &, TableSession &s) { s.rows[0][1] = oneWord + "FIMDOTEXTO"; }, "FIMDOTEXTO"},
        {"long caption",
         [](ReportJob &j, TableSession &) { j.layout.columns[1].caption = Repeat("Cabeçalho ", 100) + "FIMDOTEXTO"; },
         "FIMDOTEXTO"},
        {"long parameter value",
         [](ReportJob &j, TableSession &) {
             j.heading.parameters[0].second = Repeat("Descrição longa ", 400) + "FIMDOTEXTO";
         },
         "FIMDOTEXTO"},
        {"long parameter name", [&](ReportJob &j, TableSession &) { j.heading.parameters[0].first = oneWord; }, nullptr},
        {"long header value",
         [](ReportJob &j, TableSession &) { j.heading.header[0].second = Repeat("Empresa ", 300) + "FIMDOTEXTO"; },
         "FIMDOTEXTO"},
        {"long title", [](ReportJob &j, TableSession &) { j.heading.title = Repeat("Título ", 20000) + "FIMDOTEXTO"; },
         "FIMDOTEXTO"},
        {"long code and date", [&](ReportJob &j, TableSession &) { j.heading.code = j.heading.generatedAt = oneWord; },
         nullptr},
        {"huge amount", [](ReportJob &, TableSession &s) { s.rows[0][2] = "123456789012345.67"; }, nullptr},
        {"wider than the page",
         [](ReportJob &j, TableSession &) {
             for (auto &c : j.layout.columns)
                 c.width = 900;
         },
         nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ReportJob job = SampleJob();
        TableSession rows = SampleRows();
        c.change(job, rows);
        TempDir dir;
        const std::string pdf = dir.file("r.pdf");
        ASSERT_NO_THROW(RenderPdf(rows, job, pdf));
        auto [right, width] = RightmostWord(pdf);
        EXPECT_LE(right, width - 36 + 0.5);
        const std::string text = PdfText(pdf);
        if (c.absent) {
            EXPECT_EQ(text.find(c.absent), std::string::npos);
        }
        EXPECT_NE(text.find("Página 1 de"), std::string::npos);
    }
}

// Header pairs that do not fit beside the ones before go on to a line of
// their own, whole, on every page; the table starts below the last line.
TEST(PdfReport, APageHeaderTooWideForOneLineGoesOnToTheNext)
{
    const struct {
        const char *what;
        std::vector<std::pair<std::string, std::string>> header;
    } cases[] = {
        {"one registration",
         {{"Empresa", "01 – Comercial Andorinha Ltda"}, {"Período", "01/01/2026 a 31/03/2026"},
          {"Inscrição Estadual", "110042490114"}, {"CNPJ", "12.345.678/0001-95"}}},
        {"many pairs", {{"A", Repeat("a", 60)}, {"B", Repeat("b", 60)}, {"C", Repeat("c", 60)}, {"D", Repeat("d", 60)},
                        {"E", Repeat("e", 60)}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ReportJob job = SampleJob();
        job.heading.header = c.header;
        TableSession rows = SampleRows();
        rows.rows.clear();
        for (int i = 1; i <= 120; ++i)
            rows.rows.push_back({"NF" + std::to_string(100000 + i), "Emitente " + std::to_string(i), "1"});
        TempDir dir;
        const std::string pdf = dir.file("r.pdf");
        ASSERT_NO_THROW(RenderPdf(rows, job, pdf));
        auto [right, width] = RightmostWord(pdf);
        EXPECT_LE(right, width - 36 + 0.5);
        const auto texts = PdfPageTexts(pdf);
        ASSERT_GT(texts.size(), 1u);
        for (std::size_t p = 0; p < texts.size(); ++p) {
            SCOPED_TRACE("page " + std::to_string(p + 1));
            for (const auto &[label, value] : c.header) {
                EXPECT_NE(texts[p].find(label + ": " + value), std::string::npos) << texts[p];
                // Above the captions: a header line never runs into the table.
                EXPECT_LT(texts[p].find(value), texts[p].find("Número")) << value;
            }
        }
    }
}

TEST(PdfReport, WrappedColumnsKeepEveryWordInsideTheColumn)
{
    ReportJob job = SampleJob();
    job.layout.columns[1].overflow = ColumnOverflow::Wrap;
    job.layout.columns[1].width = 90;
    TableSession rows = SampleRows();
    rows.rows[0][1] = "Primeira palavra e mais algumas até a última";
    TempDir dir;
    const std::string pdf = dir.file("r.pdf");
    RenderPdf(rows, job, pdf);
    const std::string text = PdfText(pdf);
    for (const char *word : {"Primeira", "palavra", "última"})
        EXPECT_NE(text.find(word), std::string::npos) << word << "\n" << text;
    EXPECT_EQ(text.find("…"), std::string::npos);
    // Cut instead, the end is lost behind "…".
    job.layout.columns[1].overflow = ColumnOverflow::Ellipsis;
    RenderPdf(rows, job, pdf);
    EXPECT_NE(PdfText(pdf).find("…"), std::string::npos);
    EXPECT_EQ(PdfText(pdf).find("última"), std::string::npos);
}

TEST(PdfReport, PageSizeAndOrientationComeFromTheLayout)
{
    const struct {
        const char *page;
        bool landscape;
        const char *expected;
    } cases[] = {
        {"A4", false, "595.28 x 841.89 pts"},
        {"A4", true, "841.89 x 595.28 pts"},
        {"Letter", false, "612 x 792 pts"},
        {"Letter", true, "792 x 612 pts"},
    };
    for (const auto &c : cases) {
        ReportJob job = SampleJob();
        job.layout.page = c.page;
        job.layout.landscape = c.landscape;
        TableSession rows = SampleRows();
        TempDir dir;
        RenderPdf(rows, job, dir.file("r.pdf"));
        EXPECT_NE(PdfInfo(dir.file("r.pdf")).find(c.expected), std::string::npos) << PdfInfo(dir.file("r.pdf"));
    }
}

TEST(PdfReport, TextOutsideCp1252)
{
    ReportJob job = SampleJob();
    job.heading.title = "Relat\xF3rio \xC3";  // Latin-1 bytes, cut sequence
    job.heading.parameters = {{"Emoji", "ok 😀 ok"}, {"Chinês", "中文"}, {"Nulo", std::string("a\0b", 3)}};
    TableSession rows = SampleRows();
    rows.rows = {{"\xFF\xFE", "linha1\nlinha2\ttab", "1"}};
    TempDir dir;
    RenderPdf(rows, job, dir.file("r.pdf"));
    const std::string text = PdfText(dir.file("r.pdf"));
    for (const char *expected : {"Relat?rio ?", "ok ? ok", "??", "Chinês:", "linha1 linha2 tab"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
    EXPECT_EQ(text.find('\0'), std::string::npos);
}

TEST(PdfReport, Utf8ToCp1252)
{
    struct Case {
        std::string in, out;
    } cases[] = {
        {"Relação", "Rela\xE7\xE3o"},
        {"ÁÉÍÓÚ áéíóú", "\xC1\xC9\xCD\xD3\xDA \xE1\xE9\xED\xF3\xFA"},
        {"Nº ª €", "N\xBA \xAA \x80"},
        {"“x” — ™ …", "\x93x\x94 \x97 \x99 \x85"},
        {"e\u0301 C\u0327 a\u0303o", "\xE9 \xC7 \xE3o"},  // decomposed accents
        {"\u0301x", "?x"},                               // accent with nothing before it
        {"q\u0303", "q?"},                               // no such letter in the code page
        {"😀中", "??"},
        {"\u0081", "?"},  // C1 control
        {std::string("\0\t\n\x7F", 4), "    "},
        {"\xC3", "?"},                 // cut at the end
        {"\xE2\x82x", "?x"},           // cut in the middle counts once
        {"\xC0\xAF", "??"},            // overlong
        {"\xED\xA0\x80", "???"},       // surrogate
        {"\xF4\x90\x80\x80", "????"},  // past U+10FFFF
        {"\x80\xBF", "??"},            // stray continuation bytes
        {"\xF8\x88\x80\x80\x80", "?????"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Utf8ToCp1252(c.in), c.out) << c.in;
}

TEST(PdfReport, AFirstPageForAPreviewStopsReadingRows)
{
    TableSession rows = SampleRows();
    rows.rows.assign(5000, {"1", "x", "1"});
    TempDir dir;
    const std::string pdf = dir.file("r.pdf");
    EXPECT_EQ(RenderPdf(rows, SampleJob(), pdf, true).pages, 1);
    EXPECT_EQ(PdfPages(pdf), 1);
    EXPECT_LT(rows.given, 200u);
    EXPECT_NE(PdfText(pdf).find("Página 1 de 1"), std::string::npos);
}

TEST(PdfReport, AGroupGoingOnToTheNextPageIsNamedThereAgain)
{
    ReportJob job = SampleJob();
    job.layout.groups = {{"GRUPO", "{GRUPO}", "Total {GRUPO}", ""}};
    TableSession rows;
    rows.columns = {"GRUPO", "NRNOTA", "NMEMITENTE", "VALOR"};
    for (int i = 0; i < 120; ++i)
        rows.rows.push_back({i < 100 ? "Entradas" : "Saídas", std::to_string(i), "x", "1"});
    TempDir dir;
    RenderPdf(rows, job, dir.file("r.pdf"));
    const auto pages = PdfPageTexts(dir.file("r.pdf"));
    ASSERT_GE(pages.size(), 2u);
    EXPECT_EQ(pages[0].find("(continuação)"), std::string::npos);
    EXPECT_NE(pages[1].find("Entradas (continuação)"), std::string::npos) << pages[1];
    EXPECT_EQ(pages[1].find("Saídas (continuação)"), std::string::npos);
}

TEST(PdfReport, HundredsOfPagesMakeAValidPageTree)
{
    TableSession rows = SampleRows();
    rows.rows.clear();
    for (int i = 1; i <= 40000; ++i)
        rows.rows.push_back({"NF" + std::to_string(100000 + i), "Emitente", "0.01"});
    TempDir dir;
    const std::string pdf = dir.file("r.pdf");
    const int pages = RenderPdf(rows, SampleJob(), pdf).pages;
    ASSERT_GT(pages, 512);  // more than two inner nodes of the page tree
    EXPECT_EQ(PdfPages(pdf), pages);
    const std::string last = RunCommand("pdftotext -layout -f " + std::to_string(pages) + " -l " +
                                        std::to_string(pages) + " '" + pdf + "' - 2>&1");
    EXPECT_NE(last.find("NF140000"), std::string::npos) << last;
    EXPECT_NE(last.find("Página " + std::to_string(pages) + " de " + std::to_string(pages)), std::string::npos);
    EXPECT_NE(last.find("Total geral"), std::string::npos) << last;
    EXPECT_NE(last.find("400,00"), std::string::npos) << last;
    EXPECT_EQ(RunCommand("pdfinfo '" + pdf + "' 2>&1 >/dev/null"), "");  // no complaint about the file's structure
}
