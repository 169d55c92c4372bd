#include "server/CustomerNames.h"

#include <algorithm>
#include <cstring>

namespace orvo::server {

std::uint64_t CustomerNames::hashOf(std::string_view account) {
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
    return h ^ (h >> 29); // the low bits pick the slot: fold the high ones in
}

void CustomerNames::add(std::string_view account, std::string_view wireName) {
    // Both texts fit their length fields and every offset stays below the free mark; a text over the
    // limits is not kept (and its rules are not listed).
    if (account.size() > UINT16_MAX || wireName.size() > UINT16_MAX ||
        m_texts.size() + account.size() + wireName.size() >= kFree)
        return;
    if ((m_count + 1) * 2 > m_slots.size())
        grow();
    const std::uint64_t hash = hashOf(account);
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = static_cast<std::size_t>(hash) & mask;; i = (i + 1) & mask) {
        Slot& slot = m_slots[i];
        if (!slot.used()) {
            slot =
                Slot{hash, static_cast<std::uint32_t>(m_texts.size()),
                     static_cast<std::uint16_t>(account.size()), static_cast<std::uint16_t>(wireName.size())};
            m_texts.append(account).append(wireName);
            ++m_count;
            return;
        }
        if (slot.hash == hash && std::string_view(m_texts).substr(slot.text, slot.accountLength) == account)
            return;
    }
}

bool CustomerNames::find(std::string_view account, std::string_view& wireName) const {
    if (m_slots.empty())
        return false;
    const std::uint64_t hash = hashOf(account);
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = static_cast<std::size_t>(hash) & mask;; i = (i + 1) & mask) {
        const Slot& slot = m_slots[i];
        if (!slot.used())
            return false;
        if (slot.hash == hash && slot.accountLength == account.size() &&
            std::memcmp(m_texts.data() + slot.text, account.data(), account.size()) == 0) {
            wireName = std::string_view(m_texts.data() + slot.text + slot.accountLength, slot.nameLength);
            return true;
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
        std::size_t i = static_cast<std::size_t>(slot.hash) & mask;
        while (m_slots[i].used())
            i = (i + 1) & mask;
        m_slots[i] = slot;
    }
}

} // namespace orvo::server
