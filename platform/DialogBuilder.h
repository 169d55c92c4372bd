// Window classes and dialog building. A window class makes the QWidget of a control, answers the
// class's own messages (TCM_*, CB_*, ...) and turns the widget's signals into notifications to the parent,
// as a Win32 window class does. Dialog templates become widgets in pixels from dialog units.
#pragma once

#include "platform/Messages.h"
#include "platform/Resources.h"

#include <QFont>

#include <functional>
#include <string>
#include <string_view>

namespace orvo {

struct WindowCreateParams {
    CString text; // GBK
    DWORD style = 0;
    int id = 0;
};

struct WindowClass {
    // Kind shown to tools: "tab", "list", "static", "button", "combo", "edit", "date", ...
    std::string kind;
    // Makes the widget as a child of parent (geometry and the common properties are set afterwards).
    std::function<QWidget*(QWidget* parent, const WindowCreateParams& params)> create;
    // The class's own messages; false when the class does not handle the message.
    std::function<bool(QWidget* widget, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)> proc;
    // The style bits changed through SetWindowLong / ModifyStyle.
    std::function<void(QWidget* widget, DWORD oldStyle, DWORD newStyle)> styleChanged;
};

// Registers (or replaces) a class; names compare without regard to case, as Win32 class names do.
void RegisterWindowClass(const std::string& name, WindowClass windowClass);
const WindowClass* FindWindowClass(std::string_view name);

// Makes a widget of a registered class with the layer's properties (orvoId, orvoClass, orvoKind, orvoStyle);
// null for an unknown class. rect is in pixels of the parent's client area.
QWidget* CreateWindowOfClass(std::string_view className, const WindowCreateParams& params, const QRect& rect,
                             QWidget* parent);

// The Win32 parent of a window: the nearest ancestor that is a window of the layer; null for top-level
// windows. Notifications go there.
QWidget* ParentWindowOf(QWidget* widget);
// The nearest window of the layer at or above a widget (a control's internal Qt children map to it).
QWidget* WindowAt(QWidget* widget);
// Sends WM_COMMAND (code, the control's ID, its handle) to the control's parent.
void NotifyParent(QWidget* control, UINT code);
// Sends WM_NOTIFY with a bare NMHDR to the control's parent; returns the parent's result.
LRESULT NotifyParentNm(QWidget* control, UINT code);

// The dialog font of a template: its face (a CJK font stands in for a face the system lacks) and points.
QFont DialogFont(const DialogTemplate& dialogTemplate);
QFont FontFromFace(const CString& faceGbk, int pointSize);

// Dialog base units of a font, as Win32 derives them: x from the average width of the 52 Latin letters,
// y from the font's height.
struct DialogBaseUnits {
    int x = 0;
    int y = 0;
};
DialogBaseUnits BaseUnitsOf(const QFont& font);
// Dialog units to pixels (MulDiv rounding, as MapDialogRect).
QRect DialogRectToPixels(int x, int y, int cx, int cy, DialogBaseUnits units);

// The top-level widget of a dialog, sized to the template's client size, with its title and font; no
// controls yet (WM_CREATE comes between the two steps).
QWidget* CreateDialogWindow(const DialogTemplate& dialogTemplate, QWidget* parent);
// The template's controls, in template order (which is the tab order). Unknown classes become statics.
void CreateDialogControls(const DialogTemplate& dialogTemplate, QWidget* dialog);

} // namespace orvo

namespace orvo {
// True while a widget made by the layer (a control or a dialog) exists; safe on dangling pointers.
bool IsLayerWindow(const QWidget* widget);
} // namespace orvo
