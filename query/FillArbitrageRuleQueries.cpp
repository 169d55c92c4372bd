// Rule queries of the fill-triggered (F3) and arbitrage (F4) tabs.
#include "query/RuleQueries.h"
#include "query/RuleQueryFrame.h"
#include "query/RuleRecordLayouts.h"
#include "query/TranslateCode.h"

using rulequery::FuturesDictionaryText;

namespace {

// Columns "原..." describe the source order whose fill fires the rule, "触..." the order the rule places.
void FillFillTriggerRow(CFixComm& fix, CMemRecord& rec) {
    const long nTriggerState = fix.GetLong(727, -1);
    rec.Set(GBK("流水号"), fix.GetLong(797, -1), -1);
    rec.Set(GBK("客户号"), fix.GetItem(605, -1), -1);
    rec.Set(GBK("姓名"), fix.GetItem(613, -1), -1);
    rec.Set(GBK("状态说明"), fix.GetItem(830, -1), -1);
    rec.Set(GBK("触发状态"), FuturesDictionaryText("CFZT", nTriggerState), -1);
    rec.Set(GBK("原委托号"), fix.GetItem(9098, -1), -1);
    rec.Set(GBK("原合约"), fix.GetItem(1393, -1), -1);
    rec.Set(GBK("原买卖"), TranslateCode("QHMMFX", fix.GetItem(1849, -1)), -1);
    rec.Set(GBK("原开平"), TranslateCode("QHKPFX", fix.GetItem(1850, -1)), -1);
    rec.Set(GBK("原委手"), fix.GetLong(1439, -1), -1);
    rec.Set(GBK("原成手"), fix.GetLong(1874, -1), -1);
    rec.Set(GBK("原撤手"), fix.GetLong(1875, -1), -1);
    rec.Set(GBK("原委价"), fix.GetItem(1418, -1), -1);
    rec.Set(GBK("触委托号"), fix.GetItem(681, -1), -1);
    rec.Set(GBK("触合约"), fix.GetItem(719, -1), -1);
    rec.Set(GBK("触买卖"), TranslateCode("QHMMFX", fix.GetItem(683, -1)), -1);
    rec.Set(GBK("触开平"), TranslateCode("QHKPFX", fix.GetItem(1718, -1)), -1);
    rec.Set(GBK("触委手"), fix.GetLong(684, -1), -1);
    rec.Set(GBK("触委价"), fix.GetItem(682, -1), -1);
    rec.Set(GBK("设置时间"), fix.GetItem(750, -1), -1);
    rec.Set(GBK("设置日期"), fix.GetItem(7107, -1), -1);
    rec.Set(GBK("有效日期"), fix.GetItem(1240, -1), -1);
    rec.Set("KHH", fix.GetItem(605, -1), -1);
    rec.Set("LSH", fix.GetItem(797, -1), -1);
    rec.Set("CFZT", fix.GetItem(727, -1), -1);
    // The reply carries no category for these rules; every row is a fill-triggered one.
    rec.Set("WTDLB", GetOrderCategory(KIND_FILL_TRIGGER), -1);
}

CString SwitchText(long value, const CString& on) {
    return value == 1 ? on : GBK("停止");
}

void FillArbitrageRow(CFixComm& fix, CMemRecord& rec) {
    rec.Set(GBK("流水号"), fix.GetLong(797, -1), -1);
    rec.Set(GBK("客户号"), fix.GetItem(605, -1), -1);
    rec.Set(GBK("姓名"), fix.GetItem(613, -1), -1);
    rec.Set(GBK("状态说明"), fix.GetItem(830, -1), -1);
    rec.Set(GBK("触发状态"), FuturesDictionaryText("CFZT", fix.GetLong(727, -1)), -1);
    rec.Set(GBK("开平"), TranslateCode("QHKPFX", fix.GetItem(1718, -1)), -1);
    rec.Set(GBK("套利类型"), FuturesDictionaryText("TLLX", fix.GetLong(621, -1)), -1);
    rec.Set(GBK("套利价差"), fix.GetItem(1800, -1), -1);
    rec.Set(GBK("偏离板价"), fix.GetItem(728, -1), -1);
    rec.Set(GBK("合约1"), fix.GetItem(719, -1), -1);
    rec.Set(GBK("买卖1"), TranslateCode("QHMMFX", fix.GetItem(683, -1)), -1);
    rec.Set(GBK("委价差1"), fix.GetItem(682, -1), -1);
    rec.Set(GBK("委手1"), fix.GetItem(684, -1), -1);
    rec.Set(GBK("触发手1"), fix.GetItem(1834, -1), -1);
    rec.Set(GBK("成手1"), fix.GetItem(528, -1), -1);
    rec.Set(GBK("合约2"), fix.GetItem(1393, -1), -1);
    rec.Set(GBK("买卖2"), TranslateCode("QHMMFX", fix.GetItem(1849, -1)), -1);
    rec.Set(GBK("委价差2"), fix.GetItem(1418, -1), -1);
    rec.Set(GBK("委手2"), fix.GetItem(1439, -1), -1);
    rec.Set(GBK("触发手2"), fix.GetItem(853, -1), -1);
    rec.Set(GBK("成手2"), fix.GetItem(845, -1), -1);
    rec.Set(GBK("最小报单"), SwitchText(fix.GetLong(1858, -1), GBK("启动")), -1);
    // In a reply, 9020 is the rule's single-leg switch (in a request it is the validity condition).
    rec.Set(GBK("单腿继续"), SwitchText(fix.GetLong(9020, -1), GBK("继续")), -1);
    rec.Set(GBK("委托时间"), fix.GetItem(750, -1), -1);
    rec.Set(GBK("委托日期"), fix.GetItem(7107, -1), -1);
    rec.Set(GBK("有效日期"), fix.GetItem(1836, -1), -1);
    rec.Set("KHH", fix.GetItem(605, -1), -1);
    rec.Set("JYS", fix.GetItem(599, -1), -1);
    rec.Set("JYBM", fix.GetItem(1716, -1), -1);
    rec.Set("LSH", fix.GetLong(797, -1), -1);
    rec.Set("CFZT", fix.GetLong(727, -1), -1);
    rec.Set("WTDLB", fix.GetLong(1842, -1), -1);
}

} // namespace

int QueryFillTriggerRules(const QueryConditions& cond, CMemRecord& rec) {
    const rulequery::Frame frame{GetRuleFunction(KIND_FILL_TRIGGER), rulequery::CategoryItem::None, 0, false};
    return rulequery::RunRuleQuery(frame, cond, rec, FillFillTriggerRow);
}

int QueryArbitrageRules(const QueryConditions& cond, CMemRecord& rec) {
    const rulequery::Frame frame{GetRuleFunction(KIND_ARBITRAGE), rulequery::CategoryItem::None, 0, true};
    return rulequery::RunRuleQuery(frame, cond, rec, FillArbitrageRow);
}
