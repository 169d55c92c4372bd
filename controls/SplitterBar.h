// CSplitterBar: turns a child control of a dialog (a static caption) into a horizontal bar that the user
// drags up or down to share the dialog's height between the controls above it and those below it.
//
// The drag follows the mouse with a ghost of the bar, inside a track rectangle that keeps the bar a margin
// away from the client area's edges and from the far edges of its neighbours. On release (also on a
// right-button press, on Escape, or when the capture is taken away) the bar moves to the last tracked
// position, the neighbours are re-laid one pixel off it, and the parent receives UM_SPLITTER_MOVED.
// While the drag lasts every other key-down of the application is swallowed.
#pragma once

#include "controls/ControlMessages.h"
#include "platform/Collections.h"
#include "platform/Wnd.h"

#include <memory>

class CSplitterBar : public CWnd {
public:
    // Least distance in pixels between the bar and the top of the parent's client area or of each control
    // above: room for the tab headers and two or three rule rows.
    static constexpr int kDefaultTopMargin = 100;
    // Least distance between the bar and the bottom of the client area or of each control below: the
    // detail list keeps its header and three or four rows.
    static constexpr int kDefaultBottomMargin = 90;

    CSplitterBar();
    ~CSplitterBar() override;

    // Takes over the parent's child control nID and lets it receive the mouse (SS_NOTIFY). Always 1.
    int AttachToDlgItem(CWnd* pParent, UINT nID);
    // Neighbours, by control ID of the parent, in the order added. Always 1.
    int AddAbove(UINT nID);
    int AddBelow(UINT nID);

    BOOL IsDragging() const { return m_pDrag != nullptr; }
    // The screen rectangle the cursor is confined to while dragging with the grab point nGrabY pixels
    // below the bar's top.
    void GetTrackRect(LPRECT pRect, int nGrabY) const;

protected:
    BOOL OnSetCursor(CWnd* pWnd, UINT nHitTest, UINT message);
    void OnLButtonDown(UINT nFlags, CPoint point);
    void OnMouseMove(UINT nFlags, CPoint point);
    void OnLButtonUp(UINT nFlags, CPoint point);
    void OnRButtonDown(UINT nFlags, CPoint point);
    void OnCaptureChanged(CWnd* pWnd);
    void OnDestroy();
    // Moves the neighbours so that they end one pixel off the bar's edges.
    void RepositionPanes();
    DECLARE_MESSAGE_MAP()

    CWnd* m_pParent = nullptr;
    CDWordArray m_arrAboveIDs;
    CDWordArray m_arrBelowIDs;
    int m_nTopMargin = kDefaultTopMargin;
    int m_nBottomMargin = kDefaultBottomMargin;

private:
    struct DragState;
    void TrackTo(CPoint point);
    void EndDrag(bool bNotify, bool bReleaseCapture = true);

    std::unique_ptr<DragState> m_pDrag;
};
