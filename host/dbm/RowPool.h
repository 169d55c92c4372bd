// The row storage of a record set. Internal to OvDBM15.
#pragma once

#include "host/dbm/RecordSchema.h"
#include "host/dbm/RowChunks.h"
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
// row, nor faults in fresh pages. A large set that goes leaves its built rows to the next set of the same
// shape once that one outgrows its first chunks (RowChunks.h): a query that fills a set of its own and
// lets the one shown before go gets the same.
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
    // Lets every row go, built rows to the next set of this shape or destroyed with their chunks: no row
    // may be in use.
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

    RowShape Shape() const { return {m_rowSize, &m_schema->TextOffsets()}; }
    // Room for the next rows: the built rows a set of this shape left once this set has outgrown its
    // first chunks (a small set never takes a large one's memory), else a new chunk.
    void AddChunk();
    std::byte* Empty(std::byte* row) const;

    const RecordSchema* m_schema = nullptr; // the layout the built rows have
    std::vector<RowChunk> m_chunks;
    std::vector<std::byte*> m_free;
    std::size_t m_chunk = 0; // the chunk rows are taken from
    std::size_t m_used = 0;  // rows of it handed out
    std::size_t m_rowSize = 8;
    std::size_t m_textBytes = 0;
};

} // namespace orvo::dbm
