// A worker whose database connection breaks mid-call, through a proxy the
// test steers: the call ends within the database deadline with an error reply
// naming the loss, the worker is free again, and the next call connects anew.
// The server itself starts with its database out of reach and ends on SIGTERM
// at once whatever it waits for. Skipped without a server engine's variables.
#include "../support/engines.h"
#include "../support/fault_proxy.h"
#include "data/dberrors.h"
#include "net/appserver_process.h"
#include "support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char **environ;

namespace {
constexpr int kDeadlineMs = 800;

struct LossCase {
    const char *label;
    FaultProxy::Fault fault;
    double at;  // where the connection breaks, as a share of one call's traffic
    const char *says;
};

const std::vector<const TestEngine *> kServerEngines{&kTestFirebird, &kTestPostgresql};

class DatabaseLossTest : public testing::TestWithParam<std::tuple<const TestEngine *, LossCase>> {};

TEST_P(DatabaseLossTest, CallEndsWithTheMessageAndTheNextOneWorks)
{
    const TestEngine &engine = *std::get<0>(GetParam());
    const LossCase &loss = std::get<1>(GetParam());
    if (const std::string why = engine.Unavailable(); !why.empty())
        GTEST_SKIP() << why;
    EngineConnection c = engine.Server();
    FaultProxy proxy(engine.engine.PortOr(c.port));
    c.port = proxy.Port();
    c.timeoutMs = kDeadlineMs;
    AppServerSettings settings;
    settings.threads = 1;  // the one worker must come free again
    settings.lookupCacheTime = std::chrono::milliseconds(0);  // every call reaches the database
    TestServer server(settings, [c, &engine] { return engine.engine.openReader(c); });
    const std::string lookup = CallBody("GetSerie", {"01", "", "", ""});

    // Connects; on a loaded machine a server's first attach may take longer
    // than the short deadline this test gives, which is not what it tests.
    bool connected = false;
    for (int attempt = 0; attempt < 5 && !connected; ++attempt)
        connected = RawPost(server.port, lookup).json().count("error") == 0;
    ASSERT_TRUE(connected);
    const std::uint64_t before = proxy.Passed();
    ASSERT_EQ(RawPost(server.port, lookup).json().count("error"), 0u);
    const auto traffic = static_cast<double>(proxy.Passed() - before);

    proxy.Break(loss.fault, static_cast<std::uint64_t>(traffic * loss.at));
    const auto start = std::chrono::steady_clock::now();
    const RawReply broken = RawPost(server.port, lookup);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3 * kDeadlineMs));
    EXPECT_EQ(broken.status, 200);
    const nlohmann::json j = broken.json();
    ASSERT_TRUE(j.is_object() && j["error"].is_string()) << broken.body;
    EXPECT_NE(j["error"].get<std::string>().find(loss.says), std::string::npos) << j["error"];
    // The person reads Portuguese; the log keeps the engine's own words.
    const std::vector<std::string> log = server.Log(3);
    ASSERT_GE(log.size(), 3u);
    // A slow first attach may have logged a line of its own before.
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string &l) { return l.find(" [") != std::string::npos; }))
        << log.back();

    proxy.Heal();
    // The worker connects anew: within a few calls however slow the attach.
    RawReply next = RawPost(server.port, lookup);
    for (int attempt = 0; attempt < 4 && next.json().count("error"); ++attempt)
        next = RawPost(server.port, lookup);
    EXPECT_EQ(next.status, 200);
    EXPECT_EQ(next.json().count("error"), 0u) << next.body;
}

INSTANTIATE_TEST_SUITE_P(
    Points, DatabaseLossTest,
    testing::Combine(testing::ValuesIn(kServerEngines),
                     testing::Values(LossCase{"ResetAtStart", FaultProxy::Fault::Reset, 0.0, "foi perdida"},
                                     LossCase{"ResetMidway", FaultProxy::Fault::Reset, 0.5, "foi perdida"},
                                     LossCase{"FreezeAtStart", FaultProxy::Fault::Freeze, 0.0, "não respondeu em 0,8 s"},
                                     LossCase{"FreezeMidway", FaultProxy::Fault::Freeze, 0.5,
                                              "não respondeu em 0,8 s"})),
    [](const auto &info) { return std::string(std::get<0>(info.param)->label) + "_" + std::get<1>(info.param).label; });

// The server process on the engine's database through the proxy, configured
// as the host configures it: through FISHOST_ variables.
std::vector<std::pair<std::string, std::string>> serverEnvironment(const TestEngine &engine, const FaultProxy &proxy,
                                                                   int timeoutMs)
{
    const EngineConnection c = engine.Server();
    return {{"FISHOST_CONFIG", "/nonexistent/fishost.conf"},
            {"FISHOST_ENGINE", engine.engine.name},
            {"FISHOST_DATABASE", c.database},
            {"FISHOST_DB_HOST", "127.0.0.1"},
            {"FISHOST_DB_PORT", std::to_string(proxy.Port())},
            {"FISHOST_DB_USER", c.user},
            {"FISHOST_DB_PASSWORD", c.password},
            {"FISHOST_DB_TIMEOUT_MS", std::to_string(timeoutMs)}};
}

class ServerStartTest : public testing::TestWithParam<const TestEngine *> {
protected:
    void SetUp() override
    {
        if (const std::string why = GetParam()->Unavailable(); !why.empty())
            GTEST_SKIP() << why;
        proxy = std::make_unique<FaultProxy>(GetParam()->engine.PortOr(GetParam()->Server().port));
    }
    std::unique_ptr<FaultProxy> proxy;
};

TEST_P(ServerStartTest, StartsWithItsDatabaseOutOfReachAndServesOnceItAnswers)
{
    proxy->Break(FaultProxy::Fault::Freeze, 0);
    AppServerProcessOptions o;
    o.executable = FIS_APPSERVER_EXE;
    o.logPath = "/dev/null";
    o.environment = serverEnvironment(*GetParam(), *proxy, kDeadlineMs);
    AppServerProcess server(o);
    const httplib::Headers auth{{"Authorization", "Bearer " + server.Token()}};
    const std::string lookup = CallBody("GetSerie", {"01", "", "", ""});

    const auto start = std::chrono::steady_clock::now();
    const RawReply silent = RawPost(server.Port(), lookup, auth);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3 * kDeadlineMs));
    ASSERT_TRUE(silent.json().is_object()) << silent.body;
    EXPECT_NE(silent.json().value("error", "").find("não respondeu em 0,8 s"), std::string::npos) << silent.body;

    proxy->Heal();
    const RawReply served = RawPost(server.Port(), lookup, auth);
    EXPECT_EQ(served.json().count("error"), 0u) << served.body;
    EXPECT_EQ(server.Stop(), 0);
}

TEST_P(ServerStartTest, EndsOnSigtermWithinASecondWhileItsDatabaseKeepsSilent)
{
    // A deadline far longer than the wait allowed for the stop.
    proxy->Break(FaultProxy::Fault::Freeze, 0);
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e)
        env.emplace_back(*e);
    for (const auto &[name, value] : serverEnvironment(*GetParam(), *proxy, 60000))
        env.push_back(name + "=" + value);
    std::vector<char *> envp;
    for (std::string &e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string exe = FIS_APPSERVER_EXE;
    char *argv[] = {exe.data(), nullptr};
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, exe.c_str(), &files, nullptr, argv, envp.data()), 0);
    posix_spawn_file_actions_destroy(&files);

    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // in the opening by now
    const auto start = std::chrono::steady_clock::now();
    kill(pid, SIGTERM);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() - start < std::chrono::seconds(5))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const auto took = std::chrono::steady_clock::now() - start;
    if (took >= std::chrono::seconds(5)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    EXPECT_LT(took, std::chrono::milliseconds(1200));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

INSTANTIATE_TEST_SUITE_P(Engines, ServerStartTest, testing::ValuesIn(kServerEngines),
                         [](const auto &info) { return std::string(info.param->label); });
} // namespace
