#include "server/common/LogText.h"

namespace orvo::server {

std::string escapeText(std::string_view text, bool asciiOnly) {
    std::string out;
    out.reserve(text.size());
    appendEscaped(out, text, asciiOnly, "0123456789ABCDEF");
    return out;
}

void appendEscaped(std::string& out, std::string_view text, bool asciiOnly, const char* hexDigits,
                   bool escapeBackslash) {
    for (char ch : text) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte == '\\' && escapeBackslash) {
            out += "\\\\";
        } else if (byte < 0x20 || byte == 0x7F || (asciiOnly && byte >= 0x80)) {
            out += "\\x";
            out += hexDigits[byte >> 4];
            out += hexDigits[byte & 0xF];
        } else {
            out += ch;
        }
    }
}

} // namespace orvo::server
