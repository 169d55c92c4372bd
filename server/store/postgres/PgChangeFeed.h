// A server's ear on the database: one connection of its own LISTENs on channel orvo_changes, which the
// schema's triggers notify on every statement that writes rules, orders or customers. Each notification
// (and each loss or gain of the connection) moves the generation on, so a change state read under one
// generation holds exactly while the generation stands and the connection listens: a "changes since"
// request with nothing new is answered without a query.
#pragma once

#include "server/store/Store.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace orvo::server::pg {

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

private:
    void run();

    const std::string m_conninfo;
    std::atomic<std::uint64_t> m_generation{1};
    std::atomic<std::uint64_t> m_notifications{0};
    std::atomic<bool> m_listening{false};
    std::atomic<bool> m_stop{false};
    std::once_flag m_started;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::uint64_t m_knownGeneration = 0; // 0: nothing remembered
    ChangeState m_known;
};

} // namespace orvo::server::pg
