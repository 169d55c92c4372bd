#include "host/stock/DataDictionary.h"

#include "host/dbm/MemRecord.h"

#include <map>
#include <memory>
#include <string>

namespace {

// An integer code column held as text matches only cells that hold a number: a blank cell is no code 0.
bool integerCodeMatches(const CMemRecord& table, long row, int column, long code) {
    if (table.GetField(column).type == FieldType::Text) {
        const CString text = table.GetCellString(row, column);
        int pos = 0;
        while (pos < text.GetLength() && (text[pos] == ' ' || text[pos] == '\t'))
            ++pos;
        if (pos < text.GetLength() && (text[pos] == '+' || text[pos] == '-'))
            ++pos;
        if (pos >= text.GetLength() || text[pos] < '0' || text[pos] > '9')
            return false;
    }
    return table.GetCellLong(row, column) == code;
}

} // namespace

struct CDataDictionary::Impl {
    std::map<std::string, std::unique_ptr<CMemRecord>, std::less<>> tables;

    // The text column of the first row that the predicate accepts; "" when the table or a column is missing.
    template <typename Match>
    CString find(LPCTSTR tableName, std::initializer_list<LPCTSTR> keyColumns, LPCTSTR textColumn,
                 Match match) const {
        const auto it = tables.find(std::string_view(tableName ? tableName : ""));
        if (it == tables.end())
            return CString();
        const CMemRecord& table = *it->second;
        int keys[2] = {-1, -1};
        int k = 0;
        for (LPCTSTR column : keyColumns) {
            keys[k] = table.FindField(column);
            if (keys[k++] < 0)
                return CString();
        }
        const int text = table.FindField(textColumn);
        if (text < 0)
            return CString();
        // Walk by row number so that the table's cursor stays where its owner left it.
        for (long row = 0; row < table.GetRecordCount(); ++row)
            if (match(table, row, keys))
                return table.GetCellString(row, text);
        return CString();
    }
};

CDataDictionary::CDataDictionary() : m_impl(new Impl) {}
CDataDictionary::~CDataDictionary() {
    delete m_impl;
}

void CDataDictionary::AddTable(LPCTSTR name, const CMemRecord& table) {
    m_impl->tables[name ? name : ""] = std::make_unique<CMemRecord>(table);
}

CMemRecord* CDataDictionary::GetTable(LPCTSTR name) const {
    const auto it = m_impl->tables.find(std::string_view(name ? name : ""));
    return it == m_impl->tables.end() ? nullptr : it->second.get();
}

CString CDataDictionary::GetXTDM(LPCTSTR table, LPCTSTR catColumn, LPCTSTR category, LPCTSTR codeColumn,
                                 long code, LPCTSTR textColumn) const {
    const CString wanted(category);
    return m_impl->find(
        table, {catColumn, codeColumn}, textColumn, [&](const CMemRecord& t, long row, const int* keys) {
            return integerCodeMatches(t, row, keys[1], code) && t.GetCellString(row, keys[0]) == wanted;
        });
}

CString CDataDictionary::GetXTDM(LPCTSTR table, LPCTSTR catColumn, LPCTSTR category, LPCTSTR codeColumn,
                                 LPCTSTR code, LPCTSTR textColumn) const {
    const CString wantedCategory(category);
    const CString wantedCode(code);
    return m_impl->find(table, {catColumn, codeColumn}, textColumn,
                        [&](const CMemRecord& t, long row, const int* keys) {
                            return t.GetCellString(row, keys[1]) == wantedCode &&
                                   t.GetCellString(row, keys[0]) == wantedCategory;
                        });
}

CString CDataDictionary::GetXTDM(LPCTSTR table, LPCTSTR codeColumn, int code, LPCTSTR textColumn) const {
    return m_impl->find(table, {codeColumn}, textColumn, [&](const CMemRecord& t, long row, const int* keys) {
        return integerCodeMatches(t, row, keys[0], code);
    });
}

CString CDataDictionary::GetXTDM(LPCTSTR table, LPCTSTR codeColumn, LPCTSTR code, LPCTSTR textColumn) const {
    const CString wanted(code);
    return m_impl->find(table, {codeColumn}, textColumn, [&](const CMemRecord& t, long row, const int* keys) {
        return t.GetCellString(row, keys[0]) == wanted;
    });
}
