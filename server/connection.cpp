#include "connection_internal.h"

#include <boost/asio/write.hpp>

namespace connections {
Connection::Connection(ConnectionHub::Impl &hub, tcp::socket socket, std::string ip, std::string peer)
    : hub_(hub), socket_(std::move(socket)), ip_(std::move(ip)), peer_(std::move(peer)),
      buffer_(kBufferLimit)
{
}

Connection::~Connection()
{
    if (state_ != State::Closed)
        hub_.removed(*this);
}

void Connection::Start()
{
    hub_.added(*this);
    error_code ignored;
    socket_.set_option(tcp::no_delay(true), ignored);
    awaitRequest();
}

void Connection::BeginStop()
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

void Connection::OnDeadline()
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

void Connection::Yield()
{
    if (state_ != State::Reading || yielding_)
        return;
    yielding_ = true;
    deadline_ = Clock::time_point::max();
    error_code ignored;
    socket_.cancel(ignored);  // the handler answers 503
}

void Connection::awaitRequest()
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

void Connection::onReadable(const error_code &ec)
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

void Connection::beginRequest()
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

void Connection::parse()
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

void Connection::readMore()
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

void Connection::onRead(const error_code &ec, std::size_t n)
{
    if (state_ == State::Closed)
        return;
    if (yielding_) {
        refuse(503);  // whatever came with the read is dropped with it
        return;
    }
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

void Connection::sendContinue()
{
    asio::async_write(socket_, asio::buffer(kContinue, sizeof kContinue - 1),
                      [self = shared_from_this()](const error_code &ec, std::size_t) {
                          if (self->state_ == State::Closed)
                              return;
                          if (self->yielding_)
                              self->refuse(503);
                          else if (ec)
                              self->close();
                          else
                              self->readMore();
                      });
}

void Connection::close()
{
    if (state_ == State::Closed)
        return;
    state_ = State::Closed;
    hub_.removed(*this);
    error_code ignored;
    socket_.close(ignored);
}
} // namespace connections
