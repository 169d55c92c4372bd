#include "host/com/WireText.h"

#include <algorithm>

namespace orvo {

namespace {

bool IsControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

} // namespace

std::string EscapeControlBytes(std::string_view text) {
    if (std::none_of(text.begin(), text.end(), IsControl))
        return std::string(text);
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() + 8);
    for (const char c : text) {
        if (!IsControl(c)) {
            out += c;
            continue;
        }
        const auto byte = static_cast<unsigned char>(c);
        switch (byte) {
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        }
    }
    return out;
}

} // namespace orvo
