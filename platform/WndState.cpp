// A window's state, geometry, text and font, painting, focus, mouse capture and timers.
#include "platform/Wnd.h"

#include "platform/DialogBuilder.h"
#include "platform/QtText.h"
#include "platform/WndInternal.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>

#include <algorithm>

namespace {

// Extra width and height of a top-level window's frame around its client area.
QSize frameExtra(const QWidget* w) {
    const QRect frame = w->frameGeometry();
    return {frame.width() - w->width(), frame.height() - w->height()};
}

} // namespace

namespace orvo {

QString WidgetText(QWidget* w) {
    if (w->isWindow())
        return w->windowTitle();
    if (auto* label = qobject_cast<QLabel*>(w))
        return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        return button->text();
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        return edit->text();
    if (auto* combo = qobject_cast<QComboBox*>(w))
        return combo->currentText();
    if (auto* group = qobject_cast<QGroupBox*>(w))
        return group->title();
    if (auto* date = qobject_cast<QDateTimeEdit*>(w))
        return date->text();
    return w->windowTitle();
}

void SetWidgetText(QWidget* w, const QString& text) {
    if (w->isWindow())
        w->setWindowTitle(text);
    else if (auto* label = qobject_cast<QLabel*>(w))
        label->setText(text);
    else if (auto* button = qobject_cast<QAbstractButton*>(w))
        button->setText(text);
    else if (auto* edit = qobject_cast<QLineEdit*>(w))
        edit->setText(text);
    else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        if (combo->isEditable())
            combo->setEditText(text);
        else
            combo->setCurrentIndex(combo->findText(text));
    } else if (auto* group = qobject_cast<QGroupBox*>(w))
        group->setTitle(text);
    else
        w->setWindowTitle(text);
}

} // namespace orvo

// ---- state -------------------------------------------------------------------------------------------

BOOL CWnd::ShowWindow(int command) {
    if (!m_hWnd)
        return FALSE;
    const BOOL wasVisible = !m_hWnd->isHidden();
    const bool top = m_hWnd->isWindow();
    switch (command) {
    case SW_HIDE:
        m_hWnd->hide();
        break;
    case SW_SHOWMAXIMIZED:
        top ? m_hWnd->showMaximized() : m_hWnd->show();
        break;
    case SW_MINIMIZE:
    case SW_SHOWMINIMIZED:
        top ? m_hWnd->showMinimized() : m_hWnd->show();
        break;
    case SW_RESTORE:
    case SW_SHOWNORMAL:
        top ? m_hWnd->showNormal() : m_hWnd->show();
        break;
    default:
        m_hWnd->show();
        break;
    }
    return wasVisible;
}

BOOL CWnd::IsWindowVisible() const {
    return m_hWnd && m_hWnd->isVisible();
}

BOOL CWnd::EnableWindow(BOOL enable) {
    if (!m_hWnd)
        return FALSE;
    const BOOL wasDisabled = m_hWnd->testAttribute(Qt::WA_Disabled);
    m_hWnd->setEnabled(enable != FALSE);
    return wasDisabled;
}

BOOL CWnd::IsWindowEnabled() const {
    return m_hWnd && !m_hWnd->testAttribute(Qt::WA_Disabled);
}
BOOL CWnd::IsIconic() const {
    return m_hWnd && m_hWnd->isMinimized();
}
BOOL CWnd::IsZoomed() const {
    return m_hWnd && m_hWnd->isMaximized();
}

// ---- geometry ----------------------------------------------------------------------------------------

void CWnd::MoveWindow(int x, int y, int width, int height, BOOL repaint) {
    if (!m_hWnd)
        return;
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (m_hWnd->isWindow()) {
        const QSize extra = frameExtra(m_hWnd);
        m_hWnd->move(x, y);
        m_hWnd->resize(std::max(width - extra.width(), 0), std::max(height - extra.height(), 0));
    } else {
        m_hWnd->setGeometry(x, y, width, height);
    }
    if (repaint)
        m_hWnd->update();
}

void CWnd::MoveWindow(LPCRECT rect, BOOL repaint) {
    MoveWindow(static_cast<int>(rect->left), static_cast<int>(rect->top),
               static_cast<int>(rect->right - rect->left), static_cast<int>(rect->bottom - rect->top),
               repaint);
}

void CWnd::GetWindowRect(LPRECT rect) const {
    if (!m_hWnd) {
        *rect = RECT{};
        return;
    }
    if (m_hWnd->isWindow())
        *rect = orvo::FromQRect(m_hWnd->frameGeometry());
    else
        *rect = orvo::FromQRect(QRect(m_hWnd->mapToGlobal(QPoint(0, 0)), m_hWnd->size()));
}

void CWnd::GetClientRect(LPRECT rect) const {
    *rect = m_hWnd ? orvo::FromQRect(QRect(QPoint(0, 0), m_hWnd->size())) : RECT{};
}

void CWnd::ScreenToClient(LPPOINT point) const {
    if (m_hWnd)
        *point = orvo::FromQPoint(m_hWnd->mapFromGlobal(orvo::ToQPoint(*point)));
}

void CWnd::ScreenToClient(LPRECT rect) const {
    if (!m_hWnd)
        return;
    const QPoint offset = m_hWnd->mapFromGlobal(QPoint(0, 0));
    CRect r(*rect);
    r.OffsetRect(offset.x(), offset.y());
    *rect = r;
}

void CWnd::ClientToScreen(LPPOINT point) const {
    if (m_hWnd)
        *point = orvo::FromQPoint(m_hWnd->mapToGlobal(orvo::ToQPoint(*point)));
}

void CWnd::ClientToScreen(LPRECT rect) const {
    if (!m_hWnd)
        return;
    const QPoint offset = m_hWnd->mapToGlobal(QPoint(0, 0));
    CRect r(*rect);
    r.OffsetRect(offset.x(), offset.y());
    *rect = r;
}

// ---- text and font -----------------------------------------------------------------------------------

void CWnd::SetWindowText(LPCTSTR text) {
    if (m_hWnd)
        SendMessage(WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : ""));
}

int CWnd::GetWindowText(CString& text) const {
    text = GetWindowText();
    return text.GetLength();
}

CString CWnd::GetWindowText() const {
    return m_hWnd ? orvo::FromQString(orvo::WidgetText(m_hWnd)) : CString();
}

int CWnd::GetWindowTextLength() const {
    return GetWindowText().GetLength();
}

void CWnd::SetFont(CFont* font, BOOL redraw) {
    if (m_hWnd && font)
        SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font->GetSafeHandle()), redraw);
}

CFont* CWnd::GetFont() const {
    if (!m_hWnd)
        return nullptr;
    if (!m_pFontCache)
        m_pFontCache = std::make_unique<CFont>();
    m_pFontCache->SetQFont(m_hWnd->font());
    return m_pFontCache.get();
}

// ---- painting ----------------------------------------------------------------------------------------

void CWnd::Invalidate(BOOL /*erase*/) {
    if (m_hWnd)
        m_hWnd->update();
}

void CWnd::InvalidateRect(LPCRECT rect, BOOL /*erase*/) {
    if (!m_hWnd)
        return;
    if (rect)
        m_hWnd->update(orvo::ToQRect(*rect));
    else
        m_hWnd->update();
}

void CWnd::UpdateWindow() {
    if (m_hWnd && m_hWnd->isVisible())
        m_hWnd->repaint();
}

CDC* CWnd::GetDC() {
    return m_hWnd ? new CDC(m_hWnd) : nullptr;
}

int CWnd::ReleaseDC(CDC* dc) {
    delete dc;
    return 1;
}

// ---- focus and capture -------------------------------------------------------------------------------

CWnd* CWnd::SetFocus() {
    CWnd* previous = GetFocus();
    if (m_hWnd)
        m_hWnd->setFocus(Qt::OtherFocusReason);
    return previous;
}

CWnd* CWnd::GetFocus() {
    return FromHandle(::GetFocus());
}

CWnd* CWnd::SetCapture() {
    HWND previous = ::GetCapture();
    if (!m_hWnd)
        return FromHandle(previous);
    if (previous && previous != m_hWnd)
        ::SendMessage(previous, WM_CAPTURECHANGED, 0, reinterpret_cast<LPARAM>(m_hWnd));
    m_hWnd->grabMouse();
    orvo::CaptureHolder() = m_hWnd;
    return FromHandle(previous);
}

CWnd* CWnd::GetCapture() {
    return FromHandle(::GetCapture());
}

// ---- timers ------------------------------------------------------------------------------------------

UINT_PTR CWnd::SetTimer(UINT_PTR eventId, UINT elapseMs, void* /*unused*/) {
    if (!m_pBridge)
        return 0;
    m_pBridge->StartTimer(eventId, static_cast<int>(elapseMs));
    return eventId;
}

BOOL CWnd::KillTimer(UINT_PTR eventId) {
    return m_pBridge && m_pBridge->StopTimer(eventId);
}
