// Defences of the login against password guessing, shared by every connection of a server. Failures
// are counted per (operator name, client address): once a pair has too many within the window, attempts
// for it are refused without looking at the password, for a delay that doubles with every further
// failure. Offices reach the server through one address (a NAT router, a terminal server), so an address
// as a whole is never refused: only many failures from it within its own window (over many names, by
// default 50 in 10 minutes) slow its other logins by a short delay before the check; one operator's typing
// errors cost nobody else anything. An attempt is counted when it is admitted, in the same step as the
// check, so simultaneous guesses cannot all pass the check before any is recorded; a correct password
// withdraws it. A name that fails from many places is likewise only slowed down from an address that has
// not failed for it, so an attacker elsewhere can never lock the real operator out. Password checks run
// under a small concurrency bound, so many guessing connections cannot make the server hash (and
// allocate) for all of them at once.
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
    int failuresAllowed = 5; // within the window, per name and address; the next waits
    std::chrono::milliseconds window{15 * 60 * 1000};
    int addressFailuresAllowed = 50; // within addressWindow, per address; the next are slowed down
    std::chrono::milliseconds addressWindow{10 * 60 * 1000};
    std::chrono::milliseconds firstDelay{2000}; // after failuresAllowed failures; doubles per failure
    std::chrono::milliseconds maxDelay{15 * 60 * 1000};
    std::chrono::milliseconds attackedNameDelay{1000}; // at most 2 s: never a lock-out
    int concurrentHashes = 2;                          // password checks running at once
    std::size_t maxTracked = 100000;                   // pairs, addresses and names remembered, each
};

class LoginGuard {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kMaxNameDelay{2000};

    explicit LoginGuard(LoginGuardOptions options = {});

    struct Admission {
        // > 0: refused for this long; nothing was recorded.
        std::chrono::milliseconds refusedFor{0};
        // > 0: the name fails from elsewhere, or the address fails for many names; ask again after this
        // wait (with delayServed), nothing was recorded.
        std::chrono::milliseconds waitFirst{0};
        bool admitted() const { return refusedFor.count() == 0 && waitFirst.count() == 0; }
    };
    // Checks an attempt and, when it may check its password, counts it as a failure until settle().
    // delayServed: the attempt has already waited the short delay of an attacked name.
    Admission admit(std::string_view name, std::string_view address, bool delayServed = false);

    enum class Result {
        Accepted,   // the password was right: the attempt is withdrawn, the name's counts cleared
        Rejected,   // the attempt stays counted
        NotChecked, // the check could not run (database error): the attempt is withdrawn
    };
    // Settles an admitted attempt.
    void settle(std::string_view name, std::string_view address, Result result);

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

    std::chrono::milliseconds waitFor(const Table& table, const std::string& key,
                                      Clock::time_point now) const;
    bool failedOften(const Table& table, const std::string& key, Clock::time_point now, int allowed,
                     std::chrono::milliseconds window) const;
    void fail(Table& table, const std::string& key, Clock::time_point now, std::chrono::milliseconds window);
    void withdraw(Table& table, const std::string& key);
    void touch(Table& table, const std::string& key, Clock::time_point now);
    void makeRoom(Table& table, Clock::time_point now);

    LoginGuardOptions m_options;
    std::mutex m_mutex;
    Table m_pairs;     // name and address, joined by a zero byte
    Table m_addresses; // across names: only ever a short delay
    Table m_names;     // across addresses: only ever a short delay
    std::mutex m_hashMutex;
    std::condition_variable m_hashFree;
    int m_hashing = 0;
};

} // namespace orvo::server
