// The screen on a server whose connection breaks: the person's action (here
// the screen's lookups, one after another, each failure kept as a handler
// keeps it) waits for one deadline, not one per statement, and the person's
// next action reads again once the server is back.
#include "screen_host.h"

#include "../support/fault_proxy.h"

#include <chrono>

namespace {
constexpr int kDeadlineMs = 1000;

struct Loss {
    const char *label;
    FaultProxy::Fault fault;
};

class ScreenActionLoss : public testing::TestWithParam<std::tuple<DbSetup, Loss>> {};

TEST_P(ScreenActionLoss, OneActionWaitsForOneDeadline)
{
    const auto &[setup, loss] = GetParam();
    SKIP_WITHOUT_SERVER(setup);
    FaultProxy proxy(setup.engine.engine.PortOr(setup.engine.Server().port));
    EngineConnection c = setup.engine.Server();
    c.port = proxy.Port();
    c.timeoutMs = kDeadlineMs;
    auto session = setup.engine.engine.openReader(c);
    ScreenHost host(session.get(), setup.dialect);
    TfrmResumoOficialCfop &s = host.Screen();

    std::vector<std::string> failures;
    auto lookups = [&] {
        failures.clear();
        const std::vector<std::pair<TADOIBQuery *, std::vector<Arg>>> opened{
            {s.qryEmpresa, {Null("P_EMPRESA")}},
            {s.qryImposto, {Null("P_CDIMPOSTO")}},
            {s.qryModDoc, {}},
            {s.qrtTpOperacao, {}},
        };
        for (const auto &[query, args] : opened) {
            try {
                Reopen(*query, args);
            } catch (const EDatabaseError &e) {
                failures.push_back(e.what());
            }
        }
    };
    Application->RunUserAction(lookups);
    ASSERT_TRUE(failures.empty()) << failures.front();

    proxy.Break(loss.fault, 0);
    const auto start = std::chrono::steady_clock::now();
    Application->RunUserAction(lookups);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::milliseconds(2 * kDeadlineMs));
    ASSERT_EQ(failures.size(), 4u);
    for (const std::string &f : failures)
        EXPECT_EQ(f, failures.front());

    proxy.Heal();
    Application->RunUserAction(lookups);
    EXPECT_TRUE(failures.empty()) << failures.front();
    EXPECT_FALSE(s.qryEmpresa->IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Servers, ScreenActionLoss,
                         testing::Combine(testing::Values(kFirebirdInterBase, kPostgresqlOracle),
                                          testing::Values(Loss{"Reset", FaultProxy::Fault::Reset},
                                                          Loss{"Freeze", FaultProxy::Fault::Freeze})),
                         [](const auto &info) {
                             return std::string(std::get<0>(info.param).label) + "_" + std::get<1>(info.param).label;
                         });
} // namespace
