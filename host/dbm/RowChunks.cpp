#include "host/dbm/RowChunks.h"

#include "host/dbm/RowCells.h"
#include "host/dbm/TextCell.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <utility>

#include <sys/mman.h>

namespace orvo::dbm {

namespace {

struct BuiltRows {
    std::size_t rowSize = 0;
    std::vector<std::size_t> textOffsets;
    std::vector<RowChunk> chunks;
    std::size_t bytes = 0;
};

// What sets that went left for the next sets (a query refilling its list a moment later takes it
// without faulting in a page), until ReleaseSpareRowChunks, up to one bound for both kinds.
struct Spares {
    static constexpr std::size_t kMaxBytes = 64u << 20;
    std::mutex mutex;
    std::vector<std::pair<std::byte*, std::size_t>> chunks; // mapped, raw memory
    std::vector<BuiltRows> built;
    std::size_t bytes = 0; // of both
};

Spares& spares() {
    static Spares* kept = new Spares; // never destroyed: a set may go after static destruction
    return *kept;
}

std::size_t ChunkBytes(const std::vector<RowChunk>& chunks, std::size_t rowSize) {
    std::size_t bytes = 0;
    for (const RowChunk& chunk : chunks)
        bytes += chunk.rows * rowSize;
    return bytes;
}

bool SameShape(const BuiltRows& kept, RowShape shape) {
    return kept.rowSize == shape.rowSize && kept.textOffsets == *shape.textOffsets;
}

// Frees a chunk's memory at once, past the spare chunks.
void FreeNow(RowChunk& chunk) {
    const std::size_t bytes = chunk.data.get_deleter().bytes;
    std::byte* data = chunk.data.release();
    if (bytes == 0)
        delete[] data;
    else
        ::munmap(data, bytes);
}

} // namespace

std::unique_ptr<std::byte[], ChunkFree> AllocateChunk(std::size_t bytes) {
    if (bytes < kMappedChunkBytes)
        return {new std::byte[bytes], ChunkFree{0}};
    {
        Spares& spare = spares();
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

void ChunkFree::operator()(std::byte* data) const {
    if (bytes == 0) {
        delete[] data;
        return;
    }
    {
        Spares& spare = spares();
        const std::lock_guard lock(spare.mutex);
        if (spare.bytes + bytes <= Spares::kMaxBytes) {
            spare.chunks.emplace_back(data, bytes);
            spare.bytes += bytes;
            return;
        }
    }
    ::munmap(data, bytes);
}

void DestroyCells(std::vector<RowChunk>& chunks, RowShape shape) {
    for (RowChunk& chunk : chunks) {
        for (std::size_t i = 0; i < chunk.built; ++i)
            for (const std::size_t offset : *shape.textOffsets)
                textCell(chunk.data.get() + shape.rowSize * i, offset).~TextCell();
        chunk.built = 0;
    }
}

bool KeepBuiltRows(RowShape shape, std::vector<RowChunk>& chunks) {
    const bool mapped = std::any_of(chunks.begin(), chunks.end(), [](const RowChunk& chunk) {
        return chunk.data.get_deleter().bytes != 0;
    });
    if (!mapped)
        return false; // a small set: building its rows again costs little
    BuiltRows kept{shape.rowSize, *shape.textOffsets, {}, ChunkBytes(chunks, shape.rowSize)};
    std::vector<std::pair<std::byte*, std::size_t>> unmap;
    {
        Spares& spare = spares();
        const std::lock_guard lock(spare.mutex);
        // Built rows are worth more to the next set than raw chunks: these make room first.
        while (spare.bytes + kept.bytes > Spares::kMaxBytes && !spare.chunks.empty()) {
            spare.bytes -= spare.chunks.back().second;
            unmap.push_back(spare.chunks.back());
            spare.chunks.pop_back();
        }
        if (spare.bytes + kept.bytes <= Spares::kMaxBytes) {
            kept.chunks = std::move(chunks);
            chunks.clear();
            spare.bytes += kept.bytes;
            spare.built.push_back(std::move(kept));
        }
    }
    for (const auto& [data, bytes] : unmap)
        ::munmap(data, bytes);
    return chunks.empty();
}

bool TakeBuiltRows(RowShape shape, std::vector<RowChunk>& chunks) {
    BuiltRows taken;
    {
        Spares& spare = spares();
        const std::lock_guard lock(spare.mutex);
        const auto latest = std::find_if(spare.built.rbegin(), spare.built.rend(),
                                         [shape](const BuiltRows& kept) { return SameShape(kept, shape); });
        if (latest == spare.built.rend())
            return false;
        taken = std::move(*latest);
        spare.built.erase(std::next(latest).base());
        spare.bytes -= taken.bytes;
    }
    chunks.insert(chunks.end(), std::make_move_iterator(taken.chunks.begin()),
                  std::make_move_iterator(taken.chunks.end()));
    return true;
}

void ReleaseSpareRowChunks() {
    std::vector<std::pair<std::byte*, std::size_t>> chunks;
    std::vector<BuiltRows> built;
    {
        Spares& spare = spares();
        const std::lock_guard lock(spare.mutex);
        chunks.swap(spare.chunks);
        built.swap(spare.built);
        spare.bytes = 0;
    }
    for (BuiltRows& kept : built) {
        DestroyCells(kept.chunks, {kept.rowSize, &kept.textOffsets});
        for (RowChunk& chunk : kept.chunks)
            FreeNow(chunk);
    }
    for (const auto& [data, bytes] : chunks)
        ::munmap(data, bytes);
}

} // namespace orvo::dbm
