#include "server/common/Metrics.h"

#include "protocol/Header.h"

#include <cstdio>

namespace orvo::server {
namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
// An unknown function never gets a series of its own: its number is whatever a client sent.
constexpr int kStatusUnknownFunction = proto::kStatusUnknownFunction;
constexpr int kStatusInternal = proto::kStatusInternal;

void add(std::string& out, const char* name, const char* help, const char* type) {
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += ' ';
    out += type;
    out += '\n';
}

void sample(std::string& out, const std::string& series, std::uint64_t value) {
    out += series;
    out += ' ';
    out += std::to_string(value);
    out += '\n';
}

std::string bound(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return text;
}

} // namespace

Metrics::FunctionSeries& Metrics::seriesOf(std::uint32_t function, int status) {
    FunctionSeries& other = m_functions[kMaxFunctions];
    if (function == 0 || status == kStatusUnknownFunction)
        return other;
    for (std::size_t i = 0; i < kMaxFunctions; ++i) {
        std::uint32_t held = m_functions[i].function.load(std::memory_order_acquire);
        if (held == 0 && m_functions[i].function.compare_exchange_strong(held, function))
            return m_functions[i];
        if (held == function)
            return m_functions[i];
    }
    return other;
}

void Metrics::countRequest(std::uint32_t function, int status, std::chrono::nanoseconds elapsed,
                           std::uint64_t rows) {
    FunctionSeries& series = seriesOf(function, status);
    series.byStatus[static_cast<std::size_t>(status < 0 || status >= kStatuses ? kStatuses - 1 : status)]
        .fetch_add(1, kRelaxed);
    const double seconds = std::chrono::duration<double>(elapsed).count();
    std::size_t bucket = 0;
    while (bucket < kBuckets.size() && seconds > kBuckets[bucket])
        ++bucket;
    series.buckets[bucket].fetch_add(1, kRelaxed);
    series.microseconds.fetch_add(
        static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count()),
        kRelaxed);
    m_rowsSent.fetch_add(rows, kRelaxed);
    if (function == 1)
        (status == 0                 ? m_loginsAccepted
         : status == kStatusInternal ? m_loginsFailed
                                     : m_loginsRefused)
            .fetch_add(1, kRelaxed);
}

void Metrics::countRowCache(std::size_t hits, std::size_t misses) {
    m_cacheHits.fetch_add(hits, kRelaxed);
    m_cacheMisses.fetch_add(misses, kRelaxed);
}

void Metrics::countPoolWait() {
    m_poolWaits.fetch_add(1, kRelaxed);
}

void Metrics::countHealthCheck(bool healthy) {
    (healthy ? m_healthy : m_unhealthy).fetch_add(1, kRelaxed);
}

std::string Metrics::render(const Gauges& gauges) const {
    std::string out;
    out.reserve(16 * 1024);
    add(out, "orvo_sessions", "Client connections being served.", "gauge");
    sample(out, "orvo_sessions", static_cast<std::uint64_t>(gauges.sessions < 0 ? 0 : gauges.sessions));
    add(out, "orvo_logins_total", "Logins by result.", "counter");
    sample(out, "orvo_logins_total{result=\"accepted\"}", m_loginsAccepted.load(kRelaxed));
    sample(out, "orvo_logins_total{result=\"refused\"}", m_loginsRefused.load(kRelaxed));
    sample(out, "orvo_logins_total{result=\"error\"}", m_loginsFailed.load(kRelaxed));

    add(out, "orvo_requests_total", "Requests answered, by function and end status.", "counter");
    for (std::size_t i = 0; i <= kMaxFunctions; ++i) {
        const FunctionSeries& series = m_functions[i];
        const std::uint32_t function = series.function.load(std::memory_order_acquire);
        if (i < kMaxFunctions && function == 0)
            continue;
        const std::string name = i == kMaxFunctions ? "other" : std::to_string(function);
        for (int status = 0; status < kStatuses; ++status)
            if (const auto n = series.byStatus[static_cast<std::size_t>(status)].load(kRelaxed))
                sample(out,
                       "orvo_requests_total{function=\"" + name + "\",status=\"" + std::to_string(status) +
                           "\"}",
                       n);
    }
    add(out, "orvo_request_duration_seconds", "Time from dispatch to the end of a reply, by function.",
        "histogram");
    for (std::size_t i = 0; i <= kMaxFunctions; ++i) {
        const FunctionSeries& series = m_functions[i];
        const std::uint32_t function = series.function.load(std::memory_order_acquire);
        if (i < kMaxFunctions && function == 0)
            continue;
        const std::string label =
            "function=\"" + (i == kMaxFunctions ? "other" : std::to_string(function)) + "\"";
        std::uint64_t cumulative = 0;
        for (std::size_t b = 0; b <= kBuckets.size(); ++b) {
            cumulative += series.buckets[b].load(kRelaxed);
            const std::string le = b < kBuckets.size() ? bound(kBuckets[b]) : "+Inf";
            sample(out, "orvo_request_duration_seconds_bucket{" + label + ",le=\"" + le + "\"}", cumulative);
        }
        char sum[64];
        std::snprintf(sum, sizeof sum, "%.6f", static_cast<double>(series.microseconds.load(kRelaxed)) / 1e6);
        out += "orvo_request_duration_seconds_sum{" + label + "} " + sum + "\n";
        sample(out, "orvo_request_duration_seconds_count{" + label + "}", cumulative);
    }
    add(out, "orvo_rows_sent_total", "Reply rows sent.", "counter");
    sample(out, "orvo_rows_sent_total", m_rowsSent.load(kRelaxed));
    add(out, "orvo_row_cache_hits_total", "Rule rows sent from the row cache.", "counter");
    sample(out, "orvo_row_cache_hits_total", m_cacheHits.load(kRelaxed));
    add(out, "orvo_row_cache_misses_total", "Rule rows the row cache did not hold.", "counter");
    sample(out, "orvo_row_cache_misses_total", m_cacheMisses.load(kRelaxed));
    add(out, "orvo_row_cache_bytes", "Memory the row cache holds.", "gauge");
    sample(out, "orvo_row_cache_bytes", gauges.rowCacheBytes);
    add(out, "orvo_row_cache_entries", "Rows the row cache holds.", "gauge");
    sample(out, "orvo_row_cache_entries", gauges.rowCacheEntries);
    add(out, "orvo_db_pool_waits_total", "Times a worker waited for a free PostgreSQL connection.",
        "counter");
    sample(out, "orvo_db_pool_waits_total", m_poolWaits.load(kRelaxed));
    add(out, "orvo_heavy_queue_depth", "Heavy requests waiting for a worker.", "gauge");
    sample(out, "orvo_heavy_queue_depth", gauges.heavyQueue);
    add(out, "orvo_health_checks_total", "Answers of /healthz.", "counter");
    sample(out, "orvo_health_checks_total{result=\"healthy\"}", m_healthy.load(kRelaxed));
    sample(out, "orvo_health_checks_total{result=\"unhealthy\"}", m_unhealthy.load(kRelaxed));
    return out;
}

Metrics& metrics() {
    static Metrics instance;
    return instance;
}

} // namespace orvo::server
