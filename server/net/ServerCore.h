// What every connection of a running server shares: the options, the event loop, the TLS context, the
// listening socket, the worker pools, the login defences and the connection limits. It accepts the
// connections and keeps them until they close. Private to server/net and the server object: it pulls in
// Asio.
#pragma once

#include "server/common/Metrics.h"
#include "server/functions/ChangeReplyMemo.h"
#include "server/functions/LoginGuard.h"
#include "server/functions/TicketKeys.h"
#include "server/net/ConnectionLimits.h"
#include "server/net/ReplySpill.h"
#include "server/net/RequestLane.h"
#include "server/net/ServerOptions.h"
#include "server/net/SessionWatch.h"
#include "server/net/WorkerPool.h"

#include "protocol/Items.h"

#include <asio.hpp>
#include <asio/ssl.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace orvo::server {

class Connection;
class MetricsListener;

class ServerCore {
public:
    explicit ServerCore(const ServerOptions& options);
    ~ServerCore();
    ServerCore(const ServerCore&) = delete;
    ServerCore& operator=(const ServerCore&) = delete;

    // Start-up, before run(). Each gives false with the reason in error.
    bool enableTls(std::string& error);
    // The session ticket keys: the file named, or the default one (made when missing). A server with
    // neither signs with a key of its own, and says so. False with the reason when a file cannot be used.
    bool openTicketKeys(std::string& error); // when the options name a certificate or a key
    bool listen(const asio::ip::tcp::endpoint& endpoint, std::string& error);
    int port();
    // The monitoring port (see MetricsListener.h); its port, or -1 when there is none.
    bool listenMetrics(const asio::ip::tcp::endpoint& endpoint, std::string& error);
    int metricsPort();
    void startWorkers();
    // Where the workers' stores come from (after startWorkers()).
    StoreSource& stores() { return *m_stores; }
    void acceptConnections();
    // The loop thread: serves until stopLoop().
    void run();

    // Stopping, from another thread: stopAccepting() closes the listening socket and the connections
    // waiting for a request; waitForRequests() waits up to grace for the running ones to end;
    // closeAll() cuts what is left; stopLoop() ends the workers and the loop.
    void stopAccepting();
    void waitForRequests(std::chrono::milliseconds grace);
    void closeAll();
    void stopLoop();

    // What a connection uses.
    const ServerOptions& options() const { return m_options; }
    asio::io_context& io() { return m_io; }
    asio::ssl::context* tls() { return m_tls.get(); } // null: the port speaks plain text
    LoginGuard& guard() { return m_guard; }
    TicketKeys& ticketKeys() { return m_ticketKeys; }
    ChangeReplyMemo& changeMemo() { return m_changeMemo; }
    ConnectionLimits& limits() { return m_limits; }
    SessionWatch& sessions() { return *m_sessions; }
    SpillBudget& spillBudget() { return m_spillBudget; }
    bool stopping() const { return m_stopping; } // loop thread
    void log(std::string_view line);             // any thread
    // Any thread: the limits and time-outs of fresh hold from now on, and the TLS context is made anew
    // from its files (new handshakes use it; running sessions keep theirs). False with the reason, and
    // nothing changed, when the files do not load or TLS would be turned on or off.
    bool reload(const ServerOptions& fresh, std::string& error);
    int writeTimeoutMs() const { return m_writeTimeoutMs; } // any thread
    // Loop thread: what the metrics page reads rather than counts.
    Metrics::Gauges gauges();
    // Asks the database for one lookup on a light worker; done(ok) runs on the loop thread.
    void probeDatabase(std::function<void(bool)> done);
    // Any thread: whether the loop runs a posted task within the time (the watchdog's question).
    bool loopAnswers(std::chrono::milliseconds within);
    // Hands a request to the login, light or heavy workers (see RequestLane.h). A login finds its
    // workers' queue full (as many as they can check within the login time-out): nothing is run, and
    // the answer is the wait to suggest before trying again; zero when the request was handed over.
    std::chrono::milliseconds runRequest(Lane lane, WorkerPool::Job job);
    // When a client refused as busy should try again: the time the login queue takes to drain.
    std::chrono::milliseconds retryHint();
    // Loop thread: a connection joins the server, or leaves it for good.
    void add(const std::shared_ptr<Connection>& connection);
    void remove(const std::shared_ptr<Connection>& connection);

    // Held from a request's dispatch to the last byte of its reply: stopping waits for none to be held.
    class RequestMark {
    public:
        explicit RequestMark(ServerCore& core);
        ~RequestMark();
        RequestMark(const RequestMark&) = delete;
        RequestMark& operator=(const RequestMark&) = delete;

    private:
        ServerCore& m_core;
    };

private:
    void acceptNext();
    // Runs fn on the loop thread and waits for it.
    template <typename Fn> void onLoop(Fn fn);

    ServerOptions m_options; // changed by reload() on the loop thread only
    std::atomic<int> m_writeTimeoutMs;
    asio::io_context m_io{1};
    std::unique_ptr<asio::ssl::context> m_tls;
    // Contexts replaced by a reload: kept until the server ends, as sessions made with them may live on.
    std::vector<std::unique_ptr<asio::ssl::context>> m_retiredTls;
    asio::ip::tcp::acceptor m_acceptor{m_io};
    asio::steady_timer m_acceptRetry{m_io};
    std::unique_ptr<StoreSource> m_stores; // declared before the pools: it outlives their threads
    std::unique_ptr<WorkerPool> m_heavy;   // replies that may run long: every rule, order and table query
    std::unique_ptr<WorkerPool> m_light;   // heartbeat, permissions and one customer's queries
    std::unique_ptr<WorkerPool> m_logins;  // logins: each checks a password, as many as the cores
    int m_loginThreads = 1;
    std::chrono::milliseconds m_hashCost{50}; // one password check, measured at start
    std::size_t m_loginQueueBound = 1;        // logins waiting for a login worker
    // After the stores: its thread reads through one.
    std::unique_ptr<SessionWatch> m_sessions;
    LoginGuard m_guard; // its password checks run at once: as many as the login workers
    TicketKeys m_ticketKeys;
    ChangeReplyMemo m_changeMemo;
    ConnectionLimits m_limits{m_options};
    SpillBudget m_spillBudget{static_cast<std::size_t>(std::max(0, m_options.replyBufferMb)) * 1024 * 1024};

    int m_busy = 0; // requests holding a RequestMark
    std::mutex m_busyMutex;
    std::condition_variable m_busyChanged;
    bool m_stopping = false; // loop thread only

    std::mutex m_logMutex;
    std::unique_ptr<MetricsListener> m_metrics; // after the loop: gone before it
    // Loop thread only. Declared last: connections go before the loop they belong to.
    std::unordered_set<std::shared_ptr<Connection>> m_connections;
};

} // namespace orvo::server
