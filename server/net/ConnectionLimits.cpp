#include "server/net/ConnectionLimits.h"

namespace orvo::server {

std::string ConnectionLimits::refusal() const {
    if (m_active >= m_options.maxConnections)
        return "server busy: too many connections";
    if (m_pending >= m_options.maxPendingLogins)
        return "server busy: too many connections waiting to log in";
    return {};
}

void ConnectionLimits::opened() {
    ++m_active;
    ++m_pending;
}

void ConnectionLimits::loggedIn() {
    --m_pending;
}

void ConnectionLimits::loggedOut() {
    ++m_pending;
}

void ConnectionLimits::closed(bool loggedIn) {
    --m_active;
    if (!loggedIn)
        --m_pending;
}

} // namespace orvo::server
