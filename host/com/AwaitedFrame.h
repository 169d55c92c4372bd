// The channel's rules for what arrives while the reply to one request is awaited, in one place for both
// readers of a reply: the caller's thread (CFixComm) and a read-ahead thread (ReplyReadAhead).
#pragma once

#include "host/com/FixSocket.h"
#include "protocol/Protocol.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace orvo::com {

// Bytes asked of the socket per receive.
constexpr std::size_t kReceiveChunk = 64 * 1024;

// One frame, taken while the reply to request `seq` is awaited.
struct AwaitedFrame {
    enum class Kind {
        Row,     // a row of the reply
        End,     // the reply's end, with its status and text
        Skip,    // a frame of another request: the rest of an abandoned reply
        Refused, // a frame of sequence 0: the server turns the connection away (header: status, text)
        Broken,  // the stream cannot be trusted any more; `text` says why
    };
    Kind kind = Kind::Broken;
    proto::Header header; // Row, End, Refused: views into the frame
    std::string text;
    std::optional<std::uint64_t> rowsSent; // End: the rows the server says it sent (item 60), when it says
    std::vector<std::pair<std::uint32_t, std::string>>
        endItems{}; // End: its data items (tags from 100), copied
};
AwaitedFrame TakeAwaitedFrame(const proto::Frame& frame, std::uint32_t seq);

// Why a reply is broken, for a reader or header error.
std::string BrokenReplyText(proto::Error error);

// Why a receive that brought nothing ended the reply: Closed, Failed (with the socket's error) or
// TimedOut at the reply time-out.
std::string ReceiveFailureText(FixSocket::Result result, const std::string& error, int replyTimeoutMs);

// The failure text of a reply whose end frame counts other rows than arrived: rows were lost on the way
// (or made up), so what arrived is not the server's answer.
std::string RowCountMismatchText(long received, std::uint64_t sent);

// The failure texts of a read-ahead thread that failed inside.
std::string ReadAheadOutOfMemoryText();
std::string ReadAheadFaultText();

// The failure text of a connection the server refused, with its status and text.
std::string RefusalText(int status, std::string_view text);

// Whether the server's text of a session it ended (status 2, unasked) ends it for good: an administrator
// ended it, or the operator was disabled, removed or given a new password. The channel then logs in again
// only when its caller asks; a server that stops is no such end (another server of the list may do).
bool EndsSessionForGood(std::string_view serverText);

} // namespace orvo::com
