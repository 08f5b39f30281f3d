#include "data/watchdog.h"

#include <algorithm>

CallWatchdog::CallWatchdog(std::chrono::milliseconds limit, std::function<void(int round)> late)
    : limit_(limit), late_(std::move(late))
{
    if (limit_.count() > 0)
        thread_ = std::thread([this] { run(); });
}

CallWatchdog::~CallWatchdog()
{
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void CallWatchdog::begin()
{
    if (!thread_.joinable())
        return;
    {
        std::lock_guard lock(mutex_);
        active_ = true;
        paused_ = false;
        late_flag_ = false;
        round_ = 0;
        since_ = std::chrono::steady_clock::now();
    }
    wake_.notify_all();
}

void CallWatchdog::end()
{
    if (!thread_.joinable())
        return;
    {
        std::lock_guard lock(mutex_);
        active_ = false;
    }
    // A round already under way finishes before the call counts as ended, so
    // none reaches the session's next call.
    std::lock_guard firing(firing_);
}

void CallWatchdog::Pause()
{
    if (!thread_.joinable())
        return;
    std::lock_guard lock(mutex_);
    paused_ = true;
}

void CallWatchdog::Resume()
{
    if (!thread_.joinable())
        return;
    std::lock_guard lock(mutex_);
    paused_ = false;
    since_ = std::chrono::steady_clock::now();
}

bool CallWatchdog::Late() const
{
    std::lock_guard lock(mutex_);
    return late_flag_;
}

void CallWatchdog::run()
{
    const auto step = std::max(limit_ / 4, std::chrono::milliseconds(1));
    std::unique_lock lock(mutex_);
    while (!stop_) {
        if (!active_) {
            wake_.wait(lock, [this] { return stop_ || active_; });
            continue;
        }
        // Woken no later than the next round is due; a pause or a resume
        // moves it, so the time is checked again on waking.
        const auto due = since_ + limit_ + step * round_;
        if (paused_ || std::chrono::steady_clock::now() < due) {
            wake_.wait_until(lock, paused_ ? std::chrono::steady_clock::now() + step : due);
            continue;
        }
        late_flag_ = true;
        const int round = ++round_;
        std::lock_guard firing(firing_);
        lock.unlock();
        late_(round);
        lock.lock();
    }
}
