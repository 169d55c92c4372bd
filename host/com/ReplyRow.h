// The reply row a CFixComm makes current, and the index of its tags: what the module reads item by item,
// a hundred thousand rows a reply, so the look-up is inline in every caller (see CFixComm::GetItemView).
#pragma once

#include "protocol/Items.h"
#include "protocol/Limits.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace orvo::com {

// Where the first item of each tag sits in the current row, so that reading a row's items costs one probe
// each instead of a walk of the row. Rows of one reply nearly always carry the same tags in the same order:
// the table is rebuilt only when a row's tag sequence differs from the one it describes, and a new row
// costs one comparison of its tags with that sequence, done at the first look-up.
class RowIndex {
public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    // A new row is current: the next look-up checks the table against it.
    void RowChanged() { m_checked = false; }

    // Position in `items` of the first item with `tag` at or after `first`, or npos. Tag 0 (a column-name
    // key) is never found.
    std::size_t First(std::span<const proto::Item> items, std::size_t first, std::uint32_t tag) {
        if (!m_checked)
            Check(items, first);
        if (tag == 0 || m_slots.empty())
            return npos;
        const std::size_t mask = m_slots.size() - 1;
        for (std::size_t slot = Home(tag, mask);; slot = (slot + 1) & mask) {
            const Slot& s = m_slots[slot];
            if (s.tag == tag)
                return first + s.position;
            if (s.tag == 0)
                return npos;
        }
    }

private:
    struct Slot {
        std::uint32_t tag = 0; // 0: free
        std::uint32_t position = 0;
    };

    static std::size_t Home(std::uint32_t tag, std::size_t mask) {
        return static_cast<std::size_t>((tag * 0x9E3779B1u) >> 8) & mask;
    }

    // Out of line: once per row, and it keeps the look-up itself small enough to inline into its callers.
    [[gnu::noinline]] void Check(std::span<const proto::Item> items, std::size_t first) {
        m_checked = true;
        const std::size_t count = items.size() > first ? items.size() - first : 0;
        bool same = count == m_tags.size();
        for (std::size_t i = 0; same && i < count; ++i)
            same = items[first + i].tag == m_tags[i];
        if (!same)
            Rebuild(items, first, count);
    }

    void Rebuild(std::span<const proto::Item> items, std::size_t first, std::size_t count) {
        m_tags.resize(count);
        std::size_t capacity = 16;
        while (capacity < count * 2)
            capacity *= 2;
        m_slots.assign(capacity, Slot{});
        const std::size_t mask = capacity - 1;
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint32_t tag = items[first + i].tag;
            m_tags[i] = tag;
            if (tag == 0)
                continue;
            std::size_t slot = Home(tag, mask);
            while (m_slots[slot].tag != 0 && m_slots[slot].tag != tag)
                slot = (slot + 1) & mask;
            if (m_slots[slot].tag == 0) // a repeated tag keeps its first position
                m_slots[slot] = Slot{tag, static_cast<std::uint32_t>(i)};
        }
    }

    bool m_checked = false;
    std::vector<std::uint32_t> m_tags; // the row tag sequence that m_slots describes
    std::vector<Slot> m_slots;         // open addressing, a power of two in size
};

// The current reply row: the items of the channel's current frame from the first one after the header,
// or none. Only the channel shows and hides it; the items stay the channel's (views into its receive
// buffer) and change with its next frame, so a row is shown only between reading a frame and the next read.
class ReplyRow {
public:
    void Show(std::span<const proto::Item> items, std::size_t first) {
        m_items = items;
        m_first = first;
        m_shown = true;
        m_index.RowChanged();
    }
    void Hide() { m_shown = false; }
    bool Shown() const { return m_shown; }

    // The row's first item with `tag`, or null (no row, no such item, a tag out of range).
    const proto::Item* First(long tag) {
        if (!m_shown || tag <= 0 || tag > static_cast<long>(proto::kMaxTag))
            return nullptr;
        const std::size_t i = m_index.First(m_items, m_first, static_cast<std::uint32_t>(tag));
        return i == RowIndex::npos ? nullptr : &m_items[i];
    }
    // The row's item with `tag` at repeat `index` (0-based; index <= 0 is the first), or null.
    const proto::Item* Find(long tag, int index) {
        const proto::Item* first = First(tag);
        if (!first || index <= 0)
            return first;
        const std::span<const proto::Item> items = m_items;
        int seen = 0;
        for (std::size_t i = static_cast<std::size_t>(first - items.data()); i < items.size(); ++i)
            if (items[i].tag == first->tag && seen++ == index)
                return &items[i];
        return nullptr;
    }

private:
    std::span<const proto::Item> m_items;
    std::size_t m_first = 0;
    bool m_shown = false;
    RowIndex m_index;
};

} // namespace orvo::com
