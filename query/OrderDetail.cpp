#include "query/OrderDetail.h"

#include "host/com/FixComm.h"
#include "host/dbm/MemRecord.h"
#include "module/ModuleState.h"
#include "query/LiveChanges.h"
#include "query/RuleRecordLayouts.h"
#include "query/TranslateCode.h"

namespace {

constexpr long TAG_CUSTOMER = 605;
constexpr long TAG_RULE_SERIAL = 1855;
constexpr long TAG_BEGIN_DATE = 618;
constexpr long TAG_END_DATE = 590;
constexpr long TAG_ORDER_CATEGORY = 1842;
constexpr long TAG_ORDER_FLAG = 755;

// The keys every builder reads from the current rule row.
struct RuleKeys {
    CString strCustomer;
    long nSerial = 0;
};

RuleKeys ReadKeys(const CMemRecord& rule) {
    return {rule.GetString("KHH", -1), rule.GetLong("LSH", -1)};
}

bool KeysAllowRequest(const RuleKeys& keys) {
    return !keys.strCustomer.IsEmpty() && keys.nSerial > 0;
}

// Frames the request and reads its reply. With dates, they go between the serial number and the category.
int SendDetailRequest(int kind, const QueryConditions& cond, const RuleKeys& keys, const CString* pBeginDate,
                      const CString* pEndDate, CMemRecord& detail) {
    CFixComm* fix = g_pFixComm;
    if (!fix)
        return 0;
    live::ChangesScope* changes = live::ChangesScope::Active();
    if (changes) {
        // The rule's order list only if it changed since the revision: the same items after the function.
        fix->CreateHead(live::FUNC_ORDER_CHANGES, -1);
        fix->SetItem(live::TAG_ORDER_FUNCTION, DetailFunction(cond));
    } else {
        fix->CreateHead(DetailFunction(cond), -1);
    }
    fix->SetItem(TAG_CUSTOMER, keys.strCustomer.GetString());
    fix->SetItem(TAG_RULE_SERIAL, keys.nSerial);
    if (pBeginDate && pEndDate) {
        fix->SetItem(TAG_BEGIN_DATE, pBeginDate->GetString());
        fix->SetItem(TAG_END_DATE, pEndDate->GetString());
    }
    fix->SetItem(TAG_ORDER_CATEGORY, GetOrderCategory(kind));
    if (changes && !changes->Revision().empty())
        fix->SetItem(live::TAG_REVISION, changes->Revision().c_str());
    FillDetail(detail);
    return 1;
}

bool ExpiredRules(const QueryConditions& cond) {
    return DetailFunction(cond) == FUNC_DETAIL_EXPIRED;
}

// F1 and F2 rows carry their own order and validity dates; expired rules are looked up within them.
int QueryDatedRuleDetail(int kind, const RuleKeys& keys, const CMemRecord& rule, const QueryConditions& cond,
                         CMemRecord& detail) {
    if (!ExpiredRules(cond))
        return SendDetailRequest(kind, cond, keys, nullptr, nullptr, detail);
    const CString strOrderDate = rule.GetString("WTRQ", -1);
    const CString strValidDate = rule.GetString("YXRQ", -1);
    return SendDetailRequest(kind, cond, keys, &strOrderDate, &strValidDate, detail);
}

// F4 to F6: the same items under either function.
int QueryUndatedRuleDetail(int kind, const CMemRecord& rule, const QueryConditions& cond,
                           CMemRecord& detail) {
    const RuleKeys keys = ReadKeys(rule);
    if (!KeysAllowRequest(keys))
        return 0;
    return SendDetailRequest(kind, cond, keys, nullptr, nullptr, detail);
}

} // namespace

long DetailFunction(const QueryConditions& cond) {
    return cond.m_strValidity == "1" ? FUNC_DETAIL_EXPIRED : FUNC_DETAIL_VALID;
}

int QueryPriceTriggerDetail(const CMemRecord& rule, const QueryConditions& cond, CMemRecord& detail) {
    const RuleKeys keys = ReadKeys(rule);
    // A price-triggered rule that has not fired has placed no orders.
    if (!KeysAllowRequest(keys) || rule.GetLong("CFZT", -1) <= 0)
        return 0;
    return QueryDatedRuleDetail(KIND_PRICE_TRIGGER, keys, rule, cond, detail);
}

int QueryStopProfitDetail(const CMemRecord& rule, const QueryConditions& cond, CMemRecord& detail) {
    const RuleKeys keys = ReadKeys(rule);
    if (!KeysAllowRequest(keys))
        return 0;
    return QueryDatedRuleDetail(KIND_STOP_PROFIT, keys, rule, cond, detail);
}

int QueryFillTriggerDetail(const CMemRecord& rule, const QueryConditions& cond, CMemRecord& detail) {
    const RuleKeys keys = ReadKeys(rule);
    if (!KeysAllowRequest(keys))
        return 0;
    // Fill-triggered rows carry no dates; expired rules are looked up within the conditions' range.
    if (!ExpiredRules(cond))
        return SendDetailRequest(KIND_FILL_TRIGGER, cond, keys, nullptr, nullptr, detail);
    return SendDetailRequest(KIND_FILL_TRIGGER, cond, keys, &cond.m_strBeginDate, &cond.m_strEndDate, detail);
}

int QueryArbitrageDetail(const CMemRecord& rule, const QueryConditions& cond, CMemRecord& detail) {
    return QueryUndatedRuleDetail(KIND_ARBITRAGE, rule, cond, detail);
}

int QueryBatchDetail(const CMemRecord& rule, const QueryConditions& cond, CMemRecord& detail) {
    return QueryUndatedRuleDetail(KIND_BATCH, rule, cond, detail);
}

int QueryLinkedDetail(const CMemRecord& rule, const QueryConditions& cond, CMemRecord& detail) {
    return QueryUndatedRuleDetail(KIND_LINKED, rule, cond, detail);
}

int QueryOrderDetail(int kind, const CMemRecord& rule, const QueryConditions& cond, CMemRecord& detail) {
    detail.Zap();
    switch (kind) {
    case KIND_PRICE_TRIGGER:
        return QueryPriceTriggerDetail(rule, cond, detail);
    case KIND_STOP_PROFIT:
        return QueryStopProfitDetail(rule, cond, detail);
    case KIND_FILL_TRIGGER:
        return QueryFillTriggerDetail(rule, cond, detail);
    case KIND_ARBITRAGE:
        return QueryArbitrageDetail(rule, cond, detail);
    case KIND_BATCH:
        return QueryBatchDetail(rule, cond, detail);
    case KIND_LINKED:
        return QueryLinkedDetail(rule, cond, detail);
    default:
        return 0;
    }
}

void FillDetail(CMemRecord& detail) {
    detail.Zap();
    CFixComm* fix = g_pFixComm;
    if (!fix)
        return;
    fix->RepeatFromStartOnFailover([&detail] { detail.Zap(); }); // a read: asked again of the next server
    while (fix->More(nullptr)) {
        if (fix->GetItem(TAG_ORDER_FLAG, -1) == DETAIL_HIDDEN_FLAG)
            continue;
        detail.Append(nullptr, 1);
        detail.Set(GBK("客户号"), fix->GetItem(605, -1), -1);
        detail.Set(GBK("委托号"), fix->GetLong(681, -1), -1);
        detail.Set(GBK("状态说明"), fix->GetItem(754, -1), -1);
        detail.Set(GBK("合约"), fix->GetItem(719, -1), -1);
        detail.Set(GBK("买卖"), TranslateCode("QHMMFX", fix->GetItem(683, -1)), -1);
        detail.Set(GBK("开平"), TranslateCode("QHKPFX", fix->GetItem(1718, -1)), -1);
        detail.Set(GBK("委价"), fix->GetItem(682, -1), -1);
        detail.Set(GBK("委手"), fix->GetItem(684, -1), -1);
        detail.Set(GBK("成价"), fix->GetItem(1734, -1), -1);
        detail.Set(GBK("成手"), fix->GetItem(528, -1), -1);
        detail.Set(GBK("撤手"), fix->GetItem(886, -1), -1);
        detail.Set(GBK("投保"), TranslateCode("QHTZLB", fix->GetItem(1717, -1)), -1);
        detail.Set(GBK("交易所"), TranslateCode("QHJYS", fix->GetItem(599, -1)), -1);
        detail.Set(GBK("委托时间"), fix->GetItem(750, -1), -1);
        detail.Set(GBK("申报时间"), fix->GetItem(751, -1), -1);
        detail.Set(GBK("委托日期"), fix->GetItem(7107, -1), -1);
    }
    // Orders of a reply cut off part-way would look like the rule's whole history.
    if (!fix->LastReplyOk())
        detail.Zap();
}
