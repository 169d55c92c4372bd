// Calendar dates as "YYYY.MM.DD" text and as day numbers, for the demo data and the business date.
#pragma once

#include <string>
#include <string_view>

namespace orvo::server {

// Days since 1970-01-01 of a proleptic Gregorian date.
long daysFromCivil(int year, int month, int day);
void civilFromDays(long days, int& year, int& month, int& day);

// Days in a month of the proleptic Gregorian calendar; 0 for a month outside 1..12.
int daysInMonth(int year, int month);

// "YYYY.MM.DD" <-> day number. parseDate returns false for text that is not such a date, including a
// day the month does not have (2026.02.30) and the year 0000.
bool isDate(std::string_view text);
bool parseDate(std::string_view text, long& days);
std::string formatDate(long days);

// Today's local date as "YYYY.MM.DD", and the local time as "YYYY.MM.DD HH:MM:SS".
std::string localDate();
std::string localTimestamp();

} // namespace orvo::server
