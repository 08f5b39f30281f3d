// The server's lifecycle: binding, the I/O loop, stopping.
#include "appserver.h"

#include "connection.h"
#include "request_log.h"
#include "routes.h"
#include "worker_pool.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>

#include <mutex>
#include <thread>

#include <sys/resource.h>

namespace {
// What the open-file limit leaves for connections once the process has what
// it needs besides: standard streams, the listener, database sessions (a
// few descriptors each), the libraries' own.
std::size_t connectionLimit(std::size_t wanted, int threads)
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return wanted;
    const rlim_t reserve = 64 + 4 * static_cast<rlim_t>(threads);
    const rlim_t room = limit.rlim_cur > reserve + 16 ? limit.rlim_cur - reserve : 16;
    return static_cast<std::size_t>(std::min<rlim_t>(wanted, room));
}

AppServerSettings normalised(AppServerSettings s)
{
    s.threads = std::max(1, s.threads);
    s.keepAliveMaxRequests = std::max<std::size_t>(1, s.keepAliveMaxRequests);
    s.maxConnections = std::max<std::size_t>(1, s.maxConnections);
    s.maxConnectionsPerAddress = std::max<std::size_t>(1, s.maxConnectionsPerAddress);
    return s;
}
} // namespace

struct AppServer::Impl {
    Impl(AppServerSettings s, SessionFactory factory)
        : settings(normalised(std::move(s))), connectionLimit(::connectionLimit(settings.maxConnections, settings.threads)),
          sessions(std::move(factory)), log(settings.log), routes(settings, sessions), workers(settings.threads),
          hub(io, settings, connectionLimit, routes, workers, log)
    {
    }

    const AppServerSettings settings;
    const std::size_t connectionLimit;
    SessionPool sessions;
    RequestLog log;
    Routes routes;
    WorkerPool workers;
    boost::asio::io_context io{1};  // one thread runs it
    ConnectionHub hub;

    std::mutex mutex;
    int port = -1;
    bool stopRequested = false;
    bool ran = false;
    std::thread background;
};

AppServer::AppServer(AppServerSettings settings, SessionFactory factory)
    : impl_(std::make_unique<Impl>(std::move(settings), std::move(factory)))
{
}

AppServer::~AppServer() { Stop(); }

int AppServer::Bind()
{
    Impl &d = *impl_;
    std::lock_guard<std::mutex> lock(d.mutex);
    if (d.port < 0)
        d.port = d.hub.Bind();
    return d.port;
}

void AppServer::Run()
{
    Impl &d = *impl_;
    Bind();
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        if (d.stopRequested || d.ran)
            return;
        d.ran = true;
    }
    boost::asio::post(d.io, [&d] { d.hub.Start(); });
    // Until every connection has closed after Stop(). A handler that throws
    // (out of memory) costs its connection, not the server.
    for (;;) {
        try {
            d.io.run();
            break;
        } catch (const std::exception &e) {
            d.log.Write(std::string("fisappserver: erro interno: ") + e.what());
        }
    }
    d.workers.Join();
}

int AppServer::Start()
{
    int port = Bind();
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (!impl_->background.joinable() && !impl_->ran && !impl_->stopRequested)
        impl_->background = std::thread([this] { Run(); });
    return port;
}

void AppServer::Stop()
{
    Impl &d = *impl_;
    std::thread background;
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        if (!d.stopRequested) {
            d.stopRequested = true;
            // Posted: the I/O thread owns the connections. Run() not started
            // yet runs it first thing, or never runs at all.
            boost::asio::post(d.io, [&d] { d.hub.Stop(); });
        }
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

std::size_t AppServer::ConnectionLimit() const { return impl_->connectionLimit; }
