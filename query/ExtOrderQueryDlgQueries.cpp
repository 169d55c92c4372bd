// CExtOrderQueryDlg: the queries behind the lists. A rule query fills a record set of its own and takes
// the list's place only when its reply is whole: a cancel leaves the rows shown as they were, a failure
// empties the list and says why until a query of that list succeeds.
#include "host/com/FixComm.h"
#include "module/ModuleState.h"
#include "platform/Time.h"
#include "query/ExtOrderQueryDlg.h"
#include "query/OrderDetail.h"
#include "query/QueryProgress.h"
#include "query/RuleQueries.h"

#include <QScrollBar>
#include <QTableView>

#include <string>
#include <unordered_set>
#include <vector>

namespace {

// Why the channel's last request failed, as the status line tells it (GBK).
CString LastFailureText() {
    if (!g_pFixComm)
        return CString::FromUtf8("没有连接");
    const FixCommFailure& failure = g_pFixComm->LastFailure();
    if (!failure.text.IsEmpty())
        return g_pFixComm->UserText(failure.text); // in the host's words for the user
    return CString::FromUtf8("状态 ") + CString(std::to_string(failure.status));
}

// Where the user stands in a list, by serial number, so that a refresh can put it back.
struct PlaceInList {
    long currentSerial = 0;
    std::vector<long> selectedSerials;
    int scroll = 0;
};

PlaceInList RememberPlace(const COrvoListCtrl& list, const CMemRecord& record) {
    PlaceInList place;
    const int serialField = record.FindField("LSH");
    if (serialField < 0)
        return place;
    if (!record.Eof())
        place.currentSerial = record.GetCellLong(record.GetRecNo(), serialField);
    for (const long row : list.GetSelectedRecordRows())
        place.selectedSerials.push_back(record.GetCellLong(row, serialField));
    if (list.View())
        place.scroll = list.View()->verticalScrollBar()->value();
    return place;
}

void RestorePlace(COrvoListCtrl& list, const CMemRecord& record, const PlaceInList& place) {
    const int serialField = record.FindField("LSH");
    if (serialField >= 0 && (place.currentSerial != 0 || !place.selectedSerials.empty())) {
        const std::unordered_set<long> selected(place.selectedSerials.begin(), place.selectedSerials.end());
        std::vector<long> rows;
        long currentRow = -1;
        const long count = record.GetRecordCount();
        for (long row = 0; row < count; ++row) {
            const long serial = record.GetCellLong(row, serialField);
            if (selected.contains(serial))
                rows.push_back(row);
            if (currentRow < 0 && serial == place.currentSerial && place.currentSerial != 0)
                currentRow = row;
        }
        list.SelectRecordRows(rows, currentRow);
    }
    if (list.View())
        list.View()->verticalScrollBar()->setValue(place.scroll);
}

} // namespace

void CExtOrderQueryDlg::RunRuleQuery(int nKind, bool bKeepPlace, const std::string* pRevision) {
    // Live: the revision comes first, so that a change committed during the full query is asked again.
    // When even that fails, the full query would fail the same way: it is not sent.
    bool bRevisionFailed = false;
    std::string revision;
    if (IsLive())
        revision = pRevision ? *pRevision : AskRevision(nKind, bRevisionFailed);
    CMemRecord fresh;
    fresh.Create(GetRuleLayout(nKind), RULE_RECORD_FLAGS);
    BOOL bCancelled = FALSE;
    long nQueryMs = 0;
    int nSent = 0;
    if (!bRevisionFailed) {
        m_bQuerying = true;
        CWaitCursor wait;
        CQueryProgress progress(g_pFixComm, [this](const CString& text) { m_barBottom.SetStatus(text); });
        nSent = QueryRules(nKind, ConfirmedConditions(), fresh);
        nQueryMs = progress.ElapsedMs();
        // The keys typed meanwhile are read before the rows change; a paint of the rows about to go would
        // only hold up the paint of the new ones.
        QTableView* pView = RuleList(nKind).View();
        const bool bViewUpdates = pView && pView->updatesEnabled();
        if (bViewUpdates)
            pView->setUpdatesEnabled(false);
        bCancelled = progress.Finish();
        if (bViewUpdates)
            pView->setUpdatesEnabled(true);
        m_bQuerying = false;
    }

    ListQueryState& state = m_listStates.at(static_cast<size_t>(nKind));
    if (bCancelled) {
        // The user's cancel: the rows of the query before stay, and a failure before it still stands.
        if (state.outcome != QueryOutcome::Failed && state.outcome != QueryOutcome::Stale)
            state.outcome = QueryOutcome::Cancelled;
        if (!bKeepPlace)
            RuleList(nKind).SetFocus(); // a tab change hid the list, and the focus went with it
        UpdateStatus();
        return;
    }
    const bool bFailed = bRevisionFailed || nSent == 0 || !g_pFixComm->LastReplyOk();
    if (bFailed && RuleRecord(nKind).GetRecordCount() > 0) {
        // The rows of before are the best the desk has: they stay, with their revision, so that a live
        // list goes back to changes when a server answers again.
        KeepRowsOverFailure(nKind);
        if (!bKeepPlace)
            RuleList(nKind).SetFocus();
        UpdateStatus();
        return;
    }
    if (bFailed) {
        state.outcome = QueryOutcome::Failed;
        state.recovered = false;
        state.failureText = LastFailureText();
        fresh.Zap(); // a reply cut off part-way is not the answer
    } else {
        NoteRowsCurrent(nKind);
        state.queryMs = nQueryMs;
        state.refreshTime = state.lastUpdate;
    }
    LiveState& live = m_live.at(static_cast<size_t>(nKind));
    live.revision = bFailed ? std::string() : revision;
    live.changes = 0;
    live.lastChangeTime.Empty();
    const PlaceInList place = bKeepPlace ? RememberPlace(RuleList(nKind), RuleRecord(nKind)) : PlaceInList{};
    RuleRecord(nKind).Swap(fresh); // the rows shown before go with `fresh`
    ShowQueriedRows(nKind, bKeepPlace);
    if (bKeepPlace)
        RestorePlace(RuleList(nKind), RuleRecord(nKind), place);
    UpdateStatus();
    m_retiredRows.Retire(fresh);
}

void CExtOrderQueryDlg::KeepRowsOverFailure(int nKind) {
    ListQueryState& state = m_listStates.at(static_cast<size_t>(nKind));
    state.outcome = QueryOutcome::Stale;
    state.recovered = false;
    state.failureText = LastFailureText();
    RuleList(nKind).SetStale(true);
    if (m_nDetailKind == nKind && !m_recDetail.Eof())
        m_listDetail.SetStale(true); // its orders were asked under the same rows
    if (static_cast<size_t>(nKind) < m_retry.size())
        m_retry[static_cast<size_t>(nKind)].Failed();
}

void CExtOrderQueryDlg::NoteRowsCurrent(int nKind) {
    ListQueryState& state = m_listStates.at(static_cast<size_t>(nKind));
    state.recovered = state.outcome == QueryOutcome::Stale;
    state.outcome = QueryOutcome::Ok;
    state.failureText.Empty();
    state.lastUpdate = CTime::GetCurrentTime().Format("%H:%M:%S");
    RuleList(nKind).SetStale(false);
    if (m_nDetailKind == nKind)
        m_listDetail.SetStale(false);
    if (static_cast<size_t>(nKind) < m_retry.size())
        m_retry[static_cast<size_t>(nKind)].Succeeded();
}

bool CExtOrderQueryDlg::RetryDue(int nKind) {
    if (GetListState(nKind).outcome != QueryOutcome::Stale || static_cast<size_t>(nKind) >= m_retry.size())
        return true;
    return m_retry[static_cast<size_t>(nKind)].TickDue();
}

bool CExtOrderQueryDlg::DetailShowsCurrentRule(int nKind) {
    if (!IsValidOrderKind(nKind) || nKind != m_nDetailKind || m_recDetailRule.Eof())
        return false;
    const CMemRecord& rules = RuleRecord(nKind);
    const int serialField = rules.FindField("LSH"); // the detail's rule has the kind's layout
    return serialField >= 0 && !rules.Eof() &&
           rules.GetCellLong(rules.GetRecNo(), serialField) == m_recDetailRule.GetCellLong(0, serialField);
}

void CExtOrderQueryDlg::ShowQueriedRows(int nKind, bool bKeepPlace) {
    COrvoListCtrl& list = RuleList(nKind);
    m_bFillingList = true;
    list.Refresh(0);
    list.SetFilterText(m_barBottom.GetFilterText());
    // Widths the list fitted itself are fitted again by each new query; a refresh only widens them, so
    // that the columns hold still while the user reads.
    list.AdjustField(bKeepPlace ? COrvoListCtrl::kAdjustWidenOnly : -2);
    if (!bKeepPlace)
        list.SetFocus();
    m_bFillingList = false;
}

LRESULT CExtOrderQueryDlg::OnQueryDetail(WPARAM /*wParam*/, LPARAM /*lParam*/) {
    // The orders of another rule go at once, whatever follows; those of the same rule are kept aside, to
    // stay (greyed) should the query fail.
    const int nShownKind = static_cast<int>(m_tabKinds.SendMessage(TCM_GETCURSEL));
    CMemRecord previous;
    previous.Create(GetDetailLayout(), RULE_RECORD_FLAGS);
    if (DetailShowsCurrentRule(nShownKind))
        previous.Swap(m_recDetail);
    m_recDetail.Zap();
    m_listDetail.SetEmptyText("");
    m_listDetail.SetStale(false);
    m_listDetail.Refresh(0);
    m_listDetail.AdjustField(-2);
    RememberDetailRule(-1, false);

    const int nKind = static_cast<int>(m_tabKinds.SendMessage(TCM_GETCURSEL));
    if (!IsValidOrderKind(nKind))
        return 1;
    BOOL bCancelled = FALSE;
    int nSent = 0;
    m_bQuerying = true;
    {
        CWaitCursor wait;
        CQueryProgress progress(g_pFixComm, [this](const CString& text) { m_barBottom.SetStatus(text); });
        nSent = QueryOrderDetail(nKind, RuleRecord(nKind), ConfirmedConditions(), m_recDetail);
        bCancelled = progress.Finish();
    }
    m_bQuerying = false;
    // The empty detail list says why it is empty: no orders yet (also a rule whose keys ask for none),
    // a cancel, or a failure that must not read as "no orders".
    const bool bFailed = !bCancelled && nSent != 0 && g_pFixComm && !g_pFixComm->LastReplyOk();
    if (bFailed && previous.GetRecordCount() > 0) {
        m_recDetail.Swap(previous); // the rule's orders of before are the best there is
        m_listDetail.SetStale(true);
        RememberDetailRule(nKind, true);
        UpdateStatus();
        m_listDetail.Refresh(0);
        m_listDetail.AdjustField(-2);
        return 1;
    }
    if (bCancelled) {
        m_recDetail.Zap();
        m_listDetail.SetEmptyText(CString::FromUtf8("已取消"));
    } else if (bFailed) {
        m_listDetail.SetEmptyText(CString::FromUtf8("查询失败: ") + LastFailureText(), true);
    } else if (!RuleRecord(nKind).Eof()) {
        m_listDetail.SetEmptyText(CString::FromUtf8("该条件单尚无委托"));
    }
    RememberDetailRule(nKind, !bCancelled && nSent != 0 && g_pFixComm && g_pFixComm->LastReplyOk());
    UpdateStatus();
    m_listDetail.Refresh(0);
    m_listDetail.AdjustField(-2);
    return 1;
}
