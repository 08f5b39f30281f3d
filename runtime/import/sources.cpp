#include "import/sources.h"

#include "rtl/sysutils.h"

#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
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

std::string sizeText(std::uint64_t bytes) { return std::to_string(bytes / (1024 * 1024)) + " MB"; }

bool readArchive(const SourceFile &file, const SourceLimits &limits,
                 const std::function<bool(const SourceText &)> &take)
{
    int error = 0;
    std::unique_ptr<zip_t, decltype(&zip_discard)> archive(zip_open(file.path.c_str(), ZIP_RDONLY, &error),
                                                            &zip_discard);
    if (!archive) {
        zip_error_t ze;
        zip_error_init_with_code(&ze, error);
        std::string why = zip_error_strerror(&ze);
        zip_error_fini(&ze);
        return take({file.path, {}, "arquivo ZIP ilegível (" + why + ")"});
    }
    std::uint64_t inflated = 0;
    const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char *raw = zip_get_name(archive.get(), static_cast<zip_uint64_t>(i), ZIP_FL_ENC_GUESS);
        const std::string entry = raw ? raw : "";
        const std::string name = file.path + ":" + entry;
        if (!safeEntryName(entry)) {
            if (!take({name, {}, "entrada do ZIP sai da sua pasta ('" + entry + "')"}))
                return false;
            continue;
        }
        if (entry.back() == '/' || !endsWith(entry, ".xml"))
            continue;
        // The declared size may lie; the read below stops at the limit anyway.
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(archive.get(), static_cast<zip_uint64_t>(i), 0, &st) == 0 && (st.valid & ZIP_STAT_SIZE) &&
            st.size > limits.fileBytes) {
            if (!take({name, {}, "entrada do ZIP maior que o limite de " + sizeText(limits.fileBytes)}))
                return false;
            continue;
        }
        std::unique_ptr<zip_file_t, decltype(&zip_fclose)> in(zip_fopen_index(archive.get(), static_cast<zip_uint64_t>(i), 0),
                                                              &zip_fclose);
        if (!in) {
            if (!take({name, {}, std::string("entrada do ZIP ilegível (") + zip_strerror(archive.get()) + ")"}))
                return false;
            continue;
        }
        std::string text;
        std::string problem;
        char buffer[65536];
        for (;;) {
            const zip_int64_t n = zip_fread(in.get(), buffer, sizeof buffer);
            if (n < 0) {
                problem = std::string("entrada do ZIP corrompida (") + zip_file_strerror(in.get()) + ")";
                break;
            }
            if (n == 0)
                break;
            inflated += static_cast<std::uint64_t>(n);
            if (text.size() + static_cast<std::size_t>(n) > limits.fileBytes) {
                problem = "entrada do ZIP descompacta além do limite de " + sizeText(limits.fileBytes);
                break;
            }
            if (inflated > limits.archiveBytes) {
                take({name, {}, "arquivo ZIP descompacta além do limite de " + sizeText(limits.archiveBytes)});
                return true;
            }
            text.append(buffer, static_cast<std::size_t>(n));
        }
        if (!problem.empty())
            text.clear();
        if (!take({name, std::move(text), problem}))
            return false;
    }
    return true;
}

} // namespace

std::vector<SourceFile> ListSources(const std::vector<std::string> &paths)
{
    std::vector<SourceFile> out;
    for (const std::string &p : paths) {
        std::error_code ec;
        if (fs::is_directory(p, ec)) {
            std::vector<SourceFile> found;
            for (auto it = fs::recursive_directory_iterator(p, fs::directory_options::skip_permission_denied, ec);
                 !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
                if (!it->is_regular_file(ec))
                    continue;
                const std::string name = it->path().string();
                if (endsWith(name, ".xml"))
                    found.push_back({name, false});
                else if (endsWith(name, ".zip"))
                    found.push_back({name, true});
            }
            std::sort(found.begin(), found.end(), [](const SourceFile &a, const SourceFile &b) { return a.path < b.path; });
            out.insert(out.end(), found.begin(), found.end());
        } else {
            out.push_back({p, endsWith(p, ".zip")});
        }
    }
    return out;
}

bool ReadSource(const SourceFile &file, const SourceLimits &limits,
                const std::function<bool(const SourceText &)> &take)
{
    if (file.archive)
        return readArchive(file, limits, take);
    std::error_code ec;
    const auto size = fs::file_size(file.path, ec);
    if (ec)
        return take({file.path, {}, "arquivo ilegível (" + SystemErrorText(ec.value()) + ")"});
    if (size > limits.fileBytes)
        return take({file.path, {}, "arquivo maior que o limite de " + sizeText(limits.fileBytes)});
    std::ifstream in(file.path, std::ios::binary);
    std::string text(static_cast<std::size_t>(size), '\0');
    if (!in || !in.read(text.data(), static_cast<std::streamsize>(size)))
        return take({file.path, {}, "arquivo ilegível (" + SystemErrorText(errno) + ")"});
    return take({file.path, std::move(text), {}});
}
