// The monitoring port: a minimal HTTP/1.0 responder on the server's event loop. GET /metrics gives the
// counters in the Prometheus text format, with the database's last known state from the background
// probe (DatabaseProbe), the build and the process; GET /healthz gives 200 when the database answers a
// lookup within a second and 503 otherwise. One request per connection, a few connections at once, each
// with a deadline; nothing else is served. Private to server/net.
#pragma once

#include "server/net/DatabaseProbe.h"

#include <asio.hpp>

#include <memory>
#include <string>

namespace orvo::server {

class ServerCore;

class MetricsListener {
public:
    static constexpr int kMaxExchanges = 16; // at once; more are closed unanswered
    static constexpr std::size_t kMaxRequestBytes = 4096;
    static constexpr int kRequestTimeoutMs = 5000; // for the request to arrive and the answer to leave
    static constexpr int kHealthTimeoutMs = 1000;  // for the database to answer

    explicit MetricsListener(ServerCore& core);
    bool listen(const asio::ip::tcp::endpoint& endpoint, std::string& error);
    int port();
    // Loop thread.
    void start();
    void stop();

    ServerCore& core() { return m_core; }
    DatabaseProbe& probe() { return *m_probe; }

private:
    void acceptNext();

    ServerCore& m_core;
    asio::ip::tcp::acceptor m_acceptor;
    asio::steady_timer m_acceptRetry;
    std::shared_ptr<DatabaseProbe> m_probe;
    // Exchanges in progress (loop thread). Shared with them: an exchange's handler may be destroyed
    // with the event loop, after the listener.
    std::shared_ptr<int> m_open = std::make_shared<int>(0);
    bool m_stopped = false;
};

} // namespace orvo::server
