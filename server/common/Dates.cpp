#include "server/common/Dates.h"

#include <cstdio>
#include <ctime>

namespace orvo::server {

// The civil-calendar conversions of Howard Hinnant's public-domain date algorithms.
long daysFromCivil(int year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const long era = (year >= 0 ? year : year - 399) / 400;
    const long yoe = year - era * 400;
    const long doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civilFromDays(long days, int& year, int& month, int& day) {
    days += 719468;
    const long era = (days >= 0 ? days : days - 146096) / 146097;
    const long doe = days - era * 146097;
    const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

int daysInMonth(int year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12)
        return 0;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

bool isDate(std::string_view text) {
    long days = 0;
    return parseDate(text, days);
}

bool parseDate(std::string_view text, long& days) {
    if (text.size() != 10 || text[4] != '.' || text[7] != '.')
        return false;
    int parts[3] = {0, 0, 0};
    const size_t starts[3] = {0, 5, 8}, lengths[3] = {4, 2, 2};
    for (int p = 0; p < 3; ++p)
        for (size_t i = 0; i < lengths[p]; ++i) {
            char c = text[starts[p] + i];
            if (c < '0' || c > '9')
                return false;
            parts[p] = parts[p] * 10 + (c - '0');
        }
    if (parts[0] < 1 || parts[1] < 1 || parts[1] > 12 || parts[2] < 1 ||
        parts[2] > daysInMonth(parts[0], parts[1]))
        return false;
    days = daysFromCivil(parts[0], parts[1], parts[2]);
    return true;
}

std::string formatDate(long days) {
    int y = 0, m = 0, d = 0;
    civilFromDays(days, y, m, d);
    char text[16];
    std::snprintf(text, sizeof text, "%04d.%02d.%02d", y % 10000, m, d);
    return text;
}

std::string localDate() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return formatDate(daysFromCivil(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday));
}

std::string localTimestamp() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y.%m.%d %H:%M:%S", &tm);
    return text;
}

} // namespace orvo::server
