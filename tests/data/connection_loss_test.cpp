// A server engine's session and writer whose connection breaks, through a
// proxy the test steers: reset (the peer is gone) or frozen (nothing more
// arrives), while it opens, mid-statement or at the commit. Either ends the
// call with its own error within the deadline, never the process, and the
// next connection works. Skipped without a server.
#include "../support/engines.h"
#include "../support/fault_proxy.h"
#include "data/action_session.h"
#include "data/dberrors.h"
#include "data/writer.h"
#include "row_stream.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <ostream>

namespace {
// Long enough that a loaded machine's ordinary calls never reach it.
constexpr int kDeadlineMs = 1500;
constexpr auto kWithin = std::chrono::milliseconds(3 * kDeadlineMs);

struct Action {
    const char *label;
    std::function<void(const TestEngine &, DatabaseSession &)> run;
};

// A lookup reads a few rows whole; a report streams many.
const Action kLookup{"Lookup", [](const TestEngine &, DatabaseSession &db) {
                         db.Query("SELECT CDEMPRESA, NMEMPRESA FROM EMPRESA WHERE CDEMPRESA <> :P", {{"P", "zz"}});
                     }};
const Action kReport{"Report", [](const TestEngine &e, DatabaseSession &db) {
                         RowCollector rows;
                         db.QueryRows(e.manyRows, {}, rows);
                     }};

struct LossCase {
    const char *label;
    FaultProxy::Fault fault;
    double at;  // where the connection breaks, as a share of the action's traffic
};

const auto kLossCases = testing::Values(LossCase{"ResetAtStart", FaultProxy::Fault::Reset, 0.0},
                                        LossCase{"ResetMidway", FaultProxy::Fault::Reset, 0.5},
                                        LossCase{"ResetLate", FaultProxy::Fault::Reset, 0.9},
                                        LossCase{"FreezeAtStart", FaultProxy::Fault::Freeze, 0.0},
                                        LossCase{"FreezeMidway", FaultProxy::Fault::Freeze, 0.5},
                                        LossCase{"FreezeLate", FaultProxy::Fault::Freeze, 0.9});

const std::vector<const TestEngine *> kServerEngines{&kTestFirebird, &kTestPostgresql};

// The failure a broken connection must end in: lost for a reset, late for a
// freeze (a reset may also show as the server not being reachable at all).
// While a connection opens, a freeze may also end as a lost connection: the
// client library's own connect timeout can close it before the deadline's
// watchdog speaks (`freezeMayLookLost`).
void expectFailure(const std::function<void()> &call, FaultProxy::Fault fault, bool freezeMayLookLost = false)
{
    const auto start = std::chrono::steady_clock::now();
    try {
        call();
        ADD_FAILURE() << "the call went through a broken connection";
    } catch (const EDatabaseTimeout &e) {
        EXPECT_EQ(fault, FaultProxy::Fault::Freeze) << e.what();
        EXPECT_EQ(std::string(e.what()), DatabaseTimeoutText(kDeadlineMs));
    } catch (const EDatabaseConnectionLost &e) {
        if (!(freezeMayLookLost && fault == FaultProxy::Fault::Freeze)) {
            EXPECT_EQ(fault, FaultProxy::Fault::Reset) << e.what();
        }
        EXPECT_FALSE(e.EngineText().empty());
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, kWithin);
}

EngineConnection throughProxy(const TestEngine &e, EngineLogin login, const FaultProxy &proxy)
{
    EngineConnection c = e.Server(login);
    c.port = proxy.Port();
    c.timeoutMs = kDeadlineMs;
    return c;
}

class ConnectionLossTest : public testing::TestWithParam<std::tuple<const TestEngine *, Action, LossCase>> {
protected:
    void SetUp() override
    {
        const TestEngine &e = *std::get<0>(GetParam());
        if (const std::string why = e.Unavailable(); !why.empty())
            GTEST_SKIP() << why;
        proxy = std::make_unique<FaultProxy>(e.engine.PortOr(e.Server().port));
        db = e.engine.openReader(throughProxy(e, EngineLogin::Reading, *proxy));
    }
    std::unique_ptr<FaultProxy> proxy;
    std::unique_ptr<DatabaseSession> db;
};

TEST_P(ConnectionLossTest, EndsWithItsMessageAndTheNextCallReconnects)
{
    const auto &[engine, action, loss] = GetParam();
    // A statement's first run may prepare it twice to learn its types; the
    // traffic measured is a warm run's, as the broken one will be.
    action.run(*engine, *db);
    const std::uint64_t before = proxy->Passed();
    action.run(*engine, *db);
    const auto traffic = static_cast<double>(proxy->Passed() - before);

    proxy->Break(loss.fault, static_cast<std::uint64_t>(traffic * loss.at));
    expectFailure([&] { action.run(*engine, *db); }, loss.fault);

    proxy->Heal();
    EXPECT_NO_THROW(action.run(*engine, *db));
    EXPECT_NO_THROW(kLookup.run(*engine, *db));
}

std::ostream &operator<<(std::ostream &os, const Action &a) { return os << a.label; }
std::ostream &operator<<(std::ostream &os, const LossCase &c) { return os << c.label; }

INSTANTIATE_TEST_SUITE_P(Points, ConnectionLossTest,
                         testing::Combine(testing::ValuesIn(kServerEngines), testing::Values(kLookup, kReport),
                                          kLossCases),
                         [](const auto &info) {
                             return std::string(std::get<0>(info.param)->label) + "_" +
                                    std::get<1>(info.param).label + "_" + std::get<2>(info.param).label;
                         });

// The opening itself: the handshake and the login, for a reading session and
// for a writer.
class OpeningLossTest : public testing::TestWithParam<std::tuple<const TestEngine *, EngineLogin, LossCase>> {};

TEST_P(OpeningLossTest, EndsWithinTheDeadlineAndOpensOnceHealed)
{
    const auto &[engine, login, loss] = GetParam();
    if (const std::string why = engine->Unavailable(); !why.empty())
        GTEST_SKIP() << why;
    FaultProxy proxy(engine->engine.PortOr(engine->Server().port));
    const EngineConnection c = throughProxy(*engine, login, proxy);
    auto open = [&] {
        if (login == EngineLogin::Reading)
            (void)engine->engine.openReader(c);
        else
            (void)engine->engine.openWriter(c, {});
    };
    const std::uint64_t before = proxy.Passed();
    open();
    const auto traffic = static_cast<double>(proxy.Passed() - before);

    proxy.Break(loss.fault, static_cast<std::uint64_t>(traffic * loss.at));
    expectFailure(open, loss.fault, true);
    proxy.Heal();
    EXPECT_NO_THROW(open());
}

INSTANTIATE_TEST_SUITE_P(
    Points, OpeningLossTest,
    testing::Combine(testing::ValuesIn(kServerEngines), testing::Values(EngineLogin::Reading, EngineLogin::Writing),
                     testing::Values(LossCase{"ResetAtStart", FaultProxy::Fault::Reset, 0.0},
                                     LossCase{"ResetMidway", FaultProxy::Fault::Reset, 0.5},
                                     LossCase{"FreezeAtStart", FaultProxy::Fault::Freeze, 0.0},
                                     LossCase{"FreezeMidway", FaultProxy::Fault::Freeze, 0.5})),
    [](const auto &info) {
        return std::string(std::get<0>(info.param)->label) +
               (std::get<1>(info.param) == EngineLogin::Reading ? "_Reader_" : "_Writer_") +
               std::get<2>(info.param).label;
    });

// A writer's statement or commit: the failure is the connection's, every
// later call says the same at once, a rollback and the writer's end pass
// quietly, and a new writer works.
struct WriterStep {
    const char *label;
    bool atCommit;
};

class WriterLossTest : public testing::TestWithParam<std::tuple<const TestEngine *, WriterStep, LossCase>> {};

TEST_P(WriterLossTest, FailsWithTheConnectionAndEndsQuietly)
{
    const auto &[engine, step, loss] = GetParam();
    if (const std::string why = engine->Unavailable(); !why.empty())
        GTEST_SKIP() << why;
    FaultProxy proxy(engine->engine.PortOr(engine->Server().port));
    const EngineConnection c = throughProxy(*engine, EngineLogin::Writing, proxy);
    auto writer = engine->engine.openWriter(c, {});
    const int select = writer->Prepare("SELECT CDEMPRESA FROM EMPRESA WHERE CDEMPRESA <> ?");
    writer->Begin();
    const std::uint64_t before = proxy.Passed();
    writer->Select(select, {"zz"});
    const auto traffic = static_cast<double>(proxy.Passed() - before);

    proxy.Break(loss.fault, step.atCommit ? 0 : static_cast<std::uint64_t>(traffic * loss.at));
    if (step.atCommit)
        expectFailure([&] { writer->Commit(); }, loss.fault);
    else
        expectFailure([&] { writer->Select(select, {"zz"}); }, loss.fault);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(writer->Select(select, {"zz"}), EDatabaseError);
    EXPECT_THROW(writer->Commit(), EDatabaseError);
    EXPECT_NO_THROW(writer->Rollback());
    writer.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kDeadlineMs / 2));

    proxy.Heal();
    auto again = engine->engine.openWriter(c, {});
    EXPECT_EQ(again->Select(again->Prepare("SELECT CDEMPRESA FROM EMPRESA WHERE CDEMPRESA <> ?"), {"zz"}).empty(),
              false);
}

INSTANTIATE_TEST_SUITE_P(
    Points, WriterLossTest,
    testing::Combine(testing::ValuesIn(kServerEngines),
                     testing::Values(WriterStep{"Statement", false}, WriterStep{"Commit", true}),
                     testing::Values(LossCase{"Reset", FaultProxy::Fault::Reset, 0.5},
                                     LossCase{"Freeze", FaultProxy::Fault::Freeze, 0.5})),
    [](const auto &info) {
        return std::string(std::get<0>(info.param)->label) + "_" + std::get<1>(info.param).label + "_" +
               std::get<2>(info.param).label;
    });

// A person's action of several statements (a report's heading lookups, which
// each swallow their failure, then its body): once the first finds the
// connection lost or the server silent, the rest are refused at once with
// the same message, so the action ends within about one deadline; the
// person's next action reaches the server again once it is back.
class ActionLossTest : public testing::TestWithParam<std::tuple<const TestEngine *, LossCase>> {};

TEST_P(ActionLossTest, OneActionWaitsForOneDeadlineAndTheNextActionTriesAgain)
{
    const auto &[engine, loss] = GetParam();
    if (const std::string why = engine->Unavailable(); !why.empty())
        GTEST_SKIP() << why;
    FaultProxy proxy(engine->engine.PortOr(engine->Server().port));
    auto inner = engine->engine.openReader(throughProxy(*engine, EngineLogin::Reading, proxy));
    ActionSession db(*inner);
    constexpr int kStatements = 5;
    auto action = [&] {
        std::vector<std::string> failures;
        for (int i = 0; i < kStatements; ++i) {
            try {
                kLookup.run(*engine, db);
            } catch (const EDatabaseError &e) {
                failures.push_back(e.what());
            }
        }
        return failures;
    };
    ASSERT_TRUE(action().empty());

    proxy.Break(loss.fault, 0);
    auto start = std::chrono::steady_clock::now();
    const std::vector<std::string> failures = action();
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(failures.size(), std::size_t(kStatements));
    for (const std::string &f : failures)
        EXPECT_EQ(f, failures.front());
    EXPECT_EQ(failures.front(), loss.fault == FaultProxy::Fault::Freeze ? DatabaseTimeoutText(kDeadlineMs)
                                                                         : std::string(kConnectionLostText));
    // The first statement's deadline and the quarter more before a cut, with room for a loaded machine;
    // five tries would take five of them.
    EXPECT_LT(took, std::chrono::milliseconds(2 * kDeadlineMs));

    // Healed, the same action still refuses at once: only the person's next one tries again.
    proxy.Heal();
    start = std::chrono::steady_clock::now();
    EXPECT_THROW(kLookup.run(*engine, db), EDatabaseError);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kDeadlineMs / 4));
    EXPECT_TRUE(db.Refusing());
    db.NextAction();
    EXPECT_TRUE(action().empty());
    EXPECT_FALSE(db.Refusing());
}

INSTANTIATE_TEST_SUITE_P(Points, ActionLossTest,
                         testing::Combine(testing::ValuesIn(kServerEngines),
                                          testing::Values(LossCase{"Reset", FaultProxy::Fault::Reset, 0.0},
                                                          LossCase{"Freeze", FaultProxy::Fault::Freeze, 0.0})),
                         [](const auto &info) {
                             return std::string(std::get<0>(info.param)->label) + "_" + std::get<1>(info.param).label;
                         });

class IdleLossTest : public testing::TestWithParam<const TestEngine *> {};

TEST_P(IdleLossTest, DestroyingWhatWasOpenOnAServerThatWentAwayDoesNotThrow)
{
    const TestEngine &e = *GetParam();
    if (const std::string why = e.Unavailable(); !why.empty())
        GTEST_SKIP() << why;
    auto proxy = std::make_unique<FaultProxy>(e.engine.PortOr(e.Server().port));
    auto db = e.engine.openReader(throughProxy(e, EngineLogin::Reading, *proxy));
    auto writer = e.engine.openWriter(throughProxy(e, EngineLogin::Writing, *proxy), {});
    kLookup.run(e, *db);
    writer->Prepare("SELECT CDEMPRESA FROM EMPRESA WHERE CDEMPRESA <> ?");
    writer->Begin();
    writer->Select(0, {"zz"});
    proxy->Break(FaultProxy::Fault::Reset, 0);
    proxy.reset();  // the server side is gone while both idle
    db.reset();
    writer.reset();
}

INSTANTIATE_TEST_SUITE_P(Engines, IdleLossTest, testing::ValuesIn(kServerEngines),
                         [](const auto &info) { return std::string(info.param->label); });
} // namespace
