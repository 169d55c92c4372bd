// Orders of a rule (16151 current, 16171 history) and the linked-order groups (16425, 16433).
#include "ServerFixture.h"

#include <gtest/gtest.h>

#include <set>

namespace orvo::test {
namespace {

struct RuleWithOrders {
    std::string khh, lsh, kind;
    long long orders = 0, flagged = 0;
};

// A rule whose orders include at least one flagged "W" and one not flagged.
RuleWithOrders ruleWithOrders(int hist) {
    server::Statement stmt;
    std::string error;
    EXPECT_TRUE(demo().oracle.prepare(
        "SELECT khh, lsh, kind, COUNT(*), SUM(flag = 'W') FROM orders WHERE hist = " + std::to_string(hist) +
            " GROUP BY lsh HAVING SUM(flag = 'W') > 0 AND SUM(flag = 'W') < COUNT(*) ORDER BY lsh LIMIT 1",
        stmt, error));
    RuleWithOrders r;
    if (stmt.step() == SQLITE_ROW) {
        r.khh = stmt.text(0);
        r.lsh = stmt.text(1);
        r.kind = stmt.text(2);
        r.orders = stmt.integer(3);
        r.flagged = stmt.integer(4);
    }
    return r;
}

const std::vector<std::uint32_t> kDetailTags = {605, 681, 754,  719, 683, 1718, 682,  684, 1734,
                                                528, 886, 1717, 599, 750, 751,  7107, 755};

TEST(Orders, CurrentOrdersOfARuleWithTheirFlags) {
    RawClient c;
    connectAs(c, "admin");
    RuleWithOrders rule = ruleWithOrders(0);
    ASSERT_FALSE(rule.khh.empty());
    Reply r = c.call(16151, {{605, rule.khh}, {1855, rule.lsh}, {1842, rule.kind}});
    ASSERT_EQ(r.status, 0) << r.text;
    ASSERT_EQ(static_cast<long long>(r.rows.size()), rule.orders);
    long long flagged = 0;
    for (const Row& row : r.rows) {
        for (std::uint32_t tag : kDetailTags)
            EXPECT_TRUE(row.has(tag)) << tag;
        EXPECT_EQ(row.get(605), rule.khh);
        EXPECT_EQ(row.get(7107), kToday);
        flagged += row.get(755) == "W";
    }
    EXPECT_EQ(flagged, rule.flagged); // the server sends them; the client leaves them out
    // The same rule has no history orders, and another category does not match.
    EXPECT_TRUE(c.call(16171, {{605, rule.khh}, {1855, rule.lsh}, {1842, rule.kind}}).rows.empty());
    EXPECT_TRUE(c.call(16151, {{605, rule.khh}, {1855, rule.lsh}, {1842, "99"}}).rows.empty());
    // Without a category every order of the rule comes.
    EXPECT_EQ(static_cast<long long>(c.call(16151, {{605, rule.khh}, {1855, rule.lsh}}).rows.size()),
              rule.orders);
}

TEST(Orders, HistoryOrdersWithinTheDateRange) {
    RawClient c;
    connectAs(c, "admin");
    RuleWithOrders rule = ruleWithOrders(1);
    ASSERT_FALSE(rule.khh.empty());
    Reply all = c.call(16171, {{605, rule.khh}, {1855, rule.lsh}, {1842, rule.kind}});
    ASSERT_EQ(static_cast<long long>(all.rows.size()), rule.orders);
    std::set<std::string> dates;
    for (const Row& row : all.rows)
        dates.insert(row.get(7107));
    const std::string first = *dates.begin();
    Reply fromFirst =
        c.call(16171, {{605, rule.khh}, {1855, rule.lsh}, {618, first}, {590, first}, {1842, rule.kind}});
    EXPECT_EQ(
        static_cast<long long>(fromFirst.rows.size()),
        scalar("SELECT COUNT(*) FROM orders WHERE lsh = ? AND hist = 1 AND wtrq = ?", {rule.lsh, first}));
    Reply before =
        c.call(16171, {{605, rule.khh}, {1855, rule.lsh}, {618, "2000.01.01"}, {590, "2000.12.31"}});
    EXPECT_TRUE(before.rows.empty());
    EXPECT_EQ(c.call(16171, {{605, rule.khh}, {1855, rule.lsh}, {618, "yesterday"}}).status, 1);
}

TEST(Orders, KeysAreRequired) {
    RawClient c;
    connectAs(c, "admin");
    EXPECT_EQ(c.call(16151, {{1855, "1001"}, {1842, "2"}}).status, 1);
    EXPECT_EQ(c.call(16151, {{605, "010100000001"}, {1842, "2"}}).status, 1);
    EXPECT_EQ(c.call(16151, {{605, "010100000001"}, {1855, "0"}}).status, 1);
    EXPECT_EQ(c.call(16151, {{605, "010100000001"}, {1855, "12x"}}).status, 1);
    Reply none = c.call(16151, {{605, "010100000001"}, {1855, "99999999"}});
    EXPECT_EQ(none.status, 0);
    EXPECT_TRUE(none.rows.empty());
}

TEST(LinkGroups, GroupsAndSubgroupsWithTheirTags) {
    RawClient c;
    connectAs(c, "admin");
    Reply groups = c.call(16425);
    ASSERT_EQ(groups.status, 0);
    EXPECT_EQ(static_cast<long long>(groups.rows.size()), scalar("SELECT COUNT(*) FROM link_groups"));
    for (const Row& row : groups.rows)
        for (std::uint32_t tag : {1837u, 650u, 605u, 710u, 697u, 1844u, 570u})
            EXPECT_TRUE(row.has(tag)) << tag;
    EXPECT_EQ(groups.rows[0].get(650), gbk("关联组合1"));

    Reply subs = c.call(16433);
    ASSERT_EQ(subs.status, 0);
    EXPECT_EQ(static_cast<long long>(subs.rows.size()), scalar("SELECT COUNT(*) FROM link_subgroups"));
    for (const Row& row : subs.rows)
        for (std::uint32_t tag : {1837u, 1839u, 3031u, 1840u, 812u, 1845u})
            EXPECT_TRUE(row.has(tag)) << tag;
    // Group 3 holds sub-group 1 twice; the renamed row comes last.
    std::string lastName;
    for (const Row& row : subs.rows)
        if (row.get(1837) == "3" && row.get(1839) == "1")
            lastName = row.get(3031);
    EXPECT_EQ(lastName, gbk("第一分组(新)"));

    // Linked rules point at the groups, some at sub-group 0 and one at a group that does not exist.
    Reply linked = c.call(16485, {{1842, "5"}, {697, ""}, {9020, ""}});
    std::set<std::string> groupNumbers, subgroupNumbers;
    for (const Row& row : linked.rows) {
        groupNumbers.insert(row.get(1837));
        subgroupNumbers.insert(row.get(1839));
    }
    EXPECT_TRUE(groupNumbers.count("999"));
    EXPECT_TRUE(subgroupNumbers.count("0"));
}

} // namespace
} // namespace orvo::test
