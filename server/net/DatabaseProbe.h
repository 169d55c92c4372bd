// Whether the database answers, asked by one probe at a time: every 5 s in the background for the
// orvo_database_up gauge, and on demand for /healthz, which joins a probe already on its way rather
// than starting another. /metrics reads the last answer and never waits. Loop thread only; private to
// server/net.
#pragma once

#include <asio.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace orvo::server {

class DatabaseProbe : public std::enable_shared_from_this<DatabaseProbe> {
public:
    static constexpr std::chrono::seconds kInterval{5};
    static constexpr std::chrono::milliseconds kTimeout{1000}; // no answer by then: down

    // ask(done) asks the database once and runs done(answered) on the loop thread.
    using Ask = std::function<void(std::function<void(bool)> done)>;
    DatabaseProbe(asio::io_context& io, Ask ask);

    void start();
    void stop();
    // done(up) runs when the probe on its way, or a new one, has its answer (at most kTimeout).
    void check(std::function<void(bool up)> done);
    // 1 up, 0 down, -1 not asked yet.
    int up() const { return m_up; }

private:
    void begin();
    void finish(std::uint64_t probe, bool up);
    void scheduleNext();

    Ask m_ask;
    asio::steady_timer m_next, m_deadline;
    std::vector<std::function<void(bool)>> m_waiting;
    std::uint64_t m_probe = 0; // the probe on its way, counted; answers of earlier ones are dropped
    bool m_inFlight = false;
    bool m_stopped = false;
    int m_up = -1;
};

} // namespace orvo::server
