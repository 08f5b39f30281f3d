#pragma once
// A TCP proxy on the loopback that the test steers: it passes bytes both ways
// between its clients and one target port until told to break, then resets
// (RST) or freezes (holds the sockets open, passes nothing more) every
// connection once a given number of further bytes has passed. Heal() lets new
// connections through again; frozen ones stay frozen until the proxy ends.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

class FaultProxy {
public:
    enum class Fault { None, Reset, Freeze };

    explicit FaultProxy(int targetPort) : target_(targetPort)
    {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
            listen(listener_, 16) != 0 || getsockname(listener_, reinterpret_cast<sockaddr *>(&a), &len) != 0)
            throw std::runtime_error("fault proxy: cannot listen");
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~FaultProxy()
    {
        stop_ = true;
        thread_.join();
        close(listener_);
        for (const Pair &p : pairs_) {
            close(p.client);
            close(p.server);
        }
    }
    FaultProxy(const FaultProxy &) = delete;
    FaultProxy &operator=(const FaultProxy &) = delete;

    int Port() const { return port_; }

    // Every connection breaks once `afterBytes` more bytes have passed, counted
    // over all connections and both directions from now.
    void Break(Fault fault, std::uint64_t afterBytes)
    {
        std::lock_guard lock(mutex_);
        fault_ = fault;
        budget_ = afterBytes;
        ++breaks_;
    }
    void Heal()
    {
        std::lock_guard lock(mutex_);
        fault_ = Fault::None;
    }
    // Bytes passed since the proxy started.
    std::uint64_t Passed() const { return passed_; }
    // When the fault last struck a connection (the epoch before any did).
    std::chrono::steady_clock::time_point StruckAt()
    {
        std::lock_guard lock(mutex_);
        return struck_;
    }

private:
    struct Pair {
        int client;
        int server;
        bool frozen = false;
        bool dead = false;
    };

    static void reset(int fd)
    {
        linger l{1, 0};  // close with RST
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        shutdown(fd, SHUT_RDWR);
    }

    // Each piece goes on at once, as the client and the server send it: with
    // Nagle's algorithm a small piece would wait for the peer's delayed
    // acknowledgement of the one before (some 40 ms), on every round trip.
    static void noDelay(int fd)
    {
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }

    int connectTarget() const
    {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<std::uint16_t>(target_));
        if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
            close(fd);
            return -1;
        }
        return fd;
    }

    // Passes what `from` has to `to`, minding the fault's budget. False when
    // the pair is done.
    bool pass(Pair &p, int from, int to)
    {
        char buf[16384];
        std::size_t want = sizeof buf;
        std::uint64_t breakSeen = 0;
        {
            std::lock_guard lock(mutex_);
            breakSeen = breaks_;
            if (fault_ != Fault::None && budget_ == 0) {
                struck_ = std::chrono::steady_clock::now();
                if (fault_ == Fault::Freeze) {
                    p.frozen = true;
                    return true;
                }
                reset(p.client);
                reset(p.server);
                return false;
            }
            if (fault_ != Fault::None && budget_ < want)
                want = static_cast<std::size_t>(budget_);
        }
        const ssize_t n = recv(from, buf, want, 0);
        if (n <= 0)
            return false;
        {
            // A piece read under the break that was in force when it was
            // measured: one read while Break() came in passed before it and
            // must not eat the new budget (it once wrapped it around, and
            // the break never struck).
            std::lock_guard lock(mutex_);
            if (fault_ != Fault::None && breaks_ == breakSeen)
                budget_ -= std::min(budget_, static_cast<std::uint64_t>(n));
        }
        passed_ += static_cast<std::uint64_t>(n);
        for (ssize_t sent = 0; sent < n;) {
            const ssize_t k = send(to, buf + sent, static_cast<std::size_t>(n - sent), MSG_NOSIGNAL);
            if (k <= 0)
                return false;
            sent += k;
        }
        return true;
    }

    void run()
    {
        while (!stop_) {
            std::vector<pollfd> fds{{listener_, POLLIN, 0}};
            std::vector<std::pair<std::size_t, bool>> owners;  // pair index, from the client
            for (std::size_t i = 0; i < pairs_.size(); ++i) {
                if (pairs_[i].dead || pairs_[i].frozen)
                    continue;
                fds.push_back({pairs_[i].client, POLLIN, 0});
                owners.emplace_back(i, true);
                fds.push_back({pairs_[i].server, POLLIN, 0});
                owners.emplace_back(i, false);
            }
            if (poll(fds.data(), fds.size(), 20) <= 0)
                continue;
            if (fds[0].revents & POLLIN) {
                const int client = accept(listener_, nullptr, nullptr);
                const int server = client >= 0 ? connectTarget() : -1;
                if (server >= 0) {
                    noDelay(client);
                    noDelay(server);
                    pairs_.push_back({client, server});
                }
                else if (client >= 0)
                    close(client);
            }
            for (std::size_t k = 1; k < fds.size(); ++k) {
                Pair &p = pairs_[owners[k - 1].first];
                if (p.dead || p.frozen || !(fds[k].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                const bool fromClient = owners[k - 1].second;
                if (!pass(p, fromClient ? p.client : p.server, fromClient ? p.server : p.client)) {
                    shutdown(p.client, SHUT_RDWR);
                    shutdown(p.server, SHUT_RDWR);
                    p.dead = true;
                }
            }
        }
    }

    int target_;
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> passed_{0};
    std::mutex mutex_;
    Fault fault_ = Fault::None;
    std::uint64_t budget_ = 0;
    std::uint64_t breaks_ = 0;  // Break() calls, so a read knows which budget it was measured against
    std::chrono::steady_clock::time_point struck_{};
    std::vector<Pair> pairs_;  // the proxy's thread alone
};
