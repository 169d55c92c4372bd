#include "host/dbm/RowPool.h"

#include "host/dbm/RowCells.h"
#include "host/dbm/TextCell.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace orvo::dbm {

void RowPool::Release() {
    if (m_schema && !KeepBuiltRows(Shape(), m_chunks)) {
        DestroyCells(m_chunks, Shape());
        m_chunks.clear();
    }
    Recycle();
}

void RowPool::AddChunk() {
    // Chunks double from a few rows (small code tables stay small) up to about 256 KiB.
    const std::size_t previous = m_chunks.empty() ? 0 : m_chunks.back().rows;
    const std::size_t limit = std::max<std::size_t>(kMaxChunkBytes / m_rowSize, 1);
    const std::size_t rows = std::clamp<std::size_t>(previous * 2, kFirstChunkRows, limit);
    if (rows * m_rowSize >= kMappedChunkBytes && TakeBuiltRows(Shape(), m_chunks))
        return;
    m_chunks.push_back(RowChunk{AllocateChunk(rows * m_rowSize), rows, 0});
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
    if (m_chunk == m_chunks.size())
        AddChunk();
    RowChunk& chunk = m_chunks[m_chunk];
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
