#include "server/net/WorkerPool.h"

#include <algorithm>

#include <sys/resource.h>
#include <unistd.h>

namespace orvo::server {

WorkerPool::WorkerPool(int threads, StoreSource& stores, int niceness) : m_stores(stores) {
    threads = std::max(1, threads);
    for (int i = 0; i < threads; ++i)
        m_threads.emplace_back([this, niceness] { run(niceness); });
}

WorkerPool::~WorkerPool() {
    stop();
}

void WorkerPool::post(Job job) {
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping)
            return;
        m_jobs.push_back(std::move(job));
    }
    m_ready.notify_one();
}

void WorkerPool::stop() {
    std::deque<Job> dropped;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        dropped.swap(m_jobs);
    }
    m_ready.notify_all();
    for (auto& t : m_threads)
        if (t.joinable())
            t.join();
    m_threads.clear();
}

std::size_t WorkerPool::waiting() {
    std::lock_guard lock(m_mutex);
    return m_jobs.size();
}

void WorkerPool::run(int niceness) {
    if (niceness > 0) {
        // Best effort: without it the pools only differ in their queues.
        [[maybe_unused]] const int rc = setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), niceness);
    }
    std::unique_ptr<Store> store;
    std::string error;
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_mutex);
            m_ready.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
            if (m_stopping)
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        if (!store) {
            error.clear();
            store = m_stores.open(error);
        }
        job(store.get(), error);
    }
}

} // namespace orvo::server
