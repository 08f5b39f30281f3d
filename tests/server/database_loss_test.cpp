// A worker whose Firebird connection breaks mid-call, through a proxy the
// test steers: the call ends within the database deadline with an error reply
// naming the loss, the worker is free again, and the next call connects anew.
// Skipped without a Firebird server (FIS_FB_DATABASE).
#include "../support/fault_proxy.h"
#include "../support/firebird_env.h"
#include "data/dberrors.h"
#include "support.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {
constexpr int kDeadlineMs = 800;

struct LossCase {
    const char *label;
    FaultProxy::Fault fault;
    double at;  // where the connection breaks, as a share of one call's traffic
    const char *says;
};

class DatabaseLossTest : public testing::TestWithParam<LossCase> {};

TEST_P(DatabaseLossTest, CallEndsWithTheMessageAndTheNextOneWorks)
{
    if (EnvOr("FIS_FB_DATABASE").empty())
        GTEST_SKIP() << "FIS_FB_DATABASE is not set; run scripts/firebird-create-db.sh";
    FirebirdConnection c = FirebirdFromEnv();
    FaultProxy proxy(c.port);
    c.port = proxy.Port();
    c.timeoutMs = kDeadlineMs;
    AppServerSettings settings;
    settings.threads = 1;  // the one worker must come free again
    settings.lookupCacheTime = std::chrono::milliseconds(0);  // every call reaches the database
    TestServer server(settings, [c] { return OpenFirebirdSession(c); });
    const std::string lookup = CallBody("GetSerie", {"01", "", "", ""});

    ASSERT_EQ(RawPost(server.port, lookup).json().count("error"), 0u);  // connects
    const std::uint64_t before = proxy.Passed();
    ASSERT_EQ(RawPost(server.port, lookup).json().count("error"), 0u);
    const auto traffic = static_cast<double>(proxy.Passed() - before);

    proxy.Break(GetParam().fault, static_cast<std::uint64_t>(traffic * GetParam().at));
    const auto start = std::chrono::steady_clock::now();
    const RawReply broken = RawPost(server.port, lookup);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3 * kDeadlineMs));
    EXPECT_EQ(broken.status, 200);
    const nlohmann::json j = broken.json();
    ASSERT_TRUE(j.is_object() && j["error"].is_string()) << broken.body;
    EXPECT_NE(j["error"].get<std::string>().find(GetParam().says), std::string::npos) << j["error"];
    // The person reads Portuguese; the log keeps the engine's own words.
    const std::vector<std::string> log = server.Log(3);
    ASSERT_GE(log.size(), 3u);
    EXPECT_NE(log[2].find(" ["), std::string::npos) << log[2];

    proxy.Heal();
    const RawReply next = RawPost(server.port, lookup);
    EXPECT_EQ(next.status, 200);
    EXPECT_EQ(next.json().count("error"), 0u) << next.body;
}

INSTANTIATE_TEST_SUITE_P(
    Points, DatabaseLossTest,
    testing::Values(LossCase{"ResetAtStart", FaultProxy::Fault::Reset, 0.0, "foi perdida"},
                    LossCase{"ResetMidway", FaultProxy::Fault::Reset, 0.5, "foi perdida"},
                    LossCase{"ResetLate", FaultProxy::Fault::Reset, 0.9, "foi perdida"},
                    LossCase{"FreezeAtStart", FaultProxy::Fault::Freeze, 0.0, "não respondeu em 0,8 s"},
                    LossCase{"FreezeMidway", FaultProxy::Fault::Freeze, 0.5, "não respondeu em 0,8 s"}),
    [](const auto &info) { return std::string(info.param.label); });
} // namespace
