#include "server/functions/SessionTickets.h"

#include <sodium.h>

#include <array>

namespace orvo::server {
namespace {

constexpr std::size_t kRandomBytes = 32;
constexpr std::size_t kKeyBytes = crypto_auth_hmacsha256_KEYBYTES;
static_assert(crypto_auth_hmacsha256_BYTES == 32 && kTicketChars == 2 * (kRandomBytes + 32));

using Key = std::array<unsigned char, kKeyBytes>;
using Mac = std::array<unsigned char, crypto_auth_hmacsha256_BYTES>;
using Random = std::array<unsigned char, kRandomBytes>;

bool sodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

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

// The database's key, made on first need by whichever server needs it first (every other then reads
// that one).
bool ticketKey(Store& store, Key& key, std::string& error) {
    Key candidate;
    randombytes_buf(candidate.data(), candidate.size());
    std::string stored;
    const bool read = store.sessionTicketKey(toHex(candidate.data(), candidate.size()), stored, error);
    sodium_memzero(candidate.data(), candidate.size());
    if (!read)
        return false;
    const bool parsed = fromHex(stored, key.data(), key.size());
    sodium_memzero(stored.data(), stored.size());
    if (!parsed)
        error = "the session ticket key stored in the database is damaged";
    return parsed;
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

Mac macOf(const Key& key, const Random& random, std::string_view operatorName, std::string_view day,
          std::string_view passwordHash) {
    crypto_auth_hmacsha256_state state;
    crypto_auth_hmacsha256_init(&state, key.data(), key.size());
    addField(state, "session ticket 1");
    addField(state, std::string_view(reinterpret_cast<const char*>(random.data()), random.size()));
    addField(state, operatorName);
    addField(state, day);
    addField(state, passwordHash);
    Mac mac;
    crypto_auth_hmacsha256_final(&state, mac.data());
    return mac;
}

} // namespace

bool issueTicket(Store& store, std::string_view operatorName, std::string_view day,
                 std::string_view passwordHash, std::string& ticket, std::string& error) {
    Key key;
    if (!sodiumReady()) {
        error = "the cryptography library cannot start";
        return false;
    }
    if (!ticketKey(store, key, error))
        return false;
    Random random;
    randombytes_buf(random.data(), random.size());
    const Mac mac = macOf(key, random, operatorName, day, passwordHash);
    sodium_memzero(key.data(), key.size());
    ticket = toHex(random.data(), random.size()) + toHex(mac.data(), mac.size());
    return true;
}

TicketCheck checkTicket(Store& store, std::string_view operatorName, std::string_view day,
                        std::string_view ticket, Operator& op, std::string& error) {
    Random random;
    Mac presented;
    if (!fromHex(ticket.substr(0, 2 * kRandomBytes), random.data(), random.size()) ||
        ticket.size() != kTicketChars ||
        !fromHex(ticket.substr(2 * kRandomBytes), presented.data(), presented.size()))
        return TicketCheck::Invalid;
    if (!sodiumReady()) {
        error = "the cryptography library cannot start";
        return TicketCheck::DatabaseError;
    }
    OperatorRecord record;
    if (!store.findOperator(operatorName, record, error))
        return error.empty() ? TicketCheck::Invalid : TicketCheck::DatabaseError;
    Key key;
    if (!ticketKey(store, key, error))
        return TicketCheck::DatabaseError;
    const Mac expected = macOf(key, random, operatorName, day, record.passwordHash);
    sodium_memzero(key.data(), key.size());
    if (sodium_memcmp(expected.data(), presented.data(), expected.size()) != 0 || !record.enabled)
        return TicketCheck::Invalid;
    store.recordLogin(operatorName);
    op = Operator{};
    op.name = std::string(operatorName);
    parsePermission(record.branches, op.allBranches, op.branches);
    parsePermission(record.groups, op.allGroups, op.groups);
    return TicketCheck::Valid;
}

} // namespace orvo::server
