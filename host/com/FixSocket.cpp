#include "host/com/FixSocket.h"

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
        error = std::strerror(errno);
        return false;
    }
    if (connect(fd, address.ai_addr, address.ai_addrlen) != 0) {
        if (errno != EINPROGRESS) {
            error = std::strerror(errno);
            close(fd);
            return false;
        }
        const int ready = WaitFor(fd, POLLOUT, deadline);
        int soError = 0;
        socklen_t length = sizeof soError;
        if (ready <= 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length) != 0 || soError != 0) {
            error = ready == 0 ? "timed out" : std::strerror(ready < 0 ? errno : soError);
            close(fd);
            return false;
        }
    }
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on); // requests are small; send them at once
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    return true;
}

} // namespace

Deadline DeadlineAfter(int milliseconds) {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(milliseconds, 0));
}

bool FixSocket::Connect(const std::string& host, int port, int timeoutMs, std::string& error) {
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
        error = gai_strerror(rc);
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
    return m_fd >= 0;
}

FixSocket::Result FixSocket::SendAll(std::string_view bytes, Deadline deadline, std::string& error) {
    while (!bytes.empty()) {
        const ssize_t n = send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n >= 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            error = std::strerror(errno);
            return errno == EPIPE || errno == ECONNRESET ? Result::Closed : Result::Failed;
        }
        const int ready = WaitFor(m_fd, POLLOUT, deadline);
        if (ready == 0)
            return Result::TimedOut;
        if (ready < 0) {
            error = std::strerror(errno);
            return Result::Failed;
        }
    }
    return Result::Ok;
}

FixSocket::Result FixSocket::Receive(std::span<char> into, Deadline deadline, std::size_t& received,
                                     std::string& error) {
    received = 0;
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
            error = std::strerror(errno);
            return errno == ECONNRESET ? Result::Closed : Result::Failed;
        }
        const int ready = WaitFor(m_fd, POLLIN, deadline);
        if (ready == 0)
            return Result::TimedOut;
        if (ready < 0) {
            error = std::strerror(errno);
            return Result::Failed;
        }
    }
}

bool FixSocket::PeerClosed() const {
    pollfd p{m_fd, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0)
        return false;
    if (p.revents & (POLLERR | POLLNVAL))
        return true;
    char byte = 0;
    const ssize_t n = recv(m_fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

void FixSocket::Close() {
    if (m_fd >= 0) {
        close(m_fd);
        m_fd = -1;
    }
}

} // namespace orvo
