// The orvo-counterd program itself: its command line, start-up on a demo database, SIGTERM.
#include "CounterdProcess.h"
#include "ServerFixture.h"

#include "server/demo/PrepareStore.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace orvo::test {
namespace {

TEST(Counterd, RefusesToStartWithoutAListenAddressOrWithBadArguments) {
    TempDir dir;
    CounterdChild noListen({"--db", dir.path + "/a.db", "--demo"});
    EXPECT_EQ(noListen.exitCode(5000), 2);
    noListen.waitFor("--listen", 1000);
    EXPECT_NE(noListen.output.find("--listen is required"), std::string::npos);

    CounterdChild badSize({"--listen", "127.0.0.1:0", "--db", dir.path + "/a.db", "--size", "huge"});
    EXPECT_EQ(badSize.exitCode(5000), 2);
    CounterdChild badListen({"--listen", "127.0.0.1", "--db", dir.path + "/a.db"});
    EXPECT_EQ(badListen.exitCode(5000), 2);
    CounterdChild badDate({"--listen", "127.0.0.1:0", "--db", dir.path + "/a.db", "--date", "07.12.2026"});
    EXPECT_EQ(badDate.exitCode(5000), 2);
}

TEST(Counterd, ServesTheDemoAndStopsOnSigterm) {
    TempDir dir;
    CounterdChild server(
        {"--listen", "127.0.0.1:0", "--db", dir.path + "/demo.db", "--demo", "--date", kToday});
    ASSERT_TRUE(server.waitFor("listening on 127.0.0.1:", 60000)) << server.output;
    ASSERT_TRUE(server.waitFor("\n", 1000));
    const size_t at = server.output.find("127.0.0.1:") + 10;
    const int port = std::stoi(server.output.substr(at));
    RawClient c;
    ASSERT_TRUE(c.connect(port));
    ASSERT_TRUE(c.login("teller", "teller"));
    Reply r = c.call(16477, {{697, ""}, {9020, "0"}});
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(r.rows.empty());
    // One log line per request with operator, function, rows and time.
    EXPECT_TRUE(server.waitFor("op=teller fn=16477 rows=" + std::to_string(r.rows.size()) + " ms=", 2000))
        << server.output;
    // Migrating under a running server would change the schema beneath it: refused, nothing changed.
    const ProgramRun migrate = counterd({"migrate", "--if-needed", "--db", dir.path + "/demo.db"});
    EXPECT_EQ(migrate.code, 1);
    EXPECT_NE(migrate.err.find("another process has the database open"), std::string::npos) << migrate.err;

    kill(server.pid, SIGTERM);
    EXPECT_EQ(server.exitCode(10000), 0);
    EXPECT_TRUE(c.closedByPeer(1000));
    // The login's session record is in the database file itself: a copy of the file alone is complete.
    const std::string wal = dir.path + "/demo.db-wal";
    EXPECT_TRUE(!std::filesystem::exists(wal) || std::filesystem::file_size(wal) == 0)
        << "a clean stop leaves the write-ahead log empty or gone";
}

TEST(Counterd, AnExistingDatabaseIsKeptAsItIs) {
    TempDir dir;
    const std::string db = dir.path + "/kept.db";
    {
        CounterdChild first({"--listen", "127.0.0.1:0", "--db", db, "--demo", "--date", kToday});
        ASSERT_TRUE(first.waitFor("listening on", 60000)) << first.output;
        kill(first.pid, SIGTERM);
        ASSERT_EQ(first.exitCode(10000), 0);
    }
    server::Db check;
    std::string error;
    ASSERT_TRUE(check.open(db, false, error)) << error;
    ASSERT_TRUE(check.exec("DELETE FROM orders WHERE kind = 7; DELETE FROM rules WHERE kind = 7", error))
        << error;
    check.close();
    // --demo again does not reseed a database that holds data.
    CounterdChild second({"--listen", "127.0.0.1:0", "--db", db, "--demo", "--date", kToday});
    ASSERT_TRUE(second.waitFor("listening on", 60000)) << second.output;
    kill(second.pid, SIGTERM);
    ASSERT_EQ(second.exitCode(10000), 0);
    ASSERT_TRUE(check.open(db, true, error));
    server::Statement count;
    ASSERT_TRUE(check.prepare("SELECT COUNT(*) FROM rules WHERE kind = 7", count, error));
    ASSERT_EQ(count.step(), SQLITE_ROW);
    EXPECT_EQ(count.integer(0), 0);
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

TEST(Counterd, ReadOnlyServesWithoutChangingTheDatabase) {
    TempDir dir;
    const std::string db = dir.path + "/ro.db";
    std::string error;
    server::DemoOptions demoOptions;
    demoOptions.today = kToday;
    ASSERT_TRUE(server::prepareStore(db, &demoOptions, error)) << error;
    {
        // An older file: it lacks an index that the schema step would add.
        server::Db old;
        ASSERT_TRUE(old.open(db, false, error)) << error;
        ASSERT_TRUE(old.exec("DROP INDEX rules_kind_jys", error)) << error;
    }
    const std::string before = fileBytes(db);
    ASSERT_FALSE(before.empty());

    CounterdChild server({"--listen", "127.0.0.1:0", "--db", db, "--read-only", "--date", kToday});
    ASSERT_TRUE(server.waitFor("listening on 127.0.0.1:", 10000)) << server.output;
    ASSERT_TRUE(server.waitFor("\n", 1000));
    const int port = std::stoi(server.output.substr(server.output.find("127.0.0.1:") + 10));
    RawClient c;
    ASSERT_TRUE(c.connect(port));
    ASSERT_TRUE(c.login("teller", "teller"));
    EXPECT_EQ(c.call(16477, {{697, ""}, {9020, ""}}).status, 0);
    kill(server.pid, SIGTERM);
    EXPECT_EQ(server.exitCode(10000), 0);
    EXPECT_TRUE(fileBytes(db) == before) << "the database file changed";

    // A missing database is an error, not a new file.
    const std::string missing = dir.path + "/missing.db";
    CounterdChild refused({"--listen", "127.0.0.1:0", "--db", missing, "--read-only"});
    EXPECT_EQ(refused.exitCode(5000), 1);
    EXPECT_FALSE(std::filesystem::exists(missing));
}

} // namespace
} // namespace orvo::test
