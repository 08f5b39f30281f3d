// The registry of engines and what callers rely on from the descriptors.
#include "data/engine.h"
#include "data/dberrors.h"
#include "data/writer.h"
#include "data/firebird/session.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {
TEST(EngineRegistry, EachNameOnceTheDefaultALocalFileAndAnUnknownNameRefused)
{
    std::set<std::string> names;
    for (const DatabaseEngine *engine : DatabaseEngines()) {
        SCOPED_TRACE(engine->name);
        EXPECT_TRUE(names.insert(engine->name).second) << "listed twice";
        EXPECT_EQ(FindEngine(engine->name), engine);
        EXPECT_EQ(&EngineNamed(engine->name), engine);
        // A server has a port of its own; a file has none.
        EXPECT_EQ(engine->localFile, engine->defaultPort == 0);
        EXPECT_TRUE(engine->openReader && engine->openWriter && engine->digitsOnly);
        EXPECT_NE(std::string(engine->schemaFixture), std::string(engine->summaryFixture));
    }
    EXPECT_TRUE(DefaultEngine().localFile);
    EXPECT_TRUE(DefaultEngine().inThisBuild);  // the demo copy opens in every build
    EXPECT_EQ(FindEngine("oracle"), nullptr);
    EXPECT_EQ(FindEngine(""), nullptr);
    try {
        EngineNamed("Sqlite");  // names compare exactly, as the configuration spells them
        ADD_FAILURE() << "accepted";
    } catch (const EDatabaseError &e) {
        EXPECT_NE(e.Message().find("'Sqlite'"), std::string::npos) << e.Message();
    }
}

TEST(EngineRegistry, PortZeroTakesTheEnginesOwn)
{
    for (const DatabaseEngine *engine : DatabaseEngines()) {
        SCOPED_TRACE(engine->name);
        EXPECT_EQ(engine->PortOr(0), engine->defaultPort);
        EXPECT_EQ(engine->PortOr(4000), 4000);
    }
    EngineConnection c;
    c.host = "db";
    EXPECT_EQ(FirebirdConnectionFor(c).port, FirebirdEngine().defaultPort);
    c.port = 3051;
    EXPECT_EQ(FirebirdConnectionFor(c).port, 3051);
}

TEST(EngineRegistry, ALocalFileWithoutANameIsRefusedBeforeAnythingOpens)
{
    EngineConnection none;
    EXPECT_THROW(DefaultEngine().openReader(none), EDatabaseError);
    EXPECT_THROW(DefaultEngine().openWriter(none, {}), EDatabaseError);
}
} // namespace
