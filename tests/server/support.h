#pragma once
// An application server on a fresh demo database, served in-process, and raw
// HTTP helpers to reach it below the client's error handling.
#include "appserver.h"
#include "data/sqlite/session.h"
#include "host/hostsession.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

struct TestServer {
    explicit TestServer(AppServerSettings settings = {}, SessionFactory factory = nullptr)
        : server(withLog(std::move(settings)),
                 factory ? std::move(factory) : SessionFactory([path = db.Path()] {
                     return OpenSqliteSession(path, true);
                 }))
    {
        port = server.Start();
    }

    // The lines so far, once there are at least `count` (a line is written
    // just after its reply, so it may trail the client by a moment).
    std::vector<std::string> Log(std::size_t count)
    {
        for (int i = 0; i < 200; ++i) {
            {
                std::lock_guard<std::mutex> lock(logMutex);
                if (log.size() >= count)
                    return log;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        std::lock_guard<std::mutex> lock(logMutex);
        return log;
    }

    TemporaryDemoDatabase db;
    std::mutex logMutex;
    std::vector<std::string> log;
    AppServer server;
    int port = 0;

private:
    AppServerSettings withLog(AppServerSettings s)
    {
        s.log = [this](const std::string &line) {
            std::lock_guard<std::mutex> lock(logMutex);
            log.push_back(line);
        };
        return s;
    }
};

inline std::string CallBody(const std::string &method, const std::vector<std::string> &args)
{
    return nlohmann::json{{"server", "FIS02800.rdmCriaResumoNOficialCFOp"}, {"method", method}, {"args", args}}
        .dump();
}

struct RawReply {
    int status = 0;  // 0: no reply
    std::string body;
    nlohmann::json json() const { return nlohmann::json::parse(body, nullptr, false); }
};

inline RawReply RawPost(int port, const std::string &body, const httplib::Headers &headers = {},
                        const std::string &path = "/call")
{
    httplib::Client c("127.0.0.1", port);
    auto res = c.Post(path.c_str(), headers, body, "application/json");
    return res ? RawReply{res->status, res->body} : RawReply{};
}

// A plain TCP connection to the server, for clients that misbehave.
struct RawSocket {
    // `from`: a loopback address to connect from (127.0.0.x), to stand for
    // another client machine.
    explicit RawSocket(int port, const char *from = nullptr)
    {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (from) {
            sockaddr_in local{};
            local.sin_family = AF_INET;
            ::inet_pton(AF_INET, from, &local.sin_addr);
            (void)::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local);
        }
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected = ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    }
    ~RawSocket() { ::close(fd); }
    void Send(const std::string &s) { (void)::send(fd, s.data(), s.size(), MSG_NOSIGNAL); }
    // Says the request is all sent (the server still answers).
    void EndOfInput() { ::shutdown(fd, SHUT_WR); }
    // Neither closed nor reset by the server, and nothing unread.
    bool StillOpen() const
    {
        char c;
        return ::recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT) < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
    // Everything until the server closes or `seconds` pass.
    std::string ReadAll(int seconds)
    {
        timeval tv{seconds, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        std::string out;
        char buf[4096];
        ssize_t n;
        while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0)
            out.append(buf, static_cast<std::size_t>(n));
        closedByPeer = n == 0;
        return out;
    }
    int fd = -1;
    bool connected = false;
    bool closedByPeer = false;
};

// A port nothing listens on.
inline int FreePort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}
