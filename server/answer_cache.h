#pragma once
// Answers of lookups kept for a moment, so a screen asking the same lookup
// again and again (a person typing in a field) is answered on the I/O thread
// without a worker or a database round trip. An answer is reused only within
// its lifetime, which bounds how stale it may be; failures are never kept.
#include <chrono>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

class AnswerCache {
public:
    static constexpr std::size_t kMaxEntries = 1024;
    static constexpr std::size_t kMaxAnswerBytes = 64 * 1024;

    explicit AnswerCache(std::chrono::milliseconds lifetime) : lifetime_(lifetime) {}

    std::optional<std::string> Find(const std::string &key) const
    {
        if (lifetime_.count() <= 0)
            return std::nullopt;
        std::lock_guard lock(mutex_);
        auto it = entries_.find(key);
        if (it == entries_.end() || it->second.expires <= Clock::now())
            return std::nullopt;
        return it->second.answer;
    }

    void Store(const std::string &key, const std::string &answer)
    {
        if (lifetime_.count() <= 0 || answer.size() > kMaxAnswerBytes)
            return;
        const auto now = Clock::now();
        std::lock_guard lock(mutex_);
        if (entries_.size() >= kMaxEntries) {
            std::erase_if(entries_, [now](const auto &e) { return e.second.expires <= now; });
            if (entries_.size() >= kMaxEntries)
                entries_.clear();
        }
        entries_[key] = {answer, now + lifetime_};
    }

private:
    using Clock = std::chrono::steady_clock;
    struct Entry {
        std::string answer;
        Clock::time_point expires;
    };
    const std::chrono::milliseconds lifetime_;
    mutable std::mutex mutex_;
    std::unordered_map<std::string, Entry> entries_;
};
