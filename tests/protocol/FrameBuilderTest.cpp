// The builder writes what the reader reads, and refuses what the reader would refuse.
#include "protocol/Protocol.h"

#include <gtest/gtest.h>

#include <string>

using namespace orvo::proto;

TEST(FrameBuilder, RoundTripsItemsInOrder) {
    std::string out = "kept";
    FrameBuilder builder(out);
    AddRequestHead(builder, 42, 16476);
    builder.Add(697, "0101,0102").Add(610, "").Add(9020, 1).Add(7107, -5LL).AddNamed("ZQDM", "cu2501");
    ASSERT_EQ(builder.Finish(), Error::None);
    ASSERT_EQ(out.substr(0, 4), "kept");
    const std::string expectedBody = "35=Q\x01"
                                     "34=42\x01"
                                     "20=16476\x01"
                                     "697=0101,0102\x01"
                                     "610=\x01"
                                     "9020=1\x01"
                                     "7107=-5\x01"
                                     "ZQDM=cu2501\x01";
    ASSERT_EQ(out.size(), 4 + 4 + expectedBody.size());
    EXPECT_EQ(out.substr(8), expectedBody);
    EXPECT_EQ(static_cast<unsigned char>(out[7]), expectedBody.size());

    FrameReader reader;
    reader.Feed(std::string_view(out).substr(4));
    Frame frame;
    ASSERT_EQ(reader.Next(frame), ReadResult::Frame);
    Header header;
    ASSERT_EQ(ReadHeader(frame.items, header), Error::None);
    EXPECT_EQ(header.function, 16476u);
    EXPECT_EQ(header.seq, 42u);
    ASSERT_EQ(frame.items.size(), 8u);
    EXPECT_EQ(frame.items[header.firstData].tag, 697u);
}

TEST(FrameBuilder, AFaultLeavesTheBufferAsItWas) {
    const std::string before = "earlier frames";
    struct Case {
        void (*add)(FrameBuilder&);
        Error error;
    };
    const Case cases[] = {
        {[](FrameBuilder& b) {
             b.Add(605, "a\x01"
                        "b");
         },
         Error::ValueHasSeparator},
        {[](FrameBuilder& b) { b.Add(0, "x"); }, Error::BadTag},
        {[](FrameBuilder& b) { b.Add(2147483648u, "x"); }, Error::BadTag},
        {[](FrameBuilder& b) { b.AddNamed("khh", "x"); }, Error::BadKey},
        {[](FrameBuilder& b) { b.AddNamed("123", "x"); }, Error::BadKey}, // would read back as a tag
        {[](FrameBuilder&) {}, Error::EmptyFrame},
    };
    for (const Case& c : cases) {
        std::string out = before;
        FrameBuilder builder(out);
        builder.Add(35, "Q");
        if (c.error == Error::EmptyFrame) {
            std::string empty = before;
            FrameBuilder nothing(empty);
            EXPECT_EQ(nothing.Finish(), Error::EmptyFrame);
            EXPECT_EQ(empty, before);
            continue;
        }
        c.add(builder);
        builder.Add(34, "1"); // ignored after the fault
        EXPECT_EQ(builder.Finish(), c.error);
        EXPECT_EQ(out, before);
    }
}

TEST(FrameBuilder, AnAbandonedBuilderTakesItsPartBack) {
    std::string out = "x";
    {
        FrameBuilder builder(out);
        builder.Add(35, "R");
    }
    EXPECT_EQ(out, "x");
}

TEST(FrameBuilder, EnforcesSizeAndItemLimits) {
    Limits limits;
    limits.maxItems = 2;
    limits.maxFrameSize = 20;
    std::string out;
    FrameBuilder items(out, limits);
    items.Add(1, "a").Add(2, "b").Add(3, "c");
    EXPECT_EQ(items.Finish(), Error::TooManyItems);
    FrameBuilder size(out, limits);
    size.Add(1, std::string(17, 'x')); // 1 + '=' + 17 + 0x01 = 20 bytes: fits exactly
    EXPECT_EQ(size.Finish(), Error::None);
    FrameBuilder over(out, limits);
    over.Add(1, std::string(18, 'x'));
    EXPECT_EQ(over.Finish(), Error::FrameTooLarge);
}
