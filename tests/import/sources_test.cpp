// Files, folders and ZIP archives as the import reads them, with their limits.
#include "import/sources.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <filesystem>
#include <fstream>

namespace {

class Sources : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "fis-sources-XXXXXX").string();
        ASSERT_TRUE(mkdtemp(pattern.data()));
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string file(const std::string &name, const std::string &text)
    {
        const std::string path = dir_ + "/" + name;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    std::string archive(const std::string &name, const std::vector<std::pair<std::string, std::string>> &entries)
    {
        const std::string path = dir_ + "/" + name;
        int error = 0;
        zip_t *z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
        for (const auto &[entry, text] : entries) {
            zip_source_t *src = zip_source_buffer(z, text.data(), text.size(), 0);
            zip_file_add(z, entry.c_str(), src, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8);
        }
        EXPECT_EQ(zip_close(z), 0);
        return path;
    }
    std::vector<SourceText> readAll(const std::vector<std::string> &paths, const SourceLimits &limits = {})
    {
        std::vector<SourceText> out;
        for (const SourceFile &f : ListSources(paths))
            ReadSource(f, limits, [&](const SourceText &t) {
                out.push_back(t);
                return true;
            });
        return out;
    }

    std::string dir_;
};

TEST_F(Sources, FoldersAreReadRecursivelyInPathOrderAndOnlyXmlAndZip)
{
    file("in/b.xml", "B");
    file("in/a/c.XML", "C");
    file("in/a/nota.pdf", "not read");
    archive("in/d.zip", {{"x.xml", "X"}, {"leia.txt", "not read"}, {"sub/y.xml", "Y"}});
    std::vector<std::string> names, texts;
    for (const SourceText &t : readAll({dir_ + "/in"})) {
        names.push_back(t.name.substr(dir_.size() + 4));
        texts.push_back(t.text);
        EXPECT_EQ(t.problem, "");
    }
    EXPECT_EQ(names, (std::vector<std::string>{"a/c.XML", "b.xml", "d.zip:x.xml", "d.zip:sub/y.xml"}));
    EXPECT_EQ(texts, (std::vector<std::string>{"C", "B", "X", "Y"}));
}

TEST_F(Sources, LimitsAndUnsafeEntriesAreProblemsNotTexts)
{
    SourceLimits limits;
    limits.fileBytes = 1000;
    limits.archiveBytes = 5000;
    const std::string big(1500, 'a');
    struct Row {
        const char *name;
        std::string path;
        const char *problem;
    } rows[] = {
        {"file over the limit", file("big.xml", big), "arquivo maior que o limite"},
        {"missing file", dir_ + "/nada.xml", "arquivo ilegível"},
        {"escaping entry", archive("escape.zip", {{"../fora.xml", "x"}}), "sai da sua pasta"},
        {"absolute entry", archive("abs.zip", {{"/etc/fora.xml", "x"}}), "sai da sua pasta"},
        {"entry over the limit", archive("bomb.zip", {{"bomba.xml", big}}), "maior que o limite"},
        {"archive over the limit",
         archive("many.zip", {{"1.xml", std::string(900, 'a')}, {"2.xml", std::string(900, 'a')},
                              {"3.xml", std::string(900, 'a')}, {"4.xml", std::string(900, 'a')},
                              {"5.xml", std::string(900, 'a')}, {"6.xml", std::string(900, 'a')}}),
         "arquivo ZIP descompacta além do limite"},
        {"not an archive", file("falso.zip", "PK not really"), "arquivo ZIP ilegível"},
    };
    for (const Row &r : rows) {
        const auto texts = readAll({r.path}, limits);
        ASSERT_FALSE(texts.empty()) << r.name;
        const SourceText &last = texts.back();
        EXPECT_NE(last.problem.find(r.problem), std::string::npos) << r.name << ": " << last.problem;
        EXPECT_TRUE(last.text.empty()) << r.name;
    }
}

} // namespace
