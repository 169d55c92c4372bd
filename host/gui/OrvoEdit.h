// COrvoEdit: the host's single-line edit, read and written as GBK text.
#pragma once

#include "platform/Wnd.h"

class COrvoEdit : public CWnd {
public:
    CString GetText() const { return GetWindowText(); }
    void SetText(LPCTSTR text) { SetWindowText(text); }
};
