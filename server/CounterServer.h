// The counter server: listens on a TCP address (optionally TLS-only) and serves every connection from
// one event loop; request handlers run on bounded worker pools, each worker with its own read-only
// database connection. Stops gracefully. Embeddable: the client can run it in-process on a
// system-chosen port.
#pragma once

#include "server/net/ServerOptions.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

namespace orvo::server {

class RowCacheWarmup;
class ServerCore;

class CounterServer {
public:
    explicit CounterServer(ServerOptions options);
    ~CounterServer();
    CounterServer(const CounterServer&) = delete;
    CounterServer& operator=(const CounterServer&) = delete;

    // Binds address:port (port 0: the system chooses) and starts serving. Returns the port bound, or -1
    // with the reason in error.
    int start(const std::string& address, int port, std::string& error);
    // Stops accepting, lets running requests finish (up to stopGraceMs), closes every connection.
    void stop();
    bool running() const { return m_running; }
    int port() const { return m_port; }
    int activeConnections();
    // Takes the limits, time-outs and TLS files of fresh while serving (see ServerCore::reload).
    bool reload(const ServerOptions& fresh, std::string& error);
    // Whether the event loop still runs what is handed to it (for the service manager's watchdog).
    bool loopAnswers(std::chrono::milliseconds within);
    // Waits up to `within` for the row cache's warm-up to end; true when it has (or there is none).
    bool waitForWarmup(std::chrono::milliseconds within);

private:
    void logLine(std::string_view line);
    void startWarmup();

    ServerOptions m_options;
    std::unique_ptr<ServerCore> m_core;
    std::thread m_loop;
    std::unique_ptr<RowCacheWarmup> m_warmup; // reads through the core's stores: stopped before it goes
    int m_port = -1;
    std::atomic<bool> m_running{false};
};

} // namespace orvo::server
