#pragma once
// The one line per request the server writes. Lines are handed to a thread of
// their own, so a stalled standard error (a terminal on hold, a pipe nobody
// reads) never holds up the I/O thread or a worker; past a backlog, lines are
// dropped and the drop is reported once the writer catches up. A line is
// written within a few tens of milliseconds.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class RequestLog {
public:
    // `sink` receives each line without its newline; unset writes to stderr.
    explicit RequestLog(std::function<void(const std::string &)> sink);
    ~RequestLog();  // writes what is queued, then ends the thread
    RequestLog(const RequestLog &) = delete;
    RequestLog &operator=(const RequestLog &) = delete;

    void Write(std::string line);

    static constexpr std::size_t kBacklog = 10000;

private:
    void run();
    void emit(const std::deque<std::string> &lines);

    std::function<void(const std::string &)> sink_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::string> lines_;
    std::size_t dropped_ = 0;
    bool done_ = false;
    std::thread thread_;
};
