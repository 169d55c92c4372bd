// Header items: what each message type must carry.
#include "protocol/Protocol.h"

#include <gtest/gtest.h>

using namespace orvo::proto;

namespace {

Error Read(std::string_view body, Header& header) {
    std::vector<Item> items;
    EXPECT_EQ(ParseItems(body, {}, items), Error::None) << body;
    return ReadHeader(items, header);
}

} // namespace

TEST(ReadHeader, DecodesEachMessageType) {
    Header h;
    ASSERT_EQ(Read("35=Q\x01"
                   "34=7\x01"
                   "20=2\x01"
                   "30=YYB\x01",
                   h),
              Error::None);
    EXPECT_EQ(h.type, MessageType::Request);
    EXPECT_EQ(h.function, 2u);
    EXPECT_EQ(h.firstData, 4u); // 30 is a protocol item too

    ASSERT_EQ(Read("35=R\x01"
                   "34=7\x01"
                   "605=1\x01",
                   h),
              Error::None);
    EXPECT_EQ(h.type, MessageType::Row);
    EXPECT_EQ(h.firstData, 2u);

    std::string end;
    ASSERT_EQ(AppendEnd(end, 7, kStatusNotPermitted, "\xC3\xBB\xD3\xD0", 0), Error::None);
    std::vector<Item> items;
    ASSERT_EQ(ParseItems(std::string_view(end).substr(4), {}, items), Error::None);
    ASSERT_EQ(ReadHeader(items, h), Error::None);
    EXPECT_EQ(h.type, MessageType::End);
    EXPECT_EQ(h.status, kStatusNotPermitted);
    EXPECT_EQ(h.text, "\xC3\xBB\xD3\xD0");
    EXPECT_EQ(h.rows, 0u);
}

TEST(ReadHeader, RejectsIncompleteOrMalformedHeaders) {
    struct Case {
        const char* body;
        Error error;
    };
    const Case cases[] = {
        {"34=1\x01"
         "35=Q\x01"
         "20=1\x01",
         Error::MissingType}, // type must come first
        {"35=X\x01"
         "34=1\x01",
         Error::MissingType},
        {"35=QQ\x01"
         "34=1\x01",
         Error::MissingType},
        {"35=R\x01"
         "605=1\x01",
         Error::BadSequence},
        {"35=R\x01"
         "34=-1\x01",
         Error::BadSequence},
        {"35=R\x01"
         "34=4294967296\x01",
         Error::BadSequence},
        {"35=R\x01"
         "34=1\x01"
         "34=2\x01",
         Error::BadSequence},
        {"35=Q\x01"
         "34=1\x01",
         Error::BadFunction},
        {"35=Q\x01"
         "34=1\x01"
         "20=0\x01",
         Error::BadFunction},
        {"35=Q\x01"
         "34=1\x01"
         "20=x\x01",
         Error::BadFunction},
        {"35=Q\x01"
         "34=1\x01"
         "605=1\x01"
         "20=3\x01",
         Error::BadFunction}, // 20 after the data
        {"35=E\x01"
         "34=1\x01"
         "60=0\x01",
         Error::BadStatus},
        {"35=E\x01"
         "34=1\x01"
         "39=0\x01"
         "60=many\x01",
         Error::BadStatus},
    };
    for (const Case& c : cases) {
        Header h;
        EXPECT_EQ(Read(c.body, h), c.error) << c.body;
    }
    Header h;
    EXPECT_EQ(ReadHeader({}, h), Error::MissingType);
}

TEST(ValueOf, GivesEmptyForAMissingTag) {
    std::vector<Item> items;
    ASSERT_EQ(ParseItems("605=1\x01"
                         "KHH=2\x01",
                         {}, items),
              Error::None);
    EXPECT_EQ(ValueOf(items, 605), "1");
    EXPECT_EQ(ValueOf(items, 720), "");
    EXPECT_EQ(ValueOf(items, 0), "");
}
