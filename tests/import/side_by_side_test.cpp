// Two imports into one database at once, each through its own connection:
// of the same folder, and of two sets of files that overlap. However they
// interleave, every document ends booked once and none is refused; what the
// other wrote first counts as already present.
#include "import/importer.h"
#include "import_target.h"
#include "nfe_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <thread>

namespace {

class SideBySide : public ::testing::TestWithParam<const ImportEngine *> {};

std::vector<std::string> filesUnder(const std::string &dir)
{
    std::vector<std::string> files;
    for (const auto &e : std::filesystem::recursive_directory_iterator(dir))
        if (e.is_regular_file())
            files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

TEST_P(SideBySide, TwoImportsAtOnceBookEveryDocumentOnceAndRefuseNone)
{
    if (auto why = ImportTarget::Unavailable(*GetParam()); !why.empty())
        GTEST_SKIP() << why;
    ImportTarget target(*GetParam());
    NfeFileOptions nfe;
    nfe.dir = target.Dir() + "/nfe";
    nfe.count = 240;
    nfe.year = 2027;
    const NfeFileCounts written = WriteNfeFiles(nfe);
    const std::vector<std::string> all = filesUnder(nfe.dir);
    const std::size_t third = all.size() / 3;
    const std::vector<std::string> first(all.begin(), all.end() - static_cast<std::ptrdiff_t>(third)),
        second(all.begin() + static_cast<std::ptrdiff_t>(third), all.end());

    // What one import alone books: the documents, the cancelled ones, the
    // products it makes and their links.
    const auto booked = [](ImportConnection &db) {
        std::vector<std::string> counts;
        for (const char *sql :
             {"SELECT CAST(COUNT(*) AS VARCHAR(20)) FROM NFECHAVE K JOIN NOTAFISCAL N ON N.CDNOTAFISC = K.CDNOTAFISC",
              "SELECT CAST(COUNT(*) AS VARCHAR(20)) FROM NFECHAVE K JOIN NOTAFISCAL N ON N.CDNOTAFISC = K.CDNOTAFISC "
              "WHERE N.IDSITUACAO = 'C'",
              "SELECT CAST(COUNT(*) AS VARCHAR(20)) FROM PRODUTO WHERE CDARVPROD LIKE '99.%' AND CDNVPRODUTO = '3'",
              "SELECT CAST(COUNT(*) AS VARCHAR(20)) FROM PRODUTOPARTIC",
              "SELECT CAST(COUNT(*) AS VARCHAR(20)) FROM ITEMNOTAFISC I JOIN NFECHAVE K ON K.CDNOTAFISC = I.CDNOTAFISC"})
            counts.push_back(One(db, sql));
        return counts;
    };
    std::vector<std::string> alone;
    {
        ImportTarget fresh(*GetParam());
        auto db = fresh.Open();
        const ImportReport report = ImportFiles(*db, {nfe.dir});
        ASSERT_TRUE(report.refused.empty()) << report.Text();
        ASSERT_EQ(report.imported, written.documents);
        alone = booked(*db);
        ASSERT_EQ(alone[0], std::to_string(written.documents));
    }

    const struct {
        const char *label;
        std::vector<std::string> a, b;
        int perCommit;  // small: the two take turns at the write lock
    } cases[] = {
        {"the same folder twice", {nfe.dir}, {nfe.dir}, 1000},
        {"the same folder, taking turns", {nfe.dir}, {nfe.dir}, 7},
        {"overlapping files, taking turns", first, second, 11},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        ImportTarget fresh(*GetParam());  // a server's rows of the case before are removed
        ImportOptions options;
        options.documentsPerCommit = c.perCommit;
        ImportReport reports[2];
        std::string failures[2];
        auto run = [&](int which, const std::vector<std::string> &paths) {
            try {
                auto db = fresh.Open();
                reports[which] = ImportFiles(*db, paths, options);
            } catch (const std::exception &e) {
                failures[which] = e.what();
            }
        };
        std::thread one(run, 0, c.a), two(run, 1, c.b);
        one.join();
        two.join();
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(failures[i], "");
            EXPECT_TRUE(reports[i].refused.empty()) << reports[i].Text();
            EXPECT_EQ(reports[i].conflicting, 0) << reports[i].Text();
        }
        EXPECT_EQ(reports[0].imported + reports[1].imported, written.documents)
            << reports[0].Text() << reports[1].Text();
        auto db = fresh.Open();
        EXPECT_EQ(booked(*db), alone);
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, SideBySide, ::testing::Values(&kImportSqlite, &kImportFirebird, &kImportPostgresql),
                         [](const auto &info) { return std::string(info.param->label); });

} // namespace
