#pragma once
// The databases the import suite runs on: a new database file of one's own
// with companies 01 and 02 registered, and, where a server engine's variables
// name one, the server's demo database through the import's writing login
// (FIS_FB_IMPORT_USER / FIS_FB_IMPORT_PASSWORD, default FISIMPORT/fisimport).
// On a server the demo rows stay: the tests date their documents in 2027 and
// remove what they imported before and after each test.
#include "../support/engines.h"
#include "data/session.h"
#include "import/connection.h"

#include <memory>
#include <string>

using ImportEngine = TestEngine;
inline const ImportEngine &kImportSqlite = kTestSqlite;
inline const ImportEngine &kImportFirebird = kTestFirebird;
inline const ImportEngine &kImportPostgresql = kTestPostgresql;

class ImportTarget {
public:
    explicit ImportTarget(const ImportEngine &engine);
    ~ImportTarget();
    // Empty when the engine is not configured here.
    static std::string Unavailable(const ImportEngine &engine);

    std::unique_ptr<ImportConnection> Open() const;
    // The read-only session the reports use.
    std::unique_ptr<DatabaseSession> Reports() const;
    const std::string &Dir() const { return dir_; }  // a scratch folder of the test's own
    std::string Write(const std::string &name, const std::string &text) const;  // returns the path

private:
    void clean() const;
    EngineConnection connection(EngineLogin login) const;
    const ImportEngine &engine_;
    std::string dir_, database_;
};

// One value of the first row, or "" for none / NULL.
std::string One(ImportConnection &db, const std::string &sql, const ImportConnection::Values &values = {});
