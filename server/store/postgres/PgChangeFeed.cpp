#include "server/store/postgres/PgChangeFeed.h"

#include "server/common/ServerLog.h"
#include "server/store/postgres/PgConnection.h"
#include "server/store/postgres/PgIncarnation.h"

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

bool PgChangeFeed::trusted() const {
    if (!m_listening.load(std::memory_order_acquire))
        return false;
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return now - std::chrono::nanoseconds(m_confirmedAt.load(std::memory_order_acquire)) < kTrustWindow;
}

bool PgChangeFeed::recall(ChangeState& state) const {
    if (!trusted())
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
        listen(conn);
        m_listening.store(false, std::memory_order_release);
        moveOn();
        if (!m_stop.load())
            logLine(LogLevel::Warn, "change notifications lost: " + conn.lastError() + "; reconnecting");
    }
}

void PgChangeFeed::listen(PgConnection& conn) {
    using Clock = std::chrono::steady_clock;
    PGconn* const pg = conn.handle();
    const std::string roundTrip = std::string("SELECT ") + kPgIncarnationSql;
    // Whatever was remembered before the feed listened may miss a change: a new generation, trusted from
    // the first round trip on.
    moveOn();
    m_listening.store(true, std::memory_order_release);
    Clock::time_point sentAt{}, nextAt = Clock::now();
    bool waiting = false;
    while (!m_stop.load()) {
        const Clock::time_point now = Clock::now();
        if (waiting && now - sentAt > kRoundTripLimit) {
            logLine(LogLevel::Warn, "change notifications: the listening connection stopped answering");
            return;
        }
        if (!waiting && now >= nextAt) {
            if (PQsendQuery(pg, roundTrip.c_str()) == 0)
                return;
            sentAt = now;
            nextAt = now + kRoundTripEvery;
            waiting = true;
        }
        pollfd fd{PQsocket(pg), POLLIN, 0};
        const int ready = poll(&fd, 1, kPollMilliseconds);
        if (ready < 0 || (ready > 0 && PQconsumeInput(pg) == 0) || PQstatus(pg) != CONNECTION_OK)
            return;
        bool notified = false;
        while (PGnotify* note = PQnotifies(pg)) {
            notified = true;
            PQfreemem(note);
        }
        if (notified) {
            m_notifications.fetch_add(1, std::memory_order_relaxed);
            moveOn();
        }
        while (waiting && PQisBusy(pg) == 0) {
            PGresult* const result = PQgetResult(pg);
            if (!result) { // the round trip is over: every notification sent before it came first
                waiting = false;
                m_confirmedAt.store(
                    std::chrono::duration_cast<std::chrono::nanoseconds>(sentAt.time_since_epoch()).count(),
                    std::memory_order_release);
                break;
            }
            const bool answered = PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) == 1;
            const std::string incarnation = answered ? PQgetvalue(result, 0, 0) : "";
            PQclear(result);
            if (!answered)
                return;
            // A restore writes no notification: another incarnation is a change of everything.
            if (incarnation != m_incarnation) {
                if (!m_incarnation.empty())
                    logLine(LogLevel::Warn, "the database is another incarnation (restored or replaced): "
                                            "clients are sent to the full query");
                m_incarnation = incarnation;
                moveOn();
            }
        }
    }
}

} // namespace orvo::server::pg
