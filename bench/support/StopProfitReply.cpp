#include "StopProfitReply.h"

#include "QueryTestData.h"

#include "protocol/FrameBuilder.h"
#include "protocol/FrameReader.h"
#include "protocol/Header.h"

#include <map>

#include <sys/resource.h>

namespace benchsupport {

RowItems StopProfitRow(std::size_t i) {
    static const std::string name = querytest::Gbk("客户甲");
    static const std::string orderState = querytest::Gbk("已报单");
    return {{"797", std::to_string(100000 + i)},
            {"605", "0101" + std::to_string(10000000 + i % 5000)},
            {"613", name},
            {"830", orderState},
            {"727", std::to_string(i % 3)},
            {"719", "cu2501"},
            {"683", (i % 2) ? "1" : "2"},
            {"684", "5"},
            {"682", "71230.5"},
            {"1796", "120"},
            {"1797", "130"},
            {"1798", (i % 4) ? "80" : "0"},
            {"1799", "90"},
            {"742", "12"},
            {"745", "8"},
            {"750", "09:30:15"},
            {"7107", "2026.12.07"},
            {"1836", "2026.12.31"},
            {"7153", "3"}};
}

std::string StopProfitReplyBytes(std::size_t rows, std::uint32_t seq, std::vector<std::size_t>* seqOffsets) {
    std::string bytes;
    bytes.reserve(rows * 256 + 256); // a row takes about 210 bytes: one block, no copies as it grows
    const std::string seqText = "34=" + std::to_string(seq) + "\x01";
    const auto noteSeq = [&](std::size_t frameStart) {
        if (seqOffsets)
            seqOffsets->push_back(bytes.find(seqText, frameStart) + 3);
    };
    for (std::size_t i = 0; i < rows; ++i) {
        const std::size_t start = bytes.size();
        orvo::proto::FrameBuilder builder(bytes);
        orvo::proto::AddRowHead(builder, seq);
        for (const auto& [key, value] : StopProfitRow(i))
            builder.Add(static_cast<std::uint32_t>(std::stoul(key)), value);
        builder.Finish();
        noteSeq(start);
    }
    const std::size_t end = bytes.size();
    orvo::proto::AppendEnd(bytes, seq, 0, "", rows);
    noteSeq(end);
    return bytes;
}

long LoopClock::ProcessMinorFaults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

void SetMsPer1000Rows(benchmark::State& state, std::size_t rows, const LoopClock& clock) {
    const double ms = std::chrono::duration<double, std::milli>(clock.Total()).count();
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["ms_per_1000_rows"] =
        iterations > 0 ? ms / iterations / (static_cast<double>(rows) / 1000.0) : 0;
    state.counters["minor_faults"] =
        iterations > 0 ? static_cast<double>(clock.MinorFaults()) / iterations : 0;
    state.SetItemsProcessed(static_cast<int64_t>(rows) * static_cast<int64_t>(state.iterations()));
}

void DecodeStopProfitReply(benchmark::State& state) {
    const auto rows = static_cast<std::size_t>(state.range(0));
    // Made once per process, as the window benchmark's replies are.
    static std::map<std::size_t, std::string> made;
    std::string& bytes = made[rows];
    if (bytes.empty())
        bytes = StopProfitReplyBytes(rows, 7);

    orvo::proto::FrameReader reader;
    orvo::proto::Frame frame;
    orvo::proto::Header header;
    LoopClock clock;
    for (auto _ : state) {
        clock.Start();
        reader.Reset();
        reader.Feed(bytes);
        std::size_t decoded = 0;
        while (reader.Next(frame) == orvo::proto::ReadResult::Frame) {
            orvo::proto::ReadHeader(frame.items, header);
            decoded += frame.items.size();
        }
        benchmark::DoNotOptimize(decoded);
        clock.Stop();
    }
    state.counters["bytes_per_row"] = static_cast<double>(bytes.size()) / static_cast<double>(rows);
    SetMsPer1000Rows(state, rows, clock);
}

} // namespace benchsupport
