// fisappserver: the application server as its own process.
#include "appserver.h"
#include "data/dberrors.h"
#include "host/hostsession.h"
#include "net/appserver_process.h"
#include "server_options.h"

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <thread>

namespace {
std::string oneLine(std::string text)
{
    for (char &c : text)
        if (c == '\n' || c == '\r')
            c = ' ';
    return text;
}

// The first output line tells a parent process why the server did not start.
int fail(const std::string &why, int code)
{
    std::printf("error %s\n", oneLine(why).c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "fisappserver: %s\n", why.c_str());
    return code;
}
} // namespace

int main(int argc, char **argv)
{
    // Before SQLite starts: every session is used by one thread at a time, so
    // the per-connection mutexes are not needed, and memory statistics would
    // put one process-wide mutex on every allocation. Under many concurrent
    // requests both made threads queue behind one another.
    sqlite3_config(SQLITE_CONFIG_MULTITHREAD);
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);

    // SIGTERM and SIGINT are taken by one thread with sigtimedwait; blocked
    // before any thread starts so every thread inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGPIPE, SIG_IGN);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    ServerLaunch launch;
    try {
        launch = ParseServerArgs(std::vector<std::string>(argv + 1, argv + argc), HostConfig::Load());
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s", ServerUsage().c_str());
        return fail(e.what(), 2);
    }
    if (launch.help) {
        std::printf("%s", ServerUsage().c_str());
        return 0;
    }

    RaiseOpenFileLimit();
    const HostConfig config = launch.config;
    AppServer server(launch.settings, [config] { return OpenHostSession(config, false); });

    // SIGTERM ends the process within a second whatever it waits for: a
    // database that keeps silent holds an opening or a running call up to
    // its deadline, which no one should have to wait for at a stop.
    std::atomic<bool> done{false};
    std::atomic<bool> signalled{false};
    std::thread waiter([&] {
        const timespec slice{0, 100 * 1000 * 1000};
        while (!done) {
            if (sigtimedwait(&stopSignals, nullptr, &slice) > 0) {
                signalled = true;
                server.Stop();  // posts the stop, never waits
                for (int i = 0; i < 8 && !done; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                if (!done) {
                    std::fprintf(stderr, "fisappserver: encerrado\n");
                    std::fflush(stderr);
                    std::_Exit(0);
                }
                return;
            }
        }
    });
    int port = 0;
    try {
        // A wrong database fails now rather than at the first call; one out
        // of reach is tried again by every call until it answers.
        try {
            server.Sessions().Give(OpenHostSession(config, false));
        } catch (const EDatabaseConnectionLost &e) {
            std::fprintf(stderr, "fisappserver: aviso: %s\n", oneLine(e.Message()).c_str());
        } catch (const EDatabaseTimeout &e) {
            std::fprintf(stderr, "fisappserver: aviso: %s\n", oneLine(e.Message()).c_str());
        }
        port = server.Bind();
    } catch (const std::exception &e) {
        done = true;
        waiter.join();
        return fail(e.what(), 1);
    }
    const std::string &host = launch.settings.host;
    if (launch.settings.token.empty() && host.rfind("127.", 0) != 0 && host != "::1" && host != "localhost")
        std::fprintf(stderr, "fisappserver: aviso: escutando em %s sem token (server_token)\n", host.c_str());
    std::printf("port %d\n", port);
    std::fflush(stdout);
    std::fprintf(stderr, "fisappserver: %s em %s:%d (%d threads)\n", appserver::kResumoServerName,
                 launch.settings.host.c_str(), port, launch.settings.threads);

    try {
        server.Run();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "fisappserver: %s\n", e.what());
    }
    done = true;
    waiter.join();
    std::fprintf(stderr, "fisappserver: encerrado\n");
    return signalled ? 0 : 1;
}
