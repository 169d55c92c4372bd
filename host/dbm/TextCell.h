// A record set's text cell: 16 bytes, half a std::string. Texts of up to 15 bytes (nearly every cell: codes,
// dates, names, prices) sit inside it; a longer one goes to a heap block the cell owns and keeps, as a
// string keeps its capacity, so that a row reused for the next query writes in place. Internal to OvDBM15.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string_view>

namespace orvo::dbm {

// What a C string of these bytes would say: they end at the first NUL. Eight bytes at a time inline, and
// memchr only for long texts, where it pays for its call.
inline std::string_view UpToNul(std::string_view bytes) {
    constexpr std::size_t kInlineSearch = 64;
    const char* const data = bytes.data();
    const std::size_t size = bytes.size();
    if (size > kInlineSearch) {
        if (const void* nul = std::memchr(data, '\0', size))
            return bytes.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - data));
        return bytes;
    }
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, data + i, 8);
        if (((word - 0x0101010101010101ull) & ~word & 0x8080808080808080ull) != 0)
            break; // a NUL among these eight: the byte loop below finds the first
    }
    for (; i < size; ++i)
        if (data[i] == '\0')
            return bytes.substr(0, i);
    return bytes;
}

class alignas(8) TextCell {
public:
    static constexpr std::size_t kInlineBytes = 15;

    TextCell() noexcept { std::memset(m_bytes, 0, sizeof m_bytes); }
    ~TextCell() {
        if (OnHeap())
            Free(HeapData());
    }
    TextCell(const TextCell&) = delete;
    TextCell& operator=(const TextCell&) = delete;

    std::string_view View() const {
        if (!OnHeap())
            return {m_bytes, static_cast<unsigned char>(m_bytes[kInlineBytes])};
        return {HeapData(), HeapSize()};
    }

    void Clear() {
        if (OnHeap())
            SetHeapSize(0);
        else
            m_bytes[kInlineBytes] = 0;
    }

    // Assign(UpToNul(bytes)). A short text is checked for a NUL in the words that copy it.
    void AssignUpToNul(std::string_view bytes) {
        const std::size_t size = bytes.size();
        if (size <= kInlineBytes && !OnHeap() && CopyShortWithoutNul(m_bytes, bytes.data(), size)) {
            m_bytes[kInlineBytes] = static_cast<char>(size);
            return;
        }
        Assign(UpToNul(bytes));
    }

    // The text may lie anywhere, this cell's own bytes included.
    void Assign(std::string_view text) {
        const std::size_t size = text.size();
        if (!OnHeap()) {
            if (size <= kInlineBytes) {
                CopyShort(m_bytes, text.data(), size);
                m_bytes[kInlineBytes] = static_cast<char>(size);
                return;
            }
            // Inline bytes cannot be the source of a longer text: the block is filled before the switch.
            char* block = Allocate(size);
            std::memcpy(block, text.data(), size);
            SetHeap(block, size);
            return;
        }
        if (size <= HeapCapacity()) {
            std::memmove(HeapData(), text.data(), size);
            SetHeapSize(size);
            return;
        }
        char* block = Allocate(size);
        std::memcpy(block, text.data(), size); // before the old block (a possible source) goes
        Free(HeapData());
        SetHeap(block, size);
    }

private:
    // Layout: inline, bytes 0..14 hold the text and byte 15 its length; on the heap, byte 15 is kHeapTag,
    // bytes 0..7 point at the text in the block (its capacity in the 4 bytes before) and 8..11 hold the
    // length.
    static constexpr unsigned char kHeapTag = 0xFF;
    static constexpr std::size_t kMaxHeapBytes = 0xFFFFFFFFu;

    bool OnHeap() const { return static_cast<unsigned char>(m_bytes[kInlineBytes]) == kHeapTag; }

    // A block of room for at least `size` bytes of text behind its 4-byte capacity.
    static char* Allocate(std::size_t size) {
        if (size > kMaxHeapBytes - 16)
            throw std::length_error("record set text cell over 4 GiB");
        const std::size_t room = (size + 15) & ~std::size_t{15};
        void* block = std::malloc(room + sizeof(std::uint32_t));
        if (!block)
            throw std::bad_alloc();
        const auto capacity = static_cast<std::uint32_t>(room);
        std::memcpy(block, &capacity, sizeof capacity);
        return static_cast<char*>(block) + sizeof(std::uint32_t);
    }
    static void Free(char* data) { std::free(data - sizeof(std::uint32_t)); }

    char* HeapData() const {
        char* data = nullptr;
        std::memcpy(&data, m_bytes, sizeof data);
        return data;
    }
    std::size_t HeapSize() const {
        std::uint32_t size = 0;
        std::memcpy(&size, m_bytes + 8, sizeof size);
        return size;
    }
    std::size_t HeapCapacity() const {
        std::uint32_t capacity = 0;
        std::memcpy(&capacity, HeapData() - sizeof capacity, sizeof capacity);
        return capacity;
    }
    void SetHeapSize(std::size_t size) {
        const auto stored = static_cast<std::uint32_t>(size);
        std::memcpy(m_bytes + 8, &stored, sizeof stored);
    }
    void SetHeap(char* data, std::size_t size) {
        std::memcpy(m_bytes, &data, sizeof data);
        SetHeapSize(size);
        m_bytes[kInlineBytes] = static_cast<char>(kHeapTag);
    }

    // memmove of at most 15 bytes without a call: every load before any store, so the source may overlap.
    static void CopyShort(char* to, const char* from, std::size_t size) {
        if (size >= 8) {
            std::uint64_t head, tail;
            std::memcpy(&head, from, 8);
            std::memcpy(&tail, from + size - 8, 8);
            std::memcpy(to, &head, 8);
            std::memcpy(to + size - 8, &tail, 8);
        } else if (size >= 4) {
            std::uint32_t head, tail;
            std::memcpy(&head, from, 4);
            std::memcpy(&tail, from + size - 4, 4);
            std::memcpy(to, &head, 4);
            std::memcpy(to + size - 4, &tail, 4);
        } else if (size > 0) {
            const char first = from[0], middle = from[size / 2], last = from[size - 1];
            to[0] = first;
            to[size / 2] = middle;
            to[size - 1] = last;
        }
    }

    static bool HasNul(std::uint64_t word) {
        return ((word - 0x0101010101010101ull) & ~word & 0x8080808080808080ull) != 0;
    }
    static bool HasNul(std::uint32_t word) { return ((word - 0x01010101u) & ~word & 0x80808080u) != 0; }

    // CopyShort when the bytes hold no NUL; false (nothing stored) when they do.
    static bool CopyShortWithoutNul(char* to, const char* from, std::size_t size) {
        if (size >= 8) {
            std::uint64_t head, tail;
            std::memcpy(&head, from, 8);
            std::memcpy(&tail, from + size - 8, 8);
            if (HasNul(head) || HasNul(tail))
                return false;
            std::memcpy(to, &head, 8);
            std::memcpy(to + size - 8, &tail, 8);
        } else if (size >= 4) {
            std::uint32_t head, tail;
            std::memcpy(&head, from, 4);
            std::memcpy(&tail, from + size - 4, 4);
            if (HasNul(head) || HasNul(tail))
                return false;
            std::memcpy(to, &head, 4);
            std::memcpy(to + size - 4, &tail, 4);
        } else if (size > 0) {
            const char first = from[0], middle = from[size / 2], last = from[size - 1];
            if (first == '\0' || middle == '\0' || last == '\0')
                return false;
            to[0] = first;
            to[size / 2] = middle;
            to[size - 1] = last;
        }
        return true;
    }

    char m_bytes[16];
};

static_assert(sizeof(TextCell) == 16);

} // namespace orvo::dbm
