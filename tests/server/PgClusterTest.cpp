// The throwaway cluster itself: it serves a database on its own socket only, and leaves neither a server
// nor a folder behind, whether it is stopped or the test process is killed outright.
#include "tests/support/PgCluster.h"
#include "server/store/postgres/PgConnection.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace orvo::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

bool goneWithin(const std::string& folder, pid_t postmaster, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (fs::exists(folder) || PgCluster::processRunning(postmaster)) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

TEST(PgClusterHarness, ServesOnlyItsOwnSocketAndLeavesNothingBehindWhenStoppedOrKilled) {
    if (PgCluster::binDir().empty())
        GTEST_SKIP() << "PostgreSQL server binaries not installed (/usr/lib/postgresql/*/bin)";
    std::string error, folder;
    pid_t postmaster = 0;
    {
        PgCluster cluster;
        ASSERT_TRUE(cluster.start(error)) << error;
        folder = cluster.folder();
        postmaster = cluster.postmasterPid();
        EXPECT_TRUE(PgCluster::processRunning(postmaster));
        EXPECT_TRUE(fs::exists(folder + "/.s.PGSQL.5432"));
        server::pg::PgConnection conn;
        ASSERT_TRUE(conn.open(cluster.conninfo(), error)) << error;
        server::pg::PgResult tcp = conn.query("SHOW listen_addresses", server::pg::PgParams(), error);
        ASSERT_TRUE(tcp) << error;
        EXPECT_EQ(tcp.row(0).text(0), "") << "the test cluster must not listen on the network";
    } // the destructor stops it
    EXPECT_TRUE(goneWithin(folder, postmaster, 1s)) << folder;

    // A test process killed with the cluster running: the guard process cleans up after it.
    int channel[2];
    ASSERT_EQ(pipe2(channel, O_CLOEXEC), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(channel[0]);
        PgCluster cluster;
        std::string e, report;
        report =
            cluster.start(e) ? cluster.folder() + " " + std::to_string(cluster.postmasterPid()) : "! " + e;
        (void)!write(channel[1], report.data(), report.size());
        close(channel[1]);
        pause(); // until killed: no destructor runs
        _exit(0);
    }
    close(channel[1]);
    std::string report;
    char buffer[4096];
    for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;)
        report.append(buffer, static_cast<std::size_t>(n));
    close(channel[0]);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_FALSE(report.empty() || report[0] == '!') << "the cluster in the child did not start: " << report;
    std::istringstream fields(report);
    long pid = 0;
    fields >> folder >> pid;
    ASSERT_GT(pid, 0) << report;
    EXPECT_TRUE(goneWithin(folder, static_cast<pid_t>(pid), 30s))
        << "cluster left behind by a killed test process: " << folder << " pid " << pid;
}

} // namespace
} // namespace orvo::test
