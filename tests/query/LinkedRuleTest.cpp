// The linked-order query: its rows, and the group and sub-group names joined into them.
#include "QueryServerFixture.h"

#include "query/LinkedGroupNames.h"
#include "query/RuleQueries.h"
#include "query/RuleRecordLayouts.h"

using querytest::Col;
using querytest::ColumnValues;
using querytest::FakeItems;
using querytest::QueryServerTest;
using querytest::Row;
using querytest::RowOf;

namespace {

FakeItems Group(const std::string& number, const std::string& name) {
    return Row({{"1837", number},
                {"650", name},
                {"605", "C6"},
                {"710", "1"},
                {"697", "0101"},
                {"1844", "3"},
                {"570", "5"}});
}

FakeItems SubGroup(const std::string& group, const std::string& sub, const std::string& name) {
    return Row({{"1837", group},
                {"1839", sub},
                {"3031", name},
                {"1840", "1"},
                {"812", "2026.12.01"},
                {"1845", "08:00:00"}});
}

FakeItems Rule(const std::string& serial, const std::string& group, const std::string& sub) {
    return Row({{"797", serial}, {"1837", group}, {"1839", sub}});
}

class LinkedRuleTest : public QueryServerTest {
protected:
    LinkedRuleTest() { rec.Create(GetRuleLayout(KIND_LINKED), 0); }

    void ScriptGroups() {
        Reply(16425, {Group("1", "一组"), Group("1", "一组重复"), Group("2", "二组")});
        Reply(16433,
              {SubGroup("1", "1", "甲分组"), SubGroup("2", "3", "二组三"), SubGroup("1", "1", "甲分组新"),
               SubGroup("1", "0", "零分组"), SubGroup("1", "-1", "负分组")});
    }
    CMemRecord rec;
};

TEST_F(LinkedRuleTest, RowFillsEveryColumnWithJoinedNames) {
    ScriptGroups();
    Reply(16485, {Row({{"797", "6001"},
                       {"605", "C6"},
                       {"613", "周八"},
                       {"1837", "1"},
                       {"1839", "1"},
                       {"1840", "1"},
                       {"719", "y2505"},
                       {"683", "1"},
                       {"1718", "1"},
                       {"1841", "7000.5"},
                       {"682", "6999"},
                       {"684", "6"},
                       {"528", "4"},
                       {"886", "2"},
                       {"750", "15:00:00"},
                       {"7107", "2026.12.02"},
                       {"599", "DL"},
                       {"1716", "J003"},
                       {"1842", "5"}})});
    ASSERT_EQ(QueryLinkedRules(QueryConditions{}, rec), 1);
    ASSERT_EQ(rec.GetRecordCount(), 1);
    EXPECT_EQ(RowOf(rec, 0), (ColumnValues{{"流水号", "6001"},
                                           {"客户号", "C6"},
                                           {"姓名", "周八"},
                                           {"小组编号", "1"},
                                           {"分组编号", "1"},
                                           {"下单方式", "同时下单"},
                                           {"合约", "y2505"},
                                           {"买卖", "买入"},
                                           {"开平", "开仓"},
                                           {"委均价", "7000.50"},
                                           {"委手", "6"},
                                           {"成手", "4"},
                                           {"撤手", "2"},
                                           {"小组名称", "一组"},
                                           {"分组名称", "甲分组新"},
                                           {"委托时间", "15:00:00"},
                                           {"委托日期", "2026.12.02"},
                                           {"color", "0"},
                                           {"KHH", "C6"},
                                           {"JYS", "DL"},
                                           {"JYBM", "J003"},
                                           {"LSH", "6001"},
                                           {"WTDLB", "5"},
                                           {"XZBH", "1"},
                                           {"FZBH", "1"},
                                           {"XDFS", "1"}}));
}

TEST_F(LinkedRuleTest, NamesFollowTheJoinRules) {
    ScriptGroups();
    Reply(16485, {
                     Rule("1", "1", "1"),  // duplicates: first group, last sub-group
                     Rule("2", "9", "1"),  // group not loaded
                     Rule("3", "1", "0"),  // sub-group 0 never named, though a row has it
                     Rule("4", "1", "-1"), // nor a negative one
                     Rule("5", "1", "3"),  // sub-group 3 exists under another group only
                     Rule("6", "2", "3"),
                 });
    ASSERT_EQ(QueryLinkedRules(QueryConditions{}, rec), 1);
    ASSERT_EQ(rec.GetRecordCount(), 6);
    const std::pair<const char*, const char*> expected[] = {
        {"一组", "甲分组新"}, {"", ""}, {"一组", ""}, {"一组", ""}, {"一组", ""}, {"二组", "二组三"}};
    for (int row = 0; row < 6; ++row) {
        EXPECT_EQ(Col(rec, "小组名称", row), expected[row].first) << row;
        EXPECT_EQ(Col(rec, "分组名称", row), expected[row].second) << row;
    }
    // The numbers are shown whether or not a name was found.
    EXPECT_EQ(Col(rec, "小组编号", 1), "9");
    EXPECT_EQ(Col(rec, "分组编号", 3), "-1");
    EXPECT_EQ(rec.GetRecNo(), 0);
}

TEST_F(LinkedRuleTest, RulesAreListedWithEmptyNamesWhenNoGroupsCome) {
    Reply(16425, {});
    // No script for 16433: the server refuses it as an unknown function.
    Reply(16485, {Rule("1", "1", "1"), Rule("2", "2", "0")});
    ASSERT_EQ(QueryLinkedRules(QueryConditions{}, rec), 1);
    ASSERT_EQ(rec.GetRecordCount(), 2);
    for (int row = 0; row < 2; ++row) {
        EXPECT_EQ(Col(rec, "小组名称", row), "");
        EXPECT_EQ(Col(rec, "分组名称", row), "");
    }
    EXPECT_EQ(FunctionsSent(), (std::vector<std::uint32_t>{16425, 16433, 16485}));
}

TEST_F(LinkedRuleTest, GroupSetsKeepWhatTheServerSent) {
    ScriptGroups();
    CLinkedGroupNames names;
    names.Load(fix);
    ASSERT_EQ(names.Groups().GetRecordCount(), 3);
    ASSERT_EQ(names.SubGroups().GetRecordCount(), 5);
    EXPECT_EQ(RowOf(names.Groups(), 2), (querytest::ColumnValues{{"XZBH", "2"},
                                                                 {"XZMC", "二组"},
                                                                 {"KHH", "C6"},
                                                                 {"XZZT", "1"},
                                                                 {"YYB", "0101"},
                                                                 {"QX", "3"},
                                                                 {"FWXM", "5"}}));
    EXPECT_EQ(RowOf(names.SubGroups(), 1), (querytest::ColumnValues{{"XZBH", "2"},
                                                                    {"FZBH", "3"},
                                                                    {"FZJC", "二组三"},
                                                                    {"XDFS", "1"},
                                                                    {"XGRQ", "2026.12.01"},
                                                                    {"XGSJ", "08:00:00"}}));
    EXPECT_EQ(querytest::Utf8(names.GroupName(1)), "一组");
    EXPECT_EQ(querytest::Utf8(names.SubGroupName(1, 1)), "甲分组新");
    EXPECT_EQ(querytest::Utf8(names.SubGroupName(1, 0)), "");
}

TEST_F(LinkedRuleTest, GroupsCutOffPartWayNameNoRule) {
    orvo::test::FakeReply broken;
    broken.rows = {Group("1", "一组"), Group("2", "二组")};
    broken.fault = orvo::test::FakeReply::Fault::Close;
    broken.faultAfterRows = 1;
    server.Script(16425, broken);
    Reply(16433, {SubGroup("1", "1", "甲分组")});
    Reply(16485, {Rule("1", "1", "1")});
    ASSERT_EQ(QueryLinkedRules(QueryConditions{}, rec), 1);
    ASSERT_EQ(rec.GetRecordCount(), 1);
    EXPECT_EQ(Col(rec, "小组名称", 0), "");
    EXPECT_EQ(Col(rec, "分组名称", 0), "甲分组");
}

} // namespace
