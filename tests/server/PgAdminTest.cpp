// Operators administered through the real program on a PostgreSQL database that two running servers
// share: what the command changes holds on both at once.
#include "CounterdProcess.h"
#include "ServerFixture.h"
#include "SessionScenario.h"

#include "server/demo/PgSeed.h"
#include "server/demo/PrepareStore.h"

#include "server/store/postgres/PgConnection.h"
#include "tests/support/PgTestCluster.h"

#include <gtest/gtest.h>

#include <csignal>

namespace orvo::test {
namespace {

class PgAdmin : public PgClusterTest {};

TEST_F(PgAdmin, OperatorChangesHoldOnTwoServersSharingOneDatabase) {
    std::string error;
    {
        server::pg::PgConnection admin;
        ASSERT_TRUE(admin.open(cluster().conninfo(), error)) << error;
        ASSERT_TRUE(admin.exec("DROP DATABASE IF EXISTS shared_ops", error)) << error;
        ASSERT_TRUE(admin.exec("CREATE DATABASE shared_ops", error)) << error;
    }
    const std::string db = cluster().conninfo("shared_ops");

    // The command creates the schema in the empty database, as it does for a new SQLite file.
    const ProgramRun add = counterd(
        {"operator", "add", "alice", "--db", db, "--branches", "9999", "--groups", "9999"}, "first\n");
    ASSERT_EQ(add.code, 0) << add.err;
    const ProgramRun again = counterd({"operator", "add", "alice", "--db", db}, "x\n");
    EXPECT_EQ(again.code, 1);
    EXPECT_NE(again.err.find("an operator named 'alice' exists already"), std::string::npos) << again.err;
    const ProgramRun unknown = counterd({"operator", "disable", "bob", "--db", db});
    EXPECT_EQ(unknown.code, 1);
    EXPECT_NE(unknown.err.find("no operator named 'bob'"), std::string::npos) << unknown.err;
    EXPECT_EQ(
        counterd({"operator", "grant", "alice", "--db", db, "--branches", "0101", "--groups", "9999"}).code,
        2)
        << "a branch the database does not know";

    CounterdChild first({"--listen", "127.0.0.1:0", "--db", db, "--db-pool", "2", "--date", kToday});
    CounterdChild second({"--listen", "127.0.0.1:0", "--db", db, "--db-pool", "2", "--date", kToday});
    const int ports[2] = {first.loopbackPort(30000), second.loopbackPort(30000)};
    ASSERT_GT(ports[0], 0) << first.output;
    ASSERT_GT(ports[1], 0) << second.output;
    auto loginOn = [](int port) {
        RawClient c;
        return c.connect(port) && c.login("alice", "first");
    };

    for (int port : ports)
        EXPECT_TRUE(loginOn(port)) << port;
    ASSERT_EQ(counterd({"operator", "disable", "alice", "--db", db}).code, 0);
    for (int port : ports)
        EXPECT_FALSE(loginOn(port)) << "a disabled operator is refused on the server at " << port;
    const ProgramRun listed = counterd({"operator", "list", "--db", db});
    ASSERT_EQ(listed.code, 0) << listed.err;
    EXPECT_NE(listed.out.find("alice                no "), std::string::npos) << listed.out;
    ASSERT_EQ(counterd({"operator", "enable", "alice", "--db", db}).code, 0);
    for (int port : ports)
        EXPECT_TRUE(loginOn(port)) << "enabled again, on the server at " << port;

    for (CounterdChild* server : {&first, &second}) {
        kill(server->pid, SIGTERM);
        EXPECT_EQ(server->exitCode(10000), 0) << server->output;
    }
}

TEST_F(PgAdmin, RevocationReachesOpenSessionsOnTwoServersSharingOneDatabase) {
    std::string error;
    {
        server::pg::PgConnection admin;
        ASSERT_TRUE(admin.open(cluster().conninfo(), error)) << error;
        ASSERT_TRUE(admin.exec("DROP DATABASE IF EXISTS shared_sessions", error)) << error;
        ASSERT_TRUE(admin.exec("CREATE DATABASE shared_sessions", error)) << error;
    }
    const std::string db = cluster().conninfo("shared_sessions");
    server::DemoOptions demo;
    demo.today = kToday;
    ASSERT_TRUE(server::pg::preparePgStore(db, &demo, error)) << error;
    // The servers of a PostgreSQL database are given one ticket key file, as an administrator does.
    TempDir keys;
    revocationReachesSessionsOnTwoServers(db, {"--db-pool", "2", "--ticket-key", keys.path + "/ticket-key"});
}

} // namespace
} // namespace orvo::test
