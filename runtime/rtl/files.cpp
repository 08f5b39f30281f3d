#include "rtl/files.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
[[noreturn]] void failRead(const std::string &path, int error)
{
    throw EFileReadError("Não foi possível ler o arquivo '" + path + "': " + SystemErrorText(error) + ".", path, error);
}

[[noreturn]] void failSize(const std::string &path, std::size_t limit)
{
    const std::string most = limit % (std::size_t{1} << 20) == 0 ? std::to_string(limit >> 20) + " MB"
                                                                  : std::to_string(limit) + " bytes";
    throw EFileReadError("O arquivo '" + path + "' passa de " + most + " e não foi lido.", path, 0);
}

struct Descriptor {
    int fd;
    ~Descriptor() { ::close(fd); }
};


std::string readWhole(const std::string &path, std::size_t limit, bool regularOnly)
{
    // Non-blocking open: opening a FIFO with no writer would otherwise wait.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | (regularOnly ? O_NONBLOCK : 0));
    if (fd < 0)
        failRead(path, errno);
    const Descriptor closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        failRead(path, errno);
    if (S_ISDIR(st.st_mode))
        failRead(path, EISDIR);
    if (regularOnly && !S_ISREG(st.st_mode))
        throw EFileReadError("O arquivo '" + path + "' não é um arquivo comum e não foi lido.", path, 0);
    if (S_ISREG(st.st_mode) && static_cast<unsigned long long>(st.st_size) > limit)
        failSize(path, limit);

    // The size is only a hint: a file may grow while it is read, and pipes
    // and /proc files report none.
    std::string bytes;
    if (S_ISREG(st.st_mode))
        bytes.reserve(static_cast<std::size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            failRead(path, errno);
        if (n == 0)
            return bytes;
        if (bytes.size() + static_cast<std::size_t>(n) > limit)
            failSize(path, limit);
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
}
} // namespace

std::string ReadWholeFile(const std::string &path, std::size_t limit) { return readWhole(path, limit, false); }

std::string ReadRegularFile(const std::string &path, std::size_t limit) { return readWhole(path, limit, true); }

std::string WithoutBom(std::string text)
{
    if (text.rfind(kUtf8Bom, 0) == 0)
        text.erase(0, sizeof kUtf8Bom - 1);
    return text;
}
