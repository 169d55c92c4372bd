#include "query/WindowBottomBar.h"

#include "platform/Resources.h"

namespace {
// The find field is at most this wide; the status line takes the whole band.
constexpr int kFilterMaxWidth = 260;
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
    m_staticStatus.MoveWindow(nLeft, nTop, nRight - nLeft, nBottom - nTop);
    m_editFilter.MoveWindow(nLeft, nTop, std::min(kFilterMaxWidth, nRight - nLeft), nBottom - nTop);
}

void CWindowBottomBar::OpenFilter() {
    if (!m_editFilter.GetSafeHwnd())
        return;
    m_staticStatus.ShowWindow(SW_HIDE);
    m_editFilter.ShowWindow(SW_SHOW);
    m_editFilter.SetFocus();
}

void CWindowBottomBar::CloseFilter() {
    if (!m_editFilter.GetSafeHwnd())
        return;
    m_editFilter.SetWindowText("");
    m_editFilter.ShowWindow(SW_HIDE);
    m_staticStatus.ShowWindow(SW_SHOW);
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
