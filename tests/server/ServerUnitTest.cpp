// The server's small parts: text conversion, code lists, dates and the reply writer.
#include "server/common/Dates.h"
#include "server/common/Gbk.h"
#include "server/functions/ConditionItems.h"
#include "server/store/Operator.h"
#include "server/store/ReplyWriter.h"

#include "protocol/Protocol.h"

#include <gtest/gtest.h>

namespace orvo::server {
namespace {

TEST(Gbk, RoundTripsChineseAndPassesAsciiThrough) {
    const std::string text = "沪铜2501看涨72000";
    std::string gbk = utf8ToGbk(text);
    EXPECT_EQ(gbk.size(), 4u + 4 + 4 + 5); // two bytes a Chinese character in GBK
    EXPECT_EQ(gbk.substr(0, 2), "\xBB\xA6");
    std::string back;
    ASSERT_TRUE(gbkToUtf8(gbk, back));
    EXPECT_EQ(back, text);
    EXPECT_EQ(utf8ToGbk("ABC 123"), "ABC 123");
}

TEST(Gbk, UnmappableCharactersBecomeQuestionMarksAndBadGbkIsRefused) {
    EXPECT_EQ(utf8ToGbk("a\xF0\x9F\x98\x80z"), "a?z"); // an emoji has no GBK form
    EXPECT_EQ(utf8ToGbk("a\xFFz"), "a?z");             // a stray byte
    std::string out;
    EXPECT_FALSE(gbkToUtf8("\x81", out));     // a lead byte without its trail
    EXPECT_FALSE(gbkToUtf8("\x81\x20", out)); // a trail byte out of range
}

TEST(Codes, SplitTrimsAndDropsEmptyEntries) {
    EXPECT_EQ(splitCodes(""), std::vector<std::string>{});
    EXPECT_EQ(splitCodes(" , ,"), std::vector<std::string>{});
    EXPECT_EQ(splitCodes("0101, 0102 ,,0103"), (std::vector<std::string>{"0101", "0102", "0103"}));
    bool all = false;
    std::vector<std::string> codes;
    parsePermission("0101,9999", all, codes);
    EXPECT_TRUE(all);
    EXPECT_TRUE(codes.empty());
    parsePermission("G11,G12", all, codes);
    EXPECT_FALSE(all);
    Operator op;
    op.groups = codes;
    EXPECT_EQ(op.groupsText(), ",G11,G12,");
    op.allBranches = true;
    EXPECT_EQ(op.branchesText(), ",9999,");
}

TEST(Dates, ParseFormatAndValidate) {
    long days = 0;
    ASSERT_TRUE(parseDate("2026.12.07", days));
    EXPECT_EQ(formatDate(days), "2026.12.07");
    EXPECT_EQ(formatDate(days + 25), "2027.01.01");
    ASSERT_TRUE(parseDate("2024.02.28", days));
    EXPECT_EQ(formatDate(days + 1), "2024.02.29");
    EXPECT_FALSE(parseDate("2026-12-07", days));
    EXPECT_FALSE(parseDate("2026.00.07", days));
    EXPECT_FALSE(parseDate("2026.1.7", days));
    EXPECT_TRUE(isDate("2026.12.31"));
    EXPECT_FALSE(isDate("2026.12.32"));
    EXPECT_FALSE(isDate(" 026.12.01"));
}

class CollectSink : public ByteSink {
public:
    bool write(std::string_view bytes) override {
        if (failAfter >= 0 && writes >= failAfter)
            return false;
        ++writes;
        data.append(bytes);
        return true;
    }
    std::string data;
    int writes = 0;
    int failAfter = -1;
};

TEST(ReplyWriter, RowsThenEndWithGbkAndNoStraySeparators) {
    CollectSink sink;
    ReplyWriter w(sink, 42);
    w.beginRow();
    w.add(613, "王伟");
    w.add(830, "bad\x01text");
    w.addNamed("JGBM", "0101");
    ASSERT_TRUE(w.endRow());
    ASSERT_TRUE(w.end(0, "完成"));

    proto::FrameReader reader;
    reader.Feed(sink.data);
    proto::Frame frame;
    ASSERT_EQ(reader.Next(frame), proto::ReadResult::Frame);
    EXPECT_EQ(proto::ValueOf(frame.items, 34), "42");
    EXPECT_EQ(proto::ValueOf(frame.items, 613), utf8ToGbk("王伟"));
    EXPECT_EQ(proto::ValueOf(frame.items, 830), "bad?text");
    ASSERT_NE(frame.Find("JGBM"), nullptr);
    ASSERT_EQ(reader.Next(frame), proto::ReadResult::Frame);
    proto::Header header;
    ASSERT_EQ(proto::ReadHeader(frame.items, header), proto::Error::None);
    EXPECT_EQ(header.type, proto::MessageType::End);
    EXPECT_EQ(header.rows, 1u);
    EXPECT_EQ(header.text, utf8ToGbk("完成"));
}

TEST(ReplyWriter, StreamsInBoundedChunksAndStopsWhenThePeerIsGone) {
    CollectSink sink;
    sink.failAfter = 3;
    ReplyWriter w(sink, 1);
    const std::string value(1000, 'x');
    int rows = 0;
    for (; rows < 100000; ++rows) {
        w.beginRow();
        w.add(605, value);
        if (!w.endRow())
            break;
    }
    EXPECT_LT(rows, 400); // stopped soon after the fourth chunk failed
    EXPECT_TRUE(w.failed());
    EXPECT_EQ(sink.writes, 3);
    EXPECT_LE(sink.data.size(), 3 * (ReplyWriter::kFlushBytes + 2048));
}

} // namespace
} // namespace orvo::server
