#include "server/functions/SessionTickets.h"

#include <sodium.h>

#include <array>

namespace orvo::server {
namespace {

// The ticket's first half, big-endian numbers: key id (4 bytes), business day as YYYYMMDD (4), operator
// epoch (4), session (8), digest of the password hash (4), random (8).
constexpr std::size_t kHeadBytes = 32;
constexpr std::size_t kKeyAt = 0, kDayAt = 4, kEpochAt = 8, kSessionAt = 12, kHashAt = 20, kRandomAt = 24;
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

Mac macOf(const TicketKeys::Secret& secret, const Head& head, std::string_view operatorName) {
    crypto_auth_hmacsha256_state state;
    crypto_auth_hmacsha256_init(&state, secret.data(), secret.size());
    addField(state, "session ticket 3");
    addField(state, std::string_view(reinterpret_cast<const char*>(head.data()), head.size()));
    addField(state, operatorName);
    Mac mac;
    crypto_auth_hmacsha256_final(&state, mac.data());
    sodium_memzero(&state, sizeof state);
    return mac;
}

// "YYYY.MM.DD" as the number YYYYMMDD; 0 for anything else.
std::uint32_t dayNumber(std::string_view day) {
    std::uint32_t number = 0;
    for (const char c : day) {
        if (c == '.')
            continue;
        if (c < '0' || c > '9')
            return 0;
        number = number * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return day.size() == 10 ? number : 0;
}

// Four bytes of a digest of the stored password hash: enough to tell a ticket of an older password.
std::uint32_t hashDigest(std::string_view passwordHash) {
    unsigned char digest[crypto_generichash_BYTES_MIN];
    crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char*>(passwordHash.data()),
                       passwordHash.size(), nullptr, 0);
    return static_cast<std::uint32_t>(getNumber(digest, 4));
}

} // namespace

bool issueTicket(TicketKeys& keys, std::string_view operatorName, std::string_view day,
                 const OperatorRecord& record, std::int64_t session, std::string& ticket,
                 std::string& error) {
    TicketKeys::Key key;
    if (!keys.signingKey(key, error))
        return false;
    Head head;
    putNumber(head.data() + kKeyAt, key.id, 4);
    putNumber(head.data() + kDayAt, dayNumber(day), 4);
    putNumber(head.data() + kEpochAt, static_cast<std::uint64_t>(record.ticketEpoch), 4);
    putNumber(head.data() + kSessionAt, static_cast<std::uint64_t>(session), 8);
    putNumber(head.data() + kHashAt, hashDigest(record.passwordHash), 4);
    randombytes_buf(head.data() + kRandomAt, kHeadBytes - kRandomAt);
    const Mac mac = macOf(key.secret, head, operatorName);
    sodium_memzero(key.secret.data(), key.secret.size());
    ticket = toHex(head.data(), head.size()) + toHex(mac.data(), mac.size());
    return true;
}

TicketCheck checkTicket(Store& store, TicketKeys& keys, std::string_view operatorName, std::string_view day,
                        std::string_view ticket, Operator& op, std::int64_t& session, std::string& reason,
                        std::string& error) {
    Head head;
    Mac presented;
    if (ticket.size() != kTicketChars ||
        !fromHex(ticket.substr(0, 2 * kHeadBytes), head.data(), head.size()) ||
        !fromHex(ticket.substr(2 * kHeadBytes), presented.data(), presented.size()))
        return TicketCheck::Forged;
    TicketKeys::Key key;
    std::string keyProblem; // a key file gone unreadable: the keys read before still check
    switch (
        keys.acceptedKey(static_cast<std::uint32_t>(getNumber(head.data() + kKeyAt, 4)), key, keyProblem)) {
    case TicketKeys::Lookup::Taken:
        break;
    case TicketKeys::Lookup::Retired:
        reason = "its key was rotated out";
        return TicketCheck::OutOfDate;
    case TicketKeys::Lookup::Unknown:
        return TicketCheck::Forged;
    }
    const Mac expected = macOf(key.secret, head, operatorName);
    sodium_memzero(key.secret.data(), key.secret.size());
    if (sodium_memcmp(expected.data(), presented.data(), expected.size()) != 0)
        return TicketCheck::Forged;

    // Ours: from here on a refusal is a ticket out of date, never a guess.
    if (getNumber(head.data() + kDayAt, 4) != dayNumber(day)) {
        reason = "issued on another business day";
        return TicketCheck::OutOfDate;
    }
    OperatorRecord record;
    if (!store.findOperator(operatorName, record, error)) {
        reason = "operator removed";
        return error.empty() ? TicketCheck::OutOfDate : TicketCheck::DatabaseError;
    }
    if (!record.enabled) {
        reason = "operator disabled";
        return TicketCheck::OutOfDate;
    }
    if (getNumber(head.data() + kHashAt, 4) != hashDigest(record.passwordHash)) {
        reason = "password changed";
        return TicketCheck::OutOfDate;
    }
    if (getNumber(head.data() + kEpochAt, 4) != static_cast<std::uint64_t>(record.ticketEpoch & 0xffffffff)) {
        reason = "operator disabled since";
        return TicketCheck::OutOfDate;
    }
    session = static_cast<std::int64_t>(getNumber(head.data() + kSessionAt, 8));
    if (session != 0) {
        TicketSession named;
        if (!store.ticketSession(session, named, error))
            return TicketCheck::DatabaseError;
        if (!named.found || named.operatorName != operatorName) {
            reason = "its session is no longer known";
            return TicketCheck::OutOfDate;
        }
        if (!named.revoked.empty()) {
            reason = named.revoked;
            return TicketCheck::OutOfDate;
        }
    }
    store.recordLogin(operatorName);
    op = Operator{};
    op.name = std::string(operatorName);
    parsePermission(record.branches, op.allBranches, op.branches);
    parsePermission(record.groups, op.allGroups, op.groups);
    return TicketCheck::Valid;
}

} // namespace orvo::server
