// COrvoListCtrl: a live update of the rows. The record set has been changed in place; the lines follow
// without a new sort, the user's place (selected rows, current row, the row read at the top of the view)
// stays, and the rows that changed are tinted until the tint has faded.
#include "host/dbm/MemRecord.h"
#include "host/gui/OrvoListCtrl.h"
#include "host/gui/RecordTableModel.h"

#include <QScrollBar>
#include <QTableView>
#include <QTimer>

#include <algorithm>
#include <unordered_set>

namespace {
// The fading tint is repainted this often while any row is marked.
constexpr int kFadeRepaintMs = 200;

// The row the user reads at the top of a scrolled view: the first visible line whose row neither changed
// nor left (a changed row may move with its new cells), and where it is drawn.
struct TopAnchor {
    long recordRow = -1; // before the change
    int line = -1;
    int y = 0; // in the viewport
};

TopAnchor FindTopAnchor(const QTableView& view, const orvo::RecordTableModel& model,
                        const orvo::ListRowOrder::RowChanges& changes) {
    std::unordered_set<long> moving(changes.changed.begin(), changes.changed.end());
    moving.insert(changes.removed.begin(), changes.removed.end());
    const int height = view.viewport()->height();
    for (int line = std::max(0, view.rowAt(0)); line < model.rowCount(); ++line) {
        const int y = view.rowViewportPosition(line);
        if (y >= height)
            break;
        const long row = model.RecordRow(line);
        if (!moving.contains(row))
            return {row, line, y};
    }
    return {};
}

// Scrolls so that the anchor's row, now on `line`, is drawn where it was.
void KeepAnchorInPlace(QTableView& view, const TopAnchor& anchor, int line, int scroll) {
    QScrollBar& bar = *view.verticalScrollBar();
    if (view.verticalScrollMode() == QAbstractItemView::ScrollPerItem) {
        bar.setValue(scroll + (line - anchor.line));
        return;
    }
    bar.setValue(scroll);
    bar.setValue(scroll + view.rowViewportPosition(line) - anchor.y);
}
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
    // At the top of the list new rows may appear above, as the list's start; further down, the row read
    // at the top holds still while rows come and go above it.
    const TopAnchor anchor = scroll > 0 ? FindTopAnchor(*view, *m_pModel, changes) : TopAnchor{};
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
    const int anchorLine = anchor.recordRow >= 0 ? m_pModel->LineOf(renumber(anchor.recordRow)) : -1;
    if (anchorLine >= 0)
        KeepAnchorInPlace(*view, anchor, anchorLine, scroll);
    else
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

long COrvoListCtrl::GetTopRecordRow() const {
    QTableView* view = View();
    if (!view || !m_pModel || m_pModel->rowCount() == 0)
        return -1;
    return m_pModel->RecordRow(std::max(0, view->rowAt(0)));
}

std::vector<long> COrvoListCtrl::GetMarkedRecordRows() const {
    return m_pModel ? m_pModel->MarkedRecordRows() : std::vector<long>();
}
