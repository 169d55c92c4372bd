// What every connection of a running server shares: the options, the event loop, the TLS context,
// the worker pools, the login defences and the counters the limits are checked against. Private to
// server/net: it pulls in Asio.
#pragma once

#include "server/functions/LoginGuard.h"
#include "server/net/ServerOptions.h"
#include "server/net/WorkerPool.h"

#include <asio.hpp>
#include <asio/ssl.hpp>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>

namespace orvo::server {

class Connection;

struct ServerCore {
    explicit ServerCore(const ServerOptions& opts) : options(opts), guard(opts.loginGuard) {}

    void log(std::string_view line) {
        std::lock_guard lock(logMutex);
        if (options.log)
            options.log(line);
        else
            std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
    }

    // A request began (loop thread) or ended (loop thread); stop() waits for none to run.
    void requestStarted() { ++busy; }
    void requestEnded() {
        {
            std::lock_guard lock(busyMutex);
            --busy;
        }
        busyChanged.notify_all();
    }

    ServerOptions options;
    asio::io_context io{1};
    std::unique_ptr<asio::ssl::context> tls; // set: the port is TLS-only
    asio::ip::tcp::acceptor acceptor{io};
    asio::steady_timer acceptRetry{io};
    std::unique_ptr<StoreSource> stores; // declared before the pools: it outlives their threads
    std::unique_ptr<WorkerPool> heavy;   // replies that may run long: every rule, order and table query
    std::unique_ptr<WorkerPool> light;   // login, heartbeat, permissions and one customer's queries
    LoginGuard guard;

    std::atomic<int> active{0};  // connections being served (not those refused)
    std::atomic<int> pending{0}; // of those, not logged in
    std::atomic<int> busy{0};    // requests between dispatch and the last byte of their reply
    std::mutex busyMutex;
    std::condition_variable busyChanged;
    bool stopping = false; // loop thread only

    std::mutex logMutex;
    // Loop thread only. Declared last: connections go before the loop they belong to.
    std::unordered_set<std::shared_ptr<Connection>> connections;
};

} // namespace orvo::server
