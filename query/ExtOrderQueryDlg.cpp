#include "query/ExtOrderQueryDlg.h"

#include "module/ModuleState.h"
#include "query/OrderDetail.h"
#include "query/QueryProgress.h"
#include "query/RuleQueries.h"
#include "query/RuleRecordLayouts.h"
#include "res/Resource.h"

#include <array>

namespace {

// The window's own layout leaves this much of the client area's bottom to the Query and Exit buttons.
constexpr int kButtonBand = 50;
// Every right edge keeps this far from the client's right edge; the rule lists sit as far inside the tab.
constexpr int kEdgeGap = 15;
// Rule lists start this far below the tab control's top, clear of the tab headers. After a drag of the
// splitter bar too: 15 there would lay the lists over the lower part of the headers.
constexpr int kListInsetBelowTabs = 25;
// Share of the client height given to the tab control.
constexpr double kTabShare = 0.618;
constexpr int kSplitterHeight = 20;

constexpr COLORREF kSplitterText = RGB(255, 215, 0);
constexpr COLORREF kSplitterBack = RGB(74, 112, 139);
// The status line of a failed query.
constexpr COLORREF kAlertText = RGB(200, 0, 0);

// User messages in this range posted to the tab control are the window's own.
constexpr UINT kTabForwardFirst = 0x1211;
constexpr UINT kTabForwardLast = 0x1218;

} // namespace

BEGIN_MESSAGE_MAP(CExtOrderQueryDlg, COrvoDialog)
ON_WM_SIZE()
ON_WM_CREATE()
ON_NOTIFY(TCN_SELCHANGE, IDC_TAB_KINDS, &CExtOrderQueryDlg::OnTabSelChange)
ON_BN_CLICKED(IDC_BTN_QUERY, &CExtOrderQueryDlg::OnQuery)
ON_WM_CTLCOLOR()
ON_MESSAGE(UM_SPLITTER_MOVED, &CExtOrderQueryDlg::OnSplitterMoved)
ON_MESSAGE(UM_QUERY_DETAIL, &CExtOrderQueryDlg::OnQueryDetail)
ON_EN_CHANGE(IDC_EDIT_FILTER, &CExtOrderQueryDlg::OnFilterChange)
ON_WM_TIMER()
ON_WM_DESTROY()
END_MESSAGE_MAP()

CExtOrderQueryDlg::CExtOrderQueryDlg(CWnd* pParent)
    : COrvoDialog(IDD_EXT_ORDER_QUERY, pParent), m_dlgCondition(nullptr), m_brSplitter(kSplitterBack) {}

CExtOrderQueryDlg::~CExtOrderQueryDlg() = default;

COrvoListCtrl& CExtOrderQueryDlg::RuleList(int nKind) {
    const std::array<COrvoListCtrl*, ORDER_KIND_COUNT> lists{&m_listPriceTrigger, &m_listStopProfit,
                                                             &m_listFillTrigger,  &m_listArbitrage,
                                                             &m_listBatch,        &m_listLinked};
    return *lists.at(static_cast<size_t>(nKind));
}

CMemRecord& CExtOrderQueryDlg::RuleRecord(int nKind) {
    const std::array<CMemRecord*, ORDER_KIND_COUNT> records{
        &m_recPriceTrigger, &m_recStopProfit, &m_recFillTrigger, &m_recArbitrage, &m_recBatch, &m_recLinked};
    return *records.at(static_cast<size_t>(nKind));
}

QueryConditions CExtOrderQueryDlg::ConfirmedConditions() const {
    QueryConditions cond;
    cond.m_strBranch = m_dlgCondition.m_strBranch;
    cond.m_strGroup = m_dlgCondition.m_strGroup;
    cond.m_strCustomer = m_dlgCondition.m_strCustomer;
    cond.m_strExchange = m_dlgCondition.m_strExchange;
    cond.m_strVariety = m_dlgCondition.m_strVariety;
    cond.m_strContract = m_dlgCondition.m_strContract;
    cond.m_strValidity = m_dlgCondition.m_strValidity;
    cond.m_strBeginDate = m_dlgCondition.m_strBeginDate;
    cond.m_strEndDate = m_dlgCondition.m_strEndDate;
    return cond;
}

void CExtOrderQueryDlg::DoDataExchange(CDataExchange* pDX) {
    COrvoDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_TAB_KINDS, m_tabKinds);
    DDX_Control(pDX, IDC_LIST_DETAIL, m_listDetail);
}

BOOL CExtOrderQueryDlg::OnInitDialog() {
    COrvoDialog::OnInitDialog();

    if (!m_strTitle.IsEmpty())
        SetWindowText(m_strTitle);

    // The base keeps Query and Exit at the bottom right; the layout below leaves them the bottom band.
    SetNoteVisible(FALSE);
    SetItemAlign(IDC_BTN_QUERY, COrvoDialog::kAlignBottomRight);
    SetItemAlign(IDCANCEL, COrvoDialog::kAlignBottomRight);

    for (int nKind = 0; nKind < ORDER_KIND_COUNT; ++nKind)
        m_tabKinds.InsertItem(nKind, GetOrderKindTitle(nKind));

    // The rule lists are siblings laid over the tab control; OnSize puts them in place.
    CRect rcTab;
    m_tabKinds.GetClientRect(rcTab);
    for (int nKind = 0; nKind < ORDER_KIND_COUNT; ++nKind)
        RuleList(nKind).Create("ListBox", "", WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP, rcTab, this, 0);

    m_wndSplitter.AttachToDlgItem(this, IDC_STATIC_DETAIL);
    m_wndSplitter.AddAbove(IDC_TAB_KINDS);
    m_wndSplitter.AddBelow(IDC_LIST_DETAIL);

    CFont* pFont = GetFont();
    for (int nKind = 0; nKind < ORDER_KIND_COUNT; ++nKind)
        RuleList(nKind).SetFont(pFont, TRUE);

    m_recDetail.Create(GetDetailLayout(), RULE_RECORD_FLAGS);
    m_listDetail.SetRecord(&m_recDetail);
    m_listDetail.SetDoubleClickMessage(0); // only the rule lists raise the detail query
    m_listDetail.AdjustField(-2);
    for (int nKind = 0; nKind < ORDER_KIND_COUNT; ++nKind) {
        RuleRecord(nKind).Create(GetRuleLayout(nKind), RULE_RECORD_FLAGS);
        RuleList(nKind).SetRecord(&RuleRecord(nKind));
        RuleList(nKind).AdjustField(-2);
    }

    for (int nKind = 0; nKind < ORDER_KIND_COUNT; ++nKind)
        RuleList(nKind).SetCanShowTip(FALSE);

    for (int nKind = 0; nKind < ORDER_KIND_COUNT; ++nKind)
        RuleList(nKind).ShowWindow(nKind == KIND_PRICE_TRIGGER ? SW_SHOW : SW_HIDE);

    // Find field, status line, saved layouts, live refresh: none of them moves the controls above.
    SetUpWindowAdditions();

    // As the operator left it: maximized (also the first time), or at the size it was left with.
    m_bOpening = true;
    ShowWindow(m_bOpenMaximized ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL);
    m_bOpening = false;

    // The conditions dialog opens over the window at once.
    OnQuery();

    m_listPriceTrigger.SetFocus();
    return FALSE;
}

int CExtOrderQueryDlg::OnCreate(LPCREATESTRUCT lpCreateStruct) {
    if (COrvoDialog::OnCreate(lpCreateStruct) == -1)
        return -1;
    return 0;
}

void CExtOrderQueryDlg::FitRuleLists(const CRect& rcTab, int nTopInset) {
    const LONG nTop = rcTab.top + nTopInset;
    const LONG nRight = rcTab.right - kEdgeGap;
    const LONG nBottom = rcTab.bottom - kEdgeGap;
    for (int nKind = 0; nKind < ORDER_KIND_COUNT; ++nKind) {
        COrvoListCtrl& list = RuleList(nKind);
        if (list.GetSafeHwnd())
            list.MoveWindow(static_cast<int>(rcTab.left), static_cast<int>(nTop),
                            static_cast<int>(nRight - rcTab.left), static_cast<int>(nBottom - nTop));
    }
}

void CExtOrderQueryDlg::OnSize(UINT nType, int cx, int cy) {
    COrvoDialog::OnSize(nType, cx, cy);
    if (nType != SIZE_RESTORED && nType != SIZE_MAXIMIZED)
        return;

    CRect rcClient;
    GetClientRect(rcClient);
    const LONG nHeight = rcClient.bottom;
    const LONG nWidth = rcClient.right;
    // The window opens (maximized or not, as it was left) with the split the operator left it with, until
    // the operator drags the bar or restores the window; from then on every restore or maximize lays out
    // from the standard share.
    if (nType == SIZE_RESTORED && !m_bOpening)
        m_dStartShare = 0.0;
    m_bDraggedSplit = false;
    const double dShare = m_dStartShare > 0.0 ? m_dStartShare : kTabShare;
    const double dSplit = static_cast<double>(nHeight) * dShare;

    if (m_tabKinds.IsWindowEnabled()) {
        CRect rcTab;
        m_tabKinds.GetWindowRect(rcTab);
        ScreenToClient(rcTab);
        rcTab.right = nWidth - kEdgeGap;
        rcTab.bottom = static_cast<LONG>(dSplit);
        m_tabKinds.MoveWindow(rcTab);
        FitRuleLists(rcTab, kListInsetBelowTabs);
    }
    if (m_wndSplitter.IsWindowEnabled()) {
        CRect rcBar;
        m_wndSplitter.GetWindowRect(rcBar);
        ScreenToClient(rcBar);
        rcBar.top = static_cast<LONG>(dSplit + 1.0);
        rcBar.right = nWidth - kEdgeGap;
        rcBar.bottom = rcBar.top + kSplitterHeight;
        m_wndSplitter.MoveWindow(rcBar);
    }
    if (m_listDetail.IsWindowEnabled()) {
        CRect rcList;
        m_listDetail.GetWindowRect(rcList);
        ScreenToClient(rcList);
        rcList.top = static_cast<LONG>(dSplit + 21.0);
        rcList.right = nWidth - kEdgeGap;
        rcList.bottom = nHeight - kButtonBand;
        m_listDetail.MoveWindow(rcList);
    }
    PlaceBottomBar();
    if (nType == SIZE_RESTORED && m_barBottom.FilterHwnd())
        ScheduleLayoutSave(); // the size the window comes back to
}

LRESULT CExtOrderQueryDlg::OnSplitterMoved(WPARAM /*wParam*/, LPARAM /*lParam*/) {
    m_dStartShare = 0.0; // the operator's own split from now on
    m_bDraggedSplit = true;
    ScheduleLayoutSave();
    // The bar has resized the tab control; the rule lists follow it.
    if (m_tabKinds.IsWindowEnabled()) {
        CRect rcTab;
        m_tabKinds.GetWindowRect(rcTab);
        ScreenToClient(rcTab);
        FitRuleLists(rcTab, kListInsetBelowTabs);
    }
    return 1;
}

void CExtOrderQueryDlg::OnTabSelChange(NMHDR* /*pNMHDR*/, LRESULT* pResult) {
    for (int nKind = 0; nKind < ORDER_KIND_COUNT; ++nKind)
        RuleList(nKind).ShowWindow(SW_HIDE);
    RefreshCurrentKind();
    if (pResult)
        *pResult = 0;
}

bool CExtOrderQueryDlg::IsRuleList(HWND hWnd) {
    if (!hWnd)
        return false;
    for (int nKind = 0; nKind < ORDER_KIND_COUNT; ++nKind)
        if (RuleList(nKind).GetSafeHwnd() == hWnd)
            return true;
    return false;
}

BOOL CExtOrderQueryDlg::PreTranslateMessage(MSG* pMsg) {
    if (pMsg->message == WM_KEYDOWN) {
        m_lastKeyDown = std::chrono::steady_clock::now();
        // Escape peels one layer: an open find field, wherever the focus is, before the window itself.
        if (pMsg->wParam == VK_ESCAPE && PeelEscape())
            return TRUE;
        // Enter in the find field goes to the list.
        if (pMsg->hwnd && pMsg->hwnd == m_barBottom.FilterHwnd() && pMsg->wParam == VK_RETURN) {
            if (COrvoListCtrl* pList = CurrentRuleList())
                pList->SetFocus();
            return TRUE;
        }
        if (pMsg->wParam == VK_RETURN && IsRuleList(pMsg->hwnd)) {
            SendMessage(UM_QUERY_DETAIL, 0, 0);
            return TRUE;
        }
        // F1 to F6 from any control: that tab, queried again. The key then goes on as usual.
        if (pMsg->wParam >= VK_F1 && pMsg->wParam < VK_F1 + ORDER_KIND_COUNT) {
            m_tabKinds.SetCurSel(static_cast<int>(pMsg->wParam - VK_F1));
            LRESULT result = 0;
            OnTabSelChange(nullptr, &result);
        }
    }
    if (pMsg->message >= kTabForwardFirst && pMsg->message <= kTabForwardLast && pMsg->hwnd &&
        pMsg->hwnd == m_tabKinds.GetSafeHwnd())
        SendMessage(pMsg->message, pMsg->wParam, pMsg->lParam);
    return COrvoDialog::PreTranslateMessage(pMsg);
}

HBRUSH CExtOrderQueryDlg::OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor) {
    HBRUSH hbr = COrvoDialog::OnCtlColor(pDC, pWnd, nCtlColor);
    if (pWnd && pWnd->GetDlgCtrlID() == IDC_STATIC_DETAIL) {
        pDC->SetTextColor(kSplitterText);
        pDC->SetBkColor(kSplitterBack);
        return m_brSplitter;
    }
    if (pWnd && pWnd->GetDlgCtrlID() == IDC_STATIC_STATUS && IsStatusAlert())
        pDC->SetTextColor(kAlertText);
    return hbr;
}

int CExtOrderQueryDlg::RefreshCurrentKind() {
    // No order rows of an earlier rule stay on screen.
    RememberDetailRule(-1, false);
    m_recDetail.Zap();
    m_listDetail.SetEmptyText("");
    m_listDetail.SetStale(false);
    m_listDetail.Refresh(0);
    m_listDetail.AdjustField(-2);

    if (static_cast<int>(m_tabKinds.SendMessage(TCM_GETCURFOCUS)) < 0)
        return 0;
    const int nKind = static_cast<int>(m_tabKinds.SendMessage(TCM_GETCURSEL));
    if (IsValidOrderKind(nKind)) {
        RuleList(nKind).ShowWindow(SW_SHOW);
        RuleList(nKind).EnableWindow(TRUE);
        RunRuleQuery(nKind);
    }
    return 1;
}

void CExtOrderQueryDlg::OnQuery() {
    if (m_dlgCondition.DoModal() == IDOK)
        RefreshCurrentKind();
}
