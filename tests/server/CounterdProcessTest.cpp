// The orvo-counterd program itself: its command line, start-up on a demo database, SIGTERM.
#include "ServerFixture.h"

#include "server/Store.h"

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

struct Child {
    pid_t pid = -1;
    int stderrFd = -1;
    std::string output;

    explicit Child(const std::vector<std::string>& args) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return;
        pid = fork();
        if (pid == 0) {
            dup2(fds[1], 2);
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(ORVO_COUNTERD));
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(ORVO_COUNTERD, argv.data());
            _exit(127);
        }
        close(fds[1]);
        stderrFd = fds[0];
    }
    ~Child() {
        if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (stderrFd >= 0)
            close(stderrFd);
    }

    // Reads standard error until the text appears or the time-out passes.
    bool waitFor(const std::string& text, int timeoutMs) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (output.find(text) == std::string::npos) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            pollfd pfd{stderrFd, POLLIN, 0};
            if (poll(&pfd, 1, static_cast<int>(left.count())) <= 0)
                return false;
            char buf[512];
            ssize_t n = read(stderrFd, buf, sizeof buf);
            if (n <= 0)
                return output.find(text) != std::string::npos;
            output.append(buf, static_cast<size_t>(n));
        }
        return true;
    }

    // Exit code, or -1 when it does not end within the time-out.
    int exitCode(int timeoutMs) {
        for (int waited = 0; waited < timeoutMs; waited += 20) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }
};

TEST(Counterd, RefusesToStartWithoutAListenAddressOrWithBadArguments) {
    TempDir dir;
    Child noListen({"--db", dir.path + "/a.db", "--demo"});
    EXPECT_EQ(noListen.exitCode(5000), 2);
    noListen.waitFor("--listen", 1000);
    EXPECT_NE(noListen.output.find("--listen is required"), std::string::npos);

    Child badSize({"--listen", "127.0.0.1:0", "--db", dir.path + "/a.db", "--size", "huge"});
    EXPECT_EQ(badSize.exitCode(5000), 2);
    Child badListen({"--listen", "127.0.0.1", "--db", dir.path + "/a.db"});
    EXPECT_EQ(badListen.exitCode(5000), 2);
    Child badDate({"--listen", "127.0.0.1:0", "--db", dir.path + "/a.db", "--date", "07.12.2026"});
    EXPECT_EQ(badDate.exitCode(5000), 2);
}

TEST(Counterd, ServesTheDemoAndStopsOnSigterm) {
    TempDir dir;
    Child server({"--listen", "127.0.0.1:0", "--db", dir.path + "/demo.db", "--demo", "--date", kToday});
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

    kill(server.pid, SIGTERM);
    EXPECT_EQ(server.exitCode(10000), 0);
    EXPECT_TRUE(c.closedByPeer(1000));
}

TEST(Counterd, AnExistingDatabaseIsKeptAsItIs) {
    TempDir dir;
    const std::string db = dir.path + "/kept.db";
    {
        Child first({"--listen", "127.0.0.1:0", "--db", db, "--demo", "--date", kToday});
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
    Child second({"--listen", "127.0.0.1:0", "--db", db, "--demo", "--date", kToday});
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

    Child server({"--listen", "127.0.0.1:0", "--db", db, "--read-only", "--date", kToday});
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
    Child refused({"--listen", "127.0.0.1:0", "--db", missing, "--read-only"});
    EXPECT_EQ(refused.exitCode(5000), 1);
    EXPECT_FALSE(std::filesystem::exists(missing));
}

} // namespace
} // namespace orvo::test
