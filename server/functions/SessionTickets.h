// Session tickets: what a client presents instead of its password when it logs in again (after a lost
// connection, or on another server of the same database), so that logging in again costs no password
// hash. A ticket is 128 hex digits: what it holds for (the signing key's id, the business day, the
// operator's ticket epoch, the session it was issued in, a digest of the operator's password hash, and
// random bits), then an HMAC-SHA256 over that and the operator's name, keyed by a secret kept outside
// the database (TicketKeys.h). Nothing is stored per ticket. A ticket with a good MAC that no longer
// holds (another day, an operator disabled or with a new password since, a session an administrator
// ended, a key rotated out) is out of date, which is no guess at anything and is told apart from a
// forged or altered one.
#pragma once

#include "server/functions/TicketKeys.h"
#include "server/store/Operator.h"
#include "server/store/Store.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orvo::server {

// Login item, both ways: the ticket in the end frame of a successful password login, and in a login
// request in place of 554 (password).
inline constexpr std::uint32_t kTagSessionTicket = 62;
inline constexpr std::size_t kTicketChars = 128;
// In the end frame (status 3) of a ticket login refused because the ticket is ours but no longer holds:
// "1". The client logs in with its password; nothing was counted against it.
inline constexpr std::uint32_t kTagTicketOutOfDate = 63;
// In the unasked end frame (status 2) that ends a session: why, as a number (SessionEnd.h).
inline constexpr std::uint32_t kTagSessionEndCode = 64;

// A ticket for the operator as stored now (its password hash and epoch), on that day ("YYYY.MM.DD"),
// naming the session the login recorded (0: none recorded).
bool issueTicket(TicketKeys& keys, std::string_view operatorName, std::string_view day,
                 const OperatorRecord& record, std::int64_t session, std::string& ticket, std::string& error);

enum class TicketCheck {
    Valid,
    Forged,    // malformed, altered, for another operator, or signed with no key of ours
    OutOfDate, // ours, but no longer holding: reason says why
    DatabaseError,
};

// Checks a presented ticket against the operator and its session as stored now; Valid fills op as a
// password login would, and session with the session the ticket names. The comparison takes the same
// time wherever the MAC differs.
TicketCheck checkTicket(Store& store, TicketKeys& keys, std::string_view operatorName, std::string_view day,
                        std::string_view ticket, Operator& op, std::int64_t& session, std::string& reason,
                        std::string& error);

} // namespace orvo::server
