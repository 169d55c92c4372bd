#include "server/store/RowCache.h"

namespace orvo::server {

RowCache::RowCache(std::size_t limitBytes) : m_limit(limitBytes) {}

std::size_t RowCache::Shard::find(const RowKey& key) const {
    if (index.empty())
        return 0;
    const std::size_t mask = index.size() - 1;
    for (std::size_t i = placeOf(key) & mask;; i = (i + 1) & mask) {
        const IndexEntry& entry = index[i];
        if (entry.slot == kNoSlot)
            return index.size();
        if (entry.key == key)
            return i;
    }
}

void RowCache::Shard::insert(const RowKey& key, std::uint32_t slot) {
    if ((count + 1) * 2 > index.size()) {
        std::vector<IndexEntry> old = std::move(index);
        index.assign(old.empty() ? 1024 : old.size() * 2, IndexEntry{});
        count = 0;
        for (const IndexEntry& entry : old)
            if (entry.slot != kNoSlot)
                insert(entry.key, entry.slot);
    }
    const std::size_t mask = index.size() - 1;
    std::size_t i = placeOf(key) & mask;
    while (index[i].slot != kNoSlot)
        i = (i + 1) & mask;
    index[i] = {key, slot};
    ++count;
}

void RowCache::Shard::erase(std::size_t position) {
    // Entries after the hole that belong at or before it move up, so every probe still finds its key.
    const std::size_t mask = index.size() - 1;
    std::size_t hole = position;
    for (std::size_t i = (hole + 1) & mask; index[i].slot != kNoSlot; i = (i + 1) & mask) {
        const std::size_t home = placeOf(index[i].key) & mask;
        if (((i - home) & mask) >= ((i - hole) & mask)) {
            index[hole] = index[i];
            hole = i;
        }
    }
    index[hole] = IndexEntry{};
    --count;
}

void RowCache::release(Shard& shard, std::size_t position) {
    const std::uint32_t slot = shard.index[position].slot;
    Slot& s = shard.slots[slot];
    shard.erase(position);
    const std::size_t cost = costOf(s.items.size());
    shard.bytes -= cost;
    m_bytes -= cost;
    s.items = std::string(); // give the memory back, not just the length
    s.used = false;
    s.referenced = false;
    shard.freeSlots.push_back(slot);
}

bool RowCache::makeRoom(Shard& shard, std::size_t needed) {
    if (needed > m_limit)
        return false;
    // Two turns of the hand clear every second chance, so the loop ends.
    for (std::size_t steps = 0; m_bytes + needed > m_limit && steps < 2 * shard.slots.size(); ++steps) {
        if (shard.hand >= shard.slots.size())
            shard.hand = 0;
        Slot& s = shard.slots[shard.hand];
        if (s.used) {
            if (s.referenced)
                s.referenced = false;
            else
                release(shard, shard.find(s.key));
        }
        ++shard.hand;
    }
    return m_bytes + needed <= m_limit;
}

void RowCache::store(const RowKey& key, std::int64_t rev, std::string_view items) {
    if (m_limit == 0)
        return;
    Shard& shard = m_shards[shardOf(key)];
    const std::lock_guard guard(shard.lock);
    if (const std::size_t position = shard.find(key); position != shard.index.size())
        release(shard, position);
    const std::size_t cost = costOf(items.size());
    if (!makeRoom(shard, cost))
        return;
    std::uint32_t slot = 0;
    if (!shard.freeSlots.empty()) {
        slot = shard.freeSlots.back();
        shard.freeSlots.pop_back();
    } else {
        slot = static_cast<std::uint32_t>(shard.slots.size());
        shard.slots.emplace_back();
    }
    Slot& s = shard.slots[slot];
    s.key = key;
    s.rev = rev;
    s.items.assign(items);
    s.used = true;
    s.referenced = false;
    shard.insert(key, slot);
    shard.bytes += cost;
    m_bytes += cost;
}

std::size_t RowCache::bytes() const {
    return m_bytes;
}

std::size_t RowCache::entries() const {
    std::size_t total = 0;
    for (const Shard& shard : m_shards) {
        const std::lock_guard guard(shard.lock);
        total += shard.count;
    }
    return total;
}

} // namespace orvo::server
