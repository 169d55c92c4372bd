// Keeps a reply's rows in the row cache on a thread of its own while the reply goes on. The reply that
// fills the cache (the first after a start) then costs its worker about what a reply without the cache
// costs: the blocks' allocation, their first touch and the index's work are done beside it.
#pragma once

#include "server/store/RowCache.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvo::server {

class RowKeeper {
public:
    // A row of a batch: its items are bytes [at, at + size) of the batch's bytes.
    struct Row {
        std::int64_t serial, rev;
        std::size_t at, size;
    };

    RowKeeper(RowCache& cache, int category, const ReplyStamp& stamp);
    // Waits until every batch handed over is kept.
    ~RowKeeper();
    RowKeeper(const RowKeeper&) = delete;
    RowKeeper& operator=(const RowKeeper&) = delete;

    // Hands a batch over; waits while a few batches still wait to be kept, so a reply holds little.
    // Gives back bytes of a batch already kept (its capacity reused; empty at first).
    std::string hand(std::string bytes, std::vector<Row> rows);

private:
    struct Batch {
        std::string bytes;
        std::vector<Row> rows;
    };
    static constexpr std::size_t kMaxWaiting = 4;

    void run();

    RowCache& m_cache;
    const int m_category;
    const ReplyStamp m_stamp;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Batch> m_waiting;
    std::vector<std::string> m_spent; // bytes of batches kept, for reuse
    bool m_closing = false;
    std::thread m_thread; // last: started once the rest is ready
};

} // namespace orvo::server
