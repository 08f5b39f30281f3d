// A file read whole: every byte as it is, and each refusal in Portuguese with
// the path and the reason.
#include "rtl/files.h"
#include "../support/temp_folder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include <sys/stat.h>

namespace {
struct Folder : TempFolder {
    Folder() : TempFolder("fis-files") {}
    std::string write(const std::string &name, const std::string &bytes) const
    {
        std::ofstream(file(name), std::ios::binary) << bytes;
        return file(name);
    }
};

TEST(ReadWholeFile, GivesEveryByteAsItIs)
{
    Folder f;
    const std::string large(300000, 'x');  // more than one read's buffer
    for (const std::string &bytes : {std::string(), std::string("a\r\nb\n"), std::string("\0\xff\0", 3), large}) {
        EXPECT_EQ(ReadWholeFile(f.write("f", bytes)), bytes);
        EXPECT_EQ(ReadWholeFile(f.file("f"), bytes.size()), bytes) << "exactly at the limit";
    }
}

TEST(ReadWholeFile, RefusesWhatItCannotReadWholeNamingThePath)
{
    Folder f;
    const struct {
        const char *label;
        std::string path;
        std::size_t limit;
        int error;
        const char *says;
    } rows[] = {
        {"missing", f.file("absent.json"), kWholeFileLimit, ENOENT, "arquivo ou pasta inexistente"},
        {"under a file", f.write("plain", "x") + "/inside", kWholeFileLimit, ENOTDIR, "não é uma pasta"},
        {"a folder", f.root.string(), kWholeFileLimit, EISDIR, "é uma pasta"},
        {"over the limit", f.write("big", "12345678901"), 10, 0, "passa de 10 bytes"},
        {"over a limit in MB", f.write("huge", std::string((1 << 20) + 1, 'x')), 1 << 20, 0, "passa de 1 MB"},
        {"no size known", "/proc/self/status", 8, 0, "passa de 8 bytes"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.label);
        try {
            ReadWholeFile(r.path, r.limit);
            ADD_FAILURE() << "read";
        } catch (const EFileReadError &e) {
            EXPECT_EQ(e.error, r.error);
            EXPECT_EQ(e.path, r.path);
            EXPECT_NE(e.Message().find("'" + r.path + "'"), std::string::npos) << e.Message();
            EXPECT_NE(e.Message().find(r.says), std::string::npos) << e.Message();
        }
    }
}

TEST(ReadRegularFile, ReadsOnlyRegularFilesWithoutWaitingOnThem)
{
    Folder f;
    EXPECT_EQ(ReadRegularFile(f.write("plain", "a\nb"), 3), "a\nb");
    const std::string link = f.file("link");
    std::filesystem::create_symlink(f.file("plain"), link);
    EXPECT_EQ(ReadRegularFile(link, 3), "a\nb") << "a link to a file is that file";
    const std::string loop = f.file("loop");
    std::filesystem::create_symlink(loop, loop);
    const std::string fifo = f.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);  // no writer: a blocking open would wait forever
    const struct {
        const char *label;
        std::string path;
        int error;
        const char *says;
    } rows[] = {
        {"a device without end", "/dev/zero", 0, "não é um arquivo comum"},
        {"a pipe", fifo, 0, "não é um arquivo comum"},
        {"a folder", f.root.string(), EISDIR, "é uma pasta"},
        {"a loop of links", loop, ELOOP, "ligações simbólicas em laço"},
        {"over the limit", f.write("big", "12345"), 0, "passa de 4 bytes"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.label);
        try {
            ReadRegularFile(r.path, 4);
            ADD_FAILURE() << "read";
        } catch (const EFileReadError &e) {
            EXPECT_EQ(e.error, r.error);
            EXPECT_NE(e.Message().find("'" + r.path + "'"), std::string::npos) << e.Message();
            EXPECT_NE(e.Message().find(r.says), std::string::npos) << e.Message();
        }
    }
}

TEST(WithoutBom, DropsOnlyALeadingMark)
{
    EXPECT_EQ(WithoutBom("\xEF\xBB\xBF" "a=1"), "a=1");
    EXPECT_EQ(WithoutBom("a\xEF\xBB\xBF"), "a\xEF\xBB\xBF");
    EXPECT_EQ(WithoutBom("\xEF\xBB"), "\xEF\xBB");
    EXPECT_EQ(WithoutBom(""), "");
}

TEST(ReadWholeFile, ReadsFilesThatGiveNoSize)
{
    EXPECT_NE(ReadWholeFile("/proc/self/status").find("Name:"), std::string::npos);
}
} // namespace
