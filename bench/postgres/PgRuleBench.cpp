// Function 16477 (every stop-loss / take-profit rule within validity, 100,000 of them) answered by the
// PostgreSQL store, through the same handler as bench_server_rules measures on SQLite: the large demo
// seeded into a throwaway cluster, one pooled connection, the reply built and thrown away; with the
// server's row cache warm, and without it. Beside them, the warm-up of the row cache at a server's start.
#include "bench/support/DropSink.h"
#include "server/CounterServer.h"
#include "server/demo/PgSeed.h"
#include "server/functions/Functions.h"
#include "server/store/RowCache.h"
#include "server/store/postgres/PgPool.h"
#include "server/store/postgres/PgStore.h"
#include "tests/support/PgCluster.h"

#include "protocol/Protocol.h"

#include "bench/support/WarmupBench.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>

namespace {

using namespace orvo;

constexpr const char* kToday = "2026.12.07";

struct Setup {
    test::PgCluster cluster;
    std::unique_ptr<server::pg::PgPool> pool;
    bool ok = false;

    Setup() {
        std::string error;
        if (test::PgCluster::binDir().empty()) {
            std::fprintf(stderr, "PostgreSQL server binaries not installed: nothing to measure\n");
            return;
        }
        server::DemoOptions demo;
        demo.size = server::DemoSize::Large;
        demo.today = kToday;
        const auto start = std::chrono::steady_clock::now();
        if (!cluster.start(error) || !server::pg::preparePgStore(cluster.conninfo(), &demo, error)) {
            std::fprintf(stderr, "cannot set up the cluster: %s\n", error.c_str());
            std::exit(1);
        }
        std::fprintf(stderr, "large demo seeded into PostgreSQL in %.2f s\n",
                     std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        pool = std::make_unique<server::pg::PgPool>(cluster.conninfo(), 1);
        ok = true;
    }
};

Setup& setup() {
    static Setup s;
    return s;
}

using benchsupport::DropSink;

// The rule rows a server keeps encoded, at the server's default size.
server::RowCache& sharedRowCache() {
    static server::RowCache cache(server::RowCache::kDefaultMegabytes * 1024 * 1024);
    return cache;
}

// With the row cache warm (as after the first reply), or without one (--row-cache-mb 0).
void RunHandler(benchmark::State& state, const std::string& operatorName, bool cached = true) {
    Setup& s = setup();
    if (!s.ok) {
        state.SkipWithError("no PostgreSQL");
        return;
    }
    server::pg::PgStore store(*s.pool, cached ? &sharedRowCache() : nullptr);
    server::Session session;
    std::string error;
    if (!server::authenticate(store, operatorName, operatorName, session.op, error)) {
        state.SkipWithError(("login failed: " + error).c_str());
        return;
    }
    session.loggedIn = true;
    std::string frameBytes;
    proto::FrameBuilder builder(frameBytes);
    proto::AddRequestHead(builder, 1, 16477);
    builder.Add(697, "").Add(9020, "0");
    builder.Finish();
    proto::FrameReader reader;
    proto::Frame frame;
    reader.Feed(frameBytes);
    reader.Next(frame);
    server::Request request;
    request.seq = 1;
    request.function = 16477;
    request.items = frame.items;

    if (cached) {
        DropSink warmUp;
        server::ReplyWriter reply(warmUp, 1);
        server::CallContext ctx{store, session, request, reply, kToday};
        server::dispatch(ctx);
    }
    std::uint64_t rows = 0, bytes = 0;
    for (auto _ : state) {
        DropSink sink;
        server::ReplyWriter reply(sink, 1);
        server::CallContext ctx{store, session, request, reply, kToday};
        const server::Outcome outcome = server::dispatch(ctx);
        reply.end(outcome.status, outcome.text);
        if (outcome.status != 0)
            state.SkipWithError(outcome.text.c_str());
        rows += reply.rows();
        bytes += sink.bytes_;
    }
    state.counters["rows"] = static_cast<double>(rows) / static_cast<double>(state.iterations());
    state.counters["rows/s"] = benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

void BM_PgHandler16477(benchmark::State& state) {
    RunHandler(state, "admin");
}
void BM_PgHandler16477Teller(benchmark::State& state) {
    RunHandler(state, "teller");
}
void BM_PgHandler16477Uncached(benchmark::State& state) {
    RunHandler(state, "admin", false);
}

// The row cache's warm-up of a server just started on the database, nothing else asked: from the start
// to its end, and the process's processor time meanwhile. Its log line is shown once.
void BM_PgRowCacheWarmup(benchmark::State& state) {
    Setup& s = setup();
    if (!s.ok) {
        state.SkipWithError("no PostgreSQL");
        return;
    }
    bench::TimeRowCacheWarmup(state, s.cluster.conninfo(), kToday, std::chrono::seconds(60));
}

BENCHMARK(BM_PgHandler16477)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PgHandler16477Teller)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PgHandler16477Uncached)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PgRowCacheWarmup)->Unit(benchmark::kMillisecond)->Iterations(4)->UseRealTime();

} // namespace
