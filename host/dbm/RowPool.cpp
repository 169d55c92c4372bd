#include "host/dbm/RowPool.h"

#include "host/dbm/RowCells.h"
#include "host/dbm/TextCell.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include <sys/mman.h>

namespace orvo::dbm {

namespace {

// Mapped chunks of sets that went, kept for the next set (a query refilling its list a moment later takes
// them without faulting in a page) until ReleaseSpareRowChunks, up to a bound.
struct SpareChunks {
    static constexpr std::size_t kMaxBytes = 64u << 20;
    std::mutex mutex;
    std::vector<std::pair<std::byte*, std::size_t>> chunks;
    std::size_t bytes = 0;
};

SpareChunks& spares() {
    static SpareChunks* chunks = new SpareChunks; // never destroyed: a set may go after static destruction
    return *chunks;
}

} // namespace

std::unique_ptr<std::byte[], RowPool::ChunkFree> RowPool::AllocateChunk(std::size_t bytes) {
    if (bytes < kMappedChunkBytes)
        return {new std::byte[bytes], ChunkFree{0}};
    {
        SpareChunks& spare = spares();
        const std::lock_guard lock(spare.mutex);
        const auto same = std::find_if(spare.chunks.begin(), spare.chunks.end(),
                                       [bytes](const auto& chunk) { return chunk.second == bytes; });
        if (same != spare.chunks.end()) {
            std::byte* data = same->first;
            spare.bytes -= bytes;
            spare.chunks.erase(same);
            return {data, ChunkFree{bytes}};
        }
    }
    // Populated at once: one call faults in the chunk's pages, not a fault for each page as rows are written.
    void* pages =
        ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (pages == MAP_FAILED)
        throw std::bad_alloc();
    return {static_cast<std::byte*>(pages), ChunkFree{bytes}};
}

void RowPool::ChunkFree::operator()(std::byte* data) const {
    if (bytes == 0) {
        delete[] data;
        return;
    }
    {
        SpareChunks& spare = spares();
        const std::lock_guard lock(spare.mutex);
        if (spare.bytes + bytes <= SpareChunks::kMaxBytes) {
            spare.chunks.emplace_back(data, bytes);
            spare.bytes += bytes;
            return;
        }
    }
    ::munmap(data, bytes);
}

void ReleaseSpareRowChunks() {
    std::vector<std::pair<std::byte*, std::size_t>> chunks;
    {
        SpareChunks& spare = spares();
        const std::lock_guard lock(spare.mutex);
        chunks.swap(spare.chunks);
        spare.bytes = 0;
    }
    for (const auto& [data, bytes] : chunks)
        ::munmap(data, bytes);
}

void RowPool::Release() {
    if (m_schema)
        for (Chunk& chunk : m_chunks)
            for (std::size_t i = 0; i < chunk.built; ++i)
                for (const std::size_t offset : m_schema->TextOffsets())
                    textCell(chunk.data.get() + m_rowSize * i, offset).~TextCell();
    m_chunks.clear();
    Recycle();
}

std::byte* RowPool::Take() {
    if (!m_free.empty()) {
        std::byte* row = m_free.back();
        m_free.pop_back();
        return Empty(row);
    }
    while (m_chunk < m_chunks.size() && m_used == m_chunks[m_chunk].rows) {
        ++m_chunk;
        m_used = 0;
    }
    if (m_chunk == m_chunks.size()) {
        // Chunks double from a few rows (small code tables stay small) up to about 256 KiB.
        const std::size_t previous = m_chunks.empty() ? 0 : m_chunks.back().rows;
        const std::size_t limit = std::max<std::size_t>(kMaxChunkBytes / m_rowSize, 1);
        const std::size_t rows = std::clamp<std::size_t>(previous * 2, kFirstChunkRows, limit);
        m_chunks.push_back(Chunk{AllocateChunk(rows * m_rowSize), rows, 0});
    }
    Chunk& chunk = m_chunks[m_chunk];
    std::byte* row = chunk.data.get() + m_rowSize * m_used;
    if (m_used++ < chunk.built)
        return Empty(row);
    ++chunk.built;
    std::memset(row, 0, m_rowSize);
    for (const std::size_t offset : m_schema->TextOffsets())
        new (row + offset) TextCell();
    return row;
}

std::byte* RowPool::Empty(std::byte* row) const {
    for (const std::size_t offset : m_schema->TextOffsets())
        textCell(row, offset).Clear();
    std::memset(row + m_textBytes, 0, m_rowSize - m_textBytes);
    return row;
}

} // namespace orvo::dbm
