// Load generator for the counter server, on loopback, stopping by itself (a few minutes). It runs
// orvo-counterd on the large demo and reports:
//   1. sessions held, server memory, and the small-query (one customer's rules) p50/p99 at 1, 32 and
//      1,000 idle logged-in sessions while 32 clients pull 100,000-row replies;
//   2. a 100,000-row reply over TLS against plain TCP;
//   3. server memory with 31 connections guessing passwords, and what the guessing achieves;
//   4. the login attempts a single guesser gets per second with the login defences off and on (an
//      in-process server, since the program has no switch to turn them off);
//   5. heartbeat latency while four clients keep asking for the changes of 9,660 stop-loss rules since
//      a revision (target: p50 <= 2 ms; such answers belong on the heavy workers).
// usage: bench_server_load [--sessions 1000] [--heavy 32] [--only 5]
#include "bench/server/Counterd.h"
#include "bench/server/LoadClient.h"
#include "server/CounterServer.h"
#include "server/store/sqlite/Db.h"

#include <openssl/ssl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace orvo;
using bench::Counterd;
using bench::msSince;
using bench::percentile;
using Clock = bench::LoadClock;
using Items = std::vector<std::pair<std::uint32_t, std::string>>;

constexpr const char* kToday = "2026.12.07";
const Items kWholeTable = {{697, ""}, {9020, "0"}};

std::string smallCustomer(const std::string& dbPath) {
    server::Db db;
    server::Statement q;
    std::string error;
    if (db.open(dbPath, true, error) &&
        db.prepare("SELECT khh, COUNT(*) FROM rules WHERE kind = 3 GROUP BY khh ORDER BY COUNT(*) LIMIT 1 "
                   "OFFSET (SELECT COUNT(DISTINCT khh) FROM rules WHERE kind = 3) / 2",
                   q, error) &&
        q.step() == SQLITE_ROW) {
        std::printf("small query: customer %s with %lld stop-loss rules (the median customer)\n",
                    std::string(q.text(0)).c_str(), static_cast<long long>(q.integer(1)));
        return std::string(q.text(0));
    }
    return {};
}

// Idle logged-in sessions, opened a few at a time (the server limits connections not logged in).
void openSessions(std::vector<std::unique_ptr<bench::LoadClient>>& sessions, std::size_t count, int port) {
    std::atomic<std::size_t> next{sessions.size()};
    sessions.resize(std::max(sessions.size(), count));
    std::vector<std::thread> openers;
    for (int t = 0; t < 8; ++t)
        openers.emplace_back([&sessions, &next, count, port] {
            for (std::size_t i = next++; i < count; i = next++) {
                auto c = std::make_unique<bench::LoadClient>();
                if (c->connect(port) && c->login("teller", "teller"))
                    sessions[i] = std::move(c);
            }
        });
    for (auto& t : openers)
        t.join();
}

void sessionsUnderLoad(Counterd& server, const std::string& customer, int heavyClients,
                       const std::vector<std::size_t>& sessionCounts) {
    std::printf(
        "\n1. Small query (one customer's stop-loss rules) while %d clients pull whole-table replies\n",
        heavyClients);
    std::printf("%10s %10s %12s %10s %10s %10s %12s %12s\n", "sessions", "held", "server MiB", "p50 ms",
                "p99 ms", "probes", "heavy done", "heavy rows");
    std::vector<std::unique_ptr<bench::LoadClient>> sessions;
    for (std::size_t count : sessionCounts) {
        openSessions(sessions, count, server.port);
        std::atomic<bool> stop{false};
        std::atomic<long> heavyDone{0}, heavyRows{0};
        std::vector<std::unique_ptr<bench::LoadClient>> heavy(static_cast<std::size_t>(heavyClients));
        std::vector<std::thread> threads;
        for (auto& h : heavy) {
            h = std::make_unique<bench::LoadClient>();
            threads.emplace_back([&, c = h.get()] {
                if (!c->connect(server.port, nullptr, nullptr, 120000) || !c->login("admin", "admin"))
                    return;
                while (!stop) {
                    const bench::CallResult r = c->call(16477, kWholeTable);
                    if (!r.complete)
                        return;
                    ++heavyDone;
                    heavyRows += static_cast<long>(r.rows);
                }
            });
        }
        std::this_thread::sleep_for(std::chrono::seconds(2)); // the heavy replies are flowing
        bench::LoadClient probe;
        std::vector<double> latencies;
        double peakMiB = server.rssMiB();
        if (probe.connect(server.port) && probe.login("admin", "admin")) {
            const auto end = Clock::now() + std::chrono::seconds(8);
            while (Clock::now() < end) {
                const auto t = Clock::now();
                const bench::CallResult r = probe.call(16477, {{697, ""}, {605, customer}, {9020, ""}});
                if (!r.complete)
                    break;
                latencies.push_back(msSince(t));
                peakMiB = std::max(peakMiB, server.rssMiB());
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
        stop = true;
        for (auto& h : heavy)
            h->abort();
        for (auto& t : threads)
            t.join();
        std::size_t held = 0;
        for (auto& s : sessions)
            if (s && s->call(3).status == 0)
                ++held;
        std::printf("%10zu %10zu %12.1f %10.1f %10.1f %10zu %12ld %12ld\n", count, held, peakMiB,
                    percentile(latencies, 0.50), percentile(latencies, 0.99), latencies.size(),
                    heavyDone.load(), heavyRows.load());
        std::fflush(stdout);
    }
}

// Median time of whole-table replies on one logged-in connection each, plain and TLS taking turns so
// that both see the same load on the machine; one warm-up call each first.
void plainAgainstTls(int plainPort, int tlsPort, SSL_CTX* tls) {
    bench::LoadClient plain, secure;
    if (!plain.connect(plainPort) || !plain.login("admin", "admin") || !secure.connect(tlsPort, tls) ||
        !secure.login("admin", "admin")) {
        std::printf("   cannot connect\n");
        return;
    }
    std::vector<double> plainMs, tlsMs;
    std::uint64_t rows = 0, bytes = 0;
    for (int i = 0; i < 8; ++i) {
        auto t = Clock::now();
        const bench::CallResult p = plain.call(16477, kWholeTable);
        if (i > 0)
            plainMs.push_back(msSince(t));
        t = Clock::now();
        const bench::CallResult r = secure.call(16477, kWholeTable);
        if (i > 0)
            tlsMs.push_back(msSince(t));
        rows = r.rows;
        bytes = p.bytes;
    }
    const double p50 = percentile(plainMs, 0.5), t50 = percentile(tlsMs, 0.5);
    std::printf("   plain: %8.1f ms  (%llu rows, %.1f MiB)\n", p50, static_cast<unsigned long long>(rows),
                static_cast<double>(bytes) / 1048576.0);
    std::printf("   TLS:   %8.1f ms  (%+.0f%%)\n", t50, (t50 / p50 - 1.0) * 100.0);
}

void guessers(Counterd& server) {
    std::printf("\n3. 31 connections guessing passwords for 10 s (names guess0..guess29 and admin, from 31 "
                "loopback addresses)\n");
    const double before = server.rssMiB();
    std::atomic<long> attempts{0}, checked{0}, refusedUnchecked{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < 31; ++i)
        threads.emplace_back([&, i] {
            const std::string source = "127.0.0." + std::to_string(i + 1);
            const std::string name = i == 0 ? "admin" : "guess" + std::to_string(i);
            bench::LoadClient c;
            for (long n = 0; !stop; ++n) {
                if (!c.connected() && !c.connect(server.port, nullptr, source.c_str(), 10000))
                    return;
                const bench::CallResult r = c.call(1, {{553, name}, {554, "pw" + std::to_string(n)}});
                if (!r.complete)
                    continue;
                ++attempts;
                if (r.text.find("too many failed") != std::string::npos)
                    ++refusedUnchecked;
                else
                    ++checked;
            }
        });
    double peak = before;
    const auto end = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < end) {
        peak = std::max(peak, server.rssMiB());
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    stop = true;
    for (auto& t : threads)
        t.join();
    bench::LoadClient right;
    const bool admitted = right.connect(server.port) && right.login("admin", "admin");
    std::printf(
        "   server memory %.1f MiB before, %.1f MiB peak; %ld attempts, %ld password checks, %ld refused "
        "unchecked; the right admin password afterwards: %s\n",
        before, peak, attempts.load(), checked.load(), refusedUnchecked.load(),
        admitted ? "ADMITTED" : "refused (locked)");
}

// Attempts per second of one guesser reconnecting whenever the server closes the connection.
void guessRate(const std::string& dbPath, bool defences) {
    server::ServerOptions o;
    o.dbPath = dbPath;
    o.today = kToday;
    o.log = [](std::string_view) {};
    o.loginGuard.enabled = defences;
    server::CounterServer s(o);
    std::string error;
    const int port = s.start("127.0.0.1", 0, error);
    long attempts = 0, checked = 0;
    bench::LoadClient c;
    const auto t = Clock::now();
    while (msSince(t) < 5000) {
        if (!c.connected() && !c.connect(port))
            break;
        const bench::CallResult r = c.call(1, {{553, "admin"}, {554, "pw" + std::to_string(attempts)}});
        if (!r.complete)
            continue;
        ++attempts;
        if (r.text.find("too many failed") == std::string::npos)
            ++checked;
    }
    const double seconds = msSince(t) / 1000.0;
    std::printf("   defences %-3s: %7.1f attempts/s, %7.2f password checks/s (%ld checks in %.1f s)\n",
                defences ? "on" : "off", static_cast<double>(attempts) / seconds,
                static_cast<double>(checked) / seconds, checked, seconds);
    s.stop();
}

// The next revision an answer gives; empty when it has none.
std::string nextRevisionOf(const bench::CallResult& answer) {
    for (const auto& [tag, value] : answer.endItems)
        if (tag == 9102)
            return value;
    return {};
}

// Draws new revisions for that many stop-loss rules, as a burst of the market would.
bool touchStopRules(const std::string& dbPath, int count) {
    server::Db db;
    std::string error;
    const std::string touch =
        "UPDATE rules SET rev = rev WHERE rowid IN (SELECT rowid FROM rules WHERE kind = 3 LIMIT " +
        std::to_string(count) + ")";
    if (!db.open(dbPath, false, error) || !db.exec(touch.c_str(), error)) {
        std::fprintf(stderr, "cannot touch the rules: %s\n", error.c_str());
        return false;
    }
    return true;
}

void heartbeatBesideLargeChanges(Counterd& server, const std::string& dbPath, int askers) {
    constexpr int kChanged = 9660;
    std::printf("\n5. Heartbeat (function 3) while %d clients ask 16500 for %d changed stop-loss rules\n",
                askers, kChanged);
    Items ask = {{1842, "3"}, {697, ""}, {9020, "0"}, {9101, ""}};
    {
        bench::LoadClient first;
        if (!first.connect(server.port) || !first.login("admin", "admin"))
            return;
        ask.back().second = nextRevisionOf(first.call(16500, ask));
    }
    if (ask.back().second.empty() || !touchStopRules(dbPath, kChanged))
        return;
    std::atomic<bool> stop{false};
    std::atomic<long> answers{0}, answerRows{0};
    std::vector<std::unique_ptr<bench::LoadClient>> clients(static_cast<std::size_t>(askers));
    std::vector<std::thread> threads;
    for (auto& c : clients) {
        c = std::make_unique<bench::LoadClient>();
        threads.emplace_back([&, client = c.get()] {
            if (!client->connect(server.port, nullptr, nullptr, 120000) || !client->login("admin", "admin"))
                return;
            while (!stop) {
                const bench::CallResult r = client->call(16500, ask);
                if (!r.complete)
                    return;
                ++answers;
                answerRows += static_cast<long>(r.rows);
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    bench::LoadClient probe;
    std::vector<double> latencies;
    if (probe.connect(server.port) && probe.login("teller", "teller")) {
        const auto end = Clock::now() + std::chrono::seconds(10);
        while (Clock::now() < end) {
            const auto t = Clock::now();
            if (!probe.call(3).complete)
                break;
            latencies.push_back(msSince(t));
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    stop = true;
    for (auto& c : clients)
        c->abort();
    for (auto& t : threads)
        t.join();
    std::printf(
        "   heartbeats %zu: p50 %.2f ms, p99 %.2f ms, max %.2f ms; changes answers %ld (%ld rows, %.0f an "
        "answer)\n",
        latencies.size(), percentile(latencies, 0.5), percentile(latencies, 0.99),
        latencies.empty() ? -1.0 : *std::max_element(latencies.begin(), latencies.end()), answers.load(),
        answerRows.load(), answers ? static_cast<double>(answerRows) / static_cast<double>(answers) : 0.0);
    std::printf("heartbeat_beside_large_changes: p50_ms=%.2f p99_ms=%.2f\n", percentile(latencies, 0.5),
                percentile(latencies, 0.99));
}

} // namespace

int main(int argc, char** argv) {
    std::size_t maxSessions = 1000;
    int heavyClients = 32, only = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--sessions"))
            maxSessions = static_cast<std::size_t>(std::atol(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--heavy"))
            heavyClients = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--only"))
            only = std::atoi(argv[i + 1]);
    }
    bench::prepareForManyConnections();

    const std::string dir = bench::makeScratchFolder("orvo-load");
    if (dir.empty())
        return 1;
    const std::string db = dir + "/large.db";
    std::printf("seeding the large demo in %s ...\n", dir.c_str());
    std::fflush(stdout);
    const std::string maxConnections =
        std::to_string(maxSessions + static_cast<std::size_t>(heavyClients) + 64);
    {
        Counterd server;
        const auto t = Clock::now();
        if (!server.start({"--listen", "127.0.0.1:0", "--db", db, "--demo", "--size", "large", "--date",
                           kToday, "--max-connections", maxConnections},
                          900000))
            return 1;
        std::printf("seeded and listening after %.1f s; %u cores\n", msSince(t) / 1000.0,
                    std::thread::hardware_concurrency());
        if (only == 0 || only == 1) {
            const std::string customer = smallCustomer(db);
            std::vector<std::size_t> counts{1, 32};
            if (maxSessions > 32)
                counts.push_back(maxSessions);
            sessionsUnderLoad(server, customer, heavyClients, counts);
        }
        if (only == 0 || only == 5)
            heartbeatBesideLargeChanges(server, db, 4);
    }
    if (only != 0) {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
        return 0;
    }

    std::printf("\n2. One whole-table reply (16477), median of 7, plain TCP against TLS\n");
    {
        const std::string cert = dir + "/cert.pem", key = dir + "/key.pem";
        const std::string make =
            "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 "
            "-subj /CN=localhost -keyout " +
            key + " -out " + cert + " 2>/dev/null";
        Counterd plain, tls;
        if (std::system(make.c_str()) != 0 ||
            !plain.start({"--listen", "127.0.0.1:0", "--db", db, "--date", kToday}, 60000) ||
            !tls.start({"--listen", "127.0.0.1:0", "--db", db, "--date", kToday, "--tls-cert", cert,
                        "--tls-key", key},
                       60000))
            return 1;
        SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
        plainAgainstTls(plain.port, tls.port, ctx);
        SSL_CTX_free(ctx);
    }
    {
        Counterd server;
        if (!server.start({"--listen", "127.0.0.1:0", "--db", db, "--date", kToday}, 60000))
            return 1;
        guessers(server);
    }
    std::printf("\n4. One guesser for 5 s, reconnecting when closed\n");
    guessRate(db, false);
    guessRate(db, true);

    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return 0;
}
