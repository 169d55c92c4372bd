// Keyboard and mouse events built by hand and delivered to a widget as the window system's would be:
// a key press is offered as a shortcut first, modifier keys go down before the key and up after it, and
// a mouse press gives the focus to the control under it. The shipped client needs no test library.
#pragma once

#include <QEvent>
#include <QPoint>
#include <QString>

class QWidget;

namespace automation {

// A key pressed and released on target, producing text (empty for keys that produce none).
void SendKeyClick(QWidget* target, Qt::Key key, const QString& text, Qt::KeyboardModifiers modifiers);

// The text a key produces without modifiers ("\r" for Return, "a" for A, none for F1 or the arrows).
QString TextOfKey(Qt::Key key);

// A printable ASCII character's key ('a' and 'A': Qt::Key_A).
Qt::Key KeyOfCharacter(char c);

// The left button: MouseButtonPress, MouseButtonRelease, MouseButtonDblClick, or MouseMove while it is
// held; pos in the widget's coordinates.
void SendMouse(QWidget* widget, QEvent::Type type, const QPoint& pos);

} // namespace automation
