// Failures are visible: More() is false, the failure is recorded and reported, the next request works.
#include "tests/com/FixCommTestSupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

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
