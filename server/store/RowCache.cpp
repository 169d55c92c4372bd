#include "server/store/RowCache.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <mutex>

namespace orvo::server {

WriterFirstLock::WriterFirstLock() {
    pthread_rwlockattr_t attributes;
    pthread_rwlockattr_init(&attributes);
    pthread_rwlockattr_setkind_np(&attributes, PTHREAD_RWLOCK_PREFER_WRITER_NONRECURSIVE_NP);
    pthread_rwlock_init(&m_lock, &attributes);
    pthread_rwlockattr_destroy(&attributes);
}

WriterFirstLock::~WriterFirstLock() {
    pthread_rwlock_destroy(&m_lock);
}

RowCache::RowCache(std::size_t limitBytes) : m_limit(limitBytes) {}

void RowCache::reserveFor(std::size_t more) {
    const std::size_t wanted = std::bit_ceil(std::max<std::size_t>(4096, (m_count + more) * 2));
    if (wanted <= m_index.size())
        return;
    std::vector<Entry> old = std::move(m_index);
    m_index = std::vector<Entry>(wanted);
    m_shift = static_cast<unsigned>(64 - std::countr_zero(m_index.size()));
    m_count = 0;
    m_hand = 0;
    for (Entry& kept : old)
        if (kept.block)
            insert(std::move(kept));
}

void RowCache::insert(Entry entry) {
    if ((m_count + 1) * 2 > m_index.size())
        reserveFor(std::max<std::size_t>(1, m_count + 1));
    const std::size_t mask = m_index.size() - 1;
    std::size_t i = homeOf(entry.category, entry.serial);
    while (m_index[i].block)
        i = (i + 1) & mask;
    m_index[i] = std::move(entry);
    ++m_count;
}

void RowCache::release(std::size_t position) {
    const std::size_t cost = costOf(m_index[position].size);
    m_bytes -= cost;
    --m_count;
    // Entries after the hole that belong at or before it move up, so every probe still finds its key.
    const std::size_t mask = m_index.size() - 1;
    std::size_t hole = position;
    for (std::size_t i = (hole + 1) & mask; m_index[i].block; i = (i + 1) & mask) {
        const std::size_t home = homeOf(m_index[i].category, m_index[i].serial);
        if (((i - home) & mask) >= ((i - hole) & mask)) {
            m_index[hole] = std::move(m_index[i]);
            hole = i;
        }
    }
    m_index[hole] = Entry{};
}

bool RowCache::makeRoom(std::size_t needed) {
    if (needed > m_limit)
        return false;
    // Two turns of the hand clear every second chance, so the loop ends. A release moves a later entry
    // into the hand's place, so the hand stays to look at it.
    for (std::size_t steps = 0; m_bytes + needed > m_limit && steps < 2 * m_index.size(); ++steps) {
        if (m_hand >= m_index.size())
            m_hand = 0;
        Entry& entry = m_index[m_hand];
        if (entry.block && entry.referenced().load(std::memory_order_relaxed) == 0) {
            release(m_hand);
            continue;
        }
        if (entry.block)
            entry.referenced().store(0, std::memory_order_relaxed);
        ++m_hand;
    }
    return m_bytes + needed <= m_limit;
}

void RowCache::store(const RowKey& key, std::int64_t rev, std::string_view items, const ReplyStamp& stamp) {
    const KeptRow row{key.serial, rev, items};
    storeBatch(key.category, std::span<const KeptRow>(&row, 1), stamp);
}

void RowCache::storeBatch(int category, std::span<const KeptRow> rows, const ReplyStamp& stamp) {
    if (m_limit == 0 || !stamp.mayStore || rows.empty())
        return;
    // The blocks are made and filled before the lock is taken: readers wait only for the index's work.
    std::vector<Entry> made;
    made.reserve(rows.size());
    for (const KeptRow& row : rows) {
        if (row.items.size() > UINT32_MAX)
            continue;
        Entry& entry = made.emplace_back(Entry{row.serial, row.rev, stamp.names,
                                               std::make_unique_for_overwrite<char[]>(row.items.size() + 1),
                                               category, static_cast<std::uint32_t>(row.items.size())});
        entry.block[0] = 0;
        std::memcpy(entry.block.get() + 1, row.items.data(), row.items.size());
    }

    const std::unique_lock guard(m_lock);
    // Emptied since the reply began: its rows may come from the database that was left.
    if (stamp.generation != m_generation.load(std::memory_order_relaxed))
        return;
    reserveFor(made.size());
    for (Entry& entry : made) {
        if (const std::size_t position = find({entry.category, entry.serial}); position != m_index.size())
            release(position);
        const std::size_t cost = costOf(entry.size);
        if (!makeRoom(cost))
            continue;
        insert(std::move(entry));
        m_bytes += cost;
    }
}

void RowCache::adopt(std::string_view database) {
    {
        const std::shared_lock guard(m_lock);
        if (database == m_database)
            return;
    }
    const std::unique_lock guard(m_lock);
    if (database == m_database)
        return;
    const bool first = m_database.empty();
    m_database.assign(database);
    if (!first)
        clearLocked();
}

void RowCache::clear() {
    const std::unique_lock guard(m_lock);
    clearLocked();
}

void RowCache::clearLocked() {
    std::vector<Entry>().swap(m_index);
    m_shift = 63;
    m_count = 0;
    m_bytes = 0;
    m_hand = 0;
    m_generation.fetch_add(1, std::memory_order_release);
}

std::size_t RowCache::bytes() const {
    const std::shared_lock guard(m_lock);
    return m_bytes;
}

std::size_t RowCache::entries() const {
    const std::shared_lock guard(m_lock);
    return m_count;
}

} // namespace orvo::server
