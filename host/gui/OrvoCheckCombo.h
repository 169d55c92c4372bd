// COrvoCheckCombo: the host's drop-down of checkable entries (branches). The user checks entries in the
// list; the box shows the checked codes, and its parent receives UM_CHECKCOMBO_CHANGE (WPARAM: this
// control object) each time the set of checked entries changes, by a click or through SetCheck.
#pragma once

#include "platform/ComboBox.h"

#include <vector>

// Sent (synchronously) to the parent when the checked set changes; WPARAM is the COrvoCheckCombo*.
inline constexpr UINT UM_CHECKCOMBO_CHANGE = 0x1792;

class COrvoCheckCombo : public CComboBox {
public:
    // Empties the list (and the checks). The parent is told when something was checked.
    void Reset();
    // Adds an entry at the end, unchecked. enabled 0 shows it greyed and not checkable. Its index or CB_ERR.
    int AddString(LPCTSTR code, LPCTSTR text, int enabled = 1);
    // The checked codes in list order, joined by ","; "" when none is checked.
    CString GetText();
    // Checks or unchecks the entry with that code as a user's click does (the parent is told when the set
    // changes). FALSE when no enabled entry has the code.
    BOOL SetCheck(LPCTSTR code, BOOL checked);
    // 1 checked, 0 unchecked, -1 no such entry.
    int GetCheck(LPCTSTR code);
    CString GetCode(int index);
    int FindCode(LPCTSTR code);

protected:
    void PreSubclassWindow() override;
    void OnCheckChange();
    DECLARE_MESSAGE_MAP()

private:
    void ShowCheckedCodes();
    void NotifyParentOfChange();
};
