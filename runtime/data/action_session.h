#pragma once
// The session a person's screen reads through. Once one of its calls finds
// the connection lost or the server silent, every later call fails at once
// with that same error until the person's next action: the lookups, checks
// and headings of one action would otherwise each try the server again,
// each within its own deadline, and one action would wait that many times.
#include "data/session.h"

#include <exception>
#include <mutex>

class ActionSession : public DatabaseSession {
public:
    // `inner` outlives this.
    explicit ActionSession(DatabaseSession &inner) : inner_(inner) {}

    // The person acts again: the next call may try the server once more.
    void NextAction();
    // A loss or a silence is being held until the next action.
    bool Refusing() const;

    ResultSet Query(const std::string &sql, const NamedValues &params) override;
    void QueryRows(const std::string &sql, const NamedValues &params, RowReceiver &receiver) override;
    void Execute(const std::string &sql) override;
    std::string Plan(const std::string &sql, const NamedValues &params) override;
    std::string EngineName() const override { return inner_.EngineName(); }
    void Interrupt() override { inner_.Interrupt(); }
    void BeginSnapshot() override { inner_.BeginSnapshot(); }
    void EndSnapshot() noexcept override { inner_.EndSnapshot(); }

private:
    template <typename F>
    auto guarded(F &&call) -> decltype(call());

    DatabaseSession &inner_;
    mutable std::mutex mutex_;  // a report's statements run on a thread of their own
    std::exception_ptr held_;
};
