// Reports come out as real PDF files: checked with poppler's pdfinfo and
// pdftotext, as a reader of the file would see them.
#include "report/pdf_report.h"
#include "rtl/sysutils.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <set>

namespace fs = std::filesystem;

namespace {
struct TempDir {
    TempDir()
    {
        char tmpl[] = "/tmp/fis-pdf-XXXXXX";
        root = mkdtemp(tmpl);
    }
    ~TempDir() { fs::remove_all(root); }
    std::string file(const std::string &name) const { return (root / name).string(); }
    std::set<std::string> entries() const
    {
        std::set<std::string> out;
        for (const auto &e : fs::directory_iterator(root))
            out.insert(e.path().filename().string());
        return out;
    }
    fs::path root;
};

std::string Run(const std::string &command)
{
    std::string out;
    FILE *p = popen(command.c_str(), "r");
    if (!p)
        return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}

std::string Info(const std::string &pdf) { return Run("pdfinfo '" + pdf + "' 2>&1"); }

int Pages(const std::string &pdf)
{
    std::smatch m;
    std::string info = Info(pdf);
    return std::regex_search(info, m, std::regex(R"(Pages:\s+(\d+))")) ? std::stoi(m[1]) : -1;
}

std::string Text(const std::string &pdf) { return Run("pdftotext -layout '" + pdf + "' - 2>&1"); }

// Text of each page, in reading order.
std::vector<std::string> PageTexts(const std::string &pdf)
{
    std::string all = Text(pdf);
    std::vector<std::string> pages;
    for (size_t start = 0, ff; (ff = all.find('\f', start)) != std::string::npos; start = ff + 1)
        pages.push_back(all.substr(start, ff - start));
    return pages;
}

// Right edge of the rightmost word on any page, and the narrowest page width.
std::pair<double, double> RightmostWord(const std::string &pdf)
{
    std::string html = Run("pdftotext -bbox '" + pdf + "' - 2>&1");
    double right = 0, width = 1e9;
    std::regex page(R"re(<page width="([\d.]+)")re"), word(R"re(xMax="([\d.]+)")re");
    for (std::sregex_iterator it(html.begin(), html.end(), page), end; it != end; ++it)
        width = std::min(width, std::stod((*it)[1]));
    for (std::sregex_iterator it(html.begin(), html.end(), word), end; it != end; ++it)
        right = std::max(right, std::stod((*it)[1]));
    return {right, width};
}

ReportDocument Sample()
{
    ReportDocument doc;
    doc.title = "Relação de Notas Fiscais";
    doc.code = "FIS028";
    doc.generatedAt = "08/12/2026 04:05";
    doc.parameters = {{"Período", "01/11/2026 a 30/11/2026"}, {"Inscrição Estadual", "123.456.789.110"}};
    doc.table.columns = {"Número", "Emitente", "Valor"};
    doc.table.rows = {{"000101", "Comércio São João Ltda", "1.234,56"},
                      {"000102", "ÁÀÂÃÉÊÍÓÔÕÚÇ áàâãéêíóôõúç", "78,90"},
                      {"000103", "Nº 12, 1ª via “aspas” – Ñandú…", "€ 10,00"}};
    return doc;
}

std::string Repeat(const std::string &s, int n)
{
    std::string out;
    for (; n > 0; --n)
        out += s;
    return out;
}
} // namespace

TEST(PdfReport, SmallDocumentShowsEverything)
{
    TempDir dir;
    std::string pdf = dir.file("r.pdf");
    EXPECT_EQ(WriteReportPdf(Sample(), pdf), 1);
    EXPECT_EQ(Pages(pdf), 1);
    EXPECT_NE(Info(pdf).find("Relação de Notas Fiscais"), std::string::npos) << Info(pdf);
    std::string text = Text(pdf);
    for (const char *expected :
         {"Relação de Notas Fiscais", "FIS028", "08/12/2026 04:05", "Parâmetros", "Período:",
          "01/11/2026 a 30/11/2026", "Inscrição Estadual:", "123.456.789.110", "Número", "Emitente",
          "Valor", "Comércio São João Ltda", "ÁÀÂÃÉÊÍÓÔÕÚÇ áàâãéêíóôõúç", "1.234,56",
          "Nº 12, 1ª via “aspas” – Ñandú…", "€ 10,00", "Página 1 de 1"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
    EXPECT_EQ(text.find("Nenhum registro."), std::string::npos);
}

TEST(PdfReport, ManyRowsContinueOnPagesWithHeaderAndFooter)
{
    ReportDocument doc = Sample();
    doc.table.rows.clear();
    for (int i = 1; i <= 200; ++i)
        doc.table.rows.push_back({"NF" + std::to_string(100000 + i), "Emitente " + std::to_string(i), "1,00"});
    TempDir dir;
    std::string pdf = dir.file("r.pdf");
    int pages = WriteReportPdf(doc, pdf);
    ASSERT_GT(pages, 1);
    EXPECT_EQ(Pages(pdf), pages);
    auto texts = PageTexts(pdf);
    ASSERT_EQ(static_cast<int>(texts.size()), pages);
    int next = 1; // every row once, in order
    for (int p = 0; p < pages; ++p) {
        const std::string &t = texts[p];
        std::string footer = "Página " + std::to_string(p + 1) + " de " + std::to_string(pages);
        EXPECT_NE(t.find(footer), std::string::npos) << footer;
        EXPECT_NE(t.find("Relação de Notas Fiscais"), std::string::npos) << "page " << p + 1;
        EXPECT_NE(t.find("Número"), std::string::npos) << "page " << p + 1;
        EXPECT_EQ(t.find("Parâmetros") != std::string::npos, p == 0) << "page " << p + 1;
        std::regex row(R"(NF1(\d{5}))");
        for (std::sregex_iterator it(t.begin(), t.end(), row), end; it != end; ++it)
            EXPECT_EQ(std::stoi((*it)[1]), next++);
    }
    EXPECT_EQ(next, 201);
}

TEST(PdfReport, CellsAndRowsOfAnyShape)
{
    ReportDocument doc = Sample();
    doc.table.columns = {"A", "B", "C"};
    doc.table.rows = {{"a1", std::nullopt, "c1"},      // NULL prints empty
                      {"a2"},                           // short row
                      {"a3", "b3", "c3", "extra3"},     // cells past the last column are dropped
                      {}};
    TempDir dir;
    WriteReportPdf(doc, dir.file("r.pdf"));
    std::string text = Text(dir.file("r.pdf"));
    for (const char *expected : {"a1", "c1", "a2", "a3", "b3", "c3"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected;
    for (const char *absent : {"null", "NULL", "extra3"})
        EXPECT_EQ(text.find(absent), std::string::npos) << absent;
}

TEST(PdfReport, EmptyTableAndNoTable)
{
    struct Case {
        const char *what;
        std::vector<std::string> columns;
        bool header, none;
    } cases[] = {
        {"no rows", {"Número", "Valor"}, true, true},
        {"no columns", {}, false, false},
    };
    for (const auto &c : cases) {
        ReportDocument doc = Sample();
        doc.table.columns = c.columns;
        doc.table.rows = c.columns.empty() ? decltype(doc.table.rows){{"órfão"}} : decltype(doc.table.rows){};
        TempDir dir;
        EXPECT_EQ(WriteReportPdf(doc, dir.file("r.pdf")), 1) << c.what;
        std::string text = Text(dir.file("r.pdf"));
        EXPECT_NE(text.find("Inscrição Estadual"), std::string::npos) << c.what;
        EXPECT_EQ(text.find("Número") != std::string::npos, c.header) << c.what;
        EXPECT_EQ(text.find("Nenhum registro.") != std::string::npos, c.none) << c.what;
        EXPECT_EQ(text.find("órfão"), std::string::npos) << c.what;
    }
}

TEST(PdfReport, NothingRunsOffThePage)
{
    std::string longWords = Repeat("Descrição longa da natureza da operação ", 80);
    std::string oneWord = Repeat("X", 70000); // past libharu's 64K string limit
    struct Case {
        const char *what;
        std::function<void(ReportDocument &)> change;
        const char *absent; // text past the cut
    } cases[] = {
        {"long cell", [&](ReportDocument &d) { d.table.rows[0][1] = Repeat("Emitente ", 200) + "FIMDOTEXTO"; },
         "FIMDOTEXTO"},
        {"one huge cell word", [&](ReportDocument &d) { d.table.rows[0][1] = oneWord + "FIMDOTEXTO"; }, "FIMDOTEXTO"},
        {"long header", [&](ReportDocument &d) { d.table.columns[1] = Repeat("Cabeçalho ", 100) + "FIMDOTEXTO"; },
         "FIMDOTEXTO"},
        {"long parameter value", [&](ReportDocument &d) { d.parameters[0].second = longWords + "FIMDOTEXTO"; },
         "FIMDOTEXTO"},
        {"long parameter name", [&](ReportDocument &d) { d.parameters[0].first = oneWord; }, nullptr},
        {"long title", [&](ReportDocument &d) { d.title = Repeat("Título ", 20000) + "FIMDOTEXTO"; }, "FIMDOTEXTO"},
        {"long code and date", [&](ReportDocument &d) { d.code = d.generatedAt = oneWord; }, nullptr},
        {"many columns", [&](ReportDocument &d) {
             d.table.columns.assign(60, "Coluna");
             d.table.rows.assign(3, std::vector<std::optional<std::string>>(60, "valor"));
         }, nullptr},
    };
    for (const auto &c : cases) {
        ReportDocument doc = Sample();
        c.change(doc);
        TempDir dir;
        std::string pdf = dir.file("r.pdf");
        ASSERT_NO_THROW(WriteReportPdf(doc, pdf)) << c.what;
        auto [right, width] = RightmostWord(pdf);
        EXPECT_LE(right, width - 36 + 0.5) << c.what;
        std::string text = Text(pdf);
        if (c.absent) {
            EXPECT_EQ(text.find(c.absent), std::string::npos) << c.what;
        }
        EXPECT_NE(text.find("Página 1 de"), std::string::npos) << c.what;
    }
    // A long value wraps instead of vanishing.
    ReportDocument doc = Sample();
    doc.parameters[0].second = "início " + Repeat("meio ", 60) + "final";
    TempDir dir;
    WriteReportPdf(doc, dir.file("r.pdf"));
    std::string text = Text(dir.file("r.pdf"));
    EXPECT_NE(text.find("início"), std::string::npos);
    EXPECT_NE(text.find("final"), std::string::npos);
}

TEST(PdfReport, TextOutsideCp1252)
{
    ReportDocument doc = Sample();
    doc.title = "Relat\xF3rio \xC3";                                 // Latin-1 bytes, cut sequence
    doc.parameters = {{"Emoji", "ok 😀 ok"}, {"Chinês", "中文"}, {"Nulo", std::string("a\0b", 3)}};
    doc.table.rows = {{"\xFF\xFE", "\xED\xA0\x80", "linha1\nlinha2\ttab"}};
    TempDir dir;
    ASSERT_EQ(WriteReportPdf(doc, dir.file("r.pdf")), 1);
    std::string text = Text(dir.file("r.pdf"));
    for (const char *expected : {"Relat?rio ?", "ok ? ok", "??", "a b", "linha1 linha2 tab"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
}

TEST(PdfReport, Utf8ToCp1252)
{
    struct Case {
        std::string in, out;
    } cases[] = {
        {"Relação", "Rela\xE7\xE3o"},
        {"ÁÉÍÓÚ áéíóú", "\xC1\xC9\xCD\xD3\xDA \xE1\xE9\xED\xF3\xFA"},
        {"Nº ª €", "N\xBA \xAA \x80"},
        {"“x” — ™", "\x93x\x94 \x97 \x99"},
        {"e\u0301 C\u0327 a\u0303o", "\xE9 \xC7 \xE3o"}, // decomposed accents
        {"\u0301x", "?x"},                              // accent with nothing before it
        {"q\u0303", "q?"},                              // no such letter in the code page
        {"😀中", "??"},
        {"\u0081", "?"},                                // C1 control
        {std::string("\0\t\n\x7F", 4), "    "},
        {"\xC3", "?"},                                  // cut at the end
        {"\xE2\x82x", "?x"},                            // cut in the middle counts once
        {"\xC0\xAF", "??"},                             // overlong
        {"\xED\xA0\x80", "???"},                        // surrogate
        {"\xF4\x90\x80\x80", "????"},                   // past U+10FFFF
        {"\x80\xBF", "??"},                             // stray continuation bytes
        {"\xF8\x88\x80\x80\x80", "?????"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Utf8ToCp1252(c.in), c.out) << c.in;
}

TEST(PdfReport, PageSizeAndOrientation)
{
    struct Case {
        const char *size;
        bool landscape;
        const char *expected;
    } cases[] = {
        {"A4", false, "595.276 x 841.89 pts"},
        {"A4", true, "841.89 x 595.276 pts"},
        {"Letter", false, "612 x 792 pts"},
        {"letter", true, "792 x 612 pts"},
        {"A3", false, "595.276 x 841.89 pts"},
        {"", true, "841.89 x 595.276 pts"},
    };
    for (const auto &c : cases) {
        ReportDocument doc = Sample();
        doc.pageSize = c.size;
        doc.landscape = c.landscape;
        TempDir dir;
        WriteReportPdf(doc, dir.file("r.pdf"));
        EXPECT_NE(Info(dir.file("r.pdf")).find(c.expected), std::string::npos)
            << c.size << " " << c.landscape << "\n" << Info(dir.file("r.pdf"));
    }
}

TEST(PdfReport, ReplacesAnExistingReport)
{
    TempDir dir;
    std::string pdf = dir.file("r.pdf");
    std::ofstream(pdf) << "old content, much longer than nothing at all";
    ReportDocument doc = Sample();
    doc.title = "Segunda versão";
    WriteReportPdf(doc, pdf);
    EXPECT_NE(Text(pdf).find("Segunda versão"), std::string::npos);
    EXPECT_EQ(dir.entries(), std::set<std::string>{"r.pdf"});
}

TEST(PdfReport, UnwritablePathRaisesAndLeavesNothing)
{
    TempDir dir;
    std::ofstream(dir.file("arquivo.txt")) << "x";
    fs::create_directory(dir.file("pasta.pdf"));
    const std::set<std::string> before = dir.entries();
    const std::string cases[] = {
        dir.file("não-existe/r.pdf"),  // folder missing: never created
        dir.file("arquivo.txt/r.pdf"), // parent is a file
        dir.file("pasta.pdf"),         // target is a folder
    };
    for (const auto &path : cases) {
        try {
            WriteReportPdf(Sample(), path);
            ADD_FAILURE() << "no error for " << path;
        } catch (const Exception &e) {
            EXPECT_NE(e.Message().find(path), std::string::npos) << e.Message();
            EXPECT_NE(e.Message().find("relatório"), std::string::npos) << e.Message();
        }
        EXPECT_EQ(dir.entries(), before) << path;
        EXPECT_TRUE(fs::is_empty(dir.file("pasta.pdf"))) << path;
    }
}
