// The differential check's market, written straight to the database.
#pragma once

#include "bench/server/ChangesCheck.h"
#include "bench/server/ChangesCheckSql.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace orvo::bench::changes_check {

// The market: one change at a time, each a transaction of its own, at the rate, until paused.
class Market {
public:
    Market(Sql& sql, double rate)
        : m_sql(sql), m_period(std::chrono::microseconds(static_cast<long>(1e6 / rate))) {}
    ~Market() { stop(); }

    bool load(std::string& error) {
        std::vector<std::string> serials, top;
        if (!m_sql.column("SELECT lsh FROM rules WHERE kind = 3 ORDER BY lsh", serials, error) ||
            !m_sql.column("SELECT max(lsh) FROM rules", top, error) || serials.empty() || top.empty())
            return error.empty() ? (error = "no stop-loss rules", false) : false;
        m_serials.clear();
        for (const std::string& s : serials)
            m_serials.push_back(std::stoll(s));
        m_top = std::stoll(top[0]);
        return true;
    }
    void start() {
        m_thread = std::thread([this] { run(); });
    }
    void stop() {
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }
    // Returns once no change is being written.
    void pause() {
        std::unique_lock lock(m_mutex);
        m_paused = true;
        m_wake.wait(lock, [this] { return m_idle; });
    }
    void resume() {
        {
            const std::lock_guard lock(m_mutex);
            m_paused = false;
        }
        m_wake.notify_all();
    }
    long changes() const { return m_changes.load(); }
    long failures() const { return m_failures.load(); }
    const std::string& lastError() const { return m_lastError; }

private:
    void run() {
        auto due = Clock::now();
        for (;;) {
            {
                std::unique_lock lock(m_mutex);
                m_idle = true;
                m_wake.notify_all();
                m_wake.wait(lock, [this] { return m_stop || !m_paused; });
                if (m_stop)
                    return;
                m_idle = false;
            }
            std::this_thread::sleep_until(due);
            due = std::max(due + m_period, Clock::now() - std::chrono::milliseconds(100));
            std::string error;
            if (change(error))
                ++m_changes;
            else {
                ++m_failures;
                m_lastError = error;
            }
        }
    }
    long long pick() { return m_serials[m_random() % m_serials.size()]; }
    void forget(long long serial) { std::erase(m_serials, serial); }
    bool change(std::string& error) {
        if (m_serials.size() < 10)
            return load(error);
        const long long s = pick();
        const std::string serial = std::to_string(s);
        switch (m_random() % 100) {
        default: // most changes move a price
            return m_sql.exec("UPDATE rules SET price = '" + std::to_string(1000 + m_random() % 9000) +
                                  ".5' WHERE lsh = " + serial,
                              error);
        case 60:
        case 61:
        case 62:
        case 63:
        case 64:
            return m_sql.exec("UPDATE rules SET valid_date = '2001.01.01' WHERE lsh = " + serial, error);
        case 65:
        case 66:
        case 67:
        case 68:
        case 69:
            return m_sql.exec("UPDATE rules SET valid_date = '2026.12.31' WHERE lsh = " + serial, error);
        case 70:
        case 71:
        case 72:
        case 73:
            forget(s);
            return m_sql.exec("BEGIN; DELETE FROM orders WHERE lsh = " + serial +
                                  "; DELETE FROM rules WHERE lsh = " + serial + "; COMMIT",
                              error) ||
                   (m_sql.exec("ROLLBACK", error), false);
        case 74:
        case 75:
        case 76:
        case 77:
        case 78:
        case 79: {
            const long long added = ++m_top;
            m_serials.push_back(added);
            return m_sql.exec("INSERT INTO rules(lsh, kind, khh, hydm, set_date, valid_date) SELECT " +
                                  std::to_string(added) +
                                  ", 3, khh, 'zz2612', '2026.12.01', '2026.12.31' FROM rules "
                                  "WHERE lsh = " +
                                  serial,
                              error);
        }
        case 80:
            forget(s);
            return m_sql.exec("UPDATE rules SET kind = 4 WHERE lsh = " + serial, error);
        case 81:
            if (m_random() % 20 != 0)
                return m_sql.exec("UPDATE rules SET price = '1.5' WHERE lsh = " + serial, error);
            // Now and then a customer renamed: every window runs the full query.
            return m_sql.exec(
                "UPDATE customers SET name = name || 'x' WHERE khh = (SELECT khh FROM rules WHERE lsh = " +
                    serial + ")",
                error);
        }
    }

    Sql& m_sql;
    const Clock::duration m_period;
    std::vector<long long> m_serials;
    long long m_top = 0;
    std::mt19937_64 m_random{1};
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_paused = false, m_idle = true, m_stop = false;
    std::atomic<long> m_changes{0}, m_failures{0};
    std::string m_lastError;
};

} // namespace orvo::bench::changes_check
