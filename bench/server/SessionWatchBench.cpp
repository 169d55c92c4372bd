// The session watch's round on SQLite: reading one server's live sessions (and those ended in the last
// minute) with 300 live, alone and beside 10,000 sessions ended earlier in the day (target: the second
// within 1.2 times the first: the watch's cost does not grow with the day's logins).
#include "server/demo/PrepareStore.h"
#include "server/store/sqlite/SqliteStore.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <unistd.h>

namespace {

using namespace orvo;

constexpr const char* kServer = "bench-host:1:20261207T083000";
constexpr int kLive = 300;

struct Sessions {
    std::string dir, path;
    std::int64_t firstLive = 0;

    explicit Sessions(int endedBefore) {
        std::string pattern = (std::filesystem::temp_directory_path() / "orvo-bench-XXXXXX").string();
        dir = mkdtemp(pattern.data()) ? pattern : ".";
        path = dir + "/sessions.db";
        std::string error;
        server::Db db;
        if (!server::prepareStore(path, nullptr, error) || !db.open(path, false, error)) {
            std::fprintf(stderr, "cannot prepare the database: %s\n", error.c_str());
            std::exit(1);
        }
        server::sqlite::SqliteStore store(db);
        std::vector<std::int64_t> ended;
        for (int i = 0; i < endedBefore + kLive; ++i) {
            std::int64_t id = 0;
            if (!store.openSession(kServer, "teller", "127.0.0.1", 0, id, error)) {
                std::fprintf(stderr, "cannot open a session: %s\n", error.c_str());
                std::exit(1);
            }
            if (i < endedBefore)
                ended.push_back(id);
            else if (firstLive == 0)
                firstLive = id;
        }
        std::size_t count = 0;
        // Ended an hour before the watch looks: outside the minute it reads ended sessions from.
        if (!ended.empty() && !store.endSessions(ended, server::kSessionClosed, count, error)) {
            std::fprintf(stderr, "cannot end the sessions: %s\n", error.c_str());
            std::exit(1);
        }
        db.exec("UPDATE sessions SET ended = '2026.12.07 08:00:00' WHERE ended <> ''", error);
    }
    ~Sessions() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

void watchRound(benchmark::State& state, int endedBefore) {
    static std::map<int, std::unique_ptr<Sessions>> prepared;
    auto& sessions = prepared[endedBefore];
    if (!sessions)
        sessions = std::make_unique<Sessions>(endedBefore);
    server::Db db;
    std::string error;
    db.open(sessions->path, true, error);
    server::sqlite::SqliteStore store(db);
    std::vector<server::SessionState> states;
    for (auto _ : state) {
        if (!store.sessionStates(kServer, sessions->firstLive, "2026.12.07 09:00:00", states, error))
            state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(states.data());
    }
    state.counters["sessions"] = static_cast<double>(states.size());
}

void BM_WatchRound300Live(benchmark::State& state) {
    watchRound(state, 0);
}
void BM_WatchRound300LiveBeside10000Ended(benchmark::State& state) {
    watchRound(state, 10000);
}
BENCHMARK(BM_WatchRound300Live)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WatchRound300LiveBeside10000Ended)->Unit(benchmark::kMicrosecond);

} // namespace
