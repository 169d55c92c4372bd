// CComboBox and the "ComboBox" window class, with the Win32 semantics the module relies on:
// - CB_ADDSTRING inserts in sort order when the box has CBS_SORT (a stable, case-insensitive order; equal
//   texts keep the order they were added in), CB_INSERTSTRING at the index given (-1: at the end);
// - every entry carries item data; CB_RESETCONTENT empties the list, the selection and the edit text;
// - edit selection (CB_GETEDITSEL / CB_SETEDITSEL, in bytes of the GBK text), drop-down state, current
//   selection; CB_SETCURSEL never notifies, the user's choices do (CBN_SELCHANGE, CBN_SELENDOK, ...);
// - CBS_DROPDOWN boxes have an edit field (CBN_EDITCHANGE on the user's edits), CBS_DROPDOWNLIST do not.
// The list is kept by the window class and handed to Qt in one go at the end of each burst of changes, so
// rebuilding a list of tens of thousands of entries keystroke by keystroke stays instant.
//
// Beyond Win32, a box may carry a text key per entry and a check box per entry (the host's keyed and
// check combos build on these); ReadComboState gives tools the whole visible state in one call.
#pragma once

#include "platform/Wnd.h"

#include <string>
#include <vector>

using DWORD_PTR = std::uintptr_t;

// Combo box messages (Win32 values).
constexpr UINT CB_GETEDITSEL = 0x0140;
constexpr UINT CB_LIMITTEXT = 0x0141;
constexpr UINT CB_SETEDITSEL = 0x0142;
constexpr UINT CB_ADDSTRING = 0x0143;
constexpr UINT CB_DELETESTRING = 0x0144;
constexpr UINT CB_GETCOUNT = 0x0146;
constexpr UINT CB_GETCURSEL = 0x0147;
constexpr UINT CB_GETLBTEXT = 0x0148;
constexpr UINT CB_GETLBTEXTLEN = 0x0149;
constexpr UINT CB_INSERTSTRING = 0x014A;
constexpr UINT CB_RESETCONTENT = 0x014B;
constexpr UINT CB_FINDSTRING = 0x014C;
constexpr UINT CB_SELECTSTRING = 0x014D;
constexpr UINT CB_SETCURSEL = 0x014E;
constexpr UINT CB_SHOWDROPDOWN = 0x014F;
constexpr UINT CB_GETITEMDATA = 0x0150;
constexpr UINT CB_SETITEMDATA = 0x0151;
constexpr UINT CB_GETDROPPEDSTATE = 0x0157;
constexpr UINT CB_FINDSTRINGEXACT = 0x0158;
constexpr int CB_ERR = -1;
constexpr DWORD CBS_SIMPLE = 0x0001u;
constexpr DWORD CBS_TYPEMASK = 0x0003u;

// The layer's own combo messages (not Win32): keys and check boxes per entry, and choosing an entry as a
// user does (with the notifications a user's choice raises).
constexpr UINT CBM_ORVO_FIRST = 0x8000 + 0x0140;             // WM_APP range
constexpr UINT CBM_ORVO_SETITEMKEY = CBM_ORVO_FIRST + 0;     // (index, LPCTSTR key) -> CB_ERR or 0
constexpr UINT CBM_ORVO_GETITEMKEY = CBM_ORVO_FIRST + 1;     // (index, CString* out) -> CB_ERR or 0
constexpr UINT CBM_ORVO_FINDKEY = CBM_ORVO_FIRST + 2;        // (0, LPCTSTR key) -> index or CB_ERR
constexpr UINT CBM_ORVO_SETCHECKABLE = CBM_ORVO_FIRST + 3;   // (BOOL) entries show check boxes
constexpr UINT CBM_ORVO_GETCHECK = CBM_ORVO_FIRST + 4;       // (index) -> 0, 1 or CB_ERR
constexpr UINT CBM_ORVO_SETCHECK = CBM_ORVO_FIRST + 5;       // (index, BOOL) -> CB_ERR or 0; no notify
constexpr UINT CBM_ORVO_USERSELECT = CBM_ORVO_FIRST + 6;     // (index) as a user's pick; notifies
constexpr UINT CBM_ORVO_SETITEMENABLED = CBM_ORVO_FIRST + 7; // (index, BOOL)
constexpr UINT CBM_ORVO_USERCHECK = CBM_ORVO_FIRST + 8; // (index, BOOL) as a user's click; CB_ERR when greyed
constexpr UINT CBM_ORVO_ADDBATCH = CBM_ORVO_FIRST + 9;  // (0, const ComboBatch*) -> count or CB_ERR
// Settles the text the user typed into the edit field: text equal to an entry's text (any case) or key
// selects that entry, any other text is cleared; a selection that typing changed is announced with
// CBN_SELCHANGE now. Nothing happens when nothing was typed since. -> the selected index or CB_ERR.
constexpr UINT CBM_ORVO_SETTLE = CBM_ORVO_FIRST + 10;
// Notification (WM_COMMAND code) of a check the user changed; the control reflects it to itself.
constexpr UINT CBN_ORVO_CHECKCHANGE = 0x0400;

// One entry of a batch added in one step (CComboBox::AddStrings).
struct ComboBatchEntry {
    CString text; // GBK
    DWORD_PTR data = 0;
};
struct ComboBatch {
    const ComboBatchEntry* entries = nullptr;
    std::size_t count = 0;
};

// Without a window every call answers as for a missing entry (CB_ERR, a count of 0), never as entry 0.
class CComboBox : public CWnd {
public:
    using CWnd::Create;
    BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
        return CWnd::Create(orvo::wc::kComboBox, "", style, rect, parent, id);
    }

    int GetCount() { return static_cast<int>(send(CB_GETCOUNT, 0, 0, 0)); }
    int GetCurSel() { return static_cast<int>(send(CB_GETCURSEL)); }
    int SetCurSel(int select) { return static_cast<int>(send(CB_SETCURSEL, toW(select))); }
    int AddString(LPCTSTR text) { return static_cast<int>(send(CB_ADDSTRING, 0, toL(text))); }
    int InsertString(int index, LPCTSTR text) {
        return static_cast<int>(send(CB_INSERTSTRING, toW(index), toL(text)));
    }
    // The entries with their item data, as AddString and SetItemData one after another would place them,
    // in one step: a list of thousands is built without a message per entry, and a sorted box sorts the
    // batch once (not at all when it comes in the box's order, see orvo::ComboSortsBefore). The new count.
    int AddStrings(const std::vector<ComboBatchEntry>& entries) {
        const ComboBatch batch{entries.data(), entries.size()};
        return static_cast<int>(send(CBM_ORVO_ADDBATCH, 0, reinterpret_cast<LPARAM>(&batch)));
    }
    int DeleteString(UINT index) { return static_cast<int>(send(CB_DELETESTRING, index)); }
    void ResetContent() { send(CB_RESETCONTENT); }
    int GetLBText(int index, CString& text);
    int GetLBTextLen(int index) { return static_cast<int>(send(CB_GETLBTEXTLEN, toW(index))); }
    DWORD_PTR GetItemData(int index) { return static_cast<DWORD_PTR>(send(CB_GETITEMDATA, toW(index))); }
    int SetItemData(int index, DWORD_PTR data) {
        return static_cast<int>(send(CB_SETITEMDATA, toW(index), static_cast<LPARAM>(data)));
    }
    int FindString(int startAfter, LPCTSTR text) {
        return static_cast<int>(send(CB_FINDSTRING, toW(startAfter), toL(text)));
    }
    int FindStringExact(int startAfter, LPCTSTR text) {
        return static_cast<int>(send(CB_FINDSTRINGEXACT, toW(startAfter), toL(text)));
    }
    int SelectString(int startAfter, LPCTSTR text) {
        return static_cast<int>(send(CB_SELECTSTRING, toW(startAfter), toL(text)));
    }
    // Start in the low word, end in the high word, as Win32 packs it.
    DWORD GetEditSel() { return static_cast<DWORD>(send(CB_GETEDITSEL)); }
    BOOL SetEditSel(int start, int end) {
        return static_cast<BOOL>(send(CB_SETEDITSEL, 0, MAKELPARAM(start, end), FALSE));
    }
    BOOL LimitText(int maxChars) { return static_cast<BOOL>(send(CB_LIMITTEXT, toW(maxChars), 0, FALSE)); }
    BOOL GetDroppedState() { return static_cast<BOOL>(send(CB_GETDROPPEDSTATE, 0, 0, FALSE)); }
    void ShowDropDown(BOOL show = TRUE) { send(CB_SHOWDROPDOWN, static_cast<WPARAM>(show)); }

    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    LRESULT send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0, LRESULT noWindow = CB_ERR) {
        return m_hWnd ? SendMessage(message, wParam, lParam) : noWindow;
    }
    static WPARAM toW(int value) { return static_cast<WPARAM>(static_cast<INT_PTR>(value)); }
    static LPARAM toL(LPCTSTR text) { return reinterpret_cast<LPARAM>(text); }
};

namespace orvo {

// What a user or a tool sees of a combo box, read in one go (no messages, no notifications).
struct ComboEntryState {
    CString text; // GBK
    CString key;  // the entry's key when the box is keyed
    LPARAM data = 0;
    bool checked = false;
};
struct ComboState {
    bool valid = false;     // the window is a combo box of the layer
    bool editable = false;  // CBS_DROPDOWN / CBS_SIMPLE
    bool sorted = false;    // CBS_SORT
    bool keyed = false;     // some entry was given a key
    bool checkable = false; // entries show check boxes
    bool dropped = false;
    int current = -1;
    CString text; // the edit field, or the selected entry's text
    std::vector<ComboEntryState> entries;
};
ComboState ReadComboState(HWND combo);

// The order of a sorted box (CBS_SORT): bytes compared unsigned, ASCII letters without regard to case, GBK
// double-byte characters as they are. Texts equal in this order keep the order they were added in.
bool ComboSortsBefore(const CString& a, const CString& b);

// The combo box window class's own message handling; false when the window is not a combo box.
bool ComboBoxWindowProc(HWND combo, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

// Brings the Qt view of the list up to date at once (it otherwise follows at the end of the current burst
// of changes, when control returns to the event loop).
void FlushComboList(HWND combo);

} // namespace orvo
