#include "controls/SplitterBar.h"

#include "platform/ModalLoop.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>

// What one drag keeps from the press to the end. The drag runs on the bar's own mouse messages while it
// holds the capture; the key hook stands in for the nested loop that would otherwise eat the keys.
struct CSplitterBar::DragState {
    int nGrabY = 0;  // grab point below the bar's top, in the bar's client coordinates
    CRect rcTrack;   // cursor confinement, screen coordinates
    CRect rcStart;   // bar at the press, parent's client coordinates
    CRect rcCurrent; // ghost now
    CRect rcLast;    // ghost drawn last
    CSize sizeBand;  // ghost band: the whole bar
    int nDelta = 0;  // signed displacement, positive downward
    CDC* pDC = nullptr;
    // The hook may be the caller that ends the drag, so it is switched off at once and deleted later.
    std::shared_ptr<bool> pHookActive;
    std::unique_ptr<orvo::ScopedMessageHook> pHook;
};

BEGIN_MESSAGE_MAP(CSplitterBar, CWnd)
ON_WM_SETCURSOR()
ON_WM_LBUTTONDOWN()
ON_WM_MOUSEMOVE()
ON_WM_LBUTTONUP()
ON_WM_RBUTTONDOWN()
ON_WM_CAPTURECHANGED()
ON_WM_DESTROY()
END_MESSAGE_MAP()

CSplitterBar::CSplitterBar() = default;

CSplitterBar::~CSplitterBar() {
    EndDrag(false);
}

int CSplitterBar::AttachToDlgItem(CWnd* pParent, UINT nID) {
    m_pParent = pParent;
    SubclassDlgItem(nID, pParent);
    // A static only sees the mouse with SS_NOTIFY.
    SetWindowLong(GWL_STYLE, GetWindowLong(GWL_STYLE) | static_cast<LONG>(SS_NOTIFY));
    return 1;
}

int CSplitterBar::AddAbove(UINT nID) {
    m_arrAboveIDs.Add(nID);
    return 1;
}

int CSplitterBar::AddBelow(UINT nID) {
    m_arrBelowIDs.Add(nID);
    return 1;
}

BOOL CSplitterBar::OnSetCursor(CWnd* /*pWnd*/, UINT /*nHitTest*/, UINT /*message*/) {
    ::SetCursor(::LoadCursor(nullptr, AFX_IDC_VSPLITBAR));
    return TRUE;
}

void CSplitterBar::GetTrackRect(LPRECT pRect, int nGrabY) const {
    CRect rcBar;
    GetWindowRect(rcBar);
    const LONG nHeight = rcBar.Height();
    if (!m_pParent) {
        *pRect = CRect(rcBar.left, rcBar.top + nGrabY, rcBar.right, rcBar.top + nGrabY + 1);
        return;
    }
    CRect rcClient;
    m_pParent->GetClientRect(rcClient);
    m_pParent->ClientToScreen(rcClient);

    LONG nTopLimit = rcClient.top + m_nTopMargin;
    for (int i = 0; i < m_arrAboveIDs.GetSize(); ++i)
        if (CWnd* pWnd = m_pParent->GetDlgItem(static_cast<int>(m_arrAboveIDs[i]))) {
            CRect rc;
            pWnd->GetWindowRect(rc);
            nTopLimit = std::max(nTopLimit, rc.top + m_nTopMargin);
        }
    LONG nBottomLimit = rcClient.bottom - m_nBottomMargin;
    for (int i = 0; i < m_arrBelowIDs.GetSize(); ++i)
        if (CWnd* pWnd = m_pParent->GetDlgItem(static_cast<int>(m_arrBelowIDs[i]))) {
            CRect rc;
            pWnd->GetWindowRect(rc);
            nBottomLimit = std::min(nBottomLimit, rc.bottom - m_nBottomMargin);
        }
    // A window too low for both margins leaves the bar where it is instead of letting it go anywhere.
    if (nBottomLimit - nHeight < nTopLimit) {
        nTopLimit = rcBar.top;
        nBottomLimit = rcBar.bottom;
    }
    *pRect = CRect(rcBar.left, nTopLimit + nGrabY, rcBar.right, nBottomLimit + nGrabY - nHeight + 1);
}

void CSplitterBar::OnLButtonDown(UINT /*nFlags*/, CPoint point) {
    if (::GetCapture() || m_pDrag || !m_pParent)
        return;
    auto drag = std::make_unique<DragState>();
    drag->nGrabY = static_cast<int>(point.y);
    GetTrackRect(drag->rcTrack, drag->nGrabY);
    ::ClipCursor(drag->rcTrack);
    SetCapture();
    drag->pDC = m_pParent->GetDC();

    GetWindowRect(drag->rcStart);
    m_pParent->ScreenToClient(drag->rcStart);
    drag->sizeBand = CSize(drag->rcStart.Width(), drag->rcStart.Height());
    drag->rcCurrent = drag->rcLast = drag->rcStart;
    if (drag->pDC)
        drag->pDC->DrawDragRect(drag->rcCurrent, drag->sizeBand, nullptr, drag->sizeBand);

    // Every key-down goes nowhere while dragging; Escape also ends the drag where the ghost is.
    drag->pHookActive = std::make_shared<bool>(true);
    drag->pHook =
        std::make_unique<orvo::ScopedMessageHook>([this, active = drag->pHookActive](MSG& msg) -> BOOL {
            if (!*active || msg.message != WM_KEYDOWN)
                return FALSE;
            if (msg.wParam == VK_ESCAPE)
                EndDrag(true);
            return TRUE;
        });
    m_pDrag = std::move(drag);
}

void CSplitterBar::OnMouseMove(UINT nFlags, CPoint point) {
    if (!m_pDrag) {
        CWnd::OnMouseMove(nFlags, point);
        return;
    }
    if (::GetCapture() != m_hWnd) {
        EndDrag(true);
        return;
    }
    TrackTo(point);
}

void CSplitterBar::TrackTo(CPoint point) {
    DragState& drag = *m_pDrag;
    // Held inside the track rectangle, as the confined cursor is, whatever position the message reports.
    CPoint ptScreen = point;
    ClientToScreen(&ptScreen);
    ptScreen.y =
        std::clamp(ptScreen.y, drag.rcTrack.top, std::max(drag.rcTrack.top, drag.rcTrack.bottom - 1));
    CPoint ptClient = ptScreen;
    ScreenToClient(&ptClient);

    drag.nDelta = static_cast<int>(ptClient.y) - drag.nGrabY;
    drag.rcCurrent = drag.rcStart;
    drag.rcCurrent.OffsetRect(0, drag.nDelta);
    if (drag.pDC)
        drag.pDC->DrawDragRect(drag.rcCurrent, drag.sizeBand, drag.rcLast, drag.sizeBand);
    drag.rcLast = drag.rcCurrent;
}

void CSplitterBar::OnLButtonUp(UINT nFlags, CPoint point) {
    if (m_pDrag)
        EndDrag(true);
    else
        CWnd::OnLButtonUp(nFlags, point);
}

void CSplitterBar::OnRButtonDown(UINT nFlags, CPoint point) {
    if (m_pDrag)
        EndDrag(true);
    else
        CWnd::OnRButtonDown(nFlags, point);
}

void CSplitterBar::OnCaptureChanged(CWnd* pWnd) {
    // Someone else took the mouse: the drag ends as a release would, leaving the capture to the taker.
    if (m_pDrag)
        EndDrag(true, false);
    else
        CWnd::OnCaptureChanged(pWnd);
}

void CSplitterBar::OnDestroy() {
    // The window goes while dragging: undo the drag's hold on the mouse and tell nobody.
    EndDrag(false);
    CWnd::OnDestroy();
}

void CSplitterBar::EndDrag(bool bNotify, bool bReleaseCapture) {
    std::unique_ptr<DragState> drag = std::move(m_pDrag);
    if (!drag)
        return;
    *drag->pHookActive = false;
    if (QCoreApplication::instance())
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [hook = drag->pHook.release()] { delete hook; },
            Qt::QueuedConnection);

    if (drag->pDC) {
        drag->pDC->DrawDragRect(drag->rcCurrent, drag->sizeBand, nullptr, drag->sizeBand);
        if (m_pParent)
            m_pParent->ReleaseDC(drag->pDC);
        else
            delete drag->pDC;
    }
    if (bReleaseCapture && m_hWnd && ::GetCapture() == m_hWnd)
        ::ReleaseCapture();
    ::ClipCursor(nullptr);
    if (!bNotify || !m_hWnd || !m_pParent)
        return;

    // Every way out keeps the last tracked position.
    MoveWindow(drag->rcCurrent, FALSE);
    RepositionPanes();
    m_pParent->SendMessage(UM_SPLITTER_MOVED, static_cast<WPARAM>(static_cast<INT_PTR>(drag->nDelta)),
                           static_cast<LPARAM>(GetDlgCtrlID()));
}

void CSplitterBar::RepositionPanes() {
    if (!m_pParent)
        return;
    CRect rcBar;
    GetWindowRect(rcBar);
    m_pParent->ScreenToClient(rcBar);

    // Controls above keep their top and end one pixel above the bar.
    for (int i = 0; i < m_arrAboveIDs.GetSize(); ++i)
        if (CWnd* pWnd = m_pParent->GetDlgItem(static_cast<int>(m_arrAboveIDs[i]))) {
            CRect rc;
            pWnd->GetWindowRect(rc);
            m_pParent->ScreenToClient(rc);
            pWnd->MoveWindow(static_cast<int>(rc.left), static_cast<int>(rc.top),
                             static_cast<int>(rc.Width()), static_cast<int>((rcBar.top - 1) - rc.top), FALSE);
        }
    // Controls below keep their bottom and start one pixel below it.
    for (int i = 0; i < m_arrBelowIDs.GetSize(); ++i)
        if (CWnd* pWnd = m_pParent->GetDlgItem(static_cast<int>(m_arrBelowIDs[i]))) {
            CRect rc;
            pWnd->GetWindowRect(rc);
            m_pParent->ScreenToClient(rc);
            pWnd->MoveWindow(static_cast<int>(rc.left), static_cast<int>(rcBar.bottom + 1),
                             static_cast<int>(rc.Width()), static_cast<int>(rc.bottom - (rcBar.bottom + 1)),
                             FALSE);
            pWnd->InvalidateRect(nullptr, TRUE);
            pWnd->UpdateWindow();
        }
    m_pParent->InvalidateRect(nullptr, TRUE);
}
