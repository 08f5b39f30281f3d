#pragma once
// The demo database, built in memory from the reference fixture.
#include "data/sqlite/session.h"
#include "data/sqlscript.h"
#include "rtl/files.h"


inline std::string ReadFixture() { return ReadWholeFile(FIS_REFERENCE_SQL); }

inline std::unique_ptr<DatabaseSession> ReferenceDb()
{
    auto session = OpenSqliteSession(":memory:", false);
    LoadSqlScript(*session, ReadFixture());
    return session;
}
