// Broken input, limits, time-outs, several clients at once and stopping: the server answers or
// closes the one connection, and keeps serving everyone else.
#include "ServerFixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace orvo::test {
namespace {

std::string lengthPrefix(std::uint32_t n) {
    return {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
            static_cast<char>(n)};
}

std::string frame(const std::string& body) {
    return lengthPrefix(static_cast<std::uint32_t>(body.size())) + body;
}

void expectServerStillServes() {
    RawClient other;
    connectAs(other, "admin");
    EXPECT_EQ(other.call(3).status, 0);
}

TEST(BadInput, BrokenFramesCloseOnlyThatConnection) {
    const std::vector<std::string> broken = {
        lengthPrefix(0),          // zero length
        lengthPrefix(0x7FFFFFFF), // far over the limit: nothing is allocated for it
        frame("35=Q\x01"
              "34=1\x01"
              "20=3"), // the last item lacks its 0x01
        frame("35=Q\x01"
              "34=1\x01"
              "20=3\x01"
              "abc=1\x01"), // a key that is neither tag nor column
        frame("35=Q\x01"
              "34=1\x01"
              "20=3\x01"
              "007=1\x01"), // a tag with leading zeros
        frame("35=Q\x01"
              "34=1\x01"
              "20=3\x01"
              "JYS=1\x01"), // a column name in a request
        frame("noequals\x01"),
    };
    RawClient watcher;
    connectAs(watcher, "admin");
    for (const std::string& bytes : broken) {
        RawClient c;
        connectAs(c, "admin");
        ASSERT_TRUE(c.sendRaw(bytes));
        EXPECT_TRUE(c.closedByPeer()) << "frame of " << bytes.size() << " bytes";
    }
    EXPECT_EQ(watcher.call(3).status, 0); // a connection that was open all along still works
    expectServerStillServes();
}

TEST(BadInput, WellFormedButWrongFramesGetAnEndFrameAndTheConnectionGoesOn) {
    RawClient c;
    connectAs(c, "admin");
    // No message type first.
    ASSERT_TRUE(c.sendRaw(frame("34=5\x01"
                                "20=3\x01")));
    Reply r = c.readReply();
    EXPECT_TRUE(r.complete);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.seq, 5u);
    // A reply sent to the server.
    ASSERT_TRUE(c.sendRaw(frame("35=R\x01"
                                "34=6\x01")));
    EXPECT_EQ(c.readReply().status, 1);
    // A request without a function.
    ASSERT_TRUE(c.sendRaw(frame("35=Q\x01"
                                "34=7\x01"
                                "605=1\x01")));
    EXPECT_EQ(c.readReply().status, 1);
    // Too many items.
    Items many;
    for (int i = 0; i < 300; ++i)
        many.emplace_back(1000 + i, "x");
    Reply tooMany = c.call(16477, many);
    EXPECT_EQ(tooMany.status, 5);
    EXPECT_TRUE(tooMany.rows.empty());
    EXPECT_EQ(c.call(3).status, 0);
}

TEST(BadInput, ByteByByteRequestsAreServed) {
    RawClient c;
    connectAs(c, "admin");
    std::string out;
    proto::FrameBuilder b(out);
    proto::AddRequestHead(b, 9, 16477);
    b.Add(697, "").Add(605, "010100000001").Add(9020, "");
    ASSERT_EQ(b.Finish(), proto::Error::None);
    for (char ch : out)
        ASSERT_TRUE(c.sendRaw(std::string(1, ch)));
    Reply r = c.readReply();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.seq, 9u);
    EXPECT_EQ(static_cast<long long>(r.rows.size()),
              scalar("SELECT COUNT(*) FROM rules WHERE kind = 3 AND khh = '010100000001'"));
}

TEST(BadInput, TwoRequestsInOneWriteGetTwoReplies) {
    RawClient c;
    connectAs(c, "admin");
    std::string out;
    for (std::uint32_t seq : {21u, 22u}) {
        proto::FrameBuilder b(out);
        proto::AddRequestHead(b, seq, 3);
        ASSERT_EQ(b.Finish(), proto::Error::None);
    }
    ASSERT_TRUE(c.sendRaw(out));
    EXPECT_EQ(c.readReply().seq, 21u);
    EXPECT_EQ(c.readReply().seq, 22u);
}

server::ServerOptions optionsFor(const std::string& dbPath) {
    server::ServerOptions o;
    o.dbPath = dbPath;
    o.today = kToday;
    o.log = [](std::string_view) {};
    return o;
}

TEST(Limits, ConnectionsOverTheCapAreToldBusy) {
    server::ServerOptions o = optionsFor(demo().dbPath);
    o.maxConnections = 2;
    server::CounterServer s(o);
    std::string error;
    int port = s.start("127.0.0.1", 0, error);
    ASSERT_GT(port, 0) << error;
    RawClient a, b, c;
    ASSERT_TRUE(a.connect(port));
    ASSERT_TRUE(b.connect(port));
    EXPECT_EQ(a.call(3).status, 0); // both are being served before the third comes
    EXPECT_EQ(b.call(3).status, 0);
    ASSERT_TRUE(c.connect(port));
    Reply busy = c.readReply();
    EXPECT_EQ(busy.status, 5);
    a.close();
    // Once a slot is free, a new client is served.
    for (int i = 0; i < 50 && s.activeConnections() > 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    RawClient d;
    ASSERT_TRUE(d.connect(port));
    EXPECT_EQ(d.call(3).status, 0);
}

TEST(Limits, IdleAndHalfSentConnectionsAreClosed) {
    server::ServerOptions o = optionsFor(demo().dbPath);
    o.idleTimeoutMs = 200;
    o.readTimeoutMs = 200;
    server::CounterServer s(o);
    std::string error;
    int port = s.start("127.0.0.1", 0, error);
    ASSERT_GT(port, 0) << error;
    RawClient idle, half, busy;
    ASSERT_TRUE(idle.connect(port));
    ASSERT_TRUE(half.connect(port));
    ASSERT_TRUE(half.sendRaw(lengthPrefix(100) + "35=Q\x01")); // and never the rest
    EXPECT_TRUE(idle.closedByPeer(3000));
    EXPECT_TRUE(half.closedByPeer(3000));
    // A logged-in client that keeps talking stays (requests before the login extend nothing).
    ASSERT_TRUE(busy.connect(port));
    ASSERT_TRUE(busy.login("admin", "admin"));
    for (int i = 0; i < 4; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(busy.call(3).status, 0);
    }
}

TEST(Limits, StopEndsIdleConnectionsPromptly) {
    server::CounterServer s(optionsFor(demo().dbPath));
    std::string error;
    int port = s.start("127.0.0.1", 0, error);
    ASSERT_GT(port, 0) << error;
    RawClient c;
    ASSERT_TRUE(c.connect(port));
    EXPECT_EQ(c.call(3).status, 0);
    const auto started = std::chrono::steady_clock::now();
    s.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    EXPECT_TRUE(c.closedByPeer(1000));
    RawClient late;
    EXPECT_FALSE(late.connect(port) && late.call(3).complete);
}

TEST(Limits, NonNumericListenAddressIsRefused) {
    server::CounterServer s(optionsFor(demo().dbPath));
    std::string error;
    EXPECT_LT(s.start("localhost", 0, error), 0);
    EXPECT_FALSE(error.empty());
    EXPECT_LT(s.start("127.0.0.1", 70000, error), 0);
}

TEST(Concurrency, SeveralClientsAtOnceGetCompleteReplies) {
    const long long expected = scalar("SELECT COUNT(*) FROM rules WHERE kind = 3");
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([&, t] {
            RawClient c;
            if (!c.connect(demo().port) || !c.login("admin", "admin"))
                return;
            for (int i = 0; i < 5; ++i) {
                Reply r = c.call(16477, {{697, ""}, {9020, ""}});
                if (r.status == 0 && static_cast<long long>(r.rows.size()) == expected &&
                    r.rowCount == r.rows.size())
                    ++good;
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(good.load(), 30);
}

} // namespace
} // namespace orvo::test
