// Session tickets: what a client presents instead of its password when it logs in again (after a lost
// connection, or on another server of the same database), so that logging in again costs no password
// hash. A ticket is 128 hex digits: the signing key's id, the operator's ticket epoch and random bits,
// then an HMAC-SHA256 over them, the operator's name, the business day and the operator's password hash,
// keyed by a secret kept outside the database (TicketKeys.h). Nothing is stored per ticket: a ticket
// holds for the day it was issued, for the operator it names, while that operator is enabled with the
// same password hash and the same epoch (which the database counts up on every disable, enable and
// password change, so a ticket revoked once stays revoked), and while its key is taken.
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

// A ticket for the operator as stored now (its password hash and epoch), on that day.
bool issueTicket(TicketKeys& keys, std::string_view operatorName, std::string_view day,
                 const OperatorRecord& record, std::string& ticket, std::string& error);

enum class TicketCheck { Valid, Invalid, DatabaseError };

// Checks a presented ticket against the operator as stored now; Valid fills op as a password login
// would. The comparison takes the same time wherever the MAC differs.
TicketCheck checkTicket(Store& store, TicketKeys& keys, std::string_view operatorName, std::string_view day,
                        std::string_view ticket, Operator& op, std::string& error);

} // namespace orvo::server
