// Finding the windows and controls a script names. Windows of the window layer carry their control ID
// in the widget property "orvoId" and their kind in "orvoKind"; the rule lists, made at run time with
// control ID 0, are named L0..L5 in the order they were created (the tab order of their kinds).
#pragma once

#include <string>
#include <vector>

class QWidget;

namespace automation {

// The window a user's input goes to: the innermost modal window, else the active window.
QWidget* ActiveWindow();
// Visible top-level windows: the module's windows in the order they were opened, the host's last.
std::vector<QWidget*> VisibleTopLevelWindows();
bool IsLayerWindow(const QWidget* widget);
int WindowId(const QWidget* window); // the template ID, 0 for the host's own windows
std::string Kind(const QWidget* widget);

// The controls of a window, in creation order (the template's tab order first).
std::vector<QWidget*> ControlsOf(QWidget* window);
// "9008", or "L0".."L5" for a rule list.
std::string ControlRef(QWidget* window, QWidget* control);
// Null when the window has no such control.
QWidget* FindControl(QWidget* window, const std::string& ref);
// "9001 查询条件" for messages.
std::string DescribeWindow(const QWidget* window);

} // namespace automation
