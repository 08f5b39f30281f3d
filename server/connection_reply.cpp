#include "connection_internal.h"

#include "request_log.h"
#include "routes.h"
#include "worker_pool.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/http/status.hpp>

#include <sys/socket.h>

namespace connections {
namespace {
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
} // namespace

void Connection::refuse(int status)
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

void Connection::dispatch()
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
    // What needs no database is answered here: handing it to a worker and
    // back would cost more than the answer.
    if (std::optional<HttpAnswer> answer = hub_.routes.Immediate(call)) {
        hub_.log.Write(RequestLogLine(peer_, answer->logMethod, answer->status, requestStart_, answer->logDetail));
        const bool close = !keepAlive_ || hub_.stopping;
        std::string out = serialise(*answer, close, head);
        const ssize_t n = ::send(socket_.native_handle(), out.data(), out.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        finishReply(std::move(out), n > 0 ? static_cast<std::size_t>(n) : 0, close);
        return;
    }
    hub_.workers.Run([self = shared_from_this(), call = std::move(call), head,
                      work = asio::make_work_guard(hub_.io)]() mutable {
        ConnectionHub::Impl &hub = self->hub_;
        HttpAnswer answer = hub.routes.Handle(call);
        hub.log.Write(
            RequestLogLine(self->peer_, answer.logMethod, answer.status, self->requestStart_, answer.logDetail));
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

void Connection::finishReply(std::string out, std::size_t sent, bool close)
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

void Connection::onWritten(const error_code &ec)
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

void Connection::drain()
{
    state_ = State::Draining;
    error_code ignored;
    socket_.shutdown(tcp::socket::shutdown_send, ignored);
    buffer_.consume(buffer_.size());
    deadline_ = std::min(Clock::now() + kDrainTime, stopDeadline_);
    drainMore();
}

void Connection::drainMore()
{
    socket_.async_read_some(buffer_.prepare(4096), [self = shared_from_this()](const error_code &ec,
                                                                               std::size_t) {
        if (self->state_ == State::Closed)
            return;
        // Until the client ends or the drain time is up, however much it
        // sends: closing with input unread resets the connection, and the
        // reset can take replies the client has not read yet with it.
        if (ec)
            self->close();
        else
            self->drainMore();
    });
}
} // namespace connections
