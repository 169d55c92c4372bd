// A window's messages: sending, posting, the message map walk with notifications reflected to the
// controls that sent them, the default window procedure and the default handlers.
#include "platform/Wnd.h"

#include "platform/DialogBuilder.h"
#include "platform/QtText.h"
#include "platform/WndInternal.h"

#include <QApplication>
#include <QCursor>
#include <QMetaObject>
#include <QWidget>

#include <algorithm>
#include <cstring>

namespace orvo {

UINT CtlColorType(UINT message) {
    switch (message) {
    case WM_CTLCOLOREDIT:
        return CTLCOLOR_EDIT;
    case WM_CTLCOLORLISTBOX:
        return CTLCOLOR_LISTBOX;
    case WM_CTLCOLORBTN:
        return CTLCOLOR_BTN;
    case WM_CTLCOLORDLG:
        return CTLCOLOR_DLG;
    default:
        return CTLCOLOR_STATIC;
    }
}

} // namespace orvo

// ---- messages ----------------------------------------------------------------------------------------

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (!m_hWnd)
        return 0;
    m_frames.push_back({message, wParam, lParam, false, false});
    const LRESULT result = WindowProc(message, wParam, lParam);
    m_frames.pop_back();
    return result;
}

LRESULT CWnd::DispatchFromQt(UINT message, WPARAM wParam, LPARAM lParam, bool* handled) {
    m_frames.push_back({message, wParam, lParam, true, false});
    const LRESULT result = WindowProc(message, wParam, lParam);
    *handled = !m_frames.back().defaultRequested;
    m_frames.pop_back();
    return result;
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::PostMessage(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::SendDlgItemMessage(int id, UINT message, WPARAM wParam, LPARAM lParam) {
    CWnd* item = GetDlgItem(id);
    return item ? item->SendMessage(message, wParam, lParam) : 0;
}

BOOL CWnd::PreTranslateMessage(MSG* /*msg*/) {
    return FALSE;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result))
        result = DefWindowProc(message, wParam, lParam);
    return result;
}

BOOL CWnd::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    m_frames.push_back({WM_REFLECT_BASE + message, wParam, lParam, false, false});
    LRESULT handled = 0;
    const BOOL found = OnWndMsg(WM_REFLECT_BASE + message, wParam, lParam, &handled);
    m_frames.pop_back();
    if (found && handled) {
        if (result)
            *result = 0;
        return TRUE;
    }
    return FALSE;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    // A control's own notifications go back to it first.
    if (message == WM_COMMAND && lParam) {
        CWnd* child = FromHandlePermanent(reinterpret_cast<HWND>(lParam));
        if (child && child != this && child->OnChildNotify(message, wParam, lParam, result))
            return TRUE;
    } else if (message == WM_NOTIFY && lParam) {
        CWnd* child = FromHandlePermanent(reinterpret_cast<const NMHDR*>(lParam)->hwndFrom);
        if (child && child != this && child->OnChildNotify(message, wParam, lParam, result))
            return TRUE;
    }

    const bool ctlColor = message >= WM_CTLCOLOREDIT && message <= WM_CTLCOLORSTATIC;
    const UINT lookFor = ctlColor ? WM_CTLCOLOR : message;
    UINT code = 0;
    UINT id = 0;
    const bool command = message == WM_COMMAND || message == WM_REFLECT_BASE + WM_COMMAND;
    const bool notify = message == WM_NOTIFY || message == WM_REFLECT_BASE + WM_NOTIFY;
    if (command) {
        code = HIWORD(wParam);
        id = LOWORD(wParam);
    } else if (notify) {
        if (!lParam)
            return FALSE;
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        code = header->code;
        id = static_cast<UINT>(header->idFrom);
    }
    const bool reflected = message >= WM_REFLECT_BASE;

    for (const AFX_MSGMAP* map = GetMessageMap(); map;
         map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* entry = map->lpEntries; entry && entry->pfn; ++entry) {
            if (entry->nMessage != lookFor)
                continue;
            if ((command || notify) && entry->nCode != code)
                continue;
            if ((command || notify) && !reflected && (id < entry->nID || id > entry->nLastID))
                continue;
            *result = entry->pfn(this, message, wParam, lParam);
            return TRUE;
        }
    }
    return FALSE;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    // Messages from Qt events: Qt's own processing is the default, once the handler returns.
    if (!m_frames.empty() && m_frames.back().fromQt && m_frames.back().message == message) {
        m_frames.back().defaultRequested = true;
        return 0;
    }
    if (!m_hWnd)
        return 0;
    const QString className = m_hWnd->property(orvo::kPropClass).toString();
    if (const orvo::WindowClass* wc = orvo::FindWindowClass(className.toStdString()); wc && wc->proc) {
        LRESULT result = 0;
        if (wc->proc(m_hWnd, message, wParam, lParam, &result))
            return result;
    }
    switch (message) {
    case WM_SETTEXT:
        orvo::SetWidgetText(m_hWnd, orvo::ToQString(CString(reinterpret_cast<LPCTSTR>(lParam))));
        return TRUE;
    case WM_GETTEXTLENGTH:
        return GetWindowText().GetLength();
    case WM_GETTEXT: {
        if (wParam == 0 || !lParam)
            return 0;
        const CString text = GetWindowText();
        const auto count = std::min<std::size_t>(static_cast<std::size_t>(text.GetLength()), wParam - 1);
        std::memcpy(reinterpret_cast<char*>(lParam), text.GetString(), count);
        reinterpret_cast<char*>(lParam)[count] = '\0';
        return static_cast<LRESULT>(count);
    }
    case WM_SETFONT:
        if (wParam)
            m_hWnd->setFont(*reinterpret_cast<HFONT>(wParam));
        return 0;
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(GetFont()->GetSafeHandle());
    case WM_CLOSE:
        DestroyWindow();
        return 0;
    default:
        return 0;
    }
}

LRESULT CWnd::Default() {
    if (m_frames.empty())
        return 0;
    const MessageFrame frame = m_frames.back();
    return DefWindowProc(frame.message, frame.wParam, frame.lParam);
}

// ---- default handlers --------------------------------------------------------------------------------

int CWnd::OnCreate(LPCREATESTRUCT) {
    return static_cast<int>(Default());
}
void CWnd::OnDestroy() {
    Default();
}
void CWnd::OnClose() {
    Default();
}
void CWnd::OnSize(UINT, int, int) {
    Default();
}
HBRUSH CWnd::OnCtlColor(CDC*, CWnd*, UINT) {
    return reinterpret_cast<HBRUSH>(Default());
}
void CWnd::OnLButtonDown(UINT, CPoint) {
    Default();
}
void CWnd::OnLButtonUp(UINT, CPoint) {
    Default();
}
void CWnd::OnLButtonDblClk(UINT, CPoint) {
    Default();
}
void CWnd::OnRButtonDown(UINT, CPoint) {
    Default();
}
void CWnd::OnRButtonUp(UINT, CPoint) {
    Default();
}
void CWnd::OnMouseMove(UINT, CPoint) {
    Default();
}
BOOL CWnd::OnSetCursor(CWnd*, UINT, UINT) {
    return static_cast<BOOL>(Default());
}
void CWnd::OnKeyDown(UINT, UINT, UINT) {
    Default();
}
void CWnd::OnKeyUp(UINT, UINT, UINT) {
    Default();
}
void CWnd::OnSetFocus(CWnd*) {
    Default();
}
void CWnd::OnKillFocus(CWnd*) {
    Default();
}
void CWnd::OnCaptureChanged(CWnd*) {
    Default();
}
void CWnd::OnTimer(UINT_PTR) {
    Default();
}
void CWnd::OnContextMenu(CWnd*, CPoint) {
    Default();
}

const AFX_MSGMAP* CWnd::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, 0, nullptr}};
    static const AFX_MSGMAP map = {nullptr, &entries[0]};
    return &map;
}

const AFX_MSGMAP* CWnd::GetMessageMap() const {
    return GetThisMessageMap();
}

// ---- free functions ----------------------------------------------------------------------------------

LRESULT SendMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CWnd* wnd = CWnd::FromHandle(hWnd);
    return wnd ? wnd->SendMessage(message, wParam, lParam) : 0;
}

BOOL PostMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!hWnd)
        return FALSE;
    CWnd::FromHandle(hWnd); // a window without an object still gets one to receive the message
    QCoreApplication::postEvent(hWnd, new orvo::PostedMessageEvent(message, wParam, lParam));
    return TRUE;
}

CWaitCursor::CWaitCursor() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
}
CWaitCursor::~CWaitCursor() {
    QApplication::restoreOverrideCursor();
}
