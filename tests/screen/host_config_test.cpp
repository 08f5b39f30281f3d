// The host's configuration keys: every one read from the file, overridden by
// its FISHOST_* variable, written back by Get and listed in the help.
#include "../support/temp_folder.h"
#include "host/hostconfig.h"
#include "rtl/sysutils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

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

// Only a file that is not there gives the defaults: one that is there but
// cannot be read is an error, never silently the defaults.
TEST(HostConfig, AFileThatCannotBeReadIsAnErrorAndAMarkIsSkipped)
{
    TempFolder f("fis-config");
    const std::string marked = f.file("marked.conf");
    std::ofstream(marked) << "\xEF\xBB\xBF" "report_formats = csv\n";
    EXPECT_EQ(HostConfig::Load(marked, {}).reportFormats, "csv");
    EXPECT_EQ(HostConfig::Load(f.file("absent.conf"), {}).reportFormats, "pdf");

    const std::string loop = f.file("loop.conf");
    std::filesystem::create_symlink(loop, loop);
    const std::string dangling = f.file("dangling.conf");
    std::filesystem::create_symlink(f.file("gone.conf"), dangling);
    const std::string longLine = f.file("long.conf");
    std::ofstream(longLine) << "# ok\nprint_command = " << std::string(HostConfig::kConfigLineLimit, 'x') << "\n";
    const std::string big = f.file("big.conf");
    std::ofstream(big) << std::string(HostConfig::kConfigFileLimit + 1, '#');
    const struct {
        const char *label;
        std::string path, says;
    } rows[] = {
        {"a folder", f.root.string(), "é uma pasta"},
        {"a loop of links", loop, "ligações simbólicas em laço"},
        {"a link to nothing", dangling, "arquivo ou pasta inexistente"},
        {"a device", "/dev/zero", "não é um arquivo comum"},
        {"a line over the limit", longLine, longLine + ":2: linha com mais de"},
        {"over the size limit", big, "passa de 1 MB"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.label);
        try {
            HostConfig::Load(r.path, {});
            ADD_FAILURE() << "the defaults were taken";
        } catch (const Exception &e) {
            EXPECT_NE(e.Message().find(r.says), std::string::npos) << e.Message();
            EXPECT_LT(e.Message().size(), 400u) << "the line is not echoed";
        }
    }
}
