// Zero-copy parsing of a frame body into items, and splitting a byte stream into frames.
#pragma once

#include "protocol/Error.h"
#include "protocol/Limits.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace orvo::proto {

struct Item {
    std::string_view key;   // the key as sent: digits of a tag, or a column name
    std::string_view value; // possibly empty; never holds 0x01
    std::uint32_t tag = 0;  // the tag's number; 0 for a column-name key

    bool IsTag() const { return tag != 0; }
};

// A parsed frame: its body and the items in wire order, all views into the buffer that held it.
struct Frame {
    std::string_view body;
    std::vector<Item> items; // reused between frames: its capacity stays

    // The first item with this tag, or nullptr.
    const Item* Find(std::uint32_t tag) const;
    // The first item with this key (tag digits or column name), or nullptr.
    const Item* Find(std::string_view key) const;
};

enum class ReadResult : std::uint8_t { NeedMore, Frame, Error };

// Parses a whole body into `items` (cleared first). On error `items` holds what came before the fault.
Error ParseItems(std::string_view body, const Limits& limits, std::vector<Item>& items);

// Looks at the start of `input` for one whole frame. Frame: `body` is its body and `consumed` the bytes
// it takes with its length prefix. NeedMore: not all of it is there yet. Error: the length prefix is 0 or
// over the limit (known as soon as the four prefix bytes are in, before any body arrives).
ReadResult SplitFrame(std::string_view input, const Limits& limits, std::string_view& body,
                      std::size_t& consumed, Error& error);

// Strict decimal: digits only, no sign, no blanks, no leading zero except "0" itself, at most `max`.
bool ParseDecimal(std::string_view text, std::uint64_t max, std::uint64_t& value);

} // namespace orvo::proto
