#include "host/hostconfig.h"

#include "data/dialect.h"
#include "data/engine.h"
#include "rtl/files.h"
#include "rtl/sysutils.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <type_traits>

#include <sys/stat.h>
#include <unistd.h>

extern char **environ;

namespace {
// Parsers: a key's text as its member holds it, or an Exception naming the key.
std::string anyText(const std::string &, const std::string &value) { return value; }

int number(const std::string &key, const std::string &value, int least, int most, const std::string &what)
{
    try {
        std::size_t used = 0;
        int n = std::stoi(value, &used);
        if (used == value.size() && n >= least && n <= most)
            return n;
    } catch (const std::exception &) {
    }
    throw Exception("Configuração: '" + key + "' deve ser " + what + ", não '" + value + "'.");
}

int port(const std::string &key, const std::string &value) { return number(key, value, 0, 65535, "uma porta (0 a 65535)"); }
int portOrNone(const std::string &key, const std::string &value) { return value.empty() ? 0 : port(key, value); }
int milliseconds(const std::string &key, const std::string &value)
{
    return number(key, value, 100, 3600000, "um tempo em milissegundos (100 a 3600000)");
}

std::string reportFormats(const std::string &, const std::string &value)
{
    std::size_t start = 0;
    while (start <= value.size()) {
        std::size_t comma = value.find(',', start);
        if (comma == std::string::npos)
            comma = value.size();
        const std::string name = Trim(value.substr(start, comma - start));
        if (!name.empty() && name != "pdf" && name != "csv" && name != "xlsx")
            throw Exception("Configuração: report_formats aceita pdf, csv e xlsx, não '" + name + "'.");
        start = comma + 1;
    }
    return value;
}

// "dialect deve ser 'oracle', 'mssql' ou 'interbase'".
auto oneOf(std::vector<std::string> choices)
{
    return [choices](const std::string &key, const std::string &value) {
        std::string allowed;
        const std::size_t n = choices.size();
        for (std::size_t i = 0; i < n; ++i) {
            if (value == choices[i])
                return value;
            allowed += (i == 0 ? "'" : i + 1 == n ? " ou '" : ", '") + choices[i] + "'";
        }
        throw Exception("Configuração: " + key + " deve ser " + allowed + ", não '" + value + "'.");
    };
}

std::vector<std::string> dialectNames()
{
    const auto names = SqlDialectNames();
    return {names.begin(), names.end()};
}

std::vector<std::string> engineNames()
{
    std::vector<std::string> names;
    for (const DatabaseEngine *engine : DatabaseEngines())
        names.emplace_back(engine->name);
    return names;
}

// "sqlite or firebird", and the servers' ports: "firebird 3050".
std::string joined(const std::vector<std::string> &items, const char *last)
{
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i)
        text += (i == 0 ? "" : i + 1 == items.size() ? last : ", ") + items[i];
    return text;
}

std::string defaultPorts()
{
    std::vector<std::string> ports;
    for (const DatabaseEngine *engine : DatabaseEngines())
        if (engine->defaultPort)
            ports.push_back(std::string(engine->name) + " " + std::to_string(engine->defaultPort));
    return joined(ports, ", ");
}

struct Key {
    const char *name;
    std::function<void(HostConfig &, const std::string &key, const std::string &value)> set;
    std::function<std::string(const HostConfig &)> get;
    std::string defaultText;  // read like a file's value when a HostConfig is made
    std::string meaning;
};

template <class T, class Parser>
Key row(const char *name, T HostConfig::*member, Parser parse, std::string defaultText, std::string meaning)
{
    return {name,
            [member, parse](HostConfig &c, const std::string &key, const std::string &value) { c.*member = parse(key, value); },
            [member](const HostConfig &c) {
                if constexpr (std::is_same_v<T, int>)
                    return std::to_string(c.*member);
                else
                    return c.*member;
            },
            std::move(defaultText), std::move(meaning)};
}

// "sqlite oracle, firebird interbase, ..." for the help text.
std::string defaultDialects()
{
    std::string text;
    for (const DatabaseEngine *e : DatabaseEngines())
        text += (text.empty() ? "" : ", ") + std::string(e->name) + " " + e->defaultDialect;
    return text;
}

const std::vector<Key> &table()
{
    static const std::vector<Key> keys = {
        row("reports_dir", &HostConfig::reportsDir, anyText, DefaultReportsDir(), "report definition files"),
        row("saved_reports_dir", &HostConfig::savedReportsDir, anyText, "",
            "the person's own reports; empty: $XDG_DATA_HOME/fishost/saved-reports"),
        row("report_output_dir", &HostConfig::reportOutputDir, anyText, "",
            "where prints and previews write their files; empty: fishost-reports in the temporary folder"),
        row("report_formats", &HostConfig::reportFormats, reportFormats, "pdf",
            "what a print or preview writes: pdf, csv, xlsx, comma-separated (the PDF always)"),
        row("print_command", &HostConfig::printCommand, anyText, "lp",
            "program given the PDF's path where no print dialog is; empty: no printer"),
        row("product_picture", &HostConfig::productPicture, anyText, "",
            "edit mask of product tree codes; empty: 99.99.9999;1;_"),
        row("server_host", &HostConfig::serverHost, anyText, "", "application server; empty starts one"),
        row("server_port", &HostConfig::serverPort, portOrNone, "0", "application server's port"),
        row("server_token", &HostConfig::serverToken, anyText, "", "shared secret the server requires, optional"),
        row("server_timeout_ms", &HostConfig::serverTimeoutMs, milliseconds, "10000",
            "a call's whole deadline: connecting, sending and the entire reply"),
        row("engine", &HostConfig::engine, oneOf(engineNames()), DefaultEngine().name, joined(engineNames(), " or ")),
        row("database", &HostConfig::database, anyText, "",
            "SQLite file (created without demo data when missing), or the server's database path or alias; "
            "empty: a fresh demo copy"),
        row("db_host", &HostConfig::dbHost, anyText, "127.0.0.1", "database server"),
        row("db_port", &HostConfig::dbPort, port, "0", "database server's port; 0: the engine's (" + defaultPorts() + ")"),
        row("db_user", &HostConfig::dbUser, anyText, "", "database server's login"),
        row("db_password", &HostConfig::dbPassword, anyText, "", "that login's password"),
        row("import_user", &HostConfig::importUser, anyText, "", "server login with write rights, for the NF-e import"),
        row("import_password", &HostConfig::importPassword, anyText, "", "that login's password"),
        row("db_timeout_ms", &HostConfig::dbTimeoutMs, milliseconds, "30000",
            "how long the database may keep silent during one call; past it the statement is stopped"),
        row("db_busy_timeout_ms", &HostConfig::dbBusyTimeoutMs, milliseconds, std::to_string(kDefaultBusyTimeoutMs),
            "SQLite: how long a write waits for another's (an import's) lock before giving up"),
        row("dialect", &HostConfig::dialect, oneOf(dialectNames()), DefaultEngine().defaultDialect,
            "which statement variant the queries run: oracle, mssql or interbase; unnamed, the engine's own (" +
                defaultDialects() + ")"),
    };
    return keys;
}

const Key &find(const std::string &name)
{
    for (const Key &k : table())
        if (name == k.name)
            return k;
    throw Exception("Configuração: chave desconhecida '" + name + "'.");
}
} // namespace

HostConfig::HostConfig()
{
    for (const Key &k : table())
        k.set(*this, k.name, k.defaultText);
}

std::vector<std::string> HostConfig::Keys()
{
    std::vector<std::string> names;
    for (const Key &k : table())
        names.emplace_back(k.name);
    return names;
}

std::string HostConfig::EnvironmentName(const std::string &key)
{
    std::string name = "FISHOST_" + key;
    for (char &c : name)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return name;
}

std::string HostConfig::KeysHelp()
{
    std::size_t width = 0;
    for (const Key &k : table())
        width = std::max(width, std::string(k.name).size());
    std::string text;
    for (const Key &k : table()) {
        const std::string name = k.name;
        text += "  " + name + std::string(width + 2 - name.size(), ' ') + k.meaning;
        if (!k.defaultText.empty())
            text += " (default: " + k.defaultText + ")";
        text += '\n';
    }
    return text;
}

void HostConfig::Set(const std::string &key, const std::string &value)
{
    find(key).set(*this, key, value);
    // The engine brings the statements written for it unless a dialect was named.
    if (key == "dialect")
        dialectNamed = true;
    else if (key == "engine" && !dialectNamed)
        dialect = EngineNamed(engine).defaultDialect;
}

std::string HostConfig::Get(const std::string &key) const { return find(key).get(*this); }

std::string DefaultSavedReportsDir()
{
    if (const char *x = std::getenv("XDG_DATA_HOME"); x && *x)
        return std::string(x) + "/fishost/saved-reports";
    if (const char *h = std::getenv("HOME"); h && *h)
        return std::string(h) + "/.local/share/fishost/saved-reports";
    return "/tmp/fishost-saved-reports";
}

std::string HostConfig::DefaultPath()
{
    if (const char *p = std::getenv("FISHOST_CONFIG"); p && *p)
        return p;
    if (const char *x = std::getenv("XDG_CONFIG_HOME"); x && *x)
        return std::string(x) + "/fishost/fishost.conf";
    if (const char *h = std::getenv("HOME"); h && *h)
        return std::string(h) + "/.config/fishost/fishost.conf";
    return "fishost.conf";
}

HostConfig HostConfig::Load()
{
    std::map<std::string, std::string> env;
    for (char **e = environ; e && *e; ++e) {
        std::string kv(*e);
        auto eq = kv.find('=');
        if (eq != std::string::npos && kv.rfind("FISHOST_", 0) == 0)
            env[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    return Load(DefaultPath(), env);
}

HostConfig HostConfig::Load(const std::string &path, const std::map<std::string, std::string> &env)
{
    HostConfig c;
    // Only a file that is not there means the defaults; one that is there
    // but cannot be read (a folder, a loop of links, no permission, a device)
    // is the person's mistake and is said so.
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 || errno != ENOENT) {
        std::string text;
        try {
            text = WithoutBom(ReadRegularFile(path, kConfigFileLimit));
        } catch (const EFileReadError &e) {
            throw Exception("Configuração: " + e.Message());
        }
        std::istringstream in(text);
        std::string line;
        int number = 0;
        while (std::getline(in, line)) {
            ++number;
            const std::string where = "Configuração " + path + ":" + std::to_string(number) + ": ";
            if (line.size() > kConfigLineLimit)
                throw Exception(where + "linha com mais de " + std::to_string(kConfigLineLimit) + " bytes.");
            std::string t = Trim(line);
            if (t.empty() || t[0] == '#' || t[0] == ';')
                continue;
            auto eq = t.find('=');
            if (eq == std::string::npos)
                throw Exception(where + "falta '='.");
            try {
                c.Set(Trim(t.substr(0, eq)), Trim(t.substr(eq + 1)));
            } catch (const Exception &e) {
                throw Exception(path + ":" + std::to_string(number) + ": " + e.Message());
            }
        }
    }
    for (const Key &k : table())
        if (auto it = env.find(EnvironmentName(k.name)); it != env.end())
            c.Set(k.name, it->second);
    return c;
}

std::string DefaultReportsDir() { return std::string(FIS_SOURCE_DIR) + "/reports"; }
std::string DefaultFixturePath() { return std::string(FIS_SOURCE_DIR) + "/fixtures/reference.sql"; }
std::string DefaultCfopFixturePath() { return std::string(FIS_SOURCE_DIR) + "/fixtures/cfop.sql"; }
std::string DefaultFiscalFixturePath() { return std::string(FIS_SOURCE_DIR) + "/fixtures/fiscal.sql"; }
std::string DefaultImportFixturePath() { return std::string(FIS_SOURCE_DIR) + "/fixtures/import.sql"; }
std::string FixturePath(const std::string &name) { return std::string(FIS_SOURCE_DIR) + "/fixtures/" + name; }
std::string DefaultSummaryFixturePath() { return FixturePath(DefaultEngine().summaryFixture); }
UpgradeFixtures UpgradeFixturesFor(const DatabaseEngine &engine)
{
    return {FixturePath(engine.summaryFixture), DefaultCfopFixturePath(), DefaultFiscalFixturePath()};
}
std::vector<std::string> DefaultFixturePaths()
{
    // The engine's schema and kept summary after the tables they guard: every
    // database built from these gets them.
    return {DefaultFixturePath(), DefaultCfopFixturePath(), DefaultFiscalFixturePath(),
            FixturePath(DefaultEngine().schemaFixture), DefaultSummaryFixturePath()};
}
