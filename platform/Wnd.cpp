#include "platform/Wnd.h"

#include "platform/DialogBuilder.h"
#include "platform/QtText.h"
#include "platform/WndInternal.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QDateTimeEdit>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QWidget>

#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace {

// Widgets and the objects attached to them. Everything runs on the GUI thread.
std::unordered_map<QWidget*, CWnd*>& permanentMap() {
    static auto* map = new std::unordered_map<QWidget*, CWnd*>;
    return *map;
}
std::unordered_map<QWidget*, CWnd*>& temporaryMap() {
    static auto* map = new std::unordered_map<QWidget*, CWnd*>;
    return *map;
}

QPointer<QWidget>& captureHolder() {
    static QPointer<QWidget> holder;
    return holder;
}

QString widgetText(QWidget* w) {
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

void setWidgetText(QWidget* w, const QString& text) {
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

// Extra width and height of a top-level window's frame around its client area.
QSize frameExtra(const QWidget* w) {
    const QRect frame = w->frameGeometry();
    return {frame.width() - w->width(), frame.height() - w->height()};
}

} // namespace

namespace orvo {

UINT CtlColorType(UINT message) {
    switch (message) {
    case WM_CTLCOLOREDIT:
        return CTLCOLOR_EDIT;
    case WM_CTLCOLORLISTBOX:
        return CTLCOLOR_LISTBOX;
    case WM_CTLCOLORBTN:
        return CTLCOLOR_BTN;
    case WM_CTLCOLORDLG:
        return CTLCOLOR_DLG;
    default:
        return CTLCOLOR_STATIC;
    }
}

} // namespace orvo

// ---- attaching ---------------------------------------------------------------------------------------

CWnd::CWnd() = default;

CWnd::~CWnd() {
    if (!m_hWnd)
        return;
    if (m_bOwnsWindow) {
        QWidget* widget = m_hWnd;
        ReleaseHandle();
        delete widget;
    } else {
        ReleaseHandle();
    }
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
    if (!hWnd)
        return nullptr;
    const auto it = permanentMap().find(hWnd);
    return it == permanentMap().end() ? nullptr : it->second;
}

CWnd* CWnd::FromHandle(HWND hWnd) {
    if (!hWnd)
        return nullptr;
    if (CWnd* permanent = FromHandlePermanent(hWnd))
        return permanent;
    const auto it = temporaryMap().find(hWnd);
    if (it != temporaryMap().end())
        return it->second;
    auto* temporary = new CWnd;
    temporary->m_bTemporary = true;
    temporary->AttachHandle(hWnd, false);
    return temporary;
}

void CWnd::AttachHandle(HWND hWnd, bool routeEvents) {
    m_hWnd = hWnd;
    (m_bTemporary ? temporaryMap() : permanentMap())[hWnd] = this;
    m_pBridge = std::make_unique<orvo::WndBridge>(this, hWnd);
    m_pBridge->Route(routeEvents);
}

void CWnd::ReleaseHandle() {
    if (!m_hWnd)
        return;
    auto& map = m_bTemporary ? temporaryMap() : permanentMap();
    const auto it = map.find(m_hWnd);
    if (it != map.end() && it->second == this)
        map.erase(it);
    if (captureHolder() == m_hWnd)
        captureHolder() = nullptr;
    m_pBridge.reset();
    m_hWnd = nullptr;
    m_bOwnsWindow = false;
}

void CWnd::OnWidgetDestroyed() {
    // The widget is half gone: only forget it. The bridge is the sender's context, so it goes later.
    auto& map = m_bTemporary ? temporaryMap() : permanentMap();
    const auto it = map.find(m_hWnd);
    if (it != map.end() && it->second == this)
        map.erase(it);
    m_hWnd = nullptr;
    m_bOwnsWindow = false;
    if (m_pBridge)
        m_pBridge.release()->deleteLater();
    if (m_bTemporary) {
        // A temporary may be in the middle of a message; free it once the stack has unwound.
        CWnd* self = this;
        if (qApp)
            QMetaObject::invokeMethod(
                qApp, [self] { delete self; }, Qt::QueuedConnection);
        return;
    }
    PostNcDestroy();
}

BOOL CWnd::Attach(HWND hWnd) {
    if (!hWnd || m_hWnd || FromHandlePermanent(hWnd))
        return FALSE;
    if (const auto it = temporaryMap().find(hWnd); it != temporaryMap().end()) {
        CWnd* temporary = it->second;
        temporary->ReleaseHandle();
        delete temporary;
    }
    AttachHandle(hWnd, false);
    return TRUE;
}

HWND CWnd::Detach() {
    HWND old = m_hWnd;
    ReleaseHandle();
    return old;
}

BOOL CWnd::SubclassWindow(HWND hWnd) {
    if (!Attach(hWnd))
        return FALSE;
    m_pBridge->Route(true);
    PreSubclassWindow();
    return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT id, CWnd* parent) {
    if (!parent || !parent->m_hWnd)
        return FALSE;
    CWnd* item = parent->GetDlgItem(static_cast<int>(id));
    return item ? SubclassWindow(item->m_hWnd) : FALSE;
}

HWND CWnd::UnsubclassWindow() {
    return Detach();
}

BOOL CWnd::Create(LPCTSTR className, LPCTSTR windowName, DWORD style, const RECT& rect, CWnd* parent, UINT id,
                  void* context) {
    if (m_hWnd)
        return FALSE;
    QWidget* parentWidget = parent ? parent->m_hWnd : nullptr;
    orvo::WindowCreateParams params{CString(windowName), style, static_cast<int>(id)};
    QWidget* widget =
        orvo::CreateWindowOfClass(className ? className : "", params, orvo::ToQRect(rect), parentWidget);
    if (!widget)
        return FALSE;
    if (!SubclassWindow(widget)) {
        delete widget;
        return FALSE;
    }
    m_bOwnsWindow = true;
    CREATESTRUCT cs;
    cs.lpCreateParams = context;
    cs.hwndParent = parentWidget;
    cs.id = static_cast<int>(id);
    cs.x = static_cast<int>(rect.left);
    cs.y = static_cast<int>(rect.top);
    cs.cx = static_cast<int>(rect.right - rect.left);
    cs.cy = static_cast<int>(rect.bottom - rect.top);
    cs.style = style;
    cs.lpszName = windowName;
    cs.lpszClass = className;
    if (SendMessage(WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
        DestroyWindow();
        return FALSE;
    }
    return TRUE;
}

BOOL CWnd::DestroyWindow() {
    if (!m_hWnd)
        return FALSE;
    QWidget* widget = m_hWnd;
    // WM_DESTROY goes to the window first, then to its children, while they all still exist.
    std::vector<QPointer<QWidget>> tree{widget};
    for (QWidget* child : widget->findChildren<QWidget*>())
        tree.emplace_back(child);
    for (const QPointer<QWidget>& w : tree)
        if (CWnd* wnd = w ? FromHandlePermanent(w) : nullptr)
            wnd->SendMessage(WM_DESTROY);
    if (captureHolder() && (captureHolder() == widget || widget->isAncestorOf(captureHolder())))
        ::ReleaseCapture();
    delete widget; // every attached object lets go through the destroyed signal
    return TRUE;
}

// ---- identity ----------------------------------------------------------------------------------------

int CWnd::GetDlgCtrlID() const {
    return m_hWnd ? m_hWnd->property(orvo::kPropId).toInt() : 0;
}

int CWnd::SetDlgCtrlID(int id) {
    const int old = GetDlgCtrlID();
    if (m_hWnd)
        m_hWnd->setProperty(orvo::kPropId, id);
    return old;
}

CWnd* CWnd::GetDlgItem(int id) const {
    if (!m_hWnd)
        return nullptr;
    for (QWidget* child : m_hWnd->findChildren<QWidget*>()) {
        const QVariant value = child->property(orvo::kPropId);
        if (value.isValid() && value.toInt() == id && orvo::ParentWindowOf(child) == m_hWnd)
            return FromHandle(child);
    }
    return nullptr;
}

CWnd* CWnd::GetParent() const {
    if (!m_hWnd)
        return nullptr;
    if (QWidget* parent = orvo::ParentWindowOf(m_hWnd))
        return FromHandle(parent);
    // A top-level window's owner.
    QWidget* owner = m_hWnd->parentWidget();
    return owner ? FromHandle(orvo::WindowAt(owner)) : nullptr;
}

CWnd* CWnd::GetTopLevelParent() const {
    return m_hWnd ? FromHandle(m_hWnd->window()) : nullptr;
}

BOOL CWnd::IsChild(const CWnd* wnd) const {
    return m_hWnd && wnd && wnd->m_hWnd && wnd->m_hWnd != m_hWnd && m_hWnd->isAncestorOf(wnd->m_hWnd);
}

CString CWnd::GetClassName() const {
    return m_hWnd ? CString(m_hWnd->property(orvo::kPropClass).toString().toStdString()) : CString();
}

DWORD CWnd::GetStyle() const {
    if (!m_hWnd)
        return 0;
    DWORD style = m_hWnd->property(orvo::kPropStyle).toUInt() & ~(WS_VISIBLE | WS_DISABLED);
    if (!m_hWnd->isHidden())
        style |= WS_VISIBLE;
    if (m_hWnd->testAttribute(Qt::WA_Disabled))
        style |= WS_DISABLED;
    return style;
}

BOOL CWnd::ModifyStyle(DWORD remove, DWORD add, UINT /*flags*/) {
    if (!m_hWnd)
        return FALSE;
    const DWORD old = GetStyle();
    const DWORD updated = (old & ~remove) | add;
    if (updated == old)
        return FALSE;
    SetWindowLong(GWL_STYLE, static_cast<LONG>(updated));
    return TRUE;
}

LONG CWnd::GetWindowLong(int index) const {
    if (index == GWL_STYLE)
        return static_cast<LONG>(GetStyle());
    if (index == GWL_ID)
        return GetDlgCtrlID();
    return 0;
}

LONG CWnd::SetWindowLong(int index, LONG value) {
    if (!m_hWnd)
        return 0;
    if (index == GWL_ID)
        return SetDlgCtrlID(static_cast<int>(value));
    if (index != GWL_STYLE)
        return 0;
    const DWORD old = GetStyle();
    const auto updated = static_cast<DWORD>(value);
    m_hWnd->setProperty(orvo::kPropStyle, static_cast<uint>(updated));
    if ((old ^ updated) & WS_DISABLED)
        m_hWnd->setEnabled(!(updated & WS_DISABLED));
    if ((old ^ updated) & WS_VISIBLE)
        m_hWnd->setVisible((updated & WS_VISIBLE) != 0);
    const QString className = m_hWnd->property(orvo::kPropClass).toString();
    if (const orvo::WindowClass* wc = orvo::FindWindowClass(className.toStdString()); wc && wc->styleChanged)
        wc->styleChanged(m_hWnd, old, updated);
    return static_cast<LONG>(old);
}

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
    return m_hWnd ? orvo::FromQString(widgetText(m_hWnd)) : CString();
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
    captureHolder() = m_hWnd;
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

// ---- messages ----------------------------------------------------------------------------------------

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (!m_hWnd)
        return 0;
    m_frames.push_back({message, wParam, lParam, false, false});
    const LRESULT result = WindowProc(message, wParam, lParam);
    m_frames.pop_back();
    return result;
}

LRESULT CWnd::DispatchFromQt(UINT message, WPARAM wParam, LPARAM lParam, bool* handled) {
    m_frames.push_back({message, wParam, lParam, true, false});
    const LRESULT result = WindowProc(message, wParam, lParam);
    *handled = !m_frames.back().defaultRequested;
    m_frames.pop_back();
    return result;
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::PostMessage(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::SendDlgItemMessage(int id, UINT message, WPARAM wParam, LPARAM lParam) {
    CWnd* item = GetDlgItem(id);
    return item ? item->SendMessage(message, wParam, lParam) : 0;
}

BOOL CWnd::PreTranslateMessage(MSG* /*msg*/) {
    return FALSE;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result))
        result = DefWindowProc(message, wParam, lParam);
    return result;
}

BOOL CWnd::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    m_frames.push_back({WM_REFLECT_BASE + message, wParam, lParam, false, false});
    LRESULT handled = 0;
    const BOOL found = OnWndMsg(WM_REFLECT_BASE + message, wParam, lParam, &handled);
    m_frames.pop_back();
    if (found && handled) {
        if (result)
            *result = 0;
        return TRUE;
    }
    return FALSE;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    // A control's own notifications go back to it first.
    if (message == WM_COMMAND && lParam) {
        CWnd* child = FromHandlePermanent(reinterpret_cast<HWND>(lParam));
        if (child && child != this && child->OnChildNotify(message, wParam, lParam, result))
            return TRUE;
    } else if (message == WM_NOTIFY && lParam) {
        CWnd* child = FromHandlePermanent(reinterpret_cast<const NMHDR*>(lParam)->hwndFrom);
        if (child && child != this && child->OnChildNotify(message, wParam, lParam, result))
            return TRUE;
    }

    const bool ctlColor = message >= WM_CTLCOLOREDIT && message <= WM_CTLCOLORSTATIC;
    const UINT lookFor = ctlColor ? WM_CTLCOLOR : message;
    UINT code = 0;
    UINT id = 0;
    const bool command = message == WM_COMMAND || message == WM_REFLECT_BASE + WM_COMMAND;
    const bool notify = message == WM_NOTIFY || message == WM_REFLECT_BASE + WM_NOTIFY;
    if (command) {
        code = HIWORD(wParam);
        id = LOWORD(wParam);
    } else if (notify) {
        if (!lParam)
            return FALSE;
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        code = header->code;
        id = static_cast<UINT>(header->idFrom);
    }
    const bool reflected = message >= WM_REFLECT_BASE;

    for (const AFX_MSGMAP* map = GetMessageMap(); map;
         map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* entry = map->lpEntries; entry && entry->pfn; ++entry) {
            if (entry->nMessage != lookFor)
                continue;
            if ((command || notify) && entry->nCode != code)
                continue;
            if ((command || notify) && !reflected && (id < entry->nID || id > entry->nLastID))
                continue;
            *result = entry->pfn(this, message, wParam, lParam);
            return TRUE;
        }
    }
    return FALSE;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    // Messages from Qt events: Qt's own processing is the default, once the handler returns.
    if (!m_frames.empty() && m_frames.back().fromQt && m_frames.back().message == message) {
        m_frames.back().defaultRequested = true;
        return 0;
    }
    if (!m_hWnd)
        return 0;
    const QString className = m_hWnd->property(orvo::kPropClass).toString();
    if (const orvo::WindowClass* wc = orvo::FindWindowClass(className.toStdString()); wc && wc->proc) {
        LRESULT result = 0;
        if (wc->proc(m_hWnd, message, wParam, lParam, &result))
            return result;
    }
    switch (message) {
    case WM_SETTEXT:
        setWidgetText(m_hWnd, orvo::ToQString(CString(reinterpret_cast<LPCTSTR>(lParam))));
        return TRUE;
    case WM_GETTEXTLENGTH:
        return GetWindowText().GetLength();
    case WM_GETTEXT: {
        if (wParam == 0 || !lParam)
            return 0;
        const CString text = GetWindowText();
        const auto count = std::min<std::size_t>(static_cast<std::size_t>(text.GetLength()), wParam - 1);
        std::memcpy(reinterpret_cast<char*>(lParam), text.GetString(), count);
        reinterpret_cast<char*>(lParam)[count] = '\0';
        return static_cast<LRESULT>(count);
    }
    case WM_SETFONT:
        if (wParam)
            m_hWnd->setFont(*reinterpret_cast<HFONT>(wParam));
        return 0;
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(GetFont()->GetSafeHandle());
    case WM_CLOSE:
        DestroyWindow();
        return 0;
    default:
        return 0;
    }
}

LRESULT CWnd::Default() {
    if (m_frames.empty())
        return 0;
    const MessageFrame frame = m_frames.back();
    return DefWindowProc(frame.message, frame.wParam, frame.lParam);
}

// ---- default handlers --------------------------------------------------------------------------------

int CWnd::OnCreate(LPCREATESTRUCT) {
    return static_cast<int>(Default());
}
void CWnd::OnDestroy() {
    Default();
}
void CWnd::OnClose() {
    Default();
}
void CWnd::OnSize(UINT, int, int) {
    Default();
}
HBRUSH CWnd::OnCtlColor(CDC*, CWnd*, UINT) {
    return reinterpret_cast<HBRUSH>(Default());
}
void CWnd::OnLButtonDown(UINT, CPoint) {
    Default();
}
void CWnd::OnLButtonUp(UINT, CPoint) {
    Default();
}
void CWnd::OnLButtonDblClk(UINT, CPoint) {
    Default();
}
void CWnd::OnRButtonDown(UINT, CPoint) {
    Default();
}
void CWnd::OnRButtonUp(UINT, CPoint) {
    Default();
}
void CWnd::OnMouseMove(UINT, CPoint) {
    Default();
}
BOOL CWnd::OnSetCursor(CWnd*, UINT, UINT) {
    return static_cast<BOOL>(Default());
}
void CWnd::OnKeyDown(UINT, UINT, UINT) {
    Default();
}
void CWnd::OnKeyUp(UINT, UINT, UINT) {
    Default();
}
void CWnd::OnSetFocus(CWnd*) {
    Default();
}
void CWnd::OnKillFocus(CWnd*) {
    Default();
}
void CWnd::OnCaptureChanged(CWnd*) {
    Default();
}
void CWnd::OnTimer(UINT_PTR) {
    Default();
}
void CWnd::OnContextMenu(CWnd*, CPoint) {
    Default();
}

const AFX_MSGMAP* CWnd::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, 0, nullptr}};
    static const AFX_MSGMAP map = {nullptr, &entries[0]};
    return &map;
}

const AFX_MSGMAP* CWnd::GetMessageMap() const {
    return GetThisMessageMap();
}

// ---- free functions ----------------------------------------------------------------------------------

LRESULT SendMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CWnd* wnd = CWnd::FromHandle(hWnd);
    return wnd ? wnd->SendMessage(message, wParam, lParam) : 0;
}

BOOL PostMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!hWnd)
        return FALSE;
    CWnd::FromHandle(hWnd); // a window without an object still gets one to receive the message
    QCoreApplication::postEvent(hWnd, new orvo::PostedMessageEvent(message, wParam, lParam));
    return TRUE;
}

BOOL IsWindow(HWND hWnd) {
    if (!hWnd)
        return FALSE;
    return permanentMap().count(hWnd) || temporaryMap().count(hWnd) || orvo::IsLayerWindow(hWnd);
}

HWND GetCapture() {
    QWidget* holder = captureHolder();
    return holder && QWidget::mouseGrabber() == holder ? holder : nullptr;
}

BOOL ReleaseCapture() {
    QPointer<QWidget> holder = captureHolder();
    captureHolder() = nullptr;
    if (!holder)
        return TRUE;
    holder->releaseMouse();
    ::SendMessage(holder, WM_CAPTURECHANGED, 0, 0);
    return TRUE;
}

HWND GetFocus() {
    QWidget* focus = QApplication::focusWidget();
    return focus ? orvo::WindowAt(focus) : nullptr;
}

CWaitCursor::CWaitCursor() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
}
CWaitCursor::~CWaitCursor() {
    QApplication::restoreOverrideCursor();
}
