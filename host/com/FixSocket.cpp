#include "host/com/FixSocket.h"

#include "platform/SystemText.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace orvo {

namespace {

int MillisecondsLeft(Deadline deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::clamp<long long>(left.count(), 0, 24LL * 3600 * 1000));
}

// Waits for `events` on fd: 1 ready, 0 deadline passed, -1 poll failed.
int WaitFor(int fd, short events, Deadline deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int n = poll(&p, 1, MillisecondsLeft(deadline));
        if (n > 0)
            return 1;
        if (n == 0) {
            if (std::chrono::steady_clock::now() >= deadline)
                return 0;
            continue; // poll rounds its time-out down; wait out the rest
        }
        if (errno != EINTR)
            return -1;
    }
}

bool ConnectOne(const addrinfo& address, Deadline deadline, int& fd, std::string& error) {
    fd = socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address.ai_protocol);
    if (fd < 0) {
        error = orvo::SystemErrorText(errno);
        return false;
    }
    if (connect(fd, address.ai_addr, address.ai_addrlen) != 0) {
        if (errno != EINPROGRESS) {
            error = orvo::SystemErrorText(errno);
            close(fd);
            return false;
        }
        const int ready = WaitFor(fd, POLLOUT, deadline);
        int soError = 0;
        socklen_t length = sizeof soError;
        if (ready <= 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length) != 0 || soError != 0) {
            error = ready == 0 ? "timed out" : orvo::SystemErrorText(ready < 0 ? errno : soError);
            close(fd);
            return false;
        }
    }
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on); // requests are small; send them at once
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    return true;
}

// Waits for what TLS asked for. Ok: try again; TimedOut or Failed otherwise.
FixSocket::Result AwaitTls(int fd, TlsClient::Io io, Deadline deadline, std::string& error) {
    const int ready = WaitFor(fd, io == TlsClient::Io::WantWrite ? POLLOUT : POLLIN, deadline);
    if (ready > 0)
        return FixSocket::Result::Ok;
    if (ready < 0)
        error = orvo::SystemErrorText(errno);
    return ready == 0 ? FixSocket::Result::TimedOut : FixSocket::Result::Failed;
}

bool IsLoopback(const sockaddr* address) {
    if (address->sa_family == AF_INET)
        return (ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr) >> 24) == 127;
    if (address->sa_family != AF_INET6)
        return false;
    const in6_addr& a = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&a))
        return a.s6_addr[12] == 127;
    return IN6_IS_ADDR_LOOPBACK(&a);
}

} // namespace

bool IsLoopbackHost(const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* addresses = nullptr;
    if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &addresses) != 0)
        return false;
    bool loopback = addresses != nullptr;
    for (const addrinfo* address = addresses; address && loopback; address = address->ai_next)
        loopback = IsLoopback(address->ai_addr);
    freeaddrinfo(addresses);
    return loopback;
}

Deadline DeadlineAfter(int milliseconds) {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(milliseconds, 0));
}

bool FixSocket::Connect(const std::string& host, int port, int timeoutMs, std::string& error,
                        const TlsSettings& tls) {
    Close();
    if (host.empty() || port <= 0 || port > 65535) {
        error = "no counter server configured";
        return false;
    }
    const Deadline deadline = DeadlineAfter(timeoutMs);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* addresses = nullptr;
    const std::string service = std::to_string(port);
    if (const int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &addresses); rc != 0) {
        error = orvo::ResolverErrorText(rc);
        return false;
    }
    error = "no address";
    for (const addrinfo* address = addresses; address; address = address->ai_next) {
        int fd = -1;
        if (ConnectOne(*address, deadline, fd, error)) {
            m_fd = fd;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            break;
    }
    freeaddrinfo(addresses);
    if (m_fd >= 0 && tls.enabled && !StartTls(host, tls, deadline, error))
        Close();
    return m_fd >= 0;
}

bool FixSocket::StartTls(const std::string& host, const TlsSettings& tls, Deadline deadline,
                         std::string& error) {
    if (!m_tls.Start(m_fd, host, tls.caFile, error))
        return false;
    for (;;) {
        const TlsClient::Io io = m_tls.Handshake(error);
        if (io == TlsClient::Io::Ok) {
            m_secure = true;
            return true;
        }
        if (io != TlsClient::Io::WantRead && io != TlsClient::Io::WantWrite) {
            if (error.empty())
                error = "the TLS handshake failed";
            return false;
        }
        if (const Result wait = AwaitTls(m_fd, io, deadline, error); wait != Result::Ok) {
            if (wait == Result::TimedOut)
                error = "the TLS handshake timed out";
            return false;
        }
    }
}

FixSocket::Result FixSocket::SendAll(std::string_view bytes, Deadline deadline, std::string& error) {
    while (m_secure && !bytes.empty()) {
        std::size_t written = 0;
        const TlsClient::Io io = m_tls.Write(bytes.data(), bytes.size(), written, error);
        if (io == TlsClient::Io::Ok) {
            bytes.remove_prefix(written);
            continue;
        }
        if (io == TlsClient::Io::Closed || io == TlsClient::Io::Failed)
            return io == TlsClient::Io::Closed ? Result::Closed : Result::Failed;
        if (const Result wait = AwaitTls(m_fd, io, deadline, error); wait != Result::Ok)
            return wait;
    }
    while (!bytes.empty()) {
        const ssize_t n = send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n >= 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            error = orvo::SystemErrorText(errno);
            return errno == EPIPE || errno == ECONNRESET ? Result::Closed : Result::Failed;
        }
        const int ready = WaitFor(m_fd, POLLOUT, deadline);
        if (ready == 0)
            return Result::TimedOut;
        if (ready < 0) {
            error = orvo::SystemErrorText(errno);
            return Result::Failed;
        }
    }
    return Result::Ok;
}

FixSocket::Result FixSocket::Receive(std::span<char> into, Deadline deadline, std::size_t& received,
                                     std::string& error) {
    received = 0;
    while (m_secure) {
        const TlsClient::Io io = m_tls.Read(into.data(), into.size(), received, error);
        if (io == TlsClient::Io::Ok)
            return Result::Ok;
        if (io == TlsClient::Io::Closed || io == TlsClient::Io::Failed)
            return io == TlsClient::Io::Closed ? Result::Closed : Result::Failed;
        if (const Result wait = AwaitTls(m_fd, io, deadline, error); wait != Result::Ok)
            return wait;
    }
    for (;;) {
        const ssize_t n = recv(m_fd, into.data(), into.size(), 0);
        if (n > 0) {
            received = static_cast<std::size_t>(n);
            return Result::Ok;
        }
        if (n == 0)
            return Result::Closed;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            error = orvo::SystemErrorText(errno);
            return errno == ECONNRESET ? Result::Closed : Result::Failed;
        }
        const int ready = WaitFor(m_fd, POLLIN, deadline);
        if (ready == 0)
            return Result::TimedOut;
        if (ready < 0) {
            error = orvo::SystemErrorText(errno);
            return Result::Failed;
        }
    }
}

bool FixSocket::PeerClosed() {
    pollfd p{m_fd, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0)
        return false;
    if (p.revents & (POLLERR | POLLNVAL))
        return true;
    if (m_secure)
        return m_tls.PeerClosed(); // reads what came: a close notice, a session ticket
    char byte = 0;
    const ssize_t n = recv(m_fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

void FixSocket::Close() {
    m_tls.Close();
    m_secure = false;
    if (m_fd >= 0) {
        close(m_fd);
        m_fd = -1;
    }
}

} // namespace orvo
