// The differential check of "changes since a revision": a window keeps its rows (stop-loss rules within
// validity, as admin sees them) only by applying 16500's answers, and is compared with a fresh full query
// (16477) after every answer taken while the market is paused, under a market of --rate changes a second
// written straight to the database (prices, expiries, revivals, deletions, new rules, rules moved to
// another kind, now and then a customer renamed). Answers taken while the market writes are applied too.
// The run goes through phases, each --phase seconds:
//   steady       nothing else happens
//   open         (PostgreSQL) a transaction left open in another database of the cluster, and one in
//                ours, for the whole phase
//   restore      a backup restored into the live database (PostgreSQL: pg_restore --clean
//                --single-transaction; SQLite: the backup file moved over the path)
//   killed       (PostgreSQL) the server's listening connection ended by pg_terminate_backend
//   silent       (PostgreSQL) the listening connection's server process stopped (SIGSTOP) for 5 s:
//                the connection neither answers nor resets, as behind a proxy that stops forwarding
//   switch       the window asks a server on another database (restored from the same backup), then its
//                own again
// A compared answer that differs from the full query is retried for up to 2 s (a server learns of a
// commit from its notification; a silent listener is noticed within 2 s): a difference still there after
// 2 s counts. After each equal comparison, three more asks from the revision given must be quiet.
// Prints per phase: comparisons, differences (target 0), answers that were not quiet (target 0), the
// longest time to agree after the market paused, the answers that said "run the full query".
// usage: bench_server_changes_check [--backend sqlite|postgres] [--rate 200] [--phase 30]
//                                   [--rounds 1] [--size small|large]
#include "bench/server/Counterd.h"
#include "server/store/postgres/PgConnection.h"
#include "server/store/sqlite/Db.h"
#include "tests/server/RawClient.h"
#include "tests/support/PgCluster.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace orvo;
using Clock = std::chrono::steady_clock;
using test::Items;
using test::RawClient;
using test::Reply;
using test::Row;
using Window = std::map<long long, std::vector<std::pair<std::string, std::string>>>;

constexpr const char* kToday = "2026.12.07";
const Items kFull = {{697, ""}, {9020, "0"}};

double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// One connection that writes or reads SQL, on either back-end.
class Sql {
public:
    virtual ~Sql() = default;
    virtual bool exec(const std::string& sql, std::string& error) = 0;
    // The first column of every row.
    virtual bool column(const std::string& sql, std::vector<std::string>& values, std::string& error) = 0;
};

class SqliteSql final : public Sql {
public:
    bool open(const std::string& path, std::string& error) {
        if (!m_db.open(path, false, error))
            return false;
        m_db.setBusyTimeout(10000);
        return true;
    }
    void close() { m_db.close(); }
    bool exec(const std::string& sql, std::string& error) override { return m_db.exec(sql.c_str(), error); }
    bool column(const std::string& sql, std::vector<std::string>& values, std::string& error) override {
        server::Statement stmt;
        if (!m_db.prepare(sql, stmt, error))
            return false;
        values.clear();
        while (stmt.step() == SQLITE_ROW)
            values.emplace_back(stmt.text(0));
        return true;
    }

private:
    server::Db m_db;
};

class PgSql final : public Sql {
public:
    bool open(const std::string& conninfo, std::string& error) { return m_conn.open(conninfo, error); }
    bool exec(const std::string& sql, std::string& error) override { return m_conn.exec(sql.c_str(), error); }
    bool column(const std::string& sql, std::vector<std::string>& values, std::string& error) override {
        const server::pg::PgResult got = m_conn.query(sql.c_str(), server::pg::PgParams(), error);
        if (!got)
            return false;
        values.clear();
        for (int i = 0; i < got.rows(); ++i)
            values.emplace_back(got.row(i).text(0));
        return true;
    }

private:
    server::pg::PgConnection m_conn;
};

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

// A window of stop-loss rules kept by changes, against one server at a time.
struct Checker {
    std::unique_ptr<RawClient> client;
    std::string revision;
    Window rows;

    int port = -1;
    long relogins = 0;
    Clock::time_point answeredAt; // of the last 16500, before any full query it asked for

    bool connect(int to) {
        port = to;
        client = std::make_unique<RawClient>();
        return client->connect(port, 30000) && client->login("admin", "admin");
    }
    // A call; a session ended by the server (a restored database does not hold it) logs in again, as the
    // client does.
    Reply call(std::uint32_t function, const Items& items) {
        Reply r = client->call(function, items);
        if (r.complete && r.status == 2 && connect(port)) {
            ++relogins;
            r = client->call(function, items);
        }
        return r;
    }
    static Window windowOf(const Reply& r) {
        Window w;
        for (const Row& row : r.rows)
            w[std::stoll(row.get(797))] = row.items;
        return w;
    }
    // Asks once and applies the answer; ranFull says it was "run the full query".
    bool ask(bool& ranFull, long& answerRows) {
        Items items = {{1842, "3"}, {697, ""}, {9020, "0"}, {9101, revision}};
        const Reply r = call(16500, items);
        if (!r.complete || r.status != 0) {
            std::fprintf(stderr, "16500 failed: %d %s\n", r.status, r.text.c_str());
            return false;
        }
        answeredAt = Clock::now();
        ranFull = r.end.get(9104) == "1";
        answerRows = static_cast<long>(r.rows.size());
        revision = r.end.get(9102);
        if (ranFull) {
            const Reply full = call(16477, kFull);
            if (!full.complete || full.status != 0)
                return false;
            rows = windowOf(full);
            return true;
        }
        for (const Row& row : r.rows) {
            const long long serial = std::stoll(row.get(797));
            if (row.get(9103) == "1")
                rows.erase(serial);
            else
                rows[serial] = row.items;
        }
        return true;
    }
    // The rows that differ from a full query now.
    long differences() {
        const Reply full = call(16477, kFull);
        if (!full.complete || full.status != 0)
            return -1;
        const Window now = windowOf(full);
        long differ = 0;
        for (const auto& [serial, items] : now) {
            const auto it = rows.find(serial);
            differ += it == rows.end() || it->second != items;
        }
        for (const auto& [serial, items] : rows)
            differ += now.count(serial) == 0;
        return differ;
    }
};

struct PhaseFigures {
    long comparisons = 0, differences = 0, notQuiet = 0, ranFull = 0, answers = 0, failures = 0;
    double longestToAgree = 0;
};

// The fault a phase brings, on each back-end.
struct Faults {
    std::function<bool(std::string&)> restore;      // restores the backup into the live database
    std::function<void()> beginOpen, endOpen;       // a transaction left open elsewhere
    std::function<bool(std::string&)> killListener; // empty: not on this back-end
    std::function<bool(bool stop, std::string&)> silenceListener;
};

class Run {
public:
    Run(Market& market, Checker& checker, int ownPort, int otherPort)
        : m_market(market), m_checker(checker), m_ownPort(ownPort), m_otherPort(otherPort) {}

    // One cycle: the market writes for a while, answers taken meanwhile are applied; then it pauses and
    // the window is compared until it agrees or 2 s pass.
    bool cycle(PhaseFigures& f, std::mt19937_64& random) {
        const auto writeFor = std::chrono::milliseconds(100 + random() % 400);
        const auto until = Clock::now() + writeFor;
        bool ranFull = false;
        long rows = 0;
        while (Clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(40 + random() % 60));
            if (!m_checker.ask(ranFull, rows))
                return ++f.failures, false;
            ++f.answers;
            f.ranFull += ranFull;
        }
        m_market.pause();
        const auto paused = Clock::now();
        for (;;) {
            if (!m_checker.ask(ranFull, rows))
                return ++f.failures, false;
            ++f.answers;
            f.ranFull += ranFull;
            const long differ = m_checker.differences();
            if (differ < 0)
                return ++f.failures, false;
            if (differ == 0) {
                f.longestToAgree = std::max(f.longestToAgree, secondsSince(paused));
                break;
            }
            if (secondsSince(paused) > 2.0) {
                ++f.differences;
                std::fprintf(stderr, "  %ld rows differ 2 s after the market paused\n", differ);
                m_checker.ask(ranFull, rows); // start again from a full query
                m_checker.rows.clear();
                m_checker.revision.clear();
                m_checker.ask(ranFull, rows);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ++f.comparisons;
        // A commit made just before the pause may reach the server after the comparison (its
        // notification; with a silent listener, the 2 s until memory is no longer trusted): one answer
        // catches up, then the window must still agree and every answer be quiet.
        std::this_thread::sleep_until(
            paused + (m_listenerSilent ? std::chrono::milliseconds(2000) : std::chrono::milliseconds(100)));
        if (!m_checker.ask(ranFull, rows))
            return ++f.failures, false;
        ++f.answers;
        const long after = m_checker.differences();
        if (after != 0) {
            ++f.differences;
            std::fprintf(stderr, "  %ld rows differ after catching up\n", after);
        }
        for (int quiet = 0; quiet < 3; ++quiet) {
            if (!m_checker.ask(ranFull, rows))
                return ++f.failures, false;
            ++f.answers;
            f.notQuiet += rows > 0 || ranFull;
        }
        m_market.resume();
        return true;
    }

    bool phase(const std::string& name, double seconds, const Faults& faults, std::mt19937_64& random) {
        PhaseFigures f;
        std::string error;
        const auto began = Clock::now();
        bool done = false;
        if (name == "open")
            faults.beginOpen();
        while (secondsSince(began) < seconds) {
            const double at = secondsSince(began);
            if (!done && at > seconds / 3) {
                done = true;
                if (name == "restore") {
                    m_market.pause();
                    if (!faults.restore(error))
                        return std::fprintf(stderr, "restore failed: %s\n", error.c_str()), false;
                    const auto restored = Clock::now();
                    // Told to run the full query (from the held revision) within how long?
                    bool ranFull = false;
                    long rows = 0;
                    while (m_checker.ask(ranFull, rows) && !ranFull && secondsSince(restored) < 10)
                        std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    std::printf("    restore: told to run the full query %.3f s after it committed\n",
                                std::chrono::duration<double>(m_checker.answeredAt - restored).count());
                    m_market.resume();
                } else if (name == "killed" && faults.killListener) {
                    if (!faults.killListener(error))
                        std::fprintf(stderr, "kill failed: %s\n", error.c_str());
                } else if (name == "silent" && faults.silenceListener) {
                    if (!faults.silenceListener(true, error))
                        std::fprintf(stderr, "silence failed: %s\n", error.c_str());
                    m_silencedAt = Clock::now();
                    m_silenced = true;
                    m_listenerSilent = true;
                } else if (name == "switch") {
                    // The same window asks a server on another database, then its own again: each time
                    // it must be sent to the full query.
                    m_market.pause();
                    for (const int port : {m_otherPort, m_ownPort}) {
                        m_checker.client->close();
                        if (!m_checker.connect(port))
                            return std::fprintf(stderr, "cannot switch servers\n"), false;
                        bool ranFull = false;
                        long rows = 0;
                        if (!m_checker.ask(ranFull, rows))
                            return false;
                        std::printf("    switched to the server on the %s database: %s\n",
                                    port == m_otherPort ? "other" : "own",
                                    ranFull ? "ran the full query" : "PATCHED");
                        f.differences += !ranFull;
                        f.differences += std::max(0L, m_checker.differences());
                        ++f.comparisons;
                    }
                    m_market.resume();
                }
            }
            if (name == "silent" && m_silenced && secondsSince(m_silencedAt) > 5) {
                faults.silenceListener(false, error);
                m_silenced = false;
            }
            if (!cycle(f, random))
                return false;
        }
        if (m_silenced) {
            faults.silenceListener(false, error);
            m_silenced = false;
        }
        if (name == "open")
            faults.endOpen();
        m_listenerSilent = false;
        std::printf(
            "  %-8s %5ld comparisons, %ld differences, %ld answers not quiet, %ld answers (%ld run the "
            "full query), agreed within %.3f s of the pause at the longest, %ld failures\n",
            name.c_str(), f.comparisons, f.differences, f.notQuiet, f.answers, f.ranFull, f.longestToAgree,
            f.failures);
        m_total.comparisons += f.comparisons;
        m_total.differences += f.differences;
        m_total.notQuiet += f.notQuiet;
        return true;
    }
    const PhaseFigures& total() const { return m_total; }

private:
    Market& m_market;
    Checker& m_checker;
    int m_ownPort, m_otherPort;
    Clock::time_point m_silencedAt{};
    bool m_silenced = false;       // the listener stopped, until it is let go on
    bool m_listenerSilent = false; // from the listener's stop to the end of the phase
    PhaseFigures m_total;
};

bool shell(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

} // namespace

int main(int argc, char** argv) {
    std::string backend = "sqlite", size = "small";
    double rate = 200, phaseSeconds = 30;
    int rounds = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag == "--backend")
            backend = argv[i + 1];
        else if (flag == "--rate")
            rate = std::max(1.0, std::atof(argv[i + 1]));
        else if (flag == "--phase")
            phaseSeconds = std::max(3.0, std::atof(argv[i + 1]));
        else if (flag == "--rounds")
            rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (flag == "--size")
            size = argv[i + 1];
    }
    const bool pg = backend == "postgres";
    std::string error;
    const std::string dir =
        (std::filesystem::temp_directory_path() / ("orvo-check-" + std::to_string(getpid()))).string();
    std::filesystem::create_directories(dir);
    test::PgCluster cluster;
    std::string ownDb, otherDb, backup = dir + (pg ? "/live.dump" : "/backup.db");
    if (pg) {
        if (test::PgCluster::binDir().empty() || !cluster.start(error))
            return std::fprintf(stderr, "no PostgreSQL cluster: %s\n", error.c_str()), 1;
        server::pg::PgConnection admin;
        if (!admin.open(cluster.conninfo(), error) || !admin.exec("CREATE DATABASE live", error) ||
            !admin.exec("CREATE DATABASE other", error) || !admin.exec("CREATE DATABASE idle_app", error))
            return std::fprintf(stderr, "%s\n", error.c_str()), 1;
        ownDb = cluster.conninfo("live");
        otherDb = cluster.conninfo("other");
    } else {
        ownDb = dir + "/live.db";
        otherDb = dir + "/other.db";
    }
    std::printf("seeding the %s demo on %s ...\n", size.c_str(), backend.c_str());
    std::fflush(stdout);
    bench::Counterd own, other;
    // The demo is seeded by a server's first start.
    if (!own.start({"--listen", "127.0.0.1:0", "--db", ownDb, "--demo", "--size", size, "--date", kToday},
                   900000))
        return 1;
    // The backup, and the other database restored from it.
    if (pg) {
        const std::string bin = test::PgCluster::binDir();
        if (!shell(bin + "/pg_dump -Fc -f " + backup + " '" + ownDb + "'") ||
            !shell(bin + "/pg_restore -d '" + otherDb + "' " + backup))
            return std::fprintf(stderr, "pg_dump or pg_restore failed\n"), 1;
    } else {
        SqliteSql copy;
        if (!copy.open(ownDb, error) || !copy.exec("VACUUM INTO '" + backup + "'", error) ||
            !copy.exec("VACUUM INTO '" + otherDb + "'", error))
            return std::fprintf(stderr, "%s\n", error.c_str()), 1;
    }
    if (!other.start({"--listen", "127.0.0.1:0", "--db", otherDb, "--date", kToday}, 60000))
        return 1;

    std::unique_ptr<Sql> writer;
    SqliteSql* sqliteWriter = nullptr;
    if (pg) {
        auto conn = std::make_unique<PgSql>();
        if (!conn->open(ownDb, error))
            return std::fprintf(stderr, "%s\n", error.c_str()), 1;
        writer = std::move(conn);
    } else {
        auto conn = std::make_unique<SqliteSql>();
        if (!conn->open(ownDb, error))
            return std::fprintf(stderr, "%s\n", error.c_str()), 1;
        sqliteWriter = conn.get();
        writer = std::move(conn);
    }
    Market market(*writer, rate);
    if (!market.load(error))
        return std::fprintf(stderr, "%s\n", error.c_str()), 1;

    Faults faults;
    PgSql idle, pending, watcher;
    if (pg) {
        if (!idle.open(cluster.conninfo("idle_app"), error) || !pending.open(ownDb, error) ||
            !watcher.open(ownDb, error) || !idle.exec("CREATE TABLE t(x int)", error))
            return std::fprintf(stderr, "%s\n", error.c_str()), 1;
        faults.restore = [&](std::string& e) {
            return shell(test::PgCluster::binDir() +
                         "/pg_restore --clean --if-exists --single-transaction -d '" + ownDb + "' " +
                         backup) &&
                   market.load(e);
        };
        faults.beginOpen = [&] {
            std::string e;
            idle.exec("BEGIN; INSERT INTO t VALUES(1)", e);
            pending.exec("BEGIN; UPDATE operators SET last_login = last_login WHERE name = 'admin'", e);
        };
        faults.endOpen = [&] {
            std::string e;
            idle.exec("ROLLBACK", e);
            pending.exec("ROLLBACK", e);
        };
        const auto listenerPid = [&](std::string& e) {
            std::vector<std::string> pid;
            watcher.column(
                "SELECT pid FROM pg_stat_activity WHERE datname = current_database() AND query LIKE "
                "'SELECT pg_postmaster_start_time()%'",
                pid, e);
            return pid.empty() ? std::string() : pid.front();
        };
        faults.killListener = [&, listenerPid](std::string& e) {
            const std::string pid = listenerPid(e);
            return !pid.empty() && watcher.exec("SELECT pg_terminate_backend(" + pid + ")", e);
        };
        auto stopped = std::make_shared<std::string>();
        faults.silenceListener = [&, listenerPid, stopped](bool stop, std::string& e) {
            if (stop) {
                *stopped = listenerPid(e);
                return !stopped->empty() && kill(std::stoi(*stopped), SIGSTOP) == 0;
            }
            return stopped->empty() || kill(std::stoi(*stopped), SIGCONT) == 0;
        };
    } else {
        faults.restore = [&](std::string& e) {
            // As docs/operations.md says: nothing left in the write-ahead log, then the copy moved over.
            if (!sqliteWriter->exec("PRAGMA wal_checkpoint(TRUNCATE)", e))
                return false;
            sqliteWriter->close();
            std::filesystem::copy_file(backup, dir + "/restored.db",
                                       std::filesystem::copy_options::overwrite_existing);
            std::filesystem::rename(dir + "/restored.db", ownDb);
            return sqliteWriter->open(ownDb, e) && market.load(e);
        };
        faults.beginOpen = faults.endOpen = [] {};
    }

    Checker checker;
    if (!checker.connect(own.port))
        return std::fprintf(stderr, "cannot log in\n"), 1;
    bool ranFull = false;
    long rows = 0;
    checker.ask(ranFull, rows);
    std::printf("window of %zu rules; market of %.0f changes a second; phases of %.0f s\n",
                checker.rows.size(), rate, phaseSeconds);
    market.start();
    Run run(market, checker, own.port, other.port);
    std::mt19937_64 random(7);
    const std::vector<std::string> phases =
        pg ? std::vector<std::string>{"steady", "open", "restore", "killed", "silent", "switch"}
           : std::vector<std::string>{"steady", "restore", "switch"};
    const auto began = Clock::now();
    int status = 0;
    for (int round = 0; round < rounds && status == 0; ++round)
        for (const std::string& name : phases)
            if (!run.phase(name, phaseSeconds, faults, random)) {
                status = 1;
                break;
            }
    market.stop();
    const PhaseFigures& total = run.total();
    std::printf(
        "%s: %.0f s, %ld market changes (%ld failed%s%s), %ld comparisons, %ld differences, %ld answers "
        "not quiet, %ld logins again after a session ended\n",
        backend.c_str(), secondsSince(began), market.changes(), market.failures(),
        market.failures() ? ", last: " : "", market.failures() ? market.lastError().c_str() : "",
        total.comparisons, total.differences, total.notQuiet, checker.relogins);
    own.stop();
    other.stop();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return status != 0 || total.differences != 0 || total.notQuiet != 0 ? 1 : 0;
}
