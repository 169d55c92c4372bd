// A fixed set of threads that run request handlers one job at a time, in arrival order. Each thread
// holds its own store (a read-only SQLite connection, or a handle on the server's PostgreSQL pool), opened
// on its first job (and again after a failure), so the number of replies being produced is bounded.
#pragma once

#include "server/store/StoreSource.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvo::server {

class WorkerPool {
public:
    // The job gets the thread's store, or nullptr with the reason when it cannot be opened.
    using Job = std::function<void(Store* store, const std::string& dbError)>;

    // niceness > 0 lowers the threads' scheduling priority (Linux nice, per thread): work that may
    // run long yields the processor to short requests and to the event loop.
    // The source outlives the pool.
    WorkerPool(int threads, StoreSource& stores, int niceness = 0);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    void post(Job job);
    // Runs the jobs already taken to their end, drops those still waiting, joins the threads.
    void stop();
    std::size_t waiting();

private:
    void run(int niceness);

    StoreSource& m_stores;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<Job> m_jobs;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

} // namespace orvo::server
