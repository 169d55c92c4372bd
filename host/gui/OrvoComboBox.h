// COrvoComboBox: the host's combo box of keyed entries. Each entry has a key (a code the program works
// with) and a text (what the user sees); the program selects and reads entries by key. Text typed into
// the edit field is settled when the box loses the focus (see SettleText): what the box shows is always
// the selected entry or nothing.
#pragma once

#include "platform/ComboBox.h"

class COrvoComboBox : public CComboBox {
public:
    using CComboBox::AddString;
    using CComboBox::InsertString;

    // Inserts the entry at index (-1: at the end; a sorted box still puts it at that index, as
    // CB_INSERTSTRING does). The entry's index, or CB_ERR.
    int InsertString(int index, LPCTSTR key, LPCTSTR text);
    // Adds the entry in the box's order (sorted when the box is). The entry's index, or CB_ERR.
    int AddString(LPCTSTR key, LPCTSTR text);
    // Selects the entry with that key, as the program does (no notification): its index, or CB_ERR when
    // no entry has the key (the selection is then left as it was).
    int SetSel(LPCTSTR key);
    // Chooses the entry with that key as the user does: the parent receives CBN_SELCHANGE (and, with the
    // list open, CBN_SELENDOK and CBN_CLOSEUP). Its index, or CB_ERR.
    int PickKey(LPCTSTR key);
    // The key of entry index; -1: of the selected entry. "" when there is no such entry.
    CString GetString(int index = -1);
    // The text of entry index; -1: of the selected entry. "" when there is no such entry.
    CString GetItemText(int index = -1);
    // The index of the first entry with that key, CB_ERR when none.
    int FindKey(LPCTSTR key);
    // Settles text typed since the last settling: text equal to an entry's text or key selects that entry
    // as the user's choice (the parent is told of the change), any other text is cleared. A dialog's OK
    // runs it too, since Enter confirms without the box losing the focus. The selected index or CB_ERR.
    int SettleText();

protected:
    BOOL OnKillfocus();
    DECLARE_MESSAGE_MAP()
};
