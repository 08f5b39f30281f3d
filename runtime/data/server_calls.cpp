#include "data/server_calls.h"

#include <cstdio>
#include <cstdlib>

namespace {
std::atomic<int> abandonedOpenings{0};

// Registered after the client libraries' own exit handlers, so it runs
// before them: with an opening still waiting on a silent server, the process
// ends here with its status instead of waiting in theirs.
void leaveWithoutWaiting(int status, void *)
{
    if (abandonedOpenings > 0) {
        std::fflush(nullptr);
        std::_Exit(status);
    }
}
} // namespace

int AbandonedOpenings() { return abandonedOpenings; }

void CountAbandonedOpening(int change)
{
    static std::once_flag registered;
    if (change > 0)
        std::call_once(registered, [] { on_exit(leaveWithoutWaiting, nullptr); });
    abandonedOpenings += change;
}

ServerCalls::ServerCalls(int timeoutMs, Connection connection)
    : connection_(std::move(connection)),
      watchdog_(std::chrono::milliseconds(std::max(timeoutMs, 0)), [this](int round) {
          // Asked politely first; a frozen network or server never answers
          // that, so the connection is cut on the next rounds.
          if (round == 1)
              connection_.cancel();
          else
              connection_.cut();
      })
{
}

void ServerCalls::Raise(const ServerFailure &f, const std::function<void()> &drop,
                        const std::function<void()> &rollback) const
{
    if (watchdog_.Late()) {
        drop();
        throw EDatabaseTimeout(DatabaseTimeoutText(Limit().count()), f.engineText);
    }
    if (f.lost) {
        drop();
        throw EDatabaseConnectionLost(f.lostText.empty() ? kConnectionLostText : f.lostText, f.engineText);
    }
    rollback();
    if (f.cancelled)
        throw EDatabaseCancelled(kCancelledText);
    if (f.writeRefused)
        throw EDatabaseError(kWriteRefusedText, f.engineText);
    if (!f.text.empty())
        throw EDatabaseError(f.text, f.engineText);
    throw EDatabaseError(f.engineText);
}

void ServerCalls::RaiseEnding(const ServerFailure &failure, const std::function<void()> &drop,
                              std::exception_ptr &ended) const
{
    try {
        Raise(failure, drop, [] {});
    } catch (const EDatabaseConnectionLost &) {
        ended = std::current_exception();
        throw;
    } catch (const EDatabaseTimeout &) {
        ended = std::current_exception();
        throw;
    }
}
