#pragma once
// What the server answers to a complete request: the call route with its
// token check, the health route, and the error replies of the protocol
// (net/appserver_protocol.h). Free of any transport: runs on a worker, and
// under the fuzzer.
#include "answer_cache.h"
#include "session_pool.h"

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct AppServerSettings;

// A complete request as the routes see it.
struct HttpCall {
    std::string method;  // "POST", "GET", ...
    std::string target;  // path and query
    std::string authorization;
    std::string body;
};

struct HttpAnswer {
    int status = 200;
    std::string body;  // always JSON
    std::vector<std::pair<std::string, std::string>> headers;
    std::string logMethod;  // what the request's log line names
    std::string logDetail;  // the engine's own words for a failure, for the log alone
};

class Routes {
public:
    Routes(const AppServerSettings &settings, SessionPool &sessions);

    // Runs the request; database work happens here, never on the I/O thread.
    HttpAnswer Handle(const HttpCall &call) const;
    // The answer to a request that needs no database (the health route, Ping,
    // a refused or malformed call), made at once on the calling thread; none
    // for one that needs a session, which Handle must run on a worker.
    std::optional<HttpAnswer> Immediate(const HttpCall &call) const;

    // An error reply for a request refused before it was complete
    // (400, 408, 413, 414, 503), named `logMethod` in the log.
    HttpAnswer Refusal(int status, std::string logMethod) const;

private:
    HttpAnswer handle(const HttpCall &call, bool immediate) const;
    HttpAnswer call(const HttpCall &call, bool immediate) const;
    HttpAnswer error(int status, const std::string &text, std::string logMethod) const;

    const AppServerSettings &settings_;
    SessionPool &sessions_;
    mutable AnswerCache lookups_;
};

// The log line of one request: UTC time, peer, method, status, milliseconds.
std::string RequestLogLine(const std::string &peer, const std::string &method, int status,
                           std::chrono::steady_clock::time_point start, const std::string &detail = {});
