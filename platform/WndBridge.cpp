#include "platform/DialogBuilder.h"
#include "platform/WndInternal.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimerEvent>
#include <QWidget>

#include <optional>

namespace orvo {
namespace {

std::optional<QRect>& cursorClip() {
    static std::optional<QRect> clip;
    return clip;
}

bool isOffscreen() {
    return QGuiApplication::platformName() == QLatin1String("offscreen");
}

QPointer<QWidget>& cursorTarget() {
    static QPointer<QWidget> target;
    return target;
}

constexpr UINT kHitClient = 1;

} // namespace

PostedMessageEvent::PostedMessageEvent(UINT message, WPARAM wParam, LPARAM lParam) : QEvent(EventType()) {
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
}

QEvent::Type PostedMessageEvent::EventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

UINT VirtualKeyFromQt(int key) {
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return VK_F1 + static_cast<UINT>(key - Qt::Key_F1);
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9))
        return static_cast<UINT>(key); // same codes as the virtual keys
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return VK_RETURN;
    case Qt::Key_Escape:
        return VK_ESCAPE;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return VK_TAB;
    case Qt::Key_Backspace:
        return VK_BACK;
    case Qt::Key_Space:
        return VK_SPACE;
    case Qt::Key_PageUp:
        return VK_PRIOR;
    case Qt::Key_PageDown:
        return VK_NEXT;
    case Qt::Key_End:
        return VK_END;
    case Qt::Key_Home:
        return VK_HOME;
    case Qt::Key_Left:
        return VK_LEFT;
    case Qt::Key_Up:
        return VK_UP;
    case Qt::Key_Right:
        return VK_RIGHT;
    case Qt::Key_Down:
        return VK_DOWN;
    case Qt::Key_Insert:
        return VK_INSERT;
    case Qt::Key_Delete:
        return VK_DELETE;
    case Qt::Key_Shift:
        return VK_SHIFT;
    case Qt::Key_Control:
        return VK_CONTROL;
    case Qt::Key_Alt:
        return VK_MENU;
    default:
        return 0;
    }
}

int QtKeyFromVirtualKey(UINT vk) {
    if (vk >= VK_F1 && vk <= VK_F1 + 23)
        return Qt::Key_F1 + static_cast<int>(vk - VK_F1);
    if ((vk >= 'A' && vk <= 'Z') || (vk >= '0' && vk <= '9'))
        return static_cast<int>(vk);
    static const std::pair<UINT, int> table[] = {
        {VK_RETURN, Qt::Key_Return},  {VK_ESCAPE, Qt::Key_Escape},   {VK_TAB, Qt::Key_Tab},
        {VK_BACK, Qt::Key_Backspace}, {VK_SPACE, Qt::Key_Space},     {VK_PRIOR, Qt::Key_PageUp},
        {VK_NEXT, Qt::Key_PageDown},  {VK_END, Qt::Key_End},         {VK_HOME, Qt::Key_Home},
        {VK_LEFT, Qt::Key_Left},      {VK_UP, Qt::Key_Up},           {VK_RIGHT, Qt::Key_Right},
        {VK_DOWN, Qt::Key_Down},      {VK_INSERT, Qt::Key_Insert},   {VK_DELETE, Qt::Key_Delete},
        {VK_SHIFT, Qt::Key_Shift},    {VK_CONTROL, Qt::Key_Control}, {VK_MENU, Qt::Key_Alt}};
    for (const auto& [code, key] : table)
        if (code == vk)
            return key;
    return 0;
}

UINT MouseKeyFlags(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers) {
    UINT flags = 0;
    if (buttons & Qt::LeftButton)
        flags |= MK_LBUTTON;
    if (buttons & Qt::RightButton)
        flags |= MK_RBUTTON;
    if (buttons & Qt::MiddleButton)
        flags |= MK_MBUTTON;
    if (modifiers & Qt::ShiftModifier)
        flags |= MK_SHIFT;
    if (modifiers & Qt::ControlModifier)
        flags |= MK_CONTROL;
    return flags;
}

QPoint ClampToCursorClip(QPoint global) {
    const std::optional<QRect>& clip = cursorClip();
    if (!clip || clip->isEmpty())
        return global;
    return {std::clamp(global.x(), clip->left(), clip->right()),
            std::clamp(global.y(), clip->top(), clip->bottom())};
}

// ---- the bridge --------------------------------------------------------------------------------------

WndBridge::WndBridge(CWnd* wnd, QWidget* widget) : m_wnd(wnd), m_widget(widget) {
    widget->installEventFilter(this);
    if (auto* area = qobject_cast<QAbstractScrollArea*>(widget)) {
        m_viewport = area->viewport();
        m_viewport->installEventFilter(this);
    }
    m_wasMinimized = widget->isMinimized();
    QObject::connect(widget, &QObject::destroyed, this, [wnd] { wnd->OnWidgetDestroyed(); });
}

WndBridge::~WndBridge() {
    if (m_widget)
        m_widget->removeEventFilter(this);
    if (m_viewport)
        m_viewport->removeEventFilter(this);
}

int WndBridge::StartTimer(UINT_PTR eventId, int ms) {
    StopTimer(eventId);
    const int qtId = startTimer(ms);
    m_timers[qtId] = eventId;
    return qtId;
}

bool WndBridge::StopTimer(UINT_PTR eventId) {
    for (auto it = m_timers.begin(); it != m_timers.end(); ++it)
        if (it->second == eventId) {
            killTimer(it->first);
            m_timers.erase(it);
            return true;
        }
    return false;
}

void WndBridge::timerEvent(QTimerEvent* event) {
    const auto it = m_timers.find(event->timerId());
    if (it != m_timers.end() && m_wnd->m_hWnd)
        m_wnd->SendMessage(WM_TIMER, it->second, 0);
}

bool WndBridge::eventFilter(QObject* watched, QEvent* event) {
    if (!m_widget || !m_wnd->m_hWnd)
        return false;
    if (event->type() == PostedMessageEvent::EventType()) {
        if (watched != m_widget.data())
            return false;
        const MSG& msg = static_cast<PostedMessageEvent*>(event)->msg;
        m_wnd->SendMessage(msg.message, msg.wParam, msg.lParam);
        return true;
    }
    if (!m_route)
        return false;
    return Translate(static_cast<QWidget*>(watched), event);
}

bool WndBridge::Translate(QWidget* source, QEvent* event) {
    QWidget* widget = m_widget;
    const bool fromViewport = source != widget;
    bool handled = false;
    const auto dispatch = [&](UINT message, WPARAM wParam, LPARAM lParam) {
        bool h = false;
        m_wnd->DispatchFromQt(message, wParam, lParam, &h);
        handled = handled || h;
    };
    const auto sendSize = [&] {
        UINT type = SIZE_RESTORED;
        if (widget->isWindow() && widget->isMinimized())
            type = SIZE_MINIMIZED;
        else if (widget->isWindow() && widget->isMaximized())
            type = SIZE_MAXIMIZED;
        const QSize size = type == SIZE_MINIMIZED ? QSize(0, 0) : widget->size();
        dispatch(WM_SIZE, type, MAKELPARAM(size.width(), size.height()));
    };

    switch (event->type()) {
    case QEvent::Resize:
        if (!fromViewport && !(widget->isWindow() && widget->isMinimized()))
            sendSize();
        return false;
    case QEvent::WindowStateChange:
        if (!fromViewport && widget->isWindow()) {
            const bool minimized = widget->isMinimized();
            if (minimized != m_wasMinimized) {
                m_wasMinimized = minimized;
                sendSize();
            }
        }
        return false;
    case QEvent::Move:
        if (!fromViewport)
            dispatch(WM_MOVE, 0, MAKELPARAM(widget->x(), widget->y()));
        return false;
    case QEvent::FocusIn:
        if (!fromViewport)
            dispatch(WM_SETFOCUS, 0, 0);
        return false;
    case QEvent::FocusOut: {
        if (!fromViewport) {
            QWidget* next = QApplication::focusWidget();
            dispatch(WM_KILLFOCUS, reinterpret_cast<WPARAM>(next ? WindowAt(next) : nullptr), 0);
        }
        return false;
    }
    case QEvent::Show:
    case QEvent::Hide:
        if (!fromViewport && !event->spontaneous())
            dispatch(WM_SHOWWINDOW, event->type() == QEvent::Show, 0);
        return false;
    case QEvent::Enter:
        if (!::GetCapture()) {
            cursorTarget() = widget;
            dispatch(WM_SETCURSOR, reinterpret_cast<WPARAM>(widget), MAKELPARAM(kHitClient, WM_MOUSEMOVE));
            cursorTarget() = nullptr;
        }
        return false;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const QPoint global = mouse->globalPosition().toPoint();
        const QPoint clamped = ClampToCursorClip(global);
        if (clamped != global && !isOffscreen())
            QCursor::setPos(clamped);
        const QPoint local = widget->mapFromGlobal(clamped);
        const UINT flags = MouseKeyFlags(mouse->buttons(), mouse->modifiers());
        const LPARAM where = MAKELPARAM(local.x(), local.y());
        UINT message = 0;
        const bool left = mouse->button() == Qt::LeftButton;
        const bool right = mouse->button() == Qt::RightButton;
        if (event->type() == QEvent::MouseMove)
            message = WM_MOUSEMOVE;
        else if (event->type() == QEvent::MouseButtonPress)
            message = left ? WM_LBUTTONDOWN : right ? WM_RBUTTONDOWN : 0;
        else if (event->type() == QEvent::MouseButtonRelease)
            message = left ? WM_LBUTTONUP : right ? WM_RBUTTONUP : 0;
        else
            message = left ? WM_LBUTTONDBLCLK : right ? WM_RBUTTONDOWN : 0;
        if (!message)
            return false;
        if (message == WM_MOUSEMOVE && !::GetCapture() && !mouse->buttons()) {
            cursorTarget() = widget;
            dispatch(WM_SETCURSOR, reinterpret_cast<WPARAM>(widget), MAKELPARAM(kHitClient, WM_MOUSEMOVE));
            handled = false;
        }
        cursorTarget() = widget;
        dispatch(message, flags, where);
        cursorTarget() = nullptr;
        return handled;
    }
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        if (fromViewport)
            return false;
        auto* key = static_cast<QKeyEvent*>(event);
        const UINT vk = VirtualKeyFromQt(key->key());
        if (!vk)
            return false;
        const UINT message = event->type() == QEvent::KeyPress ? WM_KEYDOWN : WM_KEYUP;
        dispatch(message, vk, MAKELPARAM(1, key->isAutoRepeat() ? 0x4000 : 0));
        return handled;
    }
    case QEvent::Close:
        if (fromViewport)
            return false;
        dispatch(WM_CLOSE, 0, 0);
        if (handled)
            event->ignore();
        return handled;
    case QEvent::ContextMenu: {
        auto* menu = static_cast<QContextMenuEvent*>(event);
        const QPoint global = menu->reason() == QContextMenuEvent::Mouse ? menu->globalPos() : QPoint(-1, -1);
        dispatch(WM_CONTEXTMENU, reinterpret_cast<WPARAM>(widget), MAKELPARAM(global.x(), global.y()));
        return handled;
    }
    default:
        return false;
    }
}

QPointer<QWidget>& CursorTarget() {
    return cursorTarget();
}

} // namespace orvo

BOOL ClipCursor(LPCRECT rect) {
    if (rect)
        orvo::cursorClip() = orvo::ToQRect(*rect);
    else
        orvo::cursorClip().reset();
    if (rect && !orvo::isOffscreen()) {
        const QPoint now = QCursor::pos();
        const QPoint held = orvo::ClampToCursorClip(now);
        if (held != now)
            QCursor::setPos(held);
    }
    return TRUE;
}

BOOL GetClipCursor(LPRECT rect) {
    if (!rect)
        return FALSE;
    const std::optional<QRect>& clip = orvo::cursorClip();
    *rect = clip ? orvo::FromQRect(*clip) : RECT{};
    return clip.has_value();
}

BOOL GetCursorPos(LPPOINT point) {
    if (!point)
        return FALSE;
    *point = orvo::FromQPoint(orvo::ClampToCursorClip(QCursor::pos()));
    return TRUE;
}
