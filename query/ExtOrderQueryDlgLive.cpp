// CExtOrderQueryDlg: the live refresh by changes. Each tick asks the server for the current tab's rows
// written since the revision of its last answer and merges them into the list in place; the detail list
// asks whether the rule's orders changed. An older server, or one that asks for it, gets the full query.
#include "host/com/FixComm.h"
#include "module/ModuleState.h"
#include "platform/Time.h"
#include "query/ExtOrderQueryDlg.h"
#include "query/LiveChanges.h"
#include "query/LiveMerge.h"
#include "query/OrderDetail.h"
#include "query/QueryProgress.h"
#include "query/RuleQueries.h"

namespace {

// The reply ended "unknown function": the server predates the changes requests.
bool AnsweredUnknownFunction() {
    return g_pFixComm && !g_pFixComm->LastReplyOk() &&
           g_pFixComm->LastFailure().status == live::kStatusUnknownFunction;
}

std::string EndItem(long tag) {
    return g_pFixComm ? g_pFixComm->GetEndItem(tag).str() : std::string();
}

} // namespace

std::string CExtOrderQueryDlg::AskRevision(int nKind, bool& bFailed) {
    bFailed = false;
    if (!g_pFixComm || !IsLive())
        return {};
    CMemRecord none;
    none.Create(GetRuleLayout(nKind), RULE_RECORD_FLAGS);
    BOOL bCancelled = FALSE;
    m_bQuerying = true;
    {
        CQueryProgress progress(g_pFixComm, [this](const CString& text) { m_barBottom.SetStatus(text); });
        live::ChangesScope scope(GetOrderCategory(nKind), std::string());
        QueryRules(nKind, ConfirmedConditions(), none);
        bCancelled = progress.Finish();
    }
    m_bQuerying = false;
    if (AnsweredUnknownFunction())
        m_bLiveUnsupported = true; // from now on every refresh is the full query, as before
    else if (!bCancelled && !g_pFixComm->LastReplyOk())
        bFailed = true;
    return g_pFixComm->LastReplyOk() ? EndItem(live::TAG_NEXT_REVISION) : std::string();
}

void CExtOrderQueryDlg::RefreshLive(int nKind) {
    LiveState& live = m_live.at(static_cast<size_t>(nKind));
    const QueryOutcome outcome = GetListState(nKind).outcome;
    if (!IsLive() || !g_pFixComm || live.revision.empty() ||
        (outcome != QueryOutcome::Ok && outcome != QueryOutcome::Stale)) {
        RunRuleQuery(nKind, true);
        RefreshLiveDetail();
        return;
    }
    CMemRecord incoming;
    incoming.Create(GetRuleLayout(nKind), RULE_RECORD_FLAGS);
    std::vector<long> left;
    BOOL bCancelled = FALSE;
    int nSent = 0;
    m_bQuerying = true;
    {
        CQueryProgress progress(g_pFixComm, [this](const CString& text) { m_barBottom.SetStatus(text); });
        live::ChangesScope scope(GetOrderCategory(nKind), live.revision);
        nSent = QueryRules(nKind, ConfirmedConditions(), incoming);
        left = scope.Left();
        bCancelled = progress.Finish();
    }
    m_bQuerying = false;
    if (bCancelled || nSent == 0) {
        UpdateStatus();
        return;
    }
    if (!g_pFixComm->LastReplyOk()) {
        if (AnsweredUnknownFunction()) {
            m_bLiveUnsupported = true;
        } else if (RuleRecord(nKind).GetRecordCount() > 0) {
            // The server is away or turned the request down: the rows stay, marked out of date, and the
            // next tick asks for the changes since the same revision.
            KeepRowsOverFailure(nKind);
            UpdateStatus();
            return;
        }
        // The full query says what is wrong, or shows the rows when the server is back.
        RunRuleQuery(nKind, true);
        RefreshLiveDetail();
        return;
    }
    const std::string next = EndItem(live::TAG_NEXT_REVISION);
    if (EndItem(live::TAG_RUN_FULL) == "1") {
        RunRuleQuery(nKind, true, &next);
        RefreshLiveDetail();
        return;
    }
    NoteRowsCurrent(nKind);
    CMemRecord& record = RuleRecord(nKind);
    const int serialField = record.FindField("LSH");
    if (serialField >= 0) {
        m_bFillingList = true;
        const LiveMergeResult merged = MergeLiveRows(record, incoming, serialField, left, false);
        RuleList(nKind).ApplyRowChanges(merged.changes, merged.changedRows, merged.addedRows);
        RuleList(nKind).AdjustField(COrvoListCtrl::kAdjustWidenOnly);
        m_bFillingList = false;
        if (merged.Count() > 0) {
            live.changes += merged.Count();
            live.lastChangeTime = CTime::GetCurrentTime().Format("%H:%M:%S");
        }
    }
    live.revision = next;
    UpdateStatus();
    RefreshLiveDetail();
}

void CExtOrderQueryDlg::RememberDetailRule(int nKind, bool bShown) {
    m_detailRevision.clear();
    m_nDetailKind = -1;
    m_recDetailRule.Zap();
    if (!bShown || !IsValidOrderKind(nKind) || RuleRecord(nKind).Eof())
        return;
    const CMemRecord& rule = RuleRecord(nKind);
    m_recDetailRule.Create(rule.GetLayout(), RULE_RECORD_FLAGS);
    m_recDetailRule.Append(nullptr, 1);
    m_recDetailRule.CopyRow(0, rule, rule.GetRecNo());
    m_nDetailKind = nKind;
}

void CExtOrderQueryDlg::RefreshLiveDetail() {
    if (!IsLive() || !g_pFixComm || m_nDetailKind < 0 || m_recDetailRule.Eof())
        return;
    CMemRecord fresh;
    fresh.Create(GetDetailLayout(), RULE_RECORD_FLAGS);
    BOOL bCancelled = FALSE;
    int nSent = 0;
    m_bQuerying = true;
    {
        CQueryProgress progress(g_pFixComm, [this](const CString& text) { m_barBottom.SetStatus(text); });
        live::ChangesScope scope(GetOrderCategory(m_nDetailKind), m_detailRevision);
        nSent = QueryOrderDetail(m_nDetailKind, m_recDetailRule, ConfirmedConditions(), fresh);
        bCancelled = progress.Finish();
    }
    m_bQuerying = false;
    if (bCancelled || nSent == 0 || !g_pFixComm->LastReplyOk()) {
        if (AnsweredUnknownFunction())
            m_bLiveUnsupported = true;
        else if (!bCancelled)
            m_listDetail.SetStale(true);
        UpdateStatus(); // the orders shown stay; the next tick asks again
        return;
    }
    m_listDetail.SetStale(false);
    m_detailRevision = EndItem(live::TAG_NEXT_REVISION);
    if (EndItem(live::TAG_WHOLE_LIST) != "1")
        return; // no order of the rule changed
    const int orderField = m_recDetail.FindField(GBK("委托号"));
    if (orderField < 0)
        return;
    const LiveMergeResult merged = MergeLiveRows(m_recDetail, fresh, orderField, {}, true);
    m_listDetail.ApplyRowChanges(merged.changes, merged.changedRows, merged.addedRows);
    m_listDetail.AdjustField(COrvoListCtrl::kAdjustWidenOnly);
    UpdateStatus();
}
