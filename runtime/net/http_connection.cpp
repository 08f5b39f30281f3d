#include "net/http_connection.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

int pollMs(milliseconds timeout)
{
    return static_cast<int>(std::clamp<long long>(timeout.count(), 0, 1 << 30));
}

bool waitUntil(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        pollfd p{fd, events, 0};
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        // Rounded up: poll never wakes before the deadline only to find it unmet.
        int r = ::poll(&p, 1, left.count() < 0 ? 0 : pollMs(left + milliseconds(1)));
        if (r < 0 && errno == EINTR)
            continue;
        return r > 0;
    }
}

bool sameText(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if ((x >= 'A' && x <= 'Z' ? x + 32 : x) != (y >= 'A' && y <= 'Z' ? y + 32 : y))
            return false;
    }
    return true;
}

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool containsToken(std::string_view list, std::string_view token)
{
    while (!list.empty()) {
        std::size_t comma = list.find(',');
        if (sameText(trimmed(list.substr(0, comma)), token))
            return true;
        if (comma == std::string_view::npos)
            break;
        list.remove_prefix(comma + 1);
    }
    return false;
}

std::string key(const std::string &host, int port) { return host + '\n' + std::to_string(port); }

struct IdlePool {
    static constexpr std::size_t kPerAddress = 8;
    std::mutex mutex;
    std::map<std::string, std::vector<std::unique_ptr<HttpConnection>>> idle;
};

IdlePool &pool()
{
    // Never destroyed: a client torn down during exit may still hand its
    // connection back. The system closes the sockets.
    static IdlePool *p = new IdlePool;
    return *p;
}
} // namespace

std::unique_ptr<HttpConnection> HttpConnection::Open(const std::string &host, int port, milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;  // for every address tried
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo *found = nullptr;
    if (port <= 0 || port > 65535 || getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0)
        return nullptr;
    int connected = -1;
    for (addrinfo *a = found; a && connected < 0; a = a->ai_next) {
        int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0)
            continue;
        bool ok = ::connect(fd, a->ai_addr, a->ai_addrlen) == 0;
        if (!ok && errno == EINPROGRESS && waitUntil(fd, POLLOUT, deadline)) {
            int error = 0;
            socklen_t len = sizeof error;
            ok = ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0;
        }
        if (ok) {
            // Requests are small and each waits for its reply: never hold one back.
            int yes = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
            connected = fd;
        } else {
            ::close(fd);
        }
    }
    freeaddrinfo(found);
    if (connected < 0)
        return nullptr;
    return std::unique_ptr<HttpConnection>(new HttpConnection(connected));
}

HttpConnection::~HttpConnection() { ::close(fd_); }

bool HttpConnection::Alive() const
{
    if (!in_.empty())
        return false;  // bytes nobody asked for: the stream is out of step
    char c;
    ssize_t n;
    do
        n = ::recv(fd_, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    while (n < 0 && errno == EINTR);
    return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

bool HttpConnection::sendAll(const std::string &data, Deadline deadline)
{
    const char *p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        ssize_t n = ::send(fd_, p, left, MSG_NOSIGNAL);
        if (n > 0) {
            p += n;
            left -= static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!waitUntil(fd_, POLLOUT, deadline))
                return false;
        } else {
            return false;
        }
    }
    return true;
}

long HttpConnection::fill(Deadline deadline)
{
    char buf[16 * 1024];
    for (;;) {
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n > 0) {
            in_.append(buf, static_cast<std::size_t>(n));
            return n;
        }
        if (n == 0)
            return 0;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return -1;
        // Try first and wait only when nothing is there: a reply that is
        // already in costs one system call.
        if (Clock::now() >= deadline || !waitUntil(fd_, POLLIN, deadline))
            return -2;
    }
}

HttpFailure HttpConnection::Exchange(const std::string &request, HttpReply &reply, Deadline deadline,
                                     bool &received)
{
    received = false;
    in_.clear();
    if (!sendAll(request, deadline))
        return Clock::now() >= deadline ? HttpFailure::Timeout : HttpFailure::Send;
    return readReply(reply, deadline, received);
}

HttpFailure HttpConnection::readReply(HttpReply &reply, Deadline deadline, bool &received)
{
    auto more = [&]() -> HttpFailure {
        if (in_.size() > kMaxReplyBytes)
            return HttpFailure::TooLarge;
        long n = fill(deadline);
        if (n > 0) {
            received = true;
            return HttpFailure::None;
        }
        return n == -2 ? HttpFailure::Timeout : HttpFailure::Closed;
    };

    std::size_t headerEnd;
    for (;;) {
        // Informational replies (100 Continue) come before the real one.
        while ((headerEnd = in_.find("\r\n\r\n")) == std::string::npos) {
            if (in_.size() > 64 * 1024)
                return HttpFailure::Malformed;
            if (HttpFailure f = more(); f != HttpFailure::None)
                return f;
        }
        if (in_.size() < 12 || in_.compare(0, 5, "HTTP/") != 0)
            return HttpFailure::Malformed;
        int status = 0;
        std::size_t sp = in_.find(' ');
        if (sp == std::string::npos || sp > headerEnd)
            return HttpFailure::Malformed;
        auto [end, ec] = std::from_chars(in_.data() + sp + 1, in_.data() + headerEnd, status);
        if (ec != std::errc() || status < 100 || status > 999)
            return HttpFailure::Malformed;
        (void)end;
        if (status >= 200) {
            reply.status = status;
            break;
        }
        in_.erase(0, headerEnd + 4);
    }

    const bool http10 = in_.compare(0, 8, "HTTP/1.0") == 0;
    reply.keepAlive = !http10;
    bool chunked = false;
    long long length = -1;
    std::string_view head(in_.data(), headerEnd + 2);
    std::size_t lineStart = head.find("\r\n") + 2;
    while (lineStart < head.size()) {
        std::size_t lineEnd = head.find("\r\n", lineStart);
        std::string_view line = head.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 2;
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        std::string_view name = trimmed(line.substr(0, colon)), value = trimmed(line.substr(colon + 1));
        if (sameText(name, "content-length")) {
            auto [p, e] = std::from_chars(value.data(), value.data() + value.size(), length);
            if (e != std::errc() || p != value.data() + value.size() || length < 0)
                return HttpFailure::Malformed;
        } else if (sameText(name, "transfer-encoding")) {
            chunked = containsToken(value, "chunked");
        } else if (sameText(name, "connection")) {
            if (containsToken(value, "close"))
                reply.keepAlive = false;
            else if (containsToken(value, "keep-alive"))
                reply.keepAlive = true;
        }
    }
    in_.erase(0, headerEnd + 4);

    if (chunked) {
        reply.body.clear();
        for (;;) {
            std::size_t eol;
            while ((eol = in_.find("\r\n")) == std::string::npos)
                if (HttpFailure f = more(); f != HttpFailure::None)
                    return f;
            unsigned long long size = 0;
            auto [p, e] = std::from_chars(in_.data(), in_.data() + eol, size, 16);
            if (e != std::errc() || p == in_.data())
                return HttpFailure::Malformed;
            if (size > kMaxReplyBytes || reply.body.size() + size > kMaxReplyBytes)
                return HttpFailure::TooLarge;
            if (size == 0) {
                // Trailers, if any, end with an empty line.
                while (in_.compare(eol + 2, 2, "\r\n") != 0 && in_.find("\r\n\r\n", eol) == std::string::npos)
                    if (HttpFailure f = more(); f != HttpFailure::None)
                        return f;
                in_.clear();
                break;
            }
            const std::size_t need = eol + 2 + static_cast<std::size_t>(size) + 2;
            while (in_.size() < need)
                if (HttpFailure f = more(); f != HttpFailure::None)
                    return f;
            reply.body.append(in_, eol + 2, static_cast<std::size_t>(size));
            in_.erase(0, need);
        }
    } else if (length >= 0) {
        if (static_cast<unsigned long long>(length) > kMaxReplyBytes)
            return HttpFailure::TooLarge;
        while (in_.size() < static_cast<std::size_t>(length))
            if (HttpFailure f = more(); f != HttpFailure::None)
                return f;
        reply.body.assign(in_, 0, static_cast<std::size_t>(length));
        in_.erase(0, static_cast<std::size_t>(length));
    } else {
        // No length: the body runs to the end of the connection.
        reply.keepAlive = false;
        for (;;) {
            if (in_.size() > kMaxReplyBytes)
                return HttpFailure::TooLarge;
            long n = fill(deadline);
            if (n == 0)
                break;
            if (n < 0)
                return n == -2 ? HttpFailure::Timeout : HttpFailure::Closed;
            received = true;
        }
        reply.body = std::move(in_);
        in_.clear();
    }
    return HttpFailure::None;
}

namespace idle_connections {
std::unique_ptr<HttpConnection> Take(const std::string &host, int port)
{
    IdlePool &p = pool();
    std::unique_ptr<HttpConnection> found;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(p.mutex);
            auto it = p.idle.find(key(host, port));
            if (it == p.idle.end() || it->second.empty())
                return nullptr;
            found = std::move(it->second.back());
            it->second.pop_back();
        }
        // Checked outside the lock; one the server closed is dropped.
        if (found->Alive())
            return found;
        found.reset();
    }
}

namespace {
void keep(const std::string &host, int port, std::unique_ptr<HttpConnection> connection)
{
    IdlePool &p = pool();
    std::unique_ptr<HttpConnection> surplus;
    std::lock_guard<std::mutex> lock(p.mutex);
    auto &list = p.idle[key(host, port)];
    if (list.size() >= IdlePool::kPerAddress) {
        surplus = std::move(list.front());  // the oldest goes
        list.erase(list.begin());
    }
    list.push_back(std::move(connection));
}
} // namespace

void Give(const std::string &host, int port, std::unique_ptr<HttpConnection> connection)
{
    if (connection && connection->Alive())
        keep(host, port, std::move(connection));
}

std::size_t Count(const std::string &host, int port)
{
    IdlePool &p = pool();
    std::lock_guard<std::mutex> lock(p.mutex);
    auto it = p.idle.find(key(host, port));
    return it == p.idle.end() ? 0 : it->second.size();
}

void Clear()
{
    IdlePool &p = pool();
    std::map<std::string, std::vector<std::unique_ptr<HttpConnection>>> gone;
    std::lock_guard<std::mutex> lock(p.mutex);
    gone.swap(p.idle);
}
} // namespace idle_connections

bool ServerReachable(const std::string &host, int port, milliseconds timeout)
{
    auto c = idle_connections::Take(host, port);
    if (!c)
        c = HttpConnection::Open(host, port, timeout);
    if (!c)
        return false;
    idle_connections::keep(host, port, std::move(c));
    return true;
}
