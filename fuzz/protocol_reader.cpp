// Fuzz entry for the frame reader. The first input byte seeds the sizes of the pieces the rest of the
// input is fed in, so one input exercises both framing and the incremental path. Checked on every input:
// - fed in pieces, the reader gives exactly the frames (and the error) it gives when fed all at once;
// - every item is a view inside its frame's body, with a well-formed key and no 0x01 in its value;
// - a frame written again from its items reads back to the same items.
#include "protocol/Protocol.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

using namespace orvo::proto;

namespace {

struct Outcome {
    std::vector<std::string> bodies;
    Error error = Error::None;
};

void Check(bool condition) {
    if (!condition)
        std::abort();
}

void CheckFrame(const Frame& frame) {
    const char* begin = frame.body.data();
    const char* end = begin + frame.body.size();
    std::string rewritten;
    FrameBuilder builder(rewritten);
    for (const Item& item : frame.items) {
        Check(item.key.data() >= begin && item.value.data() + item.value.size() < end);
        Check(!item.key.empty() && item.key.size() <= kMaxColumnNameLength);
        Check(item.value.find('\x01') == std::string_view::npos);
        Check(item.key.find('=') == std::string_view::npos);
        if (item.IsTag())
            builder.Add(item.tag, item.value);
        else
            builder.AddNamed(item.key, item.value);
    }
    Check(builder.Finish() == Error::None);
    Check(std::string_view(rewritten).substr(kLengthPrefixSize) == frame.body);
    Header header;
    if (ReadHeader(frame.items, header) == Error::None)
        Check(header.firstData >= 1 && header.firstData <= frame.items.size());
}

Outcome Drain(FrameReader& reader, Outcome& outcome) {
    Frame frame;
    for (;;) {
        const ReadResult result = reader.Next(frame);
        if (result == ReadResult::NeedMore)
            return outcome;
        if (result == ReadResult::Error) {
            outcome.error = reader.error();
            return outcome;
        }
        CheckFrame(frame);
        outcome.bodies.emplace_back(frame.body);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    std::uint32_t seed = data[0] | 1u;
    const std::string_view stream(reinterpret_cast<const char*>(data + 1), size - 1);

    Limits limits;
    limits.maxFrameSize = 1u << 20; // keeps the fuzzer's memory small; the logic is the same
    FrameReader whole(limits);
    whole.Feed(stream);
    Outcome expected;
    Drain(whole, expected);

    FrameReader pieces(limits);
    Outcome actual;
    std::size_t offset = 0;
    while (offset < stream.size() && actual.error == Error::None) {
        seed = seed * 1103515245u + 12345u;
        const std::size_t piece = 1 + (seed >> 16) % 17;
        const std::string_view part = stream.substr(offset, piece);
        offset += part.size();
        if (seed & 0x100) {
            pieces.Feed(part);
        } else {
            auto space = pieces.PrepareWrite(part.size());
            std::copy(part.begin(), part.end(), space.begin());
            pieces.Commit(part.size());
        }
        Drain(pieces, actual);
    }
    Check(actual.bodies == expected.bodies);
    Check(actual.error == expected.error);
    return 0;
}
