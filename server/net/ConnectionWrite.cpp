// A connection's replies on their way out: chunks handed from the worker to the loop, the write deadline
// of each chunk, and the whole reply's deadline and minimum rate.
#include "server/net/Connection.h"

namespace orvo::server {
namespace {

// A client that has not taken the previous chunk within this time gets the rest of the reply kept aside.
constexpr std::chrono::milliseconds kHandoffWait{100};
// The minimum rate counts only after the client has had this long to take the reply.
constexpr std::chrono::seconds kRateGrace{10};

} // namespace

void Connection::armWriteTimer(const char* why) {
    m_writeDeadline = Clock::now() + std::chrono::milliseconds(m_core.options().writeTimeoutMs);
    m_writeTimer.expires_at(m_writeDeadline);
    m_writeTimer.async_wait([self = shared_from_this(), why](const asio::error_code& ec) {
        // A handler already due when its write ended (or when the next chunk re-armed the timer) comes
        // without an error all the same: only a deadline that has really passed closes.
        if (!ec && Clock::now() >= self->m_writeDeadline)
            self->close(why);
    });
}

void Connection::disarmWriteTimer() {
    m_writeDeadline = Clock::time_point::max();
    m_writeTimer.cancel();
}

bool Connection::write(std::string_view bytes) {
    switch (m_sink.put(bytes, kHandoffWait)) {
    case SocketSink::Put::Handed:
        asio::post(m_core.io(), [self = shared_from_this()] { self->startWrite(); });
        return true;
    case SocketSink::Put::Kept:
        return true; // the loop sends it after the chunk it is sending
    case SocketSink::Put::Failed:
        break;
    }
    if (const std::string why = m_sink.error(); !why.empty())
        m_core.log("connection " + m_peer + ": reply failed: " + why);
    return false;
}

void Connection::startWrite() {
    if (m_closed) {
        onWritten(asio::error::operation_aborted);
        return;
    }
    const auto now = Clock::now();
    if (m_replyStart == Clock::time_point{}) {
        m_replyStart = now;
        watchReply();
    }
    m_chunkStart = now;
    // One deadline for the whole chunk: partial sends do not extend it.
    armWriteTimer("write time-out: the client stopped reading");
    const std::string_view chunk = m_sink.chunk();
    withStream([this, chunk](auto& stream) {
        asio::async_write(stream, asio::buffer(chunk.data(), chunk.size()),
                          [self = shared_from_this()](const asio::error_code& ec, std::size_t wrote) {
                              self->m_replyBytes += wrote;
                              self->onWritten(ec);
                          });
    });
}

void Connection::onWritten(const asio::error_code& ec) {
    disarmWriteTimer();
    if (m_chunkStart != Clock::time_point{})
        m_replySending += Clock::now() - m_chunkStart;
    m_chunkStart = {};
    const bool more = m_sink.sent(!ec);
    if (ec)
        close({});
    else if (!more && !m_sink.error().empty())
        close("reply failed: " + m_sink.error());
    if (more && !m_closed) {
        startWrite(); // the next part of a reply kept aside
        return;
    }
    if (m_stage == Stage::Replying || m_stage == Stage::Closing)
        endRequest();
}

void Connection::watchReply() {
    m_replyTimer.expires_after(std::chrono::seconds(1));
    m_replyTimer.async_wait([self = shared_from_this()](const asio::error_code& ec) {
        if (!ec)
            self->onReplyWatch();
    });
}

void Connection::onReplyWatch() {
    if (m_closed || m_replyStart == Clock::time_point{})
        return;
    const auto now = Clock::now();
    auto sending = m_replySending;
    if (m_chunkStart != Clock::time_point{})
        sending += now - m_chunkStart;
    const double seconds = std::chrono::duration<double>(sending).count();
    const std::string taken =
        std::to_string(m_replyBytes) + " bytes taken, " + std::to_string(m_sink.keptBytes()) + " kept aside";
    if (now - m_replyStart >= std::chrono::milliseconds(m_core.options().replyTimeoutMs)) {
        close("reply time-out: not taken within " + std::to_string(m_core.options().replyTimeoutMs / 1000) +
              " s (" + taken + ")");
    } else if (sending >= kRateGrace && m_core.options().replyMinRate > 0 &&
               static_cast<double>(m_replyBytes) < seconds * m_core.options().replyMinRate) {
        close("reply cut: taken at " + std::to_string(static_cast<long long>(m_replyBytes / seconds)) +
              " bytes/s, below the minimum of " + std::to_string(m_core.options().replyMinRate) + " (" +
              taken + ")");
    } else {
        watchReply();
    }
}

} // namespace orvo::server
