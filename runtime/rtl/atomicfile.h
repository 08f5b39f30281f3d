#pragma once
// Files that appear whole or not at all. The bytes go to a temporary file
// beside the target, which is flushed to disk and renamed over the target
// in one step: a reader sees the old file or the new one, never a part, and
// a failed or abandoned write leaves the old one as it was.
//
// A temporary is named ".~NAME.PID.RANDOM.tmp" after its target and the
// writing process, so one left by a process that died can be told apart
// from one still being written (RemoveStaleTemporaries).
#include "rtl/sysutils.h"

#include <cstddef>
#include <string>
#include <string_view>

// The target exists and the commit was told not to replace it.
class EFileExists : public Exception { using Exception::Exception; };

class AtomicFile {
public:
    // Creates the temporary beside `path`; raises Exception naming `path`.
    explicit AtomicFile(std::string path);
    // Removes the temporary unless it was committed.
    ~AtomicFile();
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    const std::string &Path() const { return path_; }
    // For writers that open the file by name themselves (the descriptor is
    // then closed first with CloseDescriptor).
    const std::string &TemporaryPath() const { return temporary_; }
    int Descriptor() const { return fd_; }
    void CloseDescriptor();

    // Writes every byte; raises Exception naming the target.
    void Write(const void *data, std::size_t size);
    void Write(std::string_view bytes) { Write(bytes.data(), bytes.size()); }

    enum class Replace { Always, Never };
    // Flushes to disk and renames over the target. With Replace::Never an
    // existing target is kept and EFileExists raised, checked in the same
    // step as the rename so no other writer slips in between.
    void Commit(Replace replace = Replace::Always);
    // Drops the temporary now.
    void Discard();

private:
    [[noreturn]] void fail(int err) const;

    std::string path_, temporary_;
    int fd_ = -1;
    bool done_ = false;
};

// Replaces `path` with `bytes` through an AtomicFile.
void ReplaceFileContents(const std::string &path, std::string_view bytes,
                         AtomicFile::Replace replace = AtomicFile::Replace::Always);

// Removes the temporaries in `dir` whose writing process no longer runs;
// returns how many. Errors are ignored: this is housekeeping.
int RemoveStaleTemporaries(const std::string &dir);
