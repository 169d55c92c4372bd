// Failures are visible: More() is false, the failure is recorded and reported, the next request works.
#include "tests/com/FixCommTestSupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "protocol/Protocol.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <thread>
#include <vector>

using orvo::test::FakeReply;

namespace {

FakeReply Faulty(FakeReply::Fault fault, std::size_t afterRows) {
    FakeReply reply;
    reply.rows = {RuleRow(1, "a"), RuleRow(2, "b"), RuleRow(3, "c")};
    reply.fault = fault;
    reply.faultAfterRows = afterRows;
    return reply;
}

// A listening socket that accepts nothing, with its queue already full: connects to it hang.
class FullListener {
public:
    FullListener() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        m_listen = socket(AF_INET, SOCK_STREAM, 0);
        bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(m_listen, 0);
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_filler = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        connect(m_filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
        pollfd p{m_filler, POLLOUT, 0};
        poll(&p, 1, 1000);
    }
    ~FullListener() {
        close(m_filler);
        close(m_listen);
    }
    int port() const { return m_port; }

private:
    int m_listen = -1;
    int m_filler = -1;
    int m_port = 0;
};

// A server, or a proxy in front of one, that loses rows but passes the end frame's count on: it answers
// one connection, every login with success, and request i (logins aside) with `sent` rows of which
// dropped[i] never leave, then an end of reply counting all `sent`.
class RowDroppingServer {
public:
    RowDroppingServer(std::size_t sent, std::vector<std::size_t> dropped)
        : m_sent(sent), m_dropped(std::move(dropped)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        m_listen = socket(AF_INET, SOCK_STREAM, 0);
        bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(m_listen, 1);
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~RowDroppingServer() {
        m_stop = true;
        m_thread.join();
        close(m_listen);
    }
    int port() const { return m_port; }

private:
    // Waits at most 100 ms for `events` on `fd`, so that the destructor is noticed.
    bool Ready(int fd, short events) const {
        pollfd p{fd, events, 0};
        return poll(&p, 1, 100) > 0;
    }

    void Serve() {
        int connection = -1;
        while (!m_stop && connection < 0)
            if (Ready(m_listen, POLLIN))
                connection = accept(m_listen, nullptr, nullptr);
        orvo::proto::FrameReader reader;
        orvo::proto::Frame frame;
        std::size_t request = 0;
        while (!m_stop && connection >= 0) {
            const orvo::proto::ReadResult result = reader.Next(frame);
            if (result == orvo::proto::ReadResult::Error)
                break;
            if (result == orvo::proto::ReadResult::Frame) {
                Answer(connection, frame, request);
                continue;
            }
            if (!Ready(connection, POLLIN))
                continue;
            const std::span<char> space = reader.PrepareWrite();
            const ssize_t got = recv(connection, space.data(), space.size(), 0);
            if (got <= 0)
                break;
            reader.Commit(static_cast<std::size_t>(got));
        }
        if (connection >= 0)
            close(connection);
    }

    void Answer(int connection, const orvo::proto::Frame& frame, std::size_t& request) {
        orvo::proto::Header header;
        orvo::proto::ReadHeader(frame.items, header);
        std::string out;
        std::size_t rows = 0;
        if (header.function != orvo::proto::kFunctionLogin) {
            const std::size_t dropped = request < m_dropped.size() ? m_dropped[request] : 0;
            ++request;
            for (std::size_t i = dropped; i < m_sent; ++i) { // the first `dropped` rows are lost
                orvo::proto::FrameBuilder builder(out);
                orvo::proto::AddRowHead(builder, header.seq);
                builder.Add(797, std::to_string(i)).Finish();
            }
            rows = m_sent;
        }
        orvo::proto::AppendEnd(out, header.seq, orvo::proto::kStatusOk, "", rows);
        for (std::size_t done = 0; done < out.size() && !m_stop;) {
            if (!Ready(connection, POLLOUT))
                continue;
            const ssize_t put = send(connection, out.data() + done, out.size() - done, MSG_NOSIGNAL);
            if (put <= 0)
                return;
            done += static_cast<std::size_t>(put);
        }
    }

    const std::size_t m_sent;
    const std::vector<std::size_t> m_dropped;
    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop = false;
    std::thread m_thread;
};

} // namespace

TEST(FixCommFailure, AConnectThatHangsTimesOut) {
    FullListener listener;
    CFixComm comm(FixCommSettings{"127.0.0.1", listener.port(), "teller", "x", 300, 1000});
    comm.CreateHead(16476, -1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(comm.More(nullptr));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(280));
    EXPECT_LT(waited, std::chrono::milliseconds(2000));
    EXPECT_EQ(comm.LastFailure().status, -1);
    EXPECT_NE(comm.LastFailure().text.Find("timed out"), -1);
}

TEST(FixCommFailure, ServerClosingOrBreakingMidReplyFailsThenTheNextRequestWorks) {
    for (const auto fault : {FakeReply::Fault::Close, FakeReply::Fault::BrokenFrame}) {
        FixCommFixture f;
        f.server.ScriptOnce(16476, Faulty(fault, 2));
        f.server.Script(16476, Faulty(FakeReply::Fault::None, 0));
        f.comm.CreateHead(16476, -1);
        EXPECT_TRUE(f.comm.More(nullptr));
        EXPECT_TRUE(f.comm.More(nullptr));
        EXPECT_FALSE(f.comm.More(nullptr));
        ASSERT_EQ(f.failures.size(), 1u);
        EXPECT_EQ(f.failures[0].function, 16476);
        EXPECT_EQ(f.failures[0].status, -1);
        EXPECT_FALSE(f.comm.LastFailure().text.IsEmpty());
        EXPECT_EQ(f.trace.back().status, -1);
        EXPECT_EQ(f.trace.back().rows, 2);

        EXPECT_EQ(f.Count(16476), 3); // reconnects and logs in again
        EXPECT_EQ(f.server.ConnectionsAccepted(), 2);
        EXPECT_EQ(f.server.Requests(1).size(), 2u);
        EXPECT_EQ(f.failures.size(), 1u);
    }
}

TEST(FixCommFailure, AServerThatNeverAnswersTimesOut) {
    FixCommFixture f(300);
    f.server.ScriptOnce(16477, Faulty(FakeReply::Fault::Stall, 1));
    f.server.Script(16477, Faulty(FakeReply::Fault::None, 0));
    f.comm.CreateHead(16477, -1);
    EXPECT_TRUE(f.comm.More(nullptr));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(f.comm.More(nullptr));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(280));
    EXPECT_LT(waited, std::chrono::milliseconds(2000));
    ASSERT_EQ(f.failures.size(), 1u);
    EXPECT_EQ(f.failures[0].status, -1);
    EXPECT_NE(f.failures[0].text.Find("300 ms"), -1);
    EXPECT_EQ(f.Count(16477), 3);
}

TEST(FixCommFailure, ARefusedRequestReportsTheServersStatusAndText) {
    FixCommFixture f;
    FakeReply refused;
    refused.status = 3;
    refused.text = "\xCE\xDE\xC8\xA8\xCF\xDE"; // GBK text from the server
    f.server.Script(16485, refused);
    EXPECT_EQ(f.Count(16485), 0);
    ASSERT_EQ(f.failures.size(), 1u);
    EXPECT_EQ(f.failures[0].function, 16485);
    EXPECT_EQ(f.failures[0].status, 3);
    EXPECT_EQ(f.failures[0].text, CString("\xCE\xDE\xC8\xA8\xCF\xDE"));
    // An unscripted function: the fake answers "unknown function"; that is a failure too, not "no rows".
    EXPECT_EQ(f.Count(16999), 0);
    ASSERT_EQ(f.failures.size(), 2u);
    EXPECT_EQ(f.failures[1].status, 4);
}

TEST(FixCommFailure, ARefusedLoginFailsEveryRequestUntilItSucceeds) {
    FixCommFixture f;
    f.server.AddAccount("teller", "right");
    f.server.Script(16476, Faulty(FakeReply::Fault::None, 0));
    EXPECT_EQ(f.Count(16476), 0);
    ASSERT_EQ(f.failures.size(), 1u);
    EXPECT_EQ(f.failures[0].function, 1);
    EXPECT_EQ(f.failures[0].status, 3);
    EXPECT_TRUE(f.server.Requests(16476).empty()); // never sent without a login
    EXPECT_FALSE(f.comm.Login());

    FixCommSettings settings;
    settings.port = f.server.port();
    settings.operatorName = "teller";
    settings.password = "right";
    f.comm.Configure(settings);
    EXPECT_EQ(f.Count(16476), 3);
}

TEST(FixCommFailure, NoServerIsAFailureNotAnEmptyReply) {
    int port = 0;
    {
        orvo::test::FakeCounterServer gone;
        port = gone.port();
    }
    CFixComm comm(FixCommSettings{"127.0.0.1", port, "teller", "x", 1000, 1000});
    std::vector<FixCommFailure> failures;
    comm.SetFailureCallback([&](const FixCommFailure& failure) { failures.push_back(failure); });
    comm.CreateHead(16476, -1);
    EXPECT_FALSE(comm.More(nullptr));
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].function, 16476);
    EXPECT_EQ(failures[0].status, -1);
    EXPECT_NE(failures[0].text.Find("cannot connect"), -1);
    EXPECT_FALSE(comm.IsConnected());

    CFixComm unconfigured;
    unconfigured.CreateHead(16476, -1);
    EXPECT_FALSE(unconfigured.More(nullptr));
    EXPECT_EQ(unconfigured.LastFailure().status, -1);
}

TEST(FixCommFailure, ABadItemStopsTheRequestBeforeItIsSent) {
    FixCommFixture f;
    f.server.Script(16476, {});
    f.comm.CreateHead(16476, -1);
    EXPECT_TRUE(f.comm.SetItem(697, ""));
    EXPECT_FALSE(f.comm.SetItem(605, "12\x01"
                                     "34"));
    EXPECT_FALSE(f.comm.More(nullptr));
    ASSERT_EQ(f.failures.size(), 1u);
    EXPECT_EQ(f.failures[0].status, 1);
    EXPECT_TRUE(f.server.Requests(16476).empty());

    f.comm.CreateHead(16476, -1);
    EXPECT_FALSE(f.comm.SetItem(35, "Q")); // the protocol's own tags are not items
    EXPECT_FALSE(f.comm.More(nullptr));
    f.comm.CreateHead(16476, -1);
    bool refused = false;
    for (int i = 0; i < 300 && !refused; ++i)
        refused = !f.comm.SetItem(1000 + i, "x");
    EXPECT_TRUE(refused);
    EXPECT_FALSE(f.comm.More(nullptr));
    EXPECT_TRUE(f.server.Requests(16476).empty());
    EXPECT_EQ(f.Count(16476), 0); // and a good request after them goes out
    EXPECT_EQ(f.server.Requests(16476).size(), 1u);
}

TEST(FixCommFailure, AnIdleConnectionClosedByTheServerIsReopenedQuietly) {
    FixCommFixture f;
    f.server.Script(16476, Faulty(FakeReply::Fault::None, 0));
    EXPECT_EQ(f.Count(16476), 3);
    f.server.DropConnections();
    EXPECT_EQ(f.Count(16476), 3);
    EXPECT_TRUE(f.failures.empty());
    EXPECT_EQ(f.server.ConnectionsAccepted(), 2);
}

// The server turns a connection away with a reply of sequence 0 (busy, database unavailable) and closes:
// the request fails with the server's own status and text, escaped, not as a closed connection.
TEST(FixCommFailure, AReplyOfNoRequestReachesTheUserAsTheServerSaidIt) {
    FixCommFixture f;
    FakeReply busy;
    busy.fault = FakeReply::Fault::Refuse;
    busy.status = 5;
    busy.text = "server busy:\ntoo many\x1b[2J connections";
    f.server.ScriptOnce(16476, busy);
    f.server.Script(16476, Faulty(FakeReply::Fault::None, 0));
    EXPECT_EQ(f.Count(16476), 0);
    ASSERT_EQ(f.failures.size(), 1u);
    EXPECT_EQ(f.failures[0].function, 16476);
    EXPECT_EQ(f.failures[0].status, 5);
    const std::string text = f.failures[0].text.str();
    EXPECT_NE(text.find("server busy:\\ntoo many\\x1B[2J connections"), std::string::npos) << text;
    EXPECT_EQ(text.find_first_of("\n\x1b"), std::string::npos);
    EXPECT_EQ(f.trace.back().status, 5);
    EXPECT_FALSE(f.comm.LastReplyOk());

    EXPECT_EQ(f.Count(16476), 3); // the next request reconnects
    EXPECT_EQ(f.server.ConnectionsAccepted(), 2);
}

// Frames of a sequence the channel did not ask for are skipped, but they do not hold the wait open.
TEST(FixCommFailure, StrayFramesDoNotExtendTheReplyTimeOut) {
    FixCommFixture f(300);
    f.server.ScriptOnce(16477, Faulty(FakeReply::Fault::StrayFrames, 1));
    f.server.Script(16477, Faulty(FakeReply::Fault::None, 0));
    f.comm.CreateHead(16477, -1);
    EXPECT_TRUE(f.comm.More(nullptr));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(f.comm.More(nullptr));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(280));
    EXPECT_LT(waited, std::chrono::milliseconds(1500)); // the peer strays for 3 s
    ASSERT_EQ(f.failures.size(), 1u);
    EXPECT_NE(f.failures[0].text.Find("300 ms"), -1);
    EXPECT_EQ(f.Count(16477), 3);
}

// Rows lost on the way leave a list that looks whole: the end frame's count makes the reply a failure,
// whether the rows were read on the caller's thread or ahead of it. The connection stays in step.
TEST(FixCommFailure, AReplyMissingRowsTheEndFrameCountsFails) {
    const struct {
        std::size_t sent, dropped;
        const char* says;
    } cases[] = {{5, 1, "reply incomplete: 4 rows received, the server sent 5"},
                 {3000, 1000, "reply incomplete: 2000 rows received, the server sent 3000"}};
    for (const auto& c : cases) {
        RowDroppingServer server(c.sent, {c.dropped, 0});
        CFixComm comm(FixCommSettings{"127.0.0.1", server.port(), "teller", "x", 2000, 3000});
        std::vector<FixCommFailure> failures;
        std::vector<FixCommTraceEvent> trace;
        comm.SetFailureCallback([&](const FixCommFailure& failure) { failures.push_back(failure); });
        comm.SetTraceCallback([&](const FixCommTraceEvent& event) { trace.push_back(event); });
        const auto count = [&comm] {
            comm.CreateHead(16477, -1);
            std::size_t rows = 0;
            while (comm.More(nullptr))
                ++rows;
            return rows;
        };
        EXPECT_EQ(count(), c.sent - c.dropped);
        EXPECT_FALSE(comm.LastReplyOk());
        ASSERT_EQ(failures.size(), 1u) << c.says;
        EXPECT_EQ(failures[0].function, 16477);
        EXPECT_EQ(failures[0].status, -1);
        EXPECT_EQ(failures[0].text.str(), c.says);
        EXPECT_EQ(trace.back().status, -1);
        EXPECT_EQ(trace.back().rows, static_cast<long>(c.sent - c.dropped));

        EXPECT_EQ(count(), c.sent); // the same connection, the whole reply
        EXPECT_TRUE(comm.LastReplyOk());
        EXPECT_EQ(failures.size(), 1u);
    }
}
