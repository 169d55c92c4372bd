// Clients that do not read their replies: the only heavy worker serves them all one after another, in
// arrival order, while their replies wait aside in memory and a temporary file; read later, every reply
// is whole; one not taken within the reply time-out is cut.
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

// A demo database with enough stop-loss rules that one reply overfills the socket buffers of a client
// that does not read (some 15 MB against 4 MB of send buffer at most); customer: one with a few rules.
void prepareHeavyDemo(const std::string& path, std::string& customer) {
    std::string error;
    server::DemoOptions demo;
    demo.today = kToday;
    ASSERT_TRUE(server::prepareStore(path, &demo, error)) << error;
    server::Db db;
    ASSERT_TRUE(db.open(path, false, error)) << error;
    server::Statement first;
    ASSERT_TRUE(db.prepare("SELECT khh FROM rules WHERE kind = 3 ORDER BY lsh LIMIT 1", first, error));
    ASSERT_EQ(first.step(), SQLITE_ROW);
    customer = std::string(first.text(0));
    const std::string fill =
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 60000) "
        "INSERT INTO rules(lsh, kind, khh, jys, hydm, lots, price, set_date, valid_date) "
        "SELECT 5000000 + i, 3, (SELECT max(khh) FROM customers), 'SQ', 'rb2705', 3, "
        "'3609.00', '2026.12.01', '2026.12.31' FROM n";
    ASSERT_TRUE(db.exec(fill.c_str(), error)) << error;
    ASSERT_TRUE(server::storeOperator(db, "clerk", "clerk", "9999", "9999", true, error)) << error;
}

void stopReading(RawClient& client) {
    const int small = 256 * 1024; // still a multiple of the loopback segment size: no stalls reading it
    ASSERT_EQ(setsockopt(client.fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small), 0);
}

TEST(SlowReaders, HoldNoWorkerTheirRepliesArriveWholeWhenReadAndAReplyNotTakenInTimeIsCut) {
    TempDir dir;
    const std::string path = dir.path + "/heavy.db";
    std::string customer, error;
    prepareHeavyDemo(path, customer);
    ASSERT_FALSE(customer.empty());
    const long long expectedRows = [&] {
        server::Db db;
        server::Statement count;
        return db.open(path, true, error) &&
                       db.prepare("SELECT COUNT(*) FROM rules WHERE kind = 3", count, error) &&
                       count.step() == SQLITE_ROW
                   ? count.integer(0)
                   : -1;
    }();
    HeavyLog log;
    server::ServerOptions options;
    options.dbPath = path;
    options.today = kToday;
    options.workers = 1;
    options.replyBufferMb = 4; // the rest of the replies goes to temporary files
    options.log = [&log](std::string_view line) { log.add(line); };
    server::CounterServer server(options);
    const int port = server.start("127.0.0.1", 0, error);
    ASSERT_GT(port, 0) << error;

    // Three clients on the only heavy worker ask for whole tables and read nothing.
    const char* names[] = {"admin", "clerk", "admin"}; // both see every rule
    RawClient heavy[3], light;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(heavy[i].connect(port));
        ASSERT_TRUE(heavy[i].login(names[i], names[i])) << names[i];
        stopReading(heavy[i]);
        ASSERT_TRUE(heavy[i].sendRequest(server::kFunctionStopProfit));
    }
    // Their replies are kept aside: the worker finishes all three, one after another, in arrival order.
    std::vector<std::string> ended;
    for (int wait = 0; wait < 3000 && (ended = log.lines(" fn=16477 ")).size() < 3; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(ended.size(), 3u) << "a client that does not read holds the worker";
    bool inFile = false;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ended[static_cast<size_t>(i)].rfind(std::string("op=") + names[i] + " ", 0), 0u)
            << ended[static_cast<size_t>(i)];
        EXPECT_NE(ended[static_cast<size_t>(i)].find(" aside="), std::string::npos)
            << ended[static_cast<size_t>(i)];
        inFile = inFile || ended[static_cast<size_t>(i)].find("(in a file)") != std::string::npos;
    }
    EXPECT_TRUE(inFile) << "beyond the memory budget replies go to a temporary file";
    ASSERT_TRUE(light.connect(port));
    ASSERT_TRUE(light.login("admin", "admin"));
    const Reply own = light.call(server::kFunctionStopProfit, {{server::kTagCustomer, customer}});
    EXPECT_EQ(own.status, 0) << own.text;

    // Read later, every reply arrives whole and in order, from memory and file alike.
    for (int i = 0; i < 3; ++i) {
        const Reply reply = heavy[i].readReply();
        ASSERT_TRUE(reply.complete) << names[i];
        EXPECT_EQ(reply.status, 0) << names[i] << ": " << reply.text;
        EXPECT_EQ(static_cast<long long>(reply.rows.size()), expectedRows) << names[i];
        EXPECT_EQ(static_cast<long long>(reply.rowCount), expectedRows) << names[i];
        EXPECT_EQ(reply.rows.back().get(797), "5060000") << names[i] << ": the last rule, in serial order";
    }
    server.stop();

    // A reply its client does not take within the reply time-out is cut, with a line saying so.
    options.replyTimeoutMs = 1500;
    server::CounterServer strict(options);
    const int strictPort = strict.start("127.0.0.1", 0, error);
    ASSERT_GT(strictPort, 0) << error;
    RawClient stalled;
    ASSERT_TRUE(stalled.connect(strictPort));
    ASSERT_TRUE(stalled.login("admin", "admin"));
    stopReading(stalled);
    ASSERT_TRUE(stalled.sendRequest(server::kFunctionStopProfit));
    std::vector<std::string> cut;
    for (int wait = 0; wait < 1000 && (cut = log.lines("reply time-out")).empty(); ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(cut.size(), 1u);
    EXPECT_FALSE(stalled.readReply().complete) << "the cut reply never ends as if whole";
    strict.stop();
}

} // namespace
} // namespace orvo::test
