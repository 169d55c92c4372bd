// Live terminals against one server: orvo-counterd on the large demo, N logged-in connections each asking
// 16500 (changes since its revision, stop-loss rules within validity) once every refresh period, spread
// evenly over the period. The server's CPU (user + system of its process, from /proc; with --simulate
// also its simulated market's thread apart) is measured over the run, and over as long a run with the
// same sessions connected and silent. Targets: 300 terminals refreshing every second cost the server at
// most 5 % of one core while nothing changes; with a market of 1,000 changes a second beside them, every
// terminal logs in, each change reaches every terminal within 1 s, and the server stays within one core.
// usage: bench_server_live [--terminals 300] [--seconds 10] [--refresh-ms 1000] [--size large|small]
//                          [--simulate RATE]
#include "bench/server/Counterd.h"
#include "bench/server/LoadClient.h"

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
#include <mutex>
#include <poll.h>
#include <sstream>
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
constexpr int kClientThreads = 8;
constexpr const char* kSimulatorThread = "orvo-simulator";

Items changesFrom(const std::string& revision) {
    return {{1842, "3"}, {697, ""}, {9020, "0"}, {9101, revision}};
}

struct Terminal {
    std::unique_ptr<bench::LoadClient> client;
    std::string revision;
    Clock::time_point lastAnswer;
};

// Connected, logged in as admin and holding a first revision, a few at a time (the server limits
// connections not logged in yet). The terminals that could not are left empty and counted.
std::size_t openTerminals(std::vector<Terminal>& terminals, int port) {
    std::atomic<std::size_t> next{0}, failed{0};
    std::vector<std::thread> openers;
    for (int t = 0; t < kClientThreads; ++t)
        openers.emplace_back([&] {
            for (std::size_t i = next++; i < terminals.size(); i = next++) {
                auto c = std::make_unique<bench::LoadClient>();
                if (!c->connect(port) || !c->login("admin", "admin")) {
                    ++failed;
                    continue;
                }
                // The first answer says to run the full query and gives the revision to ask from.
                const bench::CallResult r = c->call(16500, changesFrom(""));
                for (const auto& [tag, value] : r.endItems)
                    if (tag == 9102)
                        terminals[i].revision = value;
                if (r.status != 0 || terminals[i].revision.empty()) {
                    ++failed;
                    continue;
                }
                terminals[i].client = std::move(c);
            }
        });
    for (auto& t : openers)
        t.join();
    std::erase_if(terminals, [](const Terminal& t) { return !t.client; });
    return failed;
}

struct RunResult {
    long requests = 0;
    long failures = 0;
    long rows = 0;
    std::vector<double> latencyMs;
    // The longest any terminal went between two answers: a change committed just after one answer was
    // read reaches the terminal with the next, so no change took longer to arrive.
    double longestGapMs = 0;
};

// Each terminal asks once every period, terminal i at i/N of the period, until the run ends.
RunResult poll(std::vector<Terminal>& terminals, std::chrono::milliseconds period, std::chrono::seconds run) {
    RunResult total;
    std::mutex totalMutex;
    const auto start = Clock::now();
    const auto end = start + run;
    std::vector<std::thread> threads;
    for (int t = 0; t < kClientThreads; ++t)
        threads.emplace_back([&, t] {
            RunResult mine;
            const std::size_t n = terminals.size();
            for (long round = 0;; ++round) {
                for (std::size_t i = static_cast<std::size_t>(t); i < n; i += kClientThreads) {
                    const auto due =
                        start + round * period + period * static_cast<long>(i) / static_cast<long>(n);
                    if (due >= end) {
                        const std::lock_guard lock(totalMutex);
                        total.requests += mine.requests;
                        total.failures += mine.failures;
                        total.rows += mine.rows;
                        total.latencyMs.insert(total.latencyMs.end(), mine.latencyMs.begin(),
                                               mine.latencyMs.end());
                        total.longestGapMs = std::max(total.longestGapMs, mine.longestGapMs);
                        return;
                    }
                    std::this_thread::sleep_until(due);
                    // While nothing changes, every answer is the small "nothing changed" frame.
                    const auto asked = Clock::now();
                    const bench::CallResult r =
                        terminals[i].client->call(16500, changesFrom(terminals[i].revision));
                    const auto answered = Clock::now();
                    mine.latencyMs.push_back(
                        std::chrono::duration<double, std::milli>(answered - asked).count());
                    // From the second answer: the first catches up on the silent period before the run.
                    if (round > 1)
                        mine.longestGapMs = std::max(
                            mine.longestGapMs,
                            std::chrono::duration<double, std::milli>(answered - terminals[i].lastAnswer)
                                .count());
                    terminals[i].lastAnswer = answered;
                    ++mine.requests;
                    mine.rows += static_cast<long>(r.rows);
                    // Asked from the revision the last answer gave, as the window does: with a simulated
                    // market, each answer holds only what changed since the terminal last asked.
                    for (const auto& [tag, value] : r.endItems)
                        if (tag == 9102 && !value.empty())
                            terminals[i].revision = value;
                    if (!r.complete || r.status != 0)
                        ++mine.failures;
                }
            }
        });
    for (auto& t : threads)
        t.join();
    return total;
}

} // namespace

int main(int argc, char** argv) {
    std::size_t terminalCount = 300;
    int seconds = 10, refreshMs = 1000;
    std::string size = "large";
    std::string simulate; // changes per second of a simulated market on the server; empty: none
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag == "--terminals")
            terminalCount = static_cast<std::size_t>(std::max(1, std::atoi(argv[i + 1])));
        else if (flag == "--seconds")
            seconds = std::max(1, std::atoi(argv[i + 1]));
        else if (flag == "--refresh-ms")
            refreshMs = std::max(10, std::atoi(argv[i + 1]));
        else if (flag == "--size")
            size = argv[i + 1];
        else if (flag == "--simulate")
            simulate = argv[i + 1];
    }
    bench::prepareForManyConnections();

    const std::string dir = bench::makeScratchFolder("orvo-live");
    if (dir.empty())
        return 1;
    const std::string db = dir + "/demo.db";
    std::printf("seeding the %s demo in %s ...\n", size.c_str(), dir.c_str());
    std::fflush(stdout);
    int status = 0;
    {
        Counterd server;
        std::vector<std::string> args{"--listen",
                                      "127.0.0.1:0",
                                      "--db",
                                      db,
                                      "--demo",
                                      "--size",
                                      size,
                                      "--date",
                                      kToday,
                                      "--max-connections",
                                      std::to_string(terminalCount + 64)};
        if (!simulate.empty())
            args.insert(args.end(), {"--simulate", simulate, "--seed", "1"});
        if (!server.start(args, 900000))
            return 1;
        std::vector<Terminal> terminals(terminalCount);
        const auto loginsBegan = Clock::now();
        const std::size_t loginFailures = openTerminals(terminals, server.port);
        std::printf("logins: %zu succeeded, %zu failed, in %.2f s\n", terminals.size(), loginFailures,
                    std::chrono::duration<double>(Clock::now() - loginsBegan).count());
        if (loginFailures > 0)
            status = 1;
        if (!terminals.empty()) {
            // Settle after the logins, then the same time with the sessions connected and silent.
            std::this_thread::sleep_for(std::chrono::seconds(1));
            double cpu = server.cpuSeconds(), simulatorCpu = server.threadCpuSeconds(kSimulatorThread);
            auto t0 = Clock::now();
            std::this_thread::sleep_for(std::chrono::seconds(seconds));
            const double idleCpu = server.cpuSeconds() - cpu;
            const double idleSimulatorCpu = server.threadCpuSeconds(kSimulatorThread) - simulatorCpu;
            const double idleWall = std::chrono::duration<double>(Clock::now() - t0).count();

            cpu = server.cpuSeconds();
            simulatorCpu = server.threadCpuSeconds(kSimulatorThread);
            t0 = Clock::now();
            const RunResult r =
                poll(terminals, std::chrono::milliseconds(refreshMs), std::chrono::seconds(seconds));
            const double pollCpu = server.cpuSeconds() - cpu;
            const double pollSimulatorCpu = server.threadCpuSeconds(kSimulatorThread) - simulatorCpu;
            const double pollWall = std::chrono::duration<double>(Clock::now() - t0).count();

            std::printf("%zu terminals, 16500 every %d ms each, %d s; server CPU (user + system, /proc, "
                        "%ld ticks/s)\n",
                        terminals.size(), refreshMs, seconds, sysconf(_SC_CLK_TCK));
            std::printf("  silent:  %.3f s CPU in %.2f s = %.2f %% of one core", idleCpu, idleWall,
                        100.0 * idleCpu / idleWall);
            if (!simulate.empty())
                std::printf(", the simulated market %.2f %%", 100.0 * idleSimulatorCpu / idleWall);
            std::printf("\n  live:    %.3f s CPU in %.2f s = %.2f %% of one core (target <= %s)", pollCpu,
                        pollWall, 100.0 * pollCpu / pollWall, simulate.empty() ? "5 %" : "100 %");
            if (!simulate.empty())
                std::printf(", the simulated market %.2f %%", 100.0 * pollSimulatorCpu / pollWall);
            std::printf("\n  requests %ld (%.0f/s), failed %ld, rows %ld; latency p50 %.3f ms, p99 %.3f ms; "
                        "server CPU per request %.1f us\n",
                        r.requests, static_cast<double>(r.requests) / pollWall, r.failures, r.rows,
                        percentile(r.latencyMs, 0.5), percentile(r.latencyMs, 0.99),
                        r.requests ? 1e6 * pollCpu / static_cast<double>(r.requests) : 0.0);
            std::printf("  longest a terminal went between answers (no change waited longer): %.0f ms, the "
                        "refresh period %d ms\n",
                        r.longestGapMs, refreshMs);
            if (r.failures > 0 || (simulate.empty() && r.rows > 0))
                status = 1;
        }
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return status;
}
