// Code-page conversion between GBK (code page 936) and UTF-8, and walking GBK text a character at a time.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orvo {

// UTF-8 to GBK. A character GBK cannot hold, and every byte of a broken UTF-8 sequence, becomes '?'.
std::string Utf8ToGbk(std::string_view utf8);

// GBK to UTF-8. A byte that starts no valid GBK character becomes U+FFFD.
std::string GbkToUtf8(std::string_view gbk);

// True when the bytes are well-formed UTF-8 (no overlong forms, no surrogates).
bool IsValidUtf8(std::string_view text);

// Bytes taken by the character starting at text[pos] (pos < text.size()): 2 for a lead byte 0x81..0xFE
// followed by a trail byte 0x40..0xFE other than 0x7F, 4 for a four-byte GB18030 sequence, else 1. Searching
// GBK text must step by this: a trail byte can look like '[', '\\', '|' or an ASCII letter.
inline std::size_t GbkCharLength(std::string_view text, std::size_t pos) {
    const auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byteAt(pos);
    if (lead < 0x81 || lead == 0xFF || pos + 1 >= text.size())
        return 1;
    const unsigned char second = byteAt(pos + 1);
    if (second >= 0x30 && second <= 0x39) {
        if (pos + 3 < text.size() && byteAt(pos + 2) >= 0x81 && byteAt(pos + 2) <= 0xFE &&
            byteAt(pos + 3) >= 0x30 && byteAt(pos + 3) <= 0x39)
            return 4;
        return 1;
    }
    return (second >= 0x40 && second <= 0xFE && second != 0x7F) ? 2 : 1;
}

} // namespace orvo
