// The heavy worker pool with one worker: heavy requests from more clients than workers wait their turn
// and are all answered, one after another, while light requests go past them.
#include "ServerFixture.h"

#include "server/demo/PrepareStore.h"
#include "server/functions/ConditionItems.h"
#include "server/functions/Functions.h"
#include "server/store/sqlite/SqliteOperators.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

#include <sys/socket.h>

namespace orvo::test {
namespace {

// The server's log lines of heavy rule queries, in the order the requests ended.
class HeavyLog {
public:
    void add(std::string_view line) {
        std::lock_guard lock(m_mutex);
        m_lines.emplace_back(line);
    }
    std::vector<std::string> lines(const std::string& containing) {
        std::lock_guard lock(m_mutex);
        std::vector<std::string> found;
        for (const std::string& line : m_lines)
            if (line.find(containing) != std::string::npos)
                found.push_back(line);
        return found;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

TEST(WorkerQueue, HeavyRequestsBeyondTheWorkersWaitTheirTurnWhileLightOnesAreAnswered) {
    TempDir dir;
    const std::string path = dir.path + "/heavy.db";
    std::string error;
    server::DemoOptions demo;
    demo.today = kToday;
    ASSERT_TRUE(server::prepareStore(path, &demo, error)) << error;
    std::string customer;
    {
        // Enough stop-loss rules that one reply overfills the socket buffers of a client that does not
        // read (some 15 MB against 4 MB of send buffer at most): its worker then waits on that client,
        // and every other heavy request waits behind it.
        server::Db db;
        ASSERT_TRUE(db.open(path, false, error)) << error;
        server::Statement first;
        ASSERT_TRUE(db.prepare("SELECT khh FROM rules WHERE kind = 3 ORDER BY lsh LIMIT 1", first, error));
        ASSERT_EQ(first.step(), SQLITE_ROW);
        customer = std::string(first.text(0));
        const std::string fill =
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 60000) "
            "INSERT INTO rules(lsh, kind, khh, jys, hydm, lots, price, set_date, valid_date) "
            "SELECT 5000000 + i, 3, (SELECT max(khh) FROM customers), 'SQ', 'rb2705', 3, '3609.00', "
            "'2026.12.01', '2026.12.31' FROM n";
        ASSERT_TRUE(db.exec(fill.c_str(), error)) << error;
        ASSERT_TRUE(server::storeOperator(db, "clerk", "clerk", "9999", "9999", true, error)) << error;
    }
    HeavyLog log;
    server::ServerOptions options;
    options.dbPath = path;
    options.today = kToday;
    options.workers = 1;
    options.log = [&log](std::string_view line) { log.add(line); };
    server::CounterServer server(options);
    const int port = server.start("127.0.0.1", 0, error);
    ASSERT_GT(port, 0) << error;

    const char* names[] = {"admin", "teller", "clerk"};
    RawClient heavy[3], light;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(heavy[i].connect(port));
        ASSERT_TRUE(heavy[i].login(names[i], names[i])) << names[i];
    }
    ASSERT_TRUE(light.connect(port));
    ASSERT_TRUE(light.login("admin", "admin"));
    // The first client stops reading: its reply stalls the only heavy worker.
    const int small = 256 * 1024; // still a multiple of the loopback segment size: no stalls reading it
    ASSERT_EQ(setsockopt(heavy[0].fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small), 0);
    ASSERT_TRUE(heavy[0].sendRequest(server::kFunctionStopProfit));
    // Each further heavy request is sent, and has reached the server, before the next: a light round
    // trip after it runs through the same event loop.
    for (int i = 1; i < 3; ++i) {
        ASSERT_TRUE(heavy[i].sendRequest(server::kFunctionStopProfit));
        EXPECT_EQ(light.call(proto::kFunctionHeartbeat).status, 0);
    }
    // A query of one customer is light: answered while three heavy requests are outstanding.
    const Reply own = light.call(server::kFunctionStopProfit, {{server::kTagCustomer, customer}});
    ASSERT_TRUE(own.complete);
    EXPECT_EQ(own.status, 0) << own.text;
    EXPECT_GT(own.rows.size(), 0u);
    std::vector<std::string> ended;
    auto waitForEnded = [&](size_t count) {
        for (int wait = 0; wait < 1000 && (ended = log.lines(" fn=16477 ")).size() < count; ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    };
    waitForEnded(1);
    EXPECT_EQ(ended.size(), 1u) << "only the light query has ended so far";

    // Read in turn, every heavy request is answered in full, none refused as busy.
    for (int i = 0; i < 3; ++i) {
        const Reply reply = heavy[i].readReply();
        ASSERT_TRUE(reply.complete) << names[i];
        EXPECT_EQ(reply.status, 0) << names[i] << ": " << reply.text;
    }
    // Served in the order they arrived, one after another, each after the light query.
    waitForEnded(4);
    ASSERT_EQ(ended.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ended[static_cast<size_t>(i) + 1].rfind(std::string("op=") + names[i] + " ", 0), 0u)
            << ended[static_cast<size_t>(i) + 1];
        EXPECT_NE(ended[static_cast<size_t>(i) + 1].find("status=0"), std::string::npos);
    }
    server.stop();
}

} // namespace
} // namespace orvo::test
