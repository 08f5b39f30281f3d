#include "host/hostconfig.h"

#include "rtl/sysutils.h"

#include <cstdlib>
#include <fstream>
#include <unistd.h>

extern char **environ;

namespace {
int toPort(const std::string &key, const std::string &value)
{
    try {
        std::size_t used = 0;
        int n = std::stoi(value, &used);
        if (used == value.size() && n >= 0 && n <= 65535)
            return n;
    } catch (const std::exception &) {
    }
    throw Exception("Configuração: '" + key + "' deve ser uma porta (0 a 65535), não '" + value + "'.");
}

int toMilliseconds(const std::string &key, const std::string &value)
{
    try {
        std::size_t used = 0;
        int n = std::stoi(value, &used);
        if (used == value.size() && n >= 100 && n <= 3600000)
            return n;
    } catch (const std::exception &) {
    }
    throw Exception("Configuração: '" + key + "' deve ser um tempo em milissegundos (100 a 3600000), não '" +
                    value + "'.");
}

std::string upper(std::string s)
{
    for (char &c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
    return s;
}
} // namespace

std::vector<std::string> HostConfig::Keys()
{
    return {"reports_dir", "saved_reports_dir", "report_output_dir", "report_formats", "print_command", "product_picture",
            "server_host", "server_port", "server_token", "server_timeout_ms", "engine", "database", "db_host", "db_port",
            "db_user", "db_password", "db_timeout_ms", "dialect"};
}

void HostConfig::Set(const std::string &key, const std::string &value)
{
    if (key == "reports_dir") reportsDir = value;
    else if (key == "saved_reports_dir") savedReportsDir = value;
    else if (key == "report_output_dir") reportOutputDir = value;
    else if (key == "report_formats") {
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
        reportFormats = value;
    }
    else if (key == "print_command") printCommand = value;
    else if (key == "product_picture") productPicture = value;
    else if (key == "server_host") serverHost = value;
    else if (key == "server_port") serverPort = value.empty() ? 0 : toPort(key, value);
    else if (key == "server_token") serverToken = value;
    else if (key == "server_timeout_ms") serverTimeoutMs = toMilliseconds(key, value);
    else if (key == "engine") {
        if (value != "sqlite" && value != "firebird")
            throw Exception("Configuração: engine deve ser 'sqlite' ou 'firebird', não '" + value + "'.");
        engine = value;
    } else if (key == "database") database = value;
    else if (key == "db_host") dbHost = value;
    else if (key == "db_port") dbPort = toPort(key, value);
    else if (key == "db_user") dbUser = value;
    else if (key == "db_password") dbPassword = value;
    else if (key == "db_timeout_ms") dbTimeoutMs = toMilliseconds(key, value);
    else if (key == "dialect") {
        if (value != "oracle" && value != "mssql" && value != "interbase")
            throw Exception("Configuração: dialect deve ser 'oracle', 'mssql' ou 'interbase', não '" + value + "'.");
        dialect = value;
    } else
        throw Exception("Configuração: chave desconhecida '" + key + "'.");
}

std::string HostConfig::Get(const std::string &key) const
{
    if (key == "reports_dir") return reportsDir;
    if (key == "saved_reports_dir") return savedReportsDir;
    if (key == "report_output_dir") return reportOutputDir;
    if (key == "report_formats") return reportFormats;
    if (key == "print_command") return printCommand;
    if (key == "product_picture") return productPicture;
    if (key == "server_host") return serverHost;
    if (key == "server_port") return std::to_string(serverPort);
    if (key == "server_token") return serverToken;
    if (key == "server_timeout_ms") return std::to_string(serverTimeoutMs);
    if (key == "engine") return engine;
    if (key == "database") return database;
    if (key == "db_host") return dbHost;
    if (key == "db_port") return std::to_string(dbPort);
    if (key == "db_user") return dbUser;
    if (key == "db_password") return dbPassword;
    if (key == "db_timeout_ms") return std::to_string(dbTimeoutMs);
    if (key == "dialect") return dialect;
    throw Exception("Configuração: chave desconhecida '" + key + "'.");
}

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
    std::ifstream in(path);
    if (in) {
        std::string line;
        int number = 0;
        while (std::getline(in, line)) {
            ++number;
            std::string t = Trim(line);
            if (t.empty() || t[0] == '#' || t[0] == ';')
                continue;
            auto eq = t.find('=');
            if (eq == std::string::npos)
                throw Exception("Configuração " + path + ":" + std::to_string(number) + ": falta '='.");
            try {
                c.Set(Trim(t.substr(0, eq)), Trim(t.substr(eq + 1)));
            } catch (const Exception &e) {
                throw Exception(path + ":" + std::to_string(number) + ": " + e.Message());
            }
        }
    }
    for (const auto &key : Keys())
        if (auto it = env.find("FISHOST_" + upper(key)); it != env.end())
            c.Set(key, it->second);
    return c;
}

std::string DefaultReportsDir() { return std::string(FIS_SOURCE_DIR) + "/reports"; }
std::string DefaultFixturePath() { return std::string(FIS_SOURCE_DIR) + "/fixtures/reference.sql"; }
std::vector<std::string> DefaultFixturePaths()
{
    return {DefaultFixturePath(), std::string(FIS_SOURCE_DIR) + "/fixtures/fiscal.sql"};
}
