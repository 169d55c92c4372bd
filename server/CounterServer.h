// The counter server: listens on a TCP address, serves each connection on its own thread (up to a
// cap) with its own read-only database connection, and stops gracefully. Embeddable: the client can
// run it in-process on a system-chosen port.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace orvo::server {

struct ServerOptions {
    std::string dbPath;         // an existing database (see Store.h to create and seed one)
    std::string today;          // business date "YYYY.MM.DD"; empty: the local date of each request
    int maxConnections = 32;    // further clients get status 5 and are closed
    int idleTimeoutMs = 300000; // no request for this long: the connection is closed
    int readTimeoutMs = 30000;  // a started frame must be complete within this time
    int writeTimeoutMs = 30000; // a client that stops reading a reply is dropped after this
    int stopGraceMs = 5000;     // stop() lets running requests finish for this long
    std::uint32_t maxRequestBytes = 1024 * 1024;
    // One line per request and per connection event; default: standard error.
    std::function<void(std::string_view)> log;
};

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

private:
    struct Connection;
    void acceptLoop();
    void serve(Connection& conn);
    void reapFinished();
    void logLine(std::string_view line);

    ServerOptions m_options;
    int m_listenFd = -1;
    int m_wakeFd = -1;
    int m_port = -1;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_stopping{false};
    std::thread m_acceptThread;
    std::mutex m_mutex;
    std::condition_variable m_finished;
    std::list<std::unique_ptr<Connection>> m_connections;
    std::mutex m_logMutex;
};

} // namespace orvo::server
