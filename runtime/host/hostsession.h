#pragma once
// The host's database, as its configuration names it: the embedded SQLite
// demo database by default, or a Firebird server.
#include "data/session.h"
#include "host/hostconfig.h"

#include <memory>
#include <string>
#include <vector>

// Opens the configured database read only. Raises EDatabaseError.
std::unique_ptr<DatabaseSession> OpenHostSession(const HostConfig &config);

// Builds a fresh SQLite demo database at `path` from the fixtures, loaded in
// order (replacing any file there). Raises on failure.
void BuildDemoDatabase(const std::string &path,
                       const std::vector<std::string> &fixturePaths = DefaultFixturePaths());

// A demo database in a new temporary folder, removed when this goes away.
class TemporaryDemoDatabase {
public:
    TemporaryDemoDatabase();
    ~TemporaryDemoDatabase();
    TemporaryDemoDatabase(const TemporaryDemoDatabase &) = delete;
    TemporaryDemoDatabase &operator=(const TemporaryDemoDatabase &) = delete;
    const std::string &Path() const { return path_; }

private:
    std::string dir_;
    std::string path_;
};
