#include "host/gui/RecordTableModel.h"

#include "host/dbm/MemRecord.h"
#include "platform/QtText.h"

#include <QBrush>
#include <QColor>

namespace orvo {

RecordTableModel::RecordTableModel(QObject* parent) : QAbstractTableModel(parent) {}

void RecordTableModel::Reset(const CMemRecord* record) {
    beginResetModel();
    m_record = record;
    m_headers.clear();
    m_numeric.clear();
    m_rows = 0;
    if (record) {
        m_order.Rebuild(*record);
        m_rows = static_cast<int>(m_order.Count());
        const int columns = record->GetFieldCount();
        m_headers.reserve(static_cast<size_t>(columns));
        for (int c = 0; c < columns; ++c) {
            const FieldInfo& field = record->GetField(c);
            m_headers.push_back(ToQString(field.name));
            m_numeric.push_back(field.type != FieldType::Text);
        }
    }
    endResetModel();
}

void RecordTableModel::SetStale(bool stale) {
    if (stale == m_stale)
        return;
    m_stale = stale;
    if (m_rows > 0 && !m_headers.empty())
        emit dataChanged(index(0, 0), index(m_rows - 1, static_cast<int>(m_headers.size()) - 1),
                         {Qt::ForegroundRole});
}

void RecordTableModel::ApplyChanges(const ListRowOrder::RowChanges& changes,
                                    const std::vector<long>& changedRows,
                                    const std::vector<long>& addedRows) {
    if (!m_record)
        return;
    beginResetModel();
    if (!changes.removed.empty())
        m_marks.Renumber(ListRowOrder::RowsAfterRemoval(m_order.RecordRowCount(), changes.removed));
    m_order.ApplyChanges(*m_record, changes);
    m_rows = static_cast<int>(m_order.Count());
    const auto now = RowMarks::Clock::now();
    for (const long row : changedRows)
        m_marks.Mark(row, RowMarks::Kind::Changed, now);
    for (const long row : addedRows)
        m_marks.Mark(row, RowMarks::Kind::Added, now);
    endResetModel();
}

void RecordTableModel::SetSort(int column, bool ascending) {
    m_order.SetSort(column, ascending);
    Reset(m_record);
}

void RecordTableModel::SetFilter(const std::string& gbkText, std::vector<int> columns) {
    if (!m_record)
        return;
    beginResetModel();
    m_order.SetFilter(*m_record, gbkText, std::move(columns));
    m_rows = static_cast<int>(m_order.Count());
    endResetModel();
}

int RecordTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_rows;
}

int RecordTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_headers.size());
}

QString RecordTableModel::CellText(int row, int column) const {
    // The set may have shrunk since the last reset (a Zap before the Refresh): such rows read as empty.
    if (!m_record || row < 0 || row >= m_rows || row >= m_record->GetRecordCount() || column < 0 ||
        column >= static_cast<int>(m_headers.size()))
        return {};
    const long recordRow = m_order.RecordRow(row);
    if (recordRow < 0 || recordRow >= m_record->GetRecordCount())
        return {};
    const CString cell = m_record->GetCellString(recordRow, column);
    const std::string& bytes = cell.str();
    for (const char ch : bytes)
        if (static_cast<unsigned char>(ch) >= 0x80)
            return ToQString(cell);
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QVariant RecordTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return CellText(index.row(), index.column());
    case Qt::ToolTipRole: {
        if (!m_tips)
            return {};
        const QString text = CellText(index.row(), index.column());
        return text.isEmpty() ? QVariant() : QVariant(text);
    }
    case Qt::ForegroundRole:
        if (!m_stale)
            return {};
        return QBrush(QColor(128, 128, 128));
    case Qt::BackgroundRole: {
        if (m_marks.Empty())
            return {};
        RowMarks::Kind kind = RowMarks::Kind::Changed;
        const double strength =
            m_marks.Strength(m_order.RecordRow(index.row()), RowMarks::Clock::now(), &kind);
        if (strength <= 0.0)
            return {};
        // A changed row amber, a new one green, over the list's own background as the tint fades.
        QColor tint = kind == RowMarks::Kind::Added ? QColor(150, 220, 150) : QColor(255, 214, 110);
        tint.setAlphaF(static_cast<float>(strength));
        return QBrush(tint);
    }
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(
            Qt::AlignVCenter |
            (m_numeric[static_cast<size_t>(index.column())] ? Qt::AlignRight : Qt::AlignLeft));
    default:
        return {};
    }
}

QVariant RecordTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= static_cast<int>(m_headers.size()))
        return {};
    if (role == Qt::DisplayRole)
        return m_headers[static_cast<size_t>(section)];
    return {};
}

} // namespace orvo
