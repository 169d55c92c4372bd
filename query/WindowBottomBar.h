// The free space at the bottom left of the query window, beside the Query and Exit buttons: the status
// line, and after Ctrl+F the find field that filters the current list at its left, the status line beside.
#pragma once

#include "platform/Controls.h"
#include "platform/Wnd.h"

inline constexpr int IDC_EDIT_FILTER = 9015;   // the find field (created at run time)
inline constexpr int IDC_STATIC_STATUS = 9016; // the status line (created at run time)

class CWindowBottomBar {
public:
    // Creates both controls as children of the window: the status line shown, the find field hidden.
    BOOL Create(CWnd* pParent);
    // Lays both out over the band between nLeft and nRight, nTop and nBottom (client coordinates).
    void Place(int nLeft, int nTop, int nRight, int nBottom);

    void OpenFilter();  // shows the find field left of the status line and focuses it
    void CloseFilter(); // empties and hides the find field; the status line takes the whole band
    BOOL IsFilterOpen() const;
    CString GetFilterText() const;
    HWND FilterHwnd() const { return m_editFilter.GetSafeHwnd(); }

    void SetStatus(const CString& text);
    CString GetStatus() const;

private:
    void LayOut();

    CRect m_rcBand;
    CWnd m_editFilter;
    CStatic m_staticStatus;
};
