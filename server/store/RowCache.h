// Reply rows kept encoded between requests, shared by every worker of a server. The database stays the
// truth: each entry carries the revision its row had when it was encoded, and is used only while the
// database still gives the row that revision (the database changes it on every write of the row), and
// the customers' names the same revision (`names`, changed whenever a name or key changes). Nothing here
// is ever told of a change, so several servers on one database stay correct without talking to each
// other. A reply names the database it reads (adopt): another one empties the cache.
//
// Bounded by a byte limit; when full, entries not used since the clock hand last passed them make room
// (second chance). Readers share one lock, taken once per batch of rows, so a long reply pays for no
// lock per row; rows stored take it alone, once per batch, their bytes copied before it is taken.
#pragma once

#include "server/common/Metrics.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <pthread.h>
#include <shared_mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvo::server {

struct RowKey {
    std::int32_t category = 0;
    std::int64_t serial = 0;
    bool operator==(const RowKey&) const = default;
};

// A row a query selects, as the database lists it: which row, at what revision.
struct ListedRow {
    std::int64_t serial = 0;
    std::int64_t rev = 0;
};

// A row to keep: its key's serial, its revision and its encoded items.
struct KeptRow {
    std::int64_t serial = 0;
    std::int64_t rev = 0;
    std::string_view items;
};

// What a reply's snapshot says beside each row's own revision, and the cache's generation when the reply
// began (rows read before the cache was emptied are not kept).
struct ReplyStamp {
    std::int64_t names = 0;
    std::uint64_t generation = 0;
    bool mayStore = true; // false: the snapshot gives no proof the revisions are new (see docs/data.md)
};

// A readers-writer lock under which a waiting writer goes before readers that come after it. Replies
// read the cache nearly all the time when many stream at once; with the platform's default (readers
// first) a worker storing the rows it had to read could wait for as long as replies keep overlapping.
class WriterFirstLock {
public:
    WriterFirstLock();
    ~WriterFirstLock();
    WriterFirstLock(const WriterFirstLock&) = delete;
    WriterFirstLock& operator=(const WriterFirstLock&) = delete;

    void lock() { pthread_rwlock_wrlock(&m_lock); }
    void unlock() { pthread_rwlock_unlock(&m_lock); }
    void lock_shared() { pthread_rwlock_rdlock(&m_lock); }
    void unlock_shared() { pthread_rwlock_unlock(&m_lock); }

private:
    pthread_rwlock_t m_lock;
};

class RowCache {
public:
    static constexpr std::size_t kDefaultMegabytes = 64;

    // limitBytes 0: nothing is ever kept (enabled() is false).
    explicit RowCache(std::size_t limitBytes);
    RowCache(const RowCache&) = delete;
    RowCache& operator=(const RowCache&) = delete;

    bool enabled() const { return m_limit > 0; }
    std::size_t limitBytes() const { return m_limit; }

    // Calls found(i, items), in the order of `rows`, for every row i of the category that the cache holds
    // at exactly its listed revision; the others are skipped. The items are valid only during the call,
    // which is made under the cache's read lock: found must be quick, must not block and must not call
    // back into the cache. Rows are looked up a group at a time, each step's memory fetched for the whole
    // group before it is used, so the waits of a group's rows overlap.
    // Only entries stored with the same names revision count.
    template <typename Found>
    void readBatch(int category, std::span<const ListedRow> rows, Found&& found, std::int64_t names = 0);

    // Keeps the row's encoded items at this revision, replacing what the key held; nothing when the
    // cache was emptied since the stamp's generation, or the stamp forbids it.
    void store(const RowKey& key, std::int64_t rev, std::string_view items, const ReplyStamp& stamp = {});
    // Keeps a batch of rows of the category as store() keeps each, under one taking of the lock.
    void storeBatch(int category, std::span<const KeptRow> rows, const ReplyStamp& stamp);

    // Bumped whenever the cache is emptied; read it before looking at the database.
    std::uint64_t generation() const { return m_generation.load(std::memory_order_acquire); }
    // The database a reply reads (a file's identity, a cluster's start): when it differs from the one
    // the rows came from, every row is dropped. The first one named is taken as it is.
    void adopt(std::string_view database);
    void clear();

    // What the cache holds now: bytes counted as the limit counts them (items and bookkeeping).
    std::size_t bytes() const;
    std::size_t entries() const;

private:
    // Per entry, beside its items: its places in the index (40 bytes, a quarter to a half of them used),
    // its block's heap header and its flag byte.
    static constexpr std::size_t kEntryOverhead = 176;
    static constexpr std::size_t kGroup = 16;

    // Open addressing, linear probing, at most half full. An entry holds all a look-up needs (key and
    // revision) and points at its block: one flag byte, set when a reply uses the entry, then the items.
    struct Entry {
        std::int64_t serial = 0;
        std::int64_t rev = 0;
        std::int64_t names = 0;
        std::unique_ptr<char[]> block; // null: the place is free
        std::int32_t category = 0;
        std::uint32_t size = 0; // of the items

        std::atomic_ref<char> referenced() const { return std::atomic_ref<char>(block[0]); }
        std::string_view items() const { return {block.get() + 1, size}; }
    };

    // Fibonacci hashing: the product's top bits, as many as the index has places. Runs of serials and
    // serials a power of two apart both spread evenly, so probes stay short at half full.
    std::size_t homeOf(std::int32_t category, std::int64_t serial) const {
        const auto key = static_cast<std::uint64_t>(serial) ^ (static_cast<std::uint64_t>(category) << 56);
        return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> m_shift);
    }

    // The entry holding the row at this revision, or null.
    const Entry* current(std::int32_t category, const ListedRow& row, std::int64_t names) const;
    std::size_t find(const RowKey& key) const; // the index position, or m_index.size()
    void insert(Entry entry);
    // Grows the index, once, so that `more` entries fit it at most half full.
    void reserveFor(std::size_t more);
    void release(std::size_t position);
    // Frees entries until `needed` more bytes fit the limit; false when they cannot.
    bool makeRoom(std::size_t needed);
    static std::size_t costOf(std::size_t itemBytes) { return itemBytes + kEntryOverhead; }
    void clearLocked();

    const std::size_t m_limit;
    mutable WriterFirstLock m_lock;
    std::vector<Entry> m_index; // a power of two in size
    unsigned m_shift = 63;      // 64 - log2 of the index's size (once it has places)
    std::size_t m_count = 0;
    std::size_t m_bytes = 0;
    std::size_t m_hand = 0; // the clock hand: an index position
    std::atomic<std::uint64_t> m_generation{0};
    std::string m_database; // as adopt was last told
};

template <typename Found>
void RowCache::readBatch(int category, std::span<const ListedRow> rows, Found&& found, std::int64_t names) {
    if (m_limit == 0)
        return;
    const std::shared_lock guard(m_lock);
    if (m_index.empty())
        return metrics().countRowCache(0, rows.size());
    std::size_t hitCount = 0;
    const Entry* hits[kGroup];
    for (std::size_t at = 0; at < rows.size(); at += kGroup) {
        const std::size_t n = std::min(kGroup, rows.size() - at);
        for (std::size_t i = 0; i < n; ++i)
            __builtin_prefetch(&m_index[homeOf(category, rows[at + i].serial)]);
        for (std::size_t i = 0; i < n; ++i) {
            hits[i] = current(category, rows[at + i], names);
            if (hits[i] == nullptr)
                continue;
            // The flag and the first items, then the rest of a typical row.
            const char* block = hits[i]->block.get();
            for (std::size_t line = 0; line <= hits[i]->size && line < 512; line += 64)
                __builtin_prefetch(block + line);
        }
        for (std::size_t i = 0; i < n; ++i) {
            if (hits[i] == nullptr)
                continue;
            const auto flag = hits[i]->referenced();
            if (flag.load(std::memory_order_relaxed) == 0)
                flag.store(1, std::memory_order_relaxed);
            found(at + i, hits[i]->items());
            ++hitCount;
        }
    }
    metrics().countRowCache(hitCount, rows.size() - hitCount);
}

inline const RowCache::Entry* RowCache::current(std::int32_t category, const ListedRow& row,
                                                std::int64_t names) const {
    const std::size_t position = find({category, row.serial});
    if (position == m_index.size() || m_index[position].rev != row.rev || m_index[position].names != names)
        return nullptr;
    return &m_index[position];
}

inline std::size_t RowCache::find(const RowKey& key) const {
    if (m_index.empty())
        return 0;
    const std::size_t mask = m_index.size() - 1;
    for (std::size_t i = homeOf(key.category, key.serial);; i = (i + 1) & mask) {
        const Entry& entry = m_index[i];
        if (!entry.block)
            return m_index.size();
        if (entry.serial == key.serial && entry.category == key.category)
            return i;
    }
}

} // namespace orvo::server
