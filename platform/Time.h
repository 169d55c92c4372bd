// CTime: a point in time in whole seconds, shown in local time as the framework's CTime does.
#pragma once

#include "platform/CString.h"

#include <ctime>

class CTime {
public:
    CTime() = default; // 0: the epoch
    explicit CTime(std::time_t time) : m_time(time) {}
    // Local date and time; out-of-range parts are normalised as mktime does.
    CTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

    static CTime GetCurrentTime();

    std::time_t GetTime() const { return m_time; }
    int GetYear() const;
    int GetMonth() const; // 1..12
    int GetDay() const;   // 1..31
    int GetHour() const;
    int GetMinute() const;
    int GetSecond() const;
    int GetDayOfWeek() const; // 1 = Sunday .. 7 = Saturday

    // strftime codes, e.g. "%Y.%m.%d"; text outside the codes is kept byte for byte.
    CString Format(LPCTSTR format) const;

    friend bool operator==(const CTime& a, const CTime& b) { return a.m_time == b.m_time; }
    friend bool operator!=(const CTime& a, const CTime& b) { return a.m_time != b.m_time; }
    friend bool operator<(const CTime& a, const CTime& b) { return a.m_time < b.m_time; }
    friend bool operator<=(const CTime& a, const CTime& b) { return a.m_time <= b.m_time; }
    friend bool operator>(const CTime& a, const CTime& b) { return a.m_time > b.m_time; }
    friend bool operator>=(const CTime& a, const CTime& b) { return a.m_time >= b.m_time; }

private:
    std::tm local() const;
    std::time_t m_time = 0;
};
