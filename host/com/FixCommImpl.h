// The state of one CFixComm: its connection, the request being built and the reply being read.
// Shared by FixComm.cpp (the operations) and TableDownload.cpp.
//
// A request goes out at the first More(); each More() then reads one reply frame straight into the
// frame reader's buffer and makes it the current row, so only the current row (and what the socket
// delivered beyond it) is held. Every frame of a reply echoes the request's sequence number: when
// CreateHead() abandons an unread reply, its remaining frames are skipped by that number while the next
// reply is awaited, so the connection stays usable without a reconnect and without a blocking drain.
//
// Failures (no connection, a time-out, a broken frame, a refused request) make More() false, are kept
// in LastFailure() and are passed to the failure callback. A transport failure closes the connection;
// the next request connects and logs in again.
#pragma once

#include "host/com/FixComm.h"
#include "host/com/FixSocket.h"
#include "host/com/WireText.h"
#include "protocol/Protocol.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace proto = orvo::proto;

namespace orvo::com {

constexpr int kTransportFailure = -1;
constexpr std::size_t kReceiveChunk = 64 * 1024;
constexpr std::size_t kRequestHeaderItems = 3; // 35, 34, 20

enum class Step { Row, End, Failed };

using RequestItems = std::vector<std::pair<std::uint32_t, std::string>>;

// Where the first item of each tag sits in the current row, so that reading a row's items costs one probe
// each instead of a walk of the row. Rows of one reply nearly always carry the same tags in the same order:
// the table is rebuilt only when a row's tag sequence differs from the one it describes, and a new row
// costs one comparison of its tags with that sequence, done at the first look-up.
class RowIndex {
public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    // A new row is current: the next look-up checks the table against it.
    void RowChanged() { m_checked = false; }

    // Position in `items` of the first item with `tag` at or after `first`, or npos. Tag 0 (a column-name
    // key) is never found.
    std::size_t First(const std::vector<proto::Item>& items, std::size_t first, std::uint32_t tag) {
        if (!m_checked)
            Check(items, first);
        if (tag == 0 || m_slots.empty())
            return npos;
        const std::size_t mask = m_slots.size() - 1;
        for (std::size_t slot = Home(tag, mask);; slot = (slot + 1) & mask) {
            const Slot& s = m_slots[slot];
            if (s.tag == tag)
                return first + s.position;
            if (s.tag == 0)
                return npos;
        }
    }

private:
    struct Slot {
        std::uint32_t tag = 0; // 0: free
        std::uint32_t position = 0;
    };

    static std::size_t Home(std::uint32_t tag, std::size_t mask) {
        return static_cast<std::size_t>((tag * 0x9E3779B1u) >> 8) & mask;
    }

    // Out of line: once per row, and it keeps the look-up itself small enough to inline into its callers.
    [[gnu::noinline]] void Check(const std::vector<proto::Item>& items, std::size_t first) {
        m_checked = true;
        const std::size_t count = items.size() > first ? items.size() - first : 0;
        bool same = count == m_tags.size();
        for (std::size_t i = 0; same && i < count; ++i)
            same = items[first + i].tag == m_tags[i];
        if (!same)
            Rebuild(items, first, count);
    }

    void Rebuild(const std::vector<proto::Item>& items, std::size_t first, std::size_t count) {
        m_tags.resize(count);
        std::size_t capacity = 16;
        while (capacity < count * 2)
            capacity *= 2;
        m_slots.assign(capacity, Slot{});
        const std::size_t mask = capacity - 1;
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint32_t tag = items[first + i].tag;
            m_tags[i] = tag;
            if (tag == 0)
                continue;
            std::size_t slot = Home(tag, mask);
            while (m_slots[slot].tag != 0 && m_slots[slot].tag != tag)
                slot = (slot + 1) & mask;
            if (m_slots[slot].tag == 0) // a repeated tag keeps its first position
                m_slots[slot] = Slot{tag, static_cast<std::uint32_t>(i)};
        }
    }

    bool m_checked = false;
    std::vector<std::uint32_t> m_tags; // the row tag sequence that m_slots describes
    std::vector<Slot> m_slots;         // open addressing, a power of two in size
};

} // namespace orvo::com

struct CFixComm::Impl {
    using Step = orvo::com::Step;
    using RequestItems = orvo::com::RequestItems;
    static constexpr int kTransportFailure = orvo::com::kTransportFailure;
    static constexpr std::size_t kReceiveChunk = orvo::com::kReceiveChunk;
    static constexpr std::size_t kRequestHeaderItems = orvo::com::kRequestHeaderItems;

    enum class State { Idle, Building, Reading };

    FixCommSettings settings;
    orvo::FixSocket socket;
    proto::FrameReader reader;
    proto::Frame frame; // the current reply frame; its items point into `reader`
    bool loggedIn = false;

    State state = State::Idle;
    long function = 0;
    RequestItems items;
    std::string requestError; // set when the request being built cannot be sent
    std::uint32_t seq = 0;    // of the request whose reply is awaited
    std::uint32_t lastSeq = 0;
    bool haveRow = false;
    std::size_t rowFirst = 0; // first item of the current row after the header
    orvo::com::RowIndex rowIndex;
    long rows = 0;
    int endStatus = 0;
    std::string endText;
    bool lastOk = false; // the last request ended with status 0

    FixCommFailure failure;
    std::function<void(const FixCommFailure&)> onFailure;
    std::function<void(const FixCommTraceEvent&)> onTrace;
    std::function<bool(long)> onWait; // false: cancel the awaited reply

    // Every failure text may carry text from the wire (a server's status text, a table name): it is
    // escaped here, once, for every log and status line that shows it.
    void Fail(long failedFunction, int status, const std::string& text) {
        failure.function = failedFunction;
        failure.status = status;
        failure.text = CString(orvo::EscapeControlBytes(text));
        if (onFailure)
            onFailure(failure);
    }

    void Drop() {
        socket.Close();
        reader.Reset();
        loggedIn = false;
        haveRow = false;
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
            rowIndex.RowChanged();
            if (result == proto::ReadResult::Error)
                return false;
            if (result == proto::ReadResult::Frame) {
                proto::Header header;
                if (proto::ReadHeader(frame.items, header) != proto::Error::None || header.seq != 0 ||
                    header.type != proto::MessageType::End)
                    continue;
                ConnectionRefusal(sentFunction, header);
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
    Step ConnectionRefusal(long readFunction, const proto::Header& header) {
        if (header.type != proto::MessageType::End)
            return TransportFailure(readFunction, "the counter server sent a row outside any request");
        // Copied before Drop(): the header's text points into the receive buffer.
        const std::string text =
            header.text.empty() ? proto::StatusName(header.status) : std::string(header.text);
        const int status = header.status;
        Drop();
        Fail(readFunction, status, "the counter server refused the connection: " + text);
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
            rowIndex.RowChanged(); // whatever came, the frame's items are no longer the ones indexed
            if (result == proto::ReadResult::Error)
                return TransportFailure(readFunction, std::string("broken reply from the counter server: ") +
                                                          proto::ErrorText(reader.error()));
            if (result == proto::ReadResult::Frame) {
                proto::Header header;
                if (const proto::Error error = proto::ReadHeader(frame.items, header);
                    error != proto::Error::None)
                    return TransportFailure(readFunction,
                                            std::string("broken reply from the counter server: ") +
                                                proto::ErrorText(error));
                if (header.type == proto::MessageType::Request)
                    return TransportFailure(readFunction, "the counter server sent a request");
                if (header.seq == 0)
                    return ConnectionRefusal(readFunction, header);
                if (header.seq != seq)
                    continue; // the rest of an abandoned reply
                if (header.type == proto::MessageType::Row) {
                    rowFirst = header.firstData;
                    return Step::Row;
                }
                endStatus = header.status;
                endText.assign(header.text);
                return Step::End;
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
            switch (waited) {
            case orvo::FixSocket::Result::Ok:
                reader.Commit(received);
                break;
            case orvo::FixSocket::Result::Closed:
                return TransportFailure(readFunction, "the counter server closed the connection");
            case orvo::FixSocket::Result::TimedOut:
                if (slice < deadline)
                    break; // a slice of the wait, not the reply time-out
                return TransportFailure(readFunction, "no reply from the counter server within " +
                                                          std::to_string(settings.replyTimeoutMs) + " ms");
            case orvo::FixSocket::Result::Failed:
                return TransportFailure(readFunction, "receiving from the counter server failed: " + error);
            }
        }
    }

    // The work of More(): send on the first call, then one frame per call.
    bool Advance() {
        haveRow = false;
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
        switch (ReadNext(function)) {
        case Step::Row:
            haveRow = true;
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

    const proto::Item* FindInRow(long tag, int index) {
        if (!haveRow || tag <= 0 || tag > static_cast<long>(proto::kMaxTag))
            return nullptr;
        const auto wanted = static_cast<std::uint32_t>(tag);
        std::size_t i = rowIndex.First(frame.items, rowFirst, wanted);
        if (i == orvo::com::RowIndex::npos)
            return nullptr;
        if (index <= 0)
            return &frame.items[i];
        // Index n > 0 asks for the n-th repeat (0-based): walk on from the first.
        for (int seen = 0; i < frame.items.size(); ++i)
            if (frame.items[i].tag == wanted && seen++ == index)
                return &frame.items[i];
        return nullptr;
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
