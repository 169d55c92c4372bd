// What the rule-query and window benchmarks share: the stop-loss / take-profit reply row the server
// sends, the same reply as bytes, a clock over the timed part of a loop, the per-1,000-rows figure, and
// the decode-only run that both set beside their query.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace benchsupport {

// One reply row's items in order: tag digits and value (GBK bytes).
using RowItems = std::vector<std::pair<std::string, std::string>>;

// Stop-loss / take-profit reply row i, with every tag the query reads.
RowItems StopProfitRow(std::size_t i);

// The reply bytes of `rows` stop-loss rows and their end, for a request of sequence number `seq`. With
// seqOffsets, the offset of the sequence number's digits in each frame is noted there.
std::string StopProfitReplyBytes(std::size_t rows, std::uint32_t seq,
                                 std::vector<std::size_t>* seqOffsets = nullptr);

// Times the loop body of a benchmark, and counts the minor page faults of the whole process meanwhile
// (every thread's: the channel reads ahead on one of its own). Faults do not depend on the machine's
// load as times do: a page touched for the first time costs a quarter of a microsecond or more. The
// figures go to SetMsPer1000Rows.
class LoopClock {
public:
    void Start() {
        m_faultsAtStart = ProcessMinorFaults();
        m_start = std::chrono::steady_clock::now();
    }
    void Stop() {
        m_total += std::chrono::steady_clock::now() - m_start;
        m_faults += ProcessMinorFaults() - m_faultsAtStart;
    }
    std::chrono::steady_clock::duration Total() const { return m_total; }
    long MinorFaults() const { return m_faults; }

private:
    static long ProcessMinorFaults();

    std::chrono::steady_clock::time_point m_start;
    std::chrono::steady_clock::duration m_total{};
    long m_faultsAtStart = 0;
    long m_faults = 0;
};

// ms per 1,000 rows, from the wall time of all iterations (a reply is produced on a server's thread), the
// minor page faults per iteration, and the rows as items processed.
void SetMsPer1000Rows(benchmark::State& state, std::size_t rows, const LoopClock& clock);

// The reply of state.range(0) rows decoded frame by frame with the protocol's reader and header decoder,
// as the channel does before the module reads a single item.
void DecodeStopProfitReply(benchmark::State& state);

} // namespace benchsupport
