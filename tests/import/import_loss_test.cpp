// An import whose connection breaks mid-batch, through a proxy the test
// steers: it ends with the connection's own error within the deadline (no
// abort, no hang), what it committed is whole, and the rerun books the rest.
#include "../support/fault_proxy.h"
#include "data/dberrors.h"
#include "import/importer.h"
#include "import_case.h"
#include "nfe_builder.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {
constexpr int kDeadlineMs = 800;
constexpr long kDocuments = 12;

struct Break {
    const char *label;
    FaultProxy::Fault fault;
    double at;  // a share of a whole import's traffic
};

class ImportLoss : public testing::TestWithParam<std::tuple<const ImportEngine *, Break>> {
protected:
    void SetUp() override
    {
        engine = std::get<0>(GetParam());
        if (const std::string why = ImportTarget::Unavailable(*engine); !why.empty())
            GTEST_SKIP() << why;
        target = std::make_unique<ImportTarget>(*engine);
        proxy = std::make_unique<FaultProxy>(engine->engine.PortOr(engine->Server().port));
        writeFolder();
    }
    // The batch, in the target's folder; returns the folder.
    std::string writeFolder()
    {
        for (long i = 0; i < kDocuments; ++i) {
            TestNfe n;
            n.number = 100 + i;
            n.keyNumber = static_cast<int>(i);
            target->Write("lote/" + std::to_string(i) + ".xml", n.Xml());
        }
        return target->Dir() + "/lote";
    }
    std::unique_ptr<DatabaseWriter> writer()
    {
        EngineConnection c = engine->Server(EngineLogin::Writing);
        c.port = proxy->Port();
        c.timeoutMs = kDeadlineMs;
        return engine->engine.openWriter(c, {});
    }
    long count(const std::string &sql)
    {
        auto db = target->Open();
        return std::stol(One(*db, sql));
    }

    const ImportEngine *engine = nullptr;
    std::unique_ptr<ImportTarget> target;
    std::unique_ptr<FaultProxy> proxy;
    ImportOptions options = [] {
        ImportOptions o;
        o.documentsPerCommit = 4;  // a break finds some batches committed
        return o;
    }();
};

TEST_P(ImportLoss, EndsWithTheConnectionsErrorKeepsWhatItCommittedAndTheRerunCompletes)
{
    const Break &b = std::get<1>(GetParam());
    // One whole import gives the traffic to break within; a fresh target
    // removes what it booked.
    auto db = writer();
    const std::uint64_t before = proxy->Passed();
    ASSERT_EQ(ImportFiles(*db, {target->Dir() + "/lote"}, options).imported, kDocuments);
    const auto traffic = static_cast<double>(proxy->Passed() - before);
    db.reset();
    target.reset();
    target = std::make_unique<ImportTarget>(*engine);
    const std::string folder = writeFolder();

    db = writer();
    proxy->Break(b.fault, static_cast<std::uint64_t>(traffic * b.at));
    try {
        ImportFiles(*db, {folder}, options);
        FAIL() << "the import went through a broken connection";
    } catch (const EDatabaseTimeout &e) {
        EXPECT_EQ(b.fault, FaultProxy::Fault::Freeze) << e.what();
    } catch (const EDatabaseConnectionLost &) {
        // A reset, or a freeze the deadline cut, seen as the loss it caused.
    }
    db.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - proxy->StruckAt(), std::chrono::milliseconds(3 * kDeadlineMs));
    // The server notices the dead client and undoes its open transaction.
    proxy = std::make_unique<FaultProxy>(engine->engine.PortOr(engine->Server().port));

    // Whole documents only: each booked one has its items and its key.
    const long booked = count("SELECT CAST(COUNT(*) AS VARCHAR(20)) FROM NFECHAVE WHERE CDNOTAFISC IS NOT NULL");
    EXPECT_LT(booked, kDocuments);
    EXPECT_EQ(booked % options.documentsPerCommit, 0);
    EXPECT_EQ(count("SELECT CAST(COUNT(*) AS VARCHAR(20)) FROM NFECHAVE K WHERE K.CDNOTAFISC IS NOT NULL AND NOT "
                    "EXISTS (SELECT 1 FROM ITEMNOTAFISC I WHERE I.CDNOTAFISC = K.CDNOTAFISC)"),
              0);

    proxy->Heal();
    auto again = writer();
    const ImportReport rerun = ImportFiles(*again, {folder}, options);
    EXPECT_EQ(rerun.imported, kDocuments - booked);
    EXPECT_EQ(rerun.alreadyPresent, booked);
    for (const ImportRefusal &r : rerun.refused)
        ADD_FAILURE() << "refused on the rerun: " << r.file << ": " << r.reason;
}

INSTANTIATE_TEST_SUITE_P(
    Points, ImportLoss,
    testing::Combine(testing::Values(&kImportFirebird, &kImportPostgresql),
                     testing::Values(Break{"ResetMidBatch", FaultProxy::Fault::Reset, 0.5},
                                     Break{"FreezeMidBatch", FaultProxy::Fault::Freeze, 0.6})),
    [](const auto &info) { return std::string(std::get<0>(info.param)->label) + "_" + std::get<1>(info.param).label; });
} // namespace
