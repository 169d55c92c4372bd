// Rule queries of the price-triggered (F1) and stop-loss / take-profit (F2) tabs.
#include "platform/TextNumbers.h"
#include "query/RuleQueries.h"
#include "query/RuleQueryFrame.h"
#include "query/RuleRecordLayouts.h"
#include "query/TranslateCode.h"

#include <functional>
#include <string_view>

using rulequery::FuturesDictionaryText;

namespace {

// StopProfitPrice's text written into `buffer`: the empty text when there is no offset.
std::string_view StopProfitPriceText(long direction, double price, double offset, bool takeProfit,
                                     orvo::RealTextBuffer& buffer) {
    if (offset == 0.0)
        return {};
    // Direction 1 (buy): profit lies above the order price and loss below; any other code the reverse.
    const bool above = (direction == 1) == takeProfit;
    // Locale-independent: the host's texts always use '.' whatever LC_NUMERIC the GUI set. The price keeps
    // the decimals of a fine tick (up to four), as the order price column does.
    return orvo::PriceToText(above ? price + offset : price - offset, 2, 4, buffer);
}

// A row's order price as received, for the four stop prices computed from it. Prices and offsets are
// nearly always plain decimals of at most four places: those add up exactly in ten-thousandths, which
// gives the very text the doubles would, at a fraction of the cost of reading and printing doubles. Any
// other text goes the way of the doubles the host reads it as.
class OrderPrice {
public:
    explicit OrderPrice(std::string_view text)
        : m_text(text), m_exact(orvo::TextToTenThousandths(text, m_units)) {}

    std::string_view StopText(long direction, std::string_view offset, bool takeProfit,
                              orvo::RealTextBuffer& buffer) const {
        if (offset.empty())
            return {}; // reads as an offset of 0.0
        long long offsetUnits = 0;
        if (!m_exact || !orvo::TextToTenThousandths(offset, offsetUnits))
            return StopProfitPriceText(direction, orvo::TextToDouble(m_text), orvo::TextToDouble(offset),
                                       takeProfit, buffer);
        if (offsetUnits == 0)
            return {};
        const bool above = (direction == 1) == takeProfit;
        return orvo::TenThousandthsToText(above ? m_units + offsetUnits : m_units - offsetUnits, 2, buffer);
    }

private:
    std::string_view m_text;
    long long m_units = 0;
    bool m_exact;
};

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

// The stop-loss / take-profit row filler of one query: the record set's columns resolved once, and the
// texts of the trigger states and directions the rows repeat remembered for the query.
class StopProfitFiller {
public:
    explicit StopProfitFiller(const CMemRecord& rec)
        : m_serial(rec.FindField(GBK("流水号"))), m_customer(rec.FindField(GBK("客户号"))),
          m_name(rec.FindField(GBK("姓名"))), m_statusText(rec.FindField(GBK("状态说明"))),
          m_triggerText(rec.FindField(GBK("触发状态"))), m_contract(rec.FindField(GBK("合约"))),
          m_directionText(rec.FindField(GBK("买卖"))), m_lots(rec.FindField(GBK("委手"))),
          m_price(rec.FindField(GBK("委价"))), m_profitTrigger(rec.FindField(GBK("盈触价"))),
          m_profitOrder(rec.FindField(GBK("盈委价"))), m_lossTrigger(rec.FindField(GBK("损触价"))),
          m_lossOrder(rec.FindField(GBK("损委价"))), m_profitTicks(rec.FindField(GBK("盈触点数"))),
          m_lossTicks(rec.FindField(GBK("损触点数"))), m_setTime(rec.FindField(GBK("设置时间"))),
          m_setDate(rec.FindField(GBK("设置日期"))), m_validDate(rec.FindField(GBK("有效日期"))),
          m_khh(rec.FindField("KHH")), m_lsh(rec.FindField("LSH")), m_cfzt(rec.FindField("CFZT")),
          m_wtdlb(rec.FindField("WTDLB")), m_wtrq(rec.FindField("WTRQ")), m_yxrq(rec.FindField("YXRQ")) {}

    void operator()(CFixComm& fix, CMemRecord& rec) {
        // Items are read as views into the current row (they hold while the row is current: until the
        // next More()) and go into the record set with a single copy. Items that feed two columns are
        // read once.
        const std::string_view strSerial = fix.GetItemView(797, -1);
        const std::string_view strCustomer = fix.GetItemView(605, -1);
        const std::string_view strTriggerState = fix.GetItemView(727, -1);
        const std::string_view strDirection = fix.GetItemView(683, -1);
        const std::string_view strPrice = fix.GetItemView(682, -1);
        const std::string_view strSetDate = fix.GetItemView(7107, -1);
        const std::string_view strValidDate = fix.GetItemView(1836, -1);
        const long nSerial = orvo::TextToLong(strSerial);
        const long nDirection = orvo::TextToLong(strDirection);
        // Offsets from the order price, each column on its own offset tag.
        const OrderPrice price(strPrice);
        orvo::RealTextBuffer stopPrices[4]; // formatted on the stack, copied once into the cells

        using Write = FieldWrite;
        const FieldWrite writes[] = {
            Write::Long(m_serial, nSerial),
            Write::Text(m_customer, strCustomer),
            Write::Text(m_name, fix.GetItemView(613, -1)),
            Write::Text(m_statusText, fix.GetItemView(830, -1)),
            Write::Text(m_triggerText, m_triggerStates.Text(orvo::TextToLong(strTriggerState)).view()),
            Write::Text(m_contract, fix.GetItemView(719, -1)),
            Write::Text(m_directionText, m_directions.Text(CodeTextToInteger(strDirection)).view()),
            Write::Long(m_lots, fix.GetLong(684, -1)),
            Write::Text(m_price, strPrice),
            Write::Text(m_profitTrigger,
                        price.StopText(nDirection, fix.GetItemView(1796, -1), true, stopPrices[0])),
            Write::Text(m_profitOrder,
                        price.StopText(nDirection, fix.GetItemView(1797, -1), true, stopPrices[1])),
            Write::Text(m_lossTrigger,
                        price.StopText(nDirection, fix.GetItemView(1798, -1), false, stopPrices[2])),
            Write::Text(m_lossOrder,
                        price.StopText(nDirection, fix.GetItemView(1799, -1), false, stopPrices[3])),
            Write::Text(m_profitTicks, fix.GetItemView(742, -1)),
            Write::Text(m_lossTicks, fix.GetItemView(745, -1)),
            Write::Text(m_setTime, fix.GetItemView(750, -1)),
            Write::Text(m_setDate, strSetDate),
            Write::Text(m_validDate, strValidDate),
            Write::Text(m_khh, strCustomer),
            Write::Long(m_lsh, nSerial),
            Write::Text(m_cfzt, strTriggerState),
            Write::Text(m_wtdlb, fix.GetItemView(7153, -1)),
            Write::Text(m_wtrq, strSetDate),
            Write::Text(m_yxrq, strValidDate),
        };
        // The whole row in one call: one look-up of the row, no call per cell.
        rec.SetFields(writes);
    }

private:
    const int m_serial, m_customer, m_name, m_statusText, m_triggerText, m_contract, m_directionText, m_lots,
        m_price, m_profitTrigger, m_profitOrder, m_lossTrigger, m_lossOrder, m_profitTicks, m_lossTicks,
        m_setTime, m_setDate, m_validDate, m_khh, m_lsh, m_cfzt, m_wtdlb, m_wtrq, m_yxrq;
    CodeTextCache m_triggerStates{"QHXTDM", "CFZT"};
    CodeTextCache m_directions{"QHXTDM", "QHMMFX"};
};

} // namespace

CString StopProfitPrice(long direction, double price, double offset, bool takeProfit) {
    orvo::RealTextBuffer buffer;
    return CString(StopProfitPriceText(direction, price, offset, takeProfit, buffer));
}

CString StopProfitPrice(long direction, std::string_view price, std::string_view offset, bool takeProfit) {
    orvo::RealTextBuffer buffer;
    return CString(OrderPrice(price).StopText(direction, offset, takeProfit, buffer));
}

int QueryPriceTriggerRules(const QueryConditions& cond, CMemRecord& rec) {
    const rulequery::Frame frame{GetRuleFunction(KIND_PRICE_TRIGGER),
                                 rulequery::CategoryItem::AfterConditions,
                                 GetOrderCategory(KIND_PRICE_TRIGGER), false};
    return rulequery::RunRuleQuery(frame, cond, rec, FillPriceTriggerRow);
}

int QueryStopProfitRules(const QueryConditions& cond, CMemRecord& rec) {
    const rulequery::Frame frame{GetRuleFunction(KIND_STOP_PROFIT), rulequery::CategoryItem::None, 0, false};
    StopProfitFiller filler(rec);
    return rulequery::RunRuleQuery(frame, cond, rec, std::ref(filler));
}
