#pragma once
// The demo database, built in memory from the reference fixture.
#include "data/sqlite/session.h"
#include "data/sqlscript.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

inline std::string ReadFixture()
{
    std::ifstream in(FIS_REFERENCE_SQL);
    if (!in)
        throw std::runtime_error("fixture not found: " FIS_REFERENCE_SQL);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::unique_ptr<DatabaseSession> ReferenceDb()
{
    auto session = OpenSqliteSession(":memory:", false);
    LoadSqlScript(*session, ReadFixture());
    return session;
}
