#include "rtl/atomicfile.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <random>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Past the process's file-size limit the kernel ends the writer with SIGXFSZ;
// ignored, the write fails with EFBIG instead and is reported like a full
// disk, whatever program this library is part of.
[[maybe_unused]] const bool fileSizeSignalIgnored = [] {
    std::signal(SIGXFSZ, SIG_IGN);
    return true;
}();

constexpr std::size_t kMaxKeptName = 180;  // of the target's name, so the temporary fits NAME_MAX

std::string folderOf(const std::string &path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string &path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The writer's pid in a temporary's name, or 0 when the name is not one of ours.
pid_t writerOf(const std::string &name)
{
    if (name.size() < 8 || name.compare(0, 2, ".~") != 0 || name.compare(name.size() - 4, 4, ".tmp") != 0)
        return 0;
    const std::string stem = name.substr(0, name.size() - 4);  // ".~NAME.PID.RANDOM"
    const auto random = stem.find_last_of('.');
    if (random == std::string::npos || random < 3)
        return 0;
    const auto pidStart = stem.find_last_of('.', random - 1);
    if (pidStart == std::string::npos || pidStart < 2)
        return 0;
    const std::string digits = stem.substr(pidStart + 1, random - pidStart - 1);
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    return static_cast<pid_t>(std::stol(digits));
}

void syncFolder(const std::string &dir)
{
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);  // the rename itself outlives a crash
        ::close(fd);
    }
}

// rename(2) that refuses to replace: renameat2 where the file system has it,
// else a hard link, which fails the same way on an existing name.
int renameNoReplace(const char *from, const char *to)
{
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    if (::link(from, to) != 0)
        return errno;
    ::unlink(from);
    return 0;
}
} // namespace

AtomicFile::AtomicFile(std::string path) : path_(std::move(path))
{
    const std::string dir = folderOf(path_);
    std::string base = nameOf(path_);
    if (base.size() > kMaxKeptName)
        base.resize(kMaxKeptName);
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
        char tail[48];
        std::snprintf(tail, sizeof tail, ".%ld.%08x.tmp", static_cast<long>(::getpid()), random());
        temporary_ = (dir == "/" ? std::string() : dir) + "/.~" + base + tail;
        fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0 || errno != EEXIST)
            break;
    }
    if (fd_ < 0) {
        done_ = true;  // nothing to remove
        fail(errno);
    }
}

AtomicFile::~AtomicFile() { Discard(); }

void AtomicFile::fail(int err) const
{
    throw Exception("Não foi possível gravar o arquivo \"" + path_ + "\": " + SystemErrorText(err) + ".");
}

void AtomicFile::CloseDescriptor()
{
    if (fd_ >= 0 && ::close(fd_) != 0) {
        fd_ = -1;
        fail(errno);
    }
    fd_ = -1;
}

void AtomicFile::Write(const void *data, std::size_t size)
{
    const char *bytes = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd_, bytes, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
}

void AtomicFile::Commit(Replace replace)
{
    if (done_)
        throw Exception("Arquivo \"" + path_ + "\" já concluído.");
    int err = 0;
    if (fd_ < 0) {
        // Written by name: reopen to flush what the writer left in the cache.
        fd_ = ::open(temporary_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0)
            err = errno;
    }
    if (!err && ::fsync(fd_) != 0)
        err = errno;
    if (fd_ >= 0 && ::close(fd_) != 0 && !err)
        err = errno;
    fd_ = -1;
    if (!err) {
        if (replace == Replace::Always)
            err = std::rename(temporary_.c_str(), path_.c_str()) == 0 ? 0 : errno;
        else
            err = renameNoReplace(temporary_.c_str(), path_.c_str());
    }
    if (err) {
        Discard();
        if (err == EEXIST)
            throw EFileExists("O arquivo \"" + path_ + "\" já existe.");
        fail(err);
    }
    done_ = true;
    syncFolder(folderOf(path_));
}

void AtomicFile::Discard()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (!done_)
        ::unlink(temporary_.c_str());
    done_ = true;
}

void ReplaceFileContents(const std::string &path, std::string_view bytes, AtomicFile::Replace replace)
{
    AtomicFile file(path);
    file.Write(bytes);
    file.Commit(replace);
}

int RemoveStaleTemporaries(const std::string &dir)
{
    DIR *d = ::opendir(dir.c_str());
    if (!d)
        return 0;
    int removed = 0;
    while (const dirent *e = ::readdir(d)) {
        const std::string name = e->d_name;
        const pid_t writer = writerOf(name);
        if (writer <= 0 || writer == ::getpid())
            continue;
        if (::kill(writer, 0) != 0 && errno == ESRCH && ::unlink((dir + "/" + name).c_str()) == 0)
            ++removed;
    }
    ::closedir(d);
    return removed;
}
