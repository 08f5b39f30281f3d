#include "data/action_session.h"

#include "data/dberrors.h"

void ActionSession::NextAction()
{
    std::lock_guard lock(mutex_);
    held_ = nullptr;
}

bool ActionSession::Refusing() const
{
    std::lock_guard lock(mutex_);
    return held_ != nullptr;
}

template <typename F>
auto ActionSession::guarded(F &&call) -> decltype(call())
{
    {
        std::lock_guard lock(mutex_);
        if (held_)
            std::rethrow_exception(held_);
    }
    try {
        return call();
    } catch (const EDatabaseConnectionLost &) {
        std::lock_guard lock(mutex_);
        held_ = std::current_exception();
        throw;
    } catch (const EDatabaseTimeout &) {
        std::lock_guard lock(mutex_);
        held_ = std::current_exception();
        throw;
    }
}

ResultSet ActionSession::Query(const std::string &sql, const NamedValues &params)
{
    return guarded([&] { return inner_.Query(sql, params); });
}

void ActionSession::QueryRows(const std::string &sql, const NamedValues &params, RowReceiver &receiver)
{
    guarded([&] { inner_.QueryRows(sql, params, receiver); });
}

void ActionSession::Execute(const std::string &sql)
{
    guarded([&] { inner_.Execute(sql); });
}

std::string ActionSession::Plan(const std::string &sql, const NamedValues &params)
{
    return guarded([&] { return inner_.Plan(sql, params); });
}
