#pragma once
// Where the import's files come from: single files, folders (recursively)
// and ZIP archives. Each file or archive entry is handed over as a stream
// read from its start in pieces, so memory stays flat whatever the size and
// the count; which format it holds is for the readers to tell (reader.h).
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct SourceLimits {
    std::uint64_t fileBytes = 16u << 20;     // a text a reader takes whole (an XML file or entry)
    std::uint64_t lineBytes = 64u << 10;     // one line of a file read line by line
    std::uint64_t archiveBytes = 4ull << 30; // everything one archive inflates to
    std::uint64_t nestedBytes = 256u << 20;  // an archive inside an archive, held whole to be opened
};

// What readers are chosen by: this many first bytes, fewer only when the
// file is shorter.
constexpr std::size_t kHeadBytes = 512;

// One file or archive entry, read once from its start.
class SourceStream {
public:
    virtual ~SourceStream() = default;
    SourceStream(const SourceStream &) = delete;
    SourceStream &operator=(const SourceStream &) = delete;

    // The first kHeadBytes, not consumed: Read still starts with them.
    std::string_view Head();
    // Up to `size` bytes; 0 at the end, or when the stream failed.
    std::size_t Read(char *data, std::size_t size);
    // Why the stream stopped before its end, in Portuguese; empty otherwise.
    const std::string &Problem() const { return problem_; }
    // Stops the stream, as when a reader's limit is passed; the first reason stays.
    void Fail(std::string problem);

    // The size the file or entry declares, when known; an entry's may lie.
    virtual std::optional<std::uint64_t> DeclaredSize() const = 0;
    virtual bool InArchive() const = 0;

protected:
    SourceStream() = default;
    // The next bytes; 0 at the end, or Fail() and 0 on an error.
    virtual std::size_t ReadMore(char *data, std::size_t size) = 0;

private:
    std::string head_;
    std::size_t headUsed_ = 0;
    bool headRead_ = false;
    std::string problem_;
};

// One input as listed: a file, or an archive to open when its turn comes.
struct SourceFile {
    std::string path;
    bool archive = false;  // named .zip; other files are opened as archives when they start like one
    std::string problem;   // why it is not read (not a regular file, a broken link), in Portuguese
};

// The files a list of paths names, in a stable order: every entry of a
// folder, sorted by path. A link to a file is read under its name and its
// target's; FIFOs, devices, sockets, links to folders and broken links are
// never opened but listed with their problem, as is a path that does not
// exist, so that every entry has its line in the result.
std::vector<SourceFile> ListSources(const std::vector<std::string> &paths);

// One file or archive entry: `name` is the file, or "archive.zip:entry".
// `stream` is null when it cannot be read at all, and `problem` says why.
struct SourceEntry {
    std::string name;
    SourceStream *stream = nullptr;
    std::string problem;  // Portuguese
};

// Hands `take` the file, or every entry of an archive in order (folders
// inside it left out; an archive inside it opened too, one level only, its
// entries named "archive.zip:inner.zip:entry"). An entry whose name
// escapes its folder and an unreadable file come as a problem; an archive
// inflating past its limit stops with its last stream failed. `take`
// returns false to stop; so does ReadSource then.
bool ReadSource(const SourceFile &file, const SourceLimits &limits, const std::function<bool(SourceEntry &)> &take);

// The whole stream as one text, for a reader that needs it all. Past
// `limit` (declared or read) the stream fails with that reason and the
// result is false.
bool ReadWholeText(SourceStream &in, std::uint64_t limit, std::string &text);

// Every line of the stream without its end (LF or CR LF), numbered from 1,
// for a reader of text records. A line past `limit` fails the stream. `take`
// returns false to stop; so does ReadLines then.
bool ReadLines(SourceStream &in, std::uint64_t limit,
               const std::function<bool(std::string_view line, long number)> &take);

// "16 MB", "64 KB": a limit as messages name it.
std::string SizeText(std::uint64_t bytes);
