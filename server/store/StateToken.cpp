#include "server/store/StateToken.h"

#include <charconv>

namespace orvo::server {

std::uint64_t identityOf(std::string_view incarnation) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const char c : incarnation) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ull;
    }
    return hash == 0 ? 1 : hash;
}

std::string identityText(std::uint64_t identity) {
    char hex[16];
    const auto [end, ec] = std::to_chars(hex, hex + sizeof hex, identity, 16);
    (void)ec; // 16 digits always fit
    return std::string(static_cast<std::size_t>(16 - (end - hex)), '0') + std::string(hex, end);
}

} // namespace orvo::server
