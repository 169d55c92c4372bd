// The order-detail query: gates, function by validity, items per kind, and the rows it lists.
#include "QueryServerFixture.h"

#include "query/OrderDetail.h"
#include "query/RuleRecordLayouts.h"

using querytest::Col;
using querytest::ColumnValues;
using querytest::FakeItems;
using querytest::Items;
using querytest::QueryServerTest;
using querytest::Row;
using querytest::RowOf;

namespace {

struct RuleKeys {
    std::string khh = "C1";
    std::string lsh = "77";
    std::string cfzt = "1";
    std::string wtrq = "2026.11.01";
    std::string yxrq = "2026.11.30";
};

// A rule record set of the kind with one row holding the keys (those its layout has).
CMemRecord RuleSet(int kind, const RuleKeys& keys) {
    CMemRecord rec;
    rec.Create(GetRuleLayout(kind), 0);
    rec.Append(nullptr, 1);
    const std::pair<const char*, const std::string*> columns[] = {{"KHH", &keys.khh},
                                                                  {"LSH", &keys.lsh},
                                                                  {"CFZT", &keys.cfzt},
                                                                  {"WTRQ", &keys.wtrq},
                                                                  {"YXRQ", &keys.yxrq}};
    for (const auto& [column, value] : columns)
        if (rec.FindField(column) >= 0)
            rec.Set(column, value->c_str(), -1);
    return rec;
}

QueryConditions Validity(const char* validity) {
    QueryConditions cond = querytest::FullConditions();
    cond.m_strValidity = validity;
    cond.m_strBeginDate = "2026.10.01";
    cond.m_strEndDate = "2026.10.31";
    return cond;
}

class OrderDetailTest : public QueryServerTest {
protected:
    OrderDetailTest() {
        detail.Create(GetDetailLayout(), 0);
        Reply(16151, {});
        Reply(16171, {});
    }
    // Runs the detail query and returns the functions it sent.
    int Query(int kind, const CMemRecord& rule, const QueryConditions& cond) {
        server.ClearRequests();
        return QueryOrderDetail(kind, rule, cond, detail);
    }
    void PrefillDetail() {
        detail.Append(nullptr, 1);
        detail.Set("KHH", "old", -1);
    }
    CMemRecord detail;
};

TEST_F(OrderDetailTest, ItemsOfEveryKindWithinValidity) {
    const char* categories[] = {"2", "3", "4", "7", "6", "5"};
    for (int kind = 0; kind < ORDER_KIND_COUNT; ++kind) {
        ASSERT_EQ(Query(kind, RuleSet(kind, {}), Validity("0")), 1) << kind;
        EXPECT_EQ(OnlyRequest(16151), Items({{"605", "C1"}, {"1855", "77"}, {"1842", categories[kind]}}))
            << kind;
        EXPECT_TRUE(server.Requests(16171).empty());
    }
}

TEST_F(OrderDetailTest, ExpiredRulesUse16171WithTheDatesEachKindHas) {
    const QueryConditions cond = Validity("1");
    const auto dated = [](const char* begin, const char* end, const char* category) {
        return Items({{"605", "C1"}, {"1855", "77"}, {"618", begin}, {"590", end}, {"1842", category}});
    };
    // F1, F2: the rule row's own order and validity dates.
    ASSERT_EQ(Query(KIND_PRICE_TRIGGER, RuleSet(KIND_PRICE_TRIGGER, {}), cond), 1);
    EXPECT_EQ(OnlyRequest(16171), dated("2026.11.01", "2026.11.30", "2"));
    ASSERT_EQ(Query(KIND_STOP_PROFIT, RuleSet(KIND_STOP_PROFIT, {}), cond), 1);
    EXPECT_EQ(OnlyRequest(16171), dated("2026.11.01", "2026.11.30", "3"));
    // F3 rows carry no dates: the conditions' range goes out.
    ASSERT_EQ(Query(KIND_FILL_TRIGGER, RuleSet(KIND_FILL_TRIGGER, {}), cond), 1);
    EXPECT_EQ(OnlyRequest(16171), dated("2026.10.01", "2026.10.31", "4"));
    // F4 to F6: no dates even under 16171.
    const std::pair<int, const char*> undated[] = {
        {KIND_ARBITRAGE, "7"}, {KIND_BATCH, "6"}, {KIND_LINKED, "5"}};
    for (const auto& [kind, category] : undated) {
        ASSERT_EQ(Query(kind, RuleSet(kind, {}), cond), 1);
        EXPECT_EQ(OnlyRequest(16171), Items({{"605", "C1"}, {"1855", "77"}, {"1842", category}})) << kind;
    }
    EXPECT_TRUE(server.Requests(16151).empty());
}

TEST_F(OrderDetailTest, FunctionFollowsValidityExactlyOne) {
    for (const char* validity : {"", "0", " 1", "2"}) {
        QueryConditions cond;
        cond.m_strValidity = validity;
        EXPECT_EQ(DetailFunction(cond), 16151) << validity;
        ASSERT_EQ(Query(KIND_PRICE_TRIGGER, RuleSet(KIND_PRICE_TRIGGER, {}), cond), 1);
        EXPECT_EQ(OnlyRequest(16151), Items({{"605", "C1"}, {"1855", "77"}, {"1842", "2"}})) << validity;
    }
    QueryConditions expired;
    expired.m_strValidity = "1";
    EXPECT_EQ(DetailFunction(expired), 16171);
}

TEST_F(OrderDetailTest, GatesSendNothingAndLeaveTheDetailEmpty) {
    const auto expectNoRequest = [&](int kind, const CMemRecord& rule, const char* why) {
        PrefillDetail();
        EXPECT_EQ(Query(kind, rule, Validity("0")), 0) << why;
        EXPECT_EQ(detail.GetRecordCount(), 0) << why;
        EXPECT_TRUE(FunctionsSent().empty()) << why;
    };
    // A price-triggered rule that has not fired has no orders.
    expectNoRequest(KIND_PRICE_TRIGGER, RuleSet(KIND_PRICE_TRIGGER, {.cfzt = "0"}), "F1 trigger state 0");
    expectNoRequest(KIND_PRICE_TRIGGER, RuleSet(KIND_PRICE_TRIGGER, {.cfzt = "-1"}), "F1 trigger state -1");
    for (int kind = 0; kind < ORDER_KIND_COUNT; ++kind) {
        expectNoRequest(kind, RuleSet(kind, {.khh = ""}), "no customer");
        expectNoRequest(kind, RuleSet(kind, {.lsh = "0"}), "serial 0");
        expectNoRequest(kind, RuleSet(kind, {.lsh = "-5"}), "serial negative");
        CMemRecord empty;
        empty.Create(GetRuleLayout(kind), 0);
        expectNoRequest(kind, empty, "empty rule list");
    }
    expectNoRequest(6, RuleSet(KIND_BATCH, {}), "no tab selected");
    expectNoRequest(-1, RuleSet(KIND_BATCH, {}), "no tab selected");
}

TEST_F(OrderDetailTest, OnlyThePriceTriggerKindLooksAtTheTriggerState) {
    for (int kind = KIND_STOP_PROFIT; kind < ORDER_KIND_COUNT; ++kind)
        EXPECT_EQ(Query(kind, RuleSet(kind, {.cfzt = "0"}), Validity("0")), 1) << kind;
}

TEST_F(OrderDetailTest, KeysComeFromTheCurrentRow) {
    CMemRecord rule = RuleSet(KIND_BATCH, {});
    rule.Append(nullptr, 1);
    rule.Set("KHH", "C2", -1);
    rule.Set("LSH", 78L, -1);
    rule.GoTop();
    rule.Skip(1);
    ASSERT_EQ(Query(KIND_BATCH, rule, Validity("0")), 1);
    EXPECT_EQ(OnlyRequest(16151), Items({{"605", "C2"}, {"1855", "78"}, {"1842", "6"}}));
}

TEST_F(OrderDetailTest, ReplyRowFillsTheSixteenVisibleColumns) {
    Reply(16151, {Row({{"605", "C1"},
                       {"681", "90001"},
                       {"754", "全部成交"},
                       {"719", "cu2501"},
                       {"683", "2"},
                       {"1718", "1"},
                       {"682", "3500"},
                       {"684", "2"},
                       {"1734", "3501.5"},
                       {"528", "2"},
                       {"886", "0"},
                       {"1717", "3"},
                       {"599", "SQ"},
                       {"750", "09:31:00"},
                       {"751", "09:31:01"},
                       {"7107", "2026.12.07"},
                       {"755", "0"},
                       {"1716", "J9"}})});
    PrefillDetail();
    ASSERT_EQ(Query(KIND_BATCH, RuleSet(KIND_BATCH, {}), Validity("0")), 1);
    ASSERT_EQ(detail.GetRecordCount(), 1);
    // The key columns of the detail set are never written.
    EXPECT_EQ(RowOf(detail, 0), (ColumnValues{{"客户号", "C1"},
                                              {"委托号", "90001"},
                                              {"状态说明", "全部成交"},
                                              {"合约", "cu2501"},
                                              {"买卖", "卖出"},
                                              {"开平", "开仓"},
                                              {"委价", "3500.00"},
                                              {"委手", "2"},
                                              {"成价", "3501.50"},
                                              {"成手", "2"},
                                              {"撤手", "0"},
                                              {"投保", "套保"},
                                              {"交易所", "上期所"},
                                              {"委托时间", "09:31:00"},
                                              {"申报时间", "09:31:01"},
                                              {"委托日期", "2026.12.07"},
                                              {"color", "0"},
                                              {"KHH", ""},
                                              {"JYBM", ""},
                                              {"JYS", ""}}));
}

TEST_F(OrderDetailTest, RowsFlaggedExactlyWAreNotListed) {
    const auto order = [](const char* number, const char* flag) {
        return Row({{"681", number}, {"755", flag}});
    };
    Reply(16151, {order("1", "W"), order("2", "w"), order("3", "WX"), order("4", " W"), order("5", "W"),
                  order("6", "")});
    ASSERT_EQ(Query(KIND_ARBITRAGE, RuleSet(KIND_ARBITRAGE, {}), Validity("0")), 1);
    ASSERT_EQ(detail.GetRecordCount(), 4);
    const char* listed[] = {"2", "3", "4", "6"};
    for (int row = 0; row < 4; ++row)
        EXPECT_EQ(Col(detail, "委托号", row), listed[row]);

    Reply(16151, {order("1", "W"), order("2", "W")});
    ASSERT_EQ(Query(KIND_ARBITRAGE, RuleSet(KIND_ARBITRAGE, {}), Validity("0")), 1);
    EXPECT_EQ(detail.GetRecordCount(), 0);
}

TEST_F(OrderDetailTest, AReplyCutOffPartWayListsNoOrders) {
    orvo::test::FakeReply broken;
    broken.rows = {Row({{"681", "1"}}), Row({{"681", "2"}})};
    broken.fault = orvo::test::FakeReply::Fault::Close;
    broken.faultAfterRows = 1;
    server.ScriptOnce(16151, broken);
    EXPECT_EQ(Query(KIND_BATCH, RuleSet(KIND_BATCH, {}), Validity("0")), 1);
    EXPECT_EQ(detail.GetRecordCount(), 0);
}

} // namespace
