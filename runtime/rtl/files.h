#pragma once
// Reading a file whole. Every caller gets the same checks: a size limit, so
// a wrong path (a device, a log that grew without end) is refused instead of
// filling memory, and one Portuguese error that names the path.
#include "rtl/sysutils.h"

#include <cstddef>
#include <string>

// The file could not be read whole. `error` is the system's error number,
// or 0 when the file is larger than the reader's limit.
class EFileReadError : public Exception {
public:
    EFileReadError(std::string message, std::string path, int error)
        : Exception(std::move(message)), path(std::move(path)), error(error)
    {
    }
    std::string path;
    int error;
};

// Far above any definition, fixture or scenario, far below what the host
// can spare.
inline constexpr std::size_t kWholeFileLimit = std::size_t{256} << 20;

// Every byte of `path`. Raises EFileReadError when it cannot be opened, is a
// folder, holds more than `limit` bytes or a read fails.
std::string ReadWholeFile(const std::string &path, std::size_t limit = kWholeFileLimit);

// As ReadWholeFile, for input a person names (a scenario, a configuration):
// only a regular file is read. A device, a pipe or a socket is refused
// without waiting on it, so /dev/zero or a FIFO can neither fill memory nor
// hang the reader.
std::string ReadRegularFile(const std::string &path, std::size_t limit);

// A UTF-8 byte-order mark at the start, which editors on other systems write.
inline constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";
// `text` without a leading byte-order mark.
std::string WithoutBom(std::string text);
