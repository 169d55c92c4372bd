#include "server/store/RowKeeper.h"

#include <string_view>
#include <utility>

namespace orvo::server {

RowKeeper::RowKeeper(RowCache& cache, int category, const ReplyStamp& stamp)
    : m_cache(cache), m_category(category), m_stamp(stamp), m_thread([this] { run(); }) {}

RowKeeper::~RowKeeper() {
    {
        const std::lock_guard guard(m_mutex);
        m_closing = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

std::string RowKeeper::hand(std::string bytes, std::vector<Row> rows) {
    std::unique_lock guard(m_mutex);
    // The keeper's work per batch is a fraction of the reply's, so this wait is short and rare.
    m_changed.wait(guard, [this] { return m_waiting.size() < kMaxWaiting; });
    m_waiting.push_back({std::move(bytes), std::move(rows)});
    std::string spent;
    if (!m_spent.empty()) {
        spent = std::move(m_spent.back());
        m_spent.pop_back();
    }
    guard.unlock();
    m_changed.notify_all();
    return spent;
}

void RowKeeper::run() {
    std::vector<KeptRow> kept;
    for (;;) {
        Batch batch;
        {
            std::unique_lock guard(m_mutex);
            m_changed.wait(guard, [this] { return !m_waiting.empty() || m_closing; });
            if (m_waiting.empty())
                return;
            batch = std::move(m_waiting.front());
            m_waiting.pop_front();
        }
        m_changed.notify_all();
        kept.clear();
        for (const Row& row : batch.rows)
            kept.push_back({row.serial, row.rev, std::string_view(batch.bytes).substr(row.at, row.size)});
        m_cache.storeBatch(m_category, kept, m_stamp);
        const std::lock_guard guard(m_mutex);
        if (m_spent.size() < kMaxWaiting)
            m_spent.push_back(std::move(batch.bytes));
    }
}

} // namespace orvo::server
