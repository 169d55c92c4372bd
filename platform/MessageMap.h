// Message maps in the framework's form: a static table per class, searched from the most derived class to
// the base. Each entry unpacks WPARAM/LPARAM into the handler's own signature, so a handler is an ordinary
// member function with the framework's parameters.
//
//   // header                          // source
//   class CMyDlg : public CDialog {     BEGIN_MESSAGE_MAP(CMyDlg, CDialog)
//       ...                                 ON_WM_SIZE()
//       DECLARE_MESSAGE_MAP()                ON_BN_CLICKED(9014, &CMyDlg::OnQuery)
//   };                                   END_MESSAGE_MAP()
#pragma once

#include "platform/Messages.h"

class CWnd;

// Calls the handler; msg is the message as dispatched (WM_CTLCOLOR entries need the original number).
using AFX_PMSG_INVOKE = LRESULT (*)(CWnd* self, UINT msg, WPARAM wParam, LPARAM lParam);

struct AFX_MSGMAP_ENTRY {
    UINT nMessage; // WM_*, WM_CTLCOLOR for the whole colour family, WM_REFLECT_BASE + x for reflected ones
    UINT nCode;    // notification code of WM_COMMAND / WM_NOTIFY entries
    UINT nID;      // first control ID of WM_COMMAND / WM_NOTIFY entries
    UINT nLastID;  // last control ID
    AFX_PMSG_INVOKE pfn;
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

#define DECLARE_MESSAGE_MAP()                                                                                \
protected:                                                                                                   \
    static const AFX_MSGMAP* GetThisMessageMap();                                                            \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                               \
    const AFX_MSGMAP* theClass::GetMessageMap() const {                                                      \
        return GetThisMessageMap();                                                                          \
    }                                                                                                        \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {                                                        \
        using ThisClass = theClass;                                                                          \
        using TheBaseClass = baseClass;                                                                      \
        static const AFX_MSGMAP_ENTRY _messageEntries[] = {

#define END_MESSAGE_MAP()                                                                                    \
    { 0, 0, 0, 0, nullptr }                                                                                  \
    }                                                                                                        \
    ;                                                                                                        \
    static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &_messageEntries[0]};            \
    return &messageMap;                                                                                      \
    }

#define ORVO_MSG_LAMBDA                                                                                      \
    [](CWnd * _w, [[maybe_unused]] UINT _m, [[maybe_unused]] WPARAM _wp,                                     \
       [[maybe_unused]] LPARAM _lp) -> LRESULT
#define ORVO_SELF static_cast<ThisClass*>(_w)

// Plain window messages.
#define ON_WM_CREATE()                                                                                       \
    {WM_CREATE, 0, 0, 0, ORVO_MSG_LAMBDA{return ORVO_SELF->OnCreate(reinterpret_cast<LPCREATESTRUCT>(_lp));  \
    }                                                                                                        \
    }                                                                                                        \
    ,
#define ON_WM_DESTROY()                                                                                      \
    {WM_DESTROY, 0, 0, 0, ORVO_MSG_LAMBDA{ORVO_SELF->OnDestroy();                                            \
    return 0;                                                                                                \
    }                                                                                                        \
    }                                                                                                        \
    ,
#define ON_WM_CLOSE()                                                                                        \
    {WM_CLOSE, 0, 0, 0, ORVO_MSG_LAMBDA{ORVO_SELF->OnClose();                                                \
    return 0;                                                                                                \
    }                                                                                                        \
    }                                                                                                        \
    ,
#define ON_WM_SIZE()                                                                                         \
    {WM_SIZE, 0, 0, 0,                                                                                       \
     ORVO_MSG_LAMBDA{ORVO_SELF->OnSize(static_cast<UINT>(_wp), LOWORD(static_cast<std::uintptr_t>(_lp)),     \
                                       HIWORD(static_cast<std::uintptr_t>(_lp)));                            \
    return 0;                                                                                                \
    }                                                                                                        \
    }                                                                                                        \
    ,
#define ON_WM_CTLCOLOR()                                                                                     \
    {WM_CTLCOLOR, 0, 0, 0,                                                                                   \
     ORVO_MSG_LAMBDA{return reinterpret_cast<LRESULT>(                                                       \
         ORVO_SELF->OnCtlColor(reinterpret_cast<CDC*>(_wp), CWnd::FromHandle(reinterpret_cast<HWND>(_lp)),   \
                               orvo::CtlColorType(_m)));                                                     \
    }                                                                                                        \
    }                                                                                                        \
    ,
#define ORVO_ON_MOUSE(msg, handler)                                                                          \
    {msg, 0, 0, 0,                                                                                           \
     ORVO_MSG_LAMBDA{                                                                                        \
         ORVO_SELF->handler(static_cast<UINT>(_wp), CPoint(GET_X_LPARAM(_lp), GET_Y_LPARAM(_lp)));           \
    return 0;                                                                                                \
    }                                                                                                        \
    }                                                                                                        \
    ,
#define ON_WM_LBUTTONDOWN() ORVO_ON_MOUSE(WM_LBUTTONDOWN, OnLButtonDown)
#define ON_WM_LBUTTONUP() ORVO_ON_MOUSE(WM_LBUTTONUP, OnLButtonUp)
#define ON_WM_LBUTTONDBLCLK() ORVO_ON_MOUSE(WM_LBUTTONDBLCLK, OnLButtonDblClk)
#define ON_WM_RBUTTONDOWN() ORVO_ON_MOUSE(WM_RBUTTONDOWN, OnRButtonDown)
#define ON_WM_RBUTTONUP() ORVO_ON_MOUSE(WM_RBUTTONUP, OnRButtonUp)
#define ON_WM_MOUSEMOVE() ORVO_ON_MOUSE(WM_MOUSEMOVE, OnMouseMove)
#define ON_WM_SETCURSOR()                                                                                    \
    {WM_SETCURSOR, 0, 0, 0,                                                                                  \
     ORVO_MSG_LAMBDA{return ORVO_SELF->OnSetCursor(CWnd::FromHandle(reinterpret_cast<HWND>(_wp)),            \
                                                   LOWORD(static_cast<std::uintptr_t>(_lp)),                 \
                                                   HIWORD(static_cast<std::uintptr_t>(_lp)));                \
    }                                                                                                        \
    }                                                                                                        \
    ,
#define ON_WM_KEYDOWN()                                                                                      \
    {WM_KEYDOWN, 0, 0, 0,                                                                                    \
     ORVO_MSG_LAMBDA{ORVO_SELF->OnKeyDown(static_cast<UINT>(_wp), LOWORD(static_cast<std::uintptr_t>(_lp)),  \
                                          HIWORD(static_cast<std::uintptr_t>(_lp)));                         \
    return 0;                                                                                                \
    }                                                                                                        \
    }                                                                                                        \
    ,
#define ON_WM_KEYUP()                                                                                        \
    {WM_KEYUP, 0, 0, 0,                                                                                      \
     ORVO_MSG_LAMBDA{ORVO_SELF->OnKeyUp(static_cast<UINT>(_wp), LOWORD(static_cast<std::uintptr_t>(_lp)),    \
                                        HIWORD(static_cast<std::uintptr_t>(_lp)));                           \
    return 0;                                                                                                \
    }                                                                                                        \
    }                                                                                                        \
    ,
#define ON_WM_SETFOCUS()                                                                                     \
    {WM_SETFOCUS, 0, 0, 0,                                                                                   \
     ORVO_MSG_LAMBDA{ORVO_SELF->OnSetFocus(CWnd::FromHandle(reinterpret_cast<HWND>(_wp)));                   \
    return 0;                                                                                                \
    }                                                                                                        \
    }                                                                                                        \
    ,
#define ON_WM_KILLFOCUS()                                                                                    \
    {WM_KILLFOCUS, 0, 0, 0,                                                                                  \
     ORVO_MSG_LAMBDA{ORVO_SELF->OnKillFocus(CWnd::FromHandle(reinterpret_cast<HWND>(_wp)));                  \
    return 0;                                                                                                \
    }                                                                                                        \
    }                                                                                                        \
    ,
#define ON_WM_CAPTURECHANGED()                                                                               \
    {WM_CAPTURECHANGED, 0, 0, 0,                                                                             \
     ORVO_MSG_LAMBDA{ORVO_SELF->OnCaptureChanged(CWnd::FromHandle(reinterpret_cast<HWND>(_lp)));             \
    return 0;                                                                                                \
    }                                                                                                        \
    }                                                                                                        \
    ,
#define ON_WM_TIMER()                                                                                        \
    {WM_TIMER, 0, 0, 0, ORVO_MSG_LAMBDA{ORVO_SELF->OnTimer(static_cast<UINT_PTR>(_wp));                      \
    return 0;                                                                                                \
    }                                                                                                        \
    }                                                                                                        \
    ,
#define ON_WM_CONTEXTMENU()                                                                                  \
    {WM_CONTEXTMENU, 0, 0, 0,                                                                                \
     ORVO_MSG_LAMBDA{ORVO_SELF->OnContextMenu(CWnd::FromHandle(reinterpret_cast<HWND>(_wp)),                 \
                                              CPoint(GET_X_LPARAM(_lp), GET_Y_LPARAM(_lp)));                 \
    return 0;                                                                                                \
    }                                                                                                        \
    }                                                                                                        \
    ,

// Any numbered message: LRESULT handler(WPARAM, LPARAM).
#define ON_MESSAGE(message, memberFxn)                                                                       \
    {message, 0, 0, 0, ORVO_MSG_LAMBDA{return (ORVO_SELF->*(memberFxn))(_wp, _lp);                           \
    }                                                                                                        \
    }                                                                                                        \
    ,

// Commands from controls: void handler().
#define ON_CONTROL(code, id, memberFxn)                                                                      \
    {WM_COMMAND, static_cast<UINT>(code), static_cast<UINT>(id), static_cast<UINT>(id),                      \
     ORVO_MSG_LAMBDA{(ORVO_SELF->*(memberFxn))();                                                            \
    return 0;                                                                                                \
    }                                                                                                        \
    }                                                                                                        \
    ,
#define ON_CONTROL_RANGE(code, id, idLast, memberFxn)                                                        \
    {WM_COMMAND, static_cast<UINT>(code), static_cast<UINT>(id), static_cast<UINT>(idLast),                  \
     ORVO_MSG_LAMBDA{(ORVO_SELF->*(memberFxn))(LOWORD(_wp));                                                 \
    return 0;                                                                                                \
    }                                                                                                        \
    }                                                                                                        \
    ,
#define ON_COMMAND(id, memberFxn) ON_CONTROL(0, id, memberFxn)
#define ON_BN_CLICKED(id, memberFxn) ON_CONTROL(BN_CLICKED, id, memberFxn)
#define ON_STN_CLICKED(id, memberFxn) ON_CONTROL(STN_CLICKED, id, memberFxn)
#define ON_CBN_SELCHANGE(id, memberFxn) ON_CONTROL(CBN_SELCHANGE, id, memberFxn)
#define ON_CBN_SELENDOK(id, memberFxn) ON_CONTROL(CBN_SELENDOK, id, memberFxn)
#define ON_CBN_EDITCHANGE(id, memberFxn) ON_CONTROL(CBN_EDITCHANGE, id, memberFxn)
#define ON_CBN_KILLFOCUS(id, memberFxn) ON_CONTROL(CBN_KILLFOCUS, id, memberFxn)
#define ON_CBN_DROPDOWN(id, memberFxn) ON_CONTROL(CBN_DROPDOWN, id, memberFxn)
#define ON_CBN_CLOSEUP(id, memberFxn) ON_CONTROL(CBN_CLOSEUP, id, memberFxn)
#define ON_EN_CHANGE(id, memberFxn) ON_CONTROL(EN_CHANGE, id, memberFxn)
#define ON_EN_KILLFOCUS(id, memberFxn) ON_CONTROL(EN_KILLFOCUS, id, memberFxn)

// WM_NOTIFY from controls: void handler(NMHDR*, LRESULT*).
#define ON_NOTIFY(code, id, memberFxn)                                                                       \
    {WM_NOTIFY, static_cast<UINT>(code), static_cast<UINT>(id), static_cast<UINT>(id),                       \
     ORVO_MSG_LAMBDA{LRESULT _result = 0;                                                                    \
    (ORVO_SELF->*(memberFxn))(reinterpret_cast<NMHDR*>(_lp), &_result);                                      \
    return _result;                                                                                          \
    }                                                                                                        \
    }                                                                                                        \
    ,

// A control handling its own notifications. The parent never sees a reflected notification handled by
// ON_CONTROL_REFLECT / ON_NOTIFY_REFLECT; with the _EX forms the handler returns TRUE to keep it from the
// parent and FALSE to let the parent see it too.
#define ON_CONTROL_REFLECT(code, memberFxn)                                                                  \
    {WM_REFLECT_BASE + WM_COMMAND, static_cast<UINT>(code), 0, 0,                                            \
     ORVO_MSG_LAMBDA{(ORVO_SELF->*(memberFxn))();                                                            \
    return TRUE;                                                                                             \
    }                                                                                                        \
    }                                                                                                        \
    ,
#define ON_CONTROL_REFLECT_EX(code, memberFxn)                                                               \
    {WM_REFLECT_BASE + WM_COMMAND, static_cast<UINT>(code), 0, 0,                                            \
     ORVO_MSG_LAMBDA{return (ORVO_SELF->*(memberFxn))();                                                     \
    }                                                                                                        \
    }                                                                                                        \
    ,
#define ON_NOTIFY_REFLECT(code, memberFxn)                                                                   \
    {WM_REFLECT_BASE + WM_NOTIFY, static_cast<UINT>(code), 0, 0, ORVO_MSG_LAMBDA{LRESULT _result = 0;        \
    (ORVO_SELF->*(memberFxn))(reinterpret_cast<NMHDR*>(_lp), &_result);                                      \
    return TRUE;                                                                                             \
    }                                                                                                        \
    }                                                                                                        \
    ,
