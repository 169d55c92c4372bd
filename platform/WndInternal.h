// Plumbing shared by the window layer's sources: the posted-message event, the widget properties and the
// bridge that turns a widget's Qt events into messages for its CWnd.
#pragma once

#include "platform/Wnd.h"

#include <QEvent>
#include <QObject>
#include <QPointer>

#include <unordered_map>

namespace orvo {

inline constexpr const char* kPropId = "orvoId";
inline constexpr const char* kPropClass = "orvoClass";
inline constexpr const char* kPropKind = "orvoKind";
inline constexpr const char* kPropStyle = "orvoStyle";

// A message queued by PostMessage.
class PostedMessageEvent : public QEvent {
public:
    PostedMessageEvent(UINT message, WPARAM wParam, LPARAM lParam);
    static QEvent::Type EventType();
    MSG msg;
};

// Routes the Qt events of one widget (and of a scroll area's viewport) to its CWnd.
class WndBridge : public QObject {
public:
    WndBridge(CWnd* wnd, QWidget* widget);
    ~WndBridge() override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void Route(bool on) { m_route = on; }
    int StartTimer(UINT_PTR eventId, int ms);
    bool StopTimer(UINT_PTR eventId);

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    bool Translate(QWidget* widget, QEvent* event);
    CWnd* m_wnd;
    QPointer<QWidget> m_widget;
    QPointer<QWidget> m_viewport;
    bool m_route = false;
    bool m_wasMinimized = false;
    std::unordered_map<int, UINT_PTR> m_timers; // Qt timer id -> event id
};

// Virtual-key code of a Qt key (0 when it has none) and back.
UINT VirtualKeyFromQt(int qtKey);
int QtKeyFromVirtualKey(UINT vk);
// Mouse key flags of the current buttons and modifiers.
UINT MouseKeyFlags(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers);
// A global position held inside the ClipCursor rectangle.
QPoint ClampToCursorClip(QPoint global);

} // namespace orvo

namespace orvo {
// The widget holding the mouse capture that SetCapture gave it, if any.
QPointer<QWidget>& CaptureHolder();
// A widget's window text as GetWindowText reads it, and setting it as SetWindowText does.
QString WidgetText(QWidget* w);
void SetWidgetText(QWidget* w, const QString& text);
// The widget whose cursor SetCursor changes while a WM_SETCURSOR or mouse message is being handled.
QPointer<QWidget>& CursorTarget();
} // namespace orvo
