// A thin table model over a CMemRecord: it keeps no rows, only asks the record set for each cell that a
// view paints. The row count is fixed at each reset, so the view never asks past what it was told. Its
// rows are the list's lines: the record set's rows in the order of the list's sort and filter.
#pragma once

#include "host/gui/ListRowOrder.h"
#include "host/gui/RowMarks.h"

#include <QAbstractTableModel>
#include <QString>

#include <vector>

class CMemRecord;

namespace orvo {

class RecordTableModel : public QAbstractTableModel {
public:
    explicit RecordTableModel(QObject* parent = nullptr);

    // Re-reads the columns and the row count of the record set (null: an empty model).
    void Reset(const CMemRecord* record);
    const CMemRecord* Record() const { return m_record; }
    void SetShowTips(bool on) { m_tips = on; }
    bool ShowTips() const { return m_tips; }
    // The rows are those of an earlier answer that could not be renewed: drawn greyed until renewed.
    void SetStale(bool stale);
    bool Stale() const { return m_stale; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The cell text as the view shows it (row: a line of the list).
    QString CellText(int row, int column) const;

    // Sorting and filtering re-read the lines; the record set is left as it is.
    void SetSort(int column, bool ascending);
    void SetSortKeys(std::vector<ListRowOrder::SortKey> keys) {
        m_order.SetSortKeys(std::move(keys));
        Reset(m_record);
    }
    void SetFilter(const std::string& gbkText, std::vector<int> columns);
    const ListRowOrder& Order() const { return m_order; }

    // The record set changed as `changes` says (see ListRowOrder): the lines follow without a new sort.
    // `changedRows` and `addedRows` (record rows after the change) are marked, the tint fading out.
    void ApplyChanges(const ListRowOrder::RowChanges& changes, const std::vector<long>& changedRows,
                      const std::vector<long>& addedRows);
    // Record rows whose mark still shows, ascending; ClearMarks forgets them (a full refill).
    std::vector<long> MarkedRecordRows() { return m_marks.Rows(RowMarks::Clock::now()); }
    bool HasMarks() const { return !m_marks.Empty(); }
    void ClearMarks() { m_marks.Clear(); }
    // The record row a line shows (-1 for none) and the line of a record row (-1 when filtered out).
    long RecordRow(int line) const { return m_order.RecordRow(line); }
    std::vector<long> RecordRows() const { return m_order.RecordRows(); }
    int LineOf(long recordRow) const { return static_cast<int>(m_order.LineOf(recordRow)); }

private:
    const CMemRecord* m_record = nullptr;
    int m_rows = 0;
    std::vector<QString> m_headers;
    std::vector<bool> m_numeric;
    bool m_tips = true;
    bool m_stale = false;
    ListRowOrder m_order;
    RowMarks m_marks;
};

} // namespace orvo
