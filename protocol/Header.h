// The protocol's own header items: tags, message types, statuses, and reading and writing them.
#pragma once

#include "protocol/Error.h"
#include "protocol/FrameBuilder.h"
#include "protocol/Items.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace orvo::proto {

// Tags below 100 belong to the protocol.
inline constexpr std::uint32_t kTagType = 35;     // 'Q' request, 'R' reply row, 'E' end of reply
inline constexpr std::uint32_t kTagSeq = 34;      // the client's sequence number, echoed in R and E
inline constexpr std::uint32_t kTagFunction = 20; // function number, requests only
inline constexpr std::uint32_t kTagTable = 30;    // function 2: table name
inline constexpr std::uint32_t kTagStatus = 39;   // E: status
inline constexpr std::uint32_t kTagText = 58;     // E: status text (GBK)
inline constexpr std::uint32_t kTagRows = 60;     // E: rows sent
inline constexpr std::uint32_t kFirstDataTag = 100;

// Host functions (below 1000).
inline constexpr std::uint32_t kFunctionLogin = 1;
inline constexpr std::uint32_t kFunctionDownloadTable = 2;
inline constexpr std::uint32_t kFunctionHeartbeat = 3;
inline constexpr std::uint32_t kTagOperator = 553; // login: operator name
inline constexpr std::uint32_t kTagPassword = 554; // login: password

enum class MessageType : char { Request = 'Q', Row = 'R', End = 'E' };

enum Status : int {
    kStatusOk = 0,
    kStatusBadRequest = 1,
    kStatusNotLoggedIn = 2,
    kStatusNotPermitted = 3,
    kStatusUnknownFunction = 4,
    kStatusLimit = 5, // a limit was reached or the server is busy
    kStatusInternal = 9,
};

struct Header {
    MessageType type = MessageType::Request;
    std::uint32_t seq = 0;
    std::uint32_t function = 0; // requests
    int status = 0;             // end of reply
    std::string_view text;      // end of reply
    std::uint64_t rows = 0;     // end of reply
    std::size_t firstData = 0;  // index of the first item after the protocol's own items
};

// Decodes the leading protocol items (tags below 100): 35 first, then 34; a request needs 20, an end of
// reply needs 39 (58 and 60 are optional). Other protocol tags (e.g. 30) are left for the caller.
Error ReadHeader(std::span<const Item> items, Header& header);

// The value of the first item with `tag` in `items`, or "" when there is none.
std::string_view ValueOf(std::span<const Item> items, std::uint32_t tag);

// Header writers. The caller adds its items and calls Finish().
void AddRequestHead(FrameBuilder& builder, std::uint32_t seq, std::uint32_t function);
void AddRowHead(FrameBuilder& builder, std::uint32_t seq);
// A whole end-of-reply frame appended to `out`.
Error AppendEnd(std::string& out, std::uint32_t seq, int status, std::string_view text, std::uint64_t rows);

const char* StatusName(int status); // "ok", "bad request", ...

} // namespace orvo::proto
