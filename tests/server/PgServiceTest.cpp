// Monitoring a server whose PostgreSQL database goes away: /healthz turns 503, the heartbeat answers a
// failure with a generic text (the detail goes to the log only), and /metrics counts what happened.
#include "CounterdProcess.h"
#include "RawClient.h"
#include "ServerFixture.h"

#include "server/store/SchemaTables.h"
#include "server/store/postgres/PgConnection.h"

#include "orvo/Version.h"
#include "tests/support/PgTestCluster.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <string_view>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace orvo::test {
namespace {

class PgService : public PgClusterTest {};

// The whole HTTP answer to "GET path" on the loopback port; empty when there is none.
std::string httpGet(int port, const std::string& path) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval tv{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        const std::string request = "GET " + path + " HTTP/1.0\r\nHost: localhost\r\n\r\n";
        if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
            char buffer[4096];
            ssize_t n = 0;
            while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
                answer.append(buffer, static_cast<size_t>(n));
        }
    }
    ::close(fd);
    return answer;
}

int metricsPort(CounterdChild& child) {
    if (!child.waitFor("/metrics and /healthz", 60000))
        return -1;
    // The line reads "... http://127.0.0.1:PORT/metrics ...".
    constexpr std::string_view kAt = "http://127.0.0.1:";
    const std::size_t at = child.output.find(kAt);
    if (at == std::string::npos)
        return -1;
    const std::size_t digits = at + kAt.size();
    const std::size_t end = child.output.find("/metrics", digits);
    if (end == std::string::npos || end == digits)
        return -1;
    const std::string port = child.output.substr(digits, end - digits);
    return port.find_first_not_of("0123456789") == std::string::npos ? std::stoi(port) : -1;
}

TEST_F(PgService, HealthAndMetricsSeeTheDatabaseGoAway) {
    std::string error;
    server::pg::PgConnection admin;
    ASSERT_TRUE(admin.open(cluster().conninfo(), error)) << error;
    ASSERT_TRUE(admin.exec("DROP DATABASE IF EXISTS going_away", error)) << error;
    ASSERT_TRUE(admin.exec("CREATE DATABASE going_away", error)) << error;

    CounterdChild child({"--listen", "127.0.0.1:0", "--db", cluster().conninfo("going_away"), "--demo",
                         "--date", kToday, "--db-pool", "2", "--metrics-listen", "127.0.0.1:0"});
    const int port = child.loopbackPort(60000);
    ASSERT_GT(port, 0) << child.output;
    const int metrics = metricsPort(child);
    ASSERT_GT(metrics, 0) << child.output;
    EXPECT_EQ(httpGet(metrics, "/healthz").rfind("HTTP/1.0 200 OK\r\n", 0), 0u);

    RawClient client;
    ASSERT_TRUE(client.connect(port));
    ASSERT_TRUE(client.login("teller", "teller"));
    RawClient wrong;
    ASSERT_TRUE(wrong.connect(port));
    EXPECT_FALSE(wrong.login("teller", "nope"));
    EXPECT_EQ(client.call(3).status, 0) << "heartbeat";
    std::string page = httpGet(metrics, "/metrics");
    EXPECT_NE(page.find("\norvo_logins_total{result=\"accepted\"} 1\n"), std::string::npos) << page;
    EXPECT_NE(page.find("\norvo_logins_total{result=\"refused\"} 1\n"), std::string::npos) << page;
    EXPECT_NE(page.find("\norvo_requests_total{function=\"3\",status=\"0\"} 1\n"), std::string::npos) << page;
    EXPECT_NE(page.find("\norvo_sessions 2\n"), std::string::npos) << page;
    EXPECT_NE(page.find("orvo_request_duration_seconds_count{function=\"1\"} 2\n"), std::string::npos)
        << page;
    EXPECT_NE(page.find("\norvo_database_up 1\n"), std::string::npos) << page;
    EXPECT_NE(page.find("\norvo_build_info{version=\"" ORVO_VERSION "\",schema=\"" +
                        std::to_string(server::kSchemaVersion) + "\"} 1\n"),
              std::string::npos)
        << page;
    EXPECT_NE(page.find("\nprocess_resident_memory_bytes "), std::string::npos) << page;

    // The database goes: its sessions are ended and it cannot be reached again.
    ASSERT_TRUE(admin.exec("DROP DATABASE going_away WITH (FORCE)", error)) << error;
    // Scrapes alone see it: the background probe turns the gauge to 0 within its interval.
    const auto seen = std::chrono::steady_clock::now() + std::chrono::seconds(8);
    while ((page = httpGet(metrics, "/metrics")).find("\norvo_database_up 0\n") == std::string::npos &&
           std::chrono::steady_clock::now() < seen)
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_NE(page.find("\norvo_database_up 0\n"), std::string::npos) << page;
    EXPECT_NE(page.find("\norvo_health_checks_total{result=\"unhealthy\"} 0\n"), std::string::npos)
        << "without a single /healthz: " << page;
    EXPECT_EQ(httpGet(metrics, "/healthz").rfind("HTTP/1.0 503 ", 0), 0u);
    const Reply beat = client.call(3);
    EXPECT_EQ(beat.status, 9);
    EXPECT_EQ(beat.text, "database unavailable");
    page = httpGet(metrics, "/metrics");
    EXPECT_NE(page.find("\norvo_requests_total{function=\"3\",status=\"9\"} 1\n"), std::string::npos) << page;
    EXPECT_NE(page.find("\norvo_health_checks_total{result=\"unhealthy\"} 1\n"), std::string::npos) << page;
    EXPECT_TRUE(child.waitFor("going_away", 5000));
    EXPECT_TRUE(child.waitFor("ERROR", 5000)) << child.output;
}

} // namespace
} // namespace orvo::test
