#pragma once
// Firebird 3 sessions over SOCI, for a server reached by TCP.
//
// Binding: every marker is bound by value; an EMPTY TEXT IS BOUND AS NULL, as
// on the other engines, and a NULL reaches the server as NULL even where
// Firebird derives the parameter's type from a literal or a function argument
// (`:P_T = 'T'`, `NVL(:P, ...)`). A name repeated in one statement is bound
// once per occurrence with the same value. Values of non-text parameters travel
// as text and the server converts them, so a bad number or date is refused by
// the server instead of being guessed at here.
//
// Reading: every column comes back as text. CHAR columns lose their right
// padding, VARCHAR values keep their blanks; integers and decimals keep every
// digit (decimals without trailing fraction zeros: "1.50" reads "1.5"); dates
// read "YYYY-MM-DD", with " HH:MM:SS" when a time is present; a text blob
// reads whole up to 32765 bytes, a longer one fails. Binary blobs are refused.
//
// Each call runs in its own transaction, committed at its end, so a
// long-lived session always reads what others committed meanwhile.
//
// A broken connection or a server going down fails the call with
// EDatabaseConnectionLost, and the next call connects again.
#include "data/session.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct FirebirdConnection {
    std::string host = "127.0.0.1";  // empty: a local connection without TCP
    int port = 3050;
    std::string database;  // path of the database file on the server, or an alias
    std::string user;
    std::string password;
    std::string charset = "UTF8";
    // How long the server may keep silent during a call before the statement
    // is cancelled and the connection dropped (EDatabaseTimeout); 0: no limit.
    int timeoutMs = 0;
};

// Raises EDatabaseError when the server refuses the connection.
std::unique_ptr<DatabaseSession> OpenFirebirdSession(const FirebirdConnection &c);

// The connection as SOCI's Firebird backend reads it ("service=... user=...
// password=... charset=..."), for the few places that open SOCI themselves
// (writing connections, plans). Raises EDatabaseError for a value SOCI would
// misread or Firebird would wrap.
std::string FirebirdConnectString(const FirebirdConnection &c);

// What the person reads for a failure the server reports in its status
// vector (isc_arg_* pairs up to isc_arg_end): a lock conflict, a database shut
// down, an unavailable server or database, a refused login, a missing
// permission, a full disk, a damaged file. Empty for the rest: a statement's
// own mistakes keep the engine's words, which name the spot.
std::string FirebirdFailureText(const std::vector<std::intptr_t> &status);

// The statement as handed to SOCI: comments blanked (SOCI's own scan for
// markers takes a quote inside a comment for the start of a literal) and every
// marker spelled as a distinct ASCII name; `markers[i]` is the name the i-th
// marker had in `sql`, `bindNames[i]` the one it has now. `positional` is the
// same text with every marker a '?', as the client library takes it. Exposed
// for tests.
struct FirebirdStatementText {
    std::string sql;
    std::string positional;
    std::vector<std::string> markers;
    std::vector<std::string> bindNames;
};
// Raises EDatabaseError for a quoted identifier holding a quote or a colon,
// which SOCI would misread.
FirebirdStatementText PrepareFirebirdStatement(const std::string &sql);

struct DatabaseEngine;
struct EngineConnection;
class DatabaseWriter;
// The engine's descriptor (data/engine.h).
const DatabaseEngine &FirebirdEngine();
// The engine's connection as this backend takes it, the default port filled in.
FirebirdConnection FirebirdConnectionFor(const EngineConnection &c);
// A writer through the given login. Raises EDatabaseError; refused when built
// without Firebird.
std::unique_ptr<DatabaseWriter> OpenFirebirdWriter(const FirebirdConnection &c);
