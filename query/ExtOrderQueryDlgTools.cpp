// CExtOrderQueryDlg: what the window offers for a whole working day around its queries: the find field,
// the status line, layouts kept per operator, and the live refresh.
#include "host/cfg/OrvoIni.h"
#include "module/ModuleState.h"
#include "platform/TextNumbers.h"
#include "query/ExtOrderQueryDlg.h"
#include "query/RuleQueries.h"
#include "query/RuleRecordLayouts.h"
#include "query/WindowLayoutStore.h"
#include "query/WindowStatus.h"
#include "res/Resource.h"

#include <QApplication>
#include <QKeySequence>
#include <QShortcut>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

constexpr UINT_PTR kRefreshTimer = 0x5201;
constexpr UINT_PTR kLayoutSaveTimer = 0x5202;
constexpr UINT_PTR kNoticeTimer = 0x5203;
// How long the status line tells what an export did before it shows the list's figures again.
constexpr UINT kNoticeMs = 5000;
// A layout is written this long after the user's last change of it: a drag of a column edge changes it
// many times a second.
constexpr UINT kLayoutSaveDelayMs = 1000;
// The window's own INI section, and the key of the live refresh interval in seconds.
constexpr const char* kIniSection = "EXTORDERQUERY";
constexpr const char* kIniRefreshSeconds = "RefreshSeconds";
// "no": every refresh runs the full query; anything else (or nothing) asks only for changes.
constexpr const char* kIniLive = "Live";
constexpr long kMaxRefreshSeconds = 24 * 3600;
// A live list whose rows are out of date tries again at least this often while its servers are away.
constexpr unsigned kLongestRetrySeconds = 30;
// A key pressed this recently counts as held (a held key repeats far faster than this).
constexpr auto kKeyHeld = std::chrono::milliseconds(600);
// Bounds of a restored split (the tab control's share of the client height).
constexpr double kMinShare = 0.2;
constexpr double kMaxShare = 0.85;
// Gap between the status line and the Query button.
constexpr int kBarGap = 10;

// A tab's title without its key ("止损止盈单[F2]": "止损止盈单"), for a file name.
CString WithoutKey(const CString& title) {
    const int bracket = title.Find('[');
    return bracket > 0 ? title.Left(bracket) : title;
}

std::string listKey(int nKind) {
    return "list" + std::to_string(nKind);
}

} // namespace

void CExtOrderQueryDlg::SetUpWindowAdditions() {
    m_barBottom.Create(this);

    // Ctrl+F, as the platform names "find", while the window is active.
    auto* find = new QShortcut(QKeySequence::Find, GetSafeHwnd());
    find->setContext(Qt::WindowShortcut);
    QObject::connect(find, &QShortcut::activated, find, [this] { OpenFind(); });

    for (int nKind = 0; nKind < ORDER_KIND_COUNT; ++nKind) {
        RuleList(nKind).SetViewChangedHandler([this, nKind] {
            if (CurrentRuleList() == &RuleList(nKind) && !m_bFillingList)
                UpdateStatus();
        });
        RuleList(nKind).SetLayoutChangedHandler([this] { ScheduleLayoutSave(); });
        RuleList(nKind).SetExportName(WithoutKey(GetOrderKindTitle(nKind)));
        RuleList(nKind).SetExportedHandler(
            [this](long rows, const std::string& path) { ShowExported(rows, path); });
    }
    m_listDetail.SetLayoutChangedHandler([this] { ScheduleLayoutSave(); });
    m_listDetail.SetExportName(CString::FromUtf8("委托明细"));
    m_listDetail.SetExportedHandler([this](long rows, const std::string& path) { ShowExported(rows, path); });
    RestoreLayouts();

    if (g_pIni) {
        const long nSeconds = orvo::TextToLong(g_pIni->GetValue(kIniSection, kIniRefreshSeconds, "0").str());
        m_nRefreshSeconds = static_cast<UINT>(std::clamp(nSeconds, 0L, kMaxRefreshSeconds));
        CString live = g_pIni->GetValue(kIniSection, kIniLive, "yes");
        live.Trim();
        m_bLive = live.CompareNoCase("no") != 0 && live != "0";
    }
    m_retry.assign(ORDER_KIND_COUNT, CLiveRetry(m_nRefreshSeconds, kLongestRetrySeconds));
    if (m_nRefreshSeconds > 0)
        SetTimer(kRefreshTimer, m_nRefreshSeconds * 1000);
    UpdateStatus();
}

COrvoListCtrl* CExtOrderQueryDlg::CurrentRuleList() {
    const int nKind = m_tabKinds.GetSafeHwnd() ? m_tabKinds.GetCurSel() : -1;
    return IsValidOrderKind(nKind) ? &RuleList(nKind) : nullptr;
}

void CExtOrderQueryDlg::PlaceBottomBar() {
    CWnd* pQuery = GetDlgItem(IDC_BTN_QUERY);
    if (!pQuery || !m_tabKinds.GetSafeHwnd())
        return;
    CRect rcButton, rcTab;
    pQuery->GetWindowRect(rcButton);
    ScreenToClient(rcButton);
    m_tabKinds.GetWindowRect(rcTab);
    ScreenToClient(rcTab);
    m_barBottom.Place(static_cast<int>(rcTab.left), static_cast<int>(rcButton.top),
                      static_cast<int>(rcButton.left) - kBarGap, static_cast<int>(rcButton.bottom));
}

void CExtOrderQueryDlg::OpenFind() {
    if (!m_barBottom.IsFilterOpen())
        m_barBottom.OpenFilter();
    else if (CWnd* pEdit = GetDlgItem(IDC_EDIT_FILTER))
        pEdit->SetFocus();
}

BOOL CExtOrderQueryDlg::PeelEscape() {
    if (m_bQuerying)
        return TRUE; // the query's progress cancels it; the window stays
    COrvoListCtrl* pList = CurrentRuleList();
    const bool bFiltering = m_barBottom.IsFilterOpen() || (pList && !pList->GetFilterText().IsEmpty());
    if (!bFiltering)
        return FALSE;
    const bool bInFind = m_barBottom.FilterHwnd() && QApplication::focusWidget() == m_barBottom.FilterHwnd();
    CloseFind();
    if (bInFind && pList)
        pList->SetFocus();
    return TRUE;
}

void CExtOrderQueryDlg::CloseFind() {
    m_barBottom.CloseFilter(); // its change notification shows every row again
    if (COrvoListCtrl* pList = CurrentRuleList())
        pList->SetFilterText("");
    UpdateStatus();
}

void CExtOrderQueryDlg::OnFilterChange() {
    if (COrvoListCtrl* pList = CurrentRuleList())
        pList->SetFilterText(m_barBottom.GetFilterText());
}

void CExtOrderQueryDlg::ShowExported(long nRows, const std::string& pathUtf8) {
    m_strNotice = CString::FromUtf8("已导出 " + std::to_string(nRows) + " 行 → " + pathUtf8);
    SetTimer(kNoticeTimer, kNoticeMs);
    UpdateStatus();
}

void CExtOrderQueryDlg::UpdateStatus() {
    if (!m_strNotice.IsEmpty()) {
        m_barBottom.SetStatus(m_strNotice);
        return;
    }
    COrvoListCtrl* pList = CurrentRuleList();
    const CMemRecord* pRecord = pList ? pList->GetRecord() : nullptr;
    if (!pRecord)
        return;
    WindowStatusFigures figures;
    figures.rowsShown = pList->GetShownRowCount();
    figures.rowsLoaded = pRecord->GetRecordCount();
    std::vector<long> rows = pList->GetSelectedRecordRows();
    figures.rowsSelected = static_cast<long>(rows.size());
    if (rows.size() <= 1)
        rows = pList->GetShownRecordRows();
    figures.lotSums = SumLots(*pRecord, LotColumns(*pRecord, pList->GetShownColumnCount()), rows);
    const ListQueryState& state = GetListState(m_tabKinds.GetCurSel()); // a valid kind: there is a list
    figures.queryMs = state.queryMs;
    figures.refreshTime = state.refreshTime;
    figures.outcome = state.outcome;
    figures.failureText = state.failureText;
    figures.lastUpdate = state.lastUpdate;
    figures.recovered = state.recovered;
    if (IsLive()) {
        const LiveState& live = m_live.at(static_cast<size_t>(m_tabKinds.GetCurSel()));
        figures.live = true;
        figures.liveChanges = live.changes;
        figures.lastChangeTime = live.lastChangeTime;
    }
    m_barBottom.SetStatus(FormatWindowStatus(figures));
    if (CWnd* pStatus = GetDlgItem(IDC_STATIC_STATUS))
        pStatus->Invalidate(); // its colour follows the outcome
}

BOOL CExtOrderQueryDlg::IsStatusAlert() {
    const int nKind = m_tabKinds.GetSafeHwnd() ? m_tabKinds.GetCurSel() : -1;
    if (!IsValidOrderKind(nKind))
        return FALSE;
    const QueryOutcome outcome = GetListState(nKind).outcome;
    return outcome == QueryOutcome::Failed || outcome == QueryOutcome::Stale;
}

void CExtOrderQueryDlg::ScheduleLayoutSave() {
    if (GetSafeHwnd())
        SetTimer(kLayoutSaveTimer, kLayoutSaveDelayMs); // a later change starts the wait again
}

void CExtOrderQueryDlg::SaveLayouts() {
    CWindowLayoutStore store(CurrentOperatorName());
    for (int nKind = 0; nKind < ORDER_KIND_COUNT; ++nKind)
        if (RuleList(nKind).GetSafeHwnd())
            store.Write(listKey(nKind), RuleList(nKind).SaveLayout());
    if (m_listDetail.GetSafeHwnd())
        store.Write("detail", m_listDetail.SaveLayout());
    // The split is kept only when it is the operator's: dragged, or the one this window opened with.
    double dShare = m_dStartShare;
    CRect rcClient, rcTab;
    GetClientRect(rcClient);
    if (m_bDraggedSplit && m_tabKinds.GetSafeHwnd() && rcClient.bottom > 0) {
        m_tabKinds.GetWindowRect(rcTab);
        ScreenToClient(rcTab);
        // Half a pixel up, so that the same client height gives back the same pixel.
        dShare = (static_cast<double>(rcTab.bottom) + 0.5) / static_cast<double>(rcClient.bottom);
    }
    char share[32] = "";
    if (dShare > 0.0)
        std::snprintf(share, sizeof share, "%.6f", dShare);
    store.Write("split", share);
    if (QWidget* window = GetSafeHwnd()) {
        const QRect normal =
            window->normalGeometry().isValid() ? window->normalGeometry() : window->geometry();
        char text[64];
        std::snprintf(text, sizeof text, "%d,%d,%d,%d", normal.x(), normal.y(), normal.width(),
                      normal.height());
        store.Write("window", text);
        store.Write("maximized", window->isMaximized() ? "1" : "0");
    }
}

void CExtOrderQueryDlg::RestoreLayouts() {
    const CWindowLayoutStore store(CurrentOperatorName());
    for (int nKind = 0; nKind < ORDER_KIND_COUNT; ++nKind) {
        const std::string state = store.Read(listKey(nKind));
        if (!state.empty())
            RuleList(nKind).RestoreLayout(state);
    }
    const std::string detail = store.Read("detail");
    if (!detail.empty())
        m_listDetail.RestoreLayout(detail);
    // The tab control's share of the client height, within bounds that leave both panes usable.
    double dShare = 0.0;
    if (std::sscanf(store.Read("split").c_str(), "%lf", &dShare) == 1 && dShare >= kMinShare &&
        dShare <= kMaxShare)
        m_dStartShare = dShare;
    m_bOpenMaximized = store.Read("maximized") != "0"; // maximized unless it was left otherwise
    int x = 0, y = 0, w = 0, h = 0;
    const std::string window = store.Read("window");
    // The size the window takes when the user restores it from maximized.
    if (std::sscanf(window.c_str(), "%d,%d,%d,%d", &x, &y, &w, &h) == 4 && w >= 200 && h >= 150 &&
        w <= 16384 && h <= 16384 && GetSafeHwnd())
        GetSafeHwnd()->setGeometry(x, y, w, h);
}

void CExtOrderQueryDlg::OnDestroy() {
    KillTimer(kRefreshTimer);
    KillTimer(kLayoutSaveTimer);
    KillTimer(kNoticeTimer);
    SaveLayouts();
    m_retiredRows.FreeNow();
    COrvoDialog::OnDestroy();
}

void CExtOrderQueryDlg::OnTimer(UINT_PTR nIDEvent) {
    if (nIDEvent == kRefreshTimer)
        RefreshIfIdle();
    if (nIDEvent == kNoticeTimer) {
        KillTimer(kNoticeTimer);
        m_strNotice.Empty();
        UpdateStatus();
    }
    if (nIDEvent == kLayoutSaveTimer) {
        KillTimer(kLayoutSaveTimer);
        SaveLayouts();
    }
}

BOOL CExtOrderQueryDlg::RefreshIfIdle() {
    const bool bConditionsOpen = m_dlgCondition.GetSafeHwnd() != nullptr;
    const QWidget* modal = QApplication::activeModalWidget();
    const bool bOtherModal = modal && modal != GetSafeHwnd(); // a menu, a file dialog, a message box
    const bool bKeyHeld = std::chrono::steady_clock::now() - m_lastKeyDown < kKeyHeld;
    const bool bButtonHeld = QApplication::mouseButtons() != Qt::NoButton || m_wndSplitter.IsDragging();
    if (m_bQuerying || bConditionsOpen || bOtherModal || bKeyHeld || bButtonHeld || !IsWindowVisible())
        return FALSE;
    const int nKind = m_tabKinds.GetCurSel();
    if (!IsValidOrderKind(nKind) || !RetryDue(nKind))
        return FALSE;
    RefreshLive(nKind);
    return TRUE;
}
