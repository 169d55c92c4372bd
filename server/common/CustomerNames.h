// Customer account -> customer name as it goes on the wire, for the rows of one reply. A long reply looks
// a name up for every row, customers in no order: the table is laid out flat, an account and its name
// kept inside their 32-byte slot when they fit (they nearly always do), so that a look-up usually
// touches one cache line rather than a chain of nodes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvo::server {

class CustomerNames {
public:
    // Keeps the first name given for an account.
    void add(std::string_view account, std::string_view wireName);
    // The name of the account; false when it has none here. The view holds until the next add().
    bool find(std::string_view account, std::string_view& wireName) const;
    std::size_t size() const { return m_count; }

private:
    static constexpr std::uint32_t kFree = UINT32_MAX;
    static constexpr std::uint32_t kInline = UINT32_MAX - 1;
    static constexpr std::size_t kInlineBytes = 20;
    struct Slot {
        std::uint32_t hash = 0;
        std::uint32_t text = kFree; // kFree, kInline, or the offset of the texts in m_texts
        std::uint16_t accountLength = 0;
        std::uint16_t nameLength = 0;
        char bytes[kInlineBytes] = {}; // the account, then the name, when text is kInline
        bool used() const { return text != kFree; }
    };
    static_assert(sizeof(Slot) == 32);

    static std::uint32_t hashOf(std::string_view account);
    const char* textsOf(const Slot& slot) const {
        return slot.text == kInline ? slot.bytes : m_texts.data() + slot.text;
    }
    void grow();

    std::vector<Slot> m_slots; // a power of two in size, at most three quarters full
    std::string m_texts;       // the texts that do not fit their slot
    std::size_t m_count = 0;
};

} // namespace orvo::server
