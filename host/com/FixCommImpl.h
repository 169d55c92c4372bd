// The state of one CFixComm: its connection, the request being built and the reply being read. Its work
// is split by job: FixCommSession.cpp (connecting, logging in, failures), FixCommRequest.cpp (building
// and sending a request), FixCommReply.cpp (reading a reply on the caller's thread), FixCommReadAhead.cpp
// (lending the connection to a read-ahead thread for a long reply); FixComm.cpp and TableDownload.cpp
// are the operations.
//
// A request goes out at the first More(); each More() then reads one reply frame straight into the
// frame reader's buffer and makes it the current row, so only the current row (and what the socket
// delivered beyond it) is held. Every frame of a reply echoes the request's sequence number: when
// CreateHead() abandons an unread reply, its remaining frames are skipped by that number while the next
// reply is awaited, so the connection stays usable without a reconnect and without a blocking drain.
//
// A long reply (over kReadAheadAfterRows rows) is read on from there by a ReplyReadAhead: a thread
// receives and parses its frames while the caller fills rows, a few batches ahead at most. While it
// lives, the socket and the reader are the thread's alone; the caller's side asserts that it holds them
// before every use. A thread that cannot be started leaves the reply to the caller's thread.
//
// Failures (no connection, a time-out, a broken frame, a refused request, rows missing from a reply)
// make More() false, are kept in LastFailure() and are passed to the failure callback. A transport
// failure closes the connection; the next request connects and logs in again.
#pragma once

#include "host/com/AwaitedFrame.h"
#include "host/com/FixComm.h"
#include "host/com/FixSocket.h"
#include "host/com/ReplyReadAhead.h"
#include "host/com/ReplyRow.h"
#include "protocol/Protocol.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace proto = orvo::proto;

namespace orvo::com {

constexpr int kTransportFailure = -1;
constexpr std::size_t kRequestHeaderItems = 3; // 35, 34, 20
// Rows of a reply read in the caller's thread before the rest is read ahead: short replies (nearly all of
// them) never start a thread.
constexpr long kReadAheadAfterRows = 1024;

// A busy answer's hint (an optional item of a status-5 end frame): milliseconds before trying again.
constexpr std::uint32_t kTagRetryAfter = 61;
// A session ticket: in the end frame of a successful password login, and in a login in place of the
// password (554) when the channel logs in again.
constexpr std::uint32_t kTagSessionTicket = 62;

enum class Step { Row, End, Failed };

using RequestItems = std::vector<std::pair<std::uint32_t, std::string>>;

} // namespace orvo::com

struct CFixComm::Impl {
    explicit Impl(orvo::com::ReplyRow& currentRow) : row(currentRow) {}
    using Step = orvo::com::Step;
    using RequestItems = orvo::com::RequestItems;
    static constexpr int kTransportFailure = orvo::com::kTransportFailure;

    enum class State { Idle, Building, Reading };

    FixCommSettings settings;
    orvo::FixSocket socket;    // the caller's, or the read-ahead's while `readAhead` lives
    proto::FrameReader reader; // likewise
    proto::Frame frame;        // the current reply frame, read here; its items point into `reader`
    bool loggedIn = false;

    State state = State::Idle;
    long function = 0;
    RequestItems items;
    std::string requestError; // set when the request being built cannot be sent
    std::uint32_t seq = 0;    // of the request whose reply is awaited
    std::uint32_t lastSeq = 0;
    std::span<const proto::Item> rowItems; // the current row's frame: `frame`'s, or the read-ahead's
    std::size_t rowFirst = 0;              // first item of the current row after the header
    orvo::com::ReplyRow& row; // the current row, shown from `frame` (the CFixComm's, read inline)
    long rows = 0;
    int endStatus = 0;
    std::string endText;
    std::optional<std::uint64_t> endRowsSent; // the rows the end frame counts, when it counts them
    std::vector<std::pair<std::uint32_t, std::string>> endItems; // the last end frame's data items
    bool lastOk = false;    // the last request ended with status 0 and every row
    bool cancelled = false; // the caller cancelled the reply in hand: it is not repeated elsewhere
    // Set by RepeatFromStartOnFailover(): the request may be asked again from the start on the next
    // server when its server dies mid-reply; this drops the caller's rows of the cut reply.
    std::function<void()> dropRowsRead;
    std::size_t repeatsLeft = 0; // of the request in hand: each server of the list once

    FixCommFailure failure;
    std::function<void(const FixCommFailure&)> onFailure;
    std::function<void(const FixCommTraceEvent&)> onTrace;
    std::function<bool(long)> onWait; // false: cancel the awaited reply
    std::function<void(const FixCommBusy&)> onBusy;
    std::function<CString(const CString&)> userText;
    std::function<void(const std::string&, const std::string&, const std::string&)> onServerChange;

    // The session ticket of the last password login and the operator it was issued to: a login again
    // (after a lost connection, or on the next server) presents it before the password. Never traced.
    std::string ticket;
    std::string ticketOperator;
    // Why the server ended the session for good; while set, no login but one the caller asks for.
    std::string endedForGood;

    std::size_t current = 0;         // the server in use: 0 settings.host, then settings.moreServers
    std::optional<int> retryAfterMs; // the last busy answer's hint
    bool holdFailures = false;       // failures are recorded, not yet reported: a retry may follow
    bool heldFailure = false;        // a failure was held back

    // Last: it stops, and lets go of socket and reader, before they are destroyed.
    std::unique_ptr<orvo::com::ReplyReadAhead> readAhead;

    // --- FixCommSession.cpp ---
    // Records the failure and reports it (unless held); the text is escaped here, once, for every log and
    // status line.
    void Fail(long failedFunction, int status, const std::string& text);
    void ReportFailure();
    // Stops any read-ahead, closes the socket and forgets the session and the current row.
    void CloseConnection();
    std::string ServerName() const; // of the server in use
    const std::string& ServerHost() const;
    int ServerPort() const;
    std::size_t ServerCount() const { return 1 + settings.moreServers.size(); }
    // One try at the server in use: connects if needed and logs in.
    enum class Attempt { Ok, Busy, ServerFailed, Refused };
    Attempt TryServer(long forFunction);
    // Logs in on the open connection: with the session ticket first when mayUseTicket and one is held
    // for the operator, with the password when there is none or the server refuses it.
    bool RunLogin(bool mayUseTicket);
    // Sends one login and reads its end: true with the end status in endStatus, false on a failure of
    // the transport (recorded).
    bool ExchangeLogin(const RequestItems& login);
    void ForgetTicket();
    void TraceReply(long tracedFunction, long replyRows, int status);

    // --- FixCommFailover.cpp ---
    class HeldFailures; // holds back failures while a retry may follow
    // Connects if needed and logs in (always for login itself, otherwise when not logged in): busy servers
    // are tried again with back-off within the connect time-out, servers that fail are left for the next
    // of the list. False with the failure reported when no server of the list took the session.
    bool EnsureSession(long forFunction);
    // Sends the request in hand and reads its first frame; a query whose server fails before any row
    // came is repeated on the next server of the list.
    Step StartReply();
    void MoveToNextServer(const std::string& why);
    void NoteRetryAfter(const proto::Frame& end);

    // --- FixCommRequest.cpp ---
    bool AddItem(long tag, std::string value);
    std::uint32_t NextSeq();
    void TraceRequest(long tracedFunction, const RequestItems& sent);
    bool Send(long sentFunction, const RequestItems& sent);
    // True when a refusal of the connection (a frame of sequence 0) waited in the socket and was reported.
    bool PendingRefusal(long sentFunction);

    // A reply that has started: its next frame, on this thread or from the read-ahead; a read whose server
    // dies part-way is asked again from the start on the next server, when the caller allowed it.
    Step NextReplyFrame();
    // The server of the reply in hand died after `cutAfter` rows: the request goes to the next server.
    Step RepeatOnNextServer(long cutAfter);

    // --- FixCommReply.cpp ---
    // The work of More(): send on the first call, then one row per call.
    bool Advance();
    // Reads the next frame of the awaited reply on this thread.
    Step NextFrameFromSocket(long readFunction);
    Step TransportFailure(long readFunction, const std::string& text);
    // The wait callback cancelled the reply: its connection is closed.
    Step Cancelled(long readFunction);
    Step ConnectionRefusal(long readFunction, int status, std::string_view serverText);

    // --- FixCommReadAhead.cpp ---
    // True while the socket and the reader are this thread's: no read-ahead holds them.
    bool CallerHoldsConnection() const { return !readAhead; }
    // Lends the socket and the reader to a read-ahead thread for the rest of the reply; when no thread
    // can be had, they stay here and the reply is read on as before.
    void StartReadAhead();
    // Stops reading the reply in hand: the socket and the reader are this thread's again.
    void StopReadAhead();
    // The next row from the read-ahead thread.
    Step NextRowFromReadAhead(long readFunction);
};
