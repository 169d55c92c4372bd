// Rule queries of the batch (F5) and linked (F6) tabs: one server function, told apart by the category.
#include "module/ModuleState.h"
#include "query/LinkedGroupNames.h"
#include "query/RuleQueries.h"
#include "query/RuleQueryFrame.h"
#include "query/RuleRecordLayouts.h"
#include "query/TranslateCode.h"

using rulequery::FuturesDictionaryText;

namespace {

void FillBatchRow(CFixComm& fix, CMemRecord& rec) {
    rec.Set(GBK("流水号"), fix.GetLong(797, -1), -1);
    rec.Set(GBK("客户号"), fix.GetItem(605, -1), -1);
    rec.Set(GBK("姓名"), fix.GetItem(613, -1), -1);
    rec.Set(GBK("合约"), fix.GetItem(719, -1), -1);
    rec.Set(GBK("买卖"), TranslateCode("QHMMFX", fix.GetItem(683, -1)), -1);
    rec.Set(GBK("开平"), TranslateCode("QHKPFX", fix.GetItem(1718, -1)), -1);
    rec.Set(GBK("委均价"), fix.GetItem(1841, -1), -1);
    rec.Set(GBK("委手"), fix.GetLong(684, -1), -1);
    rec.Set(GBK("成手"), fix.GetLong(528, -1), -1);
    rec.Set(GBK("撤手"), fix.GetLong(886, -1), -1);
    rec.Set(GBK("委托时间"), fix.GetItem(750, -1), -1);
    rec.Set(GBK("委托日期"), fix.GetItem(7107, -1), -1);
    rec.Set("KHH", fix.GetItem(605, -1), -1);
    rec.Set("JYS", fix.GetItem(599, -1), -1);
    rec.Set("JYBM", fix.GetItem(1716, -1), -1);
    rec.Set("LSH", fix.GetItem(797, -1), -1);
    rec.Set("WTDLB", fix.GetLong(1842, -1), -1);
}

void FillLinkedRow(CFixComm& fix, CMemRecord& rec, const CLinkedGroupNames& names) {
    const long nGroup = fix.GetLong(1837, -1);
    const long nSubGroup = fix.GetLong(1839, -1);
    rec.Set(GBK("流水号"), fix.GetLong(797, -1), -1);
    rec.Set(GBK("客户号"), fix.GetItem(605, -1), -1);
    rec.Set(GBK("姓名"), fix.GetItem(613, -1), -1);
    rec.Set(GBK("小组编号"), nGroup, -1);
    rec.Set(GBK("小组名称"), names.GroupName(nGroup), -1);
    rec.Set(GBK("分组编号"), nSubGroup, -1);
    rec.Set(GBK("分组名称"), names.SubGroupName(nGroup, nSubGroup), -1);
    rec.Set(GBK("下单方式"), FuturesDictionaryText("GLWTXDFS", fix.GetLong(1840, -1)), -1);
    rec.Set(GBK("合约"), fix.GetItem(719, -1), -1);
    rec.Set(GBK("买卖"), TranslateCode("QHMMFX", fix.GetItem(683, -1)), -1);
    rec.Set(GBK("开平"), TranslateCode("QHKPFX", fix.GetItem(1718, -1)), -1);
    // The same function reports the average order price of a linked rule in 1841, as for batch rules.
    rec.Set(GBK("委均价"), fix.GetItem(1841, -1), -1);
    rec.Set(GBK("委手"), fix.GetLong(684, -1), -1);
    rec.Set(GBK("成手"), fix.GetLong(528, -1), -1);
    rec.Set(GBK("撤手"), fix.GetLong(886, -1), -1);
    rec.Set(GBK("委托时间"), fix.GetItem(750, -1), -1);
    rec.Set(GBK("委托日期"), fix.GetItem(7107, -1), -1);
    rec.Set("KHH", fix.GetItem(605, -1), -1);
    rec.Set("JYS", fix.GetItem(599, -1), -1);
    rec.Set("JYBM", fix.GetItem(1716, -1), -1);
    rec.Set("LSH", fix.GetItem(797, -1), -1);
    rec.Set("WTDLB", fix.GetLong(1842, -1), -1);
    rec.Set("XZBH", nGroup, -1);
    rec.Set("FZBH", nSubGroup, -1);
    rec.Set("XDFS", fix.GetLong(1840, -1), -1);
}

} // namespace

int QueryBatchRules(const QueryConditions& cond, CMemRecord& rec) {
    const rulequery::Frame frame{GetRuleFunction(KIND_BATCH), rulequery::CategoryItem::BeforeConditions,
                                 GetOrderCategory(KIND_BATCH), true};
    return rulequery::RunRuleQuery(frame, cond, rec, FillBatchRow);
}

int QueryLinkedRules(const QueryConditions& cond, CMemRecord& rec) {
    rec.Zap();
    if (!g_pFixComm)
        return 0;
    // The group names come from two requests of their own, each read to its end before the rules are asked.
    CLinkedGroupNames names;
    names.Load(*g_pFixComm);

    const rulequery::Frame frame{GetRuleFunction(KIND_LINKED), rulequery::CategoryItem::BeforeConditions,
                                 GetOrderCategory(KIND_LINKED), true};
    return rulequery::RunRuleQuery(
        frame, cond, rec, [&names](CFixComm& fix, CMemRecord& row) { FillLinkedRow(fix, row, names); });
}
