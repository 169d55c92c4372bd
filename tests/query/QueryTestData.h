// Shared helpers of the query tests: UTF-8 <-> GBK at the test's edge, record sets from literal rows, the
// code tables of a small but real data dictionary, and the host objects wired into the module's globals.
#pragma once

#include "host/dbm/MemRecord.h"
#include "host/stock/DataDictionary.h"
#include "platform/Collections.h"

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace querytest {

std::string Gbk(const std::string& utf8);
std::string Utf8(const CString& gbk);

// Column of the current row (or of row `row`) as UTF-8.
std::string Col(const CMemRecord& rec, const char* columnUtf8, int row = -1);

// A record set from a UTF-8 layout and rows of UTF-8 texts in layout order.
CMemRecord MakeTable(const char* layoutUtf8, std::initializer_list<std::vector<std::string>> rows);

// The dictionary and table map the translation reads; install() points g_pDictionary and g_pTableMap
// at them, and the destructor resets both.
class CodeTables {
public:
    CodeTables();
    ~CodeTables();
    CodeTables(const CodeTables&) = delete;
    CodeTables& operator=(const CodeTables&) = delete;

    CDataDictionary dictionary;
    CMemRecord xtdmTable; // the table map's "XTDM", with the "ZQJCLB" rows
    CMapStringToPtr tableMap;
};

} // namespace querytest

namespace querytest {

using ColumnValues = std::vector<std::pair<std::string, std::string>>;

// Every column of the current row (or of row `row`), in layout order, names and values as UTF-8.
ColumnValues RowOf(const CMemRecord& rec, int row = -1);

} // namespace querytest
