#include "net/appserver_process.h"

#include "net/appserver_protocol.h"
#include "rtl/sysutils.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/random.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {
using Clock = std::chrono::steady_clock;

std::string randomToken()
{
    unsigned char bytes[16];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw Exception("Não foi possível gerar o token do servidor de aplicação.");
        got += static_cast<std::size_t>(n);
    }
    static const char hex[] = "0123456789abcdef";
    std::string token;
    for (unsigned char b : bytes) {
        token += hex[b >> 4];
        token += hex[b & 15];
    }
    return token;
}

// Closes every descriptor from 3 up in the child; only async-signal-safe calls.
void closeInheritedDescriptors()
{
#ifdef SYS_close_range
    if (syscall(SYS_close_range, 3U, ~0U, 0U) == 0)
        return;
#endif
    long max = sysconf(_SC_OPEN_MAX);
    for (long fd = 3; fd < (max > 0 ? max : 65536); ++fd)
        close(static_cast<int>(fd));
}

void resetSignal(int sig)
{
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(sig, &dfl, nullptr);
}

int exitCode(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

// Reads the first line of the child's output until the deadline. Returns
// false on timeout; `eof` tells that the child closed its output first.
bool readFirstLine(int fd, Clock::time_point deadline, std::string &line, bool &eof)
{
    eof = false;
    char buf[256];
    while (line.find('\n') == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{fd, POLLIN, 0};
        int r = poll(&p, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return r == 0 ? false : (eof = true);
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            eof = true;
            return true;
        }
        line.append(buf, static_cast<std::size_t>(n));
        if (line.size() > 4096)
            break;
    }
    line.erase(std::min(line.find('\n'), line.size()));
    return true;
}
} // namespace

std::string AppServerProcess::DefaultExecutable()
{
    std::error_code ec;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return "fisappserver";
    return (self.parent_path() / "fisappserver").string();
}

AppServerProcess::AppServerProcess(const AppServerProcessOptions &options)
    : host_(options.host), stopTimeout_(options.stopTimeout)
{
    const std::string exe = options.executable.empty() ? DefaultExecutable() : options.executable;
    if (access(exe.c_str(), X_OK) != 0)
        throw Exception("Servidor de aplicação não encontrado: " + exe);
    token_ = options.token.empty() ? randomToken() : options.token;

    // Everything the child needs is built before fork: after it, only
    // async-signal-safe calls are allowed.
    std::vector<std::string> args = {exe, "--host", options.host, "--port", std::to_string(options.port)};
    if (!options.database.empty())
        args.insert(args.end(), {"--database", options.database});
    if (options.threads > 0)
        args.insert(args.end(), {"--threads", std::to_string(options.threads)});
    args.insert(args.end(), options.extraArgs.begin(), options.extraArgs.end());
    std::vector<std::string> env;
    auto overridden = [&options](const char *entry) {
        if (std::strncmp(entry, "FISHOST_SERVER_TOKEN=", 21) == 0)
            return true;
        for (const auto &[name, value] : options.environment)
            if (std::strncmp(entry, name.c_str(), name.size()) == 0 && entry[name.size()] == '=')
                return true;
        return false;
    };
    for (char **e = environ; e && *e; ++e)
        if (!overridden(*e))
            env.emplace_back(*e);
    for (const auto &[name, value] : options.environment)
        env.push_back(name + "=" + value);
    env.push_back("FISHOST_SERVER_TOKEN=" + token_);
    std::vector<char *> argv, envp;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto &e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    int logFd = -1;
    if (!options.logPath.empty()) {
        logFd = open(options.logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (logFd < 0)
            throw Exception("Não foi possível abrir o log do servidor de aplicação '" +
                            options.logPath + "': " + std::strerror(errno));
    }
    int out[2];
    // Close-on-exec, so no other child started meanwhile holds the pipe open.
    if (pipe2(out, O_CLOEXEC) != 0) {
        int err = errno;
        if (logFd >= 0)
            close(logFd);
        throw Exception(std::string("Não foi possível criar o canal do servidor de aplicação: ") +
                        std::strerror(err));
    }
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        int devnull = open("/dev/null", O_RDONLY);
        if (devnull < 0 || dup2(devnull, 0) < 0 || dup2(out[1], 1) < 0 ||
            (logFd >= 0 && dup2(logFd, 2) < 0))
            _exit(127);
        closeInheritedDescriptors();
        // The server must not outlive its parent.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(0);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int sig : {SIGTERM, SIGINT, SIGPIPE, SIGCHLD})
            resetSignal(sig);
        execve(exe.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    int forkErr = errno;
    close(out[1]);
    if (logFd >= 0)
        close(logFd);
    if (pid_ < 0) {
        close(out[0]);
        throw Exception(std::string("Não foi possível iniciar o servidor de aplicação: ") +
                        std::strerror(forkErr));
    }

    std::string line;
    bool eof = false;
    bool answered = readFirstLine(out[0], Clock::now() + options.startTimeout, line, eof);
    close(out[0]);
    std::optional<int> port = appserver::ParsePortLine(line);
    if (port) {
        port_ = *port;
        return;
    }
    std::string why;
    if (line.rfind("error ", 0) == 0)
        why = line.substr(6);
    else if (!answered)
        why = "não informou sua porta em " + std::to_string(options.startTimeout.count()) + " ms";
    else if (line.empty())
        why = "encerrou sem informar sua porta";
    else
        why = "primeira linha inesperada: '" + line.substr(0, 200) + "'";
    // Give a server that is exiting a moment to finish; one that did not
    // answer in time is ended at once.
    auto deadline = Clock::now() + std::chrono::milliseconds(answered ? 2000 : 0);
    while (!reap(false) && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (!reaped_) {
        kill(pid_, SIGKILL);
        reap(true);
    }
    if (eof && reaped_ && status_ != -1 && exitCode(status_) == 127)
        why = "não foi possível executar " + exe;
    throw Exception("O servidor de aplicação não iniciou: " + why + ".");
}

AppServerProcess::~AppServerProcess() { Stop(); }

bool AppServerProcess::reap(bool block)
{
    if (reaped_)
        return true;
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid_, &status, block ? 0 : WNOHANG);
        if (r < 0 && errno == EINTR)
            continue;
        if (r == pid_) {
            reaped_ = true;
            status_ = status;
            return true;
        }
        if (r < 0) {
            // Reaped elsewhere (SIGCHLD ignored): the status is lost.
            reaped_ = true;
            status_ = -1;
            return true;
        }
        return false;
    }
}

bool AppServerProcess::Running() { return pid_ > 0 && !reap(false); }

int AppServerProcess::Stop()
{
    if (pid_ <= 0)
        return -1;
    if (!reap(false)) {
        kill(pid_, SIGTERM);
        auto deadline = Clock::now() + stopTimeout_;
        while (!reap(false) && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (!reaped_) {
            kill(pid_, SIGKILL);
            reap(true);
        }
    }
    return status_ == -1 ? -1 : exitCode(status_);
}

bool RaiseOpenFileLimit(unsigned long wanted)
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return false;
    const rlim_t want = std::min<rlim_t>(wanted, limit.rlim_max);
    if (limit.rlim_cur < want) {
        limit.rlim_cur = want;
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
            return false;
    }
    return limit.rlim_cur >= wanted || limit.rlim_cur == RLIM_INFINITY;
}
