#include "client/automation/SyntheticInput.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QWidget>

namespace automation {
namespace {

// A release and the next press further apart than any double-click interval, so that two scripted
// clicks never read as a double click to a control comparing time stamps.
constexpr quint64 kClickSeparationMs = 500;

// One key event; a press goes through QApplication::notify, which offers a synthesized press as a
// shortcut before the widget sees it, as the window system's key would be.
void sendKey(QWidget* target, QEvent::Type type, int key, Qt::KeyboardModifiers modifiers,
             const QString& text = QString()) {
    QKeyEvent event(type, key, modifiers, text);
    QCoreApplication::sendEvent(target, &event);
}

// The modifier keys go down one after another, each seen with those already held.
void pressModifiers(QWidget* target, Qt::KeyboardModifiers modifiers) {
    if (modifiers & Qt::ShiftModifier)
        sendKey(target, QEvent::KeyPress, Qt::Key_Shift, Qt::NoModifier);
    if (modifiers & Qt::ControlModifier)
        sendKey(target, QEvent::KeyPress, Qt::Key_Control, modifiers & Qt::ShiftModifier);
    if (modifiers & Qt::AltModifier)
        sendKey(target, QEvent::KeyPress, Qt::Key_Alt, modifiers & (Qt::ShiftModifier | Qt::ControlModifier));
}

void releaseModifiers(QWidget* target, Qt::KeyboardModifiers modifiers) {
    if (modifiers & Qt::AltModifier)
        sendKey(target, QEvent::KeyRelease, Qt::Key_Alt,
                modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier));
    if (modifiers & Qt::ControlModifier)
        sendKey(target, QEvent::KeyRelease, Qt::Key_Control,
                modifiers & (Qt::ShiftModifier | Qt::ControlModifier));
    if (modifiers & Qt::ShiftModifier)
        sendKey(target, QEvent::KeyRelease, Qt::Key_Shift, modifiers & Qt::ShiftModifier);
}

// Whether a click focuses w: its policy, and that of the widget it hands its focus to, take clicks.
bool takesClickFocus(const QWidget* w) {
    const QWidget* proxy = w;
    while (proxy->focusProxy())
        proxy = proxy->focusProxy();
    return (w->focusPolicy() & Qt::ClickFocus) == Qt::ClickFocus &&
           (proxy->focusPolicy() & Qt::ClickFocus) == Qt::ClickFocus;
}

// A press gives the focus to the innermost enabled widget under it that takes it on a click; a
// click inside the control that has the focus leaves it there.
void focusAsClick(QWidget* widget, QPoint pos) {
    for (QWidget* w = widget; w; w = w->parentWidget()) {
        if (w->isEnabled() && w->rect().contains(pos) && takesClickFocus(w)) {
            w->setFocus(Qt::MouseFocusReason);
            return;
        }
        if (w->isWindow())
            return;
        const QWidget* holder = w->focusProxy() ? w->focusProxy() : w;
        if (holder->hasFocus())
            return;
        pos += w->pos();
    }
}

} // namespace

void SendKeyClick(QWidget* target, Qt::Key key, const QString& text, Qt::KeyboardModifiers modifiers) {
    QPointer<QWidget> guard(target);
    pressModifiers(target, modifiers);
    if (guard)
        sendKey(target, QEvent::KeyPress, key, modifiers, text);
    // Return in an editor may close, and delete, the control that took it.
    if (!guard)
        return;
    sendKey(target, QEvent::KeyRelease, key, modifiers, text);
    if (guard)
        releaseModifiers(target, modifiers);
}

QString TextOfKey(Qt::Key key) {
    switch (key) {
    case Qt::Key_Backspace:
        return QStringLiteral("\b");
    case Qt::Key_Tab:
        return QStringLiteral("\t");
    case Qt::Key_Backtab:
        return QStringLiteral("\v");
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return QStringLiteral("\r");
    case Qt::Key_Escape:
        return QStringLiteral("\x1b");
    default:
        break;
    }
    if (key >= Qt::Key_Space && key <= Qt::Key_AsciiTilde) {
        const char c = static_cast<char>(key);
        return QString(QChar::fromLatin1(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c));
    }
    return QString(); // Delete, the arrows, the function keys
}

Qt::Key KeyOfCharacter(char c) {
    if (c >= 'a' && c <= 'z')
        return static_cast<Qt::Key>(Qt::Key_A + (c - 'a'));
    return static_cast<Qt::Key>(static_cast<unsigned char>(c)); // Qt's keys of ASCII are their codes
}

void SendMouse(QWidget* widget, QEvent::Type type, const QPoint& pos) {
    static Qt::MouseButtons held;
    static quint64 timestamp = 0;
    ++timestamp;
    if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick)
        held |= Qt::LeftButton;
    else if (type == QEvent::MouseButtonRelease)
        held &= ~Qt::MouseButtons(Qt::LeftButton);
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, pos, widget->mapToGlobal(pos), button, held, Qt::NoModifier);
    event.setTimestamp(timestamp);
    if (type == QEvent::MouseButtonRelease)
        timestamp += kClickSeparationMs;

    QPointer<QWidget> guard(widget);
    if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick)
        focusAsClick(widget, pos);
    if (guard)
        QCoreApplication::sendEvent(widget, &event);
}

} // namespace automation
