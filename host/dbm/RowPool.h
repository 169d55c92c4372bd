// The row storage of a record set. Internal to OvDBM15.
#pragma once

#include "host/dbm/RecordSchema.h"
#include "host/dbm/TextCell.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

namespace orvo::dbm {

// Storage for the rows of one record set: rows carved from chunks that grow with the set. A row once
// built stays built (its text cells constructed) until the columns change or the set goes: emptying the
// set, or deleting a row, only hands the row back, and handing it out again empties its cells in place.
// A query that refills its set thus neither destroys the old rows one by one, nor asks the heap row by
// row, nor faults in fresh pages. Large chunks are mapped from the system on their own, so the memory of a
// set that goes can be given back (from the heap it would stay with the process, in holes): such chunks
// wait for the next set until ReleaseSpareRowChunks().
class RowPool {
public:
    RowPool() = default;
    RowPool(const RowPool&) = delete;
    RowPool& operator=(const RowPool&) = delete;
    ~RowPool() { Release(); }

    // Rows of `schema`'s layout from now on: what the schema describes when this is called, until
    // Release(), which must come before the schema changes.
    void Adopt(const RecordSchema& schema) {
        Release();
        m_schema = &schema;
        m_rowSize = (std::max<std::size_t>(schema.RowSize(), 1) + 7) & ~std::size_t{7}; // 8-byte cells
        m_textBytes = schema.TextOffsets().size() * sizeof(TextCell); // text cells come first
    }
    // Destroys every row built and frees the chunks: no row may be in use.
    void Release();
    // Every row has been handed back: hand them out again from the first.
    void Recycle() {
        m_free.clear();
        m_chunk = 0;
        m_used = 0;
    }
    // An empty row: text cells "", numbers 0.
    std::byte* Take();
    // A row no longer in the set; it stays built for the next Take.
    void Give(std::byte* row) { m_free.push_back(row); }

private:
    static constexpr std::size_t kFirstChunkRows = 8;
    static constexpr std::size_t kMaxChunkBytes = 256 * 1024;
    // A chunk's memory: mapped pages from kMappedChunkBytes on, the heap below.
    struct ChunkFree {
        std::size_t bytes = 0;
        void operator()(std::byte* data) const;
    };
    static constexpr std::size_t kMappedChunkBytes = 128 * 1024;
    static std::unique_ptr<std::byte[], ChunkFree> AllocateChunk(std::size_t bytes);

    struct Chunk {
        std::unique_ptr<std::byte[], ChunkFree> data;
        std::size_t rows = 0;  // room for
        std::size_t built = 0; // rows at the front whose text cells are constructed
    };

    std::byte* Empty(std::byte* row) const;

    const RecordSchema* m_schema = nullptr; // the layout the built rows have
    std::vector<Chunk> m_chunks;
    std::vector<std::byte*> m_free;
    std::size_t m_chunk = 0; // the chunk rows are taken from
    std::size_t m_used = 0;  // rows of it handed out
    std::size_t m_rowSize = 8;
    std::size_t m_textBytes = 0;
};

// Unmaps the chunks kept from sets that went.
void ReleaseSpareRowChunks();

} // namespace orvo::dbm
