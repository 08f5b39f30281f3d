// The real executable, started and stopped as the host program does.
#include "net/appserver_client.h"
#include "net/appserver_process.h"
#include "rtl/sysutils.h"
#include "support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include <fcntl.h>

namespace {
AppServerProcessOptions optionsFor(const std::string &database)
{
    AppServerProcessOptions o;
    o.executable = FIS_APPSERVER_EXE;
    o.database = database;
    o.logPath = "/dev/null";
    return o;
}

std::size_t openDescriptors() { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); }

// Children of this process that exited and were never reaped.
int zombieChildren()
{
    int zombies = 0;
    for (const auto &entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line))
            continue;
        auto close = line.rfind(')');
        char state = 0;
        int ppid = 0;
        if (close != std::string::npos && std::sscanf(line.c_str() + close + 1, " %c %d", &state, &ppid) == 2 &&
            ppid == getpid() && state == 'Z')
            ++zombies;
    }
    return zombies;
}

std::string startError(const AppServerProcessOptions &o)
{
    try {
        AppServerProcess p(o);
    } catch (const Exception &e) {
        return e.Message();
    }
    return "<started>";
}
} // namespace

TEST(ServerProcess, ServesAndStopsCleanlyWithoutLeaks)
{
    TemporaryDemoDatabase db;
    // A descriptor without close-on-exec must not reach the server.
    int marker[2];
    ASSERT_EQ(pipe(marker), 0);
    const std::size_t before = openDescriptors();
    {
        AppServerProcess server(optionsFor(db.Path()));
        EXPECT_GT(server.Port(), 0);
        EXPECT_EQ(server.Token().size(), 32u);
        const std::string markerId =
            std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(marker[0])).string();
        for (const auto &fd : std::filesystem::directory_iterator("/proc/" + std::to_string(server.Pid()) + "/fd"))
            EXPECT_NE(std::filesystem::read_symlink(fd.path()).string(), markerId);

        AppServerClient client(server.Host(), server.Port(), server.Token());
        EXPECT_NE(client.Call("GetSerie", {"01", "", "", "U"}).find("Serie unica"), std::string::npos);
        AppServerClient stranger(server.Host(), server.Port());
        EXPECT_THROW(stranger.Call("Ping", {}), Exception);

        // Stopping with a kept-alive connection open is prompt and clean.
        auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(server.Stop(), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
        EXPECT_FALSE(server.Running());
        EXPECT_FALSE(client.Ping());
    }
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_EQ(zombieChildren(), 0);
    close(marker[0]);
    close(marker[1]);
}

TEST(ServerProcess, FailuresToStartAreExplained)
{
    AppServerProcessOptions missingDb = optionsFor("/nonexistent/demo.sqlite");
    EXPECT_NE(startError(missingDb).find("não iniciou: Banco de dados '/nonexistent/demo.sqlite' não encontrado"),
              std::string::npos)
        << startError(missingDb);

    AppServerProcessOptions badOption = optionsFor("");
    badOption.extraArgs = {"--bogus"};
    EXPECT_NE(startError(badOption).find("'--bogus'"), std::string::npos);

    AppServerProcessOptions absent = optionsFor("");
    absent.executable = "/nonexistent/fisappserver";
    EXPECT_EQ(startError(absent), "Servidor de aplicação não encontrado: /nonexistent/fisappserver");

    // A program that never says its port is killed after the start timeout.
    std::string script = (std::filesystem::temp_directory_path() / "fis-silent-server.sh").string();
    std::ofstream(script) << "#!/bin/sh\nexec sleep 30\n";
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    AppServerProcessOptions silent = optionsFor("");
    silent.executable = script;
    silent.startTimeout = std::chrono::milliseconds(300);
    auto started = std::chrono::steady_clock::now();
    EXPECT_NE(startError(silent).find("não informou sua porta em 300 ms"), std::string::npos);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
    std::filesystem::remove(script);
    EXPECT_EQ(zombieChildren(), 0);
}

TEST(ServerProcess, ClientRecoversWhenAKilledServerIsRestarted)
{
    TemporaryDemoDatabase db;
    auto first = std::make_unique<AppServerProcess>(optionsFor(db.Path()));
    const int port = first->Port();
    AppServerClient client("127.0.0.1", port, first->Token());
    EXPECT_TRUE(client.Ping());
    kill(first->Pid(), SIGKILL);
    EXPECT_EQ(first->Stop(), 128 + SIGKILL);
    EXPECT_FALSE(client.Ping());

    AppServerProcessOptions again = optionsFor(db.Path());
    again.port = port;
    again.token = first->Token();
    AppServerProcess second(again);
    EXPECT_EQ(second.Port(), port);
    EXPECT_NE(client.Call("getInscEstaSt", {"", "02", "T"}).find("0030900003"), std::string::npos);
}

TEST(ServerProcess, AFrozenServerFailsCallsWithinTheirDeadlineAndIsFoundAgain)
{
    TemporaryDemoDatabase db;
    AppServerProcess server(optionsFor(db.Path()));
    AppServerClientTimeouts deadline;
    deadline.call = std::chrono::milliseconds(700);
    AppServerClient kept(server.Host(), server.Port(), server.Token(), deadline);
    ASSERT_TRUE(kept.Ping());
    const std::string unavailable =
        "Servidor de aplicação indisponível em 127.0.0.1:" + std::to_string(server.Port()) + ".";
    struct Thaw {
        pid_t pid;
        ~Thaw() { kill(pid, SIGCONT); }
    } thaw{server.Pid()};
    ASSERT_EQ(kill(server.Pid(), SIGSTOP), 0);
    // The kernel still takes new connections for the stopped process: a
    // fresh client fails on its deadline too, not only the kept connection.
    AppServerClient fresh(server.Host(), server.Port(), server.Token(), deadline);
    for (AppServerClient *client : {&kept, &fresh}) {
        const auto started = std::chrono::steady_clock::now();
        try {
            client->Call("GetSerie", {"01", "", "", ""});
            ADD_FAILURE() << "a frozen server answered";
        } catch (const Exception &e) {
            EXPECT_EQ(e.Message(), unavailable);
        }
        const auto took = std::chrono::steady_clock::now() - started;
        EXPECT_GE(took, std::chrono::milliseconds(700));
        EXPECT_LT(took, std::chrono::milliseconds(2000));
    }
    kill(server.Pid(), SIGCONT);
    EXPECT_NE(kept.Call("GetSerie", {"01", "", "", "U"}).find("Serie unica"), std::string::npos);
    EXPECT_TRUE(fresh.Ping());
}
