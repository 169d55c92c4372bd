// OvStock15: the data dictionary over named code tables, and the host's global table map.
#pragma once

#include "platform/CString.h"
#include "platform/Collections.h"

class CMemRecord;

class CDataDictionary {
public:
    CDataDictionary();
    ~CDataDictionary();
    CDataDictionary(const CDataDictionary&) = delete;
    CDataDictionary& operator=(const CDataDictionary&) = delete;

    // The dictionary owns the tables it is given; a table of the same name is replaced.
    void AddTable(LPCTSTR name, const CMemRecord& table);
    CMemRecord* GetTable(LPCTSTR name) const; // null when missing

    // Moves on with every AddTable (a table added or replaced), and differs between dictionaries. What
    // was read from a table is stale once this stamp, or the table's own change stamp, has moved.
    unsigned long long GetChangeStamp() const;

    // Category + integer code: the row whose catColumn is category and whose codeColumn compares as an
    // integer equal to code. "" for a missing table, column, category or code.
    CString GetXTDM(LPCTSTR table, LPCTSTR catColumn, LPCTSTR category, LPCTSTR codeColumn, long code,
                    LPCTSTR textColumn) const;
    // Category + text code: codeColumn compares as text.
    CString GetXTDM(LPCTSTR table, LPCTSTR catColumn, LPCTSTR category, LPCTSTR codeColumn, LPCTSTR code,
                    LPCTSTR textColumn) const;
    // Integer code alone.
    CString GetXTDM(LPCTSTR table, LPCTSTR codeColumn, int code, LPCTSTR textColumn) const;
    // Text code alone.
    CString GetXTDM(LPCTSTR table, LPCTSTR codeColumn, LPCTSTR code, LPCTSTR textColumn) const;

private:
    struct Impl;
    Impl* m_impl;
};

// The host's global table map (table name -> CMemRecord*), holding "QHHYDM" among others.
extern CMapStringToPtr theGloalMem;
