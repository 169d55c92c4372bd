#include "server/net/Connection.h"

#include "server/common/Metrics.h"

#include "protocol/Header.h"
#include "server/common/Dates.h"
#include "server/common/LogText.h"
#include "server/functions/Functions.h"

#include <algorithm>

namespace orvo::server {
namespace {

constexpr std::size_t kReadChunk = 4096;          // what an idle connection holds to receive into
constexpr unsigned char kTlsHandshakeRecord = 22; // the first byte a TLS client sends

// Reads the sequence number of a frame whose header is broken, so the error still reaches the
// request it answers when that much is readable.
std::uint32_t bestEffortSeq(const proto::Frame& frame) {
    std::uint64_t seq = 0;
    if (const proto::Item* item = frame.Find(proto::kTagSeq))
        if (proto::ParseDecimal(item->value, 0xFFFFFFFFu, seq))
            return static_cast<std::uint32_t>(seq);
    return 0;
}

std::chrono::milliseconds ms(int value) {
    return std::chrono::milliseconds(value);
}

// End-frame item of a busy refusal (status 5): when to try again, in milliseconds, decimal.
constexpr std::uint32_t kTagRetryAfterMs = 61;

// A status 5 end frame that says when to try again.
std::string busyEnd(std::uint32_t seq, std::string_view text, std::chrono::milliseconds retry) {
    std::string frame;
    proto::FrameBuilder builder(frame);
    builder.Add(proto::kTagType, "E").Add(proto::kTagSeq, seq).Add(proto::kTagStatus, proto::kStatusLimit);
    builder.Add(proto::kTagText, text).Add(proto::kTagRows, 0LL);
    builder.Add(kTagRetryAfterMs, static_cast<long long>(retry.count()));
    builder.Finish();
    return frame;
}

} // namespace

Connection::Connection(ServerCore& core, asio::ip::tcp::socket socket, std::string peer, std::string address,
                       std::string refusal)
    : m_core(core), m_socket(std::move(socket)), m_peer(std::move(peer)), m_address(std::move(address)),
      m_refusal(std::move(refusal)), m_readTimer(core.io()), m_writeTimer(core.io()), m_retryTimer(core.io()),
      m_replyTimer(core.io()), m_reader([&core] {
          proto::Limits limits;
          limits.maxFrameSize = core.options().maxRequestBytes;
          limits.allowColumnNames = false; // requests carry tags only
          return limits;
      }()),
      m_sink(core.spillBudget()) {
    if (core.tls())
        m_tls.emplace(std::move(m_socket), *core.tls());
    m_session.peerAddress = m_address;
    m_session.guard = &core.guard();
    m_session.ticketKeys = &core.ticketKeys();
    m_session.changeMemo = &core.changeMemo();
    m_session.serverName = &core.sessions().serverName();
    if (!m_refusal.empty())
        m_stage = Stage::Closing;
}

void Connection::start() {
    m_core.add(shared_from_this());
    if (m_refusal.empty())
        m_core.limits().opened(m_address);
    const auto now = Clock::now();
    m_loginDeadline = now + ms(m_core.options().loginTimeoutMs);
    m_idleDeadline = now + ms(m_core.options().idleTimeoutMs);
    armReadTimer(); // the handshake, too, must be over before the login deadline
    if (!m_tls) {
        afterHandshake();
        return;
    }
    // A client speaking plain text to this port would meet a closed connection and never learn why: a TLS
    // client opens with a handshake record, so anything else is told in plain text to turn TLS on.
    socket().async_wait(
        asio::socket_base::wait_read, [self = shared_from_this()](const asio::error_code& ec) {
            if (self->m_closed)
                return;
            unsigned char first = 0;
            asio::error_code peekError = ec;
            if (!peekError)
                self->socket().receive(asio::buffer(&first, 1), asio::socket_base::message_peek, peekError);
            if (peekError)
                self->close({}); // the client went away
            else if (first != kTlsHandshakeRecord)
                self->refusePlainText();
            else
                self->startHandshake();
        });
}

void Connection::refusePlainText() {
    m_stage = Stage::Closing;
    m_lastWords.clear();
    proto::AppendEnd(m_lastWords, 0, proto::kStatusBadRequest,
                     "this port speaks TLS only: turn TLS on in the client", 0);
    armWriteTimer("plain text on the TLS port");
    asio::async_write(socket(), asio::buffer(m_lastWords),
                      [self = shared_from_this()](const asio::error_code& ec, std::size_t) {
                          if (ec) {
                              self->close("plain text on the TLS port");
                              return;
                          }
                          // Closing with the client's request unread would reset the connection, and the
                          // reset can destroy the answer before the client reads it: the client closes
                          // first, once it has read it (or the write deadline closes it).
                          asio::error_code ignored;
                          self->socket().shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
                          self->discardUntilClosed();
                      });
}

void Connection::discardUntilClosed() {
    m_discarded.resize(kReadChunk);
    socket().async_read_some(asio::buffer(m_discarded),
                             [self = shared_from_this()](const asio::error_code& ec, std::size_t) {
                                 if (self->m_closed)
                                     return;
                                 if (ec)
                                     self->close("plain text on the TLS port");
                                 else
                                     self->discardUntilClosed();
                             });
}

void Connection::startHandshake() {
    m_tls->async_handshake(
        asio::ssl::stream_base::server, [self = shared_from_this()](const asio::error_code& ec) {
            if (self->m_closed)
                return;
            if (ec) {
                self->close("TLS handshake failed (" + escapeText(ec.message(), true) + ")");
                return;
            }
            self->afterHandshake();
        });
}

void Connection::afterHandshake() {
    if (m_refusal.empty())
        processFrames();
    else
        refuseLimit();
}

void Connection::refuseLimit() {
    sayBusyAndClose(0, m_refusal);
}

void Connection::sayBusyAndClose(std::uint32_t seq, std::string_view text) {
    m_stage = Stage::Closing;
    m_lastWords = busyEnd(seq, text, m_core.retryHint());
    armWriteTimer("write time-out: the client stopped reading");
    withStream([this](auto& stream) {
        asio::async_write(stream, asio::buffer(m_lastWords),
                          [self = shared_from_this()](const asio::error_code&, std::size_t) {
                              self->disarmWriteTimer();
                              self->close({});
                          });
    });
}

void Connection::close(std::string_view why) {
    if (m_closed)
        return;
    auto self = shared_from_this(); // the server's set may hold the last reference
    m_closed = true;
    if (!why.empty())
        m_core.log("connection " + m_peer + " closed: " + std::string(why));
    asio::error_code ignored;
    socket().shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    socket().close(ignored);
    m_readTimer.cancel();
    m_writeTimer.cancel();
    m_retryTimer.cancel();
    m_replyTimer.cancel();
    m_sink.fail();
    m_core.sessions().closed(m_watched, std::string(kSessionClosed));
    if (m_refusal.empty())
        m_core.limits().closed(m_address, m_loggedIn);
    m_core.remove(self);
}

void Connection::processFrames() {
    if (m_closed || !m_endedWhy.empty())
        return;
    if (m_core.stopping()) {
        close({});
        return;
    }
    const proto::ReadResult result = m_reader.Next(m_frame);
    if (result == proto::ReadResult::Error) {
        close(std::string("broken frame (") + proto::ErrorText(m_reader.error()) + ")");
        return;
    }
    if (result == proto::ReadResult::Frame) {
        m_frameDeadline = Clock::time_point::max();
        beginRequest();
        return;
    }
    if (m_reader.Buffered() == 0) {
        m_frameDeadline = Clock::time_point::max();
        // A large request grew the buffer: an idle connection goes back to the small one.
        if (m_reader.Capacity() > kReadChunk)
            m_reader = proto::FrameReader(m_reader.limits());
    } else if (m_frameDeadline == Clock::time_point::max())
        m_frameDeadline = Clock::now() + ms(m_core.options().readTimeoutMs);
    armReadTimer();
    readMore();
}

void Connection::readMore() {
    const std::span<char> space = m_reader.PrepareWrite(kReadChunk);
    withStream([this, space](auto& stream) {
        stream.async_read_some(asio::buffer(space.data(), space.size()),
                               [self = shared_from_this()](const asio::error_code& ec, std::size_t got) {
                                   if (self->m_closed)
                                       return;
                                   if (ec) {
                                       self->close({}); // the client went away
                                       return;
                                   }
                                   self->m_reader.Commit(got);
                                   self->processFrames();
                               });
    });
}

void Connection::armReadTimer() {
    auto deadline = std::min(m_idleDeadline, m_frameDeadline);
    if (!m_loggedIn)
        deadline = std::min(deadline, m_loginDeadline);
    m_readTimer.expires_at(deadline);
    m_readTimer.async_wait([self = shared_from_this()](const asio::error_code& ec) {
        if (!ec)
            self->onReadTimer();
    });
}

void Connection::onReadTimer() {
    if (m_closed || requestRunning())
        return;
    const auto now = Clock::now();
    if (!m_loggedIn && m_loginDeadline <= now)
        close("login time-out");
    else if (m_frameDeadline <= now)
        close("read time-out");
    else if (m_idleDeadline <= now)
        close("idle time-out");
    else
        armReadTimer(); // woken early
}

void Connection::beginRequest() {
    if (m_watched)
        m_watched->noteRequest();
    m_readTimer.cancel();
    m_stage = Stage::Running;
    m_request.emplace(m_core);
    m_lane = laneOf(m_frame);
    handOver();
}

void Connection::handOver() {
    const auto busy =
        m_core.runRequest(m_lane, [self = shared_from_this()](Store* store, const std::string& dbError) {
            self->runRequest(store, dbError);
        });
    if (busy.count() == 0)
        return;
    m_request.reset();
    m_core.log("connection " + m_peer + ": login refused, too many logins waiting to be checked");
    sayBusyAndClose(bestEffortSeq(m_frame), "server busy: too many logins waiting; try again");
}

void Connection::runRequest(Store* store, const std::string& dbError) {
    using SteadyClock = std::chrono::steady_clock;
    const auto started = SteadyClock::now();
    proto::Header header;
    const proto::Error headerError = proto::ReadHeader(m_frame.items, header);
    Request request;
    request.seq = headerError == proto::Error::None ? header.seq : bestEffortSeq(m_frame);
    request.function = header.function;
    request.items = m_frame.items;
    request.lightLane = m_lane == Lane::Light;
    m_session.loginName.clear();
    if (headerError == proto::Error::None && header.function == proto::kFunctionLogin && !m_loggedIn &&
        SteadyClock::now() >= m_loginDeadline) {
        // It waited its turn past the connection's login time-out: the client is told to come back, and
        // no worker checks a password nobody will be let in with.
        m_core.log("connection " + m_peer + ": login refused, it waited past the login time-out");
        write(busyEnd(request.seq, "server busy: the login waited too long; try again", m_core.retryHint()));
        asio::post(m_core.io(), [self = shared_from_this()] { self->workerDone(true); });
        return;
    }
    ReplyWriter reply(*this, request.seq);
    Outcome outcome;
    if (headerError != proto::Error::None) {
        outcome = fail(proto::kStatusBadRequest,
                       std::string("bad request header: ") + proto::ErrorText(headerError));
    } else if (header.type != proto::MessageType::Request) {
        outcome = fail(proto::kStatusBadRequest, "expected a request (35=Q)");
    } else if (m_frame.items.size() > proto::kMaxItemsPerRequest) {
        outcome = fail(proto::kStatusLimit, "too many items in one request (limit " +
                                                std::to_string(proto::kMaxItemsPerRequest) + ")");
    } else if (!store) {
        outcome = databaseFailure(dbError);
        outcome.closeAfter = true;
    } else {
        CallContext ctx{*store, m_session, request, reply,
                        m_core.options().today.empty() ? localDate() : m_core.options().today};
        outcome = dispatch(ctx);
    }
    if (outcome.runAgainAfter.count() > 0 && reply.rows() == 0 && !reply.failed()) {
        const auto wait = outcome.runAgainAfter;
        asio::post(m_core.io(), [self = shared_from_this(), wait] { self->runAgainAfter(wait); });
        return;
    }
    if (outcome.heavyLane && m_lane == Lane::Light && reply.rows() == 0 && !reply.failed()) {
        // Found too large for the light workers: it waits its turn among the long replies instead.
        m_lane = Lane::Heavy;
        asio::post(m_core.io(), [self = shared_from_this()] { self->handOver(); });
        return;
    }
    // Counted before the end frame can reach the client (the loop runs posts in order, and the reply's
    // writes are posted after this), so a client told it is logged in no longer takes a share of the
    // room for logging in. Only a login changes whether the connection is logged in.
    if (request.function == proto::kFunctionLogin)
        asio::post(m_core.io(),
                   [self = shared_from_this(), now = m_session.loggedIn] { self->countLogin(now); });
    // Counted before the end frame goes: a client that has its answer finds it counted.
    metrics().countRequest(request.function, outcome.status, SteadyClock::now() - started, reply.rows());
    reply.end(outcome.status, outcome.text);
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - started).count();
    std::string line = "op=" + (m_session.loggedIn ? escapeText(m_session.op.name) : std::string("-")) +
                       " fn=" + std::to_string(request.function) + " rows=" + std::to_string(reply.rows()) +
                       " ms=" + std::to_string(elapsed) + " status=" + std::to_string(outcome.status);
    if (outcome.status)
        line += " (" + escapeText(outcome.text) + ")";
    if (const std::uint64_t kept = m_sink.keptBytes(); kept > 0)
        line += " aside=" + std::to_string(kept) + (m_sink.usedFile() ? " (in a file)" : "");
    if (!outcome.logDetail.empty())
        line += " [" + escapeText(outcome.logDetail) + "]";
    if (request.function == proto::kFunctionLogin && outcome.status)
        line += " peer=" + m_peer + " name=\"" + escapeText(m_session.loginName) + "\"";
    m_core.log(line);
    const bool closeAfter = reply.failed() || outcome.closeAfter;
    asio::post(m_core.io(), [self = shared_from_this(), closeAfter] { self->workerDone(closeAfter); });
}

void Connection::runAgainAfter(std::chrono::milliseconds wait) {
    // The request stays Running while it waits, but holds no worker.
    m_retryTimer.expires_after(wait);
    m_retryTimer.async_wait([self = shared_from_this()](const asio::error_code& ec) {
        if (ec || self->m_closed) {
            self->workerDone(true);
            return;
        }
        self->handOver();
    });
}

void Connection::workerDone(bool closeAfter) {
    m_stage = closeAfter ? Stage::Closing : Stage::Replying;
    if (!m_sink.sending())
        endRequest(); // otherwise onWritten ends it with the last chunk
}

void Connection::endRequest() {
    m_request.reset();
    m_replyTimer.cancel();
    m_replyStart = m_chunkStart = {};
    m_replyBytes = 0;
    m_replySending = {};
    m_sink.release(); // an idle connection keeps no send buffer
    if (m_closed) {
        // A login answered into a connection already gone: its session was recorded, never watched.
        if (m_session.loggedIn && m_session.serverName && m_session.sessionId != 0 &&
            (!m_watched || m_watched->id != m_session.sessionId))
            m_core.sessions().closedUnwatched(m_session.sessionId, std::string(kSessionClosed));
        return;
    }
    if (!m_endedWhy.empty()) {
        sayEndedAndClose();
        return;
    }
    if (m_stage == Stage::Closing || m_core.stopping()) {
        close({});
        return;
    }
    m_stage = Stage::Reading;
    const auto now = Clock::now();
    countLogin(m_session.loggedIn);
    followSession();
    // Only a logged-in operator's requests keep a connection alive.
    if (m_loggedIn)
        m_idleDeadline = now + ms(m_core.options().idleTimeoutMs);
    else if (m_loginDeadline <= now) {
        close("login time-out");
        return;
    }
    processFrames();
}

} // namespace orvo::server
