// The counts the connection limits are checked against: connections being served and, of those, the
// ones not logged in yet. Loop thread only, but for active(), which any thread may read.
#pragma once

#include "server/net/ServerOptions.h"

#include <atomic>
#include <string>

namespace orvo::server {

class ConnectionLimits {
public:
    explicit ConnectionLimits(const ServerOptions& options) : m_options(options) {}

    // Why a new connection is refused ("server busy: ..."), or empty when it may be served.
    std::string refusal() const;

    // A served connection began, waiting to log in.
    void opened();
    // A login succeeded, or a logged-in connection lost its login to a failed one.
    void loggedIn();
    void loggedOut();
    // A served connection ended.
    void closed(bool loggedIn);

    int active() const { return m_active; }

private:
    const ServerOptions& m_options;
    std::atomic<int> m_active{0}; // connections being served (not those refused)
    int m_pending = 0;            // of those, not logged in
};

} // namespace orvo::server
