#pragma once
// The application server: the HTTP transport of net/appserver_protocol.h in
// front of the remote module. Runs in-process (tests) or in fisappserver.
//
// Each connection is served by one worker of a fixed pool, one request after
// another (keep-alive). Every request gets a whole-request read deadline, so
// slow or silent clients cannot hold a worker for long; a kept-alive
// connection gives its worker up when other connections have waited for one
// (see yieldAfter), and an idle one is closed at once when the server stops. Requests already received when the
// server stops are still answered.
#include "net/appserver_protocol.h"
#include "session_pool.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

struct AppServerSettings {
    std::string host = "127.0.0.1";
    int port = 0;        // 0: a free port, see Port()
    std::string token;   // empty: calls need no Authorization header
    int threads = 8;     // workers, i.e. connections served at once
    std::size_t maxBodyBytes = appserver::kDefaultMaxBodyBytes;
    std::chrono::milliseconds readTimeout{5000};      // longest silence inside a request
    std::chrono::milliseconds requestTimeout{10000};  // a whole request must arrive within this
    std::chrono::milliseconds writeTimeout{5000};
    std::chrono::milliseconds keepAliveTimeout{5000}; // idle time before a kept connection closes
    // When connections wait for a worker, one that held its worker this long
    // closes after its current request (or at once when idle).
    std::chrono::milliseconds yieldAfter{250};
    std::size_t keepAliveMaxRequests = 10000;
    int backlog = 1024;
    // Receives one line per request (time, peer, method, status, ms);
    // unset writes to stderr.
    std::function<void(const std::string &)> log;
};

class AppServer {
public:
    AppServer(AppServerSettings settings, SessionFactory factory);
    ~AppServer();  // Stop()
    AppServer(const AppServer &) = delete;
    AppServer &operator=(const AppServer &) = delete;

    // Binds the listening socket and returns the port. Raises Exception.
    int Bind();
    // Serves until Stop(); binds first when Bind() was not called.
    void Run();
    // Bind() and Run() on a background thread; returns the port.
    int Start();
    // Stops listening, closes idle connections, lets running requests finish;
    // waits for the background thread of Start(). Safe from any thread but a
    // worker, and more than once.
    void Stop();

    int Port() const;
    SessionPool &Sessions();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Text of a log line field taken from a client: control characters replaced,
// length capped, so a request cannot forge or flood log lines.
std::string LogSafe(const std::string &text, std::size_t maxLength = 64);
