#include "request_log.h"

#include <cerrno>

#include <unistd.h>

namespace {
// Lines are written in batches: a busy server wakes the writer and calls
// write(2) once per batch rather than once per request.
constexpr auto kGather = std::chrono::milliseconds(20);
constexpr std::size_t kWriteBytes = 4096;  // one pipe write stays whole

void writeAll(const std::string &out)
{
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
} // namespace

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
    bool first;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (lines_.size() >= kBacklog) {
            ++dropped_;
            return;
        }
        first = lines_.empty();
        lines_.push_back(std::move(line));
    }
    if (first)
        wake_.notify_one();
}

void RequestLog::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return done_ || !lines_.empty(); });
        if (lines_.empty())
            return;
        // Let the lines of a busy moment gather (a stop cuts it short).
        wake_.wait_for(lock, kGather, [this] { return done_; });
        std::deque<std::string> batch;
        batch.swap(lines_);
        const std::size_t dropped = dropped_;
        dropped_ = 0;
        lock.unlock();
        if (dropped > 0)
            batch.push_back("fisappserver: " + std::to_string(dropped) + " linha(s) de log descartada(s)");
        emit(batch);
        lock.lock();
    }
}

void RequestLog::emit(const std::deque<std::string> &lines)
{
    if (sink_) {
        for (const std::string &line : lines)
            sink_(line);
        return;
    }
    // Whole lines per write(2), so they never mix with other output.
    std::string out;
    for (const std::string &line : lines) {
        if (!out.empty() && out.size() + line.size() + 1 > kWriteBytes) {
            writeAll(out);
            out.clear();
        }
        out += line;
        out += '\n';
    }
    writeAll(out);
}
