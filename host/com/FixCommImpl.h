// The state of one CFixComm: its connection, the request being built and the reply being read.
// Shared by FixComm.cpp (the operations) and TableDownload.cpp.
//
// A request goes out at the first More(); each More() then reads one reply frame straight into the
// frame reader's buffer and makes it the current row, so only the current row (and what the socket
// delivered beyond it) is held. Every frame of a reply echoes the request's sequence number: when
// CreateHead() abandons an unread reply, its remaining frames are skipped by that number while the next
// reply is awaited, so the connection stays usable without a reconnect and without a blocking drain.
//
// A long reply (over kReadAheadAfterRows rows) is read on from there by a ReplyReadAhead: a thread
// receives and parses its frames while the caller fills rows, a few batches ahead at most.
//
// Failures (no connection, a time-out, a broken frame, a refused request) make More() false, are kept
// in LastFailure() and are passed to the failure callback. A transport failure closes the connection;
// the next request connects and logs in again.
#pragma once

#include "host/com/AwaitedFrame.h"
#include "host/com/FixComm.h"
#include "host/com/FixSocket.h"
#include "host/com/ReplyReadAhead.h"
#include "host/com/ReplyRow.h"
#include "host/com/WireText.h"
#include "protocol/Protocol.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace proto = orvo::proto;

namespace orvo::com {

constexpr int kTransportFailure = -1;
constexpr std::size_t kRequestHeaderItems = 3; // 35, 34, 20
// Rows of a reply read in the caller's thread before the rest is read ahead: short replies (nearly all of
// them) never start a thread.
constexpr long kReadAheadAfterRows = 1024;

enum class Step { Row, End, Failed };

using RequestItems = std::vector<std::pair<std::uint32_t, std::string>>;

} // namespace orvo::com

struct CFixComm::Impl {
    explicit Impl(orvo::com::ReplyRow& currentRow) : row(currentRow) {}
    using Step = orvo::com::Step;
    using RequestItems = orvo::com::RequestItems;
    static constexpr int kTransportFailure = orvo::com::kTransportFailure;
    static constexpr std::size_t kReceiveChunk = orvo::com::kReceiveChunk;
    static constexpr std::size_t kRequestHeaderItems = orvo::com::kRequestHeaderItems;

    enum class State { Idle, Building, Reading };

    FixCommSettings settings;
    orvo::FixSocket socket;
    proto::FrameReader reader;
    proto::Frame frame; // the current reply frame, read here; its items point into `reader`
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
    bool lastOk = false; // the last request ended with status 0

    FixCommFailure failure;
    std::function<void(const FixCommFailure&)> onFailure;
    std::function<void(const FixCommTraceEvent&)> onTrace;
    std::function<bool(long)> onWait; // false: cancel the awaited reply

    // Last: it stops, and lets go of socket and reader, before they are destroyed.
    std::unique_ptr<orvo::com::ReplyReadAhead> readAhead;

    // Every failure text may carry text from the wire (a server's status text, a table name): it is
    // escaped here, once, for every log and status line that shows it.
    void Fail(long failedFunction, int status, const std::string& text) {
        failure.function = failedFunction;
        failure.status = status;
        failure.text = CString(orvo::EscapeControlBytes(text));
        if (onFailure)
            onFailure(failure);
    }

    // Stops reading the reply in hand: the socket and the reader are this thread's again.
    void StopReadAhead() { readAhead.reset(); }

    void Drop() {
        StopReadAhead();
        socket.Close();
        reader.Reset();
        loggedIn = false;
        row.Hide();
    }

    std::string ServerName() const { return settings.host + ":" + std::to_string(settings.port); }

    void TraceRequest(long tracedFunction, const RequestItems& sent) {
        if (!onTrace)
            return;
        FixCommTraceEvent event;
        event.kind = FixCommTraceEvent::Request;
        event.function = tracedFunction;
        for (const auto& [tag, value] : sent) {
            const bool secret = tracedFunction == proto::kFunctionLogin && tag == proto::kTagPassword;
            event.items.emplace_back(std::to_string(tag), CString(secret ? std::string("***") : value));
        }
        onTrace(event);
    }

    void TraceReply(long tracedFunction, long replyRows, int status) {
        if (!onTrace)
            return;
        FixCommTraceEvent event;
        event.kind = FixCommTraceEvent::Reply;
        event.function = tracedFunction;
        event.rows = replyRows;
        event.status = status;
        onTrace(event);
    }

    std::uint32_t NextSeq() {
        lastSeq = lastSeq == 0xFFFFFFFFu ? 1 : lastSeq + 1;
        return lastSeq;
    }

    // Connects if needed and, for every function but login itself, logs in if needed.
    bool EnsureSession(long forFunction) {
        if (socket.IsOpen() && socket.PeerClosed())
            Drop(); // the server closed an idle connection: reconnect quietly
        if (!socket.IsOpen()) {
            Drop();
            // Every new connection starts with a login: without TLS, the password stays on this machine.
            if (!settings.tls && !settings.allowPlainPassword && !orvo::IsLoopbackHost(settings.host)) {
                Fail(forFunction, kFixCommPlainPassword,
                     "the password would cross the network to " + ServerName() +
                         " in plain text: turn TLS on for the counter server");
                return false;
            }
            std::string error;
            if (!socket.Connect(settings.host, settings.port, settings.connectTimeoutMs, error,
                                orvo::TlsSettings{settings.tls, settings.tlsCaFile})) {
                Fail(forFunction, kTransportFailure,
                     "cannot connect to the counter server " + ServerName() + ": " + error);
                return false;
            }
        }
        if (forFunction == proto::kFunctionLogin || loggedIn)
            return true;
        return RunLogin();
    }

    bool RunLogin() {
        const RequestItems login = {{proto::kTagOperator, settings.operatorName.str()},
                                    {proto::kTagPassword, settings.password.str()}};
        if (!Send(proto::kFunctionLogin, login))
            return false;
        for (;;) {
            switch (ReadNext(proto::kFunctionLogin)) {
            case Step::Row:
                continue; // a login reply carries no rows; ignore any
            case Step::Failed:
                TraceReply(proto::kFunctionLogin, 0, failure.status);
                return false;
            case Step::End:
                TraceReply(proto::kFunctionLogin, 0, endStatus);
                if (endStatus == proto::kStatusOk) {
                    loggedIn = true;
                    return true;
                }
                Fail(proto::kFunctionLogin, endStatus, endText.empty() ? "login refused" : endText);
                return false;
            }
        }
    }

    bool Send(long sentFunction, const RequestItems& sent) {
        std::string out;
        proto::FrameBuilder builder(out,
                                    proto::Limits{proto::kMaxFrameSize, proto::kMaxItemsPerRequest, false});
        seq = NextSeq();
        proto::AddRequestHead(builder, seq, static_cast<std::uint32_t>(sentFunction));
        for (const auto& [tag, value] : sent)
            builder.Add(tag, value);
        if (const proto::Error error = builder.Finish(); error != proto::Error::None) {
            Fail(sentFunction, proto::kStatusBadRequest,
                 std::string("request not sent: ") + proto::ErrorText(error));
            return false;
        }
        TraceRequest(sentFunction, sent);
        std::string error;
        const auto result = socket.SendAll(out, orvo::DeadlineAfter(settings.replyTimeoutMs), error);
        if (result == orvo::FixSocket::Result::Ok)
            return true;
        if (result == orvo::FixSocket::Result::Closed && PendingRefusal(sentFunction))
            return false;
        Drop();
        Fail(sentFunction, kTransportFailure,
             result == orvo::FixSocket::Result::TimedOut ? "the counter server does not take the request"
                                                         : "sending to the counter server failed: " + error);
        TraceReply(sentFunction, 0, kTransportFailure);
        return false;
    }

    // A server that turns a connection away says why in a frame of sequence 0 and closes: a request sent
    // after that cannot go out, but the frame may still wait in the socket. True when it did and was
    // reported.
    bool PendingRefusal(long sentFunction) {
        const orvo::Deadline now = orvo::DeadlineAfter(0);
        for (;;) {
            const proto::ReadResult result = reader.Next(frame);
            row.Hide(); // the frame's items are no longer the row's
            if (result == proto::ReadResult::Error)
                return false;
            if (result == proto::ReadResult::Frame) {
                proto::Header header;
                if (proto::ReadHeader(frame.items, header) != proto::Error::None || header.seq != 0 ||
                    header.type != proto::MessageType::End)
                    continue;
                ConnectionRefusal(sentFunction, header.status, header.text);
                TraceReply(sentFunction, 0, failure.status);
                return true;
            }
            std::size_t received = 0;
            std::string error;
            if (socket.Receive(reader.PrepareWrite(kReceiveChunk), now, received, error) !=
                orvo::FixSocket::Result::Ok)
                return false;
            reader.Commit(received);
        }
    }

    Step TransportFailure(long readFunction, const std::string& text) {
        Drop();
        Fail(readFunction, kTransportFailure, text);
        return Step::Failed;
    }

    // A reply frame of sequence 0 belongs to no request: the server speaks for the connection (it is busy,
    // its database is unavailable) and closes it. The request in hand fails with the server's word.
    Step ConnectionRefusal(long readFunction, int status, std::string_view serverText) {
        // Made before Drop(): the server's text may point into the receive buffer.
        const std::string text = orvo::com::RefusalText(status, serverText);
        Drop();
        Fail(readFunction, status, text);
        return Step::Failed;
    }

    // Reads the next frame of the awaited reply. The frame must arrive within the reply time-out from the
    // start of the wait; frames of other requests (the rest of an abandoned reply) do not restart it, so a
    // peer cannot hold the window by sending them.
    Step ReadNext(long readFunction) {
        // The clock is read only when the socket has to be waited on: a frame already buffered costs none.
        orvo::Deadline deadline{};
        bool deadlineSet = false;
        for (;;) {
            const proto::ReadResult result = reader.Next(frame);
            row.Hide(); // whatever came, the frame's items are no longer the row's
            if (result == proto::ReadResult::Error)
                return TransportFailure(readFunction, orvo::com::BrokenReplyText(reader.error()));
            if (result == proto::ReadResult::Frame) {
                using Kind = orvo::com::AwaitedFrame::Kind;
                const orvo::com::AwaitedFrame taken = orvo::com::TakeAwaitedFrame(frame, seq);
                switch (taken.kind) {
                case Kind::Skip:
                    continue; // the rest of an abandoned reply
                case Kind::Broken:
                    return TransportFailure(readFunction, taken.text);
                case Kind::Refused:
                    return ConnectionRefusal(readFunction, taken.header.status, taken.header.text);
                case Kind::Row:
                    rowItems = frame.items;
                    rowFirst = taken.header.firstData;
                    return Step::Row;
                case Kind::End:
                    endStatus = taken.header.status;
                    endText.assign(taken.header.text);
                    return Step::End;
                }
            }
            if (!deadlineSet) {
                deadline = orvo::DeadlineAfter(settings.replyTimeoutMs);
                deadlineSet = true;
            }
            const std::span<char> space = reader.PrepareWrite(kReceiveChunk);
            std::size_t received = 0;
            std::string error;
            // With a wait callback the wait goes in slices, so that the caller can show progress or cancel.
            const orvo::Deadline slice = onWait ? std::min(deadline, orvo::DeadlineAfter(100)) : deadline;
            const auto waited = socket.Receive(space, slice, received, error);
            if ((waited == orvo::FixSocket::Result::Ok || slice < deadline) && onWait && !onWait(rows)) {
                if (waited == orvo::FixSocket::Result::Ok)
                    reader.Commit(received);
                Fail(readFunction, kTransportFailure, "the request was cancelled");
                return Step::Failed; // the connection stays; the reply's remaining frames are skipped
            }
            if (waited == orvo::FixSocket::Result::Ok)
                reader.Commit(received);
            else if (waited != orvo::FixSocket::Result::TimedOut || slice == deadline) // not a mere slice
                return TransportFailure(
                    readFunction, orvo::com::ReceiveFailureText(waited, error, settings.replyTimeoutMs));
        }
    }

    // ReadNext() for a reply read ahead. The wait callback is asked between batches as well as while the
    // rows are awaited, so that a long reply can still be cancelled and shows its progress.
    Step ReadAheadNext(long readFunction) {
        using Kind = orvo::com::ReplyReadAhead::Ending::Kind;
        using Take = orvo::com::ReplyReadAhead::Take;
        constexpr int kWaitSliceMs = 100;
        constexpr long kRowsBetweenWaitCalls = 256;
        // False when the caller cancels, or when whatever ran inside the callback gave up this reply.
        const auto goOn = [this] { return (!onWait || onWait(rows)) && readAhead; };
        for (;;) {
            std::size_t first = 0;
            switch (readAhead->take(orvo::DeadlineAfter(kWaitSliceMs), rowItems, first)) {
            case Take::Row:
                if (rows % kRowsBetweenWaitCalls == 0 && !goOn())
                    break;
                rowFirst = first;
                return Step::Row;
            case Take::Waiting:
                if (!goOn())
                    break;
                continue;
            case Take::Ended: {
                const orvo::com::ReplyReadAhead::Ending ending = readAhead->ending();
                StopReadAhead();
                if (ending.kind == Kind::End) {
                    endStatus = ending.status;
                    endText = ending.text;
                    return Step::End;
                }
                if (ending.kind == Kind::Refused)
                    return ConnectionRefusal(readFunction, ending.status, ending.text);
                return TransportFailure(readFunction, ending.text);
            }
            }
            // Cancelled: the connection stays; the reply's remaining frames are skipped.
            StopReadAhead();
            Fail(readFunction, kTransportFailure, "the request was cancelled");
            return Step::Failed;
        }
    }

    // The work of More(): send on the first call, then one frame per call.
    bool Advance() {
        row.Hide();
        if (state == State::Building) {
            state = State::Idle;
            rows = 0;
            if (!requestError.empty()) {
                Fail(function, proto::kStatusBadRequest, "request not sent: " + requestError);
                TraceReply(function, 0, proto::kStatusBadRequest);
                return false;
            }
            if (!EnsureSession(function)) {
                TraceReply(function, 0, failure.status);
                return false;
            }
            if (!Send(function, items))
                return false;
            state = State::Reading;
        }
        if (state != State::Reading)
            return false;
        // No row is current here (the reader's bytes are free to move): a long reply goes on ahead.
        if (!readAhead && rows == orvo::com::kReadAheadAfterRows)
            readAhead =
                std::make_unique<orvo::com::ReplyReadAhead>(socket, reader, seq, settings.replyTimeoutMs);
        switch (readAhead ? ReadAheadNext(function) : ReadNext(function)) {
        case Step::Row:
            row.Show(rowItems, rowFirst);
            ++rows;
            return true;
        case Step::Failed:
            state = State::Idle;
            TraceReply(function, rows, failure.status);
            return false;
        case Step::End:
            break;
        }
        state = State::Idle;
        TraceReply(function, rows, endStatus);
        if (endStatus == proto::kStatusOk) {
            lastOk = true;
            return false;
        }
        if (endStatus == proto::kStatusNotLoggedIn)
            loggedIn = false; // the session is gone on the server's side; log in again next time
        Fail(function, endStatus, endText.empty() ? proto::StatusName(endStatus) : endText);
        return false;
    }

    bool AddItem(long tag, std::string value) {
        if (state != State::Building)
            return false; // no CreateHead: nothing to add to
        if (tag < static_cast<long>(proto::kFirstDataTag) || tag > static_cast<long>(proto::kMaxTag)) {
            if (requestError.empty())
                requestError = "item tag " + std::to_string(tag) + " is reserved or out of range";
            return false;
        }
        if (value.find('\x01') != std::string::npos) {
            if (requestError.empty())
                requestError = "item " + std::to_string(tag) + " holds the byte 0x01";
            return false;
        }
        if (items.size() + kRequestHeaderItems >= proto::kMaxItemsPerRequest) {
            if (requestError.empty())
                requestError = "too many items";
            return false;
        }
        items.emplace_back(static_cast<std::uint32_t>(tag), std::move(value));
        return true;
    }
};
