// Reply rows kept encoded between requests, shared by every worker of a server. The database stays the
// truth: each entry carries the revision its row had when it was encoded, and is used only while the
// database still gives the row that revision (the database changes it on every write of the row, and of
// anything else the encoded row shows). Nothing here is ever told of a change, so several servers on one
// database stay correct without talking to each other.
//
// Bounded by a byte limit; when full, entries not used since the clock hand last passed them make room
// (second chance). Sharded by serial, each shard under its own lock, held only to look up or copy bytes.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace orvo::server {

struct RowKey {
    std::int32_t category = 0;
    std::int64_t serial = 0;
    bool operator==(const RowKey&) const = default;
};

class RowCache {
public:
    static constexpr std::size_t kDefaultMegabytes = 64;

    // limitBytes 0: nothing is ever kept (enabled() is false).
    explicit RowCache(std::size_t limitBytes);
    RowCache(const RowCache&) = delete;
    RowCache& operator=(const RowCache&) = delete;

    bool enabled() const { return m_limit > 0; }

    // Calls use(items) with the entry's bytes, under the shard's lock, when the cache holds the row at
    // exactly this revision; false otherwise. use must be quick and must not call back into the cache.
    template <typename Use> bool withCurrent(const RowKey& key, std::int64_t rev, Use&& use);

    // Keeps the row's encoded items at this revision, replacing what the key held.
    void store(const RowKey& key, std::int64_t rev, std::string_view items);

    // What the cache holds now: bytes counted as the limit counts them (items and bookkeeping).
    std::size_t bytes() const;
    std::size_t entries() const;

private:
    static constexpr std::size_t kShards = 16;
    // Per entry, beside its items: its slot (64 bytes), its places in the index (24 bytes, a quarter
    // to a half of them used) and the items' own heap block.
    static constexpr std::size_t kEntryOverhead = 160;
    static constexpr std::uint32_t kNoSlot = UINT32_MAX;

    // Replies list rows in serial order: consecutive serials are kept together, in runs of 64 per shard
    // and next to each other in the shard's index, so a long reply walks memory in order.
    static std::size_t shardOf(const RowKey& key) {
        return static_cast<std::size_t>(static_cast<std::uint64_t>(key.serial) >> 6) % kShards;
    }
    static std::uint64_t placeOf(const RowKey& key) {
        const auto serial = static_cast<std::uint64_t>(key.serial);
        // Runs of 4096 serials stay in order; the runs themselves (and the categories) are spread, so
        // serials far apart by a power of two do not pile up on one place.
        return serial + (serial >> 12) * 0x9E3779B97F4A7C15ull +
               static_cast<std::uint64_t>(key.category) * 0x632BE59BD9B4E019ull;
    }

    // Open addressing, linear probing, at most half full.
    struct IndexEntry {
        RowKey key;
        std::uint32_t slot = kNoSlot;
    };
    struct Slot {
        RowKey key;
        std::int64_t rev = 0;
        std::string items;
        bool used = false;
        bool referenced = false;
    };
    struct Shard {
        mutable std::mutex lock;
        std::vector<IndexEntry> index; // a power of two in size
        std::size_t count = 0;
        std::vector<Slot> slots;
        std::vector<std::uint32_t> freeSlots;
        std::size_t bytes = 0;
        std::size_t hand = 0;

        std::size_t find(const RowKey& key) const; // the index position, or index.size()
        void insert(const RowKey& key, std::uint32_t slot);
        void erase(std::size_t position);
    };

    static std::size_t costOf(std::size_t itemBytes) { return itemBytes + kEntryOverhead; }
    void release(Shard& shard, std::size_t position);
    // Frees the shard's entries until `needed` more bytes fit the limit; false when they cannot.
    bool makeRoom(Shard& shard, std::size_t needed);

    std::size_t m_limit;
    std::atomic<std::size_t> m_bytes{0};
    Shard m_shards[kShards];
};

template <typename Use> bool RowCache::withCurrent(const RowKey& key, std::int64_t rev, Use&& use) {
    if (m_limit == 0)
        return false;
    Shard& shard = m_shards[shardOf(key)];
    const std::lock_guard guard(shard.lock);
    const std::size_t position = shard.find(key);
    if (position == shard.index.size())
        return false;
    Slot& slot = shard.slots[shard.index[position].slot];
    if (slot.rev != rev)
        return false;
    slot.referenced = true;
    use(std::string_view(slot.items));
    return true;
}

} // namespace orvo::server
