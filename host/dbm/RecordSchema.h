// The columns of a record set as a layout string defines them, where each column's value sits inside a
// row, and a name -> column index table. Internal to OvDBM15.
#pragma once

#include "host/dbm/MemRecord.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace orvo::dbm {

class RecordSchema {
public:
    // Parses "name[I],name[Cn],name[Rw.d],..."; false (and the schema left empty) on a malformed layout.
    bool Parse(std::string_view layout);
    void Clear();

    int FieldCount() const { return static_cast<int>(m_fields.size()); }
    const FieldInfo& Field(int index) const { return m_fields[static_cast<std::size_t>(index)]; }
    std::size_t Offset(int index) const { return m_offsets[static_cast<std::size_t>(index)]; }
    std::size_t RowSize() const { return m_rowSize; }
    const std::vector<std::size_t>& TextOffsets() const { return m_textOffsets; }
    const std::string& Layout() const { return m_layout; }

    // Column index by exact (byte for byte) name, -1 when unknown.
    int Find(const char* name) const;

    RecordSchema() = default;
    RecordSchema(const RecordSchema& other);
    RecordSchema& operator=(const RecordSchema& other);

private:
    int findByHash(const char* name) const;
    bool nameIs(int index, const char* name) const;

    // Callers pass the same few name pointers (literals, converted constants) again and again: a small
    // direct-mapped cache from pointer to column skips the hashing. An entry is only a hint; its column's
    // name is compared with the text every time, so a reused buffer holding another name cannot mislead it.
    // The entries are relaxed atomics because const reads from several threads may refresh them.
    struct CacheEntry {
        std::atomic<const char*> name{nullptr};
        std::atomic<int> index{-1};
    };
    static constexpr std::size_t kCacheSize = 128; // a power of two
    static constexpr std::size_t kCacheProbes = 4;
    mutable std::array<CacheEntry, kCacheSize> m_cache;
    void clearCache();

    static std::size_t hash(const char* name, std::size_t* length);
    void buildIndex();

    std::vector<FieldInfo> m_fields;
    std::vector<std::size_t> m_offsets;
    std::vector<std::size_t> m_textOffsets;
    std::vector<int> m_index; // open addressing over name hashes; -1 marks a free slot
    std::size_t m_rowSize = 0;
    std::string m_layout;
};

} // namespace orvo::dbm
