// CDateTimeCtrl and the "SysDateTimePick32" window class: a date picker with a drop-down calendar. The
// long date format (DTS_LONGDATEFORMAT) shows the date as "2026年12月7日"; otherwise "2026-12-07". The
// picker holds a date and a time of day (the moment it was made, until set); DTM_SETSYSTEMTIME does not
// notify, a user's change sends WM_NOTIFY DTN_DATETIMECHANGE to the parent.
#pragma once

#include "platform/Time.h"
#include "platform/Wnd.h"

struct SYSTEMTIME {
    WORD wYear = 0;
    WORD wMonth = 0;
    WORD wDayOfWeek = 0; // 0 = Sunday
    WORD wDay = 0;
    WORD wHour = 0;
    WORD wMinute = 0;
    WORD wSecond = 0;
    WORD wMilliseconds = 0;
};

constexpr UINT DTM_FIRST = 0x1000;
constexpr UINT DTM_GETSYSTEMTIME = DTM_FIRST + 1; // (0, SYSTEMTIME*) -> GDT_VALID
constexpr UINT DTM_SETSYSTEMTIME = DTM_FIRST + 2; // (GDT_VALID, const SYSTEMTIME*) -> TRUE / FALSE
constexpr UINT DTN_FIRST = 0u - 740u;
constexpr UINT DTN_DATETIMECHANGE = DTN_FIRST - 19; // -759, as Win32
constexpr DWORD GDT_VALID = 0;
constexpr DWORD GDT_NONE = 1;
constexpr DWORD GDT_ERROR = 0xFFFFFFFFu;
constexpr DWORD DTS_SHORTDATEFORMAT = 0x0000u;

class CDateTimeCtrl : public CWnd {
public:
    using CWnd::Create;
    BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
        return CWnd::Create(orvo::wc::kDateTimePicker, "", style, rect, parent, id);
    }

    DWORD GetTime(SYSTEMTIME* time) {
        return static_cast<DWORD>(SendMessage(DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(time)));
    }
    // The picker's date and time as local time; GDT_ERROR without a window.
    DWORD GetTime(CTime& time);
    BOOL SetTime(const SYSTEMTIME* time) {
        return static_cast<BOOL>(SendMessage(DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(time)));
    }
    BOOL SetTime(const CTime& time);
};

namespace orvo {

// The date a picker shows, for tools: false when the window is not a picker of the layer.
bool ReadPickerDate(HWND picker, int& year, int& month, int& day);
// Sets the date as a user does: the parent receives DTN_DATETIMECHANGE when the date changes. False when
// the window is not a picker, is disabled, or the date is not a valid one.
bool SetPickerDateAsUser(HWND picker, int year, int month, int day);

} // namespace orvo
