#include "server/demo/MarketSimulator.h"

#include "server/common/Dates.h"
#include "server/common/ServerLog.h"
#include "server/store/sqlite/StatementCache.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iterator>
#include <pthread.h>
#include <string_view>
#include <type_traits>

namespace orvo::server {
namespace {

void bindAll(Statement&, int) {}
template <typename First, typename... Rest>
void bindAll(Statement& stmt, int at, const First& first, const Rest&... rest) {
    if constexpr (std::is_integral_v<First>)
        stmt.bind(at, static_cast<std::int64_t>(first));
    else
        stmt.bind(at, std::string_view(first));
    bindAll(stmt, at + 1, rest...);
}

// Runs one statement (prepared once, then kept), its parameters ?1, ?2, ... in order; false (error set)
// on failure.
template <typename... Args>
bool exec(StatementCache& statements, Db& db, std::string& error, std::string_view sql, const Args&... args) {
    StatementCache::Lease stmt = statements.acquire(db, sql, error);
    if (!stmt)
        return false;
    bindAll(*stmt, 1, args...);
    if (stmt->step() != SQLITE_DONE) {
        error = db.lastError();
        return false;
    }
    return true;
}

constexpr const char* kWaiting = "cfzt = 0 AND valid_date >= ?1";

} // namespace

MarketSimulator::MarketSimulator(SimulatorOptions options)
    : m_options(std::move(options)), m_state(m_options.seed ^ 0x5DEECE66DULL) {}

MarketSimulator::~MarketSimulator() {
    stop();
}

std::uint64_t MarketSimulator::next() {
    std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL); // splitmix64
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

std::string MarketSimulator::clock() {
    m_seconds = 9 * 3600 + (m_seconds - 9 * 3600 + 1) % (6 * 3600); // 09:00 to 15:00, then round again
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", m_seconds / 3600, m_seconds / 60 % 60, m_seconds % 60);
    return text;
}

bool MarketSimulator::pickRule(Db& db, const char* where, std::int64_t& serial, std::string& error) {
    serial = 0;
    std::int64_t from = 0;
    {
        // Two look-ups in the key (min and max in one aggregate would read the whole table).
        StatementCache::Lease span = m_statements.acquire(
            db, "SELECT (SELECT min(lsh) FROM rules), (SELECT max(lsh) FROM rules)", error);
        if (!span)
            return false;
        if (span->step() != SQLITE_ROW || span->isNull(0))
            return true;
        // From a random serial onwards, wrapping round to the first.
        from = span->integer(0) + below(span->integer(1) - span->integer(0) + 1);
    }
    const std::string sql =
        std::string("SELECT lsh FROM rules WHERE ") + where + " AND lsh >= ?2 ORDER BY lsh LIMIT 1";
    for (const std::int64_t start : {from, std::int64_t{0}}) {
        StatementCache::Lease pick = m_statements.acquire(db, sql, error);
        if (!pick)
            return false;
        bindAll(*pick, 1, m_options.today, start);
        if (pick->step() == SQLITE_ROW) {
            serial = pick->integer(0);
            return true;
        }
    }
    return true;
}

bool MarketSimulator::moveAPrice(Db& db, bool& done, std::string& error) {
    std::int64_t serial = 0;
    if (!pickRule(db, "cfzt = 0 AND valid_date >= ?1 AND trig_price <> ''", serial, error))
        return false;
    if (serial == 0)
        return true;
    const std::int64_t ticks = below(7) - 3; // a few ticks up or down
    done = exec(m_statements, db, error,
                "UPDATE rules SET trig_price = printf('%.2f', CAST(trig_price AS REAL) + ?1) "
                "WHERE lsh = ?2",
                ticks == 0 ? 1 : ticks, serial);
    return done;
}

bool MarketSimulator::triggerARule(Db& db, bool& done, std::string& error) {
    std::int64_t serial = 0;
    if (!pickRule(db, kWaiting, serial, error))
        return false;
    if (serial == 0)
        return true;
    std::int64_t orderNo = 0;
    if (!nextOrderNo(db, orderNo, error))
        return false;
    const std::string at = clock();
    done =
        exec(m_statements, db, error, "UPDATE rules SET cfzt = 1, status_text = '已触发' WHERE lsh = ?1",
             serial) &&
        exec(
            m_statements, db, error,
            "INSERT INTO orders(lsh, kind, khh, hist, wth, status_text, hydm, mmfx, kpfx, price, lots, jys, "
            "jybm, wtsj, sbsj, wtrq) SELECT lsh, kind, khh, 0, ?4, '已报', hydm, mmfx, kpfx, CASE WHEN price "
            "<> '' THEN price WHEN trig_price <> '' THEN trig_price ELSE '0' END, max(lots, 1), jys, jybm, "
            "?1, ?1, ?2 FROM rules WHERE lsh = ?3",
            at, m_options.today, serial, orderNo);
    return done;
}

bool MarketSimulator::nextOrderNo(Db& db, std::int64_t& orderNo, std::string& error) {
    // wth has no index: the highest is read over the whole table once, then over the orders added since
    // (by this session or by anyone else), which the key finds at its end.
    StatementCache::Lease top = m_statements.acquire(
        db, "SELECT coalesce(max(wth), 0), coalesce(max(id), 0) FROM orders WHERE id > ?1", error);
    if (!top)
        return false;
    bindAll(*top, 1, m_ordersSeen);
    if (top->step() != SQLITE_ROW) {
        error = db.lastError();
        return false;
    }
    m_highestOrderNo = std::max(m_highestOrderNo, top->integer(0));
    m_ordersSeen = std::max(m_ordersSeen, top->integer(1));
    orderNo = ++m_highestOrderNo;
    return true;
}

bool MarketSimulator::fillAnOrder(Db& db, bool& done, std::string& error) {
    std::int64_t highest = 0;
    {
        StatementCache::Lease top =
            m_statements.acquire(db, "SELECT coalesce(max(id), 0) FROM orders", error);
        if (!top || top->step() != SQLITE_ROW)
            return false;
        highest = top->integer(0);
    }
    if (highest == 0)
        return true;
    std::int64_t id = 0, open = 0;
    for (const std::int64_t start : {1 + below(highest), std::int64_t{0}}) {
        StatementCache::Lease pick =
            m_statements.acquire(db,
                                 "SELECT id, lots - filled - cancelled FROM orders WHERE "
                                 "hist = 0 AND filled + cancelled < lots AND id >= ?1 "
                                 "ORDER BY id LIMIT 1",
                                 error);
        if (!pick)
            return false;
        bindAll(*pick, 1, start);
        if (pick->step() == SQLITE_ROW) {
            id = pick->integer(0);
            open = pick->integer(1);
            break;
        }
    }
    if (id == 0)
        return true;
    const std::int64_t lots = below(2) == 0 ? open : 1 + below(open); // whole or in part
    done =
        exec(
            m_statements, db, error,
            "UPDATE orders SET filled = filled + ?1, fill_price = price, status_text = CASE WHEN filled + ?1 "
            "+ cancelled >= lots THEN '全部成交' ELSE '部分成交' END WHERE id = ?2",
            lots, id) &&
        exec(m_statements, db, error,
             "UPDATE rules SET filled = filled + ?1 WHERE lsh = (SELECT lsh FROM orders WHERE id = ?2)", lots,
             id);
    return done;
}

bool MarketSimulator::endARule(Db& db, bool expire, bool& done, std::string& error) {
    std::int64_t serial = 0;
    if (!pickRule(db, kWaiting, serial, error))
        return false;
    if (serial == 0)
        return true;
    if (expire) {
        long day = 0;
        parseDate(m_options.today, day);
        done = exec(m_statements, db, error,
                    "UPDATE rules SET valid_date = ?1, status_text = '已过期' WHERE lsh = ?2",
                    formatDate(day - 1), serial);
    } else {
        done = exec(m_statements, db, error,
                    "UPDATE rules SET cfzt = 3, status_text = '已撤销' WHERE lsh = ?1", serial);
    }
    return done;
}

bool MarketSimulator::setARule(Db& db, bool& done, std::string& error) {
    std::int64_t model = 0;
    if (!pickRule(db, "valid_date >= ?1", model, error))
        return false;
    if (model == 0)
        return true;
    if (m_copyRule.empty() && !prepareCopyRule(db, error))
        return false;
    // A copy of a rule within validity, as a customer would set one like it: waiting, set now.
    const std::string at = clock();
    done = exec(m_statements, db, error, m_copyRule, m_options.today, at, model);
    return done;
}

bool MarketSimulator::prepareCopyRule(Db& db, std::string& error) {
    // Every column of the model but those a new rule sets afresh, named one by one (whatever columns
    // the table has), so that no table is created for the copy: that would make every kept statement
    // of the connection be prepared again.
    Statement columns;
    if (!db.prepare("SELECT name FROM pragma_table_info('rules') ORDER BY cid", columns, error))
        return false;
    std::string names, values;
    while (columns.step() == SQLITE_ROW) {
        const std::string name(columns.text(0));
        std::string value = name;
        if (name == "lsh")
            value = "(SELECT max(lsh) + 1 FROM rules)";
        else if (name == "cfzt" || name == "filled" || name == "cancelled")
            value = "0";
        else if (name == "status_text")
            value = "'等待触发'";
        else if (name == "set_date")
            value = "?1";
        else if (name == "set_time")
            value = "?2";
        names += (names.empty() ? "" : ", ") + name;
        values += (values.empty() ? "" : ", ") + value;
    }
    if (names.empty()) {
        error = "the rules table has no columns";
        return false;
    }
    m_copyRule = "INSERT INTO rules(" + names + ") SELECT " + values + " FROM rules WHERE lsh = ?3";
    return true;
}

bool MarketSimulator::change(Db& db, SimulatedEvent& event, std::string& error) {
    // Price moves are the most common; a session sets about as many rules as end.
    static constexpr SimulatedEvent kMix[] = {
        SimulatedEvent::PriceMoved,    SimulatedEvent::PriceMoved,    SimulatedEvent::PriceMoved,
        SimulatedEvent::RuleTriggered, SimulatedEvent::RuleTriggered, SimulatedEvent::OrderFilled,
        SimulatedEvent::OrderFilled,   SimulatedEvent::RuleCancelled, SimulatedEvent::RuleExpired,
        SimulatedEvent::RuleSet,       SimulatedEvent::RuleSet};
    const SimulatedEvent chosen = kMix[below(static_cast<std::int64_t>(std::size(kMix)))];
    bool done = false, ok = false;
    switch (chosen) {
    case SimulatedEvent::PriceMoved:
        ok = moveAPrice(db, done, error);
        break;
    case SimulatedEvent::RuleTriggered:
        ok = triggerARule(db, done, error);
        break;
    case SimulatedEvent::OrderFilled:
        ok = fillAnOrder(db, done, error);
        break;
    case SimulatedEvent::RuleCancelled:
    case SimulatedEvent::RuleExpired:
        ok = endARule(db, chosen == SimulatedEvent::RuleExpired, done, error);
        break;
    case SimulatedEvent::RuleSet:
    case SimulatedEvent::None:
        ok = setARule(db, done, error);
        break;
    }
    event = done ? chosen : SimulatedEvent::None;
    return ok;
}

bool MarketSimulator::step(Db& db, SimulatedEvent& event, std::string& error) {
    std::uint64_t played = 0;
    return play(db, 1, played, event, error);
}

bool MarketSimulator::play(Db& db, std::uint64_t count, std::uint64_t& played, SimulatedEvent& last,
                           std::string& error) {
    played = 0;
    Transaction tx(db);
    if (!tx.ok()) {
        error = "cannot write the database: " + tx.error();
        return false;
    }
    const auto began = std::chrono::steady_clock::now();
    // Order numbers drawn for orders a rollback takes back are drawn again.
    const std::int64_t highestOrderNo = m_highestOrderNo, ordersSeen = m_ordersSeen;
    std::uint64_t done = 0;
    // The file's other writers (a login recording its session) wait for the commit: the batch ends
    // once it has held the file for kMaxHold, and what is left is played after their turn.
    bool ok = true;
    while (ok && played < count && (played == 0 || std::chrono::steady_clock::now() - began < kMaxHold)) {
        ok = change(db, last, error);
        ++played;
        done += last != SimulatedEvent::None ? 1 : 0;
    }
    if (!ok || !tx.commit(error)) {
        m_highestOrderNo = highestOrderNo;
        m_ordersSeen = ordersSeen;
        return false;
    }
    m_changes.fetch_add(done, std::memory_order_relaxed);
    return true;
}

bool MarketSimulator::start(const std::string& dbPath, std::string& error) {
    if (m_options.rate <= 0) {
        error = "the simulated rate must be above 0";
        return false;
    }
    Db db;
    if (!db.open(dbPath, false, error))
        return false;
    m_thread = std::thread([this, db = std::move(db)]() mutable {
        std::string failure;
        if (!run(db, failure))
            logLine(LogLevel::Error, "the simulated session stopped: " + failure);
    });
    // Named, so that its share of the server's CPU can be read apart (/proc/PID/task/*/comm).
    pthread_setname_np(m_thread.native_handle(), "orvo-simulator");
    return true;
}

bool MarketSimulator::run(Db& db, std::string& error) {
    using Clock = std::chrono::steady_clock;
    const double rate = m_options.rate;
    const auto began = Clock::now();
    std::uint64_t played = 0; // changes due so far that were played (or given up)
    std::unique_lock lock(m_mutex);
    while (!m_stop.load()) {
        lock.unlock();
        const auto now = Clock::now();
        const auto due =
            static_cast<std::uint64_t>(std::chrono::duration<double>(now - began).count() * rate);
        // Fallen far behind: do not race to catch up.
        played = std::max(played, due - std::min(due, static_cast<std::uint64_t>(rate) + 1));
        // In transactions of a few changes each rather than one apiece, and between them the file's
        // other writers take their turn.
        while (played < due && !m_stop.load()) {
            std::uint64_t batch = 0;
            SimulatedEvent last = SimulatedEvent::None;
            if (!play(db, due - played, batch, last, error)) {
                // Another writer holding the database is no reason to end the session: what is due
                // now is given up, and the session goes on at the next tick.
                logLine(LogLevel::Warn, "simulated changes skipped: " + error);
                error.clear();
                played = due;
                break;
            }
            played += batch;
        }
        lock.lock();
        // The next change, but no sooner than a tick: at high rates the changes go in batches.
        const auto next = began + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(static_cast<double>(played + 1) / rate));
        m_wake.wait_until(lock, std::max(next, Clock::now() + kTick), [this] { return m_stop.load(); });
    }
    return true;
}

void MarketSimulator::stop() {
    {
        const std::lock_guard lock(m_mutex);
        m_stop.store(true);
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

} // namespace orvo::server
