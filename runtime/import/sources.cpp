#include "import/sources.h"

#include "rtl/sysutils.h"

#include <zip.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

namespace fs = std::filesystem;

namespace {

bool endsWith(std::string name, const char *suffix)
{
    for (char &c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string s = suffix;
    return name.size() >= s.size() && name.compare(name.size() - s.size(), s.size(), s) == 0;
}

// A local file header, or the end record of an empty archive.
bool looksLikeZip(std::string_view head)
{
    return head.substr(0, 4) == std::string_view("PK\x03\x04", 4) || head.substr(0, 4) == std::string_view("PK\x05\x06", 4);
}

// An entry name that stays inside the folder it is extracted to.
bool safeEntryName(const std::string &name)
{
    if (name.empty() || name[0] == '/' || name[0] == '\\' || name.find('\\') != std::string::npos ||
        (name.size() > 1 && name[1] == ':'))
        return false;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t slash = name.find('/', start);
        if (slash == std::string::npos)
            slash = name.size();
        if (name.compare(start, slash - start, "..") == 0 && slash - start == 2)
            return false;
        start = slash + 1;
    }
    return true;
}

class FileStream : public SourceStream {
public:
    FileStream(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
    ~FileStream() override { ::close(fd_); }
    std::optional<std::uint64_t> DeclaredSize() const override { return size_; }
    bool InArchive() const override { return false; }

protected:
    std::size_t ReadMore(char *data, std::size_t size) override
    {
        for (;;) {
            const ssize_t n = ::read(fd_, data, size);
            if (n >= 0)
                return static_cast<std::size_t>(n);
            if (errno != EINTR) {
                Fail("arquivo ilegível (" + SystemErrorText(errno) + ")");
                return 0;
            }
        }
    }

private:
    int fd_;
    std::uint64_t size_;
};

// Opens a regular file only: a FIFO swapped in after the listing must not
// block the import, so the file is opened without waiting and checked.
int openRegular(const std::string &path, std::uint64_t &size, std::string &problem)
{
    std::error_code ec;
    size = fs::file_size(path, ec);
    if (ec) {
        problem = "arquivo ilegível (" + SystemErrorText(ec.value()) + ")";
        return -1;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        problem = "arquivo ilegível (" + SystemErrorText(fd < 0 ? errno : EINVAL) + ")";
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    size = static_cast<std::uint64_t>(st.st_size);
    return fd;
}

class EntryStream : public SourceStream {
public:
    EntryStream(zip_file_t *file, std::optional<std::uint64_t> size, std::uint64_t &inflated, std::uint64_t limit)
        : file_(file, &zip_fclose), size_(size), inflated_(inflated), limit_(limit)
    {
    }
    std::optional<std::uint64_t> DeclaredSize() const override { return size_; }
    bool InArchive() const override { return true; }
    bool PastArchiveLimit() const { return inflated_ > limit_; }

protected:
    std::size_t ReadMore(char *data, std::size_t size) override
    {
        const zip_int64_t n = zip_fread(file_.get(), data, size);
        if (n < 0) {
            Fail(std::string("entrada do ZIP corrompida (") + zip_file_strerror(file_.get()) + ")");
            return 0;
        }
        inflated_ += static_cast<std::uint64_t>(n);
        if (PastArchiveLimit()) {
            Fail("arquivo ZIP descompacta além do limite de " + SizeText(limit_));
            return 0;
        }
        return static_cast<std::size_t>(n);
    }

private:
    std::unique_ptr<zip_file_t, decltype(&zip_fclose)> file_;
    std::optional<std::uint64_t> size_;
    std::uint64_t &inflated_;
    std::uint64_t limit_;
};

bool readEntries(zip_t *archive, const std::string &path, int depth, std::uint64_t &inflated, const SourceLimits &limits,
                 const std::function<bool(SourceEntry &)> &take);

// `zip_open`'s error as a person reads it.
std::string zipOpenError(int error)
{
    zip_error_t ze;
    zip_error_init_with_code(&ze, error);
    std::string why = zip_error_strerror(&ze);
    zip_error_fini(&ze);
    return why;
}

// An archive inside an archive: held whole (under nestedBytes) and opened
// from memory, its entries read like the outer's.
bool readNested(EntryStream &stream, const std::string &name, std::uint64_t &inflated, const SourceLimits &limits,
                const std::function<bool(SourceEntry &)> &take)
{
    std::string bytes;
    if (!ReadWholeText(stream, limits.nestedBytes, bytes)) {
        SourceEntry e{name, nullptr, stream.Problem()};
        return take(e);
    }
    zip_error_t ze;
    zip_error_init(&ze);
    zip_source_t *source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &ze);
    zip_t *inner = source ? zip_open_from_source(source, ZIP_RDONLY, &ze) : nullptr;
    if (!inner) {
        std::string why = zip_error_strerror(&ze);
        if (source)
            zip_source_free(source);
        zip_error_fini(&ze);
        SourceEntry e{name, nullptr, "arquivo ZIP dentro do ZIP ilegível (" + why + ")"};
        return take(e);
    }
    zip_error_fini(&ze);
    std::unique_ptr<zip_t, decltype(&zip_discard)> owner(inner, &zip_discard);
    return readEntries(inner, name, 1, inflated, limits, take);
}

bool readEntries(zip_t *archive, const std::string &path, int depth, std::uint64_t &inflated, const SourceLimits &limits,
                 const std::function<bool(SourceEntry &)> &take)
{
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const auto index = static_cast<zip_uint64_t>(i);
        const char *raw = zip_get_name(archive, index, ZIP_FL_ENC_GUESS);
        const std::string entry = raw ? raw : "";
        SourceEntry e{path + ":" + entry, nullptr, {}};
        if (!safeEntryName(entry)) {
            e.problem = "entrada do ZIP sai da sua pasta ('" + entry + "')";
            if (!take(e))
                return false;
            continue;
        }
        if (entry.back() == '/')
            continue;
        zip_stat_t st;
        zip_stat_init(&st);
        std::optional<std::uint64_t> size;
        if (zip_stat_index(archive, index, 0, &st) == 0 && (st.valid & ZIP_STAT_SIZE))
            size = st.size;
        zip_file_t *in = zip_fopen_index(archive, index, 0);
        if (!in) {
            e.problem = std::string("entrada do ZIP ilegível (") + zip_strerror(archive) + ")";
            if (!take(e))
                return false;
            continue;
        }
        EntryStream stream(in, size, inflated, limits.archiveBytes);
        bool go;
        if (looksLikeZip(stream.Head()) || endsWith(entry, ".zip")) {
            if (depth == 0) {
                go = readNested(stream, e.name, inflated, limits, take);
            } else {
                e.problem = "arquivo ZIP dentro de ZIP dentro de ZIP não é aberto (só um nível)";
                go = take(e);
            }
        } else {
            e.stream = &stream;
            go = take(e);
        }
        if (!go)
            return false;
        if (stream.PastArchiveLimit())
            return true;
    }
    return true;
}

bool readArchive(const std::string &path, const SourceLimits &limits, const std::function<bool(SourceEntry &)> &take)
{
    int error = 0;
    std::unique_ptr<zip_t, decltype(&zip_discard)> archive(zip_open(path.c_str(), ZIP_RDONLY, &error), &zip_discard);
    if (!archive) {
        SourceEntry e{path, nullptr, "arquivo ZIP ilegível (" + zipOpenError(error) + ")"};
        return take(e);
    }
    std::uint64_t inflated = 0;
    return readEntries(archive.get(), path, 0, inflated, limits, take);
}

// Why a folder's entry that is not a regular file is not read.
std::string notRegular(const fs::directory_entry &entry)
{
    std::error_code ec;
    const fs::file_status own = entry.symlink_status(ec);
    if (fs::is_symlink(own)) {
        const std::string target = fs::read_symlink(entry.path(), ec).string();
        const fs::file_status points = entry.status(ec);
        if (!fs::exists(points))
            return "ligação simbólica quebrada (aponta para '" + target + "', que não existe)";
        if (fs::is_directory(points))
            return "ligação simbólica para a pasta '" + target + "': não é seguida";
        return "ligação simbólica para '" + target + "', que não é um arquivo comum";
    }
    switch (own.type()) {
    case fs::file_type::fifo: return "FIFO (pipe nomeado): não é um arquivo comum e não é aberto";
    case fs::file_type::socket: return "socket: não é um arquivo comum e não é aberto";
    case fs::file_type::block:
    case fs::file_type::character: return "dispositivo: não é um arquivo comum e não é aberto";
    default: return "não é um arquivo comum e não é aberto";
    }
}

} // namespace

std::string_view SourceStream::Head()
{
    if (!headRead_) {
        headRead_ = true;
        head_.resize(kHeadBytes);
        std::size_t got = 0;
        while (got < kHeadBytes && problem_.empty()) {
            const std::size_t n = ReadMore(head_.data() + got, kHeadBytes - got);
            if (n == 0)
                break;
            got += n;
        }
        head_.resize(got);
    }
    return std::string_view(head_).substr(headUsed_);
}

std::size_t SourceStream::Read(char *data, std::size_t size)
{
    if (!problem_.empty() || size == 0)
        return 0;
    const std::string_view rest = Head();
    if (!rest.empty()) {
        const std::size_t n = std::min(size, rest.size());
        std::memcpy(data, rest.data(), n);
        headUsed_ += n;
        return n;
    }
    return ReadMore(data, size);
}

void SourceStream::Fail(std::string problem)
{
    if (problem_.empty())
        problem_ = problem.empty() ? "leitura interrompida" : std::move(problem);
}

std::string SizeText(std::uint64_t bytes)
{
    if (bytes < 1024)
        return std::to_string(bytes) + " bytes";
    if (bytes < (1u << 20))
        return std::to_string(bytes / 1024) + " KB";
    return std::to_string(bytes / (1024 * 1024)) + " MB";
}

std::vector<SourceFile> ListSources(const std::vector<std::string> &paths)
{
    std::vector<SourceFile> out;
    for (const std::string &p : paths) {
        std::error_code ec;
        if (fs::is_directory(p, ec)) {
            std::vector<SourceFile> found;
            for (auto it = fs::recursive_directory_iterator(p, fs::directory_options::skip_permission_denied, ec);
                 !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
                std::error_code own;
                if (it->is_directory(own) && !it->is_symlink(own))
                    continue;
                const std::string name = it->path().string();
                if (!it->is_regular_file(own)) {
                    found.push_back({name, false, notRegular(*it)});
                    continue;
                }
                if (it->is_symlink(own)) {
                    // A link to an archive is one by its target's name too.
                    const std::string target = fs::read_symlink(it->path(), own).string();
                    found.push_back({name, endsWith(name, ".zip") || endsWith(target, ".zip"), {}});
                    continue;
                }
                found.push_back({name, endsWith(name, ".zip"), {}});
            }
            std::sort(found.begin(), found.end(), [](const SourceFile &a, const SourceFile &b) { return a.path < b.path; });
            out.insert(out.end(), found.begin(), found.end());
        } else {
            out.push_back({p, endsWith(p, ".zip"), {}});
        }
    }
    return out;
}

bool ReadSource(const SourceFile &file, const SourceLimits &limits, const std::function<bool(SourceEntry &)> &take)
{
    if (!file.problem.empty()) {
        SourceEntry e{file.path, nullptr, file.problem};
        return take(e);
    }
    if (file.archive)
        return readArchive(file.path, limits, take);
    SourceEntry e{file.path, nullptr, {}};
    std::uint64_t size = 0;
    const int fd = openRegular(file.path, size, e.problem);
    if (fd < 0)
        return take(e);
    FileStream stream(fd, size);
    if (looksLikeZip(stream.Head()))
        return readArchive(file.path, limits, take);
    e.stream = &stream;
    return take(e);
}

bool ReadWholeText(SourceStream &in, std::uint64_t limit, std::string &text)
{
    text.clear();
    const char *what = in.InArchive() ? "entrada do ZIP" : "arquivo";
    if (auto declared = in.DeclaredSize(); declared && *declared > limit) {
        in.Fail(std::string(what) + " maior que o limite de " + SizeText(limit));
        return false;
    }
    if (auto declared = in.DeclaredSize(); declared && !in.InArchive())
        text.reserve(static_cast<std::size_t>(*declared));
    char buffer[65536];
    while (const std::size_t n = in.Read(buffer, sizeof buffer)) {
        if (text.size() + n > limit) {
            in.Fail(in.InArchive() ? "entrada do ZIP descompacta além do limite de " + SizeText(limit)
                                   : "arquivo maior que o limite de " + SizeText(limit));
            break;
        }
        text.append(buffer, n);
    }
    if (!in.Problem().empty()) {
        text.clear();
        return false;
    }
    return true;
}

bool ReadLines(SourceStream &in, std::uint64_t limit, const std::function<bool(std::string_view, long)> &take)
{
    std::string line;
    long number = 0;
    char buffer[65536];
    auto give = [&] {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        return take(line, ++number);
    };
    while (const std::size_t n = in.Read(buffer, sizeof buffer)) {
        std::size_t at = 0;
        while (at < n) {
            const char *end = static_cast<const char *>(std::memchr(buffer + at, '\n', n - at));
            const std::size_t piece = (end ? static_cast<std::size_t>(end - buffer) : n) - at;
            if (line.size() + piece > limit) {
                in.Fail("linha " + std::to_string(number + 1) + " maior que o limite de " + SizeText(limit));
                return true;
            }
            // A whole line inside the buffer is handed on where it lies.
            if (end && line.empty()) {
                std::string_view whole(buffer + at, piece);
                if (!whole.empty() && whole.back() == '\r')
                    whole.remove_suffix(1);
                at += piece + 1;
                if (!take(whole, ++number))
                    return false;
                continue;
            }
            line.append(buffer + at, piece);
            at += piece;
            if (!end)
                break;
            ++at;
            if (!give())
                return false;
            line.clear();
        }
    }
    if (in.Problem().empty() && !line.empty() && !give())
        return false;
    return true;
}
