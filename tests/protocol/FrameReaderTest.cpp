// The incremental reader: frames split anywhere, many frames per read, broken length prefixes.
#include "protocol/Protocol.h"

#include <gtest/gtest.h>

#include <string>

using namespace orvo::proto;

namespace {

std::string Prefix(std::uint32_t length) {
    return {static_cast<char>(length >> 24), static_cast<char>(length >> 16), static_cast<char>(length >> 8),
            static_cast<char>(length)};
}

std::string RawFrame(std::string_view body) {
    return Prefix(static_cast<std::uint32_t>(body.size())) + std::string(body);
}

std::string Row(std::uint32_t seq, std::string_view name) {
    std::string out;
    FrameBuilder builder(out);
    AddRowHead(builder, seq);
    builder.Add(605, "010100000123").Add(720, name).Add(682, "");
    EXPECT_EQ(builder.Finish(), Error::None);
    return out;
}

} // namespace

TEST(FrameReader, ByteByByteGivesEachFrameOnlyWhenWhole) {
    const std::string stream = Row(1, "first") + Row(1, "second");
    FrameReader reader;
    Frame frame;
    std::vector<std::string> names;
    for (std::size_t i = 0; i < stream.size(); ++i) {
        reader.Feed(stream.substr(i, 1));
        while (reader.Next(frame) == ReadResult::Frame)
            names.emplace_back(ValueOf(frame.items, 720));
        // A frame is complete exactly at its last byte.
        if (i + 1 < stream.size() / 2) {
            EXPECT_TRUE(names.empty()) << i;
        }
    }
    EXPECT_EQ(names, (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(reader.Buffered(), 0u);
    EXPECT_EQ(reader.error(), Error::None);
}

TEST(FrameReader, SeveralFramesInOneReadAndATrailingPart) {
    std::string stream;
    for (int i = 0; i < 50; ++i)
        stream += Row(9, "n" + std::to_string(i));
    const std::string tail = Row(9, "tail");
    stream += tail.substr(0, 7);
    FrameReader reader;
    reader.Feed(stream);
    Frame frame;
    int count = 0;
    while (reader.Next(frame) == ReadResult::Frame) {
        EXPECT_EQ(ValueOf(frame.items, 720), "n" + std::to_string(count));
        ++count;
    }
    EXPECT_EQ(count, 50);
    EXPECT_EQ(reader.Next(frame), ReadResult::NeedMore);
    reader.Feed(tail.substr(7));
    ASSERT_EQ(reader.Next(frame), ReadResult::Frame);
    EXPECT_EQ(ValueOf(frame.items, 720), "tail");
}

TEST(FrameReader, ReceivesStraightIntoItsBuffer) {
    const std::string stream = Row(3, "a") + Row(3, "b");
    FrameReader reader;
    Frame frame;
    std::size_t offset = 0;
    int count = 0;
    while (offset < stream.size()) {
        // Odd-sized pieces, as recv() might give them.
        const std::size_t piece = std::min<std::size_t>(5, stream.size() - offset);
        auto space = reader.PrepareWrite(3);
        ASSERT_GE(space.size(), 3u);
        const std::size_t n = std::min(piece, space.size());
        std::copy_n(stream.data() + offset, n, space.data());
        reader.Commit(n);
        offset += n;
        while (reader.Next(frame) == ReadResult::Frame)
            ++count;
    }
    EXPECT_EQ(count, 2);
}

TEST(FrameReader, LengthPrefixFaultsAreSeenBeforeAnyBody) {
    struct Case {
        std::string bytes;
        Error error;
    };
    const Case cases[] = {
        {Prefix(0), Error::EmptyFrame},
        {Prefix(kMaxFrameSize + 1), Error::FrameTooLarge},
        {Prefix(0xFFFFFFFFu), Error::FrameTooLarge},
    };
    for (const Case& c : cases) {
        FrameReader reader;
        reader.Feed(c.bytes);
        Frame frame;
        EXPECT_EQ(reader.Next(frame), ReadResult::Error);
        EXPECT_EQ(reader.error(), c.error);
        // The fault is sticky: a good frame after it is not read.
        reader.Feed(Row(1, "x"));
        EXPECT_EQ(reader.Next(frame), ReadResult::Error);
        reader.Reset();
        reader.Feed(Row(1, "x"));
        EXPECT_EQ(reader.Next(frame), ReadResult::Frame);
    }
}

TEST(FrameReader, HonoursASmallerConfiguredLimit) {
    Limits limits;
    limits.maxFrameSize = 14; // the frame below has 15 bytes
    FrameReader reader(limits);
    reader.Feed(RawFrame("35=Q\x01"
                         "34=1\x01"
                         "20=3\x01"));
    Frame frame;
    EXPECT_EQ(reader.Next(frame), ReadResult::Error);
    EXPECT_EQ(reader.error(), Error::FrameTooLarge);
}

TEST(FrameReader, ExactlyTheLargestFrameIsRead) {
    const std::string value(kMaxFrameSize - 5, 'x');
    std::string body = "100=" + value + "\x01";
    ASSERT_EQ(body.size(), kMaxFrameSize);
    FrameReader reader;
    reader.Feed(RawFrame(body));
    Frame frame;
    ASSERT_EQ(reader.Next(frame), ReadResult::Frame);
    EXPECT_EQ(frame.items.at(0).value.size(), value.size());
}

TEST(FrameReader, ABrokenBodyStopsTheStream) {
    FrameReader reader;
    reader.Feed(RawFrame("35=R\x01"
                         "34=1\x01"
                         "605=1") +
                Row(1, "next"));
    Frame frame;
    EXPECT_EQ(reader.Next(frame), ReadResult::Error);
    EXPECT_EQ(reader.error(), Error::MissingTerminator);
    EXPECT_TRUE(frame.items.empty());
}
