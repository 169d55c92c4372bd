#include "server/functions/LoginGuard.h"

#include <algorithm>

namespace orvo::server {
namespace {

std::string pairKey(std::string_view name, std::string_view address) {
    std::string key(name);
    key += '\0';
    key += address;
    return key;
}

} // namespace

LoginGuard::LoginGuard(LoginGuardOptions options) : m_options(options) {
    m_options.concurrentHashes = std::max(1, m_options.concurrentHashes);
    m_options.attackedNameDelay =
        std::clamp(m_options.attackedNameDelay, std::chrono::milliseconds(0), kMaxNameDelay);
}

std::chrono::milliseconds LoginGuard::delayAfter(int failures) const {
    if (failures < m_options.failuresAllowed)
        return std::chrono::milliseconds(0);
    auto delay = m_options.firstDelay;
    for (int i = m_options.failuresAllowed; i < failures && delay < m_options.maxDelay; ++i)
        delay *= 2;
    return std::min(delay, m_options.maxDelay);
}

std::chrono::milliseconds LoginGuard::waitFor(const Table& table, const std::string& key,
                                              Clock::time_point now) const {
    auto it = table.find(key);
    if (it == table.end())
        return std::chrono::milliseconds(0);
    const auto until = it->second.lastFailure + delayAfter(it->second.failures);
    if (until <= now)
        return std::chrono::milliseconds(0);
    return std::chrono::ceil<std::chrono::milliseconds>(until - now);
}

bool LoginGuard::failedOften(const Table& table, const std::string& key, Clock::time_point now, int allowed,
                             std::chrono::milliseconds window) const {
    auto it = table.find(key);
    return it != table.end() && it->second.failures >= allowed && now - it->second.windowStart <= window;
}

LoginGuard::Admission LoginGuard::admit(std::string_view name, std::string_view address, bool delayServed) {
    Admission admission;
    if (!m_options.enabled)
        return admission;
    const auto now = Clock::now();
    const std::string pair = pairKey(name, address);
    const std::string addressKey(address), nameKey(name);
    std::lock_guard lock(m_mutex);
    admission.refusedFor = waitFor(m_pairs, pair, now);
    if (admission.refusedFor.count() > 0)
        return admission;
    if (!delayServed && (failedOften(m_names, nameKey, now, m_options.failuresAllowed, m_options.window) ||
                         failedOften(m_addresses, addressKey, now, m_options.addressFailuresAllowed,
                                     m_options.addressWindow))) {
        admission.waitFirst = m_options.attackedNameDelay;
        if (admission.waitFirst.count() > 0)
            return admission;
    }
    fail(m_pairs, pair, now, m_options.window);
    fail(m_addresses, addressKey, now, m_options.addressWindow);
    fail(m_names, nameKey, now, m_options.window);
    return admission;
}

void LoginGuard::settle(std::string_view name, std::string_view address, Result result) {
    if (!m_options.enabled)
        return;
    const auto now = Clock::now();
    const std::string pair = pairKey(name, address);
    const std::string addressKey(address), nameKey(name);
    std::lock_guard lock(m_mutex);
    switch (result) {
    case Result::Accepted:
        m_pairs.erase(pair);
        m_names.erase(nameKey);
        withdraw(m_addresses, addressKey); // the address keeps its other failures
        break;
    case Result::Rejected:
        // The delay runs from the refusal, not from the start of a check that took its time.
        touch(m_pairs, pair, now);
        touch(m_addresses, addressKey, now);
        touch(m_names, nameKey, now);
        break;
    case Result::NotChecked:
        withdraw(m_pairs, pair);
        withdraw(m_addresses, addressKey);
        withdraw(m_names, nameKey);
        break;
    }
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

void LoginGuard::fail(Table& table, const std::string& key, Clock::time_point now,
                      std::chrono::milliseconds window) {
    auto it = table.find(key);
    if (it == table.end()) {
        makeRoom(table, now);
        it = table.emplace(key, Record{0, now, now}).first;
    }
    Record& r = it->second;
    // A window that has passed with no refusal pending starts the count again.
    if (now - r.windowStart > window && r.lastFailure + delayAfter(r.failures) <= now) {
        r.failures = 0;
        r.windowStart = now;
    }
    ++r.failures;
    r.lastFailure = now;
}

void LoginGuard::withdraw(Table& table, const std::string& key) {
    auto it = table.find(key);
    if (it != table.end() && --it->second.failures <= 0)
        table.erase(it);
}

void LoginGuard::touch(Table& table, const std::string& key, Clock::time_point now) {
    auto it = table.find(key);
    if (it != table.end())
        it->second.lastFailure = std::max(it->second.lastFailure, now);
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
