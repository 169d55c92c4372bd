#include "server/CounterServer.h"

#include "server/functions/Functions.h"
#include "server/net/ServerCore.h"
#include "server/store/RowCacheWarmup.h"

#include <chrono>
#include <iostream>
#include <sys/resource.h>

namespace orvo::server {
namespace {

// Every session is a descriptor: let the process use as many as it is allowed.
void raiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
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
    if (!core->enableTls(error) || !core->openTicketKeys(error))
        return -1;
    if (!core->listen(asio::ip::tcp::endpoint(ip, static_cast<unsigned short>(port)), error)) {
        error = "cannot listen on " + address + ":" + std::to_string(port) + ": " + error;
        return -1;
    }
    m_port = core->port();
    if (m_options.metricsPort >= 0) {
        const asio::ip::address metricsIp = asio::ip::make_address(m_options.metricsAddress, ec);
        if (ec || m_options.metricsPort > 65535) {
            error = "bad metrics address '" + m_options.metricsAddress + "'";
            return -1;
        }
        if (!core->listenMetrics(
                asio::ip::tcp::endpoint(metricsIp, static_cast<unsigned short>(m_options.metricsPort)),
                error)) {
            error = "cannot listen for metrics on " + m_options.metricsAddress + ":" +
                    std::to_string(m_options.metricsPort) + ": " + error;
            return -1;
        }
    }
    raiseDescriptorLimit();
    core->startWorkers();
    m_core = std::move(core);
    m_running = true;
    m_core->acceptConnections();
    m_loop = std::thread([core = m_core.get()] { core->run(); });
    logLine("listening on " + address + ":" + std::to_string(m_port) + (m_core->tls() ? " (TLS)" : ""));
    if (m_core->metricsPort() >= 0)
        logLine("metrics and health on http://" + m_options.metricsAddress + ":" +
                std::to_string(m_core->metricsPort()) + "/metrics and /healthz");
    startWarmup();
    return m_port;
}

void CounterServer::startWarmup() {
    if (!m_options.warmRowCache || !m_core->stores().rowCache().enabled())
        return;
    RowCacheWarmup::Setup setup;
    // The order of the query window's tabs: with a cache too small for every kind, the first ones win.
    for (const int category : {kCategoryPriceTrigger, kCategoryStopProfit, kCategoryFillTrigger,
                               kCategoryArbitrage, kCategoryBatch, kCategoryLinked}) {
        WarmKind kind{category, {}};
        if (ruleColumnsOf(category, kind.columns))
            setup.kinds.push_back(kind);
    }
    setup.today = m_options.today;
    setup.waitForRequests = [core = m_core.get()](std::chrono::milliseconds most) {
        core->waitForRequests(most);
    };
    setup.log = [core = m_core.get()](std::string_view line) { core->log(line); };
    m_warmup = std::make_unique<RowCacheWarmup>(m_core->stores(), std::move(setup));
}

bool CounterServer::waitForWarmup(std::chrono::milliseconds within) {
    WarmupReport ignored;
    return !m_warmup || m_warmup->waitDone(within, ignored);
}

void CounterServer::stop() {
    if (!m_running)
        return;
    m_warmup.reset();
    // No new connections; those waiting for a request are closed now, the others after their reply.
    m_core->stopAccepting();
    m_core->waitForRequests(std::chrono::milliseconds(m_options.stopGraceMs));
    m_core->closeAll();
    m_core->stopLoop();
    if (m_loop.joinable())
        m_loop.join();
    m_core.reset();
    m_running = false;
    logLine("stopped");
}

bool CounterServer::reload(const ServerOptions& fresh, std::string& error) {
    if (!m_core) {
        error = "not serving";
        return false;
    }
    return m_core->reload(fresh, error);
}

bool CounterServer::loopAnswers(std::chrono::milliseconds within) {
    return m_core && m_core->loopAnswers(within);
}

int CounterServer::activeConnections() {
    return m_core ? m_core->limits().active() : 0;
}

} // namespace orvo::server
