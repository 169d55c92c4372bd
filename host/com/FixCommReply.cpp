// CFixComm's replies: one row per More(), read on the caller's thread or taken from the read-ahead, and
// how a reply ends (its status, and its rows held against the count the server sent).
#include "host/com/FixCommImpl.h"

#include <algorithm>
#include <cassert>

bool CFixComm::Impl::Advance() {
    row.Hide();
    Step step = Step::Failed;
    if (state == State::Building) {
        state = State::Idle;
        rows = 0;
        if (!requestError.empty()) {
            Fail(function, proto::kStatusBadRequest, "request not sent: " + requestError);
            TraceReply(function, 0, proto::kStatusBadRequest);
            return false;
        }
        repeatsLeft = dropRowsRead ? ServerCount() - 1 : 0;
        step = StartReply();
        if (step == Step::Failed && state != State::Reading)
            return false; // not sent: the failure is traced
    } else {
        if (state != State::Reading)
            return false;
        step = NextReplyFrame();
        if (step == Step::Failed && state != State::Reading)
            return false; // repeated elsewhere, and not sent there: the failure is traced
    }
    switch (step) {
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
    // Rows lost on the way (a proxy, a broken server) leave a list that looks whole: the end frame's count
    // says otherwise, and the reply fails. The connection is still in step, so it stays.
    if (endStatus == proto::kStatusOk && endRowsSent && *endRowsSent != static_cast<std::uint64_t>(rows)) {
        Fail(function, kTransportFailure, orvo::com::RowCountMismatchText(rows, *endRowsSent));
        TraceReply(function, rows, kTransportFailure);
        return false;
    }
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

// The frame must arrive within the reply time-out from the start of the wait; frames of other requests
// (the rest of an abandoned reply) do not restart it, so a peer cannot hold the window by sending them.
auto CFixComm::Impl::NextFrameFromSocket(long readFunction) -> Step {
    assert(CallerHoldsConnection());
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
                NoteRetryAfter(frame);
                return ConnectionRefusal(readFunction, taken.header.status, taken.header.text);
            case Kind::Row:
                rowItems = frame.items;
                rowFirst = taken.header.firstData;
                return Step::Row;
            case Kind::End:
                endStatus = taken.header.status;
                endText.assign(taken.header.text);
                endRowsSent = taken.rowsSent;
                endItems = std::move(taken.endItems);
                if (endStatus == proto::kStatusLimit)
                    NoteRetryAfter(frame);
                return Step::End;
            }
        }
        if (!deadlineSet) {
            deadline = orvo::DeadlineAfter(settings.replyTimeoutMs);
            deadlineSet = true;
        }
        const std::span<char> space = reader.PrepareWrite(orvo::com::kReceiveChunk);
        std::size_t received = 0;
        std::string error;
        // With a wait callback the wait goes in slices, so that the caller can show progress or cancel.
        const orvo::Deadline slice = onWait ? std::min(deadline, orvo::DeadlineAfter(100)) : deadline;
        const auto waited = socket.Receive(space, slice, received, error);
        if ((waited == orvo::FixSocket::Result::Ok || slice < deadline) && onWait && !onWait(rows))
            return Cancelled(readFunction);
        if (waited == orvo::FixSocket::Result::Ok)
            reader.Commit(received);
        else if (waited != orvo::FixSocket::Result::TimedOut || slice == deadline) // not a mere slice
            return TransportFailure(readFunction,
                                    orvo::com::ReceiveFailureText(waited, error, settings.replyTimeoutMs));
    }
}

// The caller's cancel ends the reply on the wire: skipping the rest of it would hold the line for as long
// as the rest takes to arrive (a long reply on a slow link: many seconds). The next request goes out on a
// new connection, logged in with the session ticket.
auto CFixComm::Impl::Cancelled(long readFunction) -> Step {
    CloseConnection();
    cancelled = true;
    Fail(readFunction, kTransportFailure, "the request was cancelled");
    return Step::Failed;
}

auto CFixComm::Impl::TransportFailure(long readFunction, const std::string& text) -> Step {
    CloseConnection();
    Fail(readFunction, kTransportFailure, text);
    return Step::Failed;
}

// A reply frame of sequence 0 belongs to no request: the server speaks for the connection (it is busy,
// its database is unavailable) and closes it. The request in hand fails with the server's word.
auto CFixComm::Impl::ConnectionRefusal(long readFunction, int status, std::string_view serverText) -> Step {
    // Made before CloseConnection(): the server's text may point into the receive buffer.
    const std::string text = orvo::com::RefusalText(status, serverText);
    if (status == proto::kStatusNotLoggedIn && orvo::com::EndsSessionForGood(serverText)) {
        endedForGood = text;
        ForgetTicket(); // refused from now on anyway
    }
    CloseConnection();
    Fail(readFunction, status, text);
    return Step::Failed;
}
