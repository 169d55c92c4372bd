// The channel when something goes wrong, measured:
// - a cancel on a slow link (a loopback proxy passing 1 MB/s towards the client): Escape 3 s into a
//   100,040-row reply, then the time until the next small query (40 rows) has its answer;
// - a read cut by its server's death after 5,000 and after 60,000 rows of 100,040, with a second server in
//   the list: the rows the caller ends with, the failures it was told of, and the time the whole read took.
// Run: build/release/bin/bench_com_failover
#include "host/com/FixComm.h"
#include "tests/support/FakeCounterServer.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kLongReply = 100040;
constexpr long kLongFunction = 16477;
constexpr long kShortFunction = 16476;

orvo::test::FakeItems Rule(std::size_t serial) {
    return {{"797", std::to_string(serial)},
            {"605", "010100000001"},
            {"613", "\xD5\xC5\xC8\xFD"},
            {"719", "cu2501"},
            {"683", "1"},
            {"684", "3"},
            {"682", "72110.00"},
            {"1796", "72200.00"},
            {"1797", "72210.00"},
            {"1798", "71900.00"},
            {"1799", "71890.00"},
            {"750", "09:30:00"},
            {"7107", "2026.12.08"},
            {"1836", "2026.12.31"},
            {"7153", "3"}};
}

orvo::test::FakeReply Rules(std::size_t count, orvo::test::FakeReply::Fault fault = {},
                            std::size_t after = 0) {
    orvo::test::FakeReply reply;
    reply.generatedRows = count;
    reply.generate = Rule;
    reply.fault = fault;
    reply.faultAfterRows = after;
    return reply;
}

int ListenOnLoopback(int& port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    listen(fd, 16);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

int ConnectToLoopback(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// A loopback proxy that passes the server's bytes to the client at a fixed rate (a slow link), the
// client's at once. Each connection ends when either side closes it.
class SlowLink {
public:
    SlowLink(int serverPort, std::size_t bytesPerSecond) : m_serverPort(serverPort), m_rate(bytesPerSecond) {
        m_listen = ListenOnLoopback(m_port);
        m_accept = std::thread([this] { Accept(); });
    }
    ~SlowLink() {
        m_stop = true;
        m_accept.join();
        for (std::thread& pump : m_pumps)
            pump.join();
        close(m_listen);
    }
    int port() const { return m_port; }

private:
    void Accept() {
        while (!m_stop) {
            pollfd waiting{m_listen, POLLIN, 0};
            if (poll(&waiting, 1, 50) <= 0)
                continue;
            const int client = accept(m_listen, nullptr, nullptr);
            const int server = client >= 0 ? ConnectToLoopback(m_serverPort) : -1;
            if (server < 0) {
                if (client >= 0)
                    close(client);
                continue;
            }
            m_pumps.emplace_back([this, client, server] { Pump(client, server); });
        }
    }
    void Pump(int client, int server) {
        constexpr int kSliceMs = 20;
        const std::size_t perSlice = std::max<std::size_t>(1, m_rate * kSliceMs / 1000);
        std::vector<char> buffer(64 * 1024);
        auto nextSlice = Clock::now();
        for (bool open = true; open && !m_stop;) {
            pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            if (poll(fds, 2, kSliceMs) < 0)
                break;
            if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
                const ssize_t got = recv(client, buffer.data(), buffer.size(), 0);
                open = got > 0 && send(server, buffer.data(), static_cast<size_t>(got), MSG_NOSIGNAL) == got;
            }
            if (open && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) && Clock::now() >= nextSlice) {
                const ssize_t got = recv(server, buffer.data(), std::min(perSlice, buffer.size()), 0);
                open = got > 0 && send(client, buffer.data(), static_cast<size_t>(got), MSG_NOSIGNAL) == got;
                nextSlice = Clock::now() + std::chrono::milliseconds(kSliceMs);
            }
        }
        close(client);
        close(server);
    }

    int m_serverPort;
    std::size_t m_rate;
    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_accept;
    std::list<std::thread> m_pumps;
};

// Escape 3 s into a long reply on a 1 MB/s link, then F1: the time from the cancel to F1's whole answer.
void BM_CancelThenNextAnswerOnASlowLink(benchmark::State& state) {
    orvo::test::FakeCounterServer server;
    server.Script(kLongFunction, Rules(kLongReply));
    server.Script(kShortFunction, Rules(40));
    SlowLink link(server.port(), 1024 * 1024);
    CFixComm comm(FixCommSettings{"127.0.0.1", link.port(), "teller", "secret", 5000, 30000});
    long rowsAtCancel = 0;
    long shortRows = 0;
    for (auto _ : state) {
        const Clock::time_point started = Clock::now();
        comm.SetWaitCallback([&](long rows) {
            rowsAtCancel = rows;
            return Clock::now() - started < std::chrono::seconds(3);
        });
        comm.CreateHead(kLongFunction);
        while (comm.More()) {
        }
        const Clock::time_point cancelled = Clock::now();
        comm.SetWaitCallback(nullptr);
        comm.CreateHead(kShortFunction);
        shortRows = 0;
        while (comm.More())
            ++shortRows;
        const double seconds = std::chrono::duration<double>(Clock::now() - cancelled).count();
        if (!comm.LastReplyOk() || shortRows != 40) {
            state.SkipWithError("the next query failed");
            break;
        }
        state.SetIterationTime(seconds);
    }
    state.counters["rows_at_cancel"] = static_cast<double>(rowsAtCancel);
    state.counters["next_rows"] = static_cast<double>(shortRows);
}
BENCHMARK(BM_CancelThenNextAnswerOnASlowLink)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// A server of two killed after `range(0)` rows of a 100,040-row read: the whole answer from the other one.
void BM_ReadCutMidReplyRepeatedOnTheNextServer(benchmark::State& state) {
    const auto cutAfter = static_cast<std::size_t>(state.range(0));
    std::size_t kept = 0;
    int failures = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto first = std::make_unique<orvo::test::FakeCounterServer>();
        orvo::test::FakeCounterServer second;
        first->Script(kLongFunction, Rules(kLongReply, orvo::test::FakeReply::Fault::Close, cutAfter));
        second.Script(kLongFunction, Rules(kLongReply));
        FixCommSettings settings{"127.0.0.1", first->port(), "teller", "secret", 5000, 30000};
        settings.moreServers = {{"127.0.0.1", second.port()}};
        CFixComm comm(settings);
        failures = 0;
        comm.SetFailureCallback([&](const FixCommFailure&) { ++failures; });
        std::vector<long> serials;
        serials.reserve(kLongReply);
        state.ResumeTiming();
        comm.CreateHead(kLongFunction);
        comm.RepeatFromStartOnFailover([&] { serials.clear(); });
        while (comm.More())
            serials.push_back(comm.GetLong(797));
        state.PauseTiming();
        kept = serials.size();
        if (!comm.LastReplyOk() || kept != kLongReply || serials.back() != static_cast<long>(kLongReply - 1))
            state.SkipWithError("the read was not whole");
        comm.SetFailureCallback({});
        first.reset();
        state.ResumeTiming();
    }
    state.counters["rows_kept"] = static_cast<double>(kept);
    state.counters["failures_told"] = failures;
}
BENCHMARK(BM_ReadCutMidReplyRepeatedOnTheNextServer)
    ->Arg(5000)
    ->Arg(60000)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

} // namespace
