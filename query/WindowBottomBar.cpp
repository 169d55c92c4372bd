#include "query/WindowBottomBar.h"

#include "platform/Resources.h"

#include <algorithm>

namespace {
// The find field is at most this wide; the status line takes the rest of the band.
constexpr int kFilterMaxWidth = 260;
constexpr int kFilterGap = 8;
} // namespace

BOOL CWindowBottomBar::Create(CWnd* pParent) {
    const CRect rc(0, 0, 10, 10);
    if (!m_staticStatus.Create("", WS_CHILD | WS_VISIBLE, rc, pParent, IDC_STATIC_STATUS))
        return FALSE;
    return m_editFilter.Create(orvo::wc::kEdit, "", WS_CHILD | WS_BORDER | WS_TABSTOP, rc, pParent,
                               IDC_EDIT_FILTER);
}

void CWindowBottomBar::Place(int nLeft, int nTop, int nRight, int nBottom) {
    if (!m_staticStatus.GetSafeHwnd() || nRight <= nLeft || nBottom <= nTop)
        return;
    m_rcBand = CRect(nLeft, nTop, nRight, nBottom);
    LayOut();
}

void CWindowBottomBar::LayOut() {
    const int nLeft = static_cast<int>(m_rcBand.left);
    const int nTop = static_cast<int>(m_rcBand.top);
    const int nWidth = static_cast<int>(m_rcBand.Width());
    const int nHeight = static_cast<int>(m_rcBand.Height());
    if (nWidth <= 0 || nHeight <= 0)
        return;
    const int nFilterWidth = std::min(kFilterMaxWidth, nWidth);
    m_editFilter.MoveWindow(nLeft, nTop, nFilterWidth, nHeight);
    // With the find field open the status line stays in sight beside it: its counts are what a search
    // is for.
    const int nStatusLeft =
        IsFilterOpen() ? std::min(nLeft + nFilterWidth + kFilterGap, nLeft + nWidth) : nLeft;
    m_staticStatus.MoveWindow(nStatusLeft, nTop, nLeft + nWidth - nStatusLeft, nHeight);
}

void CWindowBottomBar::OpenFilter() {
    if (!m_editFilter.GetSafeHwnd())
        return;
    m_editFilter.ShowWindow(SW_SHOW);
    LayOut();
    m_editFilter.SetFocus();
}

void CWindowBottomBar::CloseFilter() {
    if (!m_editFilter.GetSafeHwnd())
        return;
    m_editFilter.SetWindowText("");
    m_editFilter.ShowWindow(SW_HIDE);
    LayOut();
}

BOOL CWindowBottomBar::IsFilterOpen() const {
    return m_editFilter.GetSafeHwnd() && m_editFilter.IsWindowVisible();
}

CString CWindowBottomBar::GetFilterText() const {
    return m_editFilter.GetSafeHwnd() ? m_editFilter.GetWindowText() : CString();
}

void CWindowBottomBar::SetStatus(const CString& text) {
    if (m_staticStatus.GetSafeHwnd() && m_staticStatus.GetWindowText() != text)
        m_staticStatus.SetWindowText(text);
}

CString CWindowBottomBar::GetStatus() const {
    return m_staticStatus.GetSafeHwnd() ? m_staticStatus.GetWindowText() : CString();
}
