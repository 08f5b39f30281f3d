#pragma once
// What the hub and its connections share: the hub's state and one
// connection's. The hub accepts and sweeps (connection_hub.cpp); a connection
// reads and frames its requests (connection.cpp) and answers them
// (connection_reply.cpp).
#include "connection.h"

#include "appserver.h"
#include "request_framing.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>

#include <atomic>
#include <chrono>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace connections {
namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using error_code = boost::system::error_code;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

inline constexpr std::size_t kReadSize = 16 * 1024;
// The first read of a request, which usually holds all of it; a kept-alive
// connection keeps a buffer of this size between requests, no more.
inline constexpr std::size_t kFirstRead = 4 * 1024;
// Unparsed input a connection holds: a header at its limit and a read more.
inline constexpr std::size_t kBufferLimit = framing::kMaxHeaderBytes + 2 * kReadSize;
// After a reply that ends the connection, what the client still sends is
// read and dropped for a while: closing with unread input makes the kernel
// reset the connection, which can destroy the reply before the client reads it.
inline constexpr milliseconds kDrainTime{1000};
// A request still arriving after this long yields its connection to a
// newcomer when its address (or the server) is full: a flood of slow senders
// from one address cannot keep that address's other clients out.
inline constexpr milliseconds kYieldAfter{1000};
// When the server stops, a request still arriving gets this long.
inline constexpr milliseconds kStopGrace{500};
// Deadlines are checked by one sweep over the connections this often, rather
// than by a timer each: moving a timer costs a system call per request.
inline constexpr milliseconds kSweep{50};
inline constexpr char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";

class Connection;
} // namespace connections

struct ConnectionHub::Impl {
    using Connection = connections::Connection;
    using tcp = connections::tcp;
    using error_code = connections::error_code;

    Impl(boost::asio::io_context &io, const AppServerSettings &settings, std::size_t maxConnections, const Routes &routes,
         WorkerPool &workers, RequestLog &log)
        : io(io), settings(settings), maxConnections(maxConnections), routes(routes), workers(workers), log(log),
          acceptor(io), retry(io), sweeper(io)
    {
    }

    void accept();
    void onAccept(const error_code &ec, tcp::socket socket);
    void admit(tcp::socket socket);
    bool evictIdle(const std::string *ip);
    bool evictSlowest(const std::string *ip);
    bool refuseWithReserve();
    void refuse(int fd, const std::string &peer);

    void added(Connection &c);
    void removed(Connection &c);
    void sweep();
    void idleStart(Connection &c);
    void idleEnd(Connection &c);

    boost::asio::io_context &io;
    const AppServerSettings &settings;
    const std::size_t maxConnections;
    const Routes &routes;
    WorkerPool &workers;
    RequestLog &log;
    tcp::acceptor acceptor;
    boost::asio::steady_timer retry;  // accepting again after running out of descriptors
    boost::asio::steady_timer sweeper;
    bool sweeping = false;
    // Held open so a connection can still be accepted, answered 503 and
    // closed when the process has no descriptor left.
    int reserveFd = -1;
    std::atomic<bool> stopping{false};  // read by workers too
    std::unordered_map<std::string, std::size_t> perAddress;
    std::unordered_set<Connection *> live;
    std::size_t peakLive = 0;  // most connections open since memory was last handed back
    bool trimWhenEmpty = false;
    static constexpr std::size_t kTrimAfterPeak = 256;
    std::list<Connection *> idle;  // longest idle first
};

namespace connections {
class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(ConnectionHub::Impl &hub, tcp::socket socket, std::string ip, std::string peer);

    // Only a handler that threw leaves a connection unclosed with nothing
    // pending: the hub must not keep it.
    ~Connection();

    void Start();

    // Closed to make room for a newcomer (only while idle).
    void CloseNow() { close(); }
    // A request arriving since `since` and not yielding already, or none.
    bool ArrivingSince(Clock::time_point since) const
    {
        return state_ == State::Reading && !yielding_ && requestStart_ <= since;
    }
    Clock::time_point RequestStart() const { return requestStart_; }
    // Refused (503) to make room for a newcomer, once its pending read or
    // write has ended: the parser and buffer are the read's until then.
    void Yield();

    void BeginStop();

    const std::string &Ip() const { return ip_; }
    Clock::time_point Deadline() const { return deadline_; }

    // The sweep found the deadline passed.
    void OnDeadline();

    std::list<Connection *>::iterator idleAt;
    bool listedIdle = false;

private:
    enum class State { Idle, Reading, Working, Writing, Draining, Closed };

    // Reading and framing a request (connection.cpp).
    void awaitRequest();
    void onReadable(const error_code &ec);
    void beginRequest();
    void parse();
    void readMore();
    void onRead(const error_code &ec, std::size_t n);
    void sendContinue();
    void close();

    // Answering it, then keeping the connection or ending it (connection_reply.cpp).
    // Answers a request that cannot be served and ends the connection: what
    // follows on this stream cannot be trusted to start a request.
    void refuse(int status);
    void dispatch();

    // Writes what is left of a reply (all of it for a refusal).
    void finishReply(std::string out, std::size_t sent, bool close);

    void onWritten(const error_code &ec);
    void drain();
    void drainMore();

    ConnectionHub::Impl &hub_;
    tcp::socket socket_;
    const std::string ip_, peer_;  // peer_: "ip:port", as the log names it
    beast::flat_buffer buffer_;
    std::optional<framing::RequestParser> parser_;
    std::string out_;  // a reply the socket did not take at once
    State state_ = State::Idle;
    bool headerChecked_ = false;
    bool timedOut_ = false;
    bool yielding_ = false;
    bool keepAlive_ = true;
    bool closeAfter_ = false;
    std::size_t served_ = 0;
    std::size_t requestBytes_ = 0;  // received
    std::size_t consumed_ = 0;      // taken by the parser
    Clock::time_point requestStart_ = Clock::now();
    Clock::time_point requestDeadline_{}, headerDeadline_{};
    Clock::time_point stopDeadline_ = Clock::time_point::max();
    Clock::time_point deadline_ = Clock::time_point::max();  // see ConnectionHub::Impl::sweep
};
} // namespace connections
