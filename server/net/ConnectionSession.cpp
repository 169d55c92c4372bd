// A connection's login and session as the server's session watch sees them: a login counted, the
// operator read again after a change, and a session ended by an administrator or a revocation.
#include "server/net/Connection.h"

#include "protocol/Header.h"
#include "protocol/Protocol.h"
#include "server/functions/SessionTickets.h"

namespace orvo::server {
namespace {

// Why a session ended, as the number a client shows in its own words (0: none of these).
long long sessionEndCode(std::string_view reason) {
    if (reason == kSessionEndedByAdministrator)
        return 1;
    if (reason == kSessionEndedDisabled)
        return 2;
    if (reason == kSessionEndedPassword)
        return 3;
    if (reason == kSessionEndedRemoved)
        return 4;
    if (reason == kSessionServerStopped)
        return 5;
    return 0;
}

} // namespace

void Connection::followSession() {
    if (m_revisedOperator && m_watched && m_session.loggedIn && m_session.sessionId == m_watched->id)
        m_session.op = std::move(*m_revisedOperator);
    m_revisedOperator.reset();
    const std::int64_t id = m_session.loggedIn ? m_session.sessionId : 0;
    if ((m_watched ? m_watched->id : 0) == id)
        return;
    m_core.sessions().closed(m_watched, std::string(kSessionLoggedOut));
    m_watched = id ? m_core.sessions().track(id, m_session.op.name, weak_from_this()) : nullptr;
}

void Connection::reviseOperator(std::int64_t id, const Operator& op) {
    if (m_closed || !m_watched || m_watched->id != id)
        return;
    if (requestRunning())
        m_revisedOperator = op;
    else
        m_session.op = op;
}

void Connection::endSession(std::int64_t id, const std::string& why) {
    if (m_closed || !m_endedWhy.empty() || !m_watched || m_watched->id != id)
        return;
    m_endedWhy = why; // no request runs after this one
    if (requestRunning())
        m_sink.fail(); // the reply stops at its next chunk; endRequest then says why
    else
        sayEndedAndClose();
}

void Connection::sayEndedAndClose() {
    m_stage = Stage::Closing;
    m_readTimer.cancel();
    m_lastWords.clear();
    proto::FrameBuilder builder(m_lastWords);
    builder.Add(proto::kTagType, "E")
        .Add(proto::kTagSeq, 0LL)
        .Add(proto::kTagStatus, proto::kStatusNotLoggedIn);
    builder.Add(proto::kTagText, m_endedWhy).Add(proto::kTagRows, 0LL);
    if (const long long code = sessionEndCode(m_endedWhy))
        builder.Add(kTagSessionEndCode, code);
    builder.Finish();
    armWriteTimer("write time-out: the client stopped reading");
    withStream([this](auto& stream) {
        asio::async_write(stream, asio::buffer(m_lastWords),
                          [self = shared_from_this()](const asio::error_code&, std::size_t) {
                              self->disarmWriteTimer();
                              self->close(self->m_endedWhy);
                          });
    });
}

void Connection::countLogin(bool loggedIn) {
    if (m_closed || loggedIn == m_loggedIn)
        return;
    m_loggedIn = loggedIn;
    if (m_loggedIn) {
        m_core.limits().loggedIn(m_address);
    } else {
        m_core.limits().loggedOut(m_address); // logged out by a failed login: the login clock starts again
        m_loginDeadline = Clock::now() + std::chrono::milliseconds(m_core.options().loginTimeoutMs);
    }
}

} // namespace orvo::server
