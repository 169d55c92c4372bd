// What a function handler gets: the parsed request, the connection's session, the store and the reply
// to write; and what it gives back: the status of the end frame.
#pragma once

#include "protocol/Items.h"
#include "server/store/Operator.h"
#include "server/store/ReplyWriter.h"
#include "server/store/StoreRef.h"

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace orvo::server {

class ChangeReplyMemo;
class LoginGuard;
class TicketKeys;

struct Session {
    bool loggedIn = false;
    Operator op;
    int failedLogins = 0;             // on this connection
    std::string peerAddress;          // the client's address, without the port
    LoginGuard* guard = nullptr;      // the server's defences against guessing; null: none
    TicketKeys* ticketKeys = nullptr; // what session tickets are signed with; null: no tickets
    std::string loginName;            // the name the last login tried (UTF-8), for the log
    bool loginWaited = false;         // the login being run again has waited its short delay
    // This server's name in the sessions table; null: logins are not recorded as sessions.
    const std::string* serverName = nullptr;
    std::int64_t sessionId = 0;            // the session the last successful login recorded
    ChangeReplyMemo* changeMemo = nullptr; // the server's answers to "changes since"; null: none
};

struct Request {
    std::uint32_t seq = 0;
    std::uint32_t function = 0;
    std::span<const proto::Item> items; // every item of the frame, header included
    bool lightLane = false;             // run by the workers kept for small answers

    // The first item with the tag, or nullptr.
    const proto::Item* find(std::uint32_t tag) const;
};

struct Outcome {
    int status = 0;
    std::string text;        // UTF-8; sent as GBK in tag 58
    bool closeAfter = false; // end the connection once the reply is out
    std::string logDetail{}; // for the log only (a database's own message), never sent to the client
    // > 0: nothing was sent; run the request again after this wait, without holding a worker.
    std::chrono::milliseconds runAgainAfter{0};
    // Nothing was sent: the answer is larger than the light workers take; run it again on a heavy one.
    bool heavyLane = false;
};

struct CallContext {
    StoreRef store;
    Session& session;
    const Request& request;
    ReplyWriter& reply;
    std::string today; // "YYYY.MM.DD", the server's business date
};

Outcome ok(std::string text = {});
Outcome fail(int status, std::string text);
// Status 9 "database unavailable" for the client; the database's message goes to the log only.
Outcome databaseFailure(const std::string& error);

// Reads a request value as UTF-8 text of at most maxBytes. Missing items give "" (present = false).
// A value that is too long or not GBK gives false and a reason in error.
bool readText(const Request& request, std::uint32_t tag, std::size_t maxBytes, std::string& out,
              bool& present, std::string& error);

// Reads a request value as a decimal integer (optional sign). Missing: present = false.
bool readInteger(const Request& request, std::uint32_t tag, long long& out, bool& present,
                 std::string& error);

} // namespace orvo::server
