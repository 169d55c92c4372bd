#include "host/com/AwaitedFrame.h"

namespace orvo::com {

AwaitedFrame TakeAwaitedFrame(const proto::Frame& frame, std::uint32_t seq) {
    AwaitedFrame taken;
    if (const proto::Error error = proto::ReadHeader(frame.items, taken.header);
        error != proto::Error::None) {
        taken.text = BrokenReplyText(error);
        return taken;
    }
    const proto::Header& header = taken.header;
    if (header.type == proto::MessageType::Request) {
        taken.text = "the counter server sent a request";
    } else if (header.seq == 0) {
        if (header.type == proto::MessageType::End)
            taken.kind = AwaitedFrame::Kind::Refused;
        else
            taken.text = "the counter server sent a row outside any request";
    } else if (header.seq != seq) {
        taken.kind = AwaitedFrame::Kind::Skip;
    } else {
        taken.kind =
            header.type == proto::MessageType::Row ? AwaitedFrame::Kind::Row : AwaitedFrame::Kind::End;
        // The count is optional on the wire: only a count that was sent is held against the rows.
        if (taken.kind == AwaitedFrame::Kind::End && !proto::ValueOf(frame.items, proto::kTagRows).empty())
            taken.rowsSent = header.rows;
        // An end frame may carry items of a function's own beside its status (a revision to ask from).
        if (taken.kind == AwaitedFrame::Kind::End)
            for (const proto::Item& item : frame.items)
                if (item.tag >= proto::kFirstDataTag)
                    taken.endItems.emplace_back(item.tag, std::string(item.value));
    }
    return taken;
}

std::string BrokenReplyText(proto::Error error) {
    return std::string("broken reply from the counter server: ") + proto::ErrorText(error);
}

std::string ReceiveFailureText(FixSocket::Result result, const std::string& error, int replyTimeoutMs) {
    switch (result) {
    case FixSocket::Result::Closed:
        return "the counter server closed the connection";
    case FixSocket::Result::TimedOut:
        return "no reply from the counter server within " + std::to_string(replyTimeoutMs) + " ms";
    case FixSocket::Result::Failed:
    case FixSocket::Result::Ok:
        break;
    }
    return "receiving from the counter server failed: " + error;
}

std::string RowCountMismatchText(long received, std::uint64_t sent) {
    const bool fewer = received >= 0 && static_cast<std::uint64_t>(received) < sent;
    return std::string(fewer ? "reply incomplete: " : "reply inconsistent: ") + std::to_string(received) +
           " rows received, the server sent " + std::to_string(sent);
}

std::string ReadAheadOutOfMemoryText() {
    return "not enough memory to read the reply from the counter server";
}

std::string ReadAheadFaultText() {
    return "reading the reply from the counter server failed unexpectedly";
}

bool EndsSessionForGood(std::string_view serverText) {
    // The server's own words (its sessions' end reasons); item 64 carries the same as a number.
    for (const std::string_view reason :
         {"session ended by an administrator", "session ended: operator disabled",
          "session ended: operator removed", "session ended: password changed"})
        if (serverText == reason)
            return true;
    return false;
}

std::string RefusalText(int status, std::string_view text) {
    return "the counter server refused the connection: " +
           (text.empty() ? proto::StatusName(status) : std::string(text));
}

} // namespace orvo::com
