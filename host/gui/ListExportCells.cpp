#include "host/gui/ListExportCells.h"

#include <algorithm>

namespace orvo {
namespace {

bool digits(std::string_view text, std::size_t from, std::size_t count, int& value) {
    if (from + count > text.size())
        return false;
    value = 0;
    for (std::size_t i = from; i < from + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// Days from 1970-01-01 of a proleptic Gregorian date.
long daysFromCivil(int y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const long yoe = y - era * 400;
    const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

bool parseDate(std::string_view text, SheetDateTime& out) {
    int y = 0, m = 0, d = 0;
    const char separator = text.size() == 10 ? text[4] : '\0';
    if ((separator != '.' && separator != '-' && separator != '/') || text[7] != separator ||
        !digits(text, 0, 4, y) || !digits(text, 5, 2, m) || !digits(text, 8, 2, d))
        return false;
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    // Excel's serial days hold from 1900-03-01 (before it, its calendar counts a 29 February 1900).
    if (y < 1901 || y > 9999 || m < 1 || m > 12 || d < 1 || d > kDays[m - 1] || (m == 2 && d == 29 && !leap))
        return false;
    constexpr long kExcelEpochFrom1970 = 25569; // 1970-01-01 is Excel day 25569
    out.serial = static_cast<double>(daysFromCivil(y, m, d) + kExcelEpochFrom1970);
    out.separator = separator;
    out.hasDate = true;
    return true;
}

bool parseTime(std::string_view text, SheetDateTime& out) {
    int h = 0, m = 0, s = 0;
    if ((text.size() != 5 && text.size() != 8) || text[2] != ':' || !digits(text, 0, 2, h) ||
        !digits(text, 3, 2, m))
        return false;
    if (text.size() == 8 && (text[5] != ':' || !digits(text, 6, 2, s)))
        return false;
    if (h > 23 || m > 59 || s > 59)
        return false;
    out.serial += (h * 3600.0 + m * 60.0 + s) / 86400.0;
    out.hasTime = true;
    out.seconds = text.size() == 8;
    return true;
}

} // namespace

bool ParseSheetDateTime(std::string_view text, SheetDateTime& out) {
    SheetDateTime parsed;
    if (text.size() >= 16 && text[10] == ' ') {
        if (!parseDate(text.substr(0, 10), parsed) || !parseTime(text.substr(11), parsed))
            return false;
    } else if (!parseDate(text, parsed) && !parseTime(text, parsed)) {
        return false;
    }
    out = parsed;
    return true;
}

int DecimalsOf(std::string_view number) {
    const std::size_t point = number.find('.');
    if (point == std::string_view::npos)
        return 0;
    const std::size_t end = number.find_first_not_of("0123456789", point + 1);
    const std::size_t count = (end == std::string_view::npos ? number.size() : end) - point - 1;
    return static_cast<int>(std::min<std::size_t>(count, 15));
}

} // namespace orvo
