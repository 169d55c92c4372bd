// The text forms of a record-bound list: the rows for the clipboard (tab-separated) and the list as CSV.
// Both take the columns the user sees, in layout order, cell text as the record set gives it.
#pragma once

#include "platform/CString.h"

#include <string>
#include <vector>

class CMemRecord;
enum class FieldType : unsigned char;

namespace orvo {

enum class CsvEncoding { Gbk, Utf8WithBom };

// Rows joined by "\n", cells by tabs; tabs and line breaks inside a cell become blanks. GBK.
CString RowsAsTabText(const CMemRecord& record, const std::vector<long>& rows, int columnCount);
// The same over the given columns in that order (a list's columns as shown), the captions first when
// withHeader.
CString RowsAsTabText(const CMemRecord& record, const std::vector<long>& rows,
                      const std::vector<int>& columns, bool withHeader);

// Header line and every row, RFC 4180 quoting, CRLF line ends. A text cell that a spreadsheet would run as
// a formula (starting with =, +, -, @ and not a number) is written with a leading apostrophe.
std::string CsvHeader(const CMemRecord& record, int columnCount, CsvEncoding encoding);
std::string CsvRow(const CMemRecord& record, long row, int columnCount, CsvEncoding encoding);
std::string CsvDocument(const CMemRecord& record, int columnCount, CsvEncoding encoding);
// One cell (or header name, as FieldType::Integer: never apostrophed) as CsvRow writes it.
std::string CsvField(const CString& gbk, FieldType type, CsvEncoding encoding);

// Writes the CSV to a file in one step (the old file stays whole if writing fails); false with a reason.
bool WriteCsvFile(const CMemRecord& record, int columnCount, CsvEncoding encoding,
                  const std::string& pathUtf8, std::string* error);
// The same with the given record rows, in that order (a list's lines after its sort and filter).
bool WriteCsvFile(const CMemRecord& record, const std::vector<long>& rows, int columnCount,
                  CsvEncoding encoding, const std::string& pathUtf8, std::string* error);

// How many leading columns a list shows: those before the trailing group that starts at "color".
int VisibleColumnCount(const CMemRecord& record);

} // namespace orvo
