// The memory rows are carved from, and what record sets that went leave of it for the sets filled next.
// Internal to OvDBM15.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace orvo::dbm {

// Frees a chunk's memory: a mapped chunk (bytes > 0) waits among the spare chunks for the next set, up to
// a bound; a chunk from the heap (bytes == 0) goes back to the heap.
struct ChunkFree {
    std::size_t bytes = 0;
    void operator()(std::byte* data) const;
};

// Room for `rows` rows, the first `built` of which have their text cells constructed.
struct RowChunk {
    std::unique_ptr<std::byte[], ChunkFree> data;
    std::size_t rows = 0;
    std::size_t built = 0;
};

// What a set's rows look like in memory: built rows can pass from one set to another when these agree.
struct RowShape {
    std::size_t rowSize = 0;
    const std::vector<std::size_t>* textOffsets = nullptr;
};

// Chunks from kMappedChunkBytes on are mapped from the system on their own, so that the memory of a set
// that goes can be given back (from the heap it would stay with the process, in holes); smaller ones come
// from the heap. A mapped chunk is taken from the spare chunks of its size when there is one.
constexpr std::size_t kMappedChunkBytes = 128 * 1024;
std::unique_ptr<std::byte[], ChunkFree> AllocateChunk(std::size_t bytes);

// Destroys the text cells of every built row of `chunks`, which then hold raw memory only.
void DestroyCells(std::vector<RowChunk>& chunks, RowShape shape);

// The chunks of a large set that goes, its rows still built (long texts keep their blocks), kept for the
// next set of the same shape: that set then neither builds its rows nor faults in their pages, and the
// set that went is let go without a step per row. False (nothing taken) when the set is too small to be
// worth it or the memory kept for the next sets is at its bound.
bool KeepBuiltRows(RowShape shape, std::vector<RowChunk>& chunks);
// Appends to `chunks` those of built rows kept for this shape, the latest kept first; false when none are.
bool TakeBuiltRows(RowShape shape, std::vector<RowChunk>& chunks);

// Gives the spare chunks and the kept built rows back to the system.
void ReleaseSpareRowChunks();

} // namespace orvo::dbm
