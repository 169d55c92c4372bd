// The channel's patience with busy servers and its list of servers: a busy answer is tried again with
// back-off (or after the server's hint) and never taken for an unreachable server; a server that fails is
// left for the next of the list, and the query that failed is repeated there without a failure shown.
#include "tests/com/FixCommTestSupport.h"

#include "protocol/Protocol.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <optional>
#include <thread>

namespace {

namespace proto = orvo::proto;
using orvo::test::FakeReply;

// A server that turns its first `refusals` connections away as busy (status 5 in a frame of sequence 0,
// with a retry-after item when given), as a loaded counter server does, then serves every request with an
// empty success.
class BusyServer {
public:
    BusyServer(int refusals, std::optional<int> retryAfterMs) : m_refusals(refusals), m_hint(retryAfterMs) {
        m_listen = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        bind(m_listen, reinterpret_cast<sockaddr*>(&address), length);
        listen(m_listen, 16);
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { Run(); });
    }
    ~BusyServer() {
        m_stop = true;
        m_thread.join();
        close(m_listen);
    }
    int port() const { return m_port; }
    int accepted() const { return m_accepted; }

private:
    void Run() {
        while (!m_stop) {
            pollfd waiting{m_listen, POLLIN, 0};
            if (poll(&waiting, 1, 50) <= 0)
                continue;
            const int fd = accept(m_listen, nullptr, nullptr);
            if (fd < 0)
                continue;
            if (++m_accepted <= m_refusals)
                Refuse(fd);
            else
                Serve(fd);
            close(fd);
        }
    }
    void Refuse(int fd) {
        std::string out;
        proto::FrameBuilder builder(out);
        builder.Add(proto::kTagType, "E").Add(proto::kTagSeq, 0).Add(proto::kTagStatus, proto::kStatusLimit);
        builder.Add(proto::kTagText, "server busy: too many connections waiting to log in");
        if (m_hint)
            builder.Add(61, *m_hint);
        builder.Finish();
        send(fd, out.data(), out.size(), MSG_NOSIGNAL);
    }
    void Serve(int fd) {
        proto::FrameReader reader;
        proto::Frame frame;
        while (!m_stop) {
            const proto::ReadResult result = reader.Next(frame);
            if (result == proto::ReadResult::Error)
                return;
            if (result == proto::ReadResult::Frame) {
                proto::Header header;
                proto::ReadHeader(frame.items, header);
                std::string out;
                proto::AppendEnd(out, header.seq, proto::kStatusOk, "", 0);
                send(fd, out.data(), out.size(), MSG_NOSIGNAL);
                continue;
            }
            pollfd readable{fd, POLLIN, 0};
            if (poll(&readable, 1, 50) <= 0)
                continue;
            const std::span<char> space = reader.PrepareWrite(4096);
            const ssize_t got = recv(fd, space.data(), space.size(), 0);
            if (got <= 0)
                return;
            reader.Commit(static_cast<std::size_t>(got));
        }
    }

    int m_refusals;
    std::optional<int> m_hint;
    int m_listen = -1;
    int m_port = 0;
    std::atomic<int> m_accepted{0};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

FixCommSettings Settings(int port, int connectTimeoutMs) {
    FixCommSettings settings;
    settings.port = port;
    settings.operatorName = "teller";
    settings.password = "secret";
    settings.connectTimeoutMs = connectTimeoutMs;
    settings.replyTimeoutMs = 3000;
    return settings;
}

struct Watched {
    std::vector<FixCommFailure> failures;
    std::vector<FixCommBusy> waits;
    std::vector<std::string> moves;
    explicit Watched(CFixComm& comm) {
        comm.SetFailureCallback([this](const FixCommFailure& f) { failures.push_back(f); });
        comm.SetBusyCallback([this](const FixCommBusy& b) { waits.push_back(b); });
        comm.SetServerChangeCallback([this](const std::string& from, const std::string& to,
                                            const std::string&) { moves.push_back(from + ">" + to); });
    }
};

long CountRows(CFixComm& comm, long function) {
    comm.CreateHead(function, -1);
    long rows = 0;
    while (comm.More())
        ++rows;
    return rows;
}

} // namespace

TEST(FixCommBusy, ABusyServerIsTriedAgainWithGrowingJitteredWaitsUntilItTakesTheLogin) {
    BusyServer server(2, std::nullopt);
    CFixComm comm(Settings(server.port(), 5000));
    Watched watched(comm);
    EXPECT_EQ(CountRows(comm, 16476), 0);
    EXPECT_TRUE(comm.LastReplyOk());
    EXPECT_TRUE(watched.failures.empty())
        << (watched.failures.empty() ? "" : watched.failures.front().text.str());
    EXPECT_EQ(server.accepted(), 3);
    ASSERT_EQ(watched.waits.size(), 2u);
    EXPECT_EQ(watched.waits[0].attempt, 1);
    EXPECT_GE(watched.waits[0].waitMs, 100);
    EXPECT_LE(watched.waits[0].waitMs, 200);
    EXPECT_GE(watched.waits[1].waitMs, 200); // doubled
    EXPECT_LE(watched.waits[1].waitMs, 400);
    EXPECT_NE(watched.waits[0].text.Find("too many connections"), -1);
}

TEST(FixCommBusy, AServersHintIsHonouredAndABusyServerIsNeverReportedUnreachable) {
    {
        BusyServer server(1000, 250);
        CFixComm comm(Settings(server.port(), 1000));
        Watched watched(comm);
        EXPECT_FALSE(comm.Login());
        ASSERT_FALSE(watched.waits.empty());
        for (const FixCommBusy& wait : watched.waits)
            EXPECT_EQ(wait.waitMs, 250);
        ASSERT_EQ(watched.failures.size(), 1u); // the attempts before the last are not reported
        EXPECT_EQ(watched.failures[0].status, 5);
        EXPECT_NE(watched.failures[0].text.Find("server busy"), -1) << watched.failures[0].text.str();
    }
    {
        // A hint beyond the connect time-out: no use waiting.
        BusyServer server(1000, 60000);
        CFixComm comm(Settings(server.port(), 1000));
        Watched watched(comm);
        EXPECT_FALSE(comm.Login());
        EXPECT_TRUE(watched.waits.empty());
        EXPECT_EQ(server.accepted(), 1);
        EXPECT_EQ(comm.LastFailure().status, 5);
    }
}

TEST(FixCommFailover, AServerThatFailsIsLeftForTheNextAndTheQueryRepeatedThere) {
    auto first = std::make_unique<orvo::test::FakeCounterServer>();
    auto second = std::make_unique<orvo::test::FakeCounterServer>();
    FakeReply rows;
    rows.rows = {RuleRow(1, "a"), RuleRow(2, "b"), RuleRow(3, "c")};
    FakeReply closes;
    closes.fault = FakeReply::Fault::Close;
    first->Script(16476, rows);
    first->ScriptOnce(16476, closes);
    second->Script(16476, rows);

    FixCommSettings settings = Settings(first->port(), 2000);
    settings.moreServers = {{"127.0.0.1", second->port()}};
    CFixComm comm(settings);
    Watched watched(comm);
    const std::string firstName = "127.0.0.1:" + std::to_string(first->port());
    const std::string secondName = "127.0.0.1:" + std::to_string(second->port());

    // The first server closes the connection before any row: the query is answered by the second.
    EXPECT_EQ(CountRows(comm, 16476), 3);
    EXPECT_TRUE(comm.LastReplyOk());
    EXPECT_TRUE(watched.failures.empty());
    EXPECT_EQ(comm.ServerInUse(), secondName);
    EXPECT_EQ(second->Requests(1).size(), 1u); // logged in there first
    EXPECT_EQ(second->Requests(16476).size(), 1u);

    // An idle connection closed is no failure of the server: the channel stays with it.
    second->DropConnections();
    EXPECT_EQ(CountRows(comm, 16476), 3);
    EXPECT_EQ(comm.ServerInUse(), secondName);

    // The second server goes between two queries: round the list to the first, without a failure.
    second.reset();
    EXPECT_EQ(CountRows(comm, 16476), 3);
    EXPECT_TRUE(watched.failures.empty());
    EXPECT_EQ(comm.ServerInUse(), firstName);
    EXPECT_EQ(watched.moves,
              (std::vector<std::string>{firstName + ">" + secondName, secondName + ">" + firstName}));

    // None left: one failure, a transport one.
    first.reset();
    EXPECT_EQ(CountRows(comm, 16476), 0);
    EXPECT_FALSE(comm.LastReplyOk());
    ASSERT_EQ(watched.failures.size(), 1u);
    EXPECT_EQ(watched.failures[0].status, -1);
    // Each server tried is named once, with its own reason.
    EXPECT_EQ(watched.failures[0].text.str(), "no counter server of the list answers: " + firstName +
                                                  ": Connection refused; " + secondName +
                                                  ": Connection refused");
}

namespace {

FakeReply Serials(std::size_t count, FakeReply::Fault fault = FakeReply::Fault::None, std::size_t after = 0) {
    FakeReply reply;
    reply.generatedRows = count;
    reply.generate = [](std::size_t i) { return RuleRow(static_cast<int>(i), "r"); };
    reply.fault = fault;
    reply.faultAfterRows = after;
    return reply;
}

// A read as the module does it: every row kept, the kept rows dropped when the channel starts over.
struct KeptRead {
    std::vector<long> serials;
    int restarts = 0;
    void Run(CFixComm& comm, long function) {
        comm.CreateHead(function, -1);
        comm.RepeatFromStartOnFailover([this] {
            serials.clear();
            ++restarts;
        });
        while (comm.More())
            serials.push_back(comm.GetLong(797));
    }
    bool Whole(std::size_t count) const {
        if (serials.size() != count)
            return false;
        for (std::size_t i = 0; i < count; ++i)
            if (serials[i] != static_cast<long>(i))
                return false;
        return true;
    }
};

} // namespace

TEST(FixCommFailover, AReadCutByItsServersDeathIsAskedAgainFromTheStartOfTheNextServer) {
    constexpr std::size_t kRows = 3000;
    auto first = std::make_unique<orvo::test::FakeCounterServer>();
    auto second = std::make_unique<orvo::test::FakeCounterServer>();
    first->Script(16477, Serials(kRows));
    second->Script(16477, Serials(kRows));
    FixCommSettings settings = Settings(first->port(), 2000);
    settings.moreServers = {{"127.0.0.1", second->port()}};
    CFixComm comm(settings);
    Watched watched(comm);
    std::vector<std::string> whys;
    comm.SetServerChangeCallback(
        [&](const std::string&, const std::string&, const std::string& why) { whys.push_back(why); });

    // Cut within the rows read on the caller's thread, then past them (read ahead), and back round.
    for (int cut = 0; cut < 2; ++cut) {
        if (cut == 0)
            first->ScriptOnce(16477, Serials(kRows, FakeReply::Fault::Close, 500));
        else
            second->ScriptOnce(16477, Serials(kRows, FakeReply::Fault::Close, 2000));
        KeptRead read;
        read.Run(comm, 16477);
        EXPECT_TRUE(comm.LastReplyOk()) << cut << " " << comm.LastFailure().text.str();
        EXPECT_TRUE(read.Whole(kRows)) << "the whole answer, none of the cut one: " << read.serials.size();
        EXPECT_EQ(read.restarts, 1);
    }
    EXPECT_TRUE(watched.failures.empty())
        << (watched.failures.empty() ? "" : watched.failures.front().text.str());
    ASSERT_EQ(whys.size(), 2u);
    EXPECT_NE(whys[0].find("cut after 500 rows is asked again from the start"), std::string::npos) << whys[0];

    // A request the caller did not declare a repeatable read fails as before.
    first->ScriptOnce(16477, Serials(kRows, FakeReply::Fault::Close, 10));
    EXPECT_LT(CountRows(comm, 16477), static_cast<long>(kRows));
    EXPECT_FALSE(comm.LastReplyOk());
    EXPECT_EQ(watched.failures.size(), 1u);

    // The repeat cut as well, with no server left to ask: one failure, and the rows are not the answer.
    second->ScriptOnce(16477, Serials(kRows, FakeReply::Fault::Close, 100));
    first->ScriptOnce(16477, Serials(kRows, FakeReply::Fault::Close, 100));
    KeptRead cutTwice;
    cutTwice.Run(comm, 16477);
    EXPECT_FALSE(comm.LastReplyOk());
    EXPECT_EQ(watched.failures.size(), 2u);
}
