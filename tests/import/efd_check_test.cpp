// The check against the books: an EFD written from the books finds
// nothing; each divergence put in is found once, in its section, with its
// document; the report's CSV is the findings alone.
#include "efd_files.h"
#include "import/efd_check.h"
#include "import/efd_report.h"
#include "import/importer.h"
#include "import_case.h"
#include "nfe_files.h"

#include "host/hostconfig.h"
#include "rtl/atomicfile.h"
#include "rtl/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace {

class EfdCheckBooks : public ImportCase {
protected:
    void SetUp() override
    {
        ImportCase::SetUp();
        if (!db_)
            return;
        NfeFileOptions files;
        files.dir = target_->Dir() + "/nfe";
        files.count = 300;
        files.year = 2027;
        WriteNfeFiles(files);
        const ImportReport r = ImportFiles(*db_, {files.dir});
        ASSERT_TRUE(r.refused.empty()) << r.Text();
    }
    EfdFileCounts write(std::vector<EfdDivergence> divergences = {})
    {
        EfdFileOptions o;
        o.path = target_->Dir() + "/efd.txt";
        o.registration = "110042490114";
        o.month = "2027-03";
        o.divergences = std::move(divergences);
        return WriteEfdFile(*db_, o);
    }
    EfdCheck check()
    {
        auto books = target_->Reports();
        return CheckEfdFile(target_->Dir() + "/efd.txt", books.get());
    }
};

std::string listed(const EfdCheck &c)
{
    std::string s;
    for (const EfdFinding &f : c.findings)
        s += f.section + " " + f.record + " " + std::to_string(f.document) + " " + f.field + " " + f.inFile + " / " +
             f.inBooks + "\n";
    return s;
}

TEST_P(EfdCheckBooks, AnEfdWrittenFromTheBooksFindsNothingAndItsCsvIsTheHeaderAlone)
{
    const EfdFileCounts written = write();
    const EfdCheck c = check();
    EXPECT_EQ(c.company, "01");
    EXPECT_EQ(c.documents, written.documents);
    EXPECT_TRUE(c.findings.empty()) << listed(c);
    ASSERT_TRUE(c.debits && c.credits);
    EXPECT_EQ(c.debits->first, c.debits->second);
    EXPECT_EQ(c.credits->first, c.credits->second);

    const std::string out = target_->Dir() + "/report";
    const auto paths = WriteEfdCheckReport(c, DefaultReportsDir(), out, {"csv", "pdf"});
    ASSERT_EQ(paths.size(), 2u);
    std::string csv = ReadWholeFile(paths[0]);
    EXPECT_EQ(csv, "\xEF\xBB\xBFSeção;Gravidade;Registro;Linha;Documento;Chave;CFOP;Campo;Na EFD;Nos livros;Diferença\r\n");
    EXPECT_GT(std::filesystem::file_size(paths[1]), 1000u);
}

TEST_P(EfdCheckBooks, EachDivergencePutInIsFoundOnceInItsSectionWithItsDocument)
{
    struct Case {
        EfdDivergence divergence;
        const char *section, *record;  // record: for the file's own records
    } cases[] = {
        {EfdDivergence::RecordCount, "Arquivo", "9900"},  {EfdDivergence::LineCount, "Arquivo", "9999"},
        {EfdDivergence::HeaderIcms, "Arquivo", "C100"},   {EfdDivergence::DocumentTotal, "Arquivo", "C100"},
        {EfdDivergence::ItemIcms, "Arquivo", "C190"},     {EfdDivergence::CfopDirection, "Arquivo", "C190"},
        {EfdDivergence::Apuracao, "Arquivo", "E110"},     {EfdDivergence::Obligations, "Arquivo", "E116"},
        {EfdDivergence::MissingDocument, "Documentos", ""}, {EfdDivergence::ExtraDocument, "Documentos", "C100"},
        {EfdDivergence::DocumentValue, "Documentos", "C100"}, {EfdDivergence::Situation, "Documentos", "C100"},
    };
    for (const Case &k : cases) {
        const EfdFileCounts written = write({k.divergence});
        ASSERT_EQ(written.injected.size(), 1u);
        const long document = written.injected[0].second;
        const EfdCheck c = check();
        const std::string other = std::string(k.section) == "Arquivo" ? "Documentos" : "Arquivo";
        EXPECT_EQ(c.Count(k.section), 1) << k.section << " " << k.record << "\n" << listed(c);
        EXPECT_EQ(c.Count(other), 0) << k.section << " " << k.record << "\n" << listed(c);
        for (const EfdFinding &f : c.findings)
            if (f.section == k.section) {
                EXPECT_EQ(f.record, k.record) << listed(c);
                EXPECT_EQ(f.document, document) << listed(c);
            }
    }
}

// A line's value filed under another rate of the same CFOP leaves the CFOP
// whole: only the comparison per CST and rate finds it.
TEST_P(EfdCheckBooks, AValueUnderAnotherRateIsFoundPerCstAndRateOnly)
{
    write();
    const std::string path = target_->Dir() + "/efd.txt";
    std::string text = ReadWholeFile(path);
    // The first C190 of a document of the company's own (IND_EMIT 0), which has no C170.
    std::size_t at = 0;
    for (;;) {
        at = text.find("\n|C100|1|0|", at);
        ASSERT_NE(at, std::string::npos);
        const std::size_t next = text.find('\n', at + 1);
        if (text.compare(next, 6, "\n|C190") == 0) {
            at = next + 1;
            break;
        }
        at = next;
    }
    // |C190|CST|CFOP|ALIQ|...: the rate is the fourth field.
    std::size_t rate = at;
    for (int n = 0; n < 4; ++n)
        rate = text.find('|', rate) + 1;
    text.replace(rate, text.find('|', rate) - rate, "99,99");
    ReplaceFileContents(path, text);

    const EfdCheck c = check();
    EXPECT_EQ(c.Count("Arquivo"), 0) << listed(c);
    EXPECT_EQ(c.Count("Documentos"), 0) << listed(c);
    ASSERT_GT(c.Count("CFOP"), 0) << listed(c);
    bool moved = false;
    for (const EfdFinding &f : c.findings) {
        EXPECT_NE(f.field.find("(CST "), std::string::npos) << listed(c);
        moved = moved || f.field.find("99,99%") != std::string::npos;
    }
    EXPECT_TRUE(moved) << listed(c);
}

// The file's documents are matched by key first, then by model, series,
// number and side; each of the books' answers one of the file's by identity.
TEST_P(EfdCheckBooks, DocumentsAreMatchedByKeyFirstThenOnceByIdentity)
{
    write();
    const std::string path = target_->Dir() + "/efd.txt";
    const std::string text = ReadWholeFile(path);
    // The first C100 with its children.
    const std::size_t begin = text.find("\n|C100|") + 1;
    std::size_t end = begin;
    do
        end = text.find('\n', end) + 1;
    while (text.compare(end, 3, "|C1") == 0 && text.compare(end, 6, "|C100|") != 0);
    const std::string block = text.substr(begin, end - begin);
    const long line = 1 + static_cast<long>(std::count(text.begin(), text.begin() + static_cast<long>(begin), '\n'));
    const long lines = static_cast<long>(std::count(block.begin(), block.end(), '\n'));
    // CHV_NFE is the C100's ninth field.
    std::size_t key = 0;
    for (int n = 0; n < 9; ++n)
        key = block.find('|', key) + 1;
    const std::string keyless = block.substr(0, key) + block.substr(block.find('|', key));

    struct Case {
        const char *what;
        std::string first, second;  // the document, and a copy after it (empty: none)
        long absentAt;              // the line the check finds absent from the books; 0: none
    } cases[] = {
        {"without its key, by identity", keyless, "", 0},
        {"twice without a key: the second is not in the books", keyless, keyless, line + lines},
        {"twice with its key: both are the books' one", block, block, 0},
        {"without a key, then with it: the key takes the books' one", keyless, block, line},
    };
    for (const Case &k : cases) {
        ReplaceFileContents(path, text.substr(0, begin) + k.first + k.second + text.substr(end));
        const EfdCheck c = check();
        std::vector<const EfdFinding *> documents;
        for (const EfdFinding &f : c.findings)
            if (f.section == "Documentos")
                documents.push_back(&f);
        ASSERT_EQ(documents.size(), k.absentAt ? 1u : 0u) << k.what << "\n" << listed(c);
        if (k.absentAt) {
            EXPECT_EQ(documents[0]->line, k.absentAt) << k.what << "\n" << listed(c);
            EXPECT_EQ(documents[0]->inBooks, "ausente") << k.what;
        }
    }
}

TEST(EfdCheckFile, AFileThatCannotBeReadIsAnErrorWithItsPlace)
{
    const std::string path = (std::filesystem::temp_directory_path() / "fis-efd-check-unreadable.txt").string();
    ReplaceFileContents(path, "|0000|017|0|01032027|31032027|X|1||SP|1|3550308|||A|1|\r\n|C100|1|\r\n");
    try {
        CheckEfdFile(path, nullptr);
        ADD_FAILURE() << "no error";
    } catch (const Exception &e) {
        EXPECT_NE(std::string(e.what()).find("linha 2, registro C100"), std::string::npos) << e.what();
    }
    std::filesystem::remove(path);
}

INSTANTIATE_TEST_SUITE_P(Engines, EfdCheckBooks, ::testing::Values(&kImportSqlite, &kImportFirebird),
                         [](const auto &info) { return std::string(info.param->label); });

} // namespace
