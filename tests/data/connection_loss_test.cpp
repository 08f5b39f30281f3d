// A Firebird session whose connection breaks mid-call, through a proxy the test
// steers: reset (the peer is gone) or frozen (nothing more arrives). Either
// ends the call with its own error within the session's deadline, never the
// process, and the next call connects again. Skipped without a server.
#include "../support/fault_proxy.h"
#include "../support/firebird_env.h"
#include "data/dberrors.h"
#include "data/firebird/session.h"
#include "row_stream.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <ostream>

namespace {
constexpr int kDeadlineMs = 800;

struct Action {
    const char *label;
    std::function<void(DatabaseSession &)> run;
};

// A lookup reads a few rows whole; a report streams many.
const Action kLookup{"Lookup", [](DatabaseSession &db) {
                         db.Query("SELECT CDEMPRESA, NMEMPRESA FROM EMPRESA WHERE CDEMPRESA <> :P", {{"P", "zz"}});
                     }};
const Action kReport{"Report", [](DatabaseSession &db) {
                         RowCollector rows;
                         db.QueryRows("SELECT A.RDB$TYPE_NAME, B.RDB$FIELD_NAME FROM RDB$TYPES A, RDB$TYPES B "
                                      "ROWS 3000",
                                      {}, rows);
                     }};

struct LossCase {
    const char *label;
    FaultProxy::Fault fault;
    double at;  // where the connection breaks, as a share of the action's traffic
};

class ConnectionLossTest : public testing::TestWithParam<std::tuple<Action, LossCase>> {
protected:
    void SetUp() override
    {
        if (EnvOr("FIS_FB_DATABASE").empty())
            GTEST_SKIP() << "FIS_FB_DATABASE is not set; run scripts/firebird-create-db.sh";
        FirebirdConnection c = FirebirdFromEnv();
        proxy = std::make_unique<FaultProxy>(c.port);
        c.port = proxy->Port();
        c.timeoutMs = kDeadlineMs;
        db = OpenFirebirdSession(c);
    }
    std::unique_ptr<FaultProxy> proxy;
    std::unique_ptr<DatabaseSession> db;
};

TEST_P(ConnectionLossTest, EndsWithItsMessageAndTheNextCallReconnects)
{
    const auto &[action, loss] = GetParam();
    const std::uint64_t before = proxy->Passed();
    action.run(*db);
    const auto traffic = static_cast<double>(proxy->Passed() - before);

    proxy->Break(loss.fault, static_cast<std::uint64_t>(traffic * loss.at));
    const auto start = std::chrono::steady_clock::now();
    try {
        action.run(*db);
        FAIL() << "the call went through a broken connection";
    } catch (const EDatabaseConnectionLost &e) {
        EXPECT_EQ(loss.fault, FaultProxy::Fault::Reset);
        EXPECT_EQ(std::string(e.what()), kConnectionLostText);
        EXPECT_FALSE(e.EngineText().empty());
    } catch (const EDatabaseTimeout &e) {
        EXPECT_EQ(loss.fault, FaultProxy::Fault::Freeze);
        EXPECT_NE(std::string(e.what()).find("não respondeu em 0,8 s"), std::string::npos) << e.what();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3 * kDeadlineMs));

    proxy->Heal();
    EXPECT_NO_THROW(action.run(*db));
    EXPECT_NO_THROW(kLookup.run(*db));
}

std::ostream &operator<<(std::ostream &os, const Action &a) { return os << a.label; }
std::ostream &operator<<(std::ostream &os, const LossCase &c) { return os << c.label; }

INSTANTIATE_TEST_SUITE_P(
    Points, ConnectionLossTest,
    testing::Combine(testing::Values(kLookup, kReport),
                     testing::Values(LossCase{"ResetAtStart", FaultProxy::Fault::Reset, 0.0},
                                     LossCase{"ResetEarly", FaultProxy::Fault::Reset, 0.2},
                                     LossCase{"ResetMidway", FaultProxy::Fault::Reset, 0.5},
                                     LossCase{"ResetLate", FaultProxy::Fault::Reset, 0.9},
                                     LossCase{"FreezeAtStart", FaultProxy::Fault::Freeze, 0.0},
                                     LossCase{"FreezeMidway", FaultProxy::Fault::Freeze, 0.5},
                                     LossCase{"FreezeLate", FaultProxy::Fault::Freeze, 0.9})),
    [](const auto &info) {
        return std::string(std::get<0>(info.param).label) + "_" + std::get<1>(info.param).label;
    });

TEST(ConnectionLoss, DestroyingASessionWhoseServerWentAwayDoesNotThrow)
{
    if (EnvOr("FIS_FB_DATABASE").empty())
        GTEST_SKIP() << "FIS_FB_DATABASE is not set";
    FirebirdConnection c = FirebirdFromEnv();
    auto proxy = std::make_unique<FaultProxy>(c.port);
    c.port = proxy->Port();
    auto db = OpenFirebirdSession(c);
    kLookup.run(*db);
    proxy->Break(FaultProxy::Fault::Reset, 0);
    proxy.reset();  // the server side is gone while the session idles
    db.reset();
}
} // namespace
