// Rule queries of the price-triggered (F1) and stop-loss / take-profit (F2) tabs.
#include "platform/TextNumbers.h"
#include "query/RuleQueries.h"
#include "query/RuleQueryFrame.h"
#include "query/RuleRecordLayouts.h"
#include "query/TranslateCode.h"

#include <string_view>

using rulequery::FuturesDictionaryText;

namespace {

void FillPriceTriggerRow(CFixComm& fix, CMemRecord& rec) {
    // Items that feed two columns are read once.
    const CString strSerial = fix.GetItem(797, -1);
    const CString strCustomer = fix.GetItem(605, -1);
    const long nTriggerState = fix.GetLong(727, -1);
    const CString strSetDate = fix.GetItem(7107, -1);
    const CString strValidDate = fix.GetItem(1240, -1);

    rec.Set(GBK("流水号"), orvo::TextToLong(strSerial.view()), -1);
    rec.Set(GBK("客户号"), strCustomer, -1);
    rec.Set(GBK("姓名"), fix.GetItem(613, -1), -1);
    rec.Set(GBK("状态说明"), fix.GetItem(830, -1), -1);
    rec.Set(GBK("触发状态"), FuturesDictionaryText("CFZT", nTriggerState), -1);
    rec.Set(GBK("合约"), fix.GetItem(719, -1), -1);
    rec.Set(GBK("买卖"), TranslateCode("QHMMFX", fix.GetItem(683, -1)), -1);
    rec.Set(GBK("开平"), TranslateCode("QHKPFX", fix.GetItem(1718, -1)), -1);
    rec.Set(GBK("委手"), fix.GetLong(684, -1), -1);
    rec.Set(GBK("委价"), fix.GetItem(682, -1), -1);
    // The trigger condition: the comparison ("PDFX") followed directly by the trigger price.
    rec.Set(GBK("触发价"), FuturesDictionaryText("PDFX", fix.GetLong(1783, -1)) + fix.GetItem(1800, -1), -1);
    rec.Set(GBK("触点数"), fix.GetLong(742, -1), -1);
    rec.Set(GBK("设置时间"), fix.GetItem(750, -1), -1);
    rec.Set(GBK("设置日期"), strSetDate, -1);
    rec.Set(GBK("有效日期"), strValidDate, -1);
    rec.Set("KHH", strCustomer, -1);
    rec.Set("CFZT", nTriggerState, -1);
    rec.Set("LSH", strSerial, -1);
    rec.Set("WTDLB", fix.GetItem(7153, -1), -1);
    rec.Set("WTRQ", strSetDate, -1);
    rec.Set("YXRQ", strValidDate, -1);
}

void FillStopProfitRow(CFixComm& fix, CMemRecord& rec) {
    // Items are read as views into the current row (they hold while the row is current: until the next
    // More()) and go into the record set with a single copy. Items that feed two columns are read once.
    const std::string_view strSerial = fix.GetItemView(797, -1);
    const std::string_view strCustomer = fix.GetItemView(605, -1);
    const std::string_view strTriggerState = fix.GetItemView(727, -1);
    const std::string_view strDirection = fix.GetItemView(683, -1);
    const std::string_view strPrice = fix.GetItemView(682, -1);
    const std::string_view strSetDate = fix.GetItemView(7107, -1);
    const std::string_view strValidDate = fix.GetItemView(1836, -1);

    rec.Set(GBK("流水号"), orvo::TextToLong(strSerial), -1);
    rec.SetText(GBK("客户号"), strCustomer, -1);
    rec.SetText(GBK("姓名"), fix.GetItemView(613, -1), -1);
    rec.SetText(GBK("状态说明"), fix.GetItemView(830, -1), -1);
    rec.Set(GBK("触发状态"), FuturesDictionaryText("CFZT", orvo::TextToLong(strTriggerState)), -1);
    rec.SetText(GBK("合约"), fix.GetItemView(719, -1), -1);
    rec.Set(GBK("买卖"), TranslateCode("QHMMFX", CString(strDirection)), -1);
    rec.Set(GBK("委手"), fix.GetLong(684, -1), -1);
    rec.SetText(GBK("委价"), strPrice, -1);

    // Offsets from the order price, each column on its own offset tag.
    const long nDirection = orvo::TextToLong(strDirection);
    const double dPrice = orvo::TextToDouble(strPrice);
    rec.Set(GBK("盈触价"), StopProfitPrice(nDirection, dPrice, fix.GetDouble(1796, -1), true), -1);
    rec.Set(GBK("盈委价"), StopProfitPrice(nDirection, dPrice, fix.GetDouble(1797, -1), true), -1);
    rec.Set(GBK("损触价"), StopProfitPrice(nDirection, dPrice, fix.GetDouble(1798, -1), false), -1);
    rec.Set(GBK("损委价"), StopProfitPrice(nDirection, dPrice, fix.GetDouble(1799, -1), false), -1);

    rec.SetText(GBK("盈触点数"), fix.GetItemView(742, -1), -1);
    rec.SetText(GBK("损触点数"), fix.GetItemView(745, -1), -1);
    rec.SetText(GBK("设置时间"), fix.GetItemView(750, -1), -1);
    rec.SetText(GBK("设置日期"), strSetDate, -1);
    rec.SetText(GBK("有效日期"), strValidDate, -1);
    rec.SetText("KHH", strCustomer, -1);
    rec.Set("LSH", orvo::TextToLong(strSerial), -1);
    rec.SetText("CFZT", strTriggerState, -1);
    rec.SetText("WTDLB", fix.GetItemView(7153, -1), -1);
    rec.SetText("WTRQ", strSetDate, -1);
    rec.SetText("YXRQ", strValidDate, -1);
}

} // namespace

CString StopProfitPrice(long direction, double price, double offset, bool takeProfit) {
    if (offset == 0.0)
        return CString();
    // Direction 1 (buy): profit lies above the order price and loss below; any other code the reverse.
    const bool above = (direction == 1) == takeProfit;
    // Locale-independent: the host's texts always use '.' whatever LC_NUMERIC the GUI set.
    return CString(orvo::RealToText(above ? price + offset : price - offset, 2));
}

int QueryPriceTriggerRules(const QueryConditions& cond, CMemRecord& rec) {
    const rulequery::Frame frame{GetRuleFunction(KIND_PRICE_TRIGGER),
                                 rulequery::CategoryItem::AfterConditions,
                                 GetOrderCategory(KIND_PRICE_TRIGGER), false};
    return rulequery::RunRuleQuery(frame, cond, rec, FillPriceTriggerRow);
}

int QueryStopProfitRules(const QueryConditions& cond, CMemRecord& rec) {
    const rulequery::Frame frame{GetRuleFunction(KIND_STOP_PROFIT), rulequery::CategoryItem::None, 0, false};
    return rulequery::RunRuleQuery(frame, cond, rec, FillStopProfitRow);
}
