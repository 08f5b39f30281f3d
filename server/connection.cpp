#include "connection.h"

#include "appserver.h"
#include "request_framing.h"
#include "request_log.h"
#include "routes.h"
#include "rtl/sysutils.h"
#include "worker_pool.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/status.hpp>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <list>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using error_code = boost::system::error_code;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {
constexpr std::size_t kReadSize = 16 * 1024;
// The first read of a request, which usually holds all of it; a kept-alive
// connection keeps a buffer of this size between requests, no more.
constexpr std::size_t kFirstRead = 4 * 1024;
// Unparsed input a connection holds: a header at its limit and a read more.
constexpr std::size_t kBufferLimit = framing::kMaxHeaderBytes + 2 * kReadSize;
// After a reply that ends the connection, what the client still sends is
// read and dropped for a while: closing with unread input makes the kernel
// reset the connection, which can destroy the reply before the client reads it.
constexpr std::size_t kDrainBytes = 1024 * 1024;
constexpr milliseconds kDrainTime{1000};
// When the server stops, a request still arriving gets this long.
constexpr milliseconds kStopGrace{500};
// Deadlines are checked by one sweep over the connections this often, rather
// than by a timer each: moving a timer costs a system call per request.
constexpr milliseconds kSweep{50};
constexpr char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";

// A whole reply in one buffer: it leaves in one segment.
std::string serialise(HttpAnswer &answer, bool close, bool head)
{
    const auto reason = http::obsolete_reason(http::int_to_status(static_cast<unsigned>(answer.status)));
    std::string out;
    out.reserve(160 + answer.body.size());
    out += "HTTP/1.1 ";
    out += std::to_string(answer.status);
    out += ' ';
    out.append(reason.data(), reason.size());
    out += "\r\nContent-Type: ";
    out += appserver::kJsonType;
    for (const auto &[name, value] : answer.headers)
        out += "\r\n" + name + ": " + value;
    out += "\r\nContent-Length: ";
    out += std::to_string(answer.body.size());  // a HEAD reply keeps the length of the GET one
    if (close)
        out += "\r\nConnection: close";
    out += "\r\n\r\n";
    if (!head)
        out += answer.body;
    return out;
}

class Connection;
} // namespace

struct ConnectionHub::Impl {
    Impl(asio::io_context &io, const AppServerSettings &settings, std::size_t maxConnections, const Routes &routes,
         WorkerPool &workers, RequestLog &log)
        : io(io), settings(settings), maxConnections(maxConnections), routes(routes), workers(workers), log(log),
          acceptor(io), retry(io), sweeper(io)
    {
    }

    void accept();
    void onAccept(const error_code &ec, tcp::socket socket);
    void admit(tcp::socket socket);
    bool evictIdle(const std::string *ip);
    bool refuseWithReserve();
    void refuse(int fd, const std::string &peer);

    void added(Connection &c);
    void removed(Connection &c);
    void sweep();
    void idleStart(Connection &c);
    void idleEnd(Connection &c);

    asio::io_context &io;
    const AppServerSettings &settings;
    const std::size_t maxConnections;
    const Routes &routes;
    WorkerPool &workers;
    RequestLog &log;
    tcp::acceptor acceptor;
    asio::steady_timer retry;  // accepting again after running out of descriptors
    asio::steady_timer sweeper;
    bool sweeping = false;
    // Held open so a connection can still be accepted, answered 503 and
    // closed when the process has no descriptor left.
    int reserveFd = -1;
    std::atomic<bool> stopping{false};  // read by workers too
    std::unordered_map<std::string, std::size_t> perAddress;
    std::unordered_set<Connection *> live;
    std::list<Connection *> idle;  // longest idle first
};

namespace {
class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(ConnectionHub::Impl &hub, tcp::socket socket, std::string ip, std::string peer)
        : hub_(hub), socket_(std::move(socket)), ip_(std::move(ip)), peer_(std::move(peer)),
          buffer_(kBufferLimit)
    {
    }

    // Only a handler that threw leaves a connection unclosed with nothing
    // pending: the hub must not keep it.
    ~Connection()
    {
        if (state_ != State::Closed)
            hub_.removed(*this);
    }

    void Start()
    {
        hub_.added(*this);
        error_code ignored;
        socket_.set_option(tcp::no_delay(true), ignored);
        awaitRequest();
    }

    // Closed to make room for a newcomer (only while idle).
    void CloseNow() { close(); }

    void BeginStop()
    {
        stopDeadline_ = Clock::now() + kStopGrace;
        switch (state_) {
        case State::Idle: {
            // Bytes already here are a request on its way: it gets the grace.
            error_code ec;
            if (socket_.available(ec) == 0 || ec)
                close();
            break;
        }
        case State::Reading:
        case State::Writing:
        case State::Draining:
            deadline_ = std::min(deadline_, stopDeadline_);
            break;
        default:
            break;  // a request in hand is answered, with Connection: close
        }
    }

    const std::string &Ip() const { return ip_; }
    Clock::time_point Deadline() const { return deadline_; }

    // The sweep found the deadline passed.
    void OnDeadline()
    {
        switch (state_) {
        case State::Reading: {
            // The pending read ends with an error, and onRead answers 408.
            timedOut_ = true;
            deadline_ = Clock::time_point::max();
            error_code ignored;
            socket_.cancel(ignored);
            break;
        }
        case State::Working:
        case State::Closed:
            break;
        default:
            close();
        }
    }

    std::list<Connection *>::iterator idleAt;
    bool listedIdle = false;

private:
    enum class State { Idle, Reading, Working, Writing, Draining, Closed };

    void awaitRequest()
    {
        if (buffer_.size() > 0) {  // pipelined
            beginRequest();
            return;
        }
        if (hub_.stopping) {
            close();
            return;
        }
        state_ = State::Idle;
        hub_.idleStart(*this);
        if (buffer_.capacity() > kFirstRead)
            buffer_.shrink_to_fit();
        const AppServerSettings &s = hub_.settings;
        deadline_ = Clock::now() + (served_ == 0 ? std::min(s.readTimeout, s.headerTimeout) : s.keepAliveTimeout);
        // Waiting for readiness rather than reading: a connection that never
        // sends a byte never gets a buffer.
        socket_.async_wait(tcp::socket::wait_read,
                           [self = shared_from_this()](const error_code &ec) { self->onReadable(ec); });
    }

    void onReadable(const error_code &ec)
    {
        if (state_ == State::Closed)
            return;
        hub_.idleEnd(*this);
        if (ec) {
            close();
            return;
        }
        beginRequest();
    }

    void beginRequest()
    {
        const AppServerSettings &s = hub_.settings;
        const auto now = Clock::now();
        state_ = State::Reading;
        requestStart_ = now;
        requestDeadline_ = now + s.requestTimeout;
        headerDeadline_ = now + std::min(s.headerTimeout, s.requestTimeout);
        requestBytes_ = buffer_.size();
        consumed_ = 0;
        headerChecked_ = false;
        timedOut_ = false;
        parser_.emplace();
        framing::Prepare(*parser_, s.maxBodyBytes);
        parse();
    }

    void parse()
    {
        while (buffer_.size() > 0) {
            error_code ec;
            const std::size_t used = parser_->put(buffer_.data(), ec);
            buffer_.consume(used);
            consumed_ += used;
            if (ec && ec != http::error::need_more) {
                refuse(framing::StatusForError(ec, consumed_ > 0));
                return;
            }
            if (!headerChecked_ && parser_->is_header_done()) {
                headerChecked_ = true;
                if (int status = framing::CheckHeader(*parser_)) {
                    refuse(status);
                    return;
                }
                if (!parser_->is_done() && framing::ExpectsContinue(*parser_)) {
                    sendContinue();
                    return;
                }
            }
            if (parser_->is_done()) {
                dispatch();
                return;
            }
            if (ec || used == 0)
                break;
        }
        readMore();
    }

    void readMore()
    {
        const AppServerSettings &s = hub_.settings;
        auto deadline = std::min({requestDeadline_, Clock::now() + s.readTimeout, stopDeadline_});
        if (!headerChecked_)
            deadline = std::min(deadline, headerDeadline_);
        deadline_ = deadline;
        const std::size_t room =
            std::min(requestBytes_ == 0 ? kFirstRead : kReadSize, buffer_.max_size() - buffer_.size());
        if (room == 0) {
            refuse(400);
            return;
        }
        socket_.async_read_some(buffer_.prepare(room), [self = shared_from_this()](const error_code &ec,
                                                                                   std::size_t n) {
            self->onRead(ec, n);
        });
    }

    void onRead(const error_code &ec, std::size_t n)
    {
        if (state_ == State::Closed)
            return;
        if (ec) {
            // A request cut off by its deadline is told so; one the client
            // gave up on (end of stream, reset) has nobody to answer.
            if (timedOut_ && requestBytes_ > 0)
                refuse(408);
            else
                close();
            return;
        }
        buffer_.commit(n);
        requestBytes_ += n;
        parse();
    }

    void sendContinue()
    {
        asio::async_write(socket_, asio::buffer(kContinue, sizeof kContinue - 1),
                          [self = shared_from_this()](const error_code &ec, std::size_t) {
                              if (self->state_ == State::Closed)
                                  return;
                              if (ec)
                                  self->close();
                              else
                                  self->readMore();
                          });
    }

    // Answers a request that cannot be served and ends the connection: what
    // follows on this stream cannot be trusted to start a request.
    void refuse(int status)
    {
        std::string label = "-";
        if (parser_ && parser_->is_header_done()) {
            const auto &req = parser_->get();
            const std::string target(req.target());
            label = std::string(req.method_string()) + " " + target.substr(0, target.find('?'));
        }
        HttpAnswer answer = hub_.routes.Refusal(status, std::move(label));
        hub_.log.Write(RequestLogLine(peer_, answer.logMethod, answer.status, requestStart_));
        parser_.reset();
        buffer_.consume(buffer_.size());
        finishReply(serialise(answer, true, false), 0, true);
    }

    void dispatch()
    {
        state_ = State::Working;
        deadline_ = Clock::time_point::max();
        ++served_;
        auto &req = parser_->get();
        HttpCall call{std::string(req.method_string()), std::string(req.target()),
                      std::string(req[http::field::authorization]), std::move(req.body())};
        const bool head = req.method() == http::verb::head;
        keepAlive_ = req.keep_alive() && served_ < hub_.settings.keepAliveMaxRequests;
        parser_.reset();
        hub_.workers.Run([self = shared_from_this(), call = std::move(call), head,
                          work = asio::make_work_guard(hub_.io)]() mutable {
            ConnectionHub::Impl &hub = self->hub_;
            HttpAnswer answer = hub.routes.Handle(call);
            hub.log.Write(RequestLogLine(self->peer_, answer.logMethod, answer.status, self->requestStart_));
            // The reply leaves from here rather than after a turn of the I/O
            // thread. Until the post below the connection is this worker's
            // alone: nothing on the I/O thread touches one that is working.
            const bool close = !self->keepAlive_ || hub.stopping;
            std::string out = serialise(answer, close, head);
            const ssize_t n =
                ::send(self->socket_.native_handle(), out.data(), out.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
            const std::size_t sent = n > 0 ? static_cast<std::size_t>(n) : 0;  // the rest, or the failure, below
            asio::post(hub.io, [self = std::move(self), out = std::move(out), sent, close]() mutable {
                self->finishReply(std::move(out), sent, close);
            });
        });
    }

    // Writes what is left of a reply (all of it for a refusal).
    void finishReply(std::string out, std::size_t sent, bool close)
    {
        if (state_ == State::Closed)
            return;
        state_ = State::Writing;
        closeAfter_ = close || hub_.stopping;
        if (sent == out.size()) {
            onWritten({});
            return;
        }
        out_ = std::move(out);
        deadline_ = std::min(Clock::now() + hub_.settings.writeTimeout, stopDeadline_);
        asio::async_write(socket_, asio::buffer(out_.data() + sent, out_.size() - sent),
                          [self = shared_from_this()](const error_code &ec, std::size_t) { self->onWritten(ec); });
    }

    void onWritten(const error_code &ec)
    {
        out_ = std::string();
        if (state_ == State::Closed)
            return;
        if (ec) {
            close();
            return;
        }
        if (closeAfter_)
            drain();
        else
            awaitRequest();
    }

    void drain()
    {
        state_ = State::Draining;
        error_code ignored;
        socket_.shutdown(tcp::socket::shutdown_send, ignored);
        buffer_.consume(buffer_.size());
        drained_ = 0;
        deadline_ = std::min(Clock::now() + kDrainTime, stopDeadline_);
        drainMore();
    }

    void drainMore()
    {
        socket_.async_read_some(buffer_.prepare(4096), [self = shared_from_this()](const error_code &ec,
                                                                                   std::size_t n) {
            if (self->state_ == State::Closed)
                return;
            self->drained_ += n;
            if (ec || self->drained_ >= kDrainBytes)
                self->close();
            else
                self->drainMore();
        });
    }

    void close()
    {
        if (state_ == State::Closed)
            return;
        state_ = State::Closed;
        hub_.removed(*this);
        error_code ignored;
        socket_.close(ignored);
    }

    ConnectionHub::Impl &hub_;
    tcp::socket socket_;
    const std::string ip_, peer_;  // peer_: "ip:port", as the log names it
    beast::flat_buffer buffer_;
    std::optional<framing::RequestParser> parser_;
    std::string out_;  // a reply the socket did not take at once
    State state_ = State::Idle;
    bool headerChecked_ = false;
    bool timedOut_ = false;
    bool keepAlive_ = true;
    bool closeAfter_ = false;
    std::size_t served_ = 0;
    std::size_t requestBytes_ = 0;  // received
    std::size_t consumed_ = 0;      // taken by the parser
    std::size_t drained_ = 0;
    Clock::time_point requestStart_ = Clock::now();
    Clock::time_point requestDeadline_{}, headerDeadline_{};
    Clock::time_point stopDeadline_ = Clock::time_point::max();
    Clock::time_point deadline_ = Clock::time_point::max();  // see ConnectionHub::Impl::sweep
};

std::string peerText(const sockaddr_storage &addr)
{
    char text[INET6_ADDRSTRLEN] = "?";
    int port = 0;
    if (addr.ss_family == AF_INET) {
        auto *a = reinterpret_cast<const sockaddr_in *>(&addr);
        inet_ntop(AF_INET, &a->sin_addr, text, sizeof text);
        port = ntohs(a->sin_port);
    } else if (addr.ss_family == AF_INET6) {
        auto *a = reinterpret_cast<const sockaddr_in6 *>(&addr);
        inet_ntop(AF_INET6, &a->sin6_addr, text, sizeof text);
        port = ntohs(a->sin6_port);
    }
    return std::string(text) + ":" + std::to_string(port);
}
} // namespace

void ConnectionHub::Impl::added(Connection &c)
{
    live.insert(&c);
    ++perAddress[c.Ip()];
    if (!sweeping) {
        sweeping = true;
        sweep();
    }
}

void ConnectionHub::Impl::sweep()
{
    sweeper.expires_after(kSweep);
    sweeper.async_wait([this](const error_code &ec) {
        if (ec) {
            sweeping = false;
            return;
        }
        const auto now = Clock::now();
        std::vector<Connection *> due;
        for (Connection *c : live)
            if (c->Deadline() <= now)
                due.push_back(c);
        // Each stays alive while a handler of its own is pending.
        for (Connection *c : due)
            c->OnDeadline();
        if (live.empty())
            sweeping = false;
        else
            sweep();
    });
}

void ConnectionHub::Impl::removed(Connection &c)
{
    idleEnd(c);
    live.erase(&c);
    auto it = perAddress.find(c.Ip());
    if (it != perAddress.end() && --it->second == 0)
        perAddress.erase(it);
}

void ConnectionHub::Impl::idleStart(Connection &c)
{
    if (!c.listedIdle) {
        c.idleAt = idle.insert(idle.end(), &c);
        c.listedIdle = true;
    }
}

void ConnectionHub::Impl::idleEnd(Connection &c)
{
    if (c.listedIdle) {
        idle.erase(c.idleAt);
        c.listedIdle = false;
    }
}

void ConnectionHub::Impl::accept()
{
    acceptor.async_accept([this](const error_code &ec, tcp::socket socket) { onAccept(ec, std::move(socket)); });
}

void ConnectionHub::Impl::onAccept(const error_code &ec, tcp::socket socket)
{
    if (stopping || ec == asio::error::operation_aborted)
        return;
    if (ec == boost::system::errc::too_many_files_open || ec == boost::system::errc::too_many_files_open_in_system ||
        ec == boost::system::errc::no_buffer_space || ec == boost::system::errc::not_enough_memory) {
        if (!refuseWithReserve()) {
            // Nothing to accept with: try again shortly rather than spin.
            retry.expires_after(milliseconds(50));
            retry.async_wait([this](const error_code &e) {
                if (!e && !stopping)
                    accept();
            });
            return;
        }
    } else if (!ec) {
        admit(std::move(socket));
    }
    // Any other failure concerns that one connection (reset before accept).
    accept();
}

void ConnectionHub::Impl::admit(tcp::socket socket)
{
    error_code ec;
    const tcp::endpoint remote = socket.remote_endpoint(ec);
    if (ec)
        return;  // gone already
    std::string ip = remote.address().to_string();
    std::string peer = ip + ":" + std::to_string(remote.port());
    auto it = perAddress.find(ip);
    const std::size_t fromAddress = it == perAddress.end() ? 0 : it->second;
    if ((fromAddress >= settings.maxConnectionsPerAddress && !evictIdle(&ip)) ||
        (live.size() >= maxConnections && !evictIdle(nullptr))) {
        refuse(socket.native_handle(), peer);
        return;  // the socket closes as it goes
    }
    std::make_shared<Connection>(*this, std::move(socket), std::move(ip), std::move(peer))->Start();
}

bool ConnectionHub::Impl::evictIdle(const std::string *ip)
{
    for (Connection *c : idle)
        if (!ip || c->Ip() == *ip) {
            c->CloseNow();
            return true;
        }
    return false;
}

bool ConnectionHub::Impl::refuseWithReserve()
{
    if (reserveFd < 0)
        return false;
    ::close(reserveFd);
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    int fd = ::accept4(acceptor.native_handle(), reinterpret_cast<sockaddr *>(&addr), &len, SOCK_CLOEXEC);
    if (fd >= 0) {
        refuse(fd, peerText(addr));
        ::close(fd);
    }
    reserveFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    return fd >= 0;
}

void ConnectionHub::Impl::refuse(int fd, const std::string &peer)
{
    const auto start = Clock::now();
    HttpAnswer answer = routes.Refusal(503, "-");
    const std::string reply = "HTTP/1.1 503 Service Unavailable\r\nContent-Type: " + std::string(appserver::kJsonType) +
                              "\r\nContent-Length: " + std::to_string(answer.body.size()) +
                              "\r\nConnection: close\r\n\r\n" + answer.body;
    // A fresh socket takes a reply this small at once; if not, it is dropped.
    (void)::send(fd, reply.data(), reply.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    ::shutdown(fd, SHUT_WR);
    // The request already in would turn the close into a reset that can
    // overtake the reply.
    char scratch[4096];
    for (int i = 0; i < 16 && ::recv(fd, scratch, sizeof scratch, MSG_DONTWAIT) > 0; ++i) {
    }
    log.Write(RequestLogLine(peer, answer.logMethod, answer.status, start));
}

ConnectionHub::ConnectionHub(asio::io_context &io, const AppServerSettings &settings, std::size_t maxConnections,
                             const Routes &routes, WorkerPool &workers, RequestLog &log)
    : impl_(std::make_unique<Impl>(io, settings, maxConnections, routes, workers, log))
{
}

ConnectionHub::~ConnectionHub()
{
    if (impl_->reserveFd >= 0)
        ::close(impl_->reserveFd);
}

int ConnectionHub::Bind()
{
    Impl &d = *impl_;
    const AppServerSettings &s = d.settings;
    auto failed = [&](const std::string &why) {
        return Exception("Não foi possível escutar em " + s.host + ":" + std::to_string(s.port) + ": " + why + ".");
    };
    error_code ec;
    tcp::endpoint endpoint;
    const auto address = asio::ip::make_address(s.host, ec);
    if (!ec) {
        endpoint = tcp::endpoint(address, static_cast<unsigned short>(s.port));
    } else {
        tcp::resolver resolver(d.io);
        auto found = resolver.resolve(s.host, std::to_string(s.port), tcp::resolver::passive, ec);
        if (ec || found.empty())
            throw failed("endereço desconhecido");
        endpoint = *found.begin();
    }
    auto check = [&] {
        if (ec)
            throw failed(std::strerror(ec.value()));
    };
    d.acceptor.open(endpoint.protocol(), ec);
    check();
    // SO_REUSEADDR only: a restarted server rebinds its port at once, but a
    // second server can never share a live port (as SO_REUSEPORT would allow).
    d.acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
    check();
    d.acceptor.bind(endpoint, ec);
    check();
    d.acceptor.listen(s.backlog, ec);
    check();
    return d.acceptor.local_endpoint().port();
}

void ConnectionHub::Start()
{
    Impl &d = *impl_;
    if (d.stopping || !d.acceptor.is_open())
        return;
    if (d.reserveFd < 0)
        d.reserveFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    d.accept();
}

void ConnectionHub::Stop()
{
    Impl &d = *impl_;
    d.stopping = true;
    error_code ignored;
    d.acceptor.close(ignored);
    d.retry.cancel();
    // Closing may drop a connection from the set: walk a copy. Every one stays
    // alive while a handler of its own is pending.
    const std::vector<Connection *> all(d.live.begin(), d.live.end());
    for (Connection *c : all)
        c->BeginStop();
}
