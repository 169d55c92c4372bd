#include "host/dbm/RowChunks.h"

#include "host/dbm/RowCells.h"
#include "host/dbm/TextCell.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
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
    std::size_t bytes = 0;      // of both
    unsigned long long era = 0; // counts ReleaseSpareRowChunks: chunks mapped ahead before one are not kept
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

std::byte* MapPopulated(std::size_t bytes) {
    void* pages =
        ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    return pages == MAP_FAILED ? nullptr : static_cast<std::byte*>(pages);
}

std::size_t SparesOfSize(const Spares& spare, std::size_t bytes) {
    return static_cast<std::size_t>(
        std::count_if(spare.chunks.begin(), spare.chunks.end(),
                      [bytes](const auto& chunk) { return chunk.second == bytes; }));
}

// A set that grows into memory the process does not have maps each chunk and faults in its pages on the
// thread that fills it: 8,000 pages for the 100,000 rows of a rule list, 10-30 ms. Asked by that thread,
// this one maps the next few chunks of that size meanwhile and leaves them among the spare chunks, so that
// on a machine of two cores or more the pages are faulted in beside the filling (the reply still arriving).
// It keeps at most kAhead chunks ready and stops when the memory kept for the next sets is at its bound or
// is given back.
class ChunksAhead {
public:
    static constexpr std::size_t kAhead = 8;

    static ChunksAhead& Instance() {
        // Never destroyed: its thread runs until the process ends.
        static ChunksAhead* ahead = new ChunksAhead;
        return *ahead;
    }
    // Chunks of `bytes` are wanted until the spares are given back after `era`. Called without the
    // spares' lock held.
    void Want(std::size_t bytes, unsigned long long era) {
        {
            const std::lock_guard lock(m_mutex);
            m_bytes = bytes;
            m_era = era;
            if (!m_started) {
                m_started = true;
                try {
                    std::thread([this] { Run(); }).detach();
                } catch (const std::system_error&) {
                    m_started = false; // no thread: chunks are mapped where they are needed, as before
                    m_bytes = 0;
                    return;
                }
            }
        }
        m_wake.notify_one();
    }

private:
    ChunksAhead() = default;

    void Run() {
        for (;;) {
            std::size_t bytes = 0;
            unsigned long long era = 0;
            {
                std::unique_lock lock(m_mutex);
                // A time-out, so that a lost wake-up costs a second at most.
                m_wake.wait_for(lock, std::chrono::seconds(1), [this] { return m_bytes != 0; });
                bytes = std::exchange(m_bytes, 0);
                era = m_era;
            }
            if (bytes != 0)
                MapAhead(bytes, era);
        }
    }

    static void MapAhead(std::size_t bytes, unsigned long long era) {
        Spares& spare = spares();
        for (;;) {
            {
                const std::lock_guard lock(spare.mutex);
                if (spare.era != era || SparesOfSize(spare, bytes) >= kAhead ||
                    spare.bytes + bytes > Spares::kMaxBytes)
                    return;
            }
            std::byte* data = MapPopulated(bytes);
            if (!data)
                return;
            {
                const std::lock_guard lock(spare.mutex);
                if (spare.era == era && spare.bytes + bytes <= Spares::kMaxBytes) {
                    spare.chunks.emplace_back(data, bytes);
                    spare.bytes += bytes;
                    continue;
                }
            }
            ::munmap(data, bytes); // given back meanwhile, or no room left
            return;
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::size_t m_bytes = 0; // the size of the chunks wanted; 0: none asked since the last look
    unsigned long long m_era = 0;
    bool m_started = false;
};

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
    std::byte* data = nullptr;
    bool few = true; // ready chunks of this size running out: the next ones are mapped ahead
    unsigned long long era = 0;
    {
        Spares& spare = spares();
        const std::lock_guard lock(spare.mutex);
        era = spare.era;
        const auto same = std::find_if(spare.chunks.rbegin(), spare.chunks.rend(),
                                       [bytes](const auto& chunk) { return chunk.second == bytes; });
        if (same != spare.chunks.rend()) {
            data = same->first;
            spare.bytes -= bytes;
            spare.chunks.erase(std::next(same).base());
            few = SparesOfSize(spare, bytes) < ChunksAhead::kAhead / 2;
        }
    }
    if (few)
        ChunksAhead::Instance().Want(bytes, era);
    // Populated at once: one call faults in the chunk's pages, not a fault for each page as rows are written.
    if (!data && !(data = MapPopulated(bytes)))
        throw std::bad_alloc();
    return {data, ChunkFree{bytes}};
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
        ++spare.era;
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
