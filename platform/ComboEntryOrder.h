// The display order of a combo box's list, private to the window layer.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvo::combo {

// The display order of a list: entry ids in blocks of a few hundred, so that a sorted insertion into a
// list of 20,000 moves one block instead of the whole order. A flat copy serves the walks over the whole
// list and is made again only when one is asked for after a change.
class EntryOrder {
public:
    int Size() const { return m_size; }

    std::uint32_t At(int index) const {
        if (m_flatValid)
            return m_flat[static_cast<std::size_t>(index)];
        for (const auto& block : m_blocks) {
            const int count = static_cast<int>(block.size());
            if (index < count)
                return block[static_cast<std::size_t>(index)];
            index -= count;
        }
        return 0; // not reached for a valid index
    }

    const std::vector<std::uint32_t>& Flat() const {
        if (!m_flatValid) {
            m_flat.clear();
            m_flat.reserve(static_cast<std::size_t>(m_size));
            for (const auto& block : m_blocks)
                m_flat.insert(m_flat.end(), block.begin(), block.end());
            m_flatValid = true;
        }
        return m_flat;
    }

    // The index after every id that is not greater than the key (greater(key, id) tells), in an order that
    // is sorted by that comparison.
    template <typename Greater> int UpperBound(const Greater& greater) const {
        // The first block whose last entry sorts after the key, found by halving; then the place inside it.
        const auto block = std::partition_point(m_blocks.begin(), m_blocks.end(),
                                                [&](const auto& b) { return !greater(b.back()); });
        int before = 0;
        for (auto it = m_blocks.begin(); it != block; ++it)
            before += static_cast<int>(it->size());
        if (block == m_blocks.end())
            return before;
        const auto at = std::partition_point(block->begin(), block->end(),
                                             [&](std::uint32_t id) { return !greater(id); });
        return before + static_cast<int>(at - block->begin());
    }

    void Insert(int index, std::uint32_t id) {
        m_flatValid = false;
        ++m_size;
        if (m_blocks.empty()) {
            m_blocks.push_back({id});
            return;
        }
        std::size_t b = 0;
        for (; b + 1 < m_blocks.size() && index > static_cast<int>(m_blocks[b].size()); ++b)
            index -= static_cast<int>(m_blocks[b].size());
        auto& block = m_blocks[b];
        block.insert(block.begin() + std::min(index, static_cast<int>(block.size())), id);
        if (block.size() > 2 * kBlock) {
            std::vector<std::uint32_t> tail(block.begin() + kBlock, block.end());
            block.resize(kBlock);
            m_blocks.insert(m_blocks.begin() + static_cast<long>(b) + 1, std::move(tail));
        }
    }

    void Erase(int index) {
        m_flatValid = false;
        for (std::size_t b = 0; b < m_blocks.size(); ++b) {
            const int count = static_cast<int>(m_blocks[b].size());
            if (index < count) {
                m_blocks[b].erase(m_blocks[b].begin() + index);
                if (m_blocks[b].empty())
                    m_blocks.erase(m_blocks.begin() + static_cast<long>(b));
                --m_size;
                return;
            }
            index -= count;
        }
    }

    void Clear() {
        m_blocks.clear();
        m_flat.clear();
        m_flatValid = true;
        m_size = 0;
    }

    // The whole order at once.
    void Assign(std::vector<std::uint32_t> flat) {
        m_blocks.clear();
        for (std::size_t at = 0; at < flat.size(); at += kBlock)
            m_blocks.emplace_back(flat.begin() + static_cast<long>(at),
                                  flat.begin() + static_cast<long>(std::min(at + kBlock, flat.size())));
        m_size = static_cast<int>(flat.size());
        m_flat = std::move(flat);
        m_flatValid = true;
    }

private:
    static constexpr std::size_t kBlock = 256;
    std::vector<std::vector<std::uint32_t>> m_blocks;
    int m_size = 0;
    mutable std::vector<std::uint32_t> m_flat;
    mutable bool m_flatValid = true;
};

} // namespace orvo::combo
