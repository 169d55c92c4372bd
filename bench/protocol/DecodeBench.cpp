// Decoding a large reply: 100,000 rows of 25 items (about 33 MB), against the floor of finding every
// 0x01 of the same bytes with memchr. Run: build/release/bin/bench_protocol_decode
#include "protocol/Protocol.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <string>

using namespace orvo::proto;

namespace {

constexpr int kRows = 100000;

// A reply as the server streams it: R frames of a rule row, then the end frame.
const std::string& Reply() {
    static const std::string reply = [] {
        std::string out;
        const std::uint32_t tags[] = {797, 605,  613,  830,  727, 719, 683, 1718, 684,  682, 1783, 1800, 742,
                                      750, 7107, 1240, 7153, 599, 697, 610, 720,  1842, 528, 886,  1836};
        for (int row = 0; row < kRows; ++row) {
            FrameBuilder builder(out);
            AddRowHead(builder, 17);
            for (const std::uint32_t tag : tags) {
                std::string value;
                switch (tag % 4) {
                case 0:
                    value = std::to_string(1000000 + row * 7 + tag);
                    break;
                case 1:
                    value = "\xD5\xC5\xC8\xFD\xB7\xE1"; // a GBK name
                    break;
                case 2:
                    value = "2026.12.07";
                    break;
                default:
                    value = "cu2501";
                    break;
                }
                builder.Add(tag, value);
            }
            builder.Finish();
        }
        AppendEnd(out, 17, 0, "", kRows);
        return out;
    }();
    return reply;
}

void Report(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations() * kRows);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(Reply().size()));
    state.counters["MB"] = static_cast<double>(Reply().size()) / 1e6;
}

// The floor: every separator found, nothing else done.
void BM_MemchrEverySeparator(benchmark::State& state) {
    const std::string& bytes = Reply();
    for (auto _ : state) {
        std::size_t count = 0;
        const char* p = bytes.data();
        const char* end = p + bytes.size();
        while ((p = static_cast<const char*>(std::memchr(p, '\x01', static_cast<std::size_t>(end - p))))) {
            ++count;
            ++p;
        }
        benchmark::DoNotOptimize(count);
    }
    Report(state);
}

// Frames split and items parsed in place (what a reader does once the bytes are in its buffer).
void BM_DecodeInPlace(benchmark::State& state) {
    const std::string_view bytes = Reply();
    const Limits limits;
    std::vector<Item> items;
    items.reserve(64);
    for (auto _ : state) {
        std::string_view rest = bytes;
        std::size_t seen = 0;
        std::string_view body;
        std::size_t consumed = 0;
        Error error = Error::None;
        while (SplitFrame(rest, limits, body, consumed, error) == ReadResult::Frame) {
            if (ParseItems(body, limits, items) != Error::None)
                state.SkipWithError("parse failed");
            seen += items.size();
            rest.remove_prefix(consumed);
        }
        benchmark::DoNotOptimize(seen);
    }
    Report(state);
}

// The FrameReader fed 64 KiB at a time, as recv() would, header read for each frame.
void BM_DecodeWithReader(benchmark::State& state) {
    const std::string_view bytes = Reply();
    Frame frame;
    for (auto _ : state) {
        FrameReader reader;
        std::size_t rows = 0;
        for (std::size_t offset = 0; offset < bytes.size(); offset += 64 * 1024) {
            reader.Feed(bytes.substr(offset, 64 * 1024));
            while (reader.Next(frame) == ReadResult::Frame) {
                Header header;
                ReadHeader(frame.items, header);
                rows += header.type == MessageType::Row;
            }
        }
        if (rows != kRows)
            state.SkipWithError("rows lost");
    }
    Report(state);
}

// What to avoid: a std::map of copied strings per row.
void BM_NaiveMapPerRow(benchmark::State& state) {
    const std::string_view bytes = Reply();
    const Limits limits;
    for (auto _ : state) {
        std::string_view rest = bytes;
        std::string_view body;
        std::size_t consumed = 0;
        Error error = Error::None;
        std::size_t seen = 0;
        while (SplitFrame(rest, limits, body, consumed, error) == ReadResult::Frame) {
            std::map<std::string, std::string> row;
            std::size_t start = 0;
            while (start < body.size()) {
                const std::size_t stop = body.find('\x01', start);
                const std::string_view item = body.substr(start, stop - start);
                const std::size_t eq = item.find('=');
                row.emplace(std::string(item.substr(0, eq)), std::string(item.substr(eq + 1)));
                start = stop + 1;
            }
            seen += row.size();
            rest.remove_prefix(consumed);
        }
        benchmark::DoNotOptimize(seen);
    }
    Report(state);
}

} // namespace

BENCHMARK(BM_MemchrEverySeparator)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeInPlace)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeWithReader)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NaiveMapPerRow)->Unit(benchmark::kMillisecond);
