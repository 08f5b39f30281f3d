#pragma once
// The host's configuration: one file of "key = value" lines, each key
// overridable by an environment variable FISHOST_<KEY> (upper case). With no
// file and no variables the embedded defaults apply.
#include <map>
#include <string>
#include <vector>

// The folders shipped with the program, found in the source tree it was
// built from (FIS_SOURCE_DIR at build time).
std::string DefaultReportsDir();
std::string DefaultFixturePath();  // the reference data alone
// Every fixture of the demo database, in loading order: the reference data,
// then the fiscal documents that refer to it.
std::vector<std::string> DefaultFixturePaths();
// Where the person's own reports go when saved_reports_dir is not set:
// $XDG_DATA_HOME/fishost/saved-reports (~/.local/share/... by default).
std::string DefaultSavedReportsDir();

struct HostConfig {
    std::string reportsDir = DefaultReportsDir();  // reports_dir: report definition files
    std::string savedReportsDir;   // saved_reports_dir: the person's own reports; empty: DefaultSavedReportsDir()
    std::string reportOutputDir;   // report_output_dir: where prints and previews write their files
    std::string reportFormats = "pdf";  // report_formats: what a print or preview writes ("pdf,csv,xlsx")
    std::string printCommand = "lp";  // print_command: takes the PDF's path; empty: no printer
    std::string productPicture;    // product_picture: edit mask of product tree codes
    std::string serverHost;        // server_host: application server; empty starts one
    int serverPort = 0;            // server_port
    std::string serverToken;       // server_token: shared secret, optional
    int serverTimeoutMs = 10000;   // server_timeout_ms: a call's whole deadline
    std::string engine = "sqlite"; // engine: sqlite | firebird
    std::string database;          // database: SQLite file, or Firebird database path/alias
    std::string dbHost = "127.0.0.1";  // db_host: Firebird server
    int dbPort = 3050;             // db_port
    std::string dbUser;            // db_user
    std::string dbPassword;        // db_password
    int dbTimeoutMs = 30000;       // db_timeout_ms: how long the database may keep silent in a call
    std::string dialect = "oracle";    // dialect: oracle | mssql | interbase

    // Where the file is looked for: $FISHOST_CONFIG, else the default location.
    static std::string DefaultPath();
    // Reads the file (missing is fine, unreadable or malformed raises
    // Exception naming file and line), then applies the environment.
    static HostConfig Load();
    static HostConfig Load(const std::string &path, const std::map<std::string, std::string> &env);
    static std::vector<std::string> Keys();
    // Sets a key by name; raises on an unknown key or a bad number.
    void Set(const std::string &key, const std::string &value);
    std::string Get(const std::string &key) const;
};
