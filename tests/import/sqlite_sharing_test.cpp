// A SQLite file several programs use at once: reports and the application
// server read while an import writes, a second writer waits for the first
// within its busy timeout, and what the engine refuses reaches the person in
// Portuguese, the database left whole.
#include "data/engine.h"
#include "data/sqlite/session.h"
#include "host/hostsession.h"
#include "import_target.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

class SqliteSharing : public ::testing::Test {
protected:
    ImportTarget target{kImportSqlite};
    std::string path = target.Dir() + "/own.sqlite";

    std::unique_ptr<ImportConnection> writer(int busyMs) const
    {
        EngineConnection c;
        c.database = path;
        c.busyTimeoutMs = busyMs;
        return SqliteEngine().openWriter(c, {});
    }
    static std::string conversions(ImportConnection &db)
    {
        return One(db, "SELECT CAST(COUNT(*) AS VARCHAR(10)) FROM CFOPCONVERSAO");
    }
};

TEST_F(SqliteSharing, WhatTheEngineRefusesIsSaidInPortugueseAndTheDatabaseStaysWhole)
{
    auto holder = writer(0);
    const std::string before = conversions(*holder);
    const struct {
        const char *label;
        std::function<void(ImportConnection &)> act;
        const char *says;
    } rows[] = {
        {"another import holds the write lock",
         [&](ImportConnection &db) {
             holder->Begin();
             try {
                 db.Begin();
             } catch (...) {
                 holder->Rollback();
                 throw;
             }
         },
         "sendo gravado por outro programa"},
        {"a database that may only be read",
         [](ImportConnection &db) {
             db.Execute("PRAGMA query_only = 1");
             db.Begin();
             db.Run(db.Prepare("INSERT INTO CFOPCONVERSAO VALUES ('5999', '1999')"), {});
         },
         "só pode ser lido"},
        {"a full disk",
         [](ImportConnection &db) {
             // No room past the pages it has.
             db.Execute("PRAGMA max_page_count = " + One(db, "SELECT CAST(page_count AS VARCHAR(20)) FROM "
                                                             "pragma_page_count"));
             db.Begin();
             const int insert = db.Prepare("INSERT INTO CFOPCONVERSAO VALUES (?, '1999')");
             for (int i = 0; i < 100000; ++i)
                 db.Run(insert, {std::to_string(i) + std::string(2000, 'x')});
         },
         "disco do banco de dados está cheio"},
        {"a table the database lacks", [](ImportConnection &db) { db.Prepare("SELECT X FROM NADA"); },
         "A tabela NADA não existe"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.label);
        auto db = writer(300);
        try {
            r.act(*db);
            ADD_FAILURE() << "no failure";
        } catch (const EDatabaseError &e) {
            const std::string said = e.what();
            EXPECT_NE(said.find(r.says), std::string::npos) << said;
            for (const char *english : {"database is locked", "readonly", "disk is full", "no such table"})
                EXPECT_EQ(said.find(english), std::string::npos) << said;
            EXPECT_FALSE(e.EngineText().empty());
        }
        // Whatever the engine undid itself, taking the rest back says nothing more.
        EXPECT_NO_THROW(db->Rollback());
        db.reset();
        EXPECT_EQ(conversions(*holder), before);
    }
}

TEST_F(SqliteSharing, ASecondWriterWaitsForTheFirstWithinItsBusyTimeout)
{
    auto first = writer(0);
    first->Begin();
    const auto started = Clock::now();
    EXPECT_THROW(writer(400)->Begin(), EDatabaseError);
    const auto waited = Clock::now() - started;
    EXPECT_GE(waited, std::chrono::milliseconds(380));
    EXPECT_LT(waited, std::chrono::seconds(5));
    first->Commit();
    // Let go in time, the lock is taken.
    first->Begin();
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        first->Commit();
    });
    auto second = writer(5000);
    EXPECT_NO_THROW(second->Begin());
    release.join();
    second->Rollback();
}

TEST_F(SqliteSharing, ReportsAndTheServerStartReadWhileAnImportWrites)
{
    auto import = writer(300);
    import->Begin();
    import->Run(import->Prepare("INSERT INTO CFOPCONVERSAO VALUES ('5998', '1998')"), {});

    // The host's opening (the application server's start) needs no write lock.
    HostConfig config;
    config.engine = SqliteEngine().name;
    config.database = path;
    const auto started = Clock::now();
    auto report = OpenHostSession(config);
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(2));
    const auto count = [&] {
        return report->Query("SELECT COUNT(*) FROM CFOPCONVERSAO", {}).rows.at(0).at(0).value_or("");
    };
    const std::string before = count();

    // A report in the middle of its reads does not hold the import's commit back.
    report->BeginSnapshot();
    EXPECT_EQ(count(), before);
    EXPECT_NO_THROW(import->Commit());
    EXPECT_EQ(count(), before);  // one moment for the whole report
    report->EndSnapshot();
    EXPECT_EQ(count(), std::to_string(std::stoi(before) + 1));
}

} // namespace
