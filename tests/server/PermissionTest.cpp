// The limited operator never gets a row of a branch or group it may not see, whatever it asks.
#include "ServerFixture.h"

#include <gtest/gtest.h>

namespace orvo::test {
namespace {

// The teller may see branch 0101 and its groups G11 and G12.
bool tellerMaySee(const std::string& customer) {
    return scalar(
               "SELECT COUNT(*) FROM customers WHERE khh = ? AND branch = '0101' AND khqz IN ('G11', 'G12')",
               {customer}) == 1;
}

void expectOnlyPermitted(const Reply& r) {
    EXPECT_EQ(r.status, 0) << r.text;
    for (const Row& row : r.rows)
        EXPECT_TRUE(tellerMaySee(row.get(605))) << row.get(605);
}

TEST(Permissions, TellerGetsOnlyItsOwnRowsFromEveryRuleQuery) {
    RawClient c;
    connectAs(c, "teller");
    const std::vector<std::pair<std::uint32_t, Items>> requests = {
        {16476, {{697, ""}, {9020, ""}, {1842, "2"}}},
        {16477, {{697, ""}, {9020, ""}}},
        {16486, {{697, ""}, {9020, ""}}},
        {16479, {{697, ""}, {9020, ""}}},
        {16485, {{1842, "6"}, {697, ""}, {9020, ""}}},
        {16485, {{1842, "5"}, {697, ""}, {9020, ""}}},
    };
    size_t total = 0;
    for (const auto& [fn, items] : requests) {
        Reply r = c.call(fn, items);
        expectOnlyPermitted(r);
        total += r.rows.size();
    }
    EXPECT_GT(total, 0u); // the teller does see its own customers
    EXPECT_EQ(static_cast<long long>(total),
              scalar("SELECT COUNT(*) FROM rules r JOIN customers c ON c.khh = r.khh "
                     "WHERE c.branch = '0101' AND c.khqz IN ('G11', 'G12')"));
}

TEST(Permissions, AskingForOtherBranchesGroupsOrCustomersGivesNothingForeign) {
    RawClient c;
    connectAs(c, "teller");
    // A customer of another branch who has stop-loss rules.
    server::Statement stmt;
    std::string error;
    ASSERT_TRUE(demo().oracle.prepare("SELECT r.khh FROM rules r JOIN customers c ON c.khh = r.khh "
                                      "WHERE r.kind = 3 AND c.branch = '0102' LIMIT 1",
                                      stmt, error));
    ASSERT_EQ(stmt.step(), SQLITE_ROW);
    const std::string foreign(stmt.text(0));
    const std::vector<Items> asks = {
        {{697, "0102"}, {9020, ""}},
        {{697, "0101,0102,0103,0104,0105,0106,0107,0108"}, {9020, ""}},
        {{697, "9999"}, {9020, ""}},
        {{697, "0000"}, {9020, ""}},
        {{697, ""}, {610, "G13"}, {9020, ""}},
        {{697, ""}, {610, "G21"}, {9020, ""}},
        {{697, ""}, {605, foreign}, {9020, ""}},
        {{697, "0102"}, {605, foreign}, {9020, ""}},
    };
    for (const Items& items : asks) {
        Reply r = c.call(16477, items);
        expectOnlyPermitted(r);
    }
    EXPECT_TRUE(c.call(16477, {{697, "0102"}, {9020, ""}}).rows.empty());
    EXPECT_TRUE(c.call(16477, {{697, ""}, {605, foreign}, {9020, ""}}).rows.empty());
}

TEST(Permissions, DetailAndGroupQueriesAreCutToo) {
    RawClient teller, admin;
    connectAs(teller, "teller");
    connectAs(admin, "admin");
    // A foreign customer's triggered rule with orders: the admin sees them, the teller does not.
    server::Statement stmt;
    std::string error;
    ASSERT_TRUE(demo().oracle.prepare(
        "SELECT o.khh, o.lsh, o.kind, o.hist FROM orders o JOIN customers c ON c.khh = o.khh "
        "WHERE c.branch <> '0101' LIMIT 1",
        stmt, error));
    ASSERT_EQ(stmt.step(), SQLITE_ROW);
    const std::string khh(stmt.text(0)), lsh(stmt.text(1)), kind(stmt.text(2));
    const std::uint32_t fn = stmt.integer(3) ? 16171 : 16151;
    const Items detail = {{605, khh}, {1855, lsh}, {1842, kind}};
    EXPECT_FALSE(admin.call(fn, detail).rows.empty());
    Reply r = teller.call(fn, detail);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.rows.empty());

    Reply groups = teller.call(16425);
    expectOnlyPermitted(groups);
    EXPECT_LT(groups.rows.size(), admin.call(16425).rows.size());
    Reply subs = teller.call(16433);
    for (const Row& row : subs.rows)
        EXPECT_EQ(scalar("SELECT COUNT(*) FROM link_groups g JOIN customers c ON c.khh = g.khh "
                         "WHERE g.xzbh = ? AND c.branch = '0101' AND c.khqz IN ('G11', 'G12')",
                         {row.get(1837)}),
                  1);
    EXPECT_LT(subs.rows.size(), admin.call(16433).rows.size());
}

} // namespace
} // namespace orvo::test
