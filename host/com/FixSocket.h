// A TCP connection with a deadline on every wait: connect, send everything, receive what is there; TLS
// over it when asked. Plain POSIX sockets and poll(); no threads, no signals (SIGPIPE is suppressed per
// call).
#pragma once

#include "host/com/TlsClient.h"

#include <chrono>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace orvo {

using Deadline = std::chrono::steady_clock::time_point;

Deadline DeadlineAfter(int milliseconds);

struct TlsSettings {
    bool enabled = false;
    std::string caFile; // PEM certificates of the authorities to trust; empty: the system's
};

// True when every address `host` resolves to is a loopback address (127.0.0.0/8, ::1): nothing sent there
// leaves the machine.
bool IsLoopbackHost(const std::string& host);

class FixSocket {
public:
    enum class Result { Ok, Closed, TimedOut, Failed };

    FixSocket() = default;
    ~FixSocket() { Close(); }
    FixSocket(const FixSocket&) = delete;
    FixSocket& operator=(const FixSocket&) = delete;

    // Resolves host (a name or a numeric address) and connects within the time-out; with TLS, the
    // handshake (which checks the certificate against host) is inside the same time-out. `error` says why
    // not.
    bool Connect(const std::string& host, int port, int timeoutMs, std::string& error,
                 const TlsSettings& tls = {});
    Result SendAll(std::string_view bytes, Deadline deadline, std::string& error);
    // Waits until bytes arrive (or the deadline passes) and receives at most `into.size()` of them.
    Result Receive(std::span<char> into, Deadline deadline, std::size_t& received, std::string& error);

    // True when the peer has closed its end (seen without waiting), e.g. after a server's idle time-out.
    bool PeerClosed();

    void Close();
    bool IsOpen() const { return m_fd >= 0; }

private:
    bool StartTls(const std::string& host, const TlsSettings& tls, Deadline deadline, std::string& error);

    int m_fd = -1;
    bool m_secure = false; // TLS records over m_fd
    TlsClient m_tls;
};

} // namespace orvo
