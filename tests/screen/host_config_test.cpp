// The host's configuration keys: every one read from the file, overridden by
// its FISHOST_* variable, written back by Get and listed in the help.
#include "../support/temp_folder.h"
#include "host/hostconfig.h"
#include "rtl/sysutils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

namespace {
// Two values a key accepts, whatever its kind: the first two of these.
std::vector<std::string> acceptedValues(const std::string &key)
{
    std::vector<std::string> accepted;
    for (const char *candidate : {"5000", "6000", "csv", "xlsx", "firebird", "sqlite", "oracle", "mssql"}) {
        HostConfig c;
        try {
            c.Set(key, candidate);
        } catch (const Exception &) {
            continue;
        }
        if (accepted.size() < 2)
            accepted.emplace_back(candidate);
    }
    return accepted;
}
} // namespace

TEST(HostConfig, EveryKeyIsReadAndOverridden)
{
    TempFolder folder("hostconfig");
    const std::string path = folder.file("fishost.conf");
    const std::vector<std::string> keys = HostConfig::Keys();
    ASSERT_FALSE(keys.empty());
    std::map<std::string, std::string> env;
    {
        std::ofstream out(path);
        for (const std::string &key : keys) {
            const auto values = acceptedValues(key);
            ASSERT_EQ(values.size(), 2u) << key;
            out << key << " = " << values[0] << "\n";
        }
    }
    for (const std::string &key : keys) {
        SCOPED_TRACE(key);
        const auto values = acceptedValues(key);
        const HostConfig fromFile = HostConfig::Load(path, {});
        EXPECT_EQ(fromFile.Get(key), values[0]);
        const std::string variable = HostConfig::EnvironmentName(key);
        const HostConfig overridden = HostConfig::Load(path, {{variable, values[1]}});
        EXPECT_EQ(overridden.Get(key), values[1]) << variable;
        // No other key moves.
        for (const std::string &other : keys) {
            if (other != key) {
                EXPECT_EQ(overridden.Get(other), fromFile.Get(other)) << other;
            }
        }
        EXPECT_NE(HostConfig::KeysHelp().find("  " + key + " "), std::string::npos);
    }
}

TEST(HostConfig, DefaultsAndRefusals)
{
    const HostConfig defaults;
    EXPECT_EQ(defaults.reportsDir, DefaultReportsDir());
    EXPECT_EQ(defaults.reportFormats, "pdf");
    EXPECT_EQ(defaults.printCommand, "lp");
    EXPECT_EQ(defaults.serverTimeoutMs, 10000);
    EXPECT_EQ(defaults.engine, "sqlite");
    EXPECT_EQ(defaults.dbHost, "127.0.0.1");
    EXPECT_EQ(defaults.dbPort, 0);  // the engine's own
    EXPECT_EQ(defaults.dialect, "oracle");
    EXPECT_EQ(defaults.serverPort, 0);
    EXPECT_TRUE(defaults.database.empty());
    EXPECT_EQ(HostConfig::EnvironmentName("db_port"), "FISHOST_DB_PORT");

    const struct {
        const char *key, *value, *message;
    } refused[] = {
        {"engine", "oracle", "engine deve ser 'sqlite', 'firebird' ou 'postgresql', não 'oracle'"},
        {"dialect", "db2", "dialect deve ser 'oracle', 'mssql' ou 'interbase', não 'db2'"},
        {"db_port", "", "'db_port' deve ser uma porta (0 a 65535)"},
        {"db_port", "70000", "'db_port' deve ser uma porta"},
        {"server_port", "12a", "'server_port' deve ser uma porta"},
        {"server_timeout_ms", "99", "milissegundos (100 a 3600000)"},
        {"report_formats", "pdf,html", "report_formats aceita pdf, csv e xlsx, não 'html'"},
        {"no_such_key", "1", "chave desconhecida 'no_such_key'"},
    };
    for (const auto &r : refused) {
        SCOPED_TRACE(std::string(r.key) + "=" + r.value);
        HostConfig c;
        try {
            c.Set(r.key, r.value);
            ADD_FAILURE() << "accepted";
        } catch (const Exception &e) {
            EXPECT_NE(e.Message().find(r.message), std::string::npos) << e.Message();
        }
        const auto keys = HostConfig::Keys();
        if (std::find(keys.begin(), keys.end(), r.key) != keys.end()) {
            EXPECT_THROW(HostConfig::Load("/nonexistent/fishost.conf", {{HostConfig::EnvironmentName(r.key), r.value}}),
                         Exception)
                << "an override is checked like the file";
        }
    }
}

// A dialect nobody names is the engine's own; a named one stays whatever the
// engine, wherever either was set.
TEST(HostConfig, TheDialectFollowsTheEngineUnlessNamed)
{
    TempFolder folder("hostconfig");
    const struct {
        const char *file;
        std::map<std::string, std::string> env;
        const char *dialect;
    } cases[] = {
        {"", {}, "oracle"},
        {"engine = firebird\n", {}, "interbase"},
        {"", {{"FISHOST_ENGINE", "firebird"}}, "interbase"},
        {"engine = postgresql\n", {}, "oracle"},
        {"engine = firebird\n", {{"FISHOST_ENGINE", "sqlite"}}, "oracle"},
        {"dialect = oracle\nengine = firebird\n", {}, "oracle"},
        {"engine = firebird\ndialect = mssql\n", {}, "mssql"},
        {"engine = firebird\n", {{"FISHOST_DIALECT", "oracle"}}, "oracle"},
        {"dialect = interbase\n", {{"FISHOST_ENGINE", "postgresql"}}, "interbase"},
    };
    for (const auto &c : cases) {
        const std::string path = folder.file("fishost.conf");
        std::ofstream(path) << c.file;
        EXPECT_EQ(HostConfig::Load(path, c.env).dialect, c.dialect) << c.file;
    }
    // As a command line's --engine sets it.
    HostConfig config;
    config.Set("engine", "firebird");
    EXPECT_EQ(config.dialect, "interbase");
}
