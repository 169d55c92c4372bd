// The six rule queries: tags per kind, every condition item, validity and date ranges.
#include "ServerFixture.h"

#include "protocol/Protocol.h"
#include "server/demo/PrepareStore.h"
#include "server/functions/Functions.h"
#include "server/store/StoreRef.h"

#include <gtest/gtest.h>

#include <iterator>
#include <map>
#include <set>

namespace orvo::test {
namespace {

struct KindCase {
    std::uint32_t function;
    const char* category;            // "" when the request carries none
    int kind;                        // stored category
    std::vector<std::uint32_t> tags; // tags the client reads for this kind
};

const std::vector<KindCase>& kinds() {
    static const std::vector<KindCase> all = {
        {16476,
         "2",
         2,
         {797, 605, 613, 830, 727, 719, 683, 1718, 684, 682, 1783, 1800, 742, 750, 7107, 1240, 7153}},
        {16477,
         "",
         3,
         {797, 605, 613, 830, 727, 719, 683, 684, 682, 1796, 1797, 1798, 1799, 742, 745, 750, 7107, 1836,
          7153}},
        {16486, "", 4, {797,  605,  613, 830, 727, 9098, 1393, 1849, 1850, 1439, 1874,
                        1875, 1418, 681, 719, 683, 1718, 684,  682,  750,  7107, 1240}},
        {16479, "", 7, {797,  605,  613,  830,  727, 1718, 621,  1800, 728, 719,  683,  682, 684,  1834, 528,
                        1393, 1849, 1418, 1439, 853, 845,  1858, 9020, 750, 7107, 1836, 599, 1716, 1842}},
        {16485, "6", 6, {797, 605, 613, 719, 683, 1718, 1841, 684, 528, 886, 750, 7107, 599, 1716, 1842}},
        {16485,
         "5",
         5,
         {797, 605, 613, 1837, 1839, 1840, 719, 683, 1718, 684, 528, 886, 750, 7107, 599, 1716, 1842}},
    };
    return all;
}

// The condition items in the order the client sends them.
Items request(const KindCase& k, const Items& conditions) {
    Items items;
    if (k.function == 16485)
        items.emplace_back(1842, k.category);
    items.insert(items.end(), conditions.begin(), conditions.end());
    if (k.function == 16476)
        items.emplace_back(1842, k.category);
    return items;
}

long long expected(int kind, const std::string& where, const std::vector<std::string>& params = {}) {
    return scalar("SELECT COUNT(*) FROM rules r JOIN customers c ON c.khh = r.khh WHERE r.kind = " +
                      std::to_string(kind) + (where.empty() ? "" : " AND " + where),
                  params);
}

TEST(RuleQueries, EveryKindAnswersWithItsTagsAndOnlyItsRules) {
    RawClient c;
    connectAs(c, "admin");
    for (const KindCase& k : kinds()) {
        SCOPED_TRACE(k.function);
        SCOPED_TRACE(k.category);
        Reply r = c.call(k.function, request(k, {{697, ""}, {9020, "0"}}));
        ASSERT_EQ(r.status, 0) << r.text;
        ASSERT_FALSE(r.rows.empty());
        EXPECT_EQ(r.rows.size(), r.rowCount);
        EXPECT_EQ(static_cast<long long>(r.rows.size()), expected(k.kind, "r.valid_date >= ?", {kToday}));
        long long previous = 0;
        for (const Row& row : r.rows) {
            for (std::uint32_t tag : k.tags)
                EXPECT_TRUE(row.has(tag)) << "tag " << tag;
            if (row.has(7153)) {
                EXPECT_EQ(row.get(7153), std::to_string(k.kind));
            }
            const long long lsh = std::stoll(row.get(797));
            EXPECT_GT(lsh, previous); // rows in serial order
            previous = lsh;
            EXPECT_FALSE(row.get(613).empty());
        }
    }
}

TEST(RuleQueries, BatchAndLinkedNeedTheirCategory) {
    RawClient c;
    connectAs(c, "admin");
    EXPECT_EQ(c.call(16485, {{697, ""}, {9020, "0"}}).status, 1);
    EXPECT_EQ(c.call(16485, {{1842, "3"}, {697, ""}, {9020, "0"}}).status, 1);
    EXPECT_EQ(c.call(16485, {{1842, "x"}, {697, ""}, {9020, "0"}}).status, 1);
    EXPECT_EQ(c.call(16476, {{697, ""}, {9020, "0"}, {1842, "3"}}).status, 1);
}

TEST(RuleQueries, CustomerNamesAreGbkOfTheStoredNames) {
    RawClient c;
    connectAs(c, "admin");
    Reply r = c.call(16477, {{697, ""}, {9020, ""}});
    ASSERT_FALSE(r.rows.empty());
    const Row& row = r.rows.front();
    server::Statement stmt;
    std::string error;
    ASSERT_TRUE(demo().oracle.prepare("SELECT name FROM customers WHERE khh = ?", stmt, error));
    stmt.bind(1, std::string_view(row.get(605)));
    ASSERT_EQ(stmt.step(), SQLITE_ROW);
    EXPECT_EQ(row.get(613), gbk(std::string(stmt.text(0))));
    EXPECT_NE(row.get(613), std::string(stmt.text(0))); // really converted, not passed through
}

// Rows of a 16477 reply run straight through the handler on `db` as admin: customer -> name items.
std::map<std::string, std::set<std::string>> namesInReply(server::Db& db) {
    const server::StoreRef store(db);
    proto::FrameReader reader;
    reader.Feed(adminStopProfitReply(*store));
    std::map<std::string, std::set<std::string>> names;
    proto::Frame frame;
    while (reader.Next(frame) == proto::ReadResult::Frame)
        if (const proto::Item* name = frame.Find(613))
            names[std::string(frame.Find(605)->value)].insert(std::string(name->value));
    EXPECT_EQ(reader.error(), proto::Error::None);
    return names;
}

// Names are read afresh for every reply: a customer renamed between two replies shows renamed in every
// row of the second; a stored name holding 0x01 or text GBK cannot hold goes out as '?' there, never
// breaking the frame.
TEST(RuleQueries, ACustomerRenamedBetweenTwoRepliesShowsRenamed) {
    WritableDemo own("renamed.db");
    ASSERT_TRUE(own.ok);
    server::Db& reader = own.reader;
    server::Db& writer = own.writer;
    std::string error;

    const auto before = namesInReply(reader);
    ASSERT_GE(before.size(), 2u);
    const std::string renamed = before.begin()->first, other = std::next(before.begin())->first;
    const auto rename = [&](const std::string& utf8Name) {
        server::Statement update;
        ASSERT_TRUE(writer.prepare("UPDATE customers SET name = ? WHERE khh = ?", update, error)) << error;
        update.bind(1, std::string_view(utf8Name));
        update.bind(2, std::string_view(renamed));
        ASSERT_TRUE(update.execute()) << writer.lastError();
    };
    rename("改名客户");
    auto after = namesInReply(reader);
    EXPECT_EQ(after[renamed], std::set<std::string>{gbk("改名客户")});
    EXPECT_EQ(after[other], before.at(other));
    EXPECT_EQ(after.size(), before.size());

    rename("A\x01"
           "B\xF0\x9F\x98\x80"
           "C"); // 0x01, then a character outside GBK
    after = namesInReply(reader);
    EXPECT_EQ(after[renamed], std::set<std::string>{"A?B?C"});
    EXPECT_EQ(after.size(), before.size());
}

TEST(RuleQueries, ValidityAndDateRange) {
    RawClient c;
    connectAs(c, "admin");
    const KindCase& f1 = kinds()[0];
    Reply valid = c.call(16476, request(f1, {{697, ""}, {9020, "0"}}));
    for (const Row& row : valid.rows)
        EXPECT_GE(row.get(1240), kToday);
    Reply expired = c.call(16476, request(f1, {{697, ""}, {9020, "1"}, {618, ""}, {590, ""}}));
    ASSERT_FALSE(expired.rows.empty());
    EXPECT_EQ(static_cast<long long>(expired.rows.size()), expected(2, "r.valid_date < ?", {kToday}));
    for (const Row& row : expired.rows)
        EXPECT_LT(row.get(1240), kToday);
    Reply any = c.call(16476, request(f1, {{697, ""}, {9020, ""}}));
    EXPECT_EQ(any.rows.size(), valid.rows.size() + expired.rows.size());

    // The range selects expired rules by the date they were set, both ends included.
    const std::string begin = "2026.08.01", end = "2026.10.31";
    Reply ranged = c.call(16476, request(f1, {{697, ""}, {9020, "1"}, {618, begin}, {590, end}}));
    EXPECT_EQ(static_cast<long long>(ranged.rows.size()),
              expected(2, "r.valid_date < ? AND r.set_date BETWEEN ? AND ?", {kToday, begin, end}));
    EXPECT_LT(ranged.rows.size(), expired.rows.size());
    for (const Row& row : ranged.rows) {
        EXPECT_GE(row.get(7107), begin);
        EXPECT_LE(row.get(7107), end);
    }
    // Begin after end: nothing, and no error.
    Reply reversed = c.call(16476, request(f1, {{697, ""}, {9020, "1"}, {618, end}, {590, begin}}));
    EXPECT_EQ(reversed.status, 0);
    EXPECT_TRUE(reversed.rows.empty());
    // Dates are ignored unless the validity is "1".
    Reply validWithDates = c.call(16476, request(f1, {{697, ""}, {9020, "0"}, {618, end}, {590, begin}}));
    EXPECT_EQ(validWithDates.rows.size(), valid.rows.size());
}

TEST(RuleQueries, MalformedValidityOrDatesAreRefused) {
    RawClient c;
    connectAs(c, "admin");
    EXPECT_EQ(c.call(16477, {{697, ""}, {9020, "2"}}).status, 1);
    EXPECT_EQ(c.call(16477, {{697, ""}, {9020, "1"}, {618, "2026-01-01"}}).status, 1);
    EXPECT_EQ(c.call(16477, {{697, ""}, {9020, "1"}, {590, "2026.13.01"}}).status, 1);
    EXPECT_EQ(c.call(16477, {{697, ""}, {9020, "0"}, {605, std::string(65, '1')}}).status, 1);
    EXPECT_EQ(c.call(16477, {{697, ""}, {9020, "0"}, {605, "\x81\x20"}}).status, 1); // not GBK
}

TEST(RuleQueries, EveryConditionFilters) {
    RawClient c;
    connectAs(c, "admin");
    const KindCase& f2 = kinds()[1];
    auto count = [&](const Items& conditions) {
        Reply r = c.call(f2.function, request(f2, conditions));
        EXPECT_EQ(r.status, 0) << r.text;
        return static_cast<long long>(r.rows.size());
    };
    const long long all = count({{697, ""}, {9020, ""}});
    ASSERT_GT(all, 0);

    // Branch: a branch includes the accounts of its offices; an office only its own.
    EXPECT_EQ(count({{697, "0102"}, {9020, ""}}), expected(3, "c.branch = '0102'"));
    EXPECT_EQ(count({{697, "0111"}, {9020, ""}}), expected(3, "c.yyb = '0111'"));
    EXPECT_EQ(count({{697, "0102,0103"}, {9020, ""}}), expected(3, "c.branch IN ('0102', '0103')"));
    EXPECT_EQ(count({{697, " 0102 , 0103 "}, {9020, ""}}), expected(3, "c.branch IN ('0102', '0103')"));
    EXPECT_EQ(count({{697, "9999"}, {9020, ""}}), 0); // a branch code, not a wildcard, in a condition

    EXPECT_EQ(count({{697, ""}, {610, "G21"}, {9020, ""}}), expected(3, "c.khqz = 'G21'"));
    const std::string customer = "010200000001";
    EXPECT_EQ(count({{697, ""}, {605, customer}, {9020, ""}}), expected(3, "r.khh = ?", {customer}));
    EXPECT_EQ(count({{697, ""}, {599, "DL"}, {9020, ""}}), expected(3, "r.jys = 'DL'"));
    EXPECT_EQ(count({{697, ""}, {720, "cu"}, {9020, ""}}), expected(3, "r.zqlb = 'cu'"));
    server::Statement stmt;
    std::string error;
    ASSERT_TRUE(demo().oracle.prepare(
        "SELECT hydm FROM rules WHERE kind = 3 GROUP BY hydm ORDER BY COUNT(*) DESC", stmt, error));
    ASSERT_EQ(stmt.step(), SQLITE_ROW);
    const std::string busiest(stmt.text(0));
    EXPECT_GT(count({{697, ""}, {719, busiest}, {9020, ""}}), 1);
    EXPECT_EQ(count({{697, ""}, {719, busiest}, {9020, ""}}), expected(3, "r.hydm = ?", {busiest}));
    EXPECT_EQ(count({{697, ""}, {719, busiest + " "}, {9020, ""}}), 0); // matched exactly

    // Conditions combine.
    EXPECT_EQ(count({{697, "0101"}, {599, "SQ"}, {9020, "0"}}),
              expected(3, "c.branch = '0101' AND r.jys = 'SQ' AND r.valid_date >= ?", {kToday}));
}

TEST(RuleQueries, ArbitrageContractMatchesEitherLeg) {
    RawClient c;
    connectAs(c, "admin");
    server::Statement stmt;
    std::string error;
    ASSERT_TRUE(demo().oracle.prepare(
        "SELECT src_hydm FROM rules WHERE kind = 7 AND src_hydm <> hydm LIMIT 1", stmt, error));
    ASSERT_EQ(stmt.step(), SQLITE_ROW);
    const std::string leg2(stmt.text(0));
    Reply r = c.call(16479, {{697, ""}, {719, leg2}, {9020, ""}});
    ASSERT_FALSE(r.rows.empty());
    for (const Row& row : r.rows)
        EXPECT_TRUE(row.get(719) == leg2 || row.get(1393) == leg2);
}

TEST(RuleQueries, ConditionTextThatLooksLikeSqlIsMatchedLiterally) {
    RawClient c;
    connectAs(c, "admin");
    for (const Items& conditions : std::vector<Items>{
             {{697, ""}, {605, "' OR '1'='1"}, {9020, ""}},
             {{697, "0101') OR 1=1 --"}, {9020, ""}},
             {{697, ""}, {719, "x' UNION SELECT name, pwhash FROM operators --"}, {9020, ""}},
             {{697, ""}, {610, "G11\" OR \"\"=\""}, {9020, ""}},
         }) {
        Reply r = c.call(16477, conditions);
        EXPECT_EQ(r.status, 0) << r.text;
        EXPECT_TRUE(r.rows.empty());
    }
    EXPECT_GT(scalar("SELECT COUNT(*) FROM operators"), 0);
}

} // namespace
} // namespace orvo::test
