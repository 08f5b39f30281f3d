#pragma once
// The host's configuration: one file of "key = value" lines, each key
// overridable by an environment variable FISHOST_<KEY> (upper case). With no
// file and no variables the embedded defaults apply.
#include "data/engine.h"

#include <cstddef>
#include <map>
#include <string>
#include <vector>

// The folders shipped with the program, found in the source tree it was
// built from (FIS_SOURCE_DIR at build time).
std::string DefaultReportsDir();
std::string DefaultFixturePath();  // the reference data alone
// Every fixture of the demo database, in loading order: the reference data,
// the CFOP table, then the fiscal documents that refer to them.
std::vector<std::string> DefaultFixturePaths();
// The CFOP table of the annex in force, which every database gets.
std::string DefaultCfopFixturePath();
// The fiscal documents' tables, the shared fiscal months and apuração lines, and the demo's rows.
std::string DefaultFiscalFixturePath();
// The NF-e import's own tables and shipped rows.
std::string DefaultImportFixturePath();
// A file of fixtures/ by name, as an engine's descriptor names its own.
std::string FixturePath(const std::string &name);
// The CFOP summary the default engine keeps per document, with what keeps it.
std::string DefaultSummaryFixturePath();
// What an older database of `engine` takes its missing parts from.
UpgradeFixtures UpgradeFixturesFor(const DatabaseEngine &engine);
// Where the person's own reports go when saved_reports_dir is not set:
// $XDG_DATA_HOME/fishost/saved-reports (~/.local/share/... by default).
std::string DefaultSavedReportsDir();

// Every key has one row in the table of hostconfig.cpp: its member, how its
// text is read, its default and what it means. Reading the file, the
// FISHOST_* override, Get and the help text all go through that row.
struct HostConfig {
    std::string reportsDir;        // reports_dir
    std::string savedReportsDir;   // saved_reports_dir
    std::string reportOutputDir;   // report_output_dir
    std::string reportFormats;     // report_formats
    std::string printCommand;      // print_command
    std::string productPicture;    // product_picture
    std::string serverHost;        // server_host
    int serverPort = 0;            // server_port
    std::string serverToken;       // server_token
    int serverTimeoutMs = 0;       // server_timeout_ms
    std::string engine;            // engine
    std::string database;          // database
    std::string dbHost;            // db_host
    int dbPort = 0;                // db_port
    std::string dbUser;            // db_user
    std::string dbPassword;        // db_password
    std::string importUser;        // import_user
    std::string importPassword;    // import_password
    int dbTimeoutMs = 0;           // db_timeout_ms
    int dbBusyTimeoutMs = 0;       // db_busy_timeout_ms
    std::string dialect;           // dialect
    // Whether `dialect` was named; unnamed, it follows the engine.
    bool dialectNamed = false;

    HostConfig();  // every key at its default

    // Where the file is looked for: $FISHOST_CONFIG, else the default location.
    static std::string DefaultPath();
    // Reads the file (missing is fine; one that is there but cannot be read,
    // is not a regular file, is over kConfigFileLimit, has a line over
    // kConfigLineLimit or is malformed raises Exception naming file and
    // line), then applies the environment.
    static HostConfig Load();
    static HostConfig Load(const std::string &path, const std::map<std::string, std::string> &env);
    static constexpr std::size_t kConfigFileLimit = std::size_t{1} << 20;
    static constexpr std::size_t kConfigLineLimit = 16 * 1024;
    static std::vector<std::string> Keys();
    // "FISHOST_DB_PORT" for "db_port".
    static std::string EnvironmentName(const std::string &key);
    // One line a key: name, default and meaning, for a program's --help.
    static std::string KeysHelp();
    // Sets a key by name; raises on an unknown key or a bad value.
    void Set(const std::string &key, const std::string &value);
    std::string Get(const std::string &key) const;
};
