// The standard controls the module's windows call: static text, button and tab control. Each is a thin
// CWnd whose operations are the class's messages, so a control made from a template without a C++ object
// answers the same messages.
#pragma once

#include "platform/Wnd.h"

struct TCITEM {
    UINT mask = 0;
    DWORD dwState = 0;
    DWORD dwStateMask = 0;
    LPTSTR pszText = nullptr; // GBK
    int cchTextMax = 0;
    int iImage = -1;
    LPARAM lParam = 0;
};
using TCITEMA = TCITEM;

class CStatic : public CWnd {
public:
    using CWnd::Create;
    BOOL Create(LPCTSTR text, DWORD style, const RECT& rect, CWnd* parent, UINT id = 0xFFFF) {
        return CWnd::Create(orvo::wc::kStatic, text, style, rect, parent, id);
    }
};

class CButton : public CWnd {
public:
    using CWnd::Create;
    BOOL Create(LPCTSTR text, DWORD style, const RECT& rect, CWnd* parent, UINT id) {
        return CWnd::Create(orvo::wc::kButton, text, style, rect, parent, id);
    }
    int GetCheck() { return static_cast<int>(SendMessage(BM_GETCHECK)); }
    void SetCheck(int check) { SendMessage(BM_SETCHECK, static_cast<WPARAM>(check)); }
    // Presses the button as a user would: the parent receives BN_CLICKED.
    void Click() { SendMessage(BM_CLICK); }
};

// Tabs along the top of a frame; the windows shown "in" a tab are siblings laid over the display area.
// A user's change of tab reaches the parent as WM_NOTIFY TCN_SELCHANGE; SetCurSel does not notify.
class CTabCtrl : public CWnd {
public:
    using CWnd::Create;
    BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
        return CWnd::Create(orvo::wc::kTab, "", style, rect, parent, id);
    }
    LONG InsertItem(int item, LPCTSTR text);
    LONG InsertItem(int item, TCITEM* tabItem);
    BOOL GetItem(int item, TCITEM* tabItem);
    CString GetItemText(int item);
    int GetItemCount() { return static_cast<int>(SendMessage(TCM_GETITEMCOUNT)); }
    int GetCurSel() { return static_cast<int>(SendMessage(TCM_GETCURSEL)); }
    int SetCurSel(int item) {
        return static_cast<int>(SendMessage(TCM_SETCURSEL, static_cast<WPARAM>(item)));
    }
    int GetCurFocus() { return static_cast<int>(SendMessage(TCM_GETCURFOCUS)); }
    void SetCurFocus(int item) { SendMessage(TCM_SETCURFOCUS, static_cast<WPARAM>(item)); }
    BOOL DeleteItem(int item) {
        return static_cast<BOOL>(SendMessage(TCM_DELETEITEM, static_cast<WPARAM>(item)));
    }
    BOOL DeleteAllItems() { return static_cast<BOOL>(SendMessage(TCM_DELETEALLITEMS)); }
    // larger FALSE: a window rectangle to the display area inside it; TRUE: the reverse.
    void AdjustRect(BOOL larger, LPRECT rect) {
        SendMessage(TCM_ADJUSTRECT, static_cast<WPARAM>(larger), reinterpret_cast<LPARAM>(rect));
    }
};
