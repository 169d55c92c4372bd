// Sessions recorded by the servers, and revocation that reaches them, on a SQLite file.
#include "ServerFixture.h"
#include "SessionScenario.h"

#include "server/demo/PrepareStore.h"
#include "server/store/sqlite/SqliteStore.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace orvo::test {
namespace {

TEST(Sessions, RevocationReachesOpenSessionsOnTwoServersSharingOneFile) {
    TempDir dir;
    const std::string path = dir.path + "/shared.db";
    server::DemoOptions demo;
    demo.today = kToday;
    std::string error;
    ASSERT_TRUE(server::prepareStore(path, &demo, error)) << error;
    revocationReachesSessionsOnTwoServers(path, {});
}

TEST(Sessions, NothingIsLeftLiveOfDroppedLoginsAndKilledServers) {
    WritableDemo demo("left.db");
    ASSERT_TRUE(demo.ok);
    nothingIsLeftLiveOfDroppedLoginsAndKilledServers(demo.path);
}

// A writer of the same server that begins again as soon as it commits (as the simulated market does)
// would win every one of SQLite's busy retries, and each login would fail after its 2 s: each session
// write takes its turn instead. A writer that keeps the file past the wait makes the login fail with the
// lock named, and the one after it (its abandoned turn passed over) goes through.
TEST(Sessions, AreRecordedInTurnBesideAWriterOfTheSameServerThatNeverPauses) {
    WritableDemo demo("busy.db");
    ASSERT_TRUE(demo.ok);
    server::Db serving;
    std::string error;
    ASSERT_TRUE(serving.open(demo.path, true, error)) << error;
    server::sqlite::SqliteStore store(std::move(serving)); // read-only: sessions go through its writer

    std::atomic<bool> stop{false};
    std::thread busy([&demo, &stop] {
        while (!stop.load()) {
            server::Transaction tx(demo.writer);
            std::string ignored;
            demo.writer.exec("UPDATE rule_revision SET value = value + 1", ignored);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            tx.commit(ignored);
        }
    });
    for (int login = 0; login < 5; ++login) {
        std::int64_t id = 0;
        EXPECT_TRUE(store.openSession("s1", "admin", "127.0.0.1", 0, id, error)) << login << ": " << error;
        EXPECT_GT(id, 0);
    }
    stop = true;
    busy.join();

    std::int64_t id = 0;
    {
        server::Transaction held(demo.writer);
        ASSERT_TRUE(held.ok()) << held.error();
        EXPECT_FALSE(store.openSession("s1", "admin", "127.0.0.1", 0, id, error));
        EXPECT_NE(error.find("database is locked"), std::string::npos) << error;
    }
    EXPECT_TRUE(store.openSession("s1", "admin", "127.0.0.1", 0, id, error)) << error;
}

} // namespace
} // namespace orvo::test
