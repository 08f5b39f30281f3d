#include "session_pool.h"

#include "data/dberrors.h"

SessionPool::Lease::Lease(SessionPool &pool) : pool_(pool)
{
    {
        std::lock_guard<std::mutex> lock(pool.mutex_);
        if (!pool.idle_.empty()) {
            session_ = std::move(pool.idle_.back());
            pool.idle_.pop_back();
        }
    }
    // Opening may be slow (a remote database): never under the lock.
    if (!session_)
        session_ = pool.factory_();
    if (!session_)
        throw EDatabaseError("Nenhuma sessão de banco de dados disponível.");
}

SessionPool::Lease::~Lease()
{
    if (!discard_)
        pool_.Give(std::move(session_));
}

void SessionPool::Give(std::unique_ptr<DatabaseSession> session)
{
    if (!session)
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    idle_.push_back(std::move(session));
}

std::size_t SessionPool::Idle() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return idle_.size();
}
