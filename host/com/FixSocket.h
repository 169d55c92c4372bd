// A TCP connection with a deadline on every wait: connect, send everything, receive what is there.
// Plain POSIX sockets and poll(); no threads, no signals (SIGPIPE is suppressed per call).
#pragma once

#include <chrono>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace orvo {

using Deadline = std::chrono::steady_clock::time_point;

Deadline DeadlineAfter(int milliseconds);

class FixSocket {
public:
    enum class Result { Ok, Closed, TimedOut, Failed };

    FixSocket() = default;
    ~FixSocket() { Close(); }
    FixSocket(const FixSocket&) = delete;
    FixSocket& operator=(const FixSocket&) = delete;

    // Resolves host (a name or a numeric address) and connects within the time-out. `error` says why not.
    bool Connect(const std::string& host, int port, int timeoutMs, std::string& error);
    Result SendAll(std::string_view bytes, Deadline deadline, std::string& error);
    // Waits until bytes arrive (or the deadline passes) and receives at most `into.size()` of them.
    Result Receive(std::span<char> into, Deadline deadline, std::size_t& received, std::string& error);

    // True when the peer has closed its end (seen without waiting), e.g. after a server's idle time-out.
    bool PeerClosed() const;

    void Close();
    bool IsOpen() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

} // namespace orvo
