// How a workbook writes one text cell of a list: the text forms a spreadsheet can sort and compute with
// (dates, times, numbers with the decimals they were written with) read back from the cell's text.
#pragma once

#include <string_view>

namespace orvo {

// "2025.01.31", "2025-01-31" or "2025/01/31"; "09:30:00" or "09:30"; a date, a blank and a time. `serial` is
// the Excel serial day (its fraction the time of day; a bare time is the fraction alone), `separator` the
// date's separator ('\0' for a bare time) and `seconds` whether the time shows them.
struct SheetDateTime {
    double serial = 0;
    char separator = '\0';
    bool hasDate = false;
    bool hasTime = false;
    bool seconds = false;
};
bool ParseSheetDateTime(std::string_view text, SheetDateTime& out);

// Digits after the point in a number's text ("5804.1234": 4), at most 15.
int DecimalsOf(std::string_view number);

} // namespace orvo
