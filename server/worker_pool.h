#pragma once
// The workers that run complete requests (database work included). The I/O
// thread hands a request over only once all of it has arrived, so a slow or
// silent client never holds a worker; a job's reply goes back to the I/O
// thread to be written.
#include <boost/asio/post.hpp>
#include <boost/asio/thread_pool.hpp>

#include <algorithm>
#include <cstddef>
#include <utility>

class WorkerPool {
public:
    explicit WorkerPool(int threads) : pool_(static_cast<std::size_t>(std::max(1, threads))) {}
    ~WorkerPool() { Join(); }
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    // Jobs start in the order they were given; a job may be move-only.
    template <class Job>
    void Run(Job &&job)
    {
        boost::asio::post(pool_, std::forward<Job>(job));
    }

    // Waits until every job given so far has run; the threads then end.
    void Join() { pool_.join(); }

private:
    boost::asio::thread_pool pool_;
};
