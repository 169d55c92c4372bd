#include "server/CounterServer.h"

#include "server/net/Connection.h"
#include "server/net/ServerCore.h"
#include "server/net/TlsContext.h"

#include <chrono>
#include <future>
#include <iostream>
#include <sys/resource.h>

namespace orvo::server {
namespace {

std::string peerName(const asio::ip::tcp::endpoint& endpoint) {
    const asio::ip::address address = endpoint.address();
    return (address.is_v6() ? "[" + address.to_string() + "]" : address.to_string()) + ":" +
           std::to_string(endpoint.port());
}

// Heavy workers run at a lower priority, so a small query keeps its latency while long replies
// are produced.
constexpr int kHeavyNiceness = 5;

// Every session is a descriptor: let the process use as many as it is allowed.
void raiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// Runs fn on the loop thread and waits for it.
template <typename Fn> void onLoop(ServerCore& core, Fn fn) {
    std::promise<void> done;
    asio::post(core.io, [&] {
        fn();
        done.set_value();
    });
    done.get_future().wait();
}

} // namespace

CounterServer::CounterServer(ServerOptions options) : m_options(std::move(options)) {}

CounterServer::~CounterServer() {
    stop();
}

void CounterServer::logLine(std::string_view line) {
    if (m_core) {
        m_core->log(line);
    } else if (m_options.log) {
        m_options.log(line);
    } else {
        std::cerr << line << '\n' << std::flush;
    }
}

int CounterServer::start(const std::string& address, int port, std::string& error) {
    if (m_running) {
        error = "already running";
        return -1;
    }
    if (port < 0 || port > 65535) {
        error = "port out of range";
        return -1;
    }
    asio::error_code ec;
    const asio::ip::address ip = asio::ip::make_address(address, ec);
    if (ec) {
        error = "bad listen address '" + address + "': " + ec.message();
        return -1;
    }
    auto core = std::make_unique<ServerCore>(m_options);
    if (!m_options.tlsCertFile.empty() || !m_options.tlsKeyFile.empty()) {
        if (m_options.tlsCertFile.empty() || m_options.tlsKeyFile.empty()) {
            error = "TLS needs both a certificate and a key";
            return -1;
        }
        core->tls = makeTlsContext(m_options.tlsCertFile, m_options.tlsKeyFile, error);
        if (!core->tls)
            return -1;
    }
    const asio::ip::tcp::endpoint endpoint(ip, static_cast<unsigned short>(port));
    auto& acceptor = core->acceptor;
    acceptor.open(endpoint.protocol(), ec);
    if (!ec)
        acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true), ec);
    if (!ec)
        acceptor.bind(endpoint, ec);
    if (!ec)
        acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        error = "cannot listen on " + address + ":" + std::to_string(port) + ": " + ec.message();
        return -1;
    }
    m_port = acceptor.local_endpoint(ec).port();
    raiseDescriptorLimit();

    int workers =
        m_options.workers > 0 ? m_options.workers : static_cast<int>(std::thread::hardware_concurrency());
    workers = std::max(1, workers);
    core->stores =
        StoreSource::create(m_options.dbPath, static_cast<std::size_t>(std::max(1, m_options.dbPoolSize)),
                            static_cast<std::size_t>(std::max(0, m_options.rowCacheMb)) * 1024 * 1024);
    core->heavy = std::make_unique<WorkerPool>(workers, *core->stores, kHeavyNiceness);
    core->light = std::make_unique<WorkerPool>(workers, *core->stores);
    m_core = std::move(core);
    m_running = true;
    accept();
    m_loop = std::thread([core = m_core.get()] {
        auto guard = asio::make_work_guard(core->io);
        core->io.run();
    });
    logLine("listening on " + address + ":" + std::to_string(m_port) + (m_core->tls ? " (TLS)" : ""));
    return m_port;
}

void CounterServer::accept() {
    ServerCore& core = *m_core;
    core.acceptor.async_accept([this, &core](const asio::error_code& ec, asio::ip::tcp::socket socket) {
        if (core.stopping)
            return;
        if (ec) {
            // Out of descriptors for a moment, or a client that gave up before we took it.
            core.acceptRetry.expires_after(std::chrono::milliseconds(100));
            core.acceptRetry.async_wait([this](const asio::error_code& waitError) {
                if (!waitError && !m_core->stopping)
                    accept();
            });
            return;
        }
        asio::error_code ignored;
        socket.set_option(asio::ip::tcp::no_delay(true), ignored);
        const asio::ip::tcp::endpoint remote = socket.remote_endpoint(ignored);
        std::string peer = peerName(remote);
        std::string refusal;
        if (core.active >= core.options.maxConnections)
            refusal = "server busy: too many connections";
        else if (core.pending >= core.options.maxPendingLogins)
            refusal = "server busy: too many connections waiting to log in";
        if (!refusal.empty())
            core.log("refused " + peer + ": " + refusal.substr(refusal.find(':') + 2));
        auto connection = std::make_shared<Connection>(core, std::move(socket), peer,
                                                       remote.address().to_string(), std::move(refusal));
        connection->start();
        accept();
    });
}

void CounterServer::stop() {
    if (!m_running)
        return;
    ServerCore& core = *m_core;
    // No new connections; those waiting for a request are closed now, the others after their reply.
    onLoop(core, [&core] {
        core.stopping = true;
        asio::error_code ignored;
        core.acceptor.close(ignored);
        core.acceptRetry.cancel();
        auto all = core.connections;
        for (const auto& c : all)
            if (!c->requestRunning())
                c->close({});
    });
    {
        std::unique_lock lock(core.busyMutex);
        core.busyChanged.wait_for(lock, std::chrono::milliseconds(m_options.stopGraceMs),
                                  [&core] { return core.busy == 0; });
    }
    // A reply still being sent stops here: its worker's next chunk fails.
    onLoop(core, [&core] {
        auto all = core.connections;
        for (const auto& c : all)
            c->close({});
    });
    core.heavy->stop();
    core.light->stop();
    core.io.stop();
    if (m_loop.joinable())
        m_loop.join();
    m_core.reset();
    m_running = false;
    logLine("stopped");
}

int CounterServer::activeConnections() {
    return m_core ? m_core->active.load() : 0;
}

} // namespace orvo::server
