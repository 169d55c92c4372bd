// What each rule query writes into its record set: every column of a reply row, in layout order.
#include "QueryServerFixture.h"

#include "query/RuleQueries.h"
#include "query/RuleRecordLayouts.h"
#include "query/TranslateCode.h"

#include "platform/TextNumbers.h"

#include <random>
#include <string>
#include <string_view>
#include <vector>

using querytest::Col;
using querytest::ColumnValues;
using querytest::QueryServerTest;
using querytest::Row;
using querytest::RowOf;

namespace {

class RuleRowTest : public QueryServerTest {
protected:
    CMemRecord& Run(int kind, std::vector<querytest::FakeItems> rows) {
        Reply(static_cast<std::uint32_t>(GetRuleFunction(kind)), std::move(rows));
        rec.Create(GetRuleLayout(kind), 0);
        QueryConditions cond;
        cond.m_strValidity = "0";
        EXPECT_EQ(QueryRules(kind, cond, rec), 1);
        return rec;
    }
    CMemRecord rec;
};

TEST_F(RuleRowTest, PriceTriggerRowFillsEveryColumn) {
    Run(KIND_PRICE_TRIGGER, {Row({{"797", "1001"},
                                  {"605", "010100000123"},
                                  {"613", "张三"},
                                  {"830", "已报单"},
                                  {"727", "1"},
                                  {"719", "cu2501"},
                                  {"683", "1"},
                                  {"1718", "2"},
                                  {"684", "5"},
                                  {"682", "3500.5"},
                                  {"1783", "1"},
                                  {"1800", "3600"},
                                  {"742", "3"},
                                  {"750", "09:30:00"},
                                  {"7107", "2026.12.07"},
                                  {"1240", "2026.12.31"},
                                  {"7153", "2"},
                                  {"1836", "1999.01.01"}}),
                             Row({{"797", "1002"}, {"727", "0"}, {"1783", "7"}, {"1800", "3610"}})});
    ASSERT_EQ(rec.GetRecordCount(), 2);
    EXPECT_EQ(RowOf(rec, 0), (ColumnValues{{"流水号", "1001"},
                                           {"客户号", "010100000123"},
                                           {"姓名", "张三"},
                                           {"状态说明", "已报单"},
                                           {"触发状态", "已触发"},
                                           {"合约", "cu2501"},
                                           {"买卖", "买入"},
                                           {"开平", "平仓"},
                                           {"委手", "5"},
                                           {"委价", "3500.50"},
                                           {"触发价", "大于等于3600"},
                                           {"触点数", "3"},
                                           {"设置时间", "09:30:00"},
                                           {"设置日期", "2026.12.07"},
                                           {"有效日期", "2026.12.31"},
                                           {"color", "0"},
                                           {"KHH", "010100000123"},
                                           {"CFZT", "1"},
                                           {"LSH", "1001"},
                                           {"WTDLB", "2"},
                                           {"WTRQ", "2026.12.07"},
                                           {"YXRQ", "2026.12.31"}}));
    // Missing items read as empty text / 0; a comparison code the dictionary lacks leaves the price alone.
    EXPECT_EQ(Col(rec, "触发价", 1), "3610");
    EXPECT_EQ(Col(rec, "触发状态", 1), "未触发");
    EXPECT_EQ(Col(rec, "买卖", 1), "代码零");
    EXPECT_EQ(Col(rec, "开平", 1), "");
    EXPECT_EQ(Col(rec, "客户号", 1), "");
    // F1 leaves the last appended row current.
    EXPECT_EQ(rec.GetRecNo(), 1);
}

TEST_F(RuleRowTest, StopProfitRowFillsEveryColumnWithThePriceRule) {
    Run(KIND_STOP_PROFIT,
        {Row({{"797", "2001"},        {"605", "010100000124"}, {"613", "李四"},        {"830", "待触发"},
              {"727", "2"},           {"719", "rb2505"},       {"683", "1"},           {"684", "3"},
              {"682", "100"},         {"1796", "2.5"},         {"1797", "0"},          {"1798", "1.25"},
              {"1799", "0.0"},        {"742", "10"},           {"745", "20"},          {"750", "10:00:00"},
              {"7107", "2026.12.06"}, {"1836", "2026.12.20"},  {"1240", "1999.01.01"}, {"7153", "3"}}),
         Row({{"797", "2002"},
              {"683", "2"},
              {"682", "100"},
              {"1796", "2.5"},
              {"1797", "3"},
              {"1798", "1.25"},
              {"1799", "4"}}),
         Row({{"797", "2003"}, {"683", "1"}, {"682", "55"}})});
    ASSERT_EQ(rec.GetRecordCount(), 3);
    EXPECT_EQ(RowOf(rec, 0), (ColumnValues{{"流水号", "2001"},
                                           {"客户号", "010100000124"},
                                           {"姓名", "李四"},
                                           {"状态说明", "待触发"},
                                           {"触发状态", "已撤销"},
                                           {"合约", "rb2505"},
                                           {"买卖", "买入"},
                                           {"委手", "3"},
                                           {"委价", "100.00"},
                                           {"盈触价", "102.50"},
                                           {"盈委价", ""},
                                           {"盈触点数", "10"},
                                           {"损触价", "98.75"},
                                           {"损委价", ""},
                                           {"损触点数", "20"},
                                           {"设置时间", "10:00:00"},
                                           {"设置日期", "2026.12.06"},
                                           {"有效日期", "2026.12.20"},
                                           {"color", "0"},
                                           {"KHH", "010100000124"},
                                           {"LSH", "2001"},
                                           {"CFZT", "2"},
                                           {"WTDLB", "3"},
                                           {"WTRQ", "2026.12.06"},
                                           {"YXRQ", "2026.12.20"}}));
    // Direction other than 1: profit below the order price, loss above.
    EXPECT_EQ(Col(rec, "盈触价", 1), "97.50");
    EXPECT_EQ(Col(rec, "盈委价", 1), "97.00");
    EXPECT_EQ(Col(rec, "损触价", 1), "101.25");
    EXPECT_EQ(Col(rec, "损委价", 1), "104.00");
    // No offsets at all: four empty prices.
    for (const char* column : {"盈触价", "盈委价", "损触价", "损委价"})
        EXPECT_EQ(Col(rec, column, 2), "") << column;
    EXPECT_EQ(rec.GetRecNo(), 2);
}

TEST(StopProfitPriceTest, DirectionDecidesTheSideOfEachColumn) {
    EXPECT_EQ(StopProfitPrice(1, 100.0, 2.5, true).str(), "102.50");
    EXPECT_EQ(StopProfitPrice(1, 100.0, 2.5, false).str(), "97.50");
    EXPECT_EQ(StopProfitPrice(2, 100.0, 2.5, true).str(), "97.50");
    EXPECT_EQ(StopProfitPrice(2, 100.0, 2.5, false).str(), "102.50");
    EXPECT_EQ(StopProfitPrice(0, 100.0, 2.5, true).str(), "97.50");
    EXPECT_EQ(StopProfitPrice(1, 100.0, -1.0, true).str(), "99.00");
    EXPECT_EQ(StopProfitPrice(1, 100.0, 0.0, true).str(), "");
    EXPECT_EQ(StopProfitPrice(2, 100.0, -0.0, false).str(), "");
    EXPECT_EQ(StopProfitPrice(1, 0.0, 0.004, true).str(), "0.004");
}

// The query adds prices and offsets of up to four decimals exactly, as decimals; every text must come out
// as the doubles the host reads give it, and texts that are not such plain decimals still go that way.
TEST(StopProfitPriceTest, ReceivedTextsGiveWhatTheirDoublesGive) {
    std::mt19937_64 random(20261207);
    const auto decimal = [&random] {
        std::string text = random() % 4 == 0 ? "-" : "";
        text += std::to_string(random() % 1000000000000ull >> (random() % 40));
        if (const int places = static_cast<int>(random() % 7); places > 0) { // 5 and 6: more than exact
            text += '.';
            for (int i = 0; i < places; ++i)
                text += static_cast<char>('0' + random() % 10);
        }
        return text;
    };
    std::vector<std::string> texts = {"",
                                      "0",
                                      "-0",
                                      "0.0000",
                                      "1.",
                                      ".5",
                                      "+1",
                                      "1e2",
                                      " 1",
                                      "12abc",
                                      "0.00001",
                                      "999999999.9999",
                                      "-999999999.9999",
                                      "1000000000",
                                      "0.0001",
                                      "-0.0001",
                                      "5",
                                      "2.5"};
    for (int i = 0; i < 2000; ++i)
        texts.push_back(decimal());
    int mismatches = 0;
    for (std::size_t i = 0; i < texts.size(); ++i)
        for (const std::size_t j : {i, (i * 7 + 3) % texts.size(), (i * 13 + 5) % texts.size()})
            for (const long direction : {1L, 2L})
                for (const bool takeProfit : {true, false}) {
                    const std::string& price = texts[i];
                    const std::string& offset = texts[j];
                    const CString exact =
                        StopProfitPrice(direction, std::string_view(price), offset, takeProfit);
                    const CString doubles = StopProfitPrice(direction, orvo::TextToDouble(price),
                                                            orvo::TextToDouble(offset), takeProfit);
                    if (exact != doubles && ++mismatches < 10)
                        ADD_FAILURE()
                            << price << " / " << offset << ": " << exact.str() << " vs " << doubles.str();
                }
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(StopProfitPrice(1, "71230.5", "120", true).str(), "71350.50");
    EXPECT_EQ(StopProfitPrice(2, "0.0001", "0.0001", true).str(), "0.00");
    EXPECT_EQ(StopProfitPrice(1, "-1.5", "0.0035", false).str(), "-1.5035");
}

// A fine tick's price keeps its decimals (two to four) in the order price and in the stop prices
// computed from it, while a price of two decimals or fewer shows as it always has.
TEST_F(RuleRowTest, PricesKeepTheirDecimalsBetweenTwoAndFour) {
    Reply(static_cast<std::uint32_t>(GetRuleFunction(KIND_STOP_PROFIT)),
          {Row({{"797", "1"}, {"683", "1"}, {"682", "103.895"}, {"1796", "0.005"}, {"1798", "0.01"}}),
           Row({{"797", "2"}, {"683", "2"}, {"682", "3500.5"}, {"1796", "2"}, {"1799", "1.5"}}),
           Row({{"797", "3"}, {"683", "1"}, {"682", "1.23456"}, {"1797", "0.00001"}})});
    rec.Create(GetRuleLayout(KIND_STOP_PROFIT), RULE_RECORD_FLAGS);
    QueryConditions cond;
    EXPECT_EQ(QueryRules(KIND_STOP_PROFIT, cond, rec), 1);
    ASSERT_EQ(rec.GetRecordCount(), 3);
    EXPECT_EQ(Col(rec, "委价", 0), "103.895");
    EXPECT_EQ(Col(rec, "盈触价", 0), "103.90");
    EXPECT_EQ(Col(rec, "损触价", 0), "103.885");
    EXPECT_EQ(Col(rec, "委价", 1), "3500.50");
    EXPECT_EQ(Col(rec, "盈触价", 1), "3498.50");
    EXPECT_EQ(Col(rec, "损委价", 1), "3502.00");
    EXPECT_EQ(Col(rec, "委价", 2), "1.2346"); // four at most
    EXPECT_EQ(Col(rec, "盈委价", 2), "1.2346");
    // The list, its copy and its export read cells by index: the same text.
    const int price = rec.FindField(GBK("委价"));
    EXPECT_EQ(rec.GetCellString(0, price).str(), "103.895");

    // Without the flag a record set rounds to the layout's decimals, as before.
    CMemRecord plain;
    plain.Create(GetRuleLayout(KIND_STOP_PROFIT), 0);
    plain.Append();
    plain.Set(GBK("委价"), "103.895");
    EXPECT_EQ(plain.GetString(GBK("委价")).str(), "103.89");
}

// Code texts are remembered for a query's rows only while the dictionary stays as it was: a refill between
// two queries, a refill while a cache lives, and a change of the code table in place are all seen at once.
TEST_F(RuleRowTest, CodeTextsFollowEveryChangeOfTheDictionary) {
    Reply(static_cast<std::uint32_t>(GetRuleFunction(KIND_STOP_PROFIT)),
          {Row({{"797", "1"}, {"727", "1"}, {"683", "2"}}), Row({{"797", "2"}, {"727", "1"}, {"683", "2"}})});
    const auto query = [this] {
        rec.Create(GetRuleLayout(KIND_STOP_PROFIT), RULE_RECORD_FLAGS);
        QueryConditions cond;
        EXPECT_EQ(QueryRules(KIND_STOP_PROFIT, cond, rec), 1);
        EXPECT_EQ(rec.GetRecordCount(), 2);
        return Col(rec, "触发状态", 1) + "/" + Col(rec, "买卖", 1);
    };
    const char* const layout = "FLDM[C20],IBM[I],CBM[C10],NOTE[C30]";
    EXPECT_EQ(query(), "已触发/卖出");
    tables.dictionary.AddTable(
        "QHXTDM", querytest::MakeTable(layout, {{"CFZT", "1", "", "触发了"}, {"QHMMFX", "2", "", "卖"}}));
    EXPECT_EQ(query(), "触发了/卖");

    CodeTextCache states("QHXTDM", "CFZT");
    EXPECT_EQ(querytest::Utf8(states.Text(1)), "触发了");
    EXPECT_EQ(querytest::Utf8(states.Text(9)), "");
    CMemRecord* table = tables.dictionary.GetTable("QHXTDM");
    ASSERT_NE(table, nullptr);
    table->Set("NOTE", querytest::Gbk("改在原处").c_str(), 0);
    EXPECT_EQ(querytest::Utf8(states.Text(1)), "改在原处");
    tables.dictionary.AddTable("QHXTDM", querytest::MakeTable(layout, {{"CFZT", "9", "", "新增"}}));
    EXPECT_EQ(querytest::Utf8(states.Text(1)), "");
    EXPECT_EQ(querytest::Utf8(states.Text(9)), "新增");
}

TEST_F(RuleRowTest, FillTriggerRowFillsEveryColumnWithCategoryFour) {
    Run(KIND_FILL_TRIGGER,
        {Row({{"797", "3001"},        {"605", "C3"},          {"613", "王五"},    {"830", "已触发"},
              {"727", "1"},           {"9098", "88001"},      {"1393", "al2502"}, {"1849", "2"},
              {"1850", "1"},          {"1439", "8"},          {"1874", "6"},      {"1875", "2"},
              {"1418", "19000"},      {"681", "88002"},       {"719", "al2503"},  {"683", "1"},
              {"1718", "3"},          {"684", "4"},           {"682", "19100.5"}, {"750", "11:00:00"},
              {"7107", "2026.12.05"}, {"1240", "2026.12.25"}, {"1842", "9"},      {"7153", "8"}}),
         Row({{"797", "3002"}})});
    EXPECT_EQ(RowOf(rec, 0), (ColumnValues{{"流水号", "3001"},
                                           {"客户号", "C3"},
                                           {"姓名", "王五"},
                                           {"状态说明", "已触发"},
                                           {"触发状态", "已触发"},
                                           {"原委托号", "88001"},
                                           {"原合约", "al2502"},
                                           {"原买卖", "卖出"},
                                           {"原开平", "开仓"},
                                           {"原委手", "8"},
                                           {"原成手", "6"},
                                           {"原撤手", "2"},
                                           {"原委价", "19000.00"},
                                           {"触委托号", "88002"},
                                           {"触合约", "al2503"},
                                           {"触买卖", "买入"},
                                           {"触开平", "平今"},
                                           {"触委手", "4"},
                                           {"触委价", "19100.50"},
                                           {"设置时间", "11:00:00"},
                                           {"设置日期", "2026.12.05"},
                                           {"有效日期", "2026.12.25"},
                                           {"color", "0"},
                                           {"KHH", "C3"},
                                           {"LSH", "3001"},
                                           {"CFZT", "1"},
                                           {"WTDLB", "4"}}));
    EXPECT_EQ(Col(rec, "WTDLB", 1), "4"); // whatever the reply holds, also nothing
    EXPECT_EQ(rec.GetRecNo(), 1);
}

TEST_F(RuleRowTest, ArbitrageRowFillsEveryColumnWithSwitchTexts) {
    Run(KIND_ARBITRAGE,
        {Row({{"797", "4001"},        {"605", "C4"},          {"613", "赵六"}, {"830", "运行中"},
              {"727", "1"},           {"1718", "1"},          {"621", "1"},    {"1800", "12.5"},
              {"728", "3.25"},        {"719", "cu2501"},      {"683", "1"},    {"682", "10"},
              {"684", "2"},           {"1834", "1"},          {"528", "1"},    {"1393", "cu2502"},
              {"1849", "2"},          {"1418", "-10"},        {"1439", "2"},   {"853", "1"},
              {"845", "0"},           {"1858", "1"},          {"9020", "0"},   {"750", "13:00:00"},
              {"7107", "2026.12.04"}, {"1836", "2026.12.30"}, {"599", "SQ"},   {"1716", "J001"},
              {"1842", "7"},          {"1240", "1999.01.01"}}),
         Row({{"797", "4002"}, {"621", "9"}, {"1858", "0"}, {"9020", "2"}}),
         Row({{"797", "4003"}, {"1858", "2"}, {"9020", "1"}})});
    ASSERT_EQ(rec.GetRecordCount(), 3);
    EXPECT_EQ(RowOf(rec, 0), (ColumnValues{{"流水号", "4001"},
                                           {"客户号", "C4"},
                                           {"姓名", "赵六"},
                                           {"状态说明", "运行中"},
                                           {"触发状态", "已触发"},
                                           {"开平", "开仓"},
                                           {"套利类型", "跨期套利"},
                                           {"套利价差", "12.5"},
                                           {"偏离板价", "3.25"},
                                           {"合约1", "cu2501"},
                                           {"买卖1", "买入"},
                                           {"委价差1", "10.00"},
                                           {"委手1", "2"},
                                           {"触发手1", "1"},
                                           {"成手1", "1"},
                                           {"合约2", "cu2502"},
                                           {"买卖2", "卖出"},
                                           {"委价差2", "-10.00"},
                                           {"委手2", "2"},
                                           {"触发手2", "1"},
                                           {"成手2", "0"},
                                           {"最小报单", "启动"},
                                           {"单腿继续", "停止"},
                                           {"委托时间", "13:00:00"},
                                           {"委托日期", "2026.12.04"},
                                           {"有效日期", "2026.12.30"},
                                           {"color", "0"},
                                           {"KHH", "C4"},
                                           {"JYS", "SQ"},
                                           {"JYBM", "J001"},
                                           {"LSH", "4001"},
                                           {"CFZT", "1"},
                                           {"WTDLB", "7"}}));
    // An arbitrage type the dictionary lacks still gives a row; switches other than 1 read "停止".
    EXPECT_EQ(Col(rec, "套利类型", 1), "");
    EXPECT_EQ(Col(rec, "最小报单", 1), "停止");
    EXPECT_EQ(Col(rec, "单腿继续", 1), "停止");
    EXPECT_EQ(Col(rec, "最小报单", 2), "停止");
    EXPECT_EQ(Col(rec, "单腿继续", 2), "继续");
    // F4 ends on its first row.
    EXPECT_EQ(rec.GetRecNo(), 0);
}

TEST_F(RuleRowTest, BatchRowFillsEveryColumn) {
    Run(KIND_BATCH, {Row({{"797", "5001"},
                          {"605", "C5"},
                          {"613", "孙七"},
                          {"719", "m2505"},
                          {"683", "2"},
                          {"1718", "2"},
                          {"1841", "2888.8"},
                          {"684", "10"},
                          {"528", "7"},
                          {"886", "3"},
                          {"750", "14:00:00"},
                          {"7107", "2026.12.03"},
                          {"599", "DL"},
                          {"1716", "J002"},
                          {"1842", "6"},
                          {"682", "1"}}),
                     Row({{"797", "5002"}})});
    EXPECT_EQ(RowOf(rec, 0), (ColumnValues{{"流水号", "5001"},
                                           {"客户号", "C5"},
                                           {"姓名", "孙七"},
                                           {"合约", "m2505"},
                                           {"买卖", "卖出"},
                                           {"开平", "平仓"},
                                           {"委均价", "2888.80"},
                                           {"委手", "10"},
                                           {"成手", "7"},
                                           {"撤手", "3"},
                                           {"委托时间", "14:00:00"},
                                           {"委托日期", "2026.12.03"},
                                           {"color", "0"},
                                           {"KHH", "C5"},
                                           {"JYS", "DL"},
                                           {"JYBM", "J002"},
                                           {"LSH", "5001"},
                                           {"WTDLB", "6"}}));
    EXPECT_EQ(rec.GetRecNo(), 0);
}

TEST_F(RuleRowTest, ReplyRowsAreKeptInServerOrderWithDuplicates) {
    Run(KIND_BATCH, {Row({{"797", "3"}}), Row({{"797", "1"}}), Row({{"797", "3"}})});
    ASSERT_EQ(rec.GetRecordCount(), 3);
    EXPECT_EQ(Col(rec, "LSH", 0), "3");
    EXPECT_EQ(Col(rec, "LSH", 1), "1");
    EXPECT_EQ(Col(rec, "LSH", 2), "3");
}

TEST_F(RuleRowTest, AnEmptyOrFailedReplyEmptiesTheSet) {
    Run(KIND_STOP_PROFIT, {Row({{"797", "1"}}), Row({{"797", "2"}})});
    ASSERT_EQ(rec.GetRecordCount(), 2);
    Reply(16477, {});
    EXPECT_EQ(QueryStopProfitRules(QueryConditions{}, rec), 1);
    EXPECT_EQ(rec.GetRecordCount(), 0);

    Run(KIND_STOP_PROFIT, {Row({{"797", "1"}})});
    ASSERT_EQ(rec.GetRecordCount(), 1);
    orvo::test::FakeReply refused;
    refused.status = 3;
    server.Script(16477, refused);
    EXPECT_EQ(QueryStopProfitRules(QueryConditions{}, rec), 1);
    EXPECT_EQ(rec.GetRecordCount(), 0);
}

TEST_F(RuleRowTest, AReplyCutOffPartWayShowsNothingRatherThanAPart) {
    using Fault = orvo::test::FakeReply::Fault;
    for (const Fault fault : {Fault::Close, Fault::BrokenFrame}) {
        orvo::test::FakeReply broken;
        broken.rows = {Row({{"797", "1"}}), Row({{"797", "2"}}), Row({{"797", "3"}})};
        broken.fault = fault;
        broken.faultAfterRows = 2;
        server.ScriptOnce(16479, broken);
        Run(KIND_ARBITRAGE, {Row({{"797", "9"}})}); // the standing script answers the next request
        EXPECT_EQ(rec.GetRecordCount(), 0);
        // The channel recovers: the next query lists the standing reply.
        EXPECT_EQ(QueryArbitrageRules(QueryConditions{}, rec), 1);
        ASSERT_EQ(rec.GetRecordCount(), 1);
        EXPECT_EQ(Col(rec, "LSH"), "9");
    }
    // Rows followed by a refusal (a limit reached on the server) are no answer either.
    orvo::test::FakeReply limited;
    limited.rows = {Row({{"797", "1"}})};
    limited.status = 5;
    server.ScriptOnce(16476, limited);
    Run(KIND_PRICE_TRIGGER, {});
    EXPECT_EQ(rec.GetRecordCount(), 0);
}

} // namespace
