#pragma once
// Private to the report library: a ZIP archive written front to back, one
// entry after the other, each deflated as its bytes arrive (a sheet of a
// million rows is never held whole). Sizes go in a data descriptor after
// each entry and in the central directory at the end, as readers expect.
// An entry or an archive past 4 GiB is refused with an Exception: the
// archive carries no ZIP64 records.
#include "rtl/atomicfile.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class ZipStream {
public:
    explicit ZipStream(AtomicFile &file);
    ~ZipStream();
    ZipStream(const ZipStream &) = delete;
    ZipStream &operator=(const ZipStream &) = delete;

    // Starts an entry; the one before must have ended.
    void Begin(const std::string &name);
    void Write(std::string_view bytes);
    void End();
    // Writes the central directory; the archive is complete.
    void Finish();

private:
    struct Entry {
        std::string name;
        std::uint32_t crc = 0;
        std::uint64_t compressed = 0, size = 0, offset = 0;
    };
    void deflateOut(int flush);
    void emit(std::string_view bytes);
    void flushOut();

    AtomicFile &file_;
    std::vector<Entry> entries_;
    struct Deflater;
    std::unique_ptr<Deflater> deflater_;
    std::string out_;
    std::uint64_t written_ = 0;
    bool open_ = false;
};
