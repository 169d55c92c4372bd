#include "server/functions/SessionTickets.h"

#include <sodium.h>

#include <array>

namespace orvo::server {
namespace {

// The ticket's first half: key id (4 bytes), operator epoch (8), random (20); big-endian numbers.
constexpr std::size_t kHeadBytes = 32;
constexpr std::size_t kRandomBytes = 20;
static_assert(crypto_auth_hmacsha256_BYTES == 32 && kTicketChars == 2 * (kHeadBytes + 32));

using Head = std::array<unsigned char, kHeadBytes>;
using Mac = std::array<unsigned char, crypto_auth_hmacsha256_BYTES>;

std::string toHex(const unsigned char* bytes, std::size_t size) {
    std::string hex(2 * size + 1, '\0');
    sodium_bin2hex(hex.data(), hex.size(), bytes, size);
    hex.pop_back();
    return hex;
}

// Exactly size bytes from exactly 2 * size hex digits.
bool fromHex(std::string_view hex, unsigned char* bytes, std::size_t size) {
    std::size_t length = 0;
    return hex.size() == 2 * size &&
           sodium_hex2bin(bytes, size, hex.data(), hex.size(), nullptr, &length, nullptr) == 0 &&
           length == size;
}

void putNumber(unsigned char* at, std::uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i, value >>= 8)
        at[i] = static_cast<unsigned char>(value);
}

std::uint64_t getNumber(const unsigned char* at, int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value = value << 8 | at[i];
    return value;
}

// Each field is preceded by its length, so that no two different (name, day, hash) give the same input.
void addField(crypto_auth_hmacsha256_state& state, std::string_view field) {
    const std::uint64_t size = field.size();
    unsigned char length[8];
    for (int i = 0; i < 8; ++i)
        length[i] = static_cast<unsigned char>(size >> (8 * i));
    crypto_auth_hmacsha256_update(&state, length, sizeof length);
    crypto_auth_hmacsha256_update(&state, reinterpret_cast<const unsigned char*>(field.data()), field.size());
}

Mac macOf(const TicketKeys::Secret& secret, const Head& head, std::string_view operatorName,
          std::string_view day, std::string_view passwordHash) {
    crypto_auth_hmacsha256_state state;
    crypto_auth_hmacsha256_init(&state, secret.data(), secret.size());
    addField(state, "session ticket 2");
    addField(state, std::string_view(reinterpret_cast<const char*>(head.data()), head.size()));
    addField(state, operatorName);
    addField(state, day);
    addField(state, passwordHash);
    Mac mac;
    crypto_auth_hmacsha256_final(&state, mac.data());
    sodium_memzero(&state, sizeof state);
    return mac;
}

} // namespace

bool issueTicket(TicketKeys& keys, std::string_view operatorName, std::string_view day,
                 const OperatorRecord& record, std::string& ticket, std::string& error) {
    TicketKeys::Key key;
    if (!keys.signingKey(key, error))
        return false;
    Head head;
    putNumber(head.data(), key.id, 4);
    putNumber(head.data() + 4, static_cast<std::uint64_t>(record.ticketEpoch), 8);
    randombytes_buf(head.data() + 12, kRandomBytes);
    const Mac mac = macOf(key.secret, head, operatorName, day, record.passwordHash);
    sodium_memzero(key.secret.data(), key.secret.size());
    ticket = toHex(head.data(), head.size()) + toHex(mac.data(), mac.size());
    return true;
}

TicketCheck checkTicket(Store& store, TicketKeys& keys, std::string_view operatorName, std::string_view day,
                        std::string_view ticket, Operator& op, std::string& error) {
    Head head;
    Mac presented;
    if (ticket.size() != kTicketChars ||
        !fromHex(ticket.substr(0, 2 * kHeadBytes), head.data(), head.size()) ||
        !fromHex(ticket.substr(2 * kHeadBytes), presented.data(), presented.size()))
        return TicketCheck::Invalid;
    TicketKeys::Key key;
    std::string keyProblem; // a key file gone unreadable: the keys read before still check
    if (!keys.acceptedKey(static_cast<std::uint32_t>(getNumber(head.data(), 4)), key, keyProblem))
        return TicketCheck::Invalid; // a key rotated out, or never ours
    OperatorRecord record;
    if (!store.findOperator(operatorName, record, error)) {
        sodium_memzero(key.secret.data(), key.secret.size());
        return error.empty() ? TicketCheck::Invalid : TicketCheck::DatabaseError;
    }
    const Mac expected = macOf(key.secret, head, operatorName, day, record.passwordHash);
    sodium_memzero(key.secret.data(), key.secret.size());
    if (sodium_memcmp(expected.data(), presented.data(), expected.size()) != 0 || !record.enabled ||
        getNumber(head.data() + 4, 8) != static_cast<std::uint64_t>(record.ticketEpoch))
        return TicketCheck::Invalid;
    store.recordLogin(operatorName);
    op = Operator{};
    op.name = std::string(operatorName);
    parsePermission(record.branches, op.allBranches, op.branches);
    parsePermission(record.groups, op.allGroups, op.groups);
    return TicketCheck::Valid;
}

} // namespace orvo::server
