#include "report/reportdef.h"

#include "rtl/sysutils.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>
#include <tuple>

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {
std::string joinLines(const nlohmann::json &lines)
{
    if (lines.is_string())
        return lines.get<std::string>();
    std::string out;
    for (const auto &l : lines) {
        if (!out.empty())
            out += '\n';
        out += l.get<std::string>();
    }
    return out;
}

nlohmann::json splitLines(const std::string &text)
{
    nlohmann::json lines = nlohmann::json::array();
    std::stringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}
} // namespace

const std::string &ReportDefinition::StatementFor(const std::string &dialect) const
{
    if (dialect == "oracle" && !oracle.empty()) return oracle;
    if (dialect == "mssql" && !mssql.empty()) return mssql;
    if (dialect == "interbase" && !interbase.empty()) return interbase;
    return sql;
}

ReportDefinition ParseReportDefinition(const std::string &jsonText, const std::string &file)
{
    auto j = nlohmann::json::parse(jsonText, nullptr, false);
    if (j.is_discarded() || !j.is_object())
        throw Exception("Definição de relatório inválida: " + file);
    try {
        ReportDefinition d;
        d.file = file;
        d.code = j.value("code", "");
        d.title = j.at("title").get<std::string>();
        if (auto q = j.find("query"); q != j.end()) {
            if (q->contains("sql")) d.sql = joinLines((*q)["sql"]);
            if (q->contains("oracle")) d.oracle = joinLines((*q)["oracle"]);
            if (q->contains("mssql")) d.mssql = joinLines((*q)["mssql"]);
            if (q->contains("interbase")) d.interbase = joinLines((*q)["interbase"]);
        }
        if (auto l = j.find("layout"); l != j.end())
            d.layoutJson = l->dump();
        return d;
    } catch (const nlohmann::json::exception &e) {
        throw Exception("Definição de relatório inválida: " + file + " (" + e.what() + ")");
    }
}

std::string SerializeReportDefinition(const ReportDefinition &d)
{
    nlohmann::ordered_json j;
    j["code"] = d.code;
    j["title"] = d.title;
    nlohmann::ordered_json q;
    if (!d.sql.empty()) q["sql"] = splitLines(d.sql);
    if (!d.oracle.empty()) q["oracle"] = splitLines(d.oracle);
    if (!d.mssql.empty()) q["mssql"] = splitLines(d.mssql);
    if (!d.interbase.empty()) q["interbase"] = splitLines(d.interbase);
    j["query"] = q;
    j["layout"] = d.layoutJson.empty() ? nlohmann::ordered_json::object() : nlohmann::ordered_json::parse(d.layoutJson);
    return j.dump(2) + "\n";
}

namespace {
// Screens list their reports every time they open; the files rarely change,
// so parsed definitions are kept while every file's size and time stay the
// same. The system tells when anything in a folder changes (a file saved,
// added, removed or renamed), so while it says nothing the kept list is
// used without listing the folder again. Where it cannot tell, the folder
// is listed every time.
struct CachedFolder {
    std::vector<std::tuple<std::string, long long, long long, long long>> signature;  // path, size, mtime s, ns
    ReportList definitions;
    int watch = -1;        // the folder's watch, or -1
    bool changed = true;   // seen to change since it was last listed
};

std::mutex cacheMutex;
std::map<std::string, CachedFolder> cache;
int notifier = -2;  // one inotify instance for every folder; -1 when there is none

// Marks the folders the system reported as changed. Under cacheMutex.
void collectChanges()
{
    if (notifier == -2)
        notifier = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (notifier < 0)
        return;
    alignas(inotify_event) char buf[4096];
    for (;;) {
        ssize_t n = ::read(notifier, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        for (ssize_t at = 0; at < n;) {
            const auto *e = reinterpret_cast<const inotify_event *>(buf + at);
            for (auto &[dir, folder] : cache)
                if (e->mask & IN_Q_OVERFLOW || folder.watch == e->wd) {
                    folder.changed = true;
                    if (e->mask & IN_IGNORED)
                        folder.watch = -1;  // the folder went away with its watch
                }
            at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        }
    }
}

// Under cacheMutex, before the folder's files are read, so a change made
// while reading them is seen on the next call.
void watchFolder(CachedFolder &folder, const std::string &dir)
{
    folder.changed = true;
    if (notifier < 0)
        return;
    const uint32_t events = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE | IN_MOVED_FROM |
                            IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;
    folder.watch = ::inotify_add_watch(notifier, dir.c_str(), events);  // the same watch when it exists
    folder.changed = folder.watch < 0;
}
} // namespace

ReportList LoadReportDefinitions(const std::string &reportsDir, const std::string &code)
{
    // Plain concatenation: building a path object on every open costs more
    // than the cached lookup it keys.
    std::string dir = reportsDir;
    if (!dir.empty() && dir.back() != '/')
        dir += '/';
    dir += code;
    {
        std::lock_guard<std::mutex> lock(cacheMutex);
        collectChanges();
        auto it = cache.find(dir);
        if (it != cache.end() && it->second.definitions && !it->second.changed)
            return it->second.definitions;
    }
    std::error_code ec;
    if (!fs::is_directory(dir, ec))
        throw ReportNotFound{code, reportsDir};
    {
        std::lock_guard<std::mutex> lock(cacheMutex);
        watchFolder(cache[dir], dir);
    }
    std::vector<fs::path> files;
    for (const auto &e : fs::directory_iterator(dir, ec))
        if (e.is_regular_file() && e.path().extension() == ".json")
            files.push_back(e.path());
    std::sort(files.begin(), files.end());
    decltype(CachedFolder::signature) signature;
    for (const auto &f : files) {
        struct stat st {};
        if (::stat(f.c_str(), &st) == 0)
            signature.emplace_back(f.string(), st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    }
    {
        std::lock_guard<std::mutex> lock(cacheMutex);
        CachedFolder &folder = cache[dir];
        if (folder.definitions && folder.signature == signature && !signature.empty())
            return folder.definitions;
    }
    std::vector<ReportDefinition> defs;
    for (const auto &f : files) {
        std::ifstream in(f, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        defs.push_back(ParseReportDefinition(text.str(), f.string()));
    }
    if (defs.empty())
        throw ReportNotFound{code, reportsDir};
    auto list = std::make_shared<const std::vector<ReportDefinition>>(std::move(defs));
    std::lock_guard<std::mutex> lock(cacheMutex);
    CachedFolder &folder = cache[dir];
    folder.signature = std::move(signature);
    folder.definitions = list;
    return list;
}
