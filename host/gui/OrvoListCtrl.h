// COrvoListCtrl: a list bound to a CMemRecord. The list shows the record set's rows through a thin model
// (nothing is copied), its columns in layout order with the trailing group from "color" on hidden. The
// selected line and the record set's current row follow each other; a double-click on a row sends the
// owner window a message (0x1214 unless changed). Ctrl+C copies the selected rows as tab-separated text
// (Ctrl+Shift+C with the captions first); the right-click menu (Shift+F10 or the menu key too) exports the
// list to CSV or Excel. A header click sorts the lines by that column (a
// second click reverses), a filter keeps the lines containing a text; both only reorder the lines, the
// record set and its cursor stay as they are (the cursor follows the selected line). The header's own
// menu hides and shows columns; widths the user set are kept by later fitting.
#pragma once

#include "host/gui/ListRowOrder.h"
#include "host/gui/ListText.h"
#include "platform/Wnd.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

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
    // -2: each shown column as wide as its header and the widest cell of a bounded sample of rows;
    // kAdjustWidenOnly: the same, but no column gets narrower. Widths the user set stay in both.
    static constexpr int kAdjustWidenOnly = -3;
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

    // Selects the lines of the record rows (those shown) and makes the line of currentRow current, else
    // the first of them; with none of them shown the selection stays as it is.
    void SelectRecordRows(const std::vector<long>& rows, long currentRow);
    // The record set was changed in place as `changes` says (a live update): the lines follow without a
    // new sort or filter pass, the selected rows and the current row stay, the first row in view that
    // did not change stays where it is drawn (at the top of the list new rows may come above), and
    // `changedRows` / `addedRows` (record rows after the change) are tinted, the tint fading over 5 s.
    void ApplyRowChanges(const orvo::ListRowOrder::RowChanges& changes, const std::vector<long>& changedRows,
                         const std::vector<long>& addedRows);
    // The record row of the first line in view (-1 for none).
    long GetTopRecordRow() const;
    // Record rows whose tint still shows, ascending.
    std::vector<long> GetMarkedRecordRows() const;
    // A line of text over the list while its record set has no row, saying why it is empty ("" for none);
    // alert draws it red.
    void SetEmptyText(const CString& text, bool alert = false);
    CString GetEmptyText() const { return m_strEmptyText; }
    // The rows shown are an earlier answer that a failed query could not renew: they stay, greyed.
    void SetStale(bool stale);
    bool IsStale() const;
    // What the export dialog names the file: "<name>_<yyyyMMdd>", in the user's documents folder. GBK.
    void SetExportName(const CString& name) { m_strExportName = name; }
    // The file the export dialog offers first for the extension ("csv", "xlsx").
    std::string DefaultExportPath(const std::string& extension) const;

    // The selected rows, columns as shown, tab-separated; withHeader: the captions first.
    CString GetSelectedRowsText(bool withHeader = false) const;
    void CopySelection(bool withHeader = false);
    BOOL ExportCsv(const std::string& pathUtf8, orvo::CsvEncoding encoding,
                   std::string* error = nullptr) const;

    // Writes the lines shown, in the order shown, to .xlsx (ending ".xlsx") or CSV (GBK) by the ending.
    BOOL ExportFile(const std::string& pathUtf8, std::string* error = nullptr) const;

    // Sort by a layout column (-1: the record set's order); the current record row stays selected.
    void SortByColumn(int column, bool ascending);
    // What a click on header section `column` does: that column ascending, or reversed when it is already
    // the sort column.
    void OnHeaderClicked(int column);
    int GetSortColumn() const;
    BOOL IsSortAscending() const;
    // Keeps the lines whose shown cells contain the text (GBK; ASCII letters without case); "" keeps all.
    void SetFilterText(const CString& text);
    CString GetFilterText() const;
    long GetShownRowCount() const;
    // Record rows in the order shown; the record rows of the selected lines, in the order shown.
    std::vector<long> GetShownRecordRows() const;
    std::vector<long> GetSelectedRecordRows() const;
    // Layout columns the user sees, left to right.
    std::vector<int> GetVisibleColumnsInOrder() const;

    // Column widths, order and hidden columns as text for the user's settings; Restore is false (and
    // changes nothing) when the text is not a layout of this record set's columns.
    std::string SaveLayout() const;
    bool RestoreLayout(const std::string& state);
    void ResetLayout();
    // Hides or shows a display column as the header menu does (the last visible column stays).
    void HideColumn(int column, BOOL hide);
    // Called after the lines, the selection or the layout changed (for a status line or a settings store).
    void SetViewChangedHandler(std::function<void()> handler) { m_viewChanged = std::move(handler); }
    void SetLayoutChangedHandler(std::function<void()> handler) { m_layoutChanged = std::move(handler); }
    // Called after an export wrote its file (the menu's or a caller's): the rows written and the file. The
    // log has a line of it either way.
    void SetExportedHandler(std::function<void(long rows, const std::string& pathUtf8)> handler) {
        m_exported = std::move(handler);
    }

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
    void ShowHeaderMenu(const QPoint& global);
    void ConnectHeader();
    bool IsUserHidden(int column) const;
    // Selects the line of a record row (line 0 when it is not shown) after the lines changed.
    void ReselectRecordRow(long recordRow);
    void NotifyViewChanged() const;
    void NoteExported(long rows, const std::string& pathUtf8) const;
    void ShowEmptyText();

    CMemRecord* m_pRecord = nullptr;
    std::unique_ptr<orvo::RecordTableModel> m_pModel;
    std::unique_ptr<orvo::ListViewHelper> m_pHelper;
    UINT m_nDblClkMessage = kListDoubleClickMessage;
    bool m_bTips = true;
    std::vector<bool> m_userSized;  // per layout column: the user set its width
    std::vector<bool> m_userHidden; // per layout column: the user hid it
    bool m_bFitting = false;        // widths being set by the list itself, not the user
    std::function<void()> m_viewChanged;
    std::function<void()> m_layoutChanged;
    std::function<void(long, const std::string&)> m_exported;
    CString m_strEmptyText;
    CString m_strExportName;
};
