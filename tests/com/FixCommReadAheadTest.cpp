// A long reply is read on by a thread of its own past its first thousand rows: the rows, the failures,
// a cancel and an abandoned reply must look exactly as they do for a reply read row by row.
#include "tests/com/FixCommTestSupport.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <cstddef>
#include <string>
#include <system_error>
#include <thread>

using orvo::test::FakeItems;
using orvo::test::FakeReply;

namespace {

constexpr std::size_t kLongReply = 5000;

FakeReply LongReply(FakeReply::Fault fault = FakeReply::Fault::None, std::size_t faultAfterRows = 0) {
    FakeReply reply;
    reply.generatedRows = kLongReply;
    reply.generate = [](std::size_t i) {
        return FakeItems{{"797", std::to_string(i)}, {"613", std::string(i % 7, 'n')}, {"719", "cu2501"}};
    };
    reply.fault = fault;
    reply.faultAfterRows = faultAfterRows;
    return reply;
}

// Reads the reply to `function`, checking every row's items; the rows read.
long ReadChecked(CFixComm& comm, long function) {
    comm.CreateHead(function, -1);
    long rows = 0;
    while (comm.More(nullptr)) {
        EXPECT_EQ(comm.GetLong(797, -1), rows);
        EXPECT_EQ(std::string(comm.GetItemView(613, -1)),
                  std::string(static_cast<std::size_t>(rows % 7), 'n'));
        EXPECT_EQ(std::string(comm.GetItemView(719, -1)), "cu2501");
        ++rows;
    }
    return rows;
}

// While it lives, no new thread can start in this process: every new thread asks for a stack larger than
// the address space.
class NoNewThreads {
public:
    NoNewThreads() {
        pthread_getattr_default_np(&m_saved);
        pthread_attr_t huge;
        pthread_attr_init(&huge);
        pthread_attr_setstacksize(&huge, std::size_t{1} << 50);
        pthread_setattr_default_np(&huge);
        pthread_attr_destroy(&huge);
    }
    ~NoNewThreads() {
        pthread_setattr_default_np(&m_saved);
        pthread_attr_destroy(&m_saved);
    }
    NoNewThreads(const NoNewThreads&) = delete;
    NoNewThreads& operator=(const NoNewThreads&) = delete;

    static bool Denied() {
        try {
            std::thread([] {}).join();
            return false;
        } catch (const std::system_error&) {
            return true;
        }
    }

private:
    pthread_attr_t m_saved;
};

TEST(FixCommReadAhead, ALongReplyIsReadOnTheCallersThreadWhenNoThreadCanStart) {
    FixCommFixture f; // the server's thread first
    f.server.Script(16477, LongReply());
    const NoNewThreads noThreads;
    if (!NoNewThreads::Denied())
        GTEST_SKIP() << "this build starts threads whatever their stack size";
    EXPECT_EQ(ReadChecked(f.comm, 16477), static_cast<long>(kLongReply));
    EXPECT_TRUE(f.comm.LastReplyOk());
    EXPECT_TRUE(f.failures.empty());
}

TEST(FixCommReadAhead, ALongReplyBrokenPartWayFailsAfterItsLastWholeRowAndTheNextRequestReconnects) {
    const struct {
        FakeReply::Fault fault;
        const char* says;
    } cases[] = {{FakeReply::Fault::Close, "closed the connection"},
                 {FakeReply::Fault::BrokenFrame, "broken reply"},
                 {FakeReply::Fault::Stall, "within 300 ms"},
                 {FakeReply::Fault::StrayFrames, "within 300 ms"}};
    for (const auto& c : cases) {
        FixCommFixture f(300);
        f.server.ScriptOnce(16477, LongReply(c.fault, 3000));
        f.server.Script(16477, LongReply());
        EXPECT_EQ(ReadChecked(f.comm, 16477), 3000) << c.says;
        ASSERT_EQ(f.failures.size(), 1u) << c.says;
        EXPECT_EQ(f.failures[0].function, 16477);
        EXPECT_EQ(f.failures[0].status, -1);
        EXPECT_NE(f.failures[0].text.Find(c.says), -1) << f.failures[0].text.str();
        EXPECT_EQ(f.trace.back().rows, 3000);
        EXPECT_FALSE(f.comm.IsConnected());

        EXPECT_EQ(ReadChecked(f.comm, 16477), static_cast<long>(kLongReply)) << c.says;
        EXPECT_TRUE(f.comm.LastReplyOk());
        EXPECT_EQ(f.server.ConnectionsAccepted(), 2);
    }
}

TEST(FixCommReadAhead, ALongReplyCancelledFreesTheLineAndOneAbandonedKeepsTheConnection) {
    FixCommFixture f;
    f.server.Script(16477, LongReply());
    FakeReply small;
    small.rows = {RuleRow(7, "x")};
    f.server.Script(16476, small);

    // Cancelled from the wait callback, well past the rows read in the caller's thread: the connection
    // goes with the reply, and the next request is answered on a new one at once, not after the rest.
    long askedAt = -1;
    f.comm.SetWaitCallback([&](long rows) {
        askedAt = rows;
        return rows < 2000;
    });
    EXPECT_LT(ReadChecked(f.comm, 16477), static_cast<long>(kLongReply));
    EXPECT_GE(askedAt, 2000);
    ASSERT_EQ(f.failures.size(), 1u);
    EXPECT_NE(f.failures[0].text.Find("cancelled"), -1);
    EXPECT_FALSE(f.comm.IsConnected());
    f.comm.SetWaitCallback(nullptr);
    EXPECT_EQ(f.Count(16476), 1);
    EXPECT_EQ(f.comm.GetLong(797, -1), 0);
    EXPECT_EQ(f.server.ConnectionsAccepted(), 2);
    EXPECT_EQ(f.server.Requests(1).size(), 2u) << "logged in again on its own";

    // Abandoned by the next request after 1500 rows.
    f.comm.CreateHead(16477, -1);
    for (int i = 0; i < 1500; ++i)
        ASSERT_TRUE(f.comm.More(nullptr));
    EXPECT_EQ(f.comm.GetLong(797, -1), 1499);
    f.comm.CreateHead(16476, -1);
    ASSERT_TRUE(f.comm.More(nullptr));
    EXPECT_EQ(f.comm.GetLong(797, -1), 7);
    EXPECT_FALSE(f.comm.More(nullptr));

    EXPECT_EQ(ReadChecked(f.comm, 16477), static_cast<long>(kLongReply));
    EXPECT_EQ(f.failures.size(), 1u);
    EXPECT_EQ(f.server.ConnectionsAccepted(), 2) << "an abandoned reply is skipped on its connection";
}

} // namespace
