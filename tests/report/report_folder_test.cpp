// The report folder is read once and read again only after something in it
// changed, however it changed.
#include "report/reportdef.h"
#include "../support/temp_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

namespace fs = std::filesystem;

namespace {
struct Folder : TempFolder {
    Folder() : TempFolder("fis-reports") { fs::create_directory(root / "FIS028"); }
    void write(const std::string &file, const std::string &title) const
    {
        std::ofstream(root / "FIS028" / file) << R"({"code":"FIS028","title":")" << title
                                              << R"(","query":{"sql":["SELECT 1"]}})";
    }
    std::vector<std::string> titles() const
    {
        std::vector<std::string> out;
        for (const auto &d : *LoadReportDefinitions(root.string(), "FIS028"))
            out.push_back(d.title);
        return out;
    }
    fs::path dir() const { return root / "FIS028"; }
};
} // namespace

TEST(ReportFolder, UnchangedFolderGivesTheKeptList)
{
    Folder f;
    f.write("010.json", "Um");
    ReportList first = LoadReportDefinitions(f.root.string(), "FIS028");
    ReportList second = LoadReportDefinitions(f.root.string(), "FIS028");
    EXPECT_EQ(first.get(), second.get());
}

TEST(ReportFolder, EveryKindOfChangeIsSeen)
{
    struct Case {
        const char *what;
        std::function<void(Folder &)> change;
        std::vector<std::string> titles;
    } cases[] = {
        {"edited in place, same size", [](Folder &f) { f.write("010.json", "Uu"); }, {"Uu", "Dois"}},
        {"added", [](Folder &f) { f.write("030.json", "Tres"); }, {"Um", "Dois", "Tres"}},
        {"removed", [](Folder &f) { fs::remove(f.dir() / "020.json"); }, {"Um"}},
        {"renamed", [](Folder &f) { fs::rename(f.dir() / "010.json", f.dir() / "040.json"); }, {"Dois", "Um"}},
        {"saved by replacing",
         [](Folder &f) {
             f.write("tmp.part", "Novo");
             fs::rename(f.dir() / "tmp.part", f.dir() / "020.json");
         },
         {"Um", "Novo"}},
        {"folder recreated",
         [](Folder &f) {
             fs::remove_all(f.dir());
             fs::create_directory(f.dir());
             f.write("050.json", "Outro");
         },
         {"Outro"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Folder f;
        f.write("010.json", "Um");
        f.write("020.json", "Dois");
        ASSERT_EQ(f.titles(), (std::vector<std::string>{"Um", "Dois"}));
        c.change(f);
        EXPECT_EQ(f.titles(), c.titles);
        EXPECT_EQ(f.titles(), c.titles);  // and kept
    }
}

TEST(ReportFolder, EmptiedOrMissingFolderIsReported)
{
    Folder f;
    f.write("010.json", "Um");
    ASSERT_EQ(f.titles().size(), 1u);
    fs::remove(f.dir() / "010.json");
    EXPECT_THROW(f.titles(), ReportNotFound);
    fs::remove_all(f.dir());
    EXPECT_THROW(f.titles(), ReportNotFound);
    fs::create_directory(f.dir());
    f.write("010.json", "De volta");
    EXPECT_EQ(f.titles(), std::vector<std::string>{"De volta"});
}
