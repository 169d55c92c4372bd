// Defences of the login against password guessing, shared by every connection of a server:
// failures are counted per operator name and per peer address, and once either has too many within
// the window, attempts for it are refused without looking at the password for a delay that doubles
// with every further failure. Password checks run under a small concurrency bound, so many guessing
// connections cannot make the server hash (and allocate) for all of them at once.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace orvo::server {

struct LoginGuardOptions {
    bool enabled = true;
    int failuresAllowed = 5; // within the window; the next attempt waits
    std::chrono::milliseconds window{15 * 60 * 1000};
    std::chrono::milliseconds firstDelay{2000}; // after failuresAllowed failures; doubles per failure
    std::chrono::milliseconds maxDelay{15 * 60 * 1000};
    int concurrentHashes = 2;        // password checks running at once
    std::size_t maxTracked = 100000; // names and addresses remembered, each
};

class LoginGuard {
public:
    using Clock = std::chrono::steady_clock;

    explicit LoginGuard(LoginGuardOptions options = {});

    // Zero when an attempt for the name from the address may check its password; otherwise how long
    // it still has to wait.
    std::chrono::milliseconds refusal(std::string_view name, std::string_view address);
    void recordFailure(std::string_view name, std::string_view address);
    // A correct password clears the name's count; the address keeps its count, so that one known
    // account does not reset the guessing of others from the same place.
    void recordSuccess(std::string_view name);

    // Held while a password is checked.
    class HashSlot {
    public:
        explicit HashSlot(LoginGuard& guard);
        ~HashSlot();
        HashSlot(const HashSlot&) = delete;
        HashSlot& operator=(const HashSlot&) = delete;

    private:
        LoginGuard& m_guard;
    };

    // For tests and the time a refusal quotes.
    std::chrono::milliseconds delayAfter(int failures) const;

private:
    struct Record {
        int failures = 0;
        Clock::time_point windowStart;
        Clock::time_point lastFailure;
    };
    using Table = std::unordered_map<std::string, Record>;

    std::chrono::milliseconds waitFor(const Table& table, std::string_view key, Clock::time_point now) const;
    void fail(Table& table, std::string_view key, Clock::time_point now);
    void makeRoom(Table& table, Clock::time_point now);

    LoginGuardOptions m_options;
    std::mutex m_mutex;
    Table m_names;
    Table m_addresses;
    std::mutex m_hashMutex;
    std::condition_variable m_hashFree;
    int m_hashing = 0;
};

} // namespace orvo::server
