#include "server/net/ConnectionLimits.h"

namespace orvo::server {
namespace {

constexpr auto kReportEvery = std::chrono::minutes(1);
constexpr std::size_t kMaxReported = 10000; // addresses remembered for the report; then the oldest go

} // namespace

std::string ConnectionLimits::refusal(const std::string& address) const {
    if (m_active >= m_options.maxConnections)
        return "server busy: too many connections";
    if (m_pending >= m_options.maxPendingLogins)
        return "server busy: too many connections waiting to log in";
    const auto it = m_pendingByAddress.find(address);
    if (it != m_pendingByAddress.end() && it->second >= m_options.maxPendingLoginsPerAddress)
        return "server busy: too many connections waiting to log in from this address";
    return {};
}

std::optional<std::string> ConnectionLimits::reportRefusal(const std::string& address,
                                                           const std::string& reason, Clock::time_point now) {
    auto it = m_reports.find(address);
    if (it != m_reports.end() && now - it->second.lastLine < kReportEvery) {
        ++it->second.unreported;
        return std::nullopt;
    }
    if (it == m_reports.end()) {
        if (m_reports.size() >= kMaxReported)
            std::erase_if(m_reports,
                          [now](const auto& entry) { return now - entry.second.lastLine >= kReportEvery; });
        if (m_reports.size() >= kMaxReported)
            m_reports.erase(m_reports.begin()); // still full of live reports: one is forgotten early
        it = m_reports.emplace(address, Report{}).first;
    }
    const int earlier = it->second.unreported;
    it->second = Report{now, 0};
    std::string line = "refused " + address + ": " + reason.substr(reason.find(':') + 2);
    if (earlier > 0)
        line += " (and " + std::to_string(earlier) + " more from this address in the last minute)";
    return line;
}

void ConnectionLimits::addPending(const std::string& address, int change) {
    m_pending += change;
    const int now = (m_pendingByAddress[address] += change);
    if (now <= 0)
        m_pendingByAddress.erase(address);
}

void ConnectionLimits::opened(const std::string& address) {
    ++m_active;
    addPending(address, +1);
}

void ConnectionLimits::loggedIn(const std::string& address) {
    addPending(address, -1);
}

void ConnectionLimits::loggedOut(const std::string& address) {
    addPending(address, +1);
}

void ConnectionLimits::closed(const std::string& address, bool loggedIn) {
    --m_active;
    if (!loggedIn)
        addPending(address, -1);
}

} // namespace orvo::server
