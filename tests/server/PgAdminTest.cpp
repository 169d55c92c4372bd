// Operators administered through the real program on a PostgreSQL database that two running servers
// share: what the command changes holds on both at once. The administrator's set-up of docs/postgres.md,
// run as written.
#include "CounterdProcess.h"
#include "ServerFixture.h"
#include "SessionScenario.h"

#include "server/demo/PgSeed.h"
#include "server/demo/PrepareStore.h"

#include "server/store/postgres/PgConnection.h"
#include "tests/support/PgTestCluster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

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

// The lines between the procedure's markers in docs/postgres.md.
std::vector<std::string> documentedProcedure() {
    std::ifstream file(ORVO_SOURCE_DIR "/docs/postgres.md");
    std::vector<std::string> lines;
    std::string line;
    bool inside = false;
    while (std::getline(file, line)) {
        if (line == "<!-- procedure -->" || line == "<!-- end of procedure -->")
            inside = line == "<!-- procedure -->";
        else if (inside && !line.starts_with("```"))
            lines.push_back(line);
    }
    return lines;
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

// As root, "postgres" is the cluster's owner (nobody), which cannot open the root-only backup by its
// path: the restore has to read it as the procedure says, through the shell's redirection.
TEST_F(PgAdmin, TheAdministratorsProcedureRunsAsWritten) {
    const std::vector<std::string> procedure = documentedProcedure();
    ASSERT_GE(procedure.size(), 5u) << "docs/postgres.md lost its procedure";
    std::string error;
    server::pg::PgConnection admin;
    ASSERT_TRUE(admin.open(cluster().conninfo(), error)) << error;
    for (const char* sql : {"DROP DATABASE IF EXISTS counter_restored", "DROP DATABASE IF EXISTS counter",
                            "DROP ROLE IF EXISTS counterd"})
        ASSERT_TRUE(admin.exec(sql, error)) << error;

    TempDir dir;
    const std::string backups = dir.path + "/backups";
    ASSERT_EQ(mkdir(backups.c_str(), 0700), 0);
    const std::string config = dir.path + "/orvo-counterd.conf";
    std::ofstream(config) << "db = \"dbname=counter user=counterd\"\n";
    // The cluster's socket, port and superuser stand for the machine's.
    const std::string conninfo = cluster().conninfo();
    auto value = [&](const std::string& key) {
        const std::size_t at = conninfo.find(key + "=") + key.size() + 1;
        return conninfo.substr(at, conninfo.find(' ', at) - at);
    };
    const std::string environment = "PGHOST='" + value("host") + "' PGPORT=" + value("port") +
                                    " PGUSER=" + value("user") + " PATH='" + PgCluster::binDir() + ":" +
                                    std::getenv("PATH") + "' ";
    for (std::string line : procedure) {
        replaceAll(line, "runuser -u postgres -- ",
                   geteuid() == 0 ? "runuser -u nobody -- env " + environment : "");
        replaceAll(line, "orvo-counterd ", std::string(ORVO_COUNTERD) + " --config " + config + " ");
        replaceAll(line, "/var/backups/orvo-counterd", backups);
        const std::string command = "export " + environment + "; " + line + " 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string output;
        char chunk[512];
        while (const std::size_t n = fread(chunk, 1, sizeof chunk, pipe))
            output.append(chunk, n);
        EXPECT_EQ(pclose(pipe), 0) << line << "\n" << output;
    }

    // The restored database is the service role's, whole, and serves.
    server::pg::PgConnection restored;
    ASSERT_TRUE(restored.open(cluster().conninfo("counter_restored"), error)) << error;
    server::pg::PgResult owners =
        restored.query("SELECT count(*), count(*) FILTER (WHERE tableowner = 'counterd') FROM pg_tables "
                       "WHERE schemaname = 'public'",
                       server::pg::PgParams(), error);
    ASSERT_TRUE(owners && owners.rows() == 1) << error;
    EXPECT_GT(owners.row(0).integer(0), 10);
    EXPECT_EQ(owners.row(0).integer(0), owners.row(0).integer(1)) << "tables that are not the role's";
    const ProgramRun list =
        counterd({"operator", "list", "--db", cluster().conninfo("counter_restored") + " user=counterd"});
    EXPECT_EQ(list.code, 0) << list.err;
    EXPECT_NE(list.out.find("\nadmin "), std::string::npos) << list.out;

    // The backup timer's command on PostgreSQL: a dump named after the moment, the older ones beyond
    // --keep removed.
    const ProgramRun timed = counterd(
        {"backup", backups, "--keep", "1", "--db", cluster().conninfo("counter") + " user=counterd"});
    ASSERT_EQ(timed.code, 0) << timed.err;
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(backups))
        left.push_back(entry.path().filename().string());
    ASSERT_EQ(left.size(), 2u) << timed.err;
    std::sort(left.begin(), left.end());
    EXPECT_TRUE(left[0].starts_with("counter-20") && left[0].ends_with("Z.dump")) << left[0];
    EXPECT_EQ(left[1], "counter-before.dump") << "not a timed backup: left alone";
}

} // namespace
} // namespace orvo::test
