// COrvoListCtrl: a list bound to a CMemRecord. The list shows the record set's rows through a thin model
// (nothing is copied), its columns in layout order with the trailing group from "color" on hidden. The
// selected line and the record set's current row follow each other; a double-click on a row sends the
// owner window a message (0x1214 unless changed). Ctrl+C copies the selected rows as tab-separated text;
// the right-click menu exports the list to CSV.
#pragma once

#include "host/gui/ListText.h"
#include "platform/Wnd.h"

#include <memory>
#include <string>

class CMemRecord;
class QTableView;

namespace orvo {
class RecordTableModel;
class ListViewHelper;
} // namespace orvo

// What a double-click on a row sends to the owner window by default.
constexpr UINT kListDoubleClickMessage = 0x1214;

class COrvoListCtrl : public CWnd {
public:
    COrvoListCtrl();
    ~COrvoListCtrl() override;

    // Creates the list as a child window; any class name (the module passes "ListBox") gives the record list.
    BOOL Create(LPCTSTR className, LPCTSTR windowName, DWORD style, const RECT& rect, CWnd* parent, UINT id,
                void* context = nullptr) override;

    // Binds the record set (not owned) and shows its columns and rows.
    void SetRecord(CMemRecord* record);
    CMemRecord* GetRecord() const { return m_pRecord; }
    // Re-reads the rows after the set was refilled or emptied; the first row is selected and made the
    // record set's current row.
    void Refresh(int mode = 0);
    // -2: each shown column as wide as its header and the widest cell of a bounded sample of rows.
    void AdjustField(int mode = -2);
    void SetCanShowTip(BOOL show);
    BOOL GetCanShowTip() const;
    // 0: a double-click only makes the row current.
    void SetDoubleClickMessage(UINT message) { m_nDblClkMessage = message; }

    // The selected line (-1 for none); setting it also moves the record set's cursor.
    int GetCurSel() const;
    void SetCurSel(int row);
    // Puts the selection on the record set's current row.
    void SyncFromRecord();
    int GetShownColumnCount() const;

    CString GetSelectedRowsText() const;
    void CopySelection();
    BOOL ExportCsv(const std::string& pathUtf8, orvo::CsvEncoding encoding,
                   std::string* error = nullptr) const;

    BOOL PreTranslateMessage(MSG* msg) override;

    // For tools and tests.
    QTableView* View() const;
    orvo::RecordTableModel* Model() const { return m_pModel.get(); }

protected:
    void PreSubclassWindow() override;
    LRESULT OnSetFontMessage(WPARAM wParam, LPARAM lParam);
    DECLARE_MESSAGE_MAP()

private:
    friend class orvo::ListViewHelper;
    void ApplyColumnsShown();
    void OnDoubleClick(int row);
    void ShowContextMenu(const QPoint& global);

    CMemRecord* m_pRecord = nullptr;
    std::unique_ptr<orvo::RecordTableModel> m_pModel;
    std::unique_ptr<orvo::ListViewHelper> m_pHelper;
    UINT m_nDblClkMessage = kListDoubleClickMessage;
    bool m_bTips = true;
};
