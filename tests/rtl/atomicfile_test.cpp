// Files appear whole or not at all, and temporaries of dead writers go away.
#include "rtl/atomicfile.h"
#include "rtl/files.h"
#include "../support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {
struct Folder : TempFolder {
    Folder() : TempFolder("fis-atomic") {}
};

std::string read(const std::string &path) { return ReadWholeFile(path); }
} // namespace

TEST(AtomicFile, TheTargetChangesOnlyAtTheCommit)
{
    Folder f;
    const std::string target = f.file("r.json");
    std::ofstream(target) << "old";
    {
        AtomicFile file(target);
        file.Write("new content");
        EXPECT_EQ(read(target), "old");  // a reader still sees the old one
        EXPECT_EQ(f.entries().size(), 2u);
        file.Commit();
    }
    EXPECT_EQ(read(target), "new content");
    EXPECT_EQ(f.entries(), std::set<std::string>{"r.json"});
}

TEST(AtomicFile, AnAbandonedWriteLeavesTheOldFileAndNoTemporary)
{
    Folder f;
    const std::string target = f.file("r.json");
    std::ofstream(target) << "old";
    try {
        AtomicFile file(target);
        file.Write("half of it");
        throw std::runtime_error("the writer failed");
    } catch (const std::runtime_error &) {
    }
    EXPECT_EQ(read(target), "old");
    EXPECT_EQ(f.entries(), std::set<std::string>{"r.json"});
}

TEST(AtomicFile, NeverReplaceKeepsWhatIsThere)
{
    Folder f;
    const std::string target = f.file("r.json");
    ReplaceFileContents(target, "first", AtomicFile::Replace::Never);
    EXPECT_EQ(read(target), "first");
    EXPECT_THROW(ReplaceFileContents(target, "second", AtomicFile::Replace::Never), EFileExists);
    EXPECT_EQ(read(target), "first");
    EXPECT_EQ(f.entries(), std::set<std::string>{"r.json"});
    ReplaceFileContents(target, "third");
    EXPECT_EQ(read(target), "third");
}

TEST(AtomicFile, FailuresNameTheTarget)
{
    Folder f;
    fs::create_directory(f.file("pasta"));
    const std::pair<std::string, const char *> cases[] = {
        {f.file("não-existe/r.pdf"), "arquivo ou pasta inexistente"},
        {f.file("pasta"), "é uma pasta"},
    };
    for (const auto &[target, reason] : cases) {
        try {
            ReplaceFileContents(target, "x");
            ADD_FAILURE() << target;
        } catch (const Exception &e) {
            EXPECT_NE(e.Message().find(target), std::string::npos) << e.Message();
            EXPECT_EQ(e.Message().find("Não foi possível gravar"), 0u) << e.Message();
            EXPECT_NE(e.Message().find(reason), std::string::npos) << e.Message();  // the reason in Portuguese
        }
    }
    EXPECT_EQ(f.entries(), std::set<std::string>{"pasta"});
    EXPECT_TRUE(fs::is_empty(f.file("pasta")));
}

TEST(AtomicFile, PastTheFileSizeLimitTheWriteFailsAndTheProcessLives)
{
    Folder f;
    const std::string target = f.file("r.pdf");
    ReplaceFileContents(target, "antes");
    const pid_t child = fork();
    if (child == 0) {
        rlimit limit{1000, 1000};
        setrlimit(RLIMIT_FSIZE, &limit);
        try {
            ReplaceFileContents(target, std::string(5000, 'x'));
        } catch (const Exception &e) {
            _exit(e.Message().find("tamanho máximo") != std::string::npos ? 0 : 2);
        }
        _exit(1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(read(target), "antes");
    EXPECT_EQ(f.entries(), std::set<std::string>{"r.pdf"});
}

TEST(AtomicFile, TemporariesOfDeadWritersAreRemovedAndLiveOnesKept)
{
    Folder f;
    // A writer killed in the middle of its file.
    const pid_t child = fork();
    if (child == 0) {
        AtomicFile file(f.file("morto.pdf"));
        file.Write("%PDF-1.4 half");
        _exit(0);  // no destructor runs, as with a crash
    }
    int status = 0;
    waitpid(child, &status, 0);
    AtomicFile live(f.file("vivo.pdf"));
    std::ofstream(f.file(".~alheio.txt")) << "not ours";
    std::ofstream(f.file("final.pdf")) << "done";
    ASSERT_EQ(f.entries().size(), 4u);
    EXPECT_EQ(RemoveStaleTemporaries(f.root.string()), 1);
    std::set<std::string> left = f.entries();
    EXPECT_EQ(left.count("final.pdf"), 1u);
    EXPECT_EQ(left.count(".~alheio.txt"), 1u);
    EXPECT_EQ(left.count(fs::path(live.TemporaryPath()).filename().string()), 1u);
    EXPECT_EQ(left.size(), 3u);
    EXPECT_EQ(RemoveStaleTemporaries(f.file("missing")), 0);
}

TEST(AtomicFile, AVeryLongNameStillGetsATemporary)
{
    Folder f;
    const std::string target = f.file(std::string(250, 'a'));
    ReplaceFileContents(target, "x");
    EXPECT_EQ(read(target), "x");
}
