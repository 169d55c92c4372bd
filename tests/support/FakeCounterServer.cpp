// The fake counter server's socket side: listening, TLS, reading requests and writing replies on one thread.
#include "tests/support/FakeCounterConnection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace orvo::test {

namespace proto = orvo::proto;

namespace {

constexpr auto kStrayInterval = std::chrono::milliseconds(20);

void SetNonBlocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

} // namespace

FakeCounterServer::FakeCounterServer() {
    Start();
}

void FakeCounterServer::Start() {
    m_listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_listenFd < 0 || m_wakeFd < 0)
        throw std::runtime_error("FakeCounterServer: socket or eventfd failed");
    const int on = 1;
    setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(m_listenFd, 16) != 0 ||
        getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("FakeCounterServer: cannot listen on 127.0.0.1");
    m_port = ntohs(address.sin_port);
    SetNonBlocking(m_listenFd);
    m_thread = std::thread([this] { Run(); });
}

FakeCounterServer::FakeCounterServer(const TestCertificates& tls) {
    // Set up before the thread of the plain constructor could accept anything: the context is read there.
    std::signal(SIGPIPE,
                SIG_IGN); // OpenSSL writes with write(): a client gone mid-handshake must not kill the test
    m_tls = SSL_CTX_new(TLS_server_method());
    std::unique_ptr<BIO, decltype(&BIO_free)> certificateBio(
        BIO_new_mem_buf(tls.certificatePem.data(), static_cast<int>(tls.certificatePem.size())), BIO_free);
    std::unique_ptr<BIO, decltype(&BIO_free)> keyBio(
        BIO_new_mem_buf(tls.keyPem.data(), static_cast<int>(tls.keyPem.size())), BIO_free);
    X509* certificate = PEM_read_bio_X509(certificateBio.get(), nullptr, nullptr, nullptr);
    EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr);
    const bool ok =
        m_tls && certificate && key && SSL_CTX_set_min_proto_version(m_tls, TLS1_2_VERSION) == 1 &&
        SSL_CTX_use_certificate(m_tls, certificate) == 1 && SSL_CTX_use_PrivateKey(m_tls, key) == 1;
    X509_free(certificate);
    EVP_PKEY_free(key);
    if (!ok)
        throw std::runtime_error("FakeCounterServer: bad TLS certificate or key");
    SSL_CTX_set_mode(m_tls, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    Start();
}

FakeCounterServer::~FakeCounterServer() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    Wake();
    m_thread.join();
    for (auto& connection : m_connections)
        close(connection->fd);
    m_connections.clear();
    close(m_listenFd);
    close(m_wakeFd);
    SSL_CTX_free(m_tls);
}

void FakeCounterServer::Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(m_wakeFd, &one, sizeof one);
}

void FakeCounterServer::AddAccount(const std::string& operatorName, const std::string& password) {
    std::lock_guard lock(m_mutex);
    m_accounts[operatorName] = password;
}

void FakeCounterServer::SetRequireLogin(bool require) {
    std::lock_guard lock(m_mutex);
    m_requireLogin = require;
}

void FakeCounterServer::Script(std::uint32_t function, FakeReply reply) {
    std::lock_guard lock(m_mutex);
    m_scripts[function] = std::move(reply);
}

void FakeCounterServer::ScriptOnce(std::uint32_t function, FakeReply reply) {
    std::lock_guard lock(m_mutex);
    m_once[function].push_back(std::move(reply));
}

void FakeCounterServer::ScriptTable(const std::string& table, FakeReply reply) {
    std::lock_guard lock(m_mutex);
    m_tables[table] = std::move(reply);
}

std::vector<RecordedRequest> FakeCounterServer::Requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

std::vector<RecordedRequest> FakeCounterServer::Requests(std::uint32_t function) const {
    std::lock_guard lock(m_mutex);
    std::vector<RecordedRequest> result;
    for (const auto& request : m_requests)
        if (request.function == function)
            result.push_back(request);
    return result;
}

void FakeCounterServer::ClearRequests() {
    std::lock_guard lock(m_mutex);
    m_requests.clear();
}

bool FakeCounterServer::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_recorded.wait_for(lock, timeout, [&] { return m_requests.size() >= count; });
}

int FakeCounterServer::ConnectionsAccepted() const {
    std::lock_guard lock(m_mutex);
    return m_accepted;
}

int FakeCounterServer::ConnectionsOpen() const {
    std::lock_guard lock(m_mutex);
    return m_open;
}

void FakeCounterServer::DropConnections() {
    std::unique_lock lock(m_mutex);
    m_dropRequested = true;
    Wake();
    m_recorded.wait_for(lock, std::chrono::seconds(5), [&] { return !m_dropRequested; });
}

void FakeCounterServer::Run() {
    std::vector<pollfd> fds;
    for (;;) {
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping)
                return;
            if (m_dropRequested) {
                for (auto& connection : m_connections)
                    connection->dead = true;
            }
        }
        // Close what died in the last round.
        for (auto& connection : m_connections)
            if (connection->dead)
                close(connection->fd);
        std::erase_if(m_connections, [](const auto& connection) { return connection->dead; });
        {
            std::lock_guard lock(m_mutex);
            m_open = static_cast<int>(m_connections.size());
            if (m_dropRequested) {
                m_dropRequested = false;
                m_recorded.notify_all();
            }
        }

        bool straying = false;
        for (auto& connection : m_connections) {
            if (connection->strayLeft == 0)
                continue;
            straying = true;
            const auto now = std::chrono::steady_clock::now();
            if (now < connection->nextStray)
                continue;
            connection->nextStray = now + kStrayInterval;
            --connection->strayLeft;
            proto::FrameBuilder builder(connection->out);
            proto::AddRowHead(builder, connection->seq + 1000);
            builder.Add(797, "stray");
            if (builder.Finish() != proto::Error::None)
                connection->strayLeft = 0;
        }

        fds.clear();
        fds.push_back({m_wakeFd, POLLIN, 0});
        fds.push_back({m_listenFd, POLLIN, 0});
        for (auto& connection : m_connections) {
            short events = POLLIN;
            if (connection->outSent < connection->out.size())
                events |= POLLOUT;
            fds.push_back({connection->fd, events, 0});
        }
        if (poll(fds.data(), fds.size(), straying ? static_cast<int>(kStrayInterval.count()) : -1) < 0 &&
            errno != EINTR)
            return;
        if (fds[0].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t n = read(m_wakeFd, &count, sizeof count);
        }
        if (fds[1].revents & POLLIN)
            Accept();
        for (std::size_t i = 2; i < fds.size(); ++i) {
            Connection& connection = *m_connections[i - 2];
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR))
                connection.dead = !ReadFrom(connection);
            if (!connection.dead && (fds[i].revents & POLLOUT))
                connection.dead = !WriteTo(connection);
            if (!connection.dead)
                ServeNext(connection);
            if (!connection.dead)
                connection.dead = !WriteTo(connection);
        }
    }
}

void FakeCounterServer::Accept() {
    for (;;) {
        const int fd = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            return;
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        auto connection = std::make_unique<Connection>();
        connection->fd = fd;
        if (m_tls) {
            connection->ssl = SSL_new(m_tls);
            if (!connection->ssl || SSL_set_fd(connection->ssl, fd) != 1) {
                close(fd);
                continue;
            }
        }
        {
            std::lock_guard lock(m_mutex);
            connection->id = ++m_accepted;
            m_open = static_cast<int>(m_connections.size()) + 1;
        }
        m_connections.push_back(std::move(connection));
    }
}

// Bytes received (> 0), 0 when the peer closed, -1 when nothing is there now, -2 on an error.
ssize_t FakeCounterServer::Receive(Connection& connection, char* into, std::size_t size) {
    if (!connection.ssl) {
        const ssize_t n = recv(connection.fd, into, size, 0);
        return n >= 0 ? n : (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? -1 : -2;
    }
    ERR_clear_error();
    if (!connection.handshaken) {
        const int result = SSL_accept(connection.ssl);
        if (result != 1) {
            const int error = SSL_get_error(connection.ssl, result);
            return error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE ? -1 : -2;
        }
        connection.handshaken = true;
    }
    std::size_t received = 0;
    if (SSL_read_ex(connection.ssl, into, size, &received) == 1)
        return static_cast<ssize_t>(received);
    const int error = SSL_get_error(connection.ssl, 0);
    return error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE ? -1
           : error == SSL_ERROR_ZERO_RETURN                              ? 0
                                                                         : -2;
}

// Bytes sent (> 0), -1 when the socket takes nothing now, -2 on an error.
ssize_t FakeCounterServer::Transmit(Connection& connection, const char* bytes, std::size_t size) {
    if (!connection.ssl) {
        const ssize_t n = send(connection.fd, bytes, size, MSG_NOSIGNAL);
        return n > 0 ? n : (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) ? -1 : -2;
    }
    if (!connection.handshaken)
        return -1;
    ERR_clear_error();
    std::size_t written = 0;
    if (SSL_write_ex(connection.ssl, bytes, size, &written) == 1)
        return static_cast<ssize_t>(written);
    const int error = SSL_get_error(connection.ssl, 0);
    return error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE ? -1 : -2;
}

bool FakeCounterServer::ReadFrom(Connection& connection) {
    for (;;) {
        auto space = connection.reader.PrepareWrite(64 * 1024);
        const ssize_t n = Receive(connection, space.data(), space.size());
        if (n > 0) {
            // A stalled connection swallows whatever comes in.
            if (!connection.stalled)
                connection.reader.Commit(static_cast<std::size_t>(n));
            continue;
        }
        return n == -1;
    }
}

bool FakeCounterServer::WriteTo(Connection& connection) {
    for (;;) {
        TopUp(connection);
        if (connection.outSent == connection.out.size()) {
            connection.out.clear();
            connection.outSent = 0;
            return !connection.closeAfterFlush;
        }
        const ssize_t n = Transmit(connection, connection.out.data() + connection.outSent,
                                   connection.out.size() - connection.outSent);
        if (n > 0) {
            connection.outSent += static_cast<std::size_t>(n);
            continue;
        }
        return n == -1;
    }
}

} // namespace orvo::test
