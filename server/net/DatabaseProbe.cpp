#include "server/net/DatabaseProbe.h"

#include <utility>

namespace orvo::server {

DatabaseProbe::DatabaseProbe(asio::io_context& io, Ask ask)
    : m_ask(std::move(ask)), m_next(io), m_deadline(io) {}

void DatabaseProbe::start() {
    begin();
    scheduleNext();
}

void DatabaseProbe::stop() {
    m_stopped = true;
    m_next.cancel();
    m_deadline.cancel();
    m_waiting.clear();
}

void DatabaseProbe::check(std::function<void(bool)> done) {
    if (m_stopped)
        return done(false);
    m_waiting.push_back(std::move(done));
    begin();
}

void DatabaseProbe::scheduleNext() {
    m_next.expires_after(kInterval);
    m_next.async_wait([weak = weak_from_this()](const asio::error_code& ec) {
        const auto self = weak.lock();
        if (ec || !self || self->m_stopped)
            return;
        self->begin();
        self->scheduleNext();
    });
}

void DatabaseProbe::begin() {
    if (m_inFlight || m_stopped)
        return;
    m_inFlight = true;
    const std::uint64_t probe = ++m_probe;
    m_deadline.expires_after(kTimeout);
    m_deadline.async_wait([weak = weak_from_this(), probe](const asio::error_code& ec) {
        if (const auto self = weak.lock(); !ec && self)
            self->finish(probe, false);
    });
    // The answer may come after this object is gone (the server stopping): it is then dropped.
    m_ask([weak = weak_from_this(), probe](bool answered) {
        if (const auto self = weak.lock())
            self->finish(probe, answered);
    });
}

void DatabaseProbe::finish(std::uint64_t probe, bool up) {
    if (probe != m_probe || !m_inFlight)
        return; // a late answer of a probe whose time ran out
    m_inFlight = false;
    m_deadline.cancel();
    m_up = up ? 1 : 0;
    auto waiting = std::move(m_waiting);
    m_waiting.clear();
    for (auto& done : waiting)
        done(up);
}

} // namespace orvo::server
