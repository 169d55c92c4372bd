// Login, heartbeat, permissions (15016) and code-table downloads over loopback.
#include "ServerFixture.h"

#include <gtest/gtest.h>

#include <set>

namespace orvo::test {
namespace {

TEST(Login, AcceptsTheDemoOperatorsAndRefusesWrongPasswords) {
    RawClient c;
    ASSERT_TRUE(c.connect(demo().port));
    Reply wrong = c.call(1, {{553, "admin"}, {554, "nimda"}});
    EXPECT_TRUE(wrong.complete);
    EXPECT_EQ(wrong.status, 3);
    Reply unknown = c.call(1, {{553, "nobody"}, {554, "nobody"}});
    EXPECT_EQ(unknown.status, 3);
    Reply noName = c.call(1, {{554, "admin"}});
    EXPECT_EQ(noName.status, 1);
    // A refused login leaves the connection logged out.
    EXPECT_EQ(c.call(15016, {{517, "893"}}).status, 2);

    EXPECT_TRUE(c.login("admin", "admin"));
    EXPECT_EQ(c.call(15016, {{517, "893"}}).status, 0);
    EXPECT_TRUE(c.login("teller", "teller"));
}

TEST(Login, AFailedLoginLogsTheConnectionOut) {
    RawClient c;
    connectAs(c, "admin");
    EXPECT_FALSE(c.login("admin", "wrong"));
    EXPECT_EQ(c.call(16477, {{697, ""}, {9020, "0"}}).status, 2);
}

TEST(Login, RepeatedFailuresCloseTheConnection) {
    RawClient c;
    ASSERT_TRUE(c.connect(demo().port));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(c.call(1, {{553, "admin"}, {554, "x"}}).status, 3);
    Reply last = c.call(1, {{553, "admin"}, {554, "x"}});
    EXPECT_EQ(last.status, 3);
    EXPECT_TRUE(c.closedByPeer());
}

TEST(Session, EveryFunctionButLoginAndHeartbeatNeedsALogin) {
    RawClient c;
    ASSERT_TRUE(c.connect(demo().port));
    Reply beat = c.call(3);
    EXPECT_EQ(beat.status, 0);
    for (std::uint32_t fn :
         {2u, 15016u, 16476u, 16477u, 16486u, 16479u, 16485u, 16425u, 16433u, 16151u, 16171u}) {
        Reply r = c.call(fn, {{30, "QHJYS"}, {1842, "5"}, {697, ""}, {9020, "0"}, {605, "1"}, {1855, "1"}});
        EXPECT_EQ(r.status, 2) << fn;
        EXPECT_TRUE(r.rows.empty()) << fn;
    }
}

TEST(Session, UnknownFunctionAndSequenceEcho) {
    RawClient c;
    connectAs(c, "admin");
    Reply r = c.call(12345);
    EXPECT_EQ(r.status, 4);
    EXPECT_FALSE(r.text.empty());
    Reply next = c.call(3);
    EXPECT_EQ(next.seq, r.seq + 1);
}

TEST(Permissions, AdminSeesEverythingTellerItsBranchAndGroups) {
    RawClient admin, teller;
    connectAs(admin, "admin");
    connectAs(teller, "teller");
    Reply a = admin.call(15016, {{517, "893"}});
    ASSERT_EQ(a.rows.size(), 1u);
    EXPECT_NE(a.rows[0].get(557).find("9999"), std::string::npos);

    Reply t = teller.call(15016, {{517, "893"}});
    ASSERT_EQ(t.rows.size(), 1u);
    const std::string branches = t.rows[0].get(557), groups = t.rows[0].get(556);
    EXPECT_NE(branches.find("0101"), std::string::npos);
    EXPECT_EQ(branches.find("9999"), std::string::npos);
    EXPECT_EQ(branches.find("0102"), std::string::npos);
    // The client takes a group only when its code stands after the start of the text.
    EXPECT_GT(groups.find("G11"), 0u);
    EXPECT_NE(groups.find("G11"), std::string::npos);
    EXPECT_NE(groups.find("G12"), std::string::npos);
    EXPECT_EQ(groups.find("G13"), std::string::npos);
}

std::set<std::string> columnValues(const Reply& r, const std::string& column) {
    std::set<std::string> values;
    for (const Row& row : r.rows)
        values.insert(row.get(column));
    return values;
}

TEST(Download, CodeTablesComeKeyedByColumnNameInGbk) {
    RawClient c;
    connectAs(c, "admin");
    Reply dict = c.call(2, {{30, "QHXTDM"}});
    ASSERT_EQ(dict.status, 0);
    ASSERT_FALSE(dict.rows.empty());
    EXPECT_EQ(dict.rowCount, dict.rows.size());
    std::set<std::string> categories = columnValues(dict, "FLDM");
    for (const char* needed : {"QHMMFX", "QHKPFX", "QHTZLB", "SBJG", "CFZT", "PDFX", "TLLX", "GLWTXDFS",
                               "QHJSLX", "JYBMSX", "QHCXBZ"})
        EXPECT_TRUE(categories.count(needed)) << needed;
    bool foundBuy = false;
    for (const Row& row : dict.rows)
        if (row.get("FLDM") == "QHMMFX" && row.get("IBM") == "1") {
            EXPECT_EQ(row.get("NOTE"), gbk("买入"));
            foundBuy = true;
        }
    EXPECT_TRUE(foundBuy);

    Reply sys = c.call(2, {{30, "XTDM"}});
    std::set<std::string> sysCategories = columnValues(sys, "FLDM");
    for (const char* needed : {"KHZT", "JGLB", "QSWJLX", "DLQX", "WTFS", "ZHSX_ZJ", "GDSX", "ZQJCLB"})
        EXPECT_TRUE(sysCategories.count(needed)) << needed;

    Reply contracts = c.call(2, {{30, "QHHYDM"}});
    ASSERT_FALSE(contracts.rows.empty());
    const Row& first = contracts.rows[0];
    std::vector<std::string> keys;
    for (const auto& item : first.items)
        keys.push_back(item.first);
    EXPECT_EQ(keys, (std::vector<std::string>{"JYS", "JYSMC", "ZQLB", "ZQLBMC", "ZQDM", "HYMC"}));

    for (const char* table : {"YYB", "KHQZ", "QHJYS", "JYS", "QHPZ", "BZ", "ZQLB", "YWKM", "JYLB"}) {
        Reply r = c.call(2, {{30, table}});
        EXPECT_EQ(r.status, 0) << table;
        EXPECT_FALSE(r.rows.empty()) << table;
    }
    Reply pz = c.call(2, {{30, "QHPZ"}});
    EXPECT_FALSE(pz.rows[0].get("HYPZ").empty());
    EXPECT_FALSE(pz.rows[0].get("PZMC").empty());
}

TEST(Download, UnknownOrMissingTableIsABadRequest) {
    RawClient c;
    connectAs(c, "admin");
    EXPECT_EQ(c.call(2, {{30, "operators"}}).status, 1);
    EXPECT_EQ(c.call(2, {{30, "YYB; DROP TABLE rules"}}).status, 1);
    EXPECT_EQ(c.call(2).status, 1);
    EXPECT_GT(scalar("SELECT COUNT(*) FROM rules"), 0);
}

TEST(Download, OrganisationTablesAreCutToTheOperator) {
    RawClient admin, teller;
    connectAs(admin, "admin");
    connectAs(teller, "teller");
    std::set<std::string> all = columnValues(admin.call(2, {{30, "YYB"}}), "JGBM");
    EXPECT_TRUE(all.count("0000"));
    EXPECT_TRUE(all.count("0102"));
    // The teller's branch with the offices under it, down to the office under an office.
    EXPECT_EQ(columnValues(teller.call(2, {{30, "YYB"}}), "JGBM"),
              (std::set<std::string>{"0101", "0111", "0112"}));
    EXPECT_EQ(columnValues(teller.call(2, {{30, "KHQZ"}}), "KHQZ"), (std::set<std::string>{"G11", "G12"}));
    EXPECT_EQ(columnValues(admin.call(2, {{30, "KHQZ"}}), "KHQZ").size(), 24u);
}

} // namespace
} // namespace orvo::test
