// The columns of a record set as a layout string defines them, where each column's value sits inside a
// row, and a name -> column index table. Internal to OvDBM15.
#pragma once

#include "host/dbm/MemRecord.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvo::dbm {

class RecordSchema {
public:
    // Parses "name[I],name[Cn],name[Rw.d],..."; false (and the schema left empty) on a malformed layout.
    bool Parse(std::string_view layout);
    void Clear();
    // Real columns show up to `maxDecimals` digits after the point when the value has them.
    void WidenRealDecimals(int maxDecimals);

    int FieldCount() const { return static_cast<int>(m_fields.size()); }
    const FieldInfo& Field(int index) const { return m_fields[static_cast<std::size_t>(index)]; }
    std::size_t Offset(int index) const { return m_cells[static_cast<std::size_t>(index)].offset; }
    // Where a column's cells sit in a row and how they are stored, packed for the writes of every cell.
    struct Cell {
        std::size_t offset;
        FieldType type;
    };
    // Column `index`'s cell, or null when there is no such column: one compare for the range check.
    const Cell* CellAt(int index) const {
        return static_cast<std::size_t>(index) < m_cells.size() ? &m_cells[static_cast<std::size_t>(index)]
                                                                : nullptr;
    }
    // Every column's cell, for loops over many writes: a local copy of the span is not reloaded per write.
    std::span<const Cell> Cells() const { return m_cells; }
    std::size_t RowSize() const { return m_rowSize; }
    const std::vector<std::size_t>& TextOffsets() const { return m_textOffsets; }
    const std::string& Layout() const { return m_layout; }

    // Column index by exact (byte for byte) name, -1 when unknown. The hints for the name's pointer are
    // tried first, inline: a hit costs a few pointer compares and a compare of the (short) name.
    int Find(const char* name) const {
        if (name) {
            const std::size_t home = cacheHome(name);
            for (std::size_t probe = 0; probe < kCacheProbes; ++probe) {
                const CacheEntry& entry = m_cache[(home + probe) & (kCacheSize - 1)];
                const char* cachedName = entry.name.load(std::memory_order_relaxed);
                if (cachedName == name) {
                    const int cached = entry.index.load(std::memory_order_relaxed);
                    if (nameIs(cached, name))
                        return cached;
                    break;
                }
                if (!cachedName)
                    break; // entries fill in probe order: the name is not further on
            }
        }
        return findSlow(name);
    }

    RecordSchema() = default;
    RecordSchema(const RecordSchema& other);
    RecordSchema& operator=(const RecordSchema& other);

private:
    int findSlow(const char* name) const;
    int findByHash(const char* name) const;

    // Whether `name` is exactly the `Length` bytes of `stored`. Byte by byte, in order: a stored name holds
    // no NUL, so a shorter `name` fails at its end without a read past it. A fixed length unrolls into
    // compares that (on a hit) always go the same way, which the hot path of every Set and Get relies on.
    template <std::size_t Length> static bool sameName(const char* name, const char* stored) {
        for (std::size_t i = 0; i < Length; ++i)
            if (name[i] != stored[i])
                return false;
        return name[Length] == '\0';
    }

    // Whether column `index` is named `name`.
    bool nameIs(int index, const char* name) const {
        if (index < 0 || index >= FieldCount())
            return false;
        const std::string& stored = m_fields[static_cast<std::size_t>(index)].name.str();
        const char* s = stored.data();
        switch (stored.size()) { // names are short: three Latin letters, or two to six GBK characters
        case 1:
            return sameName<1>(name, s);
        case 2:
            return sameName<2>(name, s);
        case 3:
            return sameName<3>(name, s);
        case 4:
            return sameName<4>(name, s);
        case 5:
            return sameName<5>(name, s);
        case 6:
            return sameName<6>(name, s);
        case 7:
            return sameName<7>(name, s);
        case 8:
            return sameName<8>(name, s);
        case 9:
            return sameName<9>(name, s);
        case 10:
            return sameName<10>(name, s);
        case 11:
            return sameName<11>(name, s);
        case 12:
            return sameName<12>(name, s);
        default:
            for (std::size_t i = 0; i < stored.size(); ++i)
                if (name[i] != s[i])
                    return false;
            return name[stored.size()] == '\0';
        }
    }

    // Callers pass the same few name pointers (literals, converted constants) again and again: a small
    // direct-mapped cache from pointer to column skips the hashing. An entry is only a hint; its column's
    // name is compared with the text every time, so a reused buffer holding another name cannot mislead it.
    // The entries are relaxed atomics because const reads from several threads may refresh them.
    struct CacheEntry {
        std::atomic<const char*> name{nullptr};
        std::atomic<int> index{-1};
    };
    // Room for a few hundred names: a layout's names, passed from a few call sites each, seldom share a
    // probe window, so they do not evict each other.
    static constexpr unsigned kCacheBits = 9;
    static constexpr std::size_t kCacheSize = std::size_t{1} << kCacheBits;
    static constexpr std::size_t kCacheProbes = 4;
    static std::size_t cacheHome(const char* name) { // the top bits of a multiplicative hash
        return static_cast<std::size_t>((reinterpret_cast<std::uintptr_t>(name) * 0x9E3779B97F4A7C15ull) >>
                                        (64 - kCacheBits));
    }
    mutable std::array<CacheEntry, kCacheSize> m_cache;
    void clearCache();

    static std::size_t hash(const char* name, std::size_t* length);
    void buildIndex();

    std::vector<FieldInfo> m_fields;
    std::vector<Cell> m_cells; // one per field
    std::vector<std::size_t> m_textOffsets;
    std::vector<int> m_index; // open addressing over name hashes; -1 marks a free slot
    std::size_t m_rowSize = 0;
    std::string m_layout;
};

} // namespace orvo::dbm
