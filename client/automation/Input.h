// A user's input made of real Qt events, delivered through the application as the window system's would
// be (application and widget event filters first, so the modal loop's message hooks and the controls'
// own handlers see them).
#pragma once

#include <string>

class QPoint;
class QWidget;

namespace automation {

// KEY as ParseKeyChord reads it: modifiers, then a name (F1..F12, Enter, Escape, Tab, arrows, Home, End,
// PageUp, PageDown, Backspace, Space, Delete) or one character. target null: the focused widget. An open
// drop-down list takes the key whatever the target, as it takes the keyboard's.
bool PressKey(QWidget* target, const std::string& key, std::string& error);
// Focuses the control and types the text a character at a time.
void TypeText(QWidget* control, const std::string& utf8);
// Focuses the control, selects everything in it and deletes it.
void ClearText(QWidget* control);
void FocusControl(QWidget* control);

void Click(QWidget* widget, const QPoint& pos);
void ClickCenter(QWidget* widget);
void DoubleClick(QWidget* widget, const QPoint& pos);
// Press the left button in the middle of the widget, move dy pixels vertically in small steps, release.
void Drag(QWidget* widget, int dy);

// Clicks (or double-clicks) row `row` of a list, scrolling it into view first.
bool ClickListRow(QWidget* list, int row, bool twice, std::string& error);
// Clicks header section `section` (a column of the list's layout) of a list.
bool ClickHeader(QWidget* list, int section, std::string& error);
// Clicks tab `index` of a tab control.
bool ClickTab(QWidget* tabControl, int index, std::string& error);

} // namespace automation
