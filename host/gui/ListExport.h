// A record-bound list written to a file as the user sees it: the lines shown in their order, the columns
// shown in their screen order. CSV (GBK or UTF-8) and Excel workbooks (.xlsx, through libxlsxwriter).
// In a workbook, customer numbers and other codes stay text (their leading zeros with them); integer and
// real columns, and text columns of prices, are numbers shown with the decimals each cell has; a price
// with a comparison before it ("<14525.00") is the number with the comparison in its number format; dates
// and times are Excel dates and times.
#pragma once

#include "host/gui/ListText.h"

#include <functional>
#include <string>
#include <vector>

class CMemRecord;

namespace orvo {

struct XlsxColumn {
    int field = 0;    // layout column
    int widthPx = 80; // as shown
};
using XlsxColumns = std::vector<XlsxColumn>;

// Told the rows written so far out of all, every few thousand rows; false stops the export, which then
// fails with kExportCancelled and leaves an existing file as it was.
using ExportProgress = std::function<bool(long done, long total)>;
inline constexpr const char* kExportCancelled = "export cancelled";
// Rows between two progress calls.
inline constexpr long kExportProgressRows = 4096;

bool IsXlsxPath(const std::string& pathUtf8);

// One sheet: a bold, frozen header row with an autofilter, then the given record rows in that order.
// False with a reason.
bool WriteXlsxFile(const CMemRecord& record, const std::vector<long>& rows, const XlsxColumns& columns,
                   const std::string& pathUtf8, std::string* error, const ExportProgress& progress = {});

// The header and the given record rows, the cells of `columns` (layout columns) in that order, quoted as
// CsvRow quotes them. The file is replaced in one step; false with a reason.
bool WriteCsvColumns(const CMemRecord& record, const std::vector<long>& rows, const std::vector<int>& columns,
                     CsvEncoding encoding, const std::string& pathUtf8, std::string* error,
                     const ExportProgress& progress = {});

} // namespace orvo
