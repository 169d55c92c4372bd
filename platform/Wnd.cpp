// CWnd, a handle on a QWidget: attaching objects to widgets (permanent and temporary maps, subclassing,
// detaching when either side goes), and a window's identity (control ID, parent, style). The window's
// state, geometry, text and focus are in WndState.cpp, its messages in WndMessages.cpp.
#include "platform/Wnd.h"

#include "platform/DialogBuilder.h"
#include "platform/WndInternal.h"

#include <QApplication>
#include <QWidget>

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

} // namespace

namespace orvo {

QPointer<QWidget>& CaptureHolder() {
    static QPointer<QWidget> holder;
    return holder;
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
    if (orvo::CaptureHolder() == m_hWnd)
        orvo::CaptureHolder() = nullptr;
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
    if (orvo::CaptureHolder() &&
        (orvo::CaptureHolder() == widget || widget->isAncestorOf(orvo::CaptureHolder())))
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

BOOL IsWindow(HWND hWnd) {
    if (!hWnd)
        return FALSE;
    return permanentMap().count(hWnd) || temporaryMap().count(hWnd) || orvo::IsLayerWindow(hWnd);
}

HWND GetCapture() {
    QWidget* holder = orvo::CaptureHolder();
    return holder && QWidget::mouseGrabber() == holder ? holder : nullptr;
}

BOOL ReleaseCapture() {
    QPointer<QWidget> holder = orvo::CaptureHolder();
    orvo::CaptureHolder() = nullptr;
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
