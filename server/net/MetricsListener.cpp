#include "server/net/MetricsListener.h"

#include "server/common/Metrics.h"
#include "server/common/ProcessMetrics.h"
#include "server/net/AcceptRetry.h"
#include "server/net/ServerCore.h"
#include "server/store/SchemaTables.h"

#include "orvo/Version.h"

#include <memory>

namespace orvo::server {
namespace {

// What the service adds to the counters: whether the database answered the last probe (left out until
// the first answer) and which build serves.
std::string serviceMetrics(int databaseUp) {
    std::string out;
    if (databaseUp >= 0)
        out += "# HELP orvo_database_up Whether the database answered the last probe (every 5 s, 1 s to "
               "answer).\n# TYPE orvo_database_up gauge\norvo_database_up " +
               std::to_string(databaseUp) + "\n";
    out += "# HELP orvo_build_info The program's version and the database schema it uses.\n"
           "# TYPE orvo_build_info gauge\norvo_build_info{version=\"" ORVO_VERSION "\",schema=\"" +
           std::to_string(kSchemaVersion) + "\"} 1\n";
    return out + renderProcessMetrics();
}

std::string response(const char* status, const char* type, const std::string& body) {
    return std::string("HTTP/1.0 ") + status + "\r\nContent-Type: " + type +
           "\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + body;
}

// One connection: read the request line and headers, answer, close.
class Exchange : public std::enable_shared_from_this<Exchange> {
public:
    Exchange(MetricsListener& listener, std::shared_ptr<int> open, asio::ip::tcp::socket socket)
        : m_listener(listener), m_open(std::move(open)), m_socket(std::move(socket)),
          m_deadline(m_socket.get_executor()) {
        ++*m_open;
    }
    ~Exchange() { --*m_open; }

    void start() {
        m_deadline.expires_after(std::chrono::milliseconds(MetricsListener::kRequestTimeoutMs));
        m_deadline.async_wait([self = shared_from_this()](const asio::error_code& ec) {
            if (!ec)
                self->close();
        });
        readMore();
    }

private:
    void readMore() {
        m_socket.async_read_some(asio::buffer(m_chunk),
                                 [self = shared_from_this()](const asio::error_code& ec, std::size_t n) {
                                     if (ec)
                                         return self->close();
                                     self->m_request.append(self->m_chunk.data(), n);
                                     if (self->m_request.find("\r\n\r\n") != std::string::npos ||
                                         self->m_request.find("\n\n") != std::string::npos)
                                         return self->answer();
                                     if (self->m_request.size() >= MetricsListener::kMaxRequestBytes)
                                         return self->send(response("431 Request Header Fields Too Large",
                                                                    "text/plain", "too large\n"));
                                     self->readMore();
                                 });
    }

    void answer() {
        const std::string_view request = m_request;
        const std::string_view line = request.substr(0, request.find_first_of("\r\n"));
        const size_t space = line.find(' ');
        const std::string_view method = line.substr(0, space);
        std::string_view target = space == std::string_view::npos ? "" : line.substr(space + 1);
        target = target.substr(0, target.find(' '));
        target = target.substr(0, target.find('?'));
        if (method != "GET")
            return send(response("405 Method Not Allowed", "text/plain", "GET only\n"));
        if (target == "/metrics")
            return send(response("200 OK", "text/plain; version=0.0.4; charset=utf-8",
                                 metrics().render(m_listener.core().gauges()) +
                                     serviceMetrics(m_listener.probe().up())));
        if (target == "/healthz")
            return checkHealth();
        send(response("404 Not Found", "text/plain", "/metrics or /healthz\n"));
    }

    // The database is asked on a light worker; whichever comes first, its answer or the second's end,
    // is the reply.
    void checkHealth() {
        m_deadline.cancel();
        m_deadline.expires_after(std::chrono::milliseconds(MetricsListener::kHealthTimeoutMs));
        m_deadline.async_wait([self = shared_from_this()](const asio::error_code& ec) {
            if (!ec)
                self->health(false, "database did not answer within 1 s\n");
        });
        m_listener.probe().check([self = shared_from_this()](bool healthy) {
            self->health(healthy, healthy ? "ok\n" : "database unavailable\n");
        });
    }

    void health(bool healthy, const char* text) {
        if (m_answered)
            return;
        metrics().countHealthCheck(healthy);
        send(response(healthy ? "200 OK" : "503 Service Unavailable", "text/plain", text));
    }

    void send(std::string text) {
        m_answered = true;
        m_deadline.cancel();
        m_deadline.expires_after(std::chrono::milliseconds(MetricsListener::kRequestTimeoutMs));
        m_deadline.async_wait([self = shared_from_this()](const asio::error_code& ec) {
            if (!ec)
                self->close();
        });
        m_reply = std::move(text);
        asio::async_write(
            m_socket, asio::buffer(m_reply),
            [self = shared_from_this()](const asio::error_code&, std::size_t) { self->close(); });
    }

    void close() {
        asio::error_code ignored;
        m_socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
        m_socket.close(ignored);
        m_deadline.cancel();
    }

    MetricsListener& m_listener; // used by handlers only, which run while the loop and it live
    std::shared_ptr<int> m_open;
    asio::ip::tcp::socket m_socket;
    asio::steady_timer m_deadline;
    std::array<char, 1024> m_chunk{};
    std::string m_request, m_reply;
    bool m_answered = false;
};

} // namespace

MetricsListener::MetricsListener(ServerCore& core)
    : m_core(core), m_acceptor(core.io()), m_acceptRetry(core.io()),
      m_probe(std::make_shared<DatabaseProbe>(
          core.io(), [&core](std::function<void(bool)> done) { core.probeDatabase(std::move(done)); })) {}

bool MetricsListener::listen(const asio::ip::tcp::endpoint& endpoint, std::string& error) {
    asio::error_code ec;
    m_acceptor.open(endpoint.protocol(), ec);
    if (!ec)
        m_acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true), ec);
    if (!ec)
        m_acceptor.bind(endpoint, ec);
    if (!ec)
        m_acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec)
        error = ec.message();
    return !ec;
}

int MetricsListener::port() {
    asio::error_code ec;
    const auto endpoint = m_acceptor.local_endpoint(ec);
    return ec ? -1 : endpoint.port();
}

void MetricsListener::start() {
    acceptNext();
    m_probe->start();
}

void MetricsListener::stop() {
    m_stopped = true;
    asio::error_code ignored;
    m_acceptor.close(ignored);
    m_acceptRetry.cancel();
    m_probe->stop();
}

void MetricsListener::acceptNext() {
    m_acceptor.async_accept([this](const asio::error_code& ec, asio::ip::tcp::socket socket) {
        if (m_stopped)
            return;
        if (ec) {
            acceptAgainSoon(
                m_acceptRetry, [this] { return m_stopped; }, [this] { acceptNext(); });
            return;
        }
        // Beyond the bound the socket just closes.
        if (*m_open < kMaxExchanges)
            std::make_shared<Exchange>(*this, m_open, std::move(socket))->start();
        acceptNext();
    });
}

} // namespace orvo::server
