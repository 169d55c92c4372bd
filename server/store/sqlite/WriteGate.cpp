#include "server/store/sqlite/WriteGate.h"

#include <algorithm>
#include <unordered_map>

namespace orvo::server {

std::shared_ptr<WriteGate> WriteGate::forFile(const std::string& identity) {
    static std::mutex registryMutex;
    static std::unordered_map<std::string, std::weak_ptr<WriteGate>> registry;
    const std::lock_guard lock(registryMutex);
    std::weak_ptr<WriteGate>& entry = registry[identity];
    if (std::shared_ptr<WriteGate> gate = entry.lock())
        return gate;
    // Files no connection has open any more are forgotten, so the registry stays as small as the files.
    std::erase_if(registry,
                  [&identity](const auto& item) { return item.first != identity && item.second.expired(); });
    auto gate = std::make_shared<WriteGate>();
    registry[identity] = gate;
    return gate;
}

bool WriteGate::enter(std::chrono::milliseconds patience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    std::unique_lock lock(m_mutex);
    const std::uint64_t ticket = m_nextTicket++;
    if (m_turnMoved.wait_until(lock, deadline, [this, ticket] { return m_serving == ticket; }))
        return true;
    // The turn passes over this ticket when it comes.
    m_abandoned.push_back(ticket);
    return false;
}

void WriteGate::leave() {
    {
        const std::lock_guard lock(m_mutex);
        ++m_serving;
        for (auto gone = std::find(m_abandoned.begin(), m_abandoned.end(), m_serving);
             gone != m_abandoned.end(); gone = std::find(m_abandoned.begin(), m_abandoned.end(), m_serving)) {
            m_abandoned.erase(gone);
            ++m_serving;
        }
    }
    m_turnMoved.notify_all();
}

} // namespace orvo::server
