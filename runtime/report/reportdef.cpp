#include "report/reportdef.h"

#include "report/layout.h"

#include "rtl/files.h"
#include "rtl/sysutils.h"
#include "rtl/utf8.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <map>
#include <tuple>

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <filesystem>
#include <sstream>

namespace fs = std::filesystem;

namespace {
bool validUtf8(const std::string &s)
{
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char b = static_cast<unsigned char>(s[i]);
        std::size_t len;
        unsigned char lo = 0x80, hi = 0xBF;
        if (b < 0x80) len = 1;
        else if (b >= 0xC2 && b <= 0xDF) len = 2;
        else if (b >= 0xE0 && b <= 0xEF) len = 3, lo = b == 0xE0 ? 0xA0 : 0x80, hi = b == 0xED ? 0x9F : 0xBF;
        else if (b >= 0xF0 && b <= 0xF4) len = 4, lo = b == 0xF0 ? 0x90 : 0x80, hi = b == 0xF4 ? 0x8F : 0xBF;
        else return false;
        if (i + len > s.size())
            return false;
        for (std::size_t k = 1; k < len; ++k) {
            const unsigned char c = static_cast<unsigned char>(s[i + k]);
            if (c < lo || c > hi)
                return false;
            lo = 0x80, hi = 0xBF;
        }
        i += len;
    }
    return true;
}

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

const std::string &StatementVariants::For(const std::string &dialect) const
{
    if (const auto d = SqlDialectNamed(dialect); d && !Variant(*d).empty())
        return Variant(*d);
    return sql;
}

namespace {
nlohmann::ordered_json writeQuery(const StatementVariants &query)
{
    nlohmann::ordered_json q;  // stays null when there is no statement at all
    if (!query.sql.empty())
        q["sql"] = splitLines(query.sql);
    for (const SqlDialectName &d : kSqlDialects)
        if (!query.Variant(d.dialect).empty())
            q[d.name] = splitLines(query.Variant(d.dialect));
    return q;
}
} // namespace

ReportDefinition ParseReportDefinition(const std::string &jsonText, const std::string &file)
{
    auto fail = [&](const std::string &why) -> ReportDefinition {
        throw ReportDefinitionError(file, why);
    };
    if (JsonNestingDepth(jsonText) > kMaxJsonDepth)
        return fail("o JSON aninha listas ou objetos em mais de " + std::to_string(kMaxJsonDepth) + " níveis");
    nlohmann::json j;
    try {
        j = nlohmann::json::parse(jsonText);
    } catch (const nlohmann::json::parse_error &e) {
        return fail("o texto não é JSON válido (erro perto do caractere " + std::to_string(e.byte) + ")");
    }
    if (!j.is_object())
        return fail("o conteúdo deve ser um objeto JSON");
    auto lines = [&](const nlohmann::json &value, const char *key) -> std::string {
        if (value.is_string())
            return value.get<std::string>();
        if (!value.is_array())
            fail(std::string("\"") + key + "\" deve ser um texto ou uma lista de linhas");
        for (const auto &l : value)
            if (!l.is_string())
                fail(std::string("as linhas de \"") + key + "\" devem ser textos");
        return joinLines(value);
    };
    auto readQuery = [&](const nlohmann::json &q) {
        StatementVariants query;
        if (q.contains("sql"))
            query.sql = lines(q["sql"], "sql");
        for (const SqlDialectName &d : kSqlDialects)
            if (q.contains(d.name))
                query.Variant(d.dialect) = lines(q[d.name], d.name);
        return query;
    };
    ReportDefinition d;
    d.file = file;
    if (auto c = j.find("code"); c != j.end() && !c->is_null()) {
        if (!c->is_string())
            return fail("\"code\" deve ser um texto");
        d.code = c->get<std::string>();
    }
    auto t = j.find("title");
    if (t == j.end() || !t->is_string() || Trim(t->get<std::string>()).empty())
        return fail("falta o título (\"title\")");
    d.title = t->get<std::string>();
    if (auto q = j.find("query"); q != j.end() && !q->is_null()) {
        if (!q->is_object())
            return fail("\"query\" deve ser um objeto");
        d.query = readQuery(*q);
    }
    if (auto l = j.find("layout"); l != j.end() && !l->is_null())
        d.layoutJson = l->dump();
    if (auto s = j.find("sections"); s != j.end() && !s->is_null()) {
        if (!s->is_array())
            return fail("\"sections\" deve ser uma lista");
        for (const auto &part : *s) {
            ReportSection section;
            auto title = part.find("title");
            auto q = part.find("query");
            auto l = part.find("layout");
            if (!part.is_object() || title == part.end() || !title->is_string() || q == part.end() || !q->is_object() ||
                l == part.end() || !l->is_object())
                return fail("cada seção deve ter \"title\", \"query\" e \"layout\"");
            section.title = title->get<std::string>();
            section.query = readQuery(*q);
            section.layoutJson = l->dump();
            d.sections.push_back(std::move(section));
        }
    }
    return d;
}

std::string SerializeReportDefinition(const ReportDefinition &d)
{
    try {
        nlohmann::ordered_json j;
        j["code"] = d.code;
        j["title"] = d.title;
        j["query"] = writeQuery(d.query);
        if (!d.sections.empty()) {
            nlohmann::ordered_json sections = nlohmann::ordered_json::array();
            for (const ReportSection &s : d.sections) {
                nlohmann::ordered_json part;
                part["title"] = s.title;
                part["query"] = writeQuery(s.query);
                part["layout"] = nlohmann::ordered_json::parse(s.layoutJson);
                sections.push_back(part);
            }
            j["sections"] = sections;
        }
        j["layout"] = d.layoutJson.empty() ? nlohmann::ordered_json::object() : nlohmann::ordered_json::parse(d.layoutJson);
        return j.dump(2) + "\n";
    } catch (const nlohmann::json::type_error &) {
        throw Exception("O relatório '" + d.title + "' tem texto com caracteres inválidos e não pode ser gravado.");
    } catch (const nlohmann::json::exception &) {
        throw Exception("O layout do relatório '" + d.title + "' não é um JSON válido e não pode ser gravado.");
    }
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
    std::vector<SkippedReport> skipped;  // the files left out of `definitions`
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

namespace {
// The folder's definitions; null when it is missing or holds none. Files
// that cannot be read are added to `skipped` (saved folders only: a shipped
// definition must be sound).
ReportList loadFolder(const std::string &reportsDir, const std::string &code, bool saved,
                      std::vector<SkippedReport> *skipped)
{
    // Plain concatenation: building a path object on every open costs more
    // than the cached lookup it keys.
    std::string dir = reportsDir;
    if (!dir.empty() && dir.back() != '/')
        dir += '/';
    dir += code;
    {
        std::lock_guard<std::mutex> lock(cacheMutex);
        // A folder never listed has no news to read (a missing saved folder,
        // on every open); the others' stay queued until they are asked for.
        auto it = cache.find(dir);
        if (it != cache.end()) {
            collectChanges();
            if (it->second.definitions && !it->second.changed) {
                if (skipped)
                    skipped->insert(skipped->end(), it->second.skipped.begin(), it->second.skipped.end());
                return it->second.definitions;
            }
        }
    }
    std::error_code ec;
    if (!fs::is_directory(dir, ec))
        return nullptr;
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
        if (folder.definitions && folder.signature == signature && !signature.empty()) {
            if (skipped)
                skipped->insert(skipped->end(), folder.skipped.begin(), folder.skipped.end());
            return folder.definitions;
        }
    }
    std::vector<ReportDefinition> defs;
    std::vector<SkippedReport> broken;
    for (const auto &f : files) {
        try {
            defs.push_back(ParseReportDefinition(ReadWholeFile(f.string()), f.string()));
            defs.back().saved = saved;
        } catch (const ReportDefinitionError &e) {
            if (!saved)
                throw;  // a shipped definition must be sound; a person's broken copy is only skipped
            broken.push_back({f.string(), e.reason});
        } catch (const Exception &e) {
            if (!saved)
                throw;
            std::string why = e.Message();
            if (!why.empty() && why.back() == '.')
                why.pop_back();
            broken.push_back({f.string(), why});
        }
    }
    if (skipped)
        skipped->insert(skipped->end(), broken.begin(), broken.end());
    if (defs.empty())
        return nullptr;
    auto list = std::make_shared<const std::vector<ReportDefinition>>(std::move(defs));
    std::lock_guard<std::mutex> lock(cacheMutex);
    CachedFolder &folder = cache[dir];
    folder.signature = std::move(signature);
    folder.definitions = list;
    folder.skipped = std::move(broken);
    return list;
}
} // namespace

ReportList LoadReportDefinitions(const std::string &reportsDir, const std::string &code)
{
    ReportList list = loadFolder(reportsDir, code, false, nullptr);
    if (!list)
        throw ReportNotFound(code, reportsDir);
    return list;
}

ReportList LoadSavedReports(const std::string &savedDir, const std::string &code,
                            std::vector<SkippedReport> *skipped)
{
    // Most people never save one: a missing folder costs one look, no error.
    if (ReportList list = savedDir.empty() ? nullptr : loadFolder(savedDir, code, true, skipped))
        return list;
    static const ReportList none = std::make_shared<const std::vector<ReportDefinition>>();
    return none;
}

std::vector<ReportDefinition> MergeSavedReports(const std::vector<ReportDefinition> &shipped,
                                                const std::vector<ReportDefinition> &saved)
{
    std::vector<ReportDefinition> out = shipped;
    for (const ReportDefinition &s : saved) {
        auto same = std::find_if(out.begin(), out.end(), [&](const ReportDefinition &d) { return d.title == s.title; });
        if (same != out.end())
            *same = s;
        else
            out.push_back(s);
    }
    return out;
}

ReportDefinition ReadReportDefinition(const ReportDefinition &listed)
{
    std::string text;
    try {
        text = ReadWholeFile(listed.file);
    } catch (const EFileReadError &e) {
        if (e.error != ENOENT && e.error != ENOTDIR)
            throw;
        throw ReportNotFound(listed.code, fs::path(listed.file).parent_path().parent_path().string());
    }
    ReportDefinition d = ParseReportDefinition(text, listed.file);
    d.saved = listed.saved;
    return d;
}

void CheckReportTitle(const std::string &title)
{
    if (Trim(title).empty())
        throw Exception("Informe o título do relatório.");
    if (!validUtf8(title))
        throw Exception("O título do relatório tem caracteres inválidos. Digite-o novamente, só com letras, "
                        "números e sinais comuns.");
    for (unsigned char c : title)
        if (c < 0x20 || c == 0x7F)
            throw Exception("O título do relatório não pode ter quebras de linha nem caracteres de controle.");
}

std::string ReportFileName(const std::string &given)
{
    static const char hex[] = "0123456789ABCDEF";
    const std::string title = utf8::nfc(given);
    std::string name;
    std::vector<std::size_t> cuts;  // where a character starts, for shortening
    for (std::size_t i = 0; i < title.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(title[i]);
        if ((c & 0xC0) != 0x80)
            cuts.push_back(name.size());
        const bool plain = std::isalnum(c) || c == ' ' || c == '-' || c == '_' || c >= 0x80;
        // A leading blank or dash would make an awkward file name.
        if (plain && !(name.empty() && (c == ' ' || c == '-'))) {
            name += static_cast<char>(c);
        } else {
            name += '%';
            name += hex[c >> 4];
            name += hex[c & 15];
        }
    }
    constexpr std::size_t kLong = 180;
    if (name.size() > kLong) {
        std::size_t keep = 0;
        for (std::size_t at : cuts)
            if (at <= kLong - 20)
                keep = at;
        std::uint64_t digest = 1469598103934665603ULL;  // FNV-1a of the whole title
        for (unsigned char c : title)
            digest = (digest ^ c) * 1099511628211ULL;
        char tail[24];
        std::snprintf(tail, sizeof tail, "~%016llx", static_cast<unsigned long long>(digest));
        name = name.substr(0, keep) + tail;  // '~' is always escaped in a short name
    }
    return name + ".json";
}

std::string SavedReportPath(const std::string &savedDir, const std::string &code, const std::string &title)
{
    return (fs::path(savedDir) / fs::path(ReportFileName(code)).stem() / ReportFileName(title)).string();
}

std::string SaveReportDefinition(const std::string &savedDir, const ReportDefinition &given, AtomicFile::Replace replace)
{
    CheckReportTitle(given.title);
    // Titles that look the same are one title, and one file.
    ReportDefinition def = given;
    def.title = utf8::nfc(given.title);
    const std::string text = SerializeReportDefinition(def);
    const std::string path = SavedReportPath(savedDir, def.code, def.title);
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    if (ec)
        throw Exception("Não foi possível criar a pasta '" + fs::path(path).parent_path().string() +
                        "' para o relatório.");
    RemoveStaleTemporaries(fs::path(path).parent_path().string());
    ReplaceFileContents(path, text, replace);
    return path;
}
