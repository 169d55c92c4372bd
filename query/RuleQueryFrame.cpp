#include "query/RuleQueryFrame.h"

#include "host/stock/DataDictionary.h"
#include "module/ModuleState.h"
#include "query/LiveChanges.h"
#include "query/RuleQueries.h"

namespace {

// Condition tags, in the order they go out.
constexpr long TAG_BRANCH = 697;
constexpr long TAG_GROUP = 610;
constexpr long TAG_CUSTOMER = 605;
constexpr long TAG_EXCHANGE = 599;
constexpr long TAG_VARIETY = 720;
constexpr long TAG_CONTRACT = 719;
constexpr long TAG_VALIDITY = 9020;
constexpr long TAG_BEGIN_DATE = 618;
constexpr long TAG_END_DATE = 590;

void SetIfNotEmpty(CFixComm& comm, long tag, const CString& value) {
    if (!value.IsEmpty())
        comm.SetItem(tag, value.GetString());
}

} // namespace

void AddConditionItems(CFixComm& comm, const QueryConditions& cond) {
    comm.SetItem(TAG_BRANCH, cond.m_strBranch.GetString());
    SetIfNotEmpty(comm, TAG_GROUP, cond.m_strGroup);
    SetIfNotEmpty(comm, TAG_CUSTOMER, cond.m_strCustomer);
    SetIfNotEmpty(comm, TAG_EXCHANGE, cond.m_strExchange);
    SetIfNotEmpty(comm, TAG_VARIETY, cond.m_strVariety);
    SetIfNotEmpty(comm, TAG_CONTRACT, cond.m_strContract);
    comm.SetItem(TAG_VALIDITY, cond.m_strValidity.GetString());
    // The date range only narrows expired rules; for rules within validity it is not sent at all.
    if (cond.m_strValidity == "1") {
        comm.SetItem(TAG_BEGIN_DATE, cond.m_strBeginDate.GetString());
        comm.SetItem(TAG_END_DATE, cond.m_strEndDate.GetString());
    }
}

namespace rulequery {

int RunRuleQuery(const Frame& frame, const QueryConditions& cond, CMemRecord& rec, const RowFiller& fill) {
    rec.Zap();
    CFixComm* fix = g_pFixComm;
    if (!fix)
        return 0;

    live::ChangesScope* changes = live::ChangesScope::Active();
    if (changes) {
        // The kind's changes since the revision: the category first, then the same conditions.
        fix->CreateHead(live::FUNC_RULE_CHANGES, -1);
        fix->SetItem(TAG_ORDER_CATEGORY, changes->Category());
        AddConditionItems(*fix, cond);
        if (!changes->Revision().empty())
            fix->SetItem(live::TAG_REVISION, changes->Revision().c_str());
    } else {
        fix->CreateHead(frame.function, -1);
        if (frame.categoryItem == CategoryItem::BeforeConditions)
            fix->SetItem(TAG_ORDER_CATEGORY, frame.category);
        AddConditionItems(*fix, cond);
        if (frame.categoryItem == CategoryItem::AfterConditions)
            fix->SetItem(TAG_ORDER_CATEGORY, frame.category);
    }

    // A query only reads: cut by its server's death, it is asked again of the next server, and the rows
    // of the cut reply go.
    fix->RepeatFromStartOnFailover([&rec, changes] {
        rec.Zap();
        if (changes)
            changes->ForgetLeft();
    });
    while (fix->More(nullptr)) {
        if (changes && fix->GetItemView(live::TAG_LEFT, -1) == "1") {
            changes->NoteLeft(fix->GetLong(797, -1));
            continue;
        }
        rec.Append(nullptr, 1);
        fill(*fix, rec);
    }
    // A reply cut off or refused part-way is not the answer: show none of it rather than a part that
    // looks whole. The channel reports the failure itself.
    if (!fix->LastReplyOk())
        rec.Zap();
    if (frame.goTopAfter)
        rec.GoTop();
    return 1;
}

CString FuturesDictionaryText(LPCTSTR category, long code) {
    if (!g_pDictionary)
        return CString();
    return g_pDictionary->GetXTDM("QHXTDM", "FLDM", category, "IBM", code, "NOTE");
}

} // namespace rulequery
