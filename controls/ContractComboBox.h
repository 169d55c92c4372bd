// CContractComboBox: the contract-code box of the conditions dialog. It keeps the contracts it was loaded
// with and, keystroke by keystroke, narrows its drop-down list to the contracts whose code begins with the
// typed text (any case, blanks around ignored). Leaving the box with text typed selects the first entry
// of the list; GetSelCode gives the code of the selected entry, never the typed text.
#pragma once

#include "platform/ComboBox.h"

#include <unordered_map>
#include <vector>

class CMemRecord;

struct CContractItem {
    CString strExchange;     // JYS
    CString strExchangeName; // JYSMC
    CString strVariety;      // ZQLB
    CString strVarietyName;  // ZQLBMC
    CString strCode;         // ZQDM
    CString strName;         // HYMC
};

class CContractComboBox : public CComboBox {
public:
    // The list kind once contracts are loaded; before that the search and GetSelCode do nothing.
    static constexpr int kLoaded = 3;

    CContractComboBox();
    ~CContractComboBox() override;

    // Replaces the store with the rows of contracts (key = load position 0, 1, 2 ...) and, when the box has
    // its window, lists their codes in record order. Leaves the record set at its end. Always 1.
    int LoadContracts(CMemRecord* contracts);
    // The code of the selected entry's contract; "" when nothing is selected, nothing is loaded, there is
    // no window, or the entry's key is not in the store.
    CString GetSelCode();
    // What leaving the box settles: with text typed and nothing selected the first entry is selected;
    // when still nothing is selected the edit field is cleared. The dialog runs it again on OK, since Enter
    // confirms the dialog without the box losing the focus.
    void SettleSelection();

    int GetListKind() const { return m_nListKind; }
    int GetContractCount() const { return static_cast<int>(m_mapContracts.size()); }
    const CContractItem* FindContract(int key) const;

protected:
    void OnEditchange();
    void OnKillfocus();
    DECLARE_MESSAGE_MAP()

private:
    // The blank-text list ("code variety-name" of every contract) in the order the box shows it: the store
    // changes only with a load, so it is made on the first blank text after one and reused after that.
    const std::vector<ComboBatchEntry>& blankList();

    std::unordered_map<int, CContractItem> m_mapContracts;
    int m_nListKind = 0;
    std::vector<ComboBatchEntry> m_blankList;
    bool m_blankListMade = false;
    bool m_blankListSorted = false; // made for a sorted box
};
