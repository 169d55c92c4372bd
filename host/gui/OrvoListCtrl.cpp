#include "host/gui/OrvoListCtrl.h"

#include "host/dbm/MemRecord.h"
#include "host/gui/ListExport.h"
#include "host/gui/RecordTableModel.h"
#include "platform/DialogBuilder.h"
#include "platform/QtText.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDate>
#include <QDir>
#include <QFileDialog>
#include <QHash>
#include <QHeaderView>
#include <QItemSelection>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTableView>

#include <algorithm>
#include <unordered_set>

namespace orvo {

// Qt-side plumbing of one list: copy key, context menu, double-click and current-row tracking.
class ListViewHelper : public QObject {
public:
    explicit ListViewHelper(COrvoListCtrl* list) : m_list(list) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress && copyKey(static_cast<QKeyEvent*>(event)))
            return true;
        if (event->type() == QEvent::KeyPress && menuKey(static_cast<QKeyEvent*>(event)))
            return true;
        if (event->type() == QEvent::KeyPress && moveToEnd(static_cast<QKeyEvent*>(event)))
            return true;
        if (event->type() == QEvent::MouseButtonDblClick) {
            // Handled here rather than through the view's doubleClicked signal: the view only reports a
            // double-click that follows its own press on the same row, which scripted input may not send.
            auto* mouse = static_cast<QMouseEvent*>(event);
            QTableView* view = m_list->View();
            if (mouse->button() != Qt::LeftButton || !view || watched != view->viewport())
                return false;
            const QModelIndex index = view->indexAt(mouse->position().toPoint());
            if (!index.isValid())
                return false;
            m_list->SetCurSel(index.row());
            m_list->OnDoubleClick(index.row());
            return true;
        }
        if (event->type() == QEvent::ContextMenu) {
            auto* menu = static_cast<QContextMenuEvent*>(event);
            m_list->ShowContextMenu(menu->globalPos());
            return true;
        }
        return false;
    }

private:
    // Ctrl+C copies the selected rows; Ctrl+Shift+C with the captions first.
    bool copyKey(const QKeyEvent* key) {
        const bool withHeader =
            key->key() == Qt::Key_C && key->modifiers() == (Qt::ControlModifier | Qt::ShiftModifier);
        if (!withHeader && !key->matches(QKeySequence::Copy))
            return false;
        m_list->CopySelection(withHeader);
        return true;
    }

    // Shift+F10 and the menu key open the list's menu at the current line, as the platform's lists do.
    bool menuKey(const QKeyEvent* key) {
        const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
        const bool shiftF10 = key->key() == Qt::Key_F10 && modifiers == Qt::ShiftModifier;
        const bool menu = key->key() == Qt::Key_Menu && modifiers == Qt::NoModifier;
        QTableView* view = m_list->View();
        if ((!shiftF10 && !menu) || !view)
            return false;
        const QRect line = view->visualRect(view->currentIndex()).intersected(view->viewport()->rect());
        const QPoint at = line.isValid() ? line.bottomLeft() : QPoint(0, 0);
        m_list->ShowContextMenu(view->viewport()->mapToGlobal(at));
        return true;
    }

    // Home and End go to the first and the last row, as in a list of the platform (the table view would
    // only move between the columns of the row).
    bool moveToEnd(const QKeyEvent* key) {
        const bool home = key->key() == Qt::Key_Home;
        if ((!home && key->key() != Qt::Key_End) ||
            (key->modifiers() & ~Qt::KeypadModifier & ~Qt::ControlModifier))
            return false;
        const int rows = m_list->Model() ? m_list->Model()->rowCount() : 0;
        if (rows > 0)
            m_list->SetCurSel(home ? 0 : rows - 1);
        return true;
    }

    COrvoListCtrl* m_list;
};

} // namespace orvo

BEGIN_MESSAGE_MAP(COrvoListCtrl, CWnd)
ON_MESSAGE(WM_SETFONT, &COrvoListCtrl::OnSetFontMessage)
END_MESSAGE_MAP()

COrvoListCtrl::COrvoListCtrl() = default;

COrvoListCtrl::~COrvoListCtrl() {
    if (QTableView* view = View())
        view->setModel(nullptr);
}

QTableView* COrvoListCtrl::View() const {
    return qobject_cast<QTableView*>(m_hWnd);
}

BOOL COrvoListCtrl::Create(LPCTSTR /*className*/, LPCTSTR windowName, DWORD style, const RECT& rect,
                           CWnd* parent, UINT id, void* context) {
    return CWnd::Create(orvo::wc::kListView, windowName, style, rect, parent, id, context);
}

void COrvoListCtrl::PreSubclassWindow() {
    QTableView* view = View();
    if (!view) {
        qWarning("COrvoListCtrl: control %d is not a list view", GetDlgCtrlID());
        return;
    }
    if (!m_pModel) {
        m_pModel = std::make_unique<orvo::RecordTableModel>();
        m_pHelper = std::make_unique<orvo::ListViewHelper>(this);
    }
    m_pModel->SetShowTips(m_bTips);
    view->setModel(m_pModel.get());
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setContextMenuPolicy(Qt::DefaultContextMenu);
    view->installEventFilter(m_pHelper.get());
    view->viewport()->installEventFilter(m_pHelper.get());
    QObject::connect(view->selectionModel(), &QItemSelectionModel::currentRowChanged, m_pHelper.get(),
                     [this](const QModelIndex& current) {
                         const long row = current.isValid() ? m_pModel->RecordRow(current.row()) : -1;
                         if (m_pRecord && row >= 0 && row < m_pRecord->GetRecordCount())
                             m_pRecord->Go(row);
                     });
    QObject::connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, m_pHelper.get(),
                     [this] { NotifyViewChanged(); });
    ConnectHeader();
    QObject::connect(view, &QAbstractItemView::doubleClicked, m_pHelper.get(),
                     [this](const QModelIndex& index) {
                         if (index.isValid())
                             OnDoubleClick(index.row());
                     });
    m_pModel->Reset(m_pRecord);
    ApplyColumnsShown();
}

void COrvoListCtrl::SetRecord(CMemRecord* record) {
    m_pRecord = record;
    Refresh(0);
}

void COrvoListCtrl::Refresh(int /*mode*/) {
    if (!m_pModel)
        return;
    m_pModel->ClearMarks(); // the rows are new: no mark names a row any more
    m_pModel->Reset(m_pRecord);
    ApplyColumnsShown();
    // A refill leaves the cursor on its last appended row or past the end, neither of them the user's
    // choice: the list starts again at its first row, and the record set's cursor with it (past the end
    // when the filter shows no row).
    SetCurSel(0);
    if (m_pRecord && m_pModel->rowCount() == 0)
        m_pRecord->Go(m_pRecord->GetRecordCount());
    ShowEmptyText();
}

void COrvoListCtrl::SetStale(bool stale) {
    if (m_pModel)
        m_pModel->SetStale(stale);
}

bool COrvoListCtrl::IsStale() const {
    return m_pModel && m_pModel->Stale();
}

void COrvoListCtrl::SetEmptyText(const CString& text, bool alert) {
    m_strEmptyText = text;
    QTableView* view = View();
    if (!view)
        return;
    auto* label = view->viewport()->findChild<QLabel*>(QStringLiteral("orvoEmptyText"));
    if (!label && !text.IsEmpty()) {
        label = new QLabel(view->viewport());
        label->setObjectName(QStringLiteral("orvoEmptyText"));
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        label->setTextFormat(Qt::PlainText);
    }
    if (!label)
        return;
    label->setText(orvo::ToQString(text));
    label->setStyleSheet(alert ? QStringLiteral("color: #c80000;") : QString());
    label->adjustSize();
    label->move(8, 6);
    ShowEmptyText();
}

void COrvoListCtrl::ShowEmptyText() {
    QTableView* view = View();
    auto* label = view ? view->viewport()->findChild<QLabel*>(QStringLiteral("orvoEmptyText")) : nullptr;
    if (label)
        label->setVisible(!m_strEmptyText.IsEmpty() && (!m_pRecord || m_pRecord->GetRecordCount() == 0));
}

void COrvoListCtrl::ApplyColumnsShown() {
    QTableView* view = View();
    if (!view || !m_pModel)
        return;
    const int shown = GetShownColumnCount();
    const int columns = m_pModel->columnCount();
    for (int c = 0; c < columns; ++c)
        view->setColumnHidden(c, c >= shown || IsUserHidden(c));
}

int COrvoListCtrl::GetShownColumnCount() const {
    return m_pRecord ? orvo::VisibleColumnCount(*m_pRecord) : 0;
}

void COrvoListCtrl::AdjustField(int mode) {
    QTableView* view = View();
    if (!view || !m_pModel)
        return;
    // A bounded sample: the first rows and the rows on screen; never the whole set.
    constexpr int kSampleRows = 200;
    constexpr int kPadding = 14;
    constexpr int kMaxWidth = 480;
    const int rows = m_pModel->rowCount();
    std::vector<int> sample;
    for (int r = 0; r < std::min(rows, kSampleRows); ++r)
        sample.push_back(r);
    const int firstShown = view->rowAt(0);
    if (firstShown >= kSampleRows)
        for (int r = firstShown; r < std::min(rows, firstShown + 60); ++r)
            sample.push_back(r);
    const QFontMetrics cellMetrics(view->font());
    const QFontMetrics headerMetrics(view->horizontalHeader()->font());
    // Rows repeat their texts (dates, codes, names, states): each distinct text is measured once a fit.
    QHash<QString, int> cellWidths;
    const auto cellWidth = [&](const QString& text) {
        const auto known = cellWidths.constFind(text);
        if (known != cellWidths.constEnd())
            return known.value();
        const int width = cellMetrics.horizontalAdvance(text);
        cellWidths.insert(text, width);
        return width;
    };
    const int shown = GetShownColumnCount();
    const bool widenOnly = mode == kAdjustWidenOnly;
    m_bFitting = true;
    for (int c = 0; c < shown; ++c) {
        if (c < static_cast<int>(m_userSized.size()) && m_userSized[static_cast<size_t>(c)])
            continue; // the user's width stands
        int width = headerMetrics.horizontalAdvance(m_pModel->headerData(c, Qt::Horizontal).toString());
        for (const int r : sample)
            width = std::max(width, cellWidth(m_pModel->CellText(r, c)));
        width = std::min(width + kPadding, kMaxWidth);
        if (widenOnly && width <= view->columnWidth(c))
            continue;
        view->setColumnWidth(c, width);
    }
    m_bFitting = false;
}

void COrvoListCtrl::SetCanShowTip(BOOL show) {
    m_bTips = show != FALSE;
    if (m_pModel)
        m_pModel->SetShowTips(m_bTips);
}

BOOL COrvoListCtrl::GetCanShowTip() const {
    return m_bTips;
}

int COrvoListCtrl::GetCurSel() const {
    QTableView* view = View();
    if (!view)
        return -1;
    const QModelIndex current = view->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void COrvoListCtrl::SetCurSel(int row) {
    QTableView* view = View();
    if (!view || !m_pModel || row < 0 || row >= m_pModel->rowCount())
        return;
    const QModelIndex index = m_pModel->index(row, 0);
    view->selectionModel()->setCurrentIndex(index,
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    view->scrollTo(index);
    const long recordRow = m_pModel->RecordRow(row);
    if (m_pRecord && recordRow >= 0)
        m_pRecord->Go(recordRow);
}

void COrvoListCtrl::SelectRecordRows(const std::vector<long>& rows, long currentRow) {
    QTableView* view = View();
    if (!view || !m_pModel || m_pModel->rowCount() == 0 || (rows.empty() && currentRow < 0))
        return;
    // One pass over the lines: a look-up of each row's line would go over them once per row.
    const std::unordered_set<long> wanted(rows.begin(), rows.end());
    QItemSelection selection;
    int currentLine = -1;
    int firstLine = -1;
    const int lines = m_pModel->rowCount();
    const int lastColumn = m_pModel->columnCount() - 1;
    for (int line = 0; line < lines; ++line) {
        const long row = m_pModel->RecordRow(line);
        if (row == currentRow && currentRow >= 0)
            currentLine = line;
        if (!wanted.contains(row))
            continue;
        if (firstLine < 0)
            firstLine = line;
        int end = line; // runs of neighbouring lines make one range
        while (end + 1 < lines && wanted.contains(m_pModel->RecordRow(end + 1))) {
            ++end;
            if (m_pModel->RecordRow(end) == currentRow && currentRow >= 0)
                currentLine = end;
        }
        selection.select(m_pModel->index(line, 0), m_pModel->index(end, lastColumn));
        line = end;
    }
    if (currentLine < 0)
        currentLine = firstLine;
    if (currentLine < 0)
        return;
    SetCurSel(currentLine);
    if (!selection.isEmpty())
        view->selectionModel()->select(selection,
                                       QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void COrvoListCtrl::SyncFromRecord() {
    if (!m_pRecord || !m_pModel || m_pModel->rowCount() == 0)
        return;
    int line = m_pModel->LineOf(m_pRecord->GetRecNo());
    if (line < 0 || line >= m_pModel->rowCount())
        line = 0;
    SetCurSel(line);
}

BOOL COrvoListCtrl::PreTranslateMessage(MSG* msg) {
    // A key for this list is about to be handled (the window above may act on the current row): the
    // record set's cursor stands on the selected line.
    if (msg->message == WM_KEYDOWN && msg->hwnd == m_hWnd && m_pRecord) {
        const long row = m_pModel ? m_pModel->RecordRow(GetCurSel()) : -1;
        if (row >= 0 && row < m_pRecord->GetRecordCount())
            m_pRecord->Go(row);
    }
    return CWnd::PreTranslateMessage(msg);
}

void COrvoListCtrl::OnDoubleClick(int line) {
    const long row = m_pModel ? m_pModel->RecordRow(line) : -1;
    if (!m_pRecord || row < 0 || row >= m_pRecord->GetRecordCount())
        return;
    m_pRecord->Go(row);
    if (m_nDblClkMessage == 0)
        return; // a list whose owner asked for no message
    if (QWidget* owner = orvo::ParentWindowOf(m_hWnd))
        ::SendMessage(owner, m_nDblClkMessage, 0, 0);
}

LRESULT COrvoListCtrl::OnSetFontMessage(WPARAM, LPARAM) {
    const LRESULT result = Default();
    if (QTableView* view = View())
        view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 4);
    return result;
}

CString COrvoListCtrl::GetSelectedRowsText(bool withHeader) const {
    if (!m_pRecord)
        return {};
    const std::vector<long> rows = GetSelectedRecordRows();
    if (rows.empty())
        return {};
    return orvo::RowsAsTabText(*m_pRecord, rows, GetVisibleColumnsInOrder(), withHeader);
}

void COrvoListCtrl::CopySelection(bool withHeader) {
    const CString text = GetSelectedRowsText(withHeader);
    if (!text.IsEmpty())
        QApplication::clipboard()->setText(orvo::ToQString(text));
}

std::string COrvoListCtrl::DefaultExportPath(const std::string& extension) const {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QDir::homePath();
    QString name = m_strExportName.IsEmpty() ? QStringLiteral("list") : orvo::ToQString(m_strExportName);
    // A tab's title may hold characters a file name cannot.
    static const QRegularExpression unsafe(QStringLiteral("[\\\\/:*?\"<>|\\s]+"));
    name.replace(unsafe, QStringLiteral("_"));
    name += QLatin1Char('_') + QDate::currentDate().toString(QStringLiteral("yyyyMMdd"));
    return QDir(folder).filePath(name + QLatin1Char('.') + QString::fromStdString(extension)).toStdString();
}

void COrvoListCtrl::ShowContextMenu(const QPoint& global) {
    QTableView* view = View();
    if (!view)
        return;
    QMenu menu(view);
    QAction* copy = menu.addAction(QString::fromUtf8("复制选中行"), QKeySequence::Copy);
    copy->setEnabled(view->selectionModel()->hasSelection());
    menu.addSeparator();
    QAction* gbk = menu.addAction(QString::fromUtf8("导出CSV (GBK)..."));
    QAction* utf8 = menu.addAction(QString::fromUtf8("导出CSV (UTF-8)..."));
    QAction* xlsx = menu.addAction(QString::fromUtf8("导出Excel (.xlsx)..."));
    const bool empty = !m_pRecord || m_pRecord->GetFieldCount() == 0;
    gbk->setEnabled(!empty);
    utf8->setEnabled(!empty);
    xlsx->setEnabled(!empty);
    QAction* chosen = menu.exec(global);
    if (chosen == copy) {
        CopySelection();
        return;
    }
    if (chosen == xlsx) {
        QString path = QFileDialog::getSaveFileName(view, QString::fromUtf8("导出Excel"),
                                                    QString::fromStdString(DefaultExportPath("xlsx")),
                                                    QStringLiteral("Excel (*.xlsx)"));
        if (!path.isEmpty() && !path.endsWith(QStringLiteral(".xlsx"), Qt::CaseInsensitive))
            path += QStringLiteral(".xlsx"); // the format goes by the ending
        std::string error;
        if (!path.isEmpty() && !ExportFile(path.toStdString(), &error) && error != orvo::kExportCancelled)
            QMessageBox::warning(
                view, QString::fromUtf8("导出Excel"),
                QString::fromUtf8("无法写入文件 %1：%2").arg(path, QString::fromStdString(error)));
        return;
    }
    if (chosen != gbk && chosen != utf8)
        return;
    const QString path = QFileDialog::getSaveFileName(view, QString::fromUtf8("导出CSV"),
                                                      QString::fromStdString(DefaultExportPath("csv")),
                                                      QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty())
        return;
    std::string error;
    const auto encoding = chosen == gbk ? orvo::CsvEncoding::Gbk : orvo::CsvEncoding::Utf8WithBom;
    if (!ExportCsv(path.toStdString(), encoding, &error) && error != orvo::kExportCancelled)
        QMessageBox::warning(
            view, QString::fromUtf8("导出CSV"),
            QString::fromUtf8("无法写入文件 %1：%2").arg(path, QString::fromStdString(error)));
}
