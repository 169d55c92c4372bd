// Changes since a revision (16500) on the large demo, the server's handler into a sink that drops
// bytes, with the row cache warm as on a working server:
//   Full16477        the whole 100,040-row stop-loss reply (within validity), the baseline
//   Changes100       16500 for the same rows after 100 of them were written (target: <= 2 % of Full)
//   ChangesNothing   16500 when nothing was written since the revision (target: <= 0.2 ms)
#include "bench/support/DropSink.h"
#include "protocol/Protocol.h"
#include "server/demo/PrepareStore.h"
#include "server/functions/Functions.h"
#include "server/store/RowCache.h"
#include "server/store/sqlite/SqliteStore.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <unistd.h>

namespace {

using namespace orvo;

constexpr const char* kToday = "2026.12.07";
using Items = std::vector<std::pair<std::uint32_t, std::string>>;

struct Database {
    std::string dir, path;
    Database() {
        std::string pattern = (std::filesystem::temp_directory_path() / "orvo-bench-XXXXXX").string();
        dir = mkdtemp(pattern.data()) ? pattern : ".";
        path = dir + "/large.db";
        server::DemoOptions demo;
        demo.size = server::DemoSize::Large;
        demo.today = kToday;
        std::string error;
        if (!server::prepareStore(path, &demo, error)) {
            std::fprintf(stderr, "seeding failed: %s\n", error.c_str());
            std::exit(1);
        }
    }
    ~Database() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

Database& database() {
    static Database d;
    return d;
}

server::RowCache& cache() {
    static server::RowCache c(server::RowCache::kDefaultMegabytes * 1024 * 1024);
    return c;
}

// One worker's store and session, as admin; runs a request and keeps its reply's end items.
class Worker {
public:
    Worker() : m_store(openDb(), &cache()) {
        std::string error;
        m_session.loggedIn = true;
        if (!server::authenticate(m_store, "admin", "admin", m_session.op, error)) {
            std::fprintf(stderr, "admin: %s\n", error.c_str());
            std::exit(1);
        }
    }
    // The rows sent; the next revision (9102) into `next` when asked.
    std::uint64_t run(std::uint32_t function, const Items& items, std::string* next = nullptr) {
        std::string frameBytes;
        proto::FrameBuilder b(frameBytes);
        proto::AddRequestHead(b, 1, function);
        for (const auto& [tag, value] : items)
            b.Add(tag, value);
        b.Finish();
        proto::FrameReader reader;
        proto::Frame frame;
        reader.Feed(frameBytes);
        reader.Next(frame);
        server::Request request;
        request.seq = 1;
        request.function = function;
        request.items = frame.items;
        struct Keep : server::ByteSink {
            bool write(std::string_view bytes) override {
                last.assign(bytes.substr(bytes.size() > 256 ? bytes.size() - 256 : 0));
                total += bytes.size();
                return true;
            }
            std::string last;
            std::size_t total = 0;
        } sink;
        server::ReplyWriter reply(sink, 1);
        server::CallContext ctx{m_store, m_session, request, reply, kToday};
        const server::Outcome outcome = server::dispatch(ctx);
        reply.end(outcome.status, outcome.text);
        if (next) {
            const std::size_t at = sink.last.rfind("9102=");
            *next =
                at == std::string::npos ? "" : sink.last.substr(at + 5, sink.last.find('\x01', at) - at - 5);
        }
        m_bytes = sink.total;
        return outcome.status == 0 ? reply.rows() : 0;
    }
    std::size_t lastBytes() const { return m_bytes; }

private:
    static server::Db openDb() {
        server::Db db;
        std::string error;
        db.open(database().path, true, error);
        return db;
    }
    server::sqlite::SqliteStore m_store;
    server::Session m_session;
    std::size_t m_bytes = 0;
};

const Items kFull = {{697, ""}, {9020, "0"}};
Items changesFrom(const std::string& revision) {
    return {{1842, "3"}, {697, ""}, {9020, "0"}, {9101, revision}};
}

// A revision, then 100 rules of the kind written after it.
std::string revisionBefore100Changes(Worker& worker) {
    std::string revision;
    worker.run(16500, changesFrom(""), &revision);
    server::Db writer;
    std::string error;
    writer.open(database().path, false, error);
    if (!writer.exec(
            "UPDATE rules SET lots = lots + 1 WHERE lsh IN (SELECT lsh FROM rules WHERE kind = 3 AND "
            "valid_date >= '2026.12.07' ORDER BY lsh LIMIT 100 OFFSET 5000)",
            error))
        std::fprintf(stderr, "writing: %s\n", error.c_str());
    return revision;
}

void report(benchmark::State& state, std::uint64_t rows, std::size_t bytes) {
    state.counters["rows"] = static_cast<double>(rows) / static_cast<double>(state.iterations());
    state.counters["bytes"] = static_cast<double>(bytes);
}

void BM_Full16477(benchmark::State& state) {
    Worker worker;
    worker.run(16477, kFull); // the cache warm
    std::uint64_t rows = 0;
    for (auto _ : state)
        rows += worker.run(16477, kFull);
    report(state, rows, worker.lastBytes());
}

void BM_Changes100(benchmark::State& state) {
    Worker worker;
    worker.run(16477, kFull);
    static const std::string revision = revisionBefore100Changes(worker);
    std::uint64_t rows = 0;
    for (auto _ : state)
        rows += worker.run(16500, changesFrom(revision));
    report(state, rows, worker.lastBytes());
}

void BM_ChangesNothing(benchmark::State& state) {
    Worker worker;
    std::string next;
    worker.run(16500, changesFrom(""), &next);
    std::uint64_t rows = 0;
    for (auto _ : state)
        rows += worker.run(16500, changesFrom(next));
    report(state, rows, worker.lastBytes());
}

} // namespace

BENCHMARK(BM_Full16477)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Changes100)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_ChangesNothing)->Unit(benchmark::kMicrosecond)->MinTime(1.0);
