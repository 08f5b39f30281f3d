#pragma once
// A deadline for the database's answers. A session marks the start and end of
// each call and pauses the clock while its own caller handles a row; when the
// database keeps silent past the limit, `late` runs on the watchdog's thread,
// once at the limit (round 1) and again every further quarter limit (round 2,
// 3, ...) until the call ends, so a session can ask politely first and then
// drop the connection.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class CallWatchdog {
public:
    // A limit of zero watches nothing and starts no thread.
    CallWatchdog(std::chrono::milliseconds limit, std::function<void(int round)> late);
    ~CallWatchdog();
    CallWatchdog(const CallWatchdog &) = delete;
    CallWatchdog &operator=(const CallWatchdog &) = delete;

    // While a Call lives the database's silence is timed.
    class Call {
    public:
        explicit Call(CallWatchdog &dog) : dog_(dog) { dog_.begin(); }
        ~Call() { dog_.end(); }
        Call(const Call &) = delete;
        Call &operator=(const Call &) = delete;

    private:
        CallWatchdog &dog_;
    };

    // Stops the clock (the caller is busy, not the database) and starts it
    // again from zero.
    void Pause();
    void Resume();
    // The call under way, or the last one, ran past the limit.
    bool Late() const;
    std::chrono::milliseconds Limit() const { return limit_; }

private:
    void begin();
    void end();
    void run();

    const std::chrono::milliseconds limit_;
    const std::function<void(int)> late_;
    mutable std::mutex mutex_;
    std::mutex firing_;  // held while `late` runs
    std::condition_variable wake_;
    bool active_ = false;
    bool paused_ = false;
    bool stop_ = false;
    bool late_flag_ = false;
    int round_ = 0;
    std::chrono::steady_clock::time_point since_;
    std::thread thread_;
};
