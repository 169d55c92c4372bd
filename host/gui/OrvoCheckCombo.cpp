#include "host/gui/OrvoCheckCombo.h"

#include "platform/WndInternal.h"

#include <QWidget>

BEGIN_MESSAGE_MAP(COrvoCheckCombo, CComboBox)
ON_CONTROL_REFLECT(CBN_ORVO_CHECKCHANGE, &COrvoCheckCombo::OnCheckChange)
END_MESSAGE_MAP()

void COrvoCheckCombo::PreSubclassWindow() {
    SendMessage(CBM_ORVO_SETCHECKABLE, TRUE);
    m_hWnd->setProperty(orvo::kPropKind, QStringLiteral("checkcombo"));
}

void COrvoCheckCombo::Reset() {
    if (!m_hWnd)
        return;
    const bool hadChecks = !GetText().IsEmpty();
    ResetContent();
    if (hadChecks)
        NotifyParentOfChange();
}

int COrvoCheckCombo::AddString(LPCTSTR code, LPCTSTR text, int enabled) {
    if (!m_hWnd)
        return CB_ERR;
    const int at = CComboBox::InsertString(-1, text ? text : "");
    if (at < 0)
        return at;
    SendMessage(CBM_ORVO_SETITEMKEY, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(code ? code : ""));
    if (!enabled)
        SendMessage(CBM_ORVO_SETITEMENABLED, static_cast<WPARAM>(at), FALSE);
    return at;
}

CString COrvoCheckCombo::GetCode(int index) {
    CString code;
    if (!m_hWnd ||
        SendMessage(CBM_ORVO_GETITEMKEY, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&code)) != 0)
        return "";
    return code;
}

int COrvoCheckCombo::FindCode(LPCTSTR code) {
    if (!m_hWnd)
        return CB_ERR;
    return static_cast<int>(SendMessage(CBM_ORVO_FINDKEY, 0, reinterpret_cast<LPARAM>(code ? code : "")));
}

CString COrvoCheckCombo::GetText() {
    CString joined;
    const int count = m_hWnd ? GetCount() : 0;
    for (int i = 0; i < count; ++i) {
        if (SendMessage(CBM_ORVO_GETCHECK, static_cast<WPARAM>(i)) != 1)
            continue;
        if (!joined.IsEmpty())
            joined += ',';
        joined += GetCode(i);
    }
    return joined;
}

BOOL COrvoCheckCombo::SetCheck(LPCTSTR code, BOOL checked) {
    const int index = FindCode(code);
    if (index < 0)
        return FALSE;
    // The same path as a click in the list: the box reflects the change to OnCheckChange.
    return SendMessage(CBM_ORVO_USERCHECK, static_cast<WPARAM>(index), checked ? TRUE : FALSE) == 0;
}

int COrvoCheckCombo::GetCheck(LPCTSTR code) {
    const int index = FindCode(code);
    return index < 0 ? -1 : static_cast<int>(SendMessage(CBM_ORVO_GETCHECK, static_cast<WPARAM>(index)));
}

void COrvoCheckCombo::OnCheckChange() {
    ShowCheckedCodes();
    NotifyParentOfChange();
}

void COrvoCheckCombo::ShowCheckedCodes() {
    SetWindowText(GetText());
}

void COrvoCheckCombo::NotifyParentOfChange() {
    if (CWnd* parent = GetParent())
        parent->SendMessage(UM_CHECKCOMBO_CHANGE, reinterpret_cast<WPARAM>(this), 0);
}
