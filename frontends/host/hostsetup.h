#pragma once
// Everything a host run needs around the package: the database, the
// application server, the host packages and the loaded package itself.
#include "host/hostconfig.h"
#include "package_loader.h"
#include "rtl/sysutils.h"

#include <memory>
#include <string>
#include <vector>

class AppServerProcess;
class TemporaryDemoDatabase;

struct HostRunOptions {
    std::string packagePath;     // empty: beside the program
    bool startServer = true;     // false: no server, calls find none
    bool freshDemoDatabase = true;  // SQLite without a configured file: a fresh copy of the demo data
    std::string serverLog;       // the server's request log; empty discards it
    // Report output and saved reports go to folders of this run's own,
    // removed with it, unless report_output_dir and saved_reports_dir name
    // them; nothing is printed.
    bool temporaryReportOutput = false;
};

class HostRun {
public:
    HostRun(HostConfig config, const HostRunOptions &options);
    ~HostRun();
    HostRun(const HostRun &) = delete;
    HostRun &operator=(const HostRun &) = delete;

    const HostConfig &Config() const { return config_; }
    PackageLoader &Package() { return package_; }
    AppServerProcess *Server() { return server_.get(); }
    // The database is the throw-away demo copy, removed with this run.
    bool UsesDemoCopy() const { return demo_ != nullptr; }

private:
    HostConfig config_;
    std::unique_ptr<TemporaryDemoDatabase> demo_;
    std::vector<std::string> temporaryFolders_;
    std::unique_ptr<AppServerProcess> server_;
    PackageLoader package_;
    bool packagesUp_ = false;
};

// The command line itself is wrong: the one failure answered with the usage
// text. Anything else that fails (the database, a file) says only what failed.
class UsageError : public Exception {
public:
    using Exception::Exception;
};

// A loopback port nothing listens on, for runs without a server.
int UnusedLoopbackPort();

// Takes the options every host program knows (--package PATH, --engine E,
// --dialect D, --no-server) at args[i], moving i past a value it reads.
// False when args[i] is none of them; raises UsageError on a missing or bad
// value.
bool TakeHostOption(const std::vector<std::string> &args, std::size_t &i, HostConfig &config,
                    HostRunOptions &run);
