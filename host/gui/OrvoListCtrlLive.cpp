// COrvoListCtrl: a live update of the rows. The record set has been changed in place; the lines follow
// without a new sort, the user's place (selected rows, current row, scroll position) stays, and the rows
// that changed are tinted until the tint has faded.
#include "host/dbm/MemRecord.h"
#include "host/gui/OrvoListCtrl.h"
#include "host/gui/RecordTableModel.h"

#include <QScrollBar>
#include <QTableView>
#include <QTimer>

#include <algorithm>

namespace {
// The fading tint is repainted this often while any row is marked.
constexpr int kFadeRepaintMs = 200;
} // namespace

void COrvoListCtrl::ApplyRowChanges(const orvo::ListRowOrder::RowChanges& changes,
                                    const std::vector<long>& changedRows,
                                    const std::vector<long>& addedRows) {
    QTableView* view = View();
    if (!view || !m_pModel || !m_pRecord)
        return;
    // The place, by record row before the change.
    const std::vector<long> selected = GetSelectedRecordRows();
    const int currentLine = GetCurSel();
    const long current = m_pModel->RecordRow(currentLine);
    const int scroll = view->verticalScrollBar()->value();
    const int scrollX = view->horizontalScrollBar()->value();
    const std::vector<std::int32_t> remap =
        orvo::ListRowOrder::RowsAfterRemoval(m_pModel->Order().RecordRowCount(), changes.removed);
    const auto renumber = [&](long row) {
        return row >= 0 && static_cast<std::size_t>(row) < remap.size() ? remap[static_cast<std::size_t>(row)]
                                                                        : -1L;
    };

    m_pModel->ApplyChanges(changes, changedRows, addedRows);
    ApplyColumnsShown();

    std::vector<long> stillSelected;
    for (const long row : selected)
        if (renumber(row) >= 0)
            stillSelected.push_back(renumber(row));
    const long stillCurrent = renumber(current);
    if (stillCurrent >= 0 || !stillSelected.empty())
        SelectRecordRows(stillSelected, stillCurrent);
    else if (m_pModel->rowCount() > 0 && currentLine >= 0) // the current row left: its neighbour
        SetCurSel(std::min(currentLine, m_pModel->rowCount() - 1));
    if (m_pModel->rowCount() == 0)
        m_pRecord->Go(m_pRecord->GetRecordCount());
    view->verticalScrollBar()->setValue(scroll);
    view->horizontalScrollBar()->setValue(scrollX);
    ShowEmptyText();
    NotifyViewChanged();

    if (!m_pModel->HasMarks())
        return;
    auto* fade = view->findChild<QTimer*>(QStringLiteral("orvoMarkFade"));
    if (!fade) {
        fade = new QTimer(view);
        fade->setObjectName(QStringLiteral("orvoMarkFade"));
        fade->setInterval(kFadeRepaintMs);
        QObject::connect(fade, &QTimer::timeout, view, [this, fade] {
            QTableView* shown = View();
            if (shown)
                shown->viewport()->update();
            if (!m_pModel || m_pModel->MarkedRecordRows().empty())
                fade->stop(); // the last repaint above drew them faded out
        });
    }
    if (!fade->isActive())
        fade->start();
}

std::vector<long> COrvoListCtrl::GetMarkedRecordRows() const {
    return m_pModel ? m_pModel->MarkedRecordRows() : std::vector<long>();
}
