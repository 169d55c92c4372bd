// A server's ear on the database: one connection of its own LISTENs on channel orvo_changes, which the
// schema's triggers notify on every statement that writes rules, orders or customers. Each notification
// (and each loss or gain of the connection) moves the generation on, so a change state read under one
// generation holds exactly while the generation stands and the connection listens: a "changes since"
// request with nothing new is answered without a query.
//
// The connection cannot go silent unnoticed: every second it makes a round trip, which also reads the
// database's incarnation (a restore writes no notification). The server delivers every notification of
// a commit made before a query began ahead of the query's answer, so memory holds only while the last
// round trip to come back began less than kTrustWindow ago; past it, states are read from the database
// until the connection answers again (a cut without a reset, a failover), and a round trip that does not
// come back within kRoundTripLimit closes the connection and opens another.
#pragma once

#include "server/store/Store.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace orvo::server::pg {

class PgConnection;

class PgChangeFeed {
public:
    explicit PgChangeFeed(std::string conninfo);
    ~PgChangeFeed(); // stops the thread within about one poll interval
    PgChangeFeed(const PgChangeFeed&) = delete;
    PgChangeFeed& operator=(const PgChangeFeed&) = delete;

    // Starts listening (once); until the connection listens, recall() finds nothing.
    void start();

    // The generation to read a change state under, taken before the state is read.
    std::uint64_t generation() const { return m_generation.load(std::memory_order_acquire); }
    // The state read last, while nothing was notified since it was read and the feed listened throughout.
    bool recall(ChangeState& state) const;
    void remember(std::uint64_t generation, const ChangeState& state);

    std::uint64_t notifications() const { return m_notifications.load(std::memory_order_relaxed); }

    static constexpr std::chrono::milliseconds kRoundTripEvery{1000};
    static constexpr std::chrono::milliseconds kTrustWindow{1800};
    static constexpr std::chrono::milliseconds kRoundTripLimit{3000};

private:
    void run();
    // Listens on an open connection until it fails, stops answering or the feed stops.
    void listen(PgConnection& conn);
    void moveOn() { m_generation.fetch_add(1, std::memory_order_acq_rel); }
    bool trusted() const;

    const std::string m_conninfo;
    std::atomic<std::uint64_t> m_generation{1};
    std::atomic<std::uint64_t> m_notifications{0};
    std::atomic<bool> m_listening{false};
    // When the last round trip that came back began (steady clock, nanoseconds).
    std::atomic<std::int64_t> m_confirmedAt{0};
    std::string m_incarnation; // as the last round trip read it (the feed's thread only)
    std::atomic<bool> m_stop{false};
    std::once_flag m_started;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::uint64_t m_knownGeneration = 0; // 0: nothing remembered
    ChangeState m_known;
};

} // namespace orvo::server::pg
