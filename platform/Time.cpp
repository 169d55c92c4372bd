#include "platform/Time.h"

#include <string>

CTime::CTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    parts.tm_isdst = -1;
    const std::time_t time = std::mktime(&parts);
    m_time = time == static_cast<std::time_t>(-1) ? 0 : time;
}

CTime CTime::GetCurrentTime() {
    return CTime(std::time(nullptr));
}

std::tm CTime::local() const {
    std::tm parts{};
    localtime_r(&m_time, &parts);
    return parts;
}

int CTime::GetYear() const {
    return local().tm_year + 1900;
}
int CTime::GetMonth() const {
    return local().tm_mon + 1;
}
int CTime::GetDay() const {
    return local().tm_mday;
}
int CTime::GetHour() const {
    return local().tm_hour;
}
int CTime::GetMinute() const {
    return local().tm_min;
}
int CTime::GetSecond() const {
    return local().tm_sec;
}
int CTime::GetDayOfWeek() const {
    return local().tm_wday + 1;
}

CString CTime::Format(LPCTSTR format) const {
    if (!format || !*format)
        return CString();
    const std::tm parts = local();
    // strftime gives 0 both for "no room" and for an empty result; grow a few times, then give up.
    std::string buffer(64 + 4 * std::char_traits<char>::length(format), '\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        const std::size_t written = std::strftime(buffer.data(), buffer.size(), format, &parts);
#pragma GCC diagnostic pop
        if (written > 0) {
            buffer.resize(written);
            return CString(std::move(buffer));
        }
        buffer.resize(buffer.size() * 4);
    }
    return CString();
}
