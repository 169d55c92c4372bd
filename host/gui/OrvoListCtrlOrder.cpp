// COrvoListCtrl: the order of its lines (sort by a header click, the find filter) and its column layout
// (user widths, dragged order, hidden columns, kept as text for the user's settings).
#include "host/dbm/MemRecord.h"
#include "host/gui/ListExport.h"
#include "host/gui/OrvoListCtrl.h"
#include "host/gui/RecordTableModel.h"
#include "platform/QtText.h"

#include <QByteArray>
#include <QDataStream>
#include <QHeaderView>
#include <QIODevice>
#include <QMenu>
#include <QMouseEvent>
#include <QProgressDialog>
#include <QProxyStyle>
#include <QStyleOptionHeader>
#include <QTableView>
#include <QtGlobal>

#include <algorithm>
#include <vector>

namespace {

// 2: the sort keys follow the masks. A layout of version 1 (no sort) is still read.
constexpr quint32 kLayoutVersion = 2;
constexpr quint32 kLayoutVersionWithoutSort = 1;

std::vector<bool> readMask(const QString& text, int count) {
    std::vector<bool> mask(static_cast<size_t>(count), false);
    for (int c = 0; c < count && c < text.size(); ++c)
        mask[static_cast<size_t>(c)] = text.at(c) == QLatin1Char('1');
    return mask;
}

QString writeMask(const std::vector<bool>& mask) {
    QString text;
    for (const bool on : mask)
        text += on ? QLatin1Char('1') : QLatin1Char('0');
    return text;
}

// The header's arrows: ▲ for ascending as in most blotters (Qt's header draws ascending pointing down),
// and the second sort key's hollow arrow in its title, marked "²" (△ ascending, ▽ descending).
class HeaderArrowStyle : public QProxyStyle {
public:
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        const auto* header = qstyleoption_cast<const QStyleOptionHeader*>(option);
        if (element != PE_IndicatorHeaderArrow || !header) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        QStyleOptionHeader flipped(*header);
        flipped.sortIndicator =
            header->sortIndicator == QStyleOptionHeader::SortUp     ? QStyleOptionHeader::SortDown
            : header->sortIndicator == QStyleOptionHeader::SortDown ? QStyleOptionHeader::SortUp
                                                                    : QStyleOptionHeader::None;
        QProxyStyle::drawPrimitive(element, &flipped, painter, widget);
    }

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        const auto* header = qstyleoption_cast<const QStyleOptionHeader*>(option);
        const auto* view = qobject_cast<const QHeaderView*>(widget);
        const auto* model = view ? dynamic_cast<const orvo::RecordTableModel*>(view->model()) : nullptr;
        if (element == CE_Header && header && model && model->Order().SortKeys().size() > 1 &&
            model->Order().SortKeys()[1].column == header->section) {
            QStyleOptionHeader second(*header);
            // Not the first key's solid arrow: a hollow one in the title, so the two keys are told apart.
            second.sortIndicator = QStyleOptionHeader::None;
            second.text += QString::fromUtf8(model->Order().SortKeys()[1].ascending ? " ²△" : " ²▽");
            QProxyStyle::drawControl(element, &second, painter, widget);
            return;
        }
        QProxyStyle::drawControl(element, option, painter, widget);
    }
};

// The keys held at the last press on the header, kept as a property of the header: a Shift+click adds a
// second sort key.
constexpr const char* kClickModifiers = "orvoClickModifiers";

class HeaderClickModifiers : public QObject {
public:
    explicit HeaderClickModifiers(QHeaderView* header) : QObject(header), m_header(header) {}
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease)
            m_header->setProperty(kClickModifiers,
                                  static_cast<int>(static_cast<QMouseEvent*>(event)->modifiers()));
        return false;
    }

private:
    QHeaderView* m_header;
};

void showSortIndicator(QHeaderView* header, int column, bool ascending) {
    header->setSortIndicatorShown(column >= 0);
    if (column >= 0)
        header->setSortIndicator(column, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
}

} // namespace

void COrvoListCtrl::ConnectHeader() {
    QTableView* view = View();
    QHeaderView* header = view->horizontalHeader();
    header->setSectionsClickable(true);
    header->setSectionsMovable(true);
    header->setSortIndicatorShown(false);
    header->setContextMenuPolicy(Qt::CustomContextMenu);
    auto* arrows = new HeaderArrowStyle; // over the application's style, whichever it is
    arrows->setParent(header);
    header->setStyle(arrows);
    header->viewport()->installEventFilter(new HeaderClickModifiers(header));
    QObject::connect(header, &QHeaderView::sectionClicked, header,
                     [this](int section) { OnHeaderClicked(section); });
    QObject::connect(header, &QHeaderView::customContextMenuRequested, header,
                     [this, header](const QPoint& pos) { ShowHeaderMenu(header->mapToGlobal(pos)); });
    QObject::connect(header, &QHeaderView::sectionResized, header, [this](int section, int, int) {
        if (m_bFitting || section < 0)
            return;
        if (static_cast<size_t>(section) >= m_userSized.size())
            m_userSized.resize(static_cast<size_t>(section) + 1, false);
        m_userSized[static_cast<size_t>(section)] = true;
        if (m_layoutChanged)
            m_layoutChanged();
    });
    QObject::connect(header, &QHeaderView::sectionMoved, header, [this] {
        if (m_layoutChanged)
            m_layoutChanged();
    });
}

void COrvoListCtrl::NotifyViewChanged() const {
    if (m_viewChanged)
        m_viewChanged();
}

bool COrvoListCtrl::IsUserHidden(int column) const {
    return column >= 0 && static_cast<size_t>(column) < m_userHidden.size() &&
           m_userHidden[static_cast<size_t>(column)];
}

void COrvoListCtrl::ReselectRecordRow(long recordRow) {
    int line = m_pModel->LineOf(recordRow);
    if (line < 0)
        line = 0;
    if (m_pModel->rowCount() == 0 && m_pRecord)
        m_pRecord->Go(m_pRecord->GetRecordCount()); // no line shown: no row current, none for Enter to act on
    else
        SetCurSel(line);
    NotifyViewChanged();
}

void COrvoListCtrl::SortByColumn(int column, bool ascending) {
    QTableView* view = View();
    if (!view || !m_pModel || !m_pRecord)
        return;
    if (column >= m_pRecord->GetFieldCount())
        column = -1;
    const long current = m_pModel->RecordRow(GetCurSel());
    m_pModel->SetSort(column, ascending);
    ApplyColumnsShown();
    showSortIndicator(view->horizontalHeader(), column, ascending);
    ReselectRecordRow(current);
}

void COrvoListCtrl::OnHeaderClicked(int column) {
    QTableView* view = View();
    const bool shift =
        view && (view->horizontalHeader()->property(kClickModifiers).toInt() & Qt::ShiftModifier);
    const int first = GetSortColumn();
    if (!shift || first < 0 || column == first || !m_pModel || !m_pRecord ||
        column >= m_pRecord->GetFieldCount()) {
        const bool reverse = column == first;
        SortByColumn(column, reverse ? !IsSortAscending() : true);
        if (m_layoutChanged)
            m_layoutChanged(); // the sort is kept with the layout
        return;
    }
    // Shift+click on another column: it orders the rows the first key leaves equal (again: reversed).
    using Key = orvo::ListRowOrder::SortKey;
    const std::vector<Key>& keys = m_pModel->Order().SortKeys();
    const bool reverse = keys.size() > 1 && keys[1].column == column;
    const Key second{column, reverse ? !keys[1].ascending : true};
    const long current = m_pModel->RecordRow(GetCurSel());
    m_pModel->SetSortKeys({keys.front(), second});
    ApplyColumnsShown();
    showSortIndicator(view->horizontalHeader(), first, IsSortAscending());
    view->horizontalHeader()->viewport()->update();
    ReselectRecordRow(current);
    if (m_layoutChanged)
        m_layoutChanged();
}

int COrvoListCtrl::GetSortColumn() const {
    return m_pModel ? m_pModel->Order().SortColumn() : -1;
}

BOOL COrvoListCtrl::IsSortAscending() const {
    return !m_pModel || m_pModel->Order().SortAscending();
}

void COrvoListCtrl::SetFilterText(const CString& text) {
    QTableView* view = View();
    if (!view || !m_pModel || !m_pRecord)
        return;
    if (text.str() == m_pModel->Order().Filter())
        return;
    const long current = m_pModel->RecordRow(GetCurSel());
    std::vector<int> columns;
    const int shown = GetShownColumnCount();
    for (int c = 0; c < shown; ++c)
        if (!IsUserHidden(c))
            columns.push_back(c);
    m_pModel->SetFilter(text.str(), std::move(columns));
    ApplyColumnsShown();
    ReselectRecordRow(current);
}

CString COrvoListCtrl::GetFilterText() const {
    return m_pModel ? CString(m_pModel->Order().Filter()) : CString();
}

long COrvoListCtrl::GetShownRowCount() const {
    return m_pModel ? m_pModel->rowCount() : 0;
}

std::vector<long> COrvoListCtrl::GetShownRecordRows() const {
    std::vector<long> rows;
    if (!m_pModel || !m_pRecord)
        return rows;
    const long records = m_pRecord->GetRecordCount();
    rows = m_pModel->RecordRows();
    rows.resize(std::min(rows.size(), static_cast<std::size_t>(std::max(m_pModel->rowCount(), 0))));
    // Rows the set no longer has (it changed since the list last looked) are left out.
    std::erase_if(rows, [records](long row) { return row < 0 || row >= records; });
    return rows;
}

std::vector<long> COrvoListCtrl::GetSelectedRecordRows() const {
    std::vector<long> rows;
    QTableView* view = View();
    if (!view || !m_pModel || !m_pRecord)
        return rows;
    std::vector<int> lines;
    for (const QModelIndex& index : view->selectionModel()->selectedRows())
        lines.push_back(index.row());
    std::sort(lines.begin(), lines.end());
    for (const int line : lines) {
        const long row = m_pModel->RecordRow(line);
        if (row >= 0 && row < m_pRecord->GetRecordCount())
            rows.push_back(row);
    }
    return rows;
}

std::vector<int> COrvoListCtrl::GetVisibleColumnsInOrder() const {
    std::vector<int> columns;
    QTableView* view = View();
    if (!view || !m_pModel)
        return columns;
    const QHeaderView* header = view->horizontalHeader();
    for (int visual = 0; visual < header->count(); ++visual) {
        const int logical = header->logicalIndex(visual);
        if (logical >= 0 && !header->isSectionHidden(logical))
            columns.push_back(logical);
    }
    return columns;
}

namespace {

// A progress line for a long export, with Escape (or its button) to stop it. Shown only when the export
// takes long enough to be noticed.
class ExportProgressDialog {
public:
    explicit ExportProgressDialog(QWidget* parent)
        : m_dialog(QString(), QString::fromUtf8("取消"), 0, 100, parent) {
        m_dialog.setWindowTitle(QString::fromUtf8("导出"));
        m_dialog.setWindowModality(Qt::WindowModal);
        m_dialog.setMinimumDuration(400);
        m_dialog.setAutoReset(false);
        m_dialog.setAutoClose(false);
    }
    orvo::ExportProgress Callback() {
        return [this](long done, long total) {
            m_dialog.setMaximum(static_cast<int>(std::max(total, 1L)));
            m_dialog.setLabelText(QString::fromUtf8("正在导出 %L1 / %L2 行…").arg(done).arg(total));
            m_dialog.setValue(static_cast<int>(done)); // runs the dialog's events: the Escape key
            return !m_dialog.wasCanceled();
        };
    }

private:
    QProgressDialog m_dialog;
};

} // namespace

BOOL COrvoListCtrl::ExportCsv(const std::string& pathUtf8, orvo::CsvEncoding encoding,
                              std::string* error) const {
    if (!m_pRecord) {
        if (error)
            *error = "no record set";
        return FALSE;
    }
    CWaitCursor wait;
    ExportProgressDialog progress(View());
    const std::vector<long> rows = GetShownRecordRows();
    if (!orvo::WriteCsvColumns(*m_pRecord, rows, GetVisibleColumnsInOrder(), encoding, pathUtf8, error,
                               progress.Callback()))
        return FALSE;
    NoteExported(static_cast<long>(rows.size()), pathUtf8);
    return TRUE;
}

void COrvoListCtrl::NoteExported(long rows, const std::string& pathUtf8) const {
    qInfo("exported %ld rows to %s", rows, pathUtf8.c_str());
    if (m_exported)
        m_exported(rows, pathUtf8);
}

BOOL COrvoListCtrl::ExportFile(const std::string& pathUtf8, std::string* error) const {
    if (!m_pRecord) {
        if (error)
            *error = "no record set";
        return FALSE;
    }
    if (!orvo::IsXlsxPath(pathUtf8))
        return ExportCsv(pathUtf8, orvo::CsvEncoding::Gbk, error);
    CWaitCursor wait;
    QTableView* view = View();
    orvo::XlsxColumns columns;
    for (const int c : GetVisibleColumnsInOrder())
        columns.push_back({c, view ? view->columnWidth(c) : 80});
    ExportProgressDialog progress(view);
    const std::vector<long> rows = GetShownRecordRows();
    if (!orvo::WriteXlsxFile(*m_pRecord, rows, columns, pathUtf8, error, progress.Callback()))
        return FALSE;
    NoteExported(static_cast<long>(rows.size()), pathUtf8);
    return TRUE;
}

std::string COrvoListCtrl::SaveLayout() const {
    QTableView* view = View();
    if (!view || !m_pRecord)
        return {};
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << kLayoutVersion << QByteArray::fromStdString(m_pRecord->GetLayout().str()) // GBK bytes
        << view->horizontalHeader()->saveState() << writeMask(m_userSized) << writeMask(m_userHidden);
    const std::vector<orvo::ListRowOrder::SortKey> keys =
        m_pModel ? m_pModel->Order().SortKeys() : std::vector<orvo::ListRowOrder::SortKey>();
    out << static_cast<quint32>(keys.size());
    for (const auto& key : keys)
        out << static_cast<qint32>(key.column) << key.ascending;
    return bytes.toBase64().toStdString();
}

bool COrvoListCtrl::RestoreLayout(const std::string& state) {
    QTableView* view = View();
    if (!view || !m_pRecord || !m_pModel)
        return false;
    QByteArray bytes = QByteArray::fromBase64(QByteArray::fromStdString(state));
    QDataStream in(&bytes, QIODevice::ReadOnly);
    quint32 version = 0;
    QString sized, hidden;
    QByteArray layout, headerState;
    in >> version >> layout >> headerState >> sized >> hidden;
    if (in.status() != QDataStream::Ok ||
        (version != kLayoutVersion && version != kLayoutVersionWithoutSort) ||
        layout.toStdString() != m_pRecord->GetLayout().str())
        return false;
    const int count = m_pRecord->GetFieldCount();
    // The sort the list was left with: the first key and the second, columns of this record set.
    std::vector<orvo::ListRowOrder::SortKey> keys = m_pModel->Order().SortKeys();
    if (version == kLayoutVersion) {
        constexpr quint32 kMostKeys = 2;
        quint32 saved = 0;
        in >> saved;
        std::vector<orvo::ListRowOrder::SortKey> read;
        for (quint32 k = 0; k < saved && k < kMostKeys && in.status() == QDataStream::Ok; ++k) {
            qint32 column = -1;
            bool ascending = true;
            in >> column >> ascending;
            if (column >= 0 && column < count)
                read.push_back({static_cast<int>(column), ascending});
        }
        if (in.status() != QDataStream::Ok || read.size() != std::min(saved, kMostKeys))
            return false;
        keys = std::move(read);
    }
    QHeaderView* header = view->horizontalHeader();
    if (keys != m_pModel->Order().SortKeys()) {
        const long current = m_pModel->RecordRow(GetCurSel());
        m_pModel->SetSortKeys(keys);
        ReselectRecordRow(current);
    }
    const int sortColumn = GetSortColumn();
    const bool ascending = IsSortAscending();
    m_bFitting = true;
    const bool restored = header->restoreState(headerState);
    m_bFitting = false;
    if (!restored)
        return false;
    m_userSized = readMask(sized, count);
    m_userHidden = readMask(hidden, count);
    ApplyColumnsShown();
    showSortIndicator(header, sortColumn, ascending);
    return true;
}

void COrvoListCtrl::ResetLayout() {
    QTableView* view = View();
    if (!view)
        return;
    QHeaderView* header = view->horizontalHeader();
    for (int logical = 0; logical < header->count(); ++logical)
        if (header->visualIndex(logical) != logical)
            header->moveSection(header->visualIndex(logical), logical);
    m_userSized.clear();
    m_userHidden.clear();
    ApplyColumnsShown();
    AdjustField(-2);
    if (m_layoutChanged)
        m_layoutChanged();
}

void COrvoListCtrl::ShowHeaderMenu(const QPoint& global) {
    QTableView* view = View();
    if (!view || !m_pModel)
        return;
    QMenu menu(view);
    const int shown = GetShownColumnCount();
    std::vector<QAction*> toggles;
    int visible = 0;
    for (int c = 0; c < shown; ++c)
        visible += IsUserHidden(c) ? 0 : 1;
    // In the order the user sees the columns (dragged ones where they were dropped).
    QHeaderView* header = view->horizontalHeader();
    std::vector<int> columns;
    for (int visual = 0; visual < header->count(); ++visual)
        if (const int c = header->logicalIndex(visual); c >= 0 && c < shown)
            columns.push_back(c);
    for (const int c : columns) {
        QAction* action = menu.addAction(m_pModel->headerData(c, Qt::Horizontal).toString());
        action->setCheckable(true);
        action->setChecked(!IsUserHidden(c));
        action->setEnabled(IsUserHidden(c) || visible > 1); // one column always stays
        action->setData(c);
        toggles.push_back(action);
    }
    menu.addSeparator();
    QAction* reset = menu.addAction(QString::fromUtf8("恢复默认布局"));
    QAction* chosen = menu.exec(global);
    if (!chosen)
        return;
    if (chosen == reset) {
        ResetLayout();
        return;
    }
    for (QAction* toggle : toggles)
        if (toggle == chosen)
            HideColumn(toggle->data().toInt(), !chosen->isChecked());
}

void COrvoListCtrl::HideColumn(int column, BOOL hide) {
    const int shown = GetShownColumnCount();
    if (column < 0 || column >= shown || IsUserHidden(column) == (hide != FALSE))
        return;
    int visible = 0;
    for (int c = 0; c < shown; ++c)
        visible += IsUserHidden(c) ? 0 : 1;
    if (hide && visible <= 1)
        return;
    if (m_userHidden.size() < static_cast<size_t>(shown))
        m_userHidden.resize(static_cast<size_t>(shown), false);
    m_userHidden[static_cast<size_t>(column)] = hide != FALSE;
    ApplyColumnsShown();
    if (m_layoutChanged)
        m_layoutChanged();
}
