#pragma once
// SQL functions the SQLite session adds to the engine. Kept apart because
// SOCI's SQLite header wraps <sqlite3.h> in a namespace of its own.

// `db` is the raw sqlite3 handle. Raises EDatabaseError.
void RegisterSqliteFunctions(void *db);
