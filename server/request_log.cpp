#include "request_log.h"

#include <cerrno>

#include <unistd.h>

RequestLog::RequestLog(std::function<void(const std::string &)> sink)
    : sink_(std::move(sink)), thread_([this] { run(); })
{
}

RequestLog::~RequestLog()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        done_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void RequestLog::Write(std::string line)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (lines_.size() >= kBacklog) {
            ++dropped_;
            return;
        }
        lines_.push_back(std::move(line));
    }
    wake_.notify_one();
}

void RequestLog::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return done_ || !lines_.empty(); });
        if (lines_.empty())
            return;
        std::deque<std::string> batch;
        batch.swap(lines_);
        const std::size_t dropped = dropped_;
        dropped_ = 0;
        lock.unlock();
        for (const std::string &line : batch)
            emit(line);
        if (dropped > 0)
            emit("fisappserver: " + std::to_string(dropped) + " linha(s) de log descartada(s)");
        lock.lock();
    }
}

void RequestLog::emit(const std::string &line)
{
    if (sink_) {
        sink_(line);
        return;
    }
    // One write(2) per line: lines never mix with other output.
    std::string out = line + '\n';
    const char *p = out.data();
    std::size_t left = out.size();
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
