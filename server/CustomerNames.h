// Customer account -> customer name as it goes on the wire, for the rows of one reply. A long reply looks
// a name up for every row, customers in no order: the table is laid out flat (slots of a few bytes, the
// texts side by side) so that a look-up touches two or three cache lines rather than a chain of nodes.
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
    // The name of the account; false when it has none here.
    bool find(std::string_view account, std::string_view& wireName) const;
    std::size_t size() const { return m_count; }

private:
    static constexpr std::uint32_t kFree = UINT32_MAX;
    struct Slot {
        std::uint64_t hash = 0;
        std::uint32_t text = kFree; // offset of the account's bytes, its name right after them
        std::uint16_t accountLength = 0;
        std::uint16_t nameLength = 0;
        bool used() const { return text != kFree; }
    };
    static std::uint64_t hashOf(std::string_view account);
    void grow();

    std::vector<Slot> m_slots; // a power of two in size, at most half full
    std::string m_texts;
    std::size_t m_count = 0;
};

} // namespace orvo::server
