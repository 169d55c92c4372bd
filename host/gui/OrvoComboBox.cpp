#include "host/gui/OrvoComboBox.h"

BEGIN_MESSAGE_MAP(COrvoComboBox, CComboBox)
ON_CONTROL_REFLECT_EX(CBN_KILLFOCUS, &COrvoComboBox::OnKillfocus)
END_MESSAGE_MAP()

int COrvoComboBox::InsertString(int index, LPCTSTR key, LPCTSTR text) {
    const int at = CComboBox::InsertString(index, text ? text : "");
    if (at >= 0)
        SendMessage(CBM_ORVO_SETITEMKEY, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(key ? key : ""));
    return at;
}

int COrvoComboBox::AddString(LPCTSTR key, LPCTSTR text) {
    const int at = CComboBox::AddString(text ? text : "");
    if (at >= 0)
        SendMessage(CBM_ORVO_SETITEMKEY, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(key ? key : ""));
    return at;
}

int COrvoComboBox::FindKey(LPCTSTR key) {
    if (!m_hWnd)
        return CB_ERR;
    return static_cast<int>(SendMessage(CBM_ORVO_FINDKEY, 0, reinterpret_cast<LPARAM>(key ? key : "")));
}

int COrvoComboBox::SetSel(LPCTSTR key) {
    const int index = FindKey(key);
    return index >= 0 ? SetCurSel(index) : CB_ERR;
}

int COrvoComboBox::PickKey(LPCTSTR key) {
    const int index = FindKey(key);
    if (index < 0)
        return CB_ERR;
    return static_cast<int>(SendMessage(CBM_ORVO_USERSELECT, static_cast<WPARAM>(index)));
}

CString COrvoComboBox::GetString(int index) {
    if (!m_hWnd)
        return "";
    if (index == -1)
        index = GetCurSel();
    CString key;
    if (index < 0 ||
        SendMessage(CBM_ORVO_GETITEMKEY, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&key)) != 0)
        return "";
    return key;
}

CString COrvoComboBox::GetItemText(int index) {
    if (!m_hWnd)
        return "";
    if (index == -1)
        index = GetCurSel();
    CString text;
    if (index < 0 || GetLBText(index, text) < 0)
        return "";
    return text;
}

int COrvoComboBox::SettleText() {
    if (!m_hWnd)
        return CB_ERR;
    return static_cast<int>(SendMessage(CBM_ORVO_SETTLE));
}

BOOL COrvoComboBox::OnKillfocus() {
    SettleText();
    return FALSE; // the parent hears of the lost focus too
}
