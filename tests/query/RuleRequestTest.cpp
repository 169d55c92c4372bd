// What each rule query sends: function, category item and condition items, in order.
#include "QueryServerFixture.h"

#include "module/ModuleState.h"
#include "query/RuleQueries.h"
#include "query/RuleRecordLayouts.h"

using querytest::FakeItems;
using querytest::FullConditions;
using querytest::Items;
using querytest::QueryServerTest;

namespace {

class RuleRequestTest : public QueryServerTest {
protected:
    // Runs the kind's query on a fresh record set and returns the items of its rule request.
    FakeItems SentBy(int kind, const QueryConditions& cond) {
        server.ClearRequests();
        CMemRecord rec;
        rec.Create(GetRuleLayout(kind), 0);
        EXPECT_EQ(QueryRules(kind, cond, rec), 1);
        return OnlyRequest(static_cast<std::uint32_t>(GetRuleFunction(kind)));
    }
};

const FakeItems kEmptyConditions = Items({{"697", ""}, {"9020", "0"}});

FakeItems WithCategory(FakeItems items, const std::string& category, bool before) {
    if (before)
        items.insert(items.begin(), {"1842", category});
    else
        items.emplace_back("1842", category);
    return items;
}

TEST_F(RuleRequestTest, EmptyConditionsSendBranchValidityAndTheCategoryWhereTheKindHasOne) {
    QueryConditions cond;
    cond.m_strValidity = "0";
    EXPECT_EQ(SentBy(KIND_PRICE_TRIGGER, cond), WithCategory(kEmptyConditions, "2", false));
    EXPECT_EQ(SentBy(KIND_STOP_PROFIT, cond), kEmptyConditions);
    EXPECT_EQ(SentBy(KIND_FILL_TRIGGER, cond), kEmptyConditions);
    EXPECT_EQ(SentBy(KIND_ARBITRAGE, cond), kEmptyConditions);
    EXPECT_EQ(SentBy(KIND_BATCH, cond), WithCategory(kEmptyConditions, "6", true));
    EXPECT_EQ(SentBy(KIND_LINKED, cond), WithCategory(kEmptyConditions, "5", true));
}

TEST_F(RuleRequestTest, EveryConditionGoesOutInItsOrderWithTheDatesOfExpiredRules) {
    const FakeItems all = Items({{"697", "0101,0102"},
                                 {"610", "G01"},
                                 {"605", "010100000123"},
                                 {"599", "SQ"},
                                 {"720", "cu"},
                                 {"719", "cu2501"},
                                 {"9020", "1"},
                                 {"618", "2026.12.01"},
                                 {"590", "2026.11.30"}});
    const QueryConditions cond = FullConditions();
    EXPECT_EQ(SentBy(KIND_PRICE_TRIGGER, cond), WithCategory(all, "2", false));
    EXPECT_EQ(SentBy(KIND_STOP_PROFIT, cond), all);
    EXPECT_EQ(SentBy(KIND_FILL_TRIGGER, cond), all);
    EXPECT_EQ(SentBy(KIND_ARBITRAGE, cond), all);
    EXPECT_EQ(SentBy(KIND_BATCH, cond), WithCategory(all, "6", true));
    EXPECT_EQ(SentBy(KIND_LINKED, cond), WithCategory(all, "5", true));
}

TEST_F(RuleRequestTest, EachConditionAloneIsSentUnderItsTag) {
    const std::pair<CString QueryConditions::*, const char*> members[] = {
        {&QueryConditions::m_strGroup, "610"},    {&QueryConditions::m_strCustomer, "605"},
        {&QueryConditions::m_strExchange, "599"}, {&QueryConditions::m_strVariety, "720"},
        {&QueryConditions::m_strContract, "719"},
    };
    for (const auto& [member, tag] : members) {
        QueryConditions cond;
        cond.m_strValidity = "0";
        cond.*member = " ";                 // blanks are a condition too
        cond.m_strBeginDate = "2026.01.01"; // never sent for validity "0"
        EXPECT_EQ(SentBy(KIND_STOP_PROFIT, cond), Items({{"697", ""}, {tag, " "}, {"9020", "0"}})) << tag;
    }
}

TEST_F(RuleRequestTest, OnlyValidityExactlyOneSendsTheDates) {
    QueryConditions cond = FullConditions();
    cond.m_strGroup = cond.m_strCustomer = cond.m_strExchange = cond.m_strVariety = cond.m_strContract = "";
    for (const char* validity : {"", "0", " 1", "1 ", "2"}) {
        cond.m_strValidity = validity;
        EXPECT_EQ(SentBy(KIND_ARBITRAGE, cond), Items({{"697", "0101,0102"}, {"9020", validity}}))
            << validity;
    }
    // Never confirmed: every member empty, so 697 and 9020 go out empty and no dates.
    EXPECT_EQ(SentBy(KIND_FILL_TRIGGER, QueryConditions{}), Items({{"697", ""}, {"9020", ""}}));
}

TEST_F(RuleRequestTest, ConditionTextsAreSentAsGbkBytesUnchanged) {
    QueryConditions cond;
    cond.m_strValidity = "0";
    cond.m_strCustomer = CString::FromUtf8("客户 甲");
    EXPECT_EQ(SentBy(KIND_STOP_PROFIT, cond), Items({{"697", ""}, {"605", "客户 甲"}, {"9020", "0"}}));
}

TEST_F(RuleRequestTest, LinkedQueryLoadsGroupsAndSubGroupsWithoutItemsFirst) {
    CMemRecord rec;
    rec.Create(GetRuleLayout(KIND_LINKED), 0);
    EXPECT_EQ(QueryLinkedRules(FullConditions(), rec), 1);
    EXPECT_EQ(FunctionsSent(), (std::vector<std::uint32_t>{16425, 16433, 16485}));
    EXPECT_TRUE(OnlyRequest(16425).empty());
    EXPECT_TRUE(OnlyRequest(16433).empty());
}

TEST_F(RuleRequestTest, UnknownKindSendsNothing) {
    CMemRecord rec;
    rec.Create(GetRuleLayout(KIND_BATCH), 0);
    EXPECT_EQ(QueryRules(6, QueryConditions{}, rec), 0);
    EXPECT_EQ(QueryRules(-1, QueryConditions{}, rec), 0);
    EXPECT_TRUE(FunctionsSent().empty());
}

TEST_F(RuleRequestTest, WithoutARequestChannelTheSetIsEmptiedAndNothingIsDone) {
    Reply(16477, {querytest::Row({{"797", "1"}})});
    CMemRecord rec;
    rec.Create(GetRuleLayout(KIND_STOP_PROFIT), 0);
    ASSERT_EQ(QueryStopProfitRules(QueryConditions{}, rec), 1);
    ASSERT_EQ(rec.GetRecordCount(), 1);

    g_pFixComm = nullptr;
    for (int kind = 0; kind < ORDER_KIND_COUNT; ++kind)
        EXPECT_EQ(QueryRules(kind, QueryConditions{}, rec), 0) << kind;
    EXPECT_EQ(rec.GetRecordCount(), 0);
}

} // namespace
