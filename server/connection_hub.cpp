#include "connection_internal.h"

#include "request_log.h"
#include "routes.h"
#include "rtl/sysutils.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace connections;

namespace {
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
    peakLive = std::max(peakLive, live.size());
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
    // After a flood the allocator keeps the freed buffers of its connections
    // for the process's life; hand them back once most are gone, and the
    // rest when the last goes.
    if (peakLive >= kTrimAfterPeak && live.size() <= peakLive / 4) {
        malloc_trim(0);
        peakLive = live.size();
        trimWhenEmpty = true;
    } else if (trimWhenEmpty && live.empty()) {
        malloc_trim(0);
        trimWhenEmpty = false;
    }
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
    if ((fromAddress >= settings.maxConnectionsPerAddress && !evictIdle(&ip) && !evictSlowest(&ip)) ||
        (live.size() >= maxConnections && !evictIdle(nullptr) && !evictSlowest(nullptr))) {
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

bool ConnectionHub::Impl::evictSlowest(const std::string *ip)
{
    const auto since = Clock::now() - kYieldAfter;
    Connection *slowest = nullptr;
    for (Connection *c : live)
        if ((!ip || c->Ip() == *ip) && c->ArrivingSince(since) &&
            (!slowest || c->RequestStart() < slowest->RequestStart()))
            slowest = c;
    if (!slowest)
        return false;
    slowest->Yield();
    return true;
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
