#pragma once
// Where the XML texts come from: single files, folders (recursively) and ZIP
// archives, one text at a time so memory stays flat whatever the count.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct SourceLimits {
    std::uint64_t fileBytes = 16u << 20;   // one XML file, or one archive entry once inflated
    std::uint64_t archiveBytes = 4ull << 30;  // everything one archive inflates to
};

// One input as listed: a file, or an archive to open when its turn comes.
struct SourceFile {
    std::string path;
    bool archive = false;
};

// The files a list of paths names, in a stable order: a folder's XML and ZIP
// files (by extension, any case), sorted by path; other files in folders are
// skipped. A path that does not exist is listed, to be refused when read.
std::vector<SourceFile> ListSources(const std::vector<std::string> &paths);

// One text to read, or why it cannot be: `name` is the file, or
// "archive.zip:entry.xml"; when `problem` is set, `text` is empty.
struct SourceText {
    std::string name;
    std::string text;
    std::string problem;  // Portuguese
};

// Hands each XML text of `file` to `take` in order: the file's content, or
// every entry of an archive whose name ends in .xml. A file or entry over
// the limits, an entry whose name escapes its folder and an unreadable file
// come as a problem instead. `take` returns false to stop.
bool ReadSource(const SourceFile &file, const SourceLimits &limits,
                const std::function<bool(const SourceText &)> &take);
