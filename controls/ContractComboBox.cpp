#include "controls/ContractComboBox.h"

#include "controls/ControlMessages.h"
#include "host/dbm/MemRecord.h"

#include <algorithm>

namespace {

constexpr std::size_t kStoreBuckets = 1999;

char upperAscii(char ch) {
    return (ch >= 'a' && ch <= 'z') ? static_cast<char>(ch - 'a' + 'A') : ch;
}

// Whether code begins with upperPrefix (already upper-cased), comparing the code's ASCII letters without
// regard to case; the bytes of GBK double-byte characters are compared as they are. No copies: this runs
// for every contract on every keystroke.
bool beginsWithNoCase(const CString& code, const CString& upperPrefix) {
    const int n = upperPrefix.GetLength();
    if (code.GetLength() < n)
        return false;
    const char* text = code.GetString();
    const char* prefix = upperPrefix.GetString();
    for (int i = 0; i < n; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x81) { // a double-byte character: both bytes compared as they are
            if (text[i] != prefix[i] || (i + 1 < n && text[i + 1] != prefix[i + 1]))
                return false;
            ++i;
            continue;
        }
        if (upperAscii(text[i]) != prefix[i])
            return false;
    }
    return true;
}

} // namespace

BEGIN_MESSAGE_MAP(CContractComboBox, CComboBox)
ON_CONTROL_REFLECT(CBN_EDITCHANGE, &CContractComboBox::OnEditchange)
ON_CONTROL_REFLECT(CBN_KILLFOCUS, &CContractComboBox::OnKillfocus)
END_MESSAGE_MAP()

CContractComboBox::CContractComboBox() {
    m_mapContracts.rehash(kStoreBuckets);
}

CContractComboBox::~CContractComboBox() = default;

const CContractItem* CContractComboBox::FindContract(int key) const {
    const auto it = m_mapContracts.find(key);
    return it == m_mapContracts.end() ? nullptr : &it->second;
}

int CContractComboBox::LoadContracts(CMemRecord* contracts) {
    m_nListKind = kLoaded;
    m_blankList.clear();
    m_blankListMade = false;
    m_mapContracts.clear();
    m_mapContracts.rehash(kStoreBuckets);
    if (!contracts)
        return 1;
    int key = 0;
    for (contracts->GoTop(); !contracts->Eof(); contracts->Skip(1), ++key) {
        CContractItem item;
        item.strExchange = contracts->GetString("JYS", -1);
        item.strExchangeName = contracts->GetString("JYSMC", -1);
        item.strVariety = contracts->GetString("ZQLB", -1);
        item.strVarietyName = contracts->GetString("ZQLBMC", -1);
        item.strCode = contracts->GetString("ZQDM", -1);
        item.strName = contracts->GetString("HYMC", -1);
        if (m_hWnd) {
            // At the position given, so the list shows record order although it is a sorted one.
            const int at = InsertString(key, item.strCode);
            if (at >= 0)
                SetItemData(at, static_cast<DWORD_PTR>(key));
        }
        m_mapContracts[key] = std::move(item);
    }
    return 1;
}

const std::vector<ComboBatchEntry>& CContractComboBox::blankList() {
    const bool sorted = (GetStyle() & CBS_SORT) != 0;
    if (m_blankListMade && m_blankListSorted == sorted)
        return m_blankList;
    m_blankList.clear();
    for (int key = 0;; ++key) {
        const auto it = m_mapContracts.find(key);
        if (it == m_mapContracts.end())
            break;
        m_blankList.push_back(
            {it->second.strCode + " " + it->second.strVarietyName, static_cast<DWORD_PTR>(key)});
    }
    if (sorted) {
        // In the box's own order, so that the box takes the list as it comes; equal texts in key order, as
        // adding them one by one would leave them.
        std::stable_sort(m_blankList.begin(), m_blankList.end(),
                         [](const auto& a, const auto& b) { return orvo::ComboSortsBefore(a.text, b.text); });
    }
    m_blankListMade = true;
    m_blankListSorted = sorted;
    return m_blankList;
}

void CContractComboBox::OnEditchange() {
    CString text = GetWindowText();
    text.Trim();
    DWORD selStart = 0;
    DWORD selEnd = 0;
    SendMessage(CB_GETEDITSEL, reinterpret_cast<WPARAM>(&selStart), reinterpret_cast<LPARAM>(&selEnd));

    ResetContent(); // also clears the edit text
    if (m_nListKind == kLoaded) {
        if (text.IsEmpty()) {
            // Blank: every contract as "code variety-name", in the list's sort order.
            AddStrings(blankList());
            return; // the text was blank: nothing to put back
        }
        // The list opens on the first typed character and stays open, empty when nothing matches. Qt's
        // popup list shows the arrow cursor by itself.
        if (!GetDroppedState())
            ShowDropDown(TRUE);
        CString upper = text;
        upper.MakeUpper();
        std::vector<ComboBatchEntry> matches; // in key order; the box sorts them
        for (int key = 0;; ++key) {
            const auto it = m_mapContracts.find(key);
            if (it == m_mapContracts.end())
                break;
            if (beginsWithNoCase(it->second.strCode, upper))
                matches.push_back({it->second.strCode, static_cast<DWORD_PTR>(key)});
        }
        AddStrings(matches);
    }
    SetWindowText(text);
    SetEditSel(static_cast<int>(selStart), static_cast<int>(selEnd));
}

void CContractComboBox::SettleSelection() {
    if (!m_hWnd)
        return;
    const CString text = GetWindowText();
    if (GetCurSel() < 0 && !text.IsEmpty() && GetCount() > 0)
        SetCurSel(0);
    if (GetCurSel() < 0)
        SetCurSel(-1);
}

void CContractComboBox::OnKillfocus() {
    SettleSelection();
    if (CWnd* parent = GetParent())
        parent->SendMessage(UM_SPLITTER_MOVED, static_cast<WPARAM>(GetDlgCtrlID()),
                            reinterpret_cast<LPARAM>(m_hWnd));
}

CString CContractComboBox::GetSelCode() {
    if (!m_hWnd)
        return "";
    const int index = GetCurSel();
    if (index < 0 || m_nListKind != kLoaded)
        return "";
    const CContractItem* item = FindContract(static_cast<int>(GetItemData(index)));
    return item ? item->strCode : CString();
}
