// CFixComm's requests: the items gathered between CreateHead() and More(), and sending them.
#include "host/com/FixCommImpl.h"

#include <cassert>

bool CFixComm::Impl::AddItem(long tag, std::string value) {
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
    if (items.size() + orvo::com::kRequestHeaderItems >= proto::kMaxItemsPerRequest) {
        if (requestError.empty())
            requestError = "too many items";
        return false;
    }
    items.emplace_back(static_cast<std::uint32_t>(tag), std::move(value));
    return true;
}

std::uint32_t CFixComm::Impl::NextSeq() {
    lastSeq = lastSeq == 0xFFFFFFFFu ? 1 : lastSeq + 1;
    return lastSeq;
}

void CFixComm::Impl::TraceRequest(long tracedFunction, const RequestItems& sent) {
    if (!onTrace)
        return;
    FixCommTraceEvent event;
    event.kind = FixCommTraceEvent::Request;
    event.function = tracedFunction;
    for (const auto& [tag, value] : sent) {
        const bool secret = tracedFunction == proto::kFunctionLogin &&
                            (tag == proto::kTagPassword || tag == orvo::com::kTagSessionTicket);
        event.items.emplace_back(std::to_string(tag), CString(secret ? std::string("***") : value));
    }
    onTrace(event);
}

bool CFixComm::Impl::Send(long sentFunction, const RequestItems& sent) {
    assert(CallerHoldsConnection());
    std::string out;
    proto::FrameBuilder builder(out, proto::Limits{proto::kMaxFrameSize, proto::kMaxItemsPerRequest, false});
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
    CloseConnection();
    Fail(sentFunction, kTransportFailure,
         result == orvo::FixSocket::Result::TimedOut ? "the counter server does not take the request"
                                                     : "sending to the counter server failed: " + error);
    TraceReply(sentFunction, 0, kTransportFailure);
    return false;
}

// A server that turns a connection away says why in a frame of sequence 0 and closes: a request sent
// after that cannot go out, but the frame may still wait in the socket.
bool CFixComm::Impl::PendingRefusal(long sentFunction) {
    assert(CallerHoldsConnection());
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
            NoteRetryAfter(frame);
            ConnectionRefusal(sentFunction, header.status, header.text);
            TraceReply(sentFunction, 0, failure.status);
            return true;
        }
        std::size_t received = 0;
        std::string error;
        if (socket.Receive(reader.PrepareWrite(orvo::com::kReceiveChunk), now, received, error) !=
            orvo::FixSocket::Result::Ok)
            return false;
        reader.Commit(received);
    }
}
