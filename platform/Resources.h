// Dialog templates as plain data and the registry through which a loaded library offers them: a library
// registers its templates when it loads and withdraws them when it unloads; creating a dialog looks a
// template up by ID through the chain, the latest registration first.
#pragma once

#include "platform/CString.h"

#include <optional>
#include <string>
#include <vector>

// Window styles (Win32 values) as dialog templates carry them.
constexpr DWORD WS_POPUP = 0x80000000u;
constexpr DWORD WS_CHILD = 0x40000000u;
constexpr DWORD WS_VISIBLE = 0x10000000u;
constexpr DWORD WS_DISABLED = 0x08000000u;
constexpr DWORD WS_CAPTION = 0x00C00000u;
constexpr DWORD WS_BORDER = 0x00800000u;
constexpr DWORD WS_VSCROLL = 0x00200000u;
constexpr DWORD WS_HSCROLL = 0x00100000u;
constexpr DWORD WS_SYSMENU = 0x00080000u;
constexpr DWORD WS_THICKFRAME = 0x00040000u;
constexpr DWORD WS_GROUP = 0x00020000u;
constexpr DWORD WS_TABSTOP = 0x00010000u;
constexpr DWORD WS_MINIMIZEBOX = 0x00020000u; // shares its bit with WS_GROUP, as in Win32 (top-level only)
constexpr DWORD WS_MAXIMIZEBOX = 0x00010000u; // shares its bit with WS_TABSTOP (top-level only)
constexpr DWORD DS_MODALFRAME = 0x00000080u;
constexpr DWORD DS_SETFONT = 0x00000040u;

constexpr DWORD BS_PUSHBUTTON = 0x0000u;
constexpr DWORD BS_DEFPUSHBUTTON = 0x0001u;
constexpr DWORD SS_LEFT = 0x0000u;
constexpr DWORD SS_CENTERIMAGE = 0x0200u;
constexpr DWORD ES_AUTOHSCROLL = 0x0080u;
constexpr DWORD CBS_DROPDOWN = 0x0002u;
constexpr DWORD CBS_DROPDOWNLIST = 0x0003u;
constexpr DWORD CBS_SORT = 0x0100u;
constexpr DWORD TCS_FOCUSONBUTTONDOWN = 0x1000u;
constexpr DWORD DTS_LONGDATEFORMAT = 0x0004u;
constexpr DWORD DTS_RIGHTALIGN = 0x0020u;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDC_STATIC = -1;

// Window class names of the controls a template may hold.
namespace orvo::wc {
inline constexpr const char* kTab = "SysTabControl32";
inline constexpr const char* kListView = "SysListView32";
inline constexpr const char* kStatic = "Static";
inline constexpr const char* kButton = "Button";
inline constexpr const char* kComboBox = "ComboBox";
inline constexpr const char* kEdit = "Edit";
inline constexpr const char* kDateTimePicker = "SysDateTimePick32";
} // namespace orvo::wc

struct DialogControlTemplate {
    int id = IDC_STATIC;
    std::string className; // one of orvo::wc
    CString text;          // GBK
    DWORD style = 0;
    int x = 0, y = 0, cx = 0, cy = 0; // dialog units
};

struct DialogTemplate {
    UINT id = 0;
    DWORD style = 0;
    CString caption;  // GBK
    CString fontFace; // GBK
    int fontPointSize = 9;
    int x = 0, y = 0, cx = 0, cy = 0;            // dialog units
    std::vector<DialogControlTemplate> controls; // template order, which is also the tab order

    const DialogControlTemplate* FindControl(int controlId) const;
};

namespace orvo {

// Adds a library's templates to the front of the chain; owner is any address unique to the library (its
// registration is withdrawn by that address). Registering the same owner again replaces its templates.
void RegisterDialogTemplates(const void* owner, std::vector<DialogTemplate> templates);
void UnregisterDialogTemplates(const void* owner);

// The template with that ID from the latest registration that has one; a copy, so it stays valid after the
// owning library unloads.
std::optional<DialogTemplate> FindDialogTemplate(UINT id);

// How many libraries have templates registered (for diagnostics and tests).
int RegisteredTemplateOwners();

} // namespace orvo
