// The counts the connection limits are checked against: connections being served, those of them not
// logged in yet, and those per client address, so that one address cannot fill the room everyone
// shares for logging in. Refusals are reported once per address per minute with a count, so a flood
// of them cannot flood the log. Loop thread only, but for active(), which any thread may read.
#pragma once

#include "server/net/ServerOptions.h"

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <unordered_map>

namespace orvo::server {

class ConnectionLimits {
public:
    using Clock = std::chrono::steady_clock;

    explicit ConnectionLimits(const ServerOptions& options) : m_options(options) {}

    // Why a new connection from the address is refused ("server busy: ..."), or empty when it may be
    // served.
    std::string refusal(const std::string& address) const;
    // A refusal happened: the log line to write now, or nothing when the address was reported less
    // than a minute ago (it is then counted for the next line).
    std::optional<std::string> reportRefusal(const std::string& address, const std::string& reason,
                                             Clock::time_point now);

    // A served connection began, waiting to log in.
    void opened(const std::string& address);
    // A login succeeded, or a logged-in connection lost its login to a failed one.
    void loggedIn(const std::string& address);
    void loggedOut(const std::string& address);
    // A served connection ended.
    void closed(const std::string& address, bool loggedIn);

    int active() const { return m_active; }

private:
    struct Report {
        Clock::time_point lastLine;
        int unreported = 0; // refusals since that line
    };
    void addPending(const std::string& address, int change);

    const ServerOptions& m_options;
    std::atomic<int> m_active{0};                            // connections being served (not those refused)
    int m_pending = 0;                                       // of those, not logged in
    std::unordered_map<std::string, int> m_pendingByAddress; // no entry for zero
    std::unordered_map<std::string, Report> m_reports;       // addresses refused within the minute
};

} // namespace orvo::server
