#include "server/store/postgres/PgChangeFeed.h"

#include "server/common/ServerLog.h"
#include "server/store/postgres/PgConnection.h"

#include <chrono>
#include <poll.h>

namespace orvo::server::pg {
namespace {

constexpr int kPollMilliseconds = 200; // how soon a stop is noticed
constexpr auto kReconnectWait = std::chrono::seconds(1);

} // namespace

PgChangeFeed::PgChangeFeed(std::string conninfo) : m_conninfo(std::move(conninfo)) {}

PgChangeFeed::~PgChangeFeed() {
    m_stop.store(true);
    if (m_thread.joinable())
        m_thread.join();
}

void PgChangeFeed::start() {
    std::call_once(m_started, [this] { m_thread = std::thread([this] { run(); }); });
}

bool PgChangeFeed::recall(ChangeState& state) const {
    if (!m_listening.load(std::memory_order_acquire))
        return false;
    const std::lock_guard lock(m_mutex);
    if (m_knownGeneration != generation())
        return false;
    state = m_known;
    return true;
}

void PgChangeFeed::remember(std::uint64_t generation, const ChangeState& state) {
    const std::lock_guard lock(m_mutex);
    m_knownGeneration = generation;
    m_known = state;
}

void PgChangeFeed::run() {
    bool reported = false;
    while (!m_stop.load()) {
        PgConnection conn;
        std::string error;
        if (!conn.open(m_conninfo, error) || !conn.exec("LISTEN orvo_changes", error)) {
            if (!reported)
                logLine(LogLevel::Warn, "change notifications unavailable (retrying): " + error);
            reported = true;
            const auto until = std::chrono::steady_clock::now() + kReconnectWait;
            while (!m_stop.load() && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(kPollMilliseconds));
            continue;
        }
        reported = false;
        // Whatever was remembered before the feed listened may miss a change: a new generation.
        m_generation.fetch_add(1, std::memory_order_acq_rel);
        m_listening.store(true, std::memory_order_release);
        PGconn* const pg = conn.handle();
        while (!m_stop.load()) {
            pollfd fd{PQsocket(pg), POLLIN, 0};
            const int ready = poll(&fd, 1, kPollMilliseconds);
            if (ready < 0 || (ready > 0 && PQconsumeInput(pg) == 0) || PQstatus(pg) != CONNECTION_OK)
                break;
            bool notified = false;
            while (PGnotify* note = PQnotifies(pg)) {
                notified = true;
                PQfreemem(note);
            }
            if (notified) {
                m_notifications.fetch_add(1, std::memory_order_relaxed);
                m_generation.fetch_add(1, std::memory_order_acq_rel);
            }
        }
        m_listening.store(false, std::memory_order_release);
        m_generation.fetch_add(1, std::memory_order_acq_rel);
        if (!m_stop.load())
            logLine(LogLevel::Warn, "change notifications lost: " + conn.lastError() + "; reconnecting");
    }
}

} // namespace orvo::server::pg
