#include "platform/DateTimeCtrl.h"

#include "platform/DialogBuilder.h"
#include "platform/WndInternal.h"

#include <QDateTimeEdit>

namespace orvo {
namespace {

class DatePickerWidget : public QDateTimeEdit {
public:
    DatePickerWidget(QWidget* parent, DWORD style) : QDateTimeEdit(QDateTime::currentDateTime(), parent) {
        setCalendarPopup(true);
        // Win32's range of the control: 1601-01-01 to 9999-12-31.
        setDateTimeRange(QDateTime(QDate(1601, 1, 1), QTime(0, 0)),
                         QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59)));
        setDisplayFormat((style & DTS_LONGDATEFORMAT) ? QStringLiteral("yyyy'年'M'月'd'日'")
                                                      : QStringLiteral("yyyy-MM-dd"));
        setFocusPolicy((style & WS_TABSTOP) ? Qt::StrongFocus : Qt::ClickFocus);
        // The date reads from the left as on Win32; DTS_RIGHTALIGN places the drop-down calendar, which Qt
        // places by itself.
        setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        QObject::connect(this, &QDateTimeEdit::dateTimeChanged, this, [this] {
            if (!m_quiet)
                NotifyParentNm(this, DTN_DATETIMECHANGE);
        });
    }

    void SetQuietly(const QDateTime& value) {
        m_quiet = true;
        setDateTime(value);
        m_quiet = false;
    }

private:
    bool m_quiet = false;
};

DatePickerWidget* pickerOf(QWidget* widget) {
    return IsLayerWindow(widget) ? dynamic_cast<DatePickerWidget*>(widget) : nullptr;
}

bool pickerProc(QWidget* widget, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    DatePickerWidget* picker = dynamic_cast<DatePickerWidget*>(widget);
    if (!picker)
        return false;
    switch (message) {
    case DTM_GETSYSTEMTIME: {
        auto* time = reinterpret_cast<SYSTEMTIME*>(lParam);
        if (!time) {
            *result = static_cast<LRESULT>(GDT_ERROR);
            return true;
        }
        const QDateTime value = picker->dateTime();
        time->wYear = static_cast<WORD>(value.date().year());
        time->wMonth = static_cast<WORD>(value.date().month());
        time->wDay = static_cast<WORD>(value.date().day());
        time->wDayOfWeek = static_cast<WORD>(value.date().dayOfWeek() % 7);
        time->wHour = static_cast<WORD>(value.time().hour());
        time->wMinute = static_cast<WORD>(value.time().minute());
        time->wSecond = static_cast<WORD>(value.time().second());
        time->wMilliseconds = static_cast<WORD>(value.time().msec());
        *result = static_cast<LRESULT>(GDT_VALID);
        return true;
    }
    case DTM_SETSYSTEMTIME: {
        const auto* time = reinterpret_cast<const SYSTEMTIME*>(lParam);
        const QDate date = time ? QDate(time->wYear, time->wMonth, time->wDay) : QDate();
        const QTime clock =
            time ? QTime(time->wHour, time->wMinute, time->wSecond, time->wMilliseconds) : QTime();
        if (wParam != GDT_VALID || !date.isValid() || !clock.isValid() || date < picker->minimumDate() ||
            date > picker->maximumDate()) {
            *result = FALSE;
            return true;
        }
        picker->SetQuietly(QDateTime(date, clock));
        *result = TRUE;
        return true;
    }
    default:
        return false;
    }
}

WindowClass pickerClass() {
    WindowClass wc;
    wc.kind = "date";
    wc.create = [](QWidget* parent, const WindowCreateParams& params) -> QWidget* {
        return new DatePickerWidget(parent, params.style);
    };
    wc.proc = pickerProc;
    return wc;
}

[[maybe_unused]] const bool registered = [] {
    RegisterWindowClass(wc::kDateTimePicker, pickerClass());
    return true;
}();

} // namespace

bool ReadPickerDate(HWND hWnd, int& year, int& month, int& day) {
    const DatePickerWidget* picker = pickerOf(hWnd);
    if (!picker)
        return false;
    const QDate date = picker->date();
    year = date.year();
    month = date.month();
    day = date.day();
    return true;
}

bool SetPickerDateAsUser(HWND hWnd, int year, int month, int day) {
    DatePickerWidget* picker = pickerOf(hWnd);
    const QDate date(year, month, day);
    if (!picker || !picker->isEnabled() || !date.isValid() || date < picker->minimumDate() ||
        date > picker->maximumDate())
        return false;
    picker->setDate(date); // notifies when the date changes, as a user's change does
    return true;
}

} // namespace orvo

DWORD CDateTimeCtrl::GetTime(CTime& time) {
    if (!m_hWnd)
        return GDT_ERROR;
    SYSTEMTIME value;
    const auto status = GetTime(&value);
    if (status != GDT_VALID)
        return status;
    time = CTime(value.wYear, value.wMonth, value.wDay, value.wHour, value.wMinute, value.wSecond);
    return GDT_VALID;
}

BOOL CDateTimeCtrl::SetTime(const CTime& time) {
    SYSTEMTIME value;
    value.wYear = static_cast<WORD>(time.GetYear());
    value.wMonth = static_cast<WORD>(time.GetMonth());
    value.wDay = static_cast<WORD>(time.GetDay());
    value.wHour = static_cast<WORD>(time.GetHour());
    value.wMinute = static_cast<WORD>(time.GetMinute());
    value.wSecond = static_cast<WORD>(time.GetSecond());
    return SetTime(&value);
}
