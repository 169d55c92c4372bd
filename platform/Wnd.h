// CWnd: a handle on a QWidget, as the framework's CWnd is a handle on a window. Messages reach a CWnd
// through its message map: Qt events of its widget are turned into the numbered messages (WM_SIZE, mouse,
// keys, focus...), SendMessage calls the map at once and PostMessage queues a message as an event.
//
// Every window of the layer is findable from its QWidget: the widget's "orvoId" property holds the control
// ID, "orvoClass" the window class name, "orvoKind" a short kind for tools ("dialog", "tab", "list",
// "static", "button", ...), and CWnd::FromHandlePermanent gives the C++ object attached to it.
#pragma once

#include "platform/CString.h"
#include "platform/Gdi.h"
#include "platform/MessageMap.h"
#include "platform/Messages.h"

#include <memory>
#include <vector>

class QObject;
class CWnd;

struct CREATESTRUCT {
    void* lpCreateParams = nullptr;
    HWND hwndParent = nullptr;
    int id = 0;
    int cy = 0;
    int cx = 0;
    int y = 0;
    int x = 0;
    DWORD style = 0;
    LPCTSTR lpszName = nullptr;
    LPCTSTR lpszClass = nullptr;
};
using LPCREATESTRUCT = CREATESTRUCT*;

namespace orvo {
class WndBridge;
// WM_CTLCOLOR* message number -> CTLCOLOR_* type.
UINT CtlColorType(UINT message);
} // namespace orvo

class CWnd {
public:
    CWnd();
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND m_hWnd = nullptr;
    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; } // NOLINT(google-explicit-constructor): MFC idiom

    // The object attached to a widget; FromHandle makes a temporary one (owned by the widget) when none is.
    static CWnd* FromHandle(HWND hWnd);
    static CWnd* FromHandlePermanent(HWND hWnd);

    // Attaching: Attach only records the handle; SubclassWindow also routes the widget's events to this
    // object's message map. Both fail on a widget that already has a permanent object.
    BOOL Attach(HWND hWnd);
    HWND Detach();
    BOOL SubclassWindow(HWND hWnd);
    BOOL SubclassDlgItem(UINT id, CWnd* parent);
    HWND UnsubclassWindow();

    // Creates a child window of the registered window class (see DialogBuilder.h); the object owns it.
    virtual BOOL Create(LPCTSTR className, LPCTSTR windowName, DWORD style, const RECT& rect, CWnd* parent,
                        UINT id, void* context = nullptr);
    virtual BOOL DestroyWindow();

    // Identity and tree.
    int GetDlgCtrlID() const;
    int SetDlgCtrlID(int id);
    CWnd* GetDlgItem(int id) const;
    CWnd* GetParent() const;
    CWnd* GetTopLevelParent() const;
    BOOL IsChild(const CWnd* wnd) const;
    CString GetClassName() const;
    DWORD GetStyle() const;
    BOOL ModifyStyle(DWORD remove, DWORD add, UINT flags = 0);
    LONG GetWindowLong(int index) const;
    LONG SetWindowLong(int index, LONG value);

    // State.
    BOOL ShowWindow(int command);
    BOOL IsWindowVisible() const;
    BOOL EnableWindow(BOOL enable = TRUE);
    BOOL IsWindowEnabled() const;
    BOOL IsIconic() const;
    BOOL IsZoomed() const;

    // Geometry: a child's position is in its parent's client coordinates, a top-level window's on screen.
    void MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE);
    void MoveWindow(LPCRECT rect, BOOL repaint = TRUE);
    void GetWindowRect(LPRECT rect) const; // screen coordinates, frame included
    void GetClientRect(LPRECT rect) const; // origin 0, 0
    void ScreenToClient(LPPOINT point) const;
    void ScreenToClient(LPRECT rect) const;
    void ClientToScreen(LPPOINT point) const;
    void ClientToScreen(LPRECT rect) const;

    // Text (GBK) and font.
    void SetWindowText(LPCTSTR text);
    int GetWindowText(CString& text) const;
    CString GetWindowText() const;
    int GetWindowTextLength() const;
    void SetFont(CFont* font, BOOL redraw = TRUE);
    CFont* GetFont() const;

    // Painting.
    void Invalidate(BOOL erase = TRUE);
    void InvalidateRect(LPCRECT rect, BOOL erase = TRUE);
    void UpdateWindow();
    CDC* GetDC();
    int ReleaseDC(CDC* dc);

    // Focus and capture.
    CWnd* SetFocus();
    static CWnd* GetFocus();
    CWnd* SetCapture();
    static CWnd* GetCapture();

    // Timers: WM_TIMER with the event ID.
    UINT_PTR SetTimer(UINT_PTR eventId, UINT elapseMs, void* unused = nullptr);
    BOOL KillTimer(UINT_PTR eventId);

    // Messages.
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    LRESULT SendDlgItemMessage(int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    virtual BOOL PreTranslateMessage(MSG* msg);
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // A notification of this control that its parent hands back first (reflection); TRUE keeps it from the
    // parent.
    virtual BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

    // Is this object a temporary made by FromHandle?
    bool IsTemporary() const { return m_bTemporary; }

protected:
    // Inside a handler: the default processing of the message being handled (the window class's, or Qt's for
    // messages that come from Qt events).
    LRESULT Default();
    // Called once the window has gone, after the object let go of it.
    virtual void PostNcDestroy() {}
    // Called when SubclassWindow (and so DDX_Control and Create) has attached the object to its widget.
    virtual void PreSubclassWindow() {}

    // Default handlers; a derived class declares its own and names it in its message map.
    int OnCreate(LPCREATESTRUCT createStruct);
    void OnDestroy();
    void OnClose();
    void OnSize(UINT type, int cx, int cy);
    HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor);
    void OnLButtonDown(UINT flags, CPoint point);
    void OnLButtonUp(UINT flags, CPoint point);
    void OnLButtonDblClk(UINT flags, CPoint point);
    void OnRButtonDown(UINT flags, CPoint point);
    void OnRButtonUp(UINT flags, CPoint point);
    void OnMouseMove(UINT flags, CPoint point);
    BOOL OnSetCursor(CWnd* wnd, UINT hitTest, UINT message);
    void OnKeyDown(UINT key, UINT repeat, UINT flags);
    void OnKeyUp(UINT key, UINT repeat, UINT flags);
    void OnSetFocus(CWnd* oldWnd);
    void OnKillFocus(CWnd* newWnd);
    void OnCaptureChanged(CWnd* wnd);
    void OnTimer(UINT_PTR eventId);
    void OnContextMenu(CWnd* wnd, CPoint point);

    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;

    // Set by Create for windows this object made and must destroy with itself.
    bool m_bOwnsWindow = false;

private:
    friend class orvo::WndBridge;
    friend class CDialog;
    struct MessageFrame {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        bool fromQt;           // Qt processes the event after the handler when Default() is called
        bool defaultRequested; // Default() ran
    };
    void AttachHandle(HWND hWnd, bool routeEvents);
    void ReleaseHandle();
    void OnWidgetDestroyed();
    LRESULT DispatchFromQt(UINT message, WPARAM wParam, LPARAM lParam, bool* handled);

    std::unique_ptr<orvo::WndBridge> m_pBridge;
    std::vector<MessageFrame> m_frames;
    mutable std::unique_ptr<CFont> m_pFontCache;
    bool m_bTemporary = false;
};

// Win32-style free functions over handles.
LRESULT SendMessage(HWND hWnd, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
BOOL PostMessage(HWND hWnd, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
BOOL IsWindow(HWND hWnd);
HWND GetCapture();
BOOL ReleaseCapture();
HWND GetFocus();
// Confines the mouse to a screen rectangle (null frees it). Mouse messages report positions inside it,
// and on a real screen the pointer is held there.
BOOL ClipCursor(LPCRECT rect);
BOOL GetClipCursor(LPRECT rect);
BOOL GetCursorPos(LPPOINT point);

// A wait cursor for the life of the object.
class CWaitCursor {
public:
    CWaitCursor();
    ~CWaitCursor();
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
};
