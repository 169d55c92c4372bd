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
#include "bench/server/ChangesCheck.h"
#include "bench/server/ChangesCheckMarket.h"
#include "bench/server/ChangesCheckSql.h"
#include "bench/server/ChangesCheckWindow.h"
#include "bench/server/Counterd.h"
#include "tests/server/RawClient.h"
#include "tests/support/PgCluster.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace orvo;
using namespace orvo::bench::changes_check;

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
