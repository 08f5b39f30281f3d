#pragma once
// The client's transport to the application server: one kept-alive HTTP/1.1
// connection per caller, and the idle ones kept per address for the next
// caller in the process.
//
// A request leaves in one segment and a reply is read with as few system
// calls as the data allows: a call costs the client a send and a receive
// (and a wait only when the reply is not there yet), which the general
// client library spent nine system calls and two segments on.
//
// An exchange has one deadline for sending and for the whole reply: a
// server that stops answering, or answers a byte at a time, cannot hold the
// caller past it.
#include <chrono>
#include <memory>
#include <string>

struct HttpReply {
    int status = 0;
    std::string body;
    bool keepAlive = true;  // false when the server closes after this reply
};

enum class HttpFailure {
    None,
    Send,       // the request could not be written (the server closed or reset)
    Closed,     // the connection ended before the whole reply arrived
    Timeout,    // the reply was not all in by the deadline
    Malformed,  // what arrived is not an HTTP reply
    TooLarge,   // the reply is over the client's limit
};

class HttpConnection {
public:
    using Deadline = std::chrono::steady_clock::time_point;

    // A connection to host:port, or nullptr when nothing accepts there
    // within `timeout`.
    static std::unique_ptr<HttpConnection> Open(const std::string &host, int port,
                                                std::chrono::milliseconds timeout);
    ~HttpConnection();
    HttpConnection(const HttpConnection &) = delete;
    HttpConnection &operator=(const HttpConnection &) = delete;

    // Whether the connection can carry another request: an idle connection
    // the server closed reads its end at once.
    bool Alive() const;

    // Sends `request` (a whole HTTP/1.1 request) and reads its reply, all
    // by `deadline`. `received` tells whether any byte of a reply arrived, so
    // a caller knows whether the request may be sent again on a fresh
    // connection.
    HttpFailure Exchange(const std::string &request, HttpReply &reply, Deadline deadline, bool &received);

    static constexpr std::size_t kMaxReplyBytes = 64u * 1024 * 1024;

private:
    explicit HttpConnection(int fd) : fd_(fd) {}
    bool sendAll(const std::string &data, Deadline deadline);
    // Appends what the socket has to in_, waiting until `deadline` at most:
    // >0 bytes read, 0 end of connection, -1 error, -2 deadline passed.
    long fill(Deadline deadline);
    HttpFailure readReply(HttpReply &reply, Deadline deadline, bool &received);

    int fd_;
    std::string in_;
};

// Idle connections per address, shared by the whole process. Take() gives a
// live one or nullptr; Give() keeps one for later (a few per address).
namespace idle_connections {
std::unique_ptr<HttpConnection> Take(const std::string &host, int port);
void Give(const std::string &host, int port, std::unique_ptr<HttpConnection> connection);
std::size_t Count(const std::string &host, int port);
void Clear();
} // namespace idle_connections

// Whether something accepts connections at host:port. A live idle connection
// answers without touching the network; otherwise a new connection is opened
// within `timeout` and kept idle for the first call to talk over.
bool ServerReachable(const std::string &host, int port, std::chrono::milliseconds timeout);
