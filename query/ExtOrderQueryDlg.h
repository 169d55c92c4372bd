// CExtOrderQueryDlg: the module's query window "扩展委托查询". A tab per order kind over its rule list, a
// splitter bar, and the list of the orders the selected rule produced. The window runs the rule query of
// the selected tab with the last confirmed conditions, and the detail query on Enter or a double-click.
#pragma once

#include "conditions/QueryConditionDlg.h"
#include "controls/SplitterBar.h"
#include "host/dbm/MemRecord.h"
#include "host/gui/OrvoDialog.h"
#include "host/gui/OrvoListCtrl.h"
#include "platform/Controls.h"
#include "platform/Gdi.h"
#include "query/LiveRetry.h"
#include "query/QueryConditions.h"
#include "query/RetiredRows.h"
#include "query/RuleRecordLayouts.h"
#include "query/WindowBottomBar.h"
#include "query/WindowStatus.h"

#include <array>

#include <chrono>
#include <string>
#include <vector>

// Asks the query window for the detail of the selected rule row (Enter in a rule list, a double-click on a
// rule row, or posted to the tab control).
inline constexpr UINT UM_QUERY_DETAIL = 0x1214;

class CExtOrderQueryDlg : public COrvoDialog {
public:
    explicit CExtOrderQueryDlg(CWnd* pParent = nullptr);
    ~CExtOrderQueryDlg() override;

    BOOL PreTranslateMessage(MSG* pMsg) override;

    // Empties the detail list and runs the rule query of the selected tab; 0 when no tab has the focus.
    int RefreshCurrentKind();
    // The Query button: new conditions, then the selected tab's query; Cancel changes nothing.
    void OnQuery();
    // The orders of the selected rule row into the detail list. Always 1.
    LRESULT OnQueryDetail(WPARAM wParam, LPARAM lParam);

    // The list and record set of an order kind (tab index 0..5).
    COrvoListCtrl& RuleList(int nKind);
    CMemRecord& RuleRecord(int nKind);
    // The conditions of the last OK of the conditions dialog.
    QueryConditions ConfirmedConditions() const;

    // The find field (Ctrl+F) over the current list, left of the status line while open.
    void OpenFind();
    void CloseFind();
    CString GetStatusText() const { return m_barBottom.GetStatus(); }
    // The status line tells of a failed query (and is drawn in red).
    BOOL IsStatusAlert();
    // How the last query of a rule list (tab index 0..5) ended.
    const ListQueryState& GetListState(int nKind) const {
        return m_listStates.at(static_cast<size_t>(nKind));
    }
    // The lists' layouts and the window's size in the operator's settings: written a moment after the
    // user changed one of them, and when the window closes; read while it opens.
    void SaveLayouts();
    void RestoreLayouts();
    // The live refresh: re-queries the current tab, keeping its sort, filter, scroll position and selected
    // rule, unless the user is busy (conditions dialog open, a key or button held, a query running).
    BOOL RefreshIfIdle();
    // Seconds between live refreshes (INI key RefreshSeconds of the module's section); 0: off.
    UINT GetRefreshSeconds() const { return m_nRefreshSeconds; }
    // The live refresh asks only for changes (INI key Live, on unless "no" while RefreshSeconds is set)
    // and the server answers them; otherwise each refresh runs the full query again.
    bool IsLive() const { return m_nRefreshSeconds > 0 && m_bLive && !m_bLiveUnsupported; }

    CString m_strTitle;
    CSplitterBar m_wndSplitter;
    CTabCtrl m_tabKinds;
    COrvoListCtrl m_listDetail;
    COrvoListCtrl m_listPriceTrigger;
    COrvoListCtrl m_listStopProfit;
    COrvoListCtrl m_listFillTrigger;
    COrvoListCtrl m_listArbitrage;
    COrvoListCtrl m_listBatch;
    COrvoListCtrl m_listLinked;
    CMemRecord m_recDetail;
    CMemRecord m_recPriceTrigger;
    CMemRecord m_recStopProfit;
    CMemRecord m_recFillTrigger;
    CMemRecord m_recArbitrage;
    CMemRecord m_recBatch;
    CMemRecord m_recLinked;
    CQueryConditionDlg m_dlgCondition;
    CWindowBottomBar m_barBottom;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    int OnCreate(LPCREATESTRUCT lpCreateStruct);
    void OnSize(UINT nType, int cx, int cy);
    void OnTabSelChange(NMHDR* pNMHDR, LRESULT* pResult);
    HBRUSH OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor);
    LRESULT OnSplitterMoved(WPARAM wParam, LPARAM lParam);
    void OnFilterChange();
    void OnTimer(UINT_PTR nIDEvent);
    void OnDestroy();
    DECLARE_MESSAGE_MAP()

private:
    bool IsRuleList(HWND hWnd);
    // Escape takes off one layer: TRUE when it closed the find field (or a query is running, whose
    // progress has the key); FALSE leaves it to close the window.
    BOOL PeelEscape();
    // Saves the layouts once the user has left them alone for a moment.
    void ScheduleLayoutSave();
    // Moves every rule list to the tab control's rectangle, nTopInset below its top and 15 inside its
    // right and bottom.
    void FitRuleLists(const CRect& rcTab, int nTopInset);
    // bKeepPlace: a live refresh, which leaves the focus where it is and keeps the selected rule and the
    // scroll position.
    void RunRuleQuery(int nKind, bool bKeepPlace = false, const std::string* pRevision = nullptr);
    // Live: the revision to ask changes from after a full query of the kind (16500 without one); "" when
    // the server gives none.
    // bFailed: the request failed (not cancelled, not an older server), so the full query would too.
    std::string AskRevision(int nKind, bool& bFailed);
    // Live: the changes of the kind since its revision merged into its list, or the full query when the
    // server asks for one; then the detail list's orders when they changed.
    void RefreshLive(int nKind);
    void RefreshLiveDetail();
    // The detail list now shows the orders of the current rule row of nKind (or none).
    void RememberDetailRule(int nKind, bool bShown);
    // The detail list shows the orders of the current rule row of nKind.
    bool DetailShowsCurrentRule(int nKind);
    // Refills the list from its record set after a query; bKeepPlace puts back the selected rules (by
    // serial number), the current one and the scroll position, and only widens the columns.
    void ShowQueriedRows(int nKind, bool bKeepPlace);
    // A query of the kind failed while its list had rows: they stay, greyed, and the status line says
    // how old they are and why; a live list tries again, backing off while the failure lasts.
    void KeepRowsOverFailure(int nKind);
    // A query or live tick of the kind succeeded: its rows are current (again).
    void NoteRowsCurrent(int nKind);
    // Live: whether this tick is to try the kind's query; a list out of date waits out its back-off.
    bool RetryDue(int nKind);
    void PlaceBottomBar();
    void UpdateStatus();
    // The status line says what an export wrote ("已导出 N 行 → FILE") for a few seconds.
    void ShowExported(long nRows, const std::string& pathUtf8);
    void SetUpWindowAdditions();
    COrvoListCtrl* CurrentRuleList();

    bool m_bDraggedSplit = false; // the splitter bar was dragged since the last layout
    double m_dStartShare = 0.0;   // the saved split, kept while the window stays maximized; 0: none
    bool m_bOpenMaximized = true; // the window was closed maximized (or never closed)
    bool m_bOpening = false;      // the window is being shown for the first time
    std::array<ListQueryState, ORDER_KIND_COUNT> m_listStates{};
    UINT m_nRefreshSeconds = 0;
    bool m_bLive = true;
    bool m_bLiveUnsupported = false; // the server answered a changes request "unknown function"
    // Per rule list: the revision to ask changes from ("": a full query first), and the changes merged
    // since its last full query.
    struct LiveState {
        std::string revision;
        long changes = 0;
        CString lastChangeTime;
    };
    std::array<LiveState, ORDER_KIND_COUNT> m_live{};
    // Per rule list: how often a tick tries its query while its rows are out of date.
    std::vector<CLiveRetry> m_retry;
    // The rule whose orders the detail list shows (one row of its kind's layout), and their revision.
    int m_nDetailKind = -1;
    CMemRecord m_recDetailRule;
    std::string m_detailRevision;
    bool m_bQuerying = false;
    CString m_strNotice; // shown in the status line in place of the figures while set
    // A query's rows are going into its list: the list's own change notices leave the status line alone,
    // which the query writes once when the list is done (each writing sums the lots over every row).
    bool m_bFillingList = false;
    std::chrono::steady_clock::time_point m_lastKeyDown{};
    // The rows a query replaced, freed after the new ones are painted.
    CRetiredRows m_retiredRows;

    // The splitter bar's background; one brush for the life of the window.
    CBrush m_brSplitter;
};
