// 100,000 stop-loss / take-profit rules (function 16477, --size large demo), three ways:
//   Handler    the server's own work for the query (SQLite, GBK, frames) into a sink that drops bytes,
//              with the server's row cache warm (as after the first reply), empty (Cold: the first reply
//              after a start) and turned off (Uncached)
//   RawClient  over loopback to the embedded server, frames split but items not looked at; First: the
//              first query of a server just started, without the row cache's warm-up, after it and
//              during it; RowCacheWarmup: the warm-up's own time
//   CFixComm   over loopback through the request channel: More plus GetItem of every tag of every row
// The server's own time per request, from its log line, is reported as server_ms. Beside the handler:
// the teller's share of the same query, and the client's decoding of exactly the handler's reply bytes
// (the handler's target is at most three times that).
#include "bench/support/DropSink.h"
#include "host/com/FixComm.h"
#include "host/dbm/MemRecord.h"
#include "protocol/Protocol.h"
#include "server/CounterServer.h"
#include "server/demo/PrepareStore.h"
#include "server/functions/Functions.h"
#include "server/store/RowCache.h"
#include "server/store/sqlite/SqliteOperators.h"
#include "server/store/sqlite/SqliteStore.h"

#include "bench/support/WarmupBench.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

using namespace orvo;

constexpr const char* kToday = "2026.12.07";
constexpr long kTags[] = {797,  605,  613, 830, 727, 719,  683,  1718, 684, 682,  1796, 1797,
                          1798, 1799, 742, 745, 750, 7107, 1836, 7153, 599, 1716, 1842};

struct Setup {
    std::string dir, dbPath;
    std::unique_ptr<server::CounterServer> server;
    int port = -1;
    std::atomic<long> lastServerMs{-1};

    Setup() {
        std::string pattern = (std::filesystem::temp_directory_path() / "orvo-bench-XXXXXX").string();
        dir = mkdtemp(pattern.data()) ? pattern : ".";
        dbPath = dir + "/large.db";
        server::DemoOptions demo;
        demo.size = server::DemoSize::Large;
        demo.today = kToday;
        std::string error;
        const auto seedStart = std::chrono::steady_clock::now();
        const std::clock_t seedCpuStart = std::clock();
        if (!server::prepareStore(dbPath, &demo, error)) {
            std::fprintf(stderr, "seeding failed: %s\n", error.c_str());
            std::exit(1);
        }
        std::fprintf(stderr, "large demo seeded in %.2f s (%.2f s CPU)\n",
                     std::chrono::duration<double>(std::chrono::steady_clock::now() - seedStart).count(),
                     static_cast<double>(std::clock() - seedCpuStart) / CLOCKS_PER_SEC);
        server::ServerOptions options;
        options.dbPath = dbPath;
        options.today = kToday;
        options.log = [this](std::string_view line) {
            if (line.find("fn=16477") == std::string_view::npos)
                return;
            size_t at = line.find(" ms=");
            if (at != std::string_view::npos)
                lastServerMs = std::atol(std::string(line.substr(at + 4)).c_str());
        };
        server = std::make_unique<server::CounterServer>(options);
        port = server->start("127.0.0.1", 0, error);
        if (port <= 0) {
            std::fprintf(stderr, "server failed: %s\n", error.c_str());
            std::exit(1);
        }
        // The benchmarks start on a quiet machine.
        server->waitForWarmup(std::chrono::seconds(30));
    }
    ~Setup() {
        server->stop();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

Setup& setup() {
    static Setup s;
    return s;
}

using benchsupport::DropSink;

std::string requestFrame(std::uint32_t seq) {
    std::string out;
    proto::FrameBuilder b(out);
    proto::AddRequestHead(b, seq, 16477);
    b.Add(697, "").Add(9020, "0");
    b.Finish();
    return out;
}

// Keeps every byte of one reply.
class CaptureSink : public server::ByteSink {
public:
    bool write(std::string_view bytes) override {
        bytes_.append(bytes);
        return true;
    }
    std::string bytes_;
};

// The rule rows a server keeps encoded, at the server's default size, shared by the handlers as a
// server's workers share it.
server::RowCache& sharedRowCache() {
    static server::RowCache cache(server::RowCache::kDefaultMegabytes * 1024 * 1024);
    return cache;
}

// The server's handler for one operator's 16477 request (within validity, every branch), on its own
// read-only connection, with the row cache given (null: none).
class Handler {
public:
    explicit Handler(const std::string& operatorName, server::RowCache* cache = nullptr) : m_cache(cache) {
        std::string error;
        m_db.open(setup().dbPath, true, error);
        m_session.loggedIn = true;
        if (!server::authenticate(m_db, operatorName, operatorName, m_session.op, error) || !error.empty()) {
            std::fprintf(stderr, "operator %s: %s\n", operatorName.c_str(), error.c_str());
            std::exit(1);
        }
        m_frameBytes = requestFrame(1);
        m_reader.Feed(m_frameBytes);
        m_reader.Next(m_frame);
        m_request.seq = 1;
        m_request.function = 16477;
        m_request.items = m_frame.items;
    }
    void useCache(server::RowCache* cache) { m_cache = cache; }
    // Runs the request into the sink; the rows sent.
    std::uint64_t run(server::ByteSink& sink) {
        server::ReplyWriter reply(sink, 1);
        server::sqlite::SqliteStore store(m_db, m_cache);
        server::CallContext ctx{store, m_session, m_request, reply, kToday};
        server::Outcome outcome = server::dispatch(ctx);
        reply.end(outcome.status, outcome.text);
        return outcome.status == 0 ? reply.rows() : 0;
    }

private:
    server::Db m_db;
    server::RowCache* m_cache;
    server::Session m_session;
    std::string m_frameBytes;
    proto::FrameReader m_reader;
    proto::Frame m_frame;
    server::Request m_request;
};

enum class Cache { Warm, Cold, Off };

void RunHandler(benchmark::State& state, const std::string& operatorName, Cache cache = Cache::Warm) {
    Handler handler(operatorName, cache == Cache::Warm ? &sharedRowCache() : nullptr);
    if (cache == Cache::Warm) {
        DropSink warmUp;
        handler.run(warmUp);
    }
    std::uint64_t rows = 0, bytes = 0;
    for (auto _ : state) {
        std::unique_ptr<server::RowCache> empty;
        if (cache == Cache::Cold) {
            state.PauseTiming();
            empty = std::make_unique<server::RowCache>(server::RowCache::kDefaultMegabytes * 1024 * 1024);
            handler.useCache(empty.get());
            state.ResumeTiming();
        }
        DropSink sink;
        rows += handler.run(sink);
        bytes += sink.bytes_;
        if (cache == Cache::Cold) {
            state.PauseTiming();
            state.counters["cache_mb"] = static_cast<double>(empty->bytes()) / (1024.0 * 1024.0);
            handler.useCache(nullptr);
            empty.reset();
            state.ResumeTiming();
        }
    }
    state.counters["rows"] = static_cast<double>(rows) / static_cast<double>(state.iterations());
    state.counters["rows/s"] = benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

void BM_Handler16477(benchmark::State& state) {
    RunHandler(state, "admin");
}

// The teller sees one branch and two of its groups: about 8 % of the rows. As on a working server, the
// cache holds admin's rows too, so the teller's are spread among them.
void BM_Handler16477Teller(benchmark::State& state) {
    {
        Handler admin("admin", &sharedRowCache());
        DropSink warmUp;
        admin.run(warmUp);
    }
    RunHandler(state, "teller");
}

// The first reply after a start: every row read in full, encoded and kept.
void BM_Handler16477Cold(benchmark::State& state) {
    RunHandler(state, "admin", Cache::Cold);
}

// A server run with --row-cache-mb 0: every row read and encoded for every reply.
void BM_Handler16477Uncached(benchmark::State& state) {
    RunHandler(state, "admin", Cache::Off);
}

// Decoding exactly the bytes BM_Handler16477 produces, as the client's channel reads them: fed 64 KiB at
// a time, every frame split, its items parsed and its header read.
void BM_DecodeHandlerReply(benchmark::State& state) {
    static const std::string bytes = [] {
        CaptureSink sink;
        Handler("admin").run(sink);
        return std::move(sink.bytes_);
    }();
    const std::string_view all = bytes;
    proto::Frame frame;
    std::uint64_t rows = 0;
    for (auto _ : state) {
        proto::FrameReader reader;
        for (std::size_t offset = 0; offset < all.size(); offset += 64 * 1024) {
            reader.Feed(all.substr(offset, 64 * 1024));
            while (reader.Next(frame) == proto::ReadResult::Frame) {
                proto::Header header;
                proto::ReadHeader(frame.items, header);
                rows += header.type == proto::MessageType::Row;
            }
        }
    }
    state.counters["rows"] = static_cast<double>(rows) / static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(bytes.size()));
}

// One logged-in connection reading replies' frames without looking at their items.
class RawSession {
public:
    explicit RawSession(int port) {
        m_fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<std::uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            return;
        // A server that stops answering fails the run instead of hanging it.
        const timeval replyTimeout{30, 0};
        setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &replyTimeout, sizeof replyTimeout);
        std::string login;
        proto::FrameBuilder b(login);
        proto::AddRequestHead(b, 1, 1);
        b.Add(553, "admin").Add(554, "admin");
        b.Finish();
        std::uint64_t ignored = 0;
        m_ok = send(login) && readReply(ignored);
    }
    ~RawSession() { close(m_fd); }
    RawSession(const RawSession&) = delete;
    RawSession& operator=(const RawSession&) = delete;

    bool ok() const { return m_ok; }
    // One 16477 request; false when it could not be sent or its reply not read whole.
    bool query(std::uint64_t& rows) { return send(requestFrame(m_seq++)) && readReply(rows); }

private:
    bool send(const std::string& bytes) {
        return ::send(m_fd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size());
    }
    bool readReply(std::uint64_t& rows) {
        for (;;) {
            proto::ReadResult r = m_reader.Next(m_frame);
            if (r == proto::ReadResult::Error)
                return false;
            if (r == proto::ReadResult::Frame) {
                if (m_frame.items.empty() || m_frame.items[0].value != "R")
                    return true;
                ++rows;
                continue;
            }
            auto space = m_reader.PrepareWrite();
            ssize_t n = recv(m_fd, space.data(), space.size(), 0);
            if (n <= 0)
                return false;
            m_reader.Commit(static_cast<std::size_t>(n));
        }
    }

    int m_fd = -1;
    bool m_ok = false;
    std::uint32_t m_seq = 2;
    proto::FrameReader m_reader;
    proto::Frame m_frame;
};

void BM_RawClient16477(benchmark::State& state) {
    Setup& s = setup();
    RawSession session(s.port);
    if (!session.ok()) {
        state.SkipWithError("connect or login failed");
        return;
    }
    std::uint64_t rows = 0;
    double serverMs = 0;
    for (auto _ : state) {
        if (!session.query(rows)) {
            state.SkipWithError("query failed");
            break;
        }
        serverMs += static_cast<double>(s.lastServerMs.load());
    }
    state.counters["rows"] = static_cast<double>(rows) / static_cast<double>(state.iterations());
    state.counters["rows/s"] = benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
    state.counters["server_ms"] = serverMs / static_cast<double>(state.iterations());
}

// The first query a client makes of a server just started on the database, to set beside
// BM_RawClient16477's warm ones; the server's start and the login are not timed. Argument: 0 the
// warm-up turned off (the row cache empty: the reply fills it), 1 asked once the warm-up has ended,
// 2 asked at once, while the warm-up runs.
void BM_RawClient16477First(benchmark::State& state) {
    Setup& s = setup();
    const auto mode = state.range(0);
    std::uint64_t rows = 0;
    int during = 0;
    for (auto _ : state) {
        state.PauseTiming();
        server::ServerOptions options;
        options.dbPath = s.dbPath;
        options.today = kToday;
        options.warmRowCache = mode != 0;
        options.log = [](std::string_view) {};
        auto fresh = std::make_unique<server::CounterServer>(options);
        std::string error;
        const int port = fresh->start("127.0.0.1", 0, error);
        auto session = port > 0 ? std::make_unique<RawSession>(port) : nullptr;
        if (!session || !session->ok()) {
            state.SkipWithError(("fresh server: " + error).c_str());
            break;
        }
        if (mode == 1 && !fresh->waitForWarmup(std::chrono::seconds(30))) {
            state.SkipWithError("the warm-up did not end");
            break;
        }
        // Mode 2: counts the queries sent before the warm-up had ended.
        during += mode == 2 && !fresh->waitForWarmup(std::chrono::milliseconds(0)) ? 1 : 0;
        state.ResumeTiming();
        const bool answered = session->query(rows);
        state.PauseTiming();
        session.reset();
        fresh->stop();
        fresh.reset();
        state.ResumeTiming();
        if (!answered) {
            state.SkipWithError("query failed");
            break;
        }
    }
    state.counters["rows"] = static_cast<double>(rows) / static_cast<double>(state.iterations());
    if (mode == 2)
        state.counters["during"] = during;
}

// The warm-up of a server just started, nothing else asked: from the start to its end, and the
// process's processor time meanwhile (the warm-up and the keeper beside it; the rest is idle). Its log
// line is shown once.
void BM_RowCacheWarmup(benchmark::State& state) {
    Setup& s = setup();
    bench::TimeRowCacheWarmup(state, s.dbPath, kToday, std::chrono::seconds(30));
}

// The channel's settings for the demo's admin operator on the benchmark's server.
FixCommSettings AdminSettings(int port) {
    FixCommSettings settings;
    settings.host = "127.0.0.1";
    settings.port = port;
    settings.operatorName = "admin";
    settings.password = "admin";
    return settings;
}

void BM_CFixComm16477(benchmark::State& state) {
    Setup& s = setup();
    CFixComm comm(AdminSettings(s.port));
    std::uint64_t rows = 0, bytes = 0;
    double serverMs = 0;
    for (auto _ : state) {
        comm.CreateHead(16477, -1);
        comm.SetItem(697, "");
        comm.SetItem(9020, "0");
        while (comm.More(nullptr)) {
            ++rows;
            for (long tag : kTags) {
                CString value = comm.GetItem(tag, -1);
                bytes += static_cast<std::uint64_t>(value.GetLength());
                benchmark::DoNotOptimize(value);
            }
        }
        if (!comm.LastReplyOk()) {
            state.SkipWithError("query failed");
            break;
        }
        serverMs += static_cast<double>(s.lastServerMs.load());
    }
    state.counters["rows"] = static_cast<double>(rows) / static_cast<double>(state.iterations());
    state.counters["rows/s"] = benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
    state.counters["server_ms"] = serverMs / static_cast<double>(state.iterations());
    state.counters["value_bytes"] = static_cast<double>(bytes) / static_cast<double>(state.iterations());
}

// The start-up download of the contract table (20,100 rows of the large demo) into a record set.
void BM_CFixCommDownloadContracts(benchmark::State& state) {
    Setup& s = setup();
    CFixComm comm(AdminSettings(s.port));
    long rows = 0;
    for (auto _ : state) {
        CMemRecord table;
        if (!comm.DownloadTable("QHHYDM", table)) {
            state.SkipWithError("download failed");
            break;
        }
        rows += table.GetRecordCount();
    }
    state.counters["rows"] = static_cast<double>(rows) / static_cast<double>(state.iterations());
}

BENCHMARK(BM_Handler16477)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_DecodeHandlerReply)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Handler16477Teller)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Handler16477Cold)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Handler16477Uncached)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_RawClient16477)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_RawClient16477First)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(8)
    ->UseRealTime();
BENCHMARK(BM_RowCacheWarmup)->Unit(benchmark::kMillisecond)->Iterations(8)->UseRealTime();
BENCHMARK(BM_CFixComm16477)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_CFixCommDownloadContracts)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();

} // namespace
