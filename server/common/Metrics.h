// The server's counters for monitoring, written in the Prometheus text format by the metrics port
// (net/MetricsListener). Counting is a few relaxed atomic additions, from any thread; nothing here locks.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace orvo::server {

class Metrics {
public:
    // What is read when the page is written rather than counted.
    struct Gauges {
        int sessions = 0;           // connections being served
        std::size_t heavyQueue = 0; // heavy requests waiting for a worker
        std::size_t rowCacheBytes = 0;
        std::size_t rowCacheEntries = 0;
    };

    // One reply ended: its function, status, time from dispatch to the last byte, rows sent. Logins
    // (function 1) are counted by result as well.
    void countRequest(std::uint32_t function, int status, std::chrono::nanoseconds elapsed,
                      std::uint64_t rows);
    void countRowCache(std::size_t hits, std::size_t misses);
    void countPoolWait(); // a database connection was waited for
    void countHealthCheck(bool healthy);

    std::string render(const Gauges& gauges) const;

    // Buckets of the request-duration histogram, in seconds (upper bounds; +Inf follows).
    static constexpr std::array<double, 12> kBuckets{0.001, 0.005, 0.01, 0.025, 0.05, 0.1,
                                                     0.25,  0.5,   1.0,  2.5,   5.0,  10.0};
    // Functions get a series each as they are first answered, up to this many; the rest are "other".
    static constexpr std::size_t kMaxFunctions = 24;
    static constexpr int kStatuses = 16; // statuses 0..14 each, 15 and above together

private:
    using Counter = std::atomic<std::uint64_t>;
    struct FunctionSeries {
        std::atomic<std::uint32_t> function{0}; // 0: free slot
        std::array<Counter, kStatuses> byStatus{};
        std::array<Counter, kBuckets.size() + 1> buckets{}; // not cumulative; the last is +Inf
        Counter microseconds{0};
    };
    FunctionSeries& seriesOf(std::uint32_t function, int status);

    std::array<FunctionSeries, kMaxFunctions + 1> m_functions{}; // the last one: "other"
    Counter m_loginsAccepted{0}, m_loginsRefused{0}, m_loginsFailed{0};
    Counter m_rowsSent{0}, m_cacheHits{0}, m_cacheMisses{0}, m_poolWaits{0};
    Counter m_healthy{0}, m_unhealthy{0};
};

// The process's counters.
Metrics& metrics();

} // namespace orvo::server
