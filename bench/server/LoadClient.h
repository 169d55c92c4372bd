// A blocking client of the counter channel for the load generator: plain or TLS (certificate not
// verified: the load runs on loopback against a certificate it made itself), from a chosen loopback
// source address, with a time-out on every read.
#pragma once

#include "protocol/Protocol.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

using SSL_CTX = struct ssl_ctx_st;
using SSL = struct ssl_st;

namespace orvo::bench {

struct CallResult {
    bool complete = false;
    int status = -1;
    std::string text;
    std::uint64_t rows = 0;
    std::uint64_t bytes = 0;
    long retryAfterMs = -1; // a busy refusal's hint (item 61), when it has one
    // The E frame's, past the protocol's own but a login's ticket (62) and its out-of-date mark (63).
    std::vector<std::pair<std::uint32_t, std::string>> endItems;
};

class LoadClient {
public:
    LoadClient() = default;
    ~LoadClient();
    LoadClient(const LoadClient&) = delete;
    LoadClient& operator=(const LoadClient&) = delete;

    bool connect(int port, SSL_CTX* tls = nullptr, const char* source = nullptr, int timeoutMs = 30000);
    void close();
    bool connected() const { return m_fd >= 0; }
    // From another thread: ends a call that is waiting for the server.
    void abort();
    CallResult call(std::uint32_t function,
                    const std::vector<std::pair<std::uint32_t, std::string>>& items = {});
    bool login(const std::string& name, const std::string& password);
    // Sends a request and reads nothing of its reply (a client that stops reading).
    bool sendOnly(std::uint32_t function, const std::vector<std::pair<std::uint32_t, std::string>>& items);

private:
    bool sendAll(const std::string& bytes);
    long receive(char* data, std::size_t size);

    int m_fd = -1;
    SSL* m_ssl = nullptr;
    std::uint32_t m_seq = 0;
    proto::FrameReader m_reader;
};

// What the load tools share besides the client.
using LoadClock = std::chrono::steady_clock;
double msSince(LoadClock::time_point t);
// The p-quantile (0..1) of the values; -1 for none.
double percentile(std::vector<double> values, double p);
// Ready for hundreds of connections: the open-files limit raised to the hard limit, and a peer that
// goes away (SIGPIPE) an error of the write rather than the end of the process.
void prepareForManyConnections();
// A new folder under the temporary directory named from the prefix ("orvo-load"); empty on failure.
std::string makeScratchFolder(const std::string& prefix);

} // namespace orvo::bench
