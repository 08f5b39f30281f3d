#pragma once
// Connection handling: one I/O thread accepts every connection, reads its
// requests and writes its replies, event-driven, so a connection that waits
// for bytes holds no worker and costs a socket and a timer. Only complete
// requests go to the worker pool, one per connection at a time (pipelined
// requests are answered in order).
//
// Limits, each ending the connection:
//   - a fresh connection must start its request within min(readTimeout,
//     headerTimeout); the header must be in within headerTimeout of its
//     first byte, the whole request within requestTimeout, and no read
//     inside a request may wait longer than readTimeout (408 when part of a
//     request came);
//   - a kept-alive connection may stay idle for keepAliveTimeout;
//   - framing the parser or framing::CheckHeader refuses gets its status
//     (400, 413, 414) and the connection closes;
//   - over maxConnectionsPerAddress from one address, or maxConnections in
//     all, the oldest idle connection (of that address) is closed to make
//     room; with none idle the newcomer gets 503 and is closed. So is a
//     connection accepted when the process is out of file descriptors.
#include <boost/asio/io_context.hpp>

#include <cstddef>
#include <memory>

struct AppServerSettings;
class Routes;
class WorkerPool;
class RequestLog;

class ConnectionHub {
public:
    ConnectionHub(boost::asio::io_context &io, const AppServerSettings &settings, std::size_t maxConnections,
                  const Routes &routes, WorkerPool &workers, RequestLog &log);
    ~ConnectionHub();
    ConnectionHub(const ConnectionHub &) = delete;
    ConnectionHub &operator=(const ConnectionHub &) = delete;

    // Binds and listens; returns the port. Raises Exception. Before Start.
    int Bind();
    // On the I/O thread: accepts until Stop.
    void Start();
    // On the I/O thread: stops accepting and closes idle connections;
    // requests already complete are answered (with Connection: close), one
    // still arriving gets a short grace. The I/O loop ends when the last
    // connection has closed.
    void Stop();

    struct Impl;  // what the connections share with their hub

private:
    std::unique_ptr<Impl> impl_;
};
