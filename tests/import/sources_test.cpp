// Files, folders and ZIP archives as the import reads them, with their limits.
#include "import/sources.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <iterator>

#include <sys/stat.h>

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
    // Each file or entry as a reader that takes its whole text sees it.
    struct Read {
        std::string name, text, problem;
    };
    std::vector<Read> readAll(const std::vector<std::string> &paths, const SourceLimits &limits = {})
    {
        std::vector<Read> out;
        for (const SourceFile &f : ListSources(paths))
            ReadSource(f, limits, [&](SourceEntry &e) {
                Read r{e.name, {}, e.problem};
                if (e.stream && !ReadWholeText(*e.stream, limits.fileBytes, r.text))
                    r.problem = e.stream->Problem();
                out.push_back(r);
                return true;
            });
        return out;
    }

    std::string dir_;
};

// Which format a file holds is for the readers: every regular file and
// entry is handed over, whatever its name; an archive is one by its name or
// by its first bytes.
TEST_F(Sources, FoldersAreReadRecursivelyInPathOrderEveryFileOffered)
{
    file("in/b.xml", "B");
    file("in/a/c.XML", "C");
    file("in/a/nota.pdf", "P");
    archive("in/d.zip", {{"x.xml", "X"}, {"leia.txt", "T"}, {"sub/", ""}, {"sub/y.xml", "Y"}});
    archive("in/e.dat", {{"z.txt", "Z"}});
    std::vector<std::string> names, texts;
    for (const Read &t : readAll({dir_ + "/in"})) {
        names.push_back(t.name.substr(dir_.size() + 4));
        texts.push_back(t.text);
        EXPECT_EQ(t.problem, "") << t.name;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"a/c.XML", "a/nota.pdf", "b.xml", "d.zip:x.xml", "d.zip:leia.txt",
                                               "d.zip:sub/y.xml", "e.dat:z.txt"}));
    EXPECT_EQ(texts, (std::vector<std::string>{"C", "P", "B", "X", "T", "Y", "Z"}));
}

// Nothing of a folder is passed over unsaid: what is not read is listed with
// why, and an archive inside an archive is opened, one level deep.
TEST_F(Sources, EveryEntryComesOnceWithItsTextOrItsProblem)
{
    file("in/a.xml", "A");
    file("fora/alvo.xml", "ALVO");
    std::filesystem::create_directories(dir_ + "/fora/pasta");
    std::filesystem::create_symlink(dir_ + "/fora/alvo.xml", dir_ + "/in/b-link.xml");
    std::filesystem::create_symlink(dir_ + "/fora/sumiu.xml", dir_ + "/in/c-quebrado.xml");
    std::filesystem::create_symlink(dir_ + "/fora/pasta", dir_ + "/in/d-pasta");
    ASSERT_EQ(mkfifo((dir_ + "/in/e-fila").c_str(), 0600), 0);
    const std::string inner = archive("inner.zip", {{"i.xml", "I"}, {"deep.zip", "PK\x03\x04"}});
    std::ifstream innerFile(inner, std::ios::binary);
    const std::string innerBytes((std::istreambuf_iterator<char>(innerFile)), std::istreambuf_iterator<char>());
    archive("in/f.zip", {{"o.xml", "O"}, {"lote.zip", innerBytes}, {"sem-nome.bin", innerBytes}, {"ruim.zip", "PK\x03\x04x"}});
    struct Want {
        const char *name, *text, *problem;
    } want[] = {
        {"a.xml", "A", ""},
        {"b-link.xml", "ALVO", ""},
        {"c-quebrado.xml", "", "ligação simbólica quebrada"},
        {"d-pasta", "", "ligação simbólica para a pasta"},
        {"e-fila", "", "FIFO"},
        {"f.zip:o.xml", "O", ""},
        {"f.zip:lote.zip:i.xml", "I", ""},
        {"f.zip:lote.zip:deep.zip", "", "só um nível"},
        {"f.zip:sem-nome.bin:i.xml", "I", ""},
        {"f.zip:sem-nome.bin:deep.zip", "", "só um nível"},
        {"f.zip:ruim.zip", "", "ZIP dentro do ZIP ilegível"},
    };
    const std::vector<Read> got = readAll({dir_ + "/in"});
    ASSERT_EQ(got.size(), std::size(want));
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].name.substr(dir_.size() + 4), want[i].name);
        EXPECT_EQ(got[i].text, want[i].text) << want[i].name;
        EXPECT_NE(got[i].problem.find(want[i].problem), std::string::npos) << want[i].name << ": " << got[i].problem;
        if (!*want[i].problem) {
            EXPECT_EQ(got[i].problem, "") << want[i].name;
        }
    }
    // The inner archive counts towards the outer's limit.
    SourceLimits small;
    small.nestedBytes = 10;
    bool refused = false;
    for (const Read &r : readAll({dir_ + "/in/f.zip"}, small))
        refused = refused || r.problem.find("maior que o limite") != std::string::npos;
    EXPECT_TRUE(refused);
}

// A FIFO named on its own is refused at once: opening it to read would wait
// for a writer that never comes.
TEST_F(Sources, AFifoNamedDirectlyIsRefusedWithoutWaiting)
{
    const std::string fifo = dir_ + "/fila.xml";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const auto texts = readAll({fifo});
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(texts[0].problem.find("arquivo ilegível"), std::string::npos) << texts[0].problem;
}

TEST_F(Sources, LinesAreReadOneAtATimeUnderTheirLimit)
{
    struct Row {
        const char *name;
        std::string text;
        std::vector<std::string> lines;
        const char *problem;
    } rows[] = {
        {"LF and CR LF, last line unended", "|0000|a|\r\n|C100|b|\n|9999|", {"|0000|a|", "|C100|b|", "|9999|"}, ""},
        {"empty lines kept", "a\n\nb\n", {"a", "", "b"}, ""},
        {"a line past the limit", "ok\n" + std::string(300, 'x') + "\nnever\n", {"ok"}, "linha 2 maior que o limite de 256 bytes"},
        {"one long line across reads", std::string(200000, 'y'), {}, "linha 1 maior que o limite"},
    };
    for (const Row &r : rows) {
        std::vector<std::string> got;
        std::string problem;
        for (const SourceFile &f : ListSources({file("lines.txt", r.text)}))
            ReadSource(f, {}, [&](SourceEntry &e) {
                EXPECT_TRUE(e.stream) << r.name;
                EXPECT_EQ(e.stream->Head(), std::string_view(r.text).substr(0, kHeadBytes)) << r.name;
                ReadLines(*e.stream, 256, [&](std::string_view line, long number) {
                    EXPECT_EQ(number, static_cast<long>(got.size()) + 1) << r.name;
                    got.emplace_back(line);
                    return true;
                });
                problem = e.stream->Problem();
                return true;
            });
        EXPECT_EQ(got, r.lines) << r.name;
        EXPECT_NE(problem.find(r.problem), std::string::npos) << r.name << ": " << problem;
        EXPECT_EQ(problem.empty(), std::string(r.problem).empty()) << r.name;
    }
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
        const Read &last = texts.back();
        EXPECT_NE(last.problem.find(r.problem), std::string::npos) << r.name << ": " << last.problem;
        EXPECT_TRUE(last.text.empty()) << r.name;
    }
}

} // namespace
