// A record-bound list written as an Excel workbook (.xlsx, through libxlsxwriter): the lines as shown, the
// columns as shown. Customer numbers and other codes stay text (their leading zeros with them); integer
// and real columns, and text columns of prices that hold a number, are numbers with the column's decimals.
#pragma once

#include <string>
#include <vector>

class CMemRecord;

namespace orvo {

struct XlsxColumn {
    int field = 0;    // layout column
    int widthPx = 80; // as shown
};
using XlsxColumns = std::vector<XlsxColumn>;

bool IsXlsxPath(const std::string& pathUtf8);

// One sheet: a bold, frozen header row, then the given record rows in that order. False with a reason.
bool WriteXlsxFile(const CMemRecord& record, const std::vector<long>& rows, const XlsxColumns& columns,
                   const std::string& pathUtf8, std::string* error);

} // namespace orvo
