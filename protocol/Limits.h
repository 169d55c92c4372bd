// Hard limits of the counter channel protocol.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvo::proto {

inline constexpr std::uint32_t kMaxFrameSize = 16u * 1024u * 1024u; // body bytes of one frame
inline constexpr std::uint32_t kMaxItemsPerFrame = 4096;            // a table row of many columns fits
inline constexpr std::uint32_t kMaxItemsPerRequest = 256;           // what a server accepts in a request
inline constexpr std::uint32_t kMaxTag = 2147483647;
inline constexpr std::size_t kMaxTagDigits = 10;
inline constexpr std::size_t kMaxColumnNameLength = 32;
inline constexpr std::size_t kLengthPrefixSize = 4;

struct Limits {
    std::uint32_t maxFrameSize = kMaxFrameSize; // 1..kMaxFrameSize
    std::uint32_t maxItems = kMaxItemsPerFrame;
    bool allowColumnNames = true; // table rows carry column names; requests carry tags only
};

} // namespace orvo::proto
