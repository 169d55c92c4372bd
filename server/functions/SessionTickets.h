// Session tickets: what a client presents instead of its password when it logs in again (after a lost
// connection, or on another server of the same database), so that logging in again costs no password
// hash. A ticket is 256 random bits and an HMAC-SHA256 over them, the operator's name, the business day
// and the operator's password hash, keyed by a secret the database keeps for every server on it. Nothing
// is stored per ticket: a ticket holds for the day it was issued, for the operator it names, while that
// operator is enabled with the same password hash, so `operator passwd` and `disable` revoke it.
#pragma once

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
// 32 random bytes and a 32-byte MAC, in lower-case hex.
inline constexpr std::size_t kTicketChars = 128;

// A ticket for the operator on that day, bound to the password hash in force. False, error set, when the
// database's ticket key cannot be read or made.
bool issueTicket(Store& store, std::string_view operatorName, std::string_view day,
                 std::string_view passwordHash, std::string& ticket, std::string& error);

enum class TicketCheck { Valid, Invalid, DatabaseError };

// Checks a presented ticket against the operator as stored now; Valid fills op as a password login
// would. The comparison takes the same time wherever the MAC differs.
TicketCheck checkTicket(Store& store, std::string_view operatorName, std::string_view day,
                        std::string_view ticket, Operator& op, std::string& error);

} // namespace orvo::server
