#include "server/common/CustomerNames.h"

#include <algorithm>
#include <cstring>

namespace orvo::server {

std::uint32_t CustomerNames::hashOf(std::string_view account) {
    constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
    std::uint64_t h = account.size();
    while (!account.empty()) {
        std::uint64_t word = 0;
        const std::size_t take = std::min<std::size_t>(account.size(), sizeof word);
        std::memcpy(&word, account.data(), take);
        h = (h ^ word) * kMultiplier;
        h ^= h >> 32;
        account.remove_prefix(take);
    }
    return static_cast<std::uint32_t>(h ^ (h >> 29)); // the low bits pick the slot: fold the high ones in
}

void CustomerNames::add(std::string_view account, std::string_view wireName) {
    // Both texts fit their length fields and every offset stays below the marks; a text over the limits
    // is not kept (and its rules are not listed).
    const std::size_t both = account.size() + wireName.size();
    if (account.size() > UINT16_MAX || wireName.size() > UINT16_MAX || m_texts.size() + both >= kInline)
        return;
    if ((m_count + 1) * 4 > m_slots.size() * 3)
        grow();
    const std::uint32_t hash = hashOf(account);
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        Slot& slot = m_slots[i];
        if (!slot.used()) {
            slot.hash = hash;
            slot.accountLength = static_cast<std::uint16_t>(account.size());
            slot.nameLength = static_cast<std::uint16_t>(wireName.size());
            if (both <= kInlineBytes) {
                slot.text = kInline;
                std::memcpy(slot.bytes, account.data(), account.size());
                std::memcpy(slot.bytes + account.size(), wireName.data(), wireName.size());
            } else {
                slot.text = static_cast<std::uint32_t>(m_texts.size());
                m_texts.append(account).append(wireName);
            }
            ++m_count;
            return;
        }
        if (slot.hash == hash && std::string_view(textsOf(slot), slot.accountLength) == account)
            return;
    }
}

bool CustomerNames::find(std::string_view account, std::string_view& wireName) const {
    if (m_slots.empty())
        return false;
    const std::uint32_t hash = hashOf(account);
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& slot = m_slots[i];
        if (!slot.used())
            return false;
        if (slot.hash == hash && slot.accountLength == account.size()) {
            const char* texts = textsOf(slot);
            if (std::memcmp(texts, account.data(), account.size()) == 0) {
                wireName = std::string_view(texts + slot.accountLength, slot.nameLength);
                return true;
            }
        }
    }
}

void CustomerNames::grow() {
    std::vector<Slot> old = std::move(m_slots);
    m_slots.assign(old.empty() ? 64 : old.size() * 2, Slot{});
    const std::size_t mask = m_slots.size() - 1;
    for (const Slot& slot : old) {
        if (!slot.used())
            continue;
        std::size_t i = slot.hash & mask;
        while (m_slots[i].used())
            i = (i + 1) & mask;
        m_slots[i] = slot;
    }
}

} // namespace orvo::server
