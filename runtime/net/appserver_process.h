#pragma once
// Runs the application server executable as a child process for the host
// program and the script runner.
#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

// Every open connection is a descriptor, and the soft limit on them is often
// far below the hard one: raises the soft limit to `wanted`, or as far as the
// hard limit allows. True when the process may now hold `wanted`.
bool RaiseOpenFileLimit(unsigned long wanted = ~0UL);

struct AppServerProcessOptions {
    std::string executable;        // empty: "fisappserver" beside the running program
    std::string host = "127.0.0.1";
    int port = 0;                  // 0: the server picks a free port
    std::string database;          // SQLite file overriding the configuration; empty keeps it
    // Shared secret handed to the server through its environment (never on
    // the command line, where other users could read it). Empty: a random
    // one is made, see Token().
    std::string token;
    int threads = 0;               // 0: the server's default
    std::vector<std::string> extraArgs;
    // Variables set in the server's environment over this process's own (the
    // host's database settings, passwords included, stay off the command line).
    std::vector<std::pair<std::string, std::string>> environment;
    std::string logPath;           // the server's stderr (one line per request); empty inherits ours
    std::chrono::milliseconds startTimeout{10000};
    std::chrono::milliseconds stopTimeout{5000};
};

// Starts the server and waits for its "port N" line; raises Exception with the
// server's own reason when it does not start in time. The child gets SIGTERM
// when the object goes away (SIGKILL after stopTimeout) and is always reaped;
// it also gets SIGTERM if the thread that started it ends, so start it from a
// thread that lives as long as the server is wanted. File descriptors of this
// process other than 0-2 are not passed on.
class AppServerProcess {
public:
    explicit AppServerProcess(const AppServerProcessOptions &options = {});
    ~AppServerProcess();
    AppServerProcess(const AppServerProcess &) = delete;
    AppServerProcess &operator=(const AppServerProcess &) = delete;

    const std::string &Host() const { return host_; }
    int Port() const { return port_; }
    const std::string &Token() const { return token_; }
    pid_t Pid() const { return pid_; }

    // Stops the server and returns its exit code (0 for a clean stop, 128+N
    // when signal N ended it, -1 when unknown). Safe to call more than once.
    int Stop();
    // True while the child has not exited.
    bool Running();

    // "fisappserver" in the folder of the running executable.
    static std::string DefaultExecutable();

private:
    bool reap(bool block);

    std::string host_;
    int port_ = 0;
    std::string token_;
    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
    std::chrono::milliseconds stopTimeout_;
};
