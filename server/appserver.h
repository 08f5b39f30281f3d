#pragma once
// The application server: the HTTP transport of net/appserver_protocol.h in
// front of the remote module. Runs in-process (tests) or in fisappserver.
//
// One I/O thread serves every connection event by event (connection.h); a
// fixed pool of workers runs complete requests only (worker_pool.h), so slow,
// silent or idle clients hold no worker; routes.h answers each request.
// Every request is bounded in time and size, and the connections per client
// address and in all are capped. Requests already received when the server
// stops are still answered.
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
    int threads = 8;     // workers, i.e. requests run at once
    std::size_t maxBodyBytes = appserver::kDefaultMaxBodyBytes;
    std::chrono::milliseconds readTimeout{5000};      // longest silence inside a request
    std::chrono::milliseconds headerTimeout{3000};    // a request's header must arrive within this
    std::chrono::milliseconds requestTimeout{10000};  // a whole request must arrive within this
    std::chrono::milliseconds writeTimeout{5000};
    std::chrono::milliseconds keepAliveTimeout{5000}; // idle time before a kept connection closes
    std::size_t keepAliveMaxRequests = 10000;
    // How long a lookup's answer is reused for the same call (answered on the
    // I/O thread, without a worker); 0 reads the database every time.
    std::chrono::milliseconds lookupCacheTime{1000};
    // Open connections in all (lowered to what the open-file limit allows)
    // and from one client address; see connection.h for what happens beyond.
    std::size_t maxConnections = 4096;
    std::size_t maxConnectionsPerAddress = 2048;
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
    // Connections the server may hold open at once (maxConnections, bounded
    // by the process's open-file limit).
    std::size_t ConnectionLimit() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Text of a log line field taken from a client: control characters replaced,
// length capped, so a request cannot forge or flood log lines.
std::string LogSafe(const std::string &text, std::size_t maxLength = 64);
