#pragma once
// SQLite sessions, for the demo database and the tests.
//
// Binding: every marker is bound by value under the name the statement
// spells; an EMPTY TEXT IS BOUND AS NULL in every statement, as it would be
// on Oracle, so `:P IS NULL` holds for "". Dates bind as 'YYYY-MM-DD' text
// (with ' HH:MM:SS' when they carry a time), numbers as doubles. Every column
// is read back as text.
//
// The session registers NVL(a, b) and NVLSTR(a, b) (a unless NULL, else b)
// and the table-valued PARAM(x), one row whose column PARAM holds x, so
// statements written for other dialects run verbatim.
#include "data/session.h"

#include <memory>
#include <string>

// readOnly opens with writes refused, and a path that does not exist fails
// instead of creating an empty database. A statement still running after
// timeoutMs (0: no limit; time the caller spends on a streamed row does not
// count) is interrupted and fails with EDatabaseTimeout. A lock another
// connection holds is waited for up to busyTimeoutMs. Raises EDatabaseError.
std::unique_ptr<DatabaseSession> OpenSqliteSession(const std::string &path, bool readOnly, int timeoutMs = 0,
                                                   int busyTimeoutMs = 0);

struct DatabaseEngine;
class DatabaseWriter;
struct WriterOptions;
// The engine's descriptor (data/engine.h).
const DatabaseEngine &SqliteEngine();
// Opens an existing file for writing, waiting up to busyTimeoutMs for
// another writer's lock at each transaction. Raises EDatabaseError.
std::unique_ptr<DatabaseWriter> OpenSqliteWriter(const std::string &path, const WriterOptions &options,
                                                 int busyTimeoutMs);
