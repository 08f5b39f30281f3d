#pragma once
// What the sessions and writers of the server engines share about waiting on
// a server: one deadline for every call (the opening included), a stop asked
// for from any thread, and one reading of a failed call: late, connection
// gone, cancelled, or the engine's own failure. A connection found late or
// lost is dropped; the next call opens a new one.
#include "data/dberrors.h"
#include "data/watchdog.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// A failed call as the engine's backend judged it.
struct ServerFailure {
    std::string engineText;    // the engine's own words, kept for the log
    bool lost = false;         // the connection is gone: only a new one helps
    std::string lostText;      // the person's words for the loss when not the usual (a shutdown)
    bool cancelled = false;    // the server stopped the statement as asked
    bool writeRefused = false; // a read-only transaction refused to write
    std::string text;          // the failure in Portuguese; empty: the engine's words stand
};

inline constexpr const char *kCancelledText = "Comando interrompido.";

class ServerCalls {
public:
    // What the owner does to its connection; both may run on the
    // watchdog's thread while a call is under way.
    struct Connection {
        std::function<void()> cancel;  // asks the running statement to stop
        std::function<void()> cut;     // makes every wait on the connection fail at once
    };

    // A limit of zero waits as long as the server takes.
    ServerCalls(int timeoutMs, Connection connection);
    ServerCalls(const ServerCalls &) = delete;
    ServerCalls &operator=(const ServerCalls &) = delete;

    // While a Call lives the server's silence is timed: past the limit the
    // statement is cancelled, a quarter limit later the connection is cut.
    class Call {
    public:
        explicit Call(ServerCalls &calls) : call_(calls.watchdog_) {}

    private:
        CallWatchdog::Call call_;
    };

    // The clock stops while the caller handles a row.
    void Pause() { watchdog_.Pause(); }
    void Resume() { watchdog_.Resume(); }

    // A stop from any thread; Begin clears it for the next call.
    void Interrupt()
    {
        interrupted_ = true;
        connection_.cancel();
    }
    void Begin() { interrupted_ = false; }
    bool Interrupted() const { return interrupted_; }

    std::chrono::milliseconds Limit() const { return watchdog_.Limit(); }

    // Opens a connection within the limit. Where the client library cannot be
    // told a deadline for its opening, `open` runs on a thread of its own and
    // is left to finish alone once the limit has passed (what it opens then is
    // closed); the caller gets EDatabaseTimeout on time.
    template <typename T>
    std::unique_ptr<T> Open(const std::function<std::unique_ptr<T>()> &open) const;

    // Raises the failure as the person reads it. A call found late or a
    // connection lost is dropped first; otherwise the call's work is undone
    // (rollback), the connection kept.
    [[noreturn]] void Raise(const ServerFailure &failure, const std::function<void()> &drop,
                            const std::function<void()> &rollback) const;

    // As Raise for a writer, whose caller undoes its own work: a loss or a
    // silence is also kept in `ended`, which every later call raises again.
    [[noreturn]] void RaiseEnding(const ServerFailure &failure, const std::function<void()> &drop,
                                  std::exception_ptr &ended) const;

private:
    Connection connection_;
    std::atomic<bool> interrupted_{false};
    CallWatchdog watchdog_;  // last: stopped before the rest goes
};

// Openings given up on and still under way. A client library may wait for
// them when the process exits (Firebird's does), so while any is left the
// process leaves at exit without running the libraries' exit handlers.
int AbandonedOpenings();
void CountAbandonedOpening(int change);

template <typename T>
std::unique_ptr<T> ServerCalls::Open(const std::function<std::unique_ptr<T>()> &open) const
{
    if (Limit().count() <= 0)
        return open();
    struct Shared {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        bool abandoned = false;
        std::unique_ptr<T> opened;
        std::exception_ptr failed;
    };
    auto shared = std::make_shared<Shared>();
    std::thread([shared, open] {
        std::unique_ptr<T> opened;
        std::exception_ptr failed;
        try {
            opened = open();
        } catch (...) {
            failed = std::current_exception();
        }
        std::unique_lock lock(shared->mutex);
        if (shared->abandoned) {
            lock.unlock();
            opened.reset();  // too late for anyone: closed here
            CountAbandonedOpening(-1);
            return;
        }
        shared->opened = std::move(opened);
        shared->failed = failed;
        shared->finished = true;
        shared->done.notify_all();
    }).detach();
    std::unique_lock lock(shared->mutex);
    if (!shared->done.wait_for(lock, Limit(), [&] { return shared->finished; })) {
        shared->abandoned = true;
        CountAbandonedOpening(1);
        throw EDatabaseTimeout(DatabaseTimeoutText(Limit().count()), "opening the connection timed out");
    }
    if (shared->failed)
        std::rethrow_exception(shared->failed);
    return std::move(shared->opened);
}
