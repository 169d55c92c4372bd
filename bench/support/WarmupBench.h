// The row cache warm-up of a server just started on dbPath, nothing else asked: from the start to the
// warm-up's end, and the process's processor time meanwhile (the warm-up and the keeper beside it; the
// rest is idle). Its log line is shown once. Shared by the SQLite and PostgreSQL benchmarks.
#pragma once

#include "server/CounterServer.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace orvo::bench {

inline void TimeRowCacheWarmup(benchmark::State& state, const std::string& dbPath, const char* today,
                               std::chrono::seconds limit) {
    std::mutex lineMutex;
    std::string warmLine;
    double cpuMs = 0;
    for (auto _ : state) {
        server::ServerOptions options;
        options.dbPath = dbPath;
        options.today = today;
        options.log = [&](std::string_view line) {
            if (line.starts_with("row cache")) {
                const std::lock_guard lock(lineMutex);
                warmLine = line;
            }
        };
        auto fresh = std::make_unique<server::CounterServer>(options);
        std::string error;
        const std::clock_t cpuStart = std::clock();
        if (fresh->start("127.0.0.1", 0, error) <= 0 || !fresh->waitForWarmup(limit)) {
            state.SkipWithError(("fresh server: " + error).c_str());
            break;
        }
        cpuMs += 1000.0 * static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
        state.PauseTiming();
        fresh->stop();
        fresh.reset();
        state.ResumeTiming();
    }
    state.counters["cpu_ms"] = cpuMs / static_cast<double>(state.iterations());
    std::fprintf(stderr, "%s\n", warmLine.c_str());
}

} // namespace orvo::bench
