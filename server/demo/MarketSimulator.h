// A trading session played on the demo data, for watching the live book: prices move, waiting rules
// trigger and place orders, orders fill in part or whole, some rules are cancelled or expire, new rules
// are set. Every change is an ordinary SQL write on a connection of the simulator's own, so the
// database's triggers draw revisions and tombstones exactly as for any other writer. The same seed on
// the same data plays the same session.
#pragma once

#include "server/store/sqlite/Db.h"
#include "server/store/sqlite/StatementCache.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace orvo::server {

struct SimulatorOptions {
    double rate = 10;       // changes per second
    std::uint64_t seed = 1; // the session played
    std::string today;      // the business date "YYYY.MM.DD"; validity is read against it
};

// What one step did.
enum class SimulatedEvent {
    PriceMoved,
    RuleTriggered,
    OrderFilled,
    RuleCancelled,
    RuleExpired,
    RuleSet,
    None
};

class MarketSimulator {
public:
    explicit MarketSimulator(SimulatorOptions options);
    ~MarketSimulator(); // stops the thread
    MarketSimulator(const MarketSimulator&) = delete;
    MarketSimulator& operator=(const MarketSimulator&) = delete;

    // Opens the SQLite file and plays on a thread of its own, at the rate, until stop().
    bool start(const std::string& dbPath, std::string& error);
    void stop();

    // One change on db, in a transaction of its own. None when nothing fitted (an empty book).
    bool step(Db& db, SimulatedEvent& event, std::string& error);

    std::uint64_t changes() const { return m_changes.load(std::memory_order_relaxed); }

private:
    std::uint64_t next(); // the session's own generator: the same numbers on every platform
    std::int64_t below(std::int64_t bound) {
        return static_cast<std::int64_t>(next() % static_cast<std::uint64_t>(bound));
    }
    bool run(Db& db, std::string& error);
    // Up to count changes in one transaction, fewer when they hold the file longer than kMaxHold;
    // played says how many were tried, last what the last one did.
    bool play(Db& db, std::uint64_t count, std::uint64_t& played, SimulatedEvent& last, std::string& error);
    bool change(Db& db, SimulatedEvent& event, std::string& error); // inside the caller's transaction
    bool nextOrderNo(Db& db, std::int64_t& orderNo, std::string& error);
    bool prepareCopyRule(Db& db, std::string& error);
    bool pickRule(Db& db, const char* where, std::int64_t& serial, std::string& error);
    bool moveAPrice(Db& db, bool& done, std::string& error);
    bool triggerARule(Db& db, bool& done, std::string& error);
    bool fillAnOrder(Db& db, bool& done, std::string& error);
    bool endARule(Db& db, bool expire, bool& done, std::string& error);
    bool setARule(Db& db, bool& done, std::string& error);
    std::string clock(); // the session's time of day, moving on with every change

    // Each commit makes the server's readers drop the pages they hold, so changes go in few, larger
    // transactions (about 10 a second); each is kept short enough for a login waiting its turn.
    static constexpr std::chrono::milliseconds kMaxHold{25}; // the longest a batch keeps the file
    static constexpr std::chrono::milliseconds kTick{100};   // the shortest sleep between batches

    SimulatorOptions m_options;
    std::uint64_t m_state;
    int m_seconds = 9 * 3600;                            // 09:00:00
    std::int64_t m_highestOrderNo = 0, m_ordersSeen = 0; // wth and id of the orders read so far
    StatementCache m_statements{32}; // the few statements the session runs, on its one connection
    std::string m_copyRule;          // the INSERT that sets a rule like another
    std::atomic<std::uint64_t> m_changes{0};
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::thread m_thread;
};

} // namespace orvo::server
