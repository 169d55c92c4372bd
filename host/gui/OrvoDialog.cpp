#include "host/gui/OrvoDialog.h"

#include "platform/QtText.h"

#include <QLabel>
#include <QWidget>

#include <algorithm>

BEGIN_MESSAGE_MAP(COrvoDialog, CDialog)
ON_WM_CREATE()
ON_WM_SIZE()
ON_WM_CTLCOLOR()
ON_WM_DESTROY()
END_MESSAGE_MAP()

COrvoDialog::COrvoDialog(UINT templateId, CWnd* parent) : CDialog(templateId, parent) {}

COrvoDialog::~COrvoDialog() = default;

int COrvoDialog::OnCreate(LPCREATESTRUCT createStruct) {
    if (CDialog::OnCreate(createStruct) == -1)
        return -1;
    m_alignedItems.clear();
    return 0;
}

BOOL COrvoDialog::OnInitDialog() {
    const BOOL result = CDialog::OnInitDialog();
    m_pNote = new QLabel(m_hWnd);
    m_pNote->setObjectName(QStringLiteral("orvoNote"));
    m_pNote->setProperty("orvoKind", QStringLiteral("note"));
    m_pNote->setAttribute(Qt::WA_TransparentForMouseEvents);
    LayOutNote();
    return result;
}

void COrvoDialog::DoDataExchange(CDataExchange* dx) {
    CDialog::DoDataExchange(dx);
}

void COrvoDialog::OnDestroy() {
    m_pNote = nullptr; // goes with the window
    m_alignedItems.clear();
    CDialog::OnDestroy();
}

void COrvoDialog::SetNoteVisible(BOOL visible) {
    m_bNoteVisible = visible;
    LayOutNote();
}

void COrvoDialog::SetNote(LPCTSTR text) {
    m_strNote = text ? text : "";
    LayOutNote();
}

void COrvoDialog::LayOutNote() {
    if (!m_pNote || !m_hWnd)
        return;
    m_pNote->setText(orvo::ToQString(m_strNote));
    const int height = m_pNote->fontMetrics().height() + 4;
    m_pNote->setGeometry(8, m_hWnd->height() - height - 4, std::max(0, m_hWnd->width() / 2), height);
    m_pNote->setVisible(m_bNoteVisible && !m_strNote.IsEmpty());
}

void COrvoDialog::SetItemAlign(int controlId, int align) {
    std::erase_if(m_alignedItems, [controlId](const AlignedItem& item) { return item.id == controlId; });
    CWnd* item = GetDlgItem(controlId);
    if (!item || align == 0)
        return;
    CRect rect;
    item->GetWindowRect(rect);
    ScreenToClient(rect);
    CRect client;
    GetClientRect(client);
    m_alignedItems.push_back({controlId, align, static_cast<int>(client.right - rect.right),
                              static_cast<int>(client.bottom - rect.bottom)});
}

void COrvoDialog::LayOutAlignedItems(int cx, int cy) {
    for (const AlignedItem& aligned : m_alignedItems) {
        CWnd* item = GetDlgItem(aligned.id);
        if (!item)
            continue;
        CRect rect;
        item->GetWindowRect(rect);
        ScreenToClient(rect);
        const int width = static_cast<int>(rect.Width());
        const int height = static_cast<int>(rect.Height());
        int left = static_cast<int>(rect.left);
        int top = static_cast<int>(rect.top);
        if (aligned.align & kAlignRight)
            left = cx - aligned.rightGap - width;
        if (aligned.align & kAlignBottom)
            top = cy - aligned.bottomGap - height;
        item->MoveWindow(left, top, width, height);
    }
}

void COrvoDialog::OnSize(UINT type, int cx, int cy) {
    CDialog::OnSize(type, cx, cy);
    if (type == SIZE_MINIMIZED)
        return;
    LayOutAlignedItems(cx, cy);
    LayOutNote();
}

HBRUSH COrvoDialog::OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor) {
    // The host's dialogs keep the platform's colours; a derived window colours its own controls.
    return CDialog::OnCtlColor(dc, wnd, ctlColor);
}

BOOL COrvoDialog::PreTranslateMessage(MSG* msg) {
    return CDialog::PreTranslateMessage(msg);
}
