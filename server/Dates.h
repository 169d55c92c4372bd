// Calendar dates as "YYYY.MM.DD" text and as day numbers, for the demo data and the business date.
#pragma once

#include <string>
#include <string_view>

namespace orvo::server {

// Days since 1970-01-01 of a proleptic Gregorian date.
long daysFromCivil(int year, int month, int day);
void civilFromDays(long days, int& year, int& month, int& day);

// "YYYY.MM.DD" <-> day number. parseDate returns false for text that is not such a date.
bool parseDate(std::string_view text, long& days);
std::string formatDate(long days);

// Today's local date as "YYYY.MM.DD".
std::string localDate();

} // namespace orvo::server
