#pragma once
// The demo database on an engine, read only: a fresh copy of the local file
// (removed at the end), or the server's demo database.
#include "engines.h"
#include "host/hostsession.h"

#include <memory>

class DemoSession {
public:
    explicit DemoSession(const TestEngine &e)
    {
        EngineConnection c = e.Server();
        if (e.engine.localFile) {
            file_ = std::make_unique<TemporaryDemoDatabase>();
            c = {};
            c.database = file_->Path();
        }
        session_ = e.engine.openReader(c);
    }
    DatabaseSession &Session() { return *session_; }
    // The local file; empty on a server.
    std::string Path() const { return file_ ? file_->Path() : std::string(); }

private:
    std::unique_ptr<TemporaryDemoDatabase> file_;
    std::unique_ptr<DatabaseSession> session_;
};
