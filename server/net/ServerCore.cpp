#include "server/net/ServerCore.h"

#include "server/net/AcceptRetry.h"
#include "server/net/Connection.h"
#include "server/net/MetricsListener.h"
#include "server/net/RequestLane.h"
#include "server/net/TlsContext.h"
#include "server/store/Operator.h"

#include <algorithm>
#include <cstdio>
#include <future>
#include <thread>

#include <unistd.h>

namespace orvo::server {
namespace {

// Heavy workers run at a lower priority, so a small query keeps its latency while long replies
// are produced.
constexpr int kHeavyNiceness = 5;

std::string peerName(const asio::ip::tcp::endpoint& endpoint) {
    const asio::ip::address address = endpoint.address();
    return (address.is_v6() ? "[" + address.to_string() + "]" : address.to_string()) + ":" +
           std::to_string(endpoint.port());
}

} // namespace

namespace {

int cores() {
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

LoginGuardOptions guardOptions(LoginGuardOptions options) {
    options.concurrentHashes = std::max(options.concurrentHashes, cores());
    return options;
}

// What one password check costs on this machine, at the limits new hashes get.
std::chrono::milliseconds measureHashCost() {
    const auto started = std::chrono::steady_clock::now();
    std::string hash;
    if (!hashPassword("-", hash, false))
        return std::chrono::milliseconds(50);
    return std::max(std::chrono::milliseconds(1), std::chrono::duration_cast<std::chrono::milliseconds>(
                                                      std::chrono::steady_clock::now() - started));
}

} // namespace

ServerCore::ServerCore(const ServerOptions& options)
    : m_options(options), m_writeTimeoutMs(options.writeTimeoutMs),
      m_sessions(std::make_unique<SessionWatch>(*this)), m_guard(guardOptions(options.loginGuard)) {}

ServerCore::~ServerCore() {
    m_sessions->stop(); // its last round logs, and logging needs the members declared after it
}

template <typename Fn> void ServerCore::onLoop(Fn fn) {
    std::promise<void> done;
    asio::post(m_io, [&] {
        fn();
        done.set_value();
    });
    done.get_future().wait();
}

bool ServerCore::enableTls(std::string& error) {
    if (m_options.tlsCertFile.empty() && m_options.tlsKeyFile.empty())
        return true;
    if (m_options.tlsCertFile.empty() || m_options.tlsKeyFile.empty()) {
        error = "TLS needs both a certificate and a key";
        return false;
    }
    m_tls = makeTlsContext(m_options.tlsCertFile, m_options.tlsKeyFile, error);
    return m_tls != nullptr;
}

bool ServerCore::openTicketKeys(std::string& error) {
    const std::string& named = m_options.ticketKeyFile;
    const std::string path = named.empty() ? defaultTicketKeyPath(m_options.dbPath) : named;
    if (path.empty()) {
        m_ticketKeys.useProcessKey();
        log("session tickets: no key file (--ticket-key), so only this server takes the tickets it issues");
        return true;
    }
    const bool existed = access(path.c_str(), F_OK) == 0;
    if (m_ticketKeys.open(path, true, error))
        return true;
    if (!named.empty() || existed) {
        error = "session ticket keys: " + error;
        return false;
    }
    // The default place cannot take a new file (a read-only folder, say): tickets still work here.
    m_ticketKeys.useProcessKey();
    log("warning: session tickets: " + error + "; only this server takes the tickets it issues");
    error.clear();
    return true;
}

bool ServerCore::listen(const asio::ip::tcp::endpoint& endpoint, std::string& error) {
    asio::error_code ec;
    m_acceptor.open(endpoint.protocol(), ec);
    if (!ec)
        m_acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true), ec);
    if (!ec)
        m_acceptor.bind(endpoint, ec);
    if (!ec)
        m_acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        error = ec.message();
        return false;
    }
    return true;
}

int ServerCore::port() {
    asio::error_code ec;
    const auto endpoint = m_acceptor.local_endpoint(ec);
    return ec ? -1 : endpoint.port();
}

bool ServerCore::listenMetrics(const asio::ip::tcp::endpoint& endpoint, std::string& error) {
    m_metrics = std::make_unique<MetricsListener>(*this);
    return m_metrics->listen(endpoint, error);
}

int ServerCore::metricsPort() {
    return m_metrics ? m_metrics->port() : -1;
}

Metrics::Gauges ServerCore::gauges() {
    Metrics::Gauges gauges;
    gauges.sessions = m_limits.active();
    if (m_heavy)
        gauges.heavyQueue = m_heavy->waiting();
    if (m_stores) {
        gauges.rowCacheBytes = m_stores->rowCache().bytes();
        gauges.rowCacheEntries = m_stores->rowCache().entries();
    }
    return gauges;
}

void ServerCore::probeDatabase(std::function<void(bool)> done) {
    m_light->post([this, done = std::move(done)](Store* store, const std::string&) {
        bool healthy = false;
        if (store) {
            OperatorRecord record;
            std::string error;
            healthy = store->findOperator("", record, error) || error.empty();
        }
        asio::post(m_io, [done, healthy] { done(healthy); });
    });
}

bool ServerCore::loopAnswers(std::chrono::milliseconds within) {
    auto answered = std::make_shared<std::promise<void>>();
    auto future = answered->get_future();
    asio::post(m_io, [answered] { answered->set_value(); });
    return future.wait_for(within) == std::future_status::ready;
}

void ServerCore::startWorkers() {
    int workers =
        m_options.workers > 0 ? m_options.workers : static_cast<int>(std::thread::hardware_concurrency());
    workers = std::max(1, workers);
    m_stores =
        StoreSource::create(m_options.dbPath, static_cast<std::size_t>(std::max(1, m_options.dbPoolSize)),
                            static_cast<std::size_t>(std::max(0, m_options.rowCacheMb)) * 1024 * 1024,
                            m_options.dbStatementTimeoutMs, m_options.dbLockTimeoutMs);
    m_heavy = std::make_unique<WorkerPool>(workers, *m_stores, kHeavyNiceness);
    m_light = std::make_unique<WorkerPool>(workers, *m_stores);
    m_loginThreads = cores();
    m_logins = std::make_unique<WorkerPool>(m_loginThreads, *m_stores);
    // The queue holds what the login workers can check within three quarters of the login time-out, so a
    // login let in line is answered before its connection's deadline.
    m_hashCost = measureHashCost();
    const long long checkable =
        static_cast<long long>(m_loginThreads) * m_options.loginTimeoutMs * 3 / 4 / m_hashCost.count();
    m_loginQueueBound = static_cast<std::size_t>(std::max<long long>(m_loginThreads, checkable));
    m_sessions->start(*m_stores);
}

void ServerCore::acceptConnections() {
    acceptNext();
    if (m_metrics)
        m_metrics->start();
}

void ServerCore::run() {
    auto work = asio::make_work_guard(m_io);
    m_io.run();
}

void ServerCore::acceptNext() {
    m_acceptor.async_accept([this](const asio::error_code& ec, asio::ip::tcp::socket socket) {
        if (m_stopping)
            return;
        if (ec) {
            acceptAgainSoon(
                m_acceptRetry, [this] { return m_stopping; }, [this] { acceptNext(); });
            return;
        }
        asio::error_code ignored;
        socket.set_option(asio::ip::tcp::no_delay(true), ignored);
        const asio::ip::tcp::endpoint remote = socket.remote_endpoint(ignored);
        std::string address = remote.address().to_string();
        std::string refusal = m_limits.refusal(address);
        if (!refusal.empty()) {
            if (auto line = m_limits.reportRefusal(address, refusal, ConnectionLimits::Clock::now()))
                log(*line);
            if (m_tls) {
                // Telling why would cost a handshake, which is what a flood of connections is after.
                socket.close(ignored);
                acceptNext();
                return;
            }
        }
        auto connection = std::make_shared<Connection>(*this, std::move(socket), peerName(remote),
                                                       std::move(address), std::move(refusal));
        connection->start();
        acceptNext();
    });
}

void ServerCore::stopAccepting() {
    onLoop([this] {
        m_stopping = true;
        asio::error_code ignored;
        m_acceptor.close(ignored);
        m_acceptRetry.cancel();
        if (m_metrics)
            m_metrics->stop();
        auto all = m_connections;
        for (const auto& c : all)
            if (!c->requestRunning())
                c->close({});
    });
}

void ServerCore::waitForRequests(std::chrono::milliseconds grace) {
    std::unique_lock lock(m_busyMutex);
    m_busyChanged.wait_for(lock, grace, [this] { return m_busy == 0; });
}

void ServerCore::closeAll() {
    // A reply still being sent stops here: its worker's next chunk fails.
    onLoop([this] {
        auto all = m_connections;
        for (const auto& c : all)
            c->close({});
    });
}

void ServerCore::stopLoop() {
    m_sessions->stop(); // ends in the database the sessions still open
    m_heavy->stop();
    m_light->stop();
    m_logins->stop();
    m_io.stop();
}

void ServerCore::log(std::string_view line) {
    std::lock_guard lock(m_logMutex);
    if (m_options.log)
        m_options.log(line);
    else
        std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
}

bool ServerCore::reload(const ServerOptions& fresh, std::string& error) {
    std::unique_ptr<asio::ssl::context> tls;
    const bool wantTls = !fresh.tlsCertFile.empty() || !fresh.tlsKeyFile.empty();
    if (wantTls != (m_tls != nullptr)) {
        error = wantTls ? "turning TLS on needs a restart" : "turning TLS off needs a restart";
        return false;
    }
    if (wantTls && !(tls = makeTlsContext(fresh.tlsCertFile, fresh.tlsKeyFile, error)))
        return false;
    onLoop([&] {
        m_options.maxConnections = fresh.maxConnections;
        m_options.maxPendingLogins = fresh.maxPendingLogins;
        m_options.maxPendingLoginsPerAddress = fresh.maxPendingLoginsPerAddress;
        m_options.loginTimeoutMs = fresh.loginTimeoutMs;
        m_options.idleTimeoutMs = fresh.idleTimeoutMs;
        m_options.readTimeoutMs = fresh.readTimeoutMs;
        m_options.writeTimeoutMs = fresh.writeTimeoutMs;
        m_writeTimeoutMs = fresh.writeTimeoutMs;
        if (tls) {
            m_options.tlsCertFile = fresh.tlsCertFile;
            m_options.tlsKeyFile = fresh.tlsKeyFile;
            m_retiredTls.push_back(std::move(m_tls));
            m_tls = std::move(tls);
        }
    });
    return true;
}

std::chrono::milliseconds ServerCore::runRequest(Lane lane, WorkerPool::Job job) {
    switch (lane) {
    case Lane::Login:
        if (m_logins->waiting() >= m_loginQueueBound)
            return retryHint();
        m_logins->post(std::move(job));
        break;
    case Lane::Light:
        m_light->post(std::move(job));
        break;
    case Lane::Heavy:
        m_heavy->post(std::move(job));
        break;
    }
    return std::chrono::milliseconds(0);
}

std::chrono::milliseconds ServerCore::retryHint() {
    // Long enough for the logins in line now to be checked, never less than half a second.
    const auto waiting = static_cast<long long>(m_logins ? m_logins->waiting() : 0);
    const auto drain =
        std::chrono::duration_cast<std::chrono::milliseconds>(m_hashCost * (waiting / m_loginThreads + 1));
    return std::max(std::chrono::milliseconds(500), drain);
}

void ServerCore::add(const std::shared_ptr<Connection>& connection) {
    m_connections.insert(connection);
}

void ServerCore::remove(const std::shared_ptr<Connection>& connection) {
    m_connections.erase(connection);
}

ServerCore::RequestMark::RequestMark(ServerCore& core) : m_core(core) {
    std::lock_guard lock(core.m_busyMutex);
    ++core.m_busy;
}

ServerCore::RequestMark::~RequestMark() {
    {
        std::lock_guard lock(m_core.m_busyMutex);
        --m_core.m_busy;
    }
    m_core.m_busyChanged.notify_all();
}

} // namespace orvo::server
