#pragma once
// Database sessions for the worker threads. A session is used by one thread
// at a time (SOCI sessions are not thread safe): a request leases one, and
// gives it back when done. Sessions are opened on demand and kept for reuse.
#include "data/session.h"

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

using SessionFactory = std::function<std::unique_ptr<DatabaseSession>()>;

class SessionPool {
public:
    explicit SessionPool(SessionFactory factory) : factory_(std::move(factory)) {}

    class Lease {
    public:
        // Takes an idle session or opens one (the factory's exception passes through).
        explicit Lease(SessionPool &pool);
        ~Lease();
        Lease(const Lease &) = delete;
        Lease &operator=(const Lease &) = delete;
        DatabaseSession &Session() { return *session_; }
        // After a failure the session is closed instead of reused: a broken
        // connection must not serve the next request.
        void Discard() { discard_ = true; }

    private:
        SessionPool &pool_;
        std::unique_ptr<DatabaseSession> session_;
        bool discard_ = false;
    };

    // Adds an already open session (the one the server checked at start-up).
    void Give(std::unique_ptr<DatabaseSession> session);
    std::size_t Idle() const;

private:
    SessionFactory factory_;
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<DatabaseSession>> idle_;
};
