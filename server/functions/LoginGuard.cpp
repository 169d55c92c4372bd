#include "server/functions/LoginGuard.h"

#include <algorithm>

namespace orvo::server {

LoginGuard::LoginGuard(LoginGuardOptions options) : m_options(options) {
    m_options.concurrentHashes = std::max(1, m_options.concurrentHashes);
}

std::chrono::milliseconds LoginGuard::delayAfter(int failures) const {
    if (failures < m_options.failuresAllowed)
        return std::chrono::milliseconds(0);
    auto delay = m_options.firstDelay;
    for (int i = m_options.failuresAllowed; i < failures && delay < m_options.maxDelay; ++i)
        delay *= 2;
    return std::min(delay, m_options.maxDelay);
}

std::chrono::milliseconds LoginGuard::waitFor(const Table& table, std::string_view key,
                                              Clock::time_point now) const {
    auto it = table.find(std::string(key));
    if (it == table.end())
        return std::chrono::milliseconds(0);
    const auto until = it->second.lastFailure + delayAfter(it->second.failures);
    if (until <= now)
        return std::chrono::milliseconds(0);
    return std::chrono::ceil<std::chrono::milliseconds>(until - now);
}

std::chrono::milliseconds LoginGuard::refusal(std::string_view name, std::string_view address) {
    if (!m_options.enabled)
        return std::chrono::milliseconds(0);
    const auto now = Clock::now();
    std::lock_guard lock(m_mutex);
    return std::max(waitFor(m_names, name, now), waitFor(m_addresses, address, now));
}

void LoginGuard::makeRoom(Table& table, Clock::time_point now) {
    if (table.size() < m_options.maxTracked)
        return;
    std::erase_if(table, [&](const auto& entry) {
        const Record& r = entry.second;
        return now - r.lastFailure > std::max<Clock::duration>(m_options.window, delayAfter(r.failures));
    });
    if (table.size() < m_options.maxTracked)
        return;
    // Still full of live records: forget the one that failed longest ago.
    auto oldest = std::min_element(table.begin(), table.end(), [](const auto& a, const auto& b) {
        return a.second.lastFailure < b.second.lastFailure;
    });
    if (oldest != table.end())
        table.erase(oldest);
}

void LoginGuard::fail(Table& table, std::string_view key, Clock::time_point now) {
    auto it = table.find(std::string(key));
    if (it == table.end()) {
        makeRoom(table, now);
        it = table.emplace(std::string(key), Record{0, now, now}).first;
    }
    Record& r = it->second;
    // A window that has passed with no refusal pending starts the count again.
    if (now - r.windowStart > m_options.window && r.lastFailure + delayAfter(r.failures) <= now) {
        r.failures = 0;
        r.windowStart = now;
    }
    ++r.failures;
    r.lastFailure = now;
}

void LoginGuard::recordFailure(std::string_view name, std::string_view address) {
    if (!m_options.enabled)
        return;
    const auto now = Clock::now();
    std::lock_guard lock(m_mutex);
    fail(m_names, name, now);
    fail(m_addresses, address, now);
}

void LoginGuard::recordSuccess(std::string_view name) {
    std::lock_guard lock(m_mutex);
    m_names.erase(std::string(name));
}

LoginGuard::HashSlot::HashSlot(LoginGuard& guard) : m_guard(guard) {
    std::unique_lock lock(guard.m_hashMutex);
    guard.m_hashFree.wait(lock, [&guard] { return guard.m_hashing < guard.m_options.concurrentHashes; });
    ++guard.m_hashing;
}

LoginGuard::HashSlot::~HashSlot() {
    {
        std::lock_guard lock(m_guard.m_hashMutex);
        --m_guard.m_hashing;
    }
    m_guard.m_hashFree.notify_one();
}

} // namespace orvo::server
