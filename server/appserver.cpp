#include "appserver.h"

#include "data/clientdataset.h"
#include "data/dberrors.h"
#include "resumo_module.h"

#include <httplib.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// What the log line of the request being served on this thread needs.
struct RequestTrace {
    Clock::time_point start = Clock::now();
    std::string method;
    bool closeAfter = false;
};
thread_local RequestTrace *currentTrace = nullptr;

int remainingMs(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

// Waits for `events` on the socket until the deadline; true when ready (or
// hung up, which the following read or write reports).
bool waitSocket(int sock, short events, Clock::time_point deadline)
{
    for (;;) {
        pollfd p{sock, events, 0};
        int r = poll(&p, 1, remainingMs(deadline));
        if (r < 0 && errno == EINTR)
            continue;
        return r > 0;
    }
}

// The connection's byte stream for the library's request parser. It keeps
// one buffer for the whole connection (so pipelined bytes are not lost),
// bounds every read by a per-request deadline and a byte budget, and never
// raises SIGPIPE.
class ConnectionStream : public httplib::Stream {
public:
    ConnectionStream(int sock, const AppServerSettings &s)
        : sock_(sock), readTimeout_(s.readTimeout), writeTimeout_(s.writeTimeout),
          requestBytes_(s.maxBodyBytes + 1024 * 1024)
    {
    }

    void BeginRequest(Clock::time_point deadline)
    {
        deadline_ = deadline;
        budget_ = requestBytes_;
    }
    bool Buffered() const { return off_ < len_; }

    bool is_readable() const override
    {
        return Buffered() || (Flush() && waitSocket(sock_, POLLIN, readDeadline()));
    }
    bool is_writable() const override
    {
        return waitSocket(sock_, POLLOUT, Clock::now() + writeTimeout_);
    }

    ssize_t read(char *ptr, size_t size) override
    {
        if (size == 0)
            return 0;
        if (!Buffered()) {
            // A reply the peer waits for (100 Continue) must leave before we wait.
            if (!Flush() || budget_ == 0)
                return -1;
            // The connection loop has usually just seen the socket readable:
            // try first, and wait only when nothing is there yet.
            ssize_t n = receive();
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (!waitSocket(sock_, POLLIN, readDeadline()))
                    return -1;
                n = receive();
            }
            if (n <= 0)
                return n;
            budget_ -= static_cast<std::size_t>(n);
            off_ = 0;
            len_ = static_cast<std::size_t>(n);
        }
        std::size_t n = std::min(size, len_ - off_);
        std::memcpy(ptr, buf_ + off_, n);
        off_ += n;
        return static_cast<ssize_t>(n);
    }

    // Output is gathered and sent by Flush() after each reply: the status
    // line, headers and body then travel in one segment instead of several,
    // each of which would wake the client.
    ssize_t write(const char *ptr, size_t size) override
    {
        if (out_.size() + size > kOutputLimit && !Flush())
            return -1;
        if (size > kOutputLimit)
            return sendAll(ptr, size) ? static_cast<ssize_t>(size) : -1;
        out_.append(ptr, size);
        return static_cast<ssize_t>(size);
    }

    bool Flush() const
    {
        bool ok = sendAll(out_.data(), out_.size());
        out_.clear();
        return ok;
    }

    // Asked on every request; a connection's addresses never change.
    void get_remote_ip_and_port(std::string &ip, int &port) const override
    {
        if (!remote_.known)
            remote_ = endpoint(getpeername);
        ip = remote_.ip;
        port = remote_.port;
    }
    void get_local_ip_and_port(std::string &ip, int &port) const override
    {
        if (!local_.known)
            local_ = endpoint(getsockname);
        ip = local_.ip;
        port = local_.port;
    }
    socket_t socket() const override { return sock_; }

private:
    static constexpr std::size_t kOutputLimit = 64 * 1024;

    struct Endpoint {
        bool known = false;
        std::string ip;
        int port = 0;
    };

    Endpoint endpoint(int (*query)(int, sockaddr *, socklen_t *)) const
    {
        Endpoint e;
        sockaddr_storage addr{};
        socklen_t len = sizeof addr;
        if (query(sock_, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
            address(addr, e.ip, e.port);
        e.known = true;
        return e;
    }

    ssize_t receive()
    {
        ssize_t n;
        do
            n = ::recv(sock_, buf_, std::min(sizeof buf_, budget_), MSG_DONTWAIT);
        while (n < 0 && errno == EINTR);
        return n;
    }

    bool sendAll(const char *data, std::size_t size) const
    {
        while (size > 0) {
            ssize_t n = ::send(sock_, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                data += n;
                size -= static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (!waitSocket(sock_, POLLOUT, Clock::now() + writeTimeout_))
                    return false;
            } else {
                return false;
            }
        }
        return true;
    }

    Clock::time_point readDeadline() const
    {
        return std::min(deadline_, Clock::now() + readTimeout_);
    }

    static void address(const sockaddr_storage &addr, std::string &ip, int &port)
    {
        char text[INET6_ADDRSTRLEN] = "";
        if (addr.ss_family == AF_INET) {
            auto *a = reinterpret_cast<const sockaddr_in *>(&addr);
            inet_ntop(AF_INET, &a->sin_addr, text, sizeof text);
            port = ntohs(a->sin_port);
        } else if (addr.ss_family == AF_INET6) {
            auto *a = reinterpret_cast<const sockaddr_in6 *>(&addr);
            inet_ntop(AF_INET6, &a->sin6_addr, text, sizeof text);
            port = ntohs(a->sin6_port);
        }
        ip = text;
    }

    int sock_;
    milliseconds readTimeout_, writeTimeout_;
    std::size_t requestBytes_;
    std::size_t budget_ = 0;
    Clock::time_point deadline_ = Clock::now();
    char buf_[16 * 1024];
    std::size_t off_ = 0, len_ = 0;
    mutable std::string out_;  // gathered reply, sent by Flush()
    mutable Endpoint remote_, local_;
};

// A fixed pool of workers that also tells how many connections wait for one.
class WorkerPool : public httplib::TaskQueue {
public:
    WorkerPool(std::size_t n, std::atomic<std::size_t> &waiting) : waiting_(waiting)
    {
        for (std::size_t i = 0; i < n; ++i)
            threads_.emplace_back([this] { work(); });
    }
    void enqueue(std::function<void()> fn) override
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            jobs_.push_back(std::move(fn));
            ++waiting_;
        }
        cond_.notify_one();
    }
    void shutdown() override
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        cond_.notify_all();
        for (auto &t : threads_)
            t.join();
        threads_.clear();
    }

private:
    void work()
    {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                cond_.wait(lock, [&] { return stop_ || !jobs_.empty(); });
                // Queued connections are still served after a stop: their
                // requests may already be on the wire.
                if (jobs_.empty())
                    return;
                job = std::move(jobs_.front());
                jobs_.pop_front();
                --waiting_;
            }
            job();
        }
    }

    std::atomic<std::size_t> &waiting_;
    std::vector<std::thread> threads_;
    std::deque<std::function<void()>> jobs_;
    std::mutex mutex_;
    std::condition_variable cond_;
    bool stop_ = false;
};

std::string utcTimestamp()
{
    auto now = std::chrono::system_clock::now();
    std::time_t secs = std::chrono::system_clock::to_time_t(now);
    auto ms = std::chrono::duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm{};
    gmtime_r(&secs, &tm);
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
    return buf;
}

bool sameSecret(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

std::string statusText(int status, const httplib::Request &req, std::size_t maxBody)
{
    switch (status) {
    case 400: return "Requisição HTTP mal formada.";
    case 404: return "Recurso não encontrado: " + LogSafe(req.path, 200);
    case 413:
        // The library holds form bodies to its own, smaller limit.
        if (req.get_header_value("Content-Type").rfind("application/x-www-form-urlencoded", 0) == 0)
            return "Corpo de formulário grande demais: envie Content-Type: application/json.";
        return "Corpo da requisição excede o limite de " + std::to_string(maxBody) + " bytes.";
    case 414: return "Endereço da requisição longo demais.";
    default: return "Erro HTTP " + std::to_string(status) + ".";
    }
}
} // namespace

std::string LogSafe(const std::string &text, std::size_t maxLength)
{
    std::string out;
    for (char c : text) {
        if (out.size() >= maxLength) {
            out += "...";
            break;
        }
        auto u = static_cast<unsigned char>(c);
        out += (u < 0x20 || u == 0x7f) ? '?' : c;
    }
    return out;
}

namespace {
// What connections share with the server that owns them.
struct ServerState {
    AppServerSettings settings;
    std::atomic<std::size_t> waiting{0};  // accepted connections waiting for a worker
    std::atomic<bool> stopping{false};
};

// The library's server with its connection loop replaced (see ConnectionStream).
class Listener : public httplib::Server {
public:
    explicit Listener(ServerState &state) : state_(state) {}
    socket_t Socket() const { return svr_sock_; }
    // Forgets the listening socket, which stop() or the library closed.
    socket_t TakeSocket() { return svr_sock_.exchange(INVALID_SOCKET); }

private:
    bool process_and_close_socket(socket_t sock) override;
    bool awaitRequest(ConnectionStream &strm, bool fresh);

    ServerState &state_;
};
} // namespace

struct AppServer::Impl {
    Impl(AppServerSettings s, SessionFactory factory);

    void HandleCall(const httplib::Request &req, httplib::Response &res);
    void Reply(httplib::Response &res, int status, const std::string &error);
    void Log(const httplib::Request &req, const httplib::Response &res);

    ServerState state;
    const AppServerSettings &settings = state.settings;
    SessionPool sessions;
    std::unique_ptr<Listener> listener;
    std::mutex mutex;
    int port = -1;
    bool running = false;  // inside Run()
    bool ran = false;
    std::thread background;
};

bool Listener::awaitRequest(ConnectionStream &strm, bool fresh)
{
    if (strm.Buffered())
        return true;
    const AppServerSettings &s = state_.settings;
    const auto idleSince = Clock::now();
    const auto limit = idleSince + (fresh ? s.readTimeout : s.keepAliveTimeout);
    for (;;) {
        // Short slices: a stop or a waiting connection is noticed quickly.
        auto slice = std::min(limit, Clock::now() + milliseconds(50));
        if (waitSocket(strm.socket(), POLLIN, slice))
            return true;
        auto now = Clock::now();
        if (state_.stopping || now >= limit)
            return false;
        if (state_.waiting > 0 && now - idleSince >= s.yieldAfter)
            return false;
    }
}

namespace {
void closeConnection(int sock, bool drain)
{
    ::shutdown(sock, SHUT_WR);
    // Unread input at close() makes the kernel reset the connection, which can
    // destroy the reply before the client reads it: drain what is left.
    char buf[4096];
    auto deadline = Clock::now() + (drain ? milliseconds(1000) : milliseconds(0));
    std::size_t total = 0;
    while (total < 1024 * 1024) {
        if (drain && !waitSocket(sock, POLLIN, deadline))
            break;
        ssize_t n = ::recv(sock, buf, sizeof buf, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        total += static_cast<std::size_t>(n);
    }
    ::close(sock);
}
} // namespace

bool Listener::process_and_close_socket(socket_t sock)
{
    const AppServerSettings &s = state_.settings;
    int yes = 1;
    setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    ConnectionStream strm(sock, s);
    std::size_t served = 0;
    bool drain = false;
    const auto turnStart = Clock::now();
    for (;;) {
        if (!awaitRequest(strm, served == 0))
            break;
        RequestTrace trace;
        currentTrace = &trace;
        strm.BeginRequest(trace.start + s.requestTimeout);
        // A busy connection also hands its worker over when others wait, so
        // a queued client is not held up by a kept-alive one.
        const bool yield = state_.waiting > 0 && Clock::now() - turnStart >= s.yieldAfter;
        const bool last = served + 1 >= s.keepAliveMaxRequests || state_.stopping || yield;
        bool closed = false;
        bool ok = process_request(strm, last, closed, nullptr);
        ok = strm.Flush() && ok;
        currentTrace = nullptr;
        ++served;
        if (trace.closeAfter)
            drain = true;
        if (!ok || closed || last || trace.closeAfter)
            break;
    }
    closeConnection(sock, drain);
    return true;
}

AppServer::Impl::Impl(AppServerSettings s, SessionFactory factory)
    : sessions(std::move(factory)), listener(std::make_unique<Listener>(state))
{
    state.settings = std::move(s);
    state.settings.threads = std::max(1, state.settings.threads);
    state.settings.keepAliveMaxRequests = std::max<std::size_t>(1, state.settings.keepAliveMaxRequests);
    Listener &svr = *listener;
    svr.new_task_queue = [this] { return new WorkerPool(static_cast<std::size_t>(settings.threads), state.waiting); };
    svr.set_tcp_nodelay(true);
    // SO_REUSEADDR only: a restarted server rebinds its port at once, but a
    // second server can never share a live port (as SO_REUSEPORT would allow).
    svr.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    svr.set_payload_max_length(settings.maxBodyBytes);
    // The library only reports these in the Keep-Alive header.
    svr.set_keep_alive_max_count(settings.keepAliveMaxRequests);
    svr.set_keep_alive_timeout(std::max<time_t>(1, settings.keepAliveTimeout.count() / 1000));

    svr.Post(appserver::kCallPath, [this](const httplib::Request &req, httplib::Response &res) {
        HandleCall(req, res);
    });
    svr.Get(appserver::kCallPath, [this](const httplib::Request &, httplib::Response &res) {
        res.set_header("Allow", "POST");
        Reply(res, 405, "Use POST para chamar métodos.");
    });
    svr.Get(appserver::kHealthPath, [](const httplib::Request &, httplib::Response &res) {
        res.set_content(std::string(R"({"status":"ok","server":")") + ResumoModule::Name() + "\"}",
                        appserver::kJsonType);
    });
    svr.set_error_handler(httplib::Server::HandlerWithResponse([this](const httplib::Request &req,
                                                                       httplib::Response &res) {
        // After an error the rest of the input cannot be trusted to start a
        // new request: the connection ends here.
        if (currentTrace)
            currentTrace->closeAfter = true;
        res.set_header("Connection", "close");
        if (!res.body.empty())
            return httplib::Server::HandlerResponse::Unhandled;
        res.set_content(MakeErrorReply(statusText(res.status, req, settings.maxBodyBytes)),
                        appserver::kJsonType);
        return httplib::Server::HandlerResponse::Handled;
    }));
    // Handlers catch their own failures; this keeps anything else from
    // reaching the client as text.
    svr.set_exception_handler([this](const httplib::Request &, httplib::Response &res, std::exception_ptr) {
        Reply(res, 500, "Erro interno do servidor de aplicação.");
    });
    svr.set_logger([this](const httplib::Request &req, const httplib::Response &res) { Log(req, res); });
}

void AppServer::Impl::Reply(httplib::Response &res, int status, const std::string &error)
{
    res.status = status;
    res.set_content(MakeErrorReply(error), appserver::kJsonType);
}

void AppServer::Impl::HandleCall(const httplib::Request &req, httplib::Response &res)
{
    if (!settings.token.empty()) {
        std::optional<std::string> given = appserver::BearerToken(req.get_header_value("Authorization"));
        if (!given || !sameSecret(*given, settings.token)) {
            res.set_header("WWW-Authenticate", "Bearer");
            Reply(res, 401, "Token de acesso ausente ou inválido.");
            return;
        }
    }
    // Chunked bodies escape the library's length check.
    if (req.body.size() > settings.maxBodyBytes) {
        Reply(res, 413, statusText(413, req, settings.maxBodyBytes));
        return;
    }
    std::string error;
    std::optional<appserver::CallRequest> call = appserver::ParseCallBody(req.body, error);
    if (!call) {
        Reply(res, 400, error);
        return;
    }
    if (currentTrace)
        currentTrace->method = call->method;
    if (call->server != ResumoModule::Name()) {
        Reply(res, 404, "Servidor '" + LogSafe(call->server, 200) + "' não existe neste servidor de aplicação.");
        return;
    }
    std::optional<SessionPool::Lease> lease;
    auto session = [&]() -> DatabaseSession & {
        if (!lease)
            lease.emplace(sessions);
        return lease->Session();
    };
    try {
        res.set_content(ResumoModule::Call(call->method, call->args, session), appserver::kJsonType);
        res.status = 200;
    } catch (const EDatabaseError &e) {
        if (lease)
            lease->Discard();
        Reply(res, 200, e.Message());
    } catch (const Exception &e) {
        Reply(res, 200, e.Message());
    } catch (const std::exception &) {
        if (lease)
            lease->Discard();
        Reply(res, 500, "Erro interno do servidor de aplicação.");
    }
}

void AppServer::Impl::Log(const httplib::Request &req, const httplib::Response &res)
{
    RequestTrace *trace = currentTrace;
    double ms = trace ? std::chrono::duration<double, std::milli>(Clock::now() - trace->start).count() : 0.0;
    std::string method = trace && !trace->method.empty() ? LogSafe(trace->method)
                                                         : LogSafe(req.method + " " + req.path);
    char tail[64];
    std::snprintf(tail, sizeof tail, " %d %.2fms\n", res.status, ms);
    std::string line = utcTimestamp() + " " + req.remote_addr + ":" + std::to_string(req.remote_port) + " " +
                       method + tail;
    if (settings.log) {
        line.pop_back();
        settings.log(line);
        return;
    }
    // One write(2) per line: lines from concurrent requests never mix, and
    // no worker waits on another's write.
    const char *p = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        ssize_t n = ::write(STDERR_FILENO, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

AppServer::AppServer(AppServerSettings settings, SessionFactory factory)
    : impl_(std::make_unique<Impl>(std::move(settings), std::move(factory)))
{
}

AppServer::~AppServer()
{
    Stop();
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (!impl_->ran) {
        socket_t s = impl_->listener->TakeSocket();
        if (s != INVALID_SOCKET)
            ::close(s);
    }
}

int AppServer::Bind()
{
    Impl &d = *impl_;
    std::lock_guard<std::mutex> lock(d.mutex);
    if (d.port >= 0)
        return d.port;
    const AppServerSettings &s = d.settings;
    int port = s.port;
    errno = 0;
    if (port == 0)
        port = d.listener->bind_to_any_port(s.host);
    else if (!d.listener->bind_to_port(s.host, port))
        port = -1;
    if (port < 0) {
        int err = errno;
        throw Exception("Não foi possível escutar em " + s.host + ":" + std::to_string(s.port) +
                        (err ? std::string(": ") + std::strerror(err) : std::string()) + ".");
    }
    // The library listens with a backlog of 5, which overflows under a burst
    // of connections (the client retries a second later): listen again.
    if (::listen(d.listener->Socket(), s.backlog) != 0)
        throw Exception(std::string("Não foi possível ajustar a fila de conexões: ") + std::strerror(errno));
    d.port = port;
    return port;
}

void AppServer::Run()
{
    Impl &d = *impl_;
    Bind();
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        if (d.state.stopping || d.ran)
            return;
        d.running = true;
        d.ran = true;
    }
    d.listener->listen_after_bind();
    // Stopped: the socket is closed already, by stop() or by the library.
    d.listener->TakeSocket();
    std::lock_guard<std::mutex> lock(d.mutex);
    d.running = false;
}

int AppServer::Start()
{
    int port = Bind();
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (!impl_->background.joinable() && !impl_->ran)
        impl_->background = std::thread([this] { Run(); });
    return port;
}

void AppServer::Stop()
{
    Impl &d = *impl_;
    d.state.stopping = true;
    // Run() may be between taking the flag and the library's accept loop;
    // stop() only acts once the library reports it runs.
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(d.mutex);
            if (!d.running)
                break;
        }
        if (d.listener->is_running()) {
            d.listener->stop();
            break;
        }
        std::this_thread::sleep_for(milliseconds(1));
    }
    std::thread background;
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        if (d.background.joinable() && d.background.get_id() != std::this_thread::get_id())
            background = std::move(d.background);
    }
    if (background.joinable())
        background.join();
}

int AppServer::Port() const
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->port;
}

SessionPool &AppServer::Sessions() { return impl_->sessions; }
