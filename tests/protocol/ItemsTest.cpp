// Items of one body: keys, values, limits.
#include "protocol/Protocol.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

using namespace orvo::proto;

namespace {

Error Parse(std::string_view body, std::vector<Item>& items, Limits limits = {}) {
    return ParseItems(body, limits, items);
}

} // namespace

TEST(ParseItems, KeepsOrderEmptyValuesAndGbkBytes) {
    // "客户" in GBK, and a value holding '=' which belongs to the value.
    const std::string body =
        std::string("605=\xBF\xCD\xBB\xA7\x01") + "697=\x01" + "58=a=b\x01" + "KHH=0101\x01";
    std::vector<Item> items;
    ASSERT_EQ(Parse(body, items), Error::None);
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0].tag, 605u);
    EXPECT_EQ(items[0].value, "\xBF\xCD\xBB\xA7");
    EXPECT_EQ(items[1].tag, 697u);
    EXPECT_TRUE(items[1].value.empty());
    EXPECT_EQ(items[2].value, "a=b");
    EXPECT_FALSE(items[3].IsTag());
    EXPECT_EQ(items[3].key, "KHH");
    // Views point into the body: nothing was copied.
    EXPECT_EQ(items[0].value.data(), body.data() + 4);
}

TEST(ParseItems, RejectsMalformedKeys) {
    struct Case {
        const char* body;
        Error error;
    };
    const Case cases[] = {
        {"=1\x01", Error::BadKey},
        {"abc=1\x01", Error::BadKey}, // lower case is not a column name
        {"6 05=1\x01", Error::BadKey},
        {"-605=1\x01", Error::BadKey},
        {"0605=1\x01", Error::BadTag}, // leading zero
        {"0=1\x01", Error::BadTag},
        {"2147483648=1\x01", Error::BadTag},                        // one over the largest tag
        {"99999999999=1\x01", Error::BadTag},                       // eleven digits
        {"123456789012345678901234567890123=1\x01", Error::BadKey}, // 33 bytes: longer than any key
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456=1\x01", Error::BadKey},
        {"605\x01", Error::MissingEquals},
        {"605=1\x01"
         "720",
         Error::MissingTerminator},
        {"605=1", Error::MissingTerminator},
        {"", Error::EmptyFrame},
        {"\x01", Error::MissingEquals},
    };
    for (const Case& c : cases) {
        std::vector<Item> items;
        EXPECT_EQ(Parse(c.body, items), c.error) << c.body;
    }
}

// Rows are long: most keys are read with many bytes after them and values cross the blocks in which
// separators are searched. Keys and values must come out as they do from a short body.
TEST(ParseItems, ReadsLongBodiesAsShortOnes) {
    const std::string longValue(150, 'v');
    std::string body;
    std::vector<std::pair<std::uint32_t, std::string>> sent;
    for (std::size_t i = 0; i < 140; ++i) {
        const std::uint32_t tag =
            i % 10 == 9 ? 2147483647u
                        : (i % 10 == 8 ? 99999999u : static_cast<std::uint32_t>(1 + i * 7919 % 99999999));
        const std::string value = longValue.substr(0, i % 3 == 0 ? i : i % 17) + (i % 5 ? "=" : "");
        body += std::to_string(tag) + "=" + value + "\x01";
        sent.emplace_back(tag, value);
    }
    body += "KHH=0101\x01";
    std::vector<Item> items;
    ASSERT_EQ(Parse(body, items), Error::None);
    ASSERT_EQ(items.size(), sent.size() + 1);
    for (std::size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(items[i].tag, sent[i].first) << i;
        EXPECT_EQ(items[i].key, std::to_string(sent[i].first)) << i;
        EXPECT_EQ(items[i].value, sent[i].second) << i;
    }
    EXPECT_EQ(items.back().key, "KHH");
    EXPECT_EQ(items.back().value, "0101");

    // A bad key judged alike with a long item after it.
    const std::pair<const char*, Error> bad[] = {
        {"0605=1", Error::BadTag},       {"06=1", Error::BadTag},      {"99999999999=1", Error::BadTag},
        {"2147483648=1", Error::BadTag}, {"6 05=1", Error::BadKey},    {"12\x01=1", Error::MissingEquals},
        {"=1", Error::BadKey},           {"123456789=1", Error::None}, {"12345678A=1", Error::None},
    };
    for (const auto& [key, error] : bad) {
        const std::string withTail = std::string("1=a\x01") + key + "\x01" + "720=" + longValue + "\x01";
        EXPECT_EQ(Parse(withTail, items), error) << key;
    }
    EXPECT_EQ(items.size(), 3u); // the last case parsed whole
    EXPECT_EQ(items[1].tag, 0u); // a column name of digits and letters
}

TEST(ParseItems, AcceptsTheExtremesOfTheKeyRanges) {
    std::vector<Item> items;
    ASSERT_EQ(Parse("2147483647=x\x01"
                    "1=y\x01"
                    "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345=z\x01"
                    "9A_=w\x01",
                    items),
              Error::None);
    EXPECT_EQ(items[0].tag, 2147483647u);
    EXPECT_EQ(items[1].tag, 1u);
    EXPECT_EQ(items[2].key.size(), 32u);
    EXPECT_EQ(items[3].tag, 0u);
}

TEST(ParseItems, EnforcesItemCountAndTagOnlyLimits) {
    Limits limits;
    limits.maxItems = 3;
    std::vector<Item> items;
    EXPECT_EQ(Parse("1=a\x01"
                    "2=b\x01"
                    "3=c\x01",
                    items, limits),
              Error::None);
    EXPECT_EQ(Parse("1=a\x01"
                    "2=b\x01"
                    "3=c\x01"
                    "4=d\x01",
                    items, limits),
              Error::TooManyItems);
    limits.allowColumnNames = false;
    EXPECT_EQ(Parse("1=a\x01"
                    "KHH=b\x01",
                    items, limits),
              Error::ColumnNameNotAllowed);
}

TEST(ParseDecimal, IsStrict) {
    std::uint64_t v = 0;
    EXPECT_TRUE(ParseDecimal("0", 10, v));
    EXPECT_EQ(v, 0u);
    EXPECT_TRUE(ParseDecimal("4294967295", 0xFFFFFFFFu, v));
    EXPECT_FALSE(ParseDecimal("4294967296", 0xFFFFFFFFu, v));
    EXPECT_TRUE(ParseDecimal("18446744073709551615", ~0ull, v));
    EXPECT_FALSE(ParseDecimal("18446744073709551616", ~0ull, v));
    for (const char* bad : {"", "01", "+1", "-1", " 1", "1 ", "1a"})
        EXPECT_FALSE(ParseDecimal(bad, ~0ull, v)) << bad;
}

TEST(FrameFind, FindsFirstByTagOrName) {
    Frame frame;
    ASSERT_EQ(ParseItems("605=a\x01"
                         "605=b\x01"
                         "KHH=c\x01",
                         {}, frame.items),
              Error::None);
    ASSERT_NE(frame.Find(605), nullptr);
    EXPECT_EQ(frame.Find(605)->value, "a");
    EXPECT_EQ(frame.Find(606), nullptr);
    EXPECT_EQ(frame.Find(0u), nullptr); // 0 is no tag, even though column names carry it
    ASSERT_NE(frame.Find("KHH"), nullptr);
    EXPECT_EQ(frame.Find("KHH")->value, "c");
}
