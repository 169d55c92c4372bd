// OvDBM15: in-memory record sets. CMemData keeps the rows and the cursor; CMemRecord adds the named,
// typed columns that a layout string defines, e.g. "客户号[C12],委托号[I],委价[R8.2],color[I],KHH[C12]".
#pragma once

#include "platform/CString.h"

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

enum class FieldType : unsigned char { Integer, Text, Real };

struct FieldInfo {
    CString name;        // as written in the layout (GBK)
    FieldType type;      // I, C or R
    int width = 0;       // C: bytes to show (storage is never cut); R: total width
    int decimals = 0;    // R: digits after the point; the text column "[C12.2]" keeps 2 here too
    int maxDecimals = 0; // R: the most digits after the point shown when the value has them (>= decimals)
};

// One write of CMemRecord::SetFields: column `field` (an index from FindField) gets `text`, or `number`
// when isNumber.
struct FieldWrite {
    int field = -1;
    std::string_view text{};
    long number = 0;
    bool isNumber = false;

    static FieldWrite Text(int field, std::string_view text) { return {field, text, 0, false}; }
    static FieldWrite Long(int field, long number) { return {field, {}, number, true}; }
};

// Create flag: real columns show a value with the decimals it has, at least the layout's and at most
// four (a price on a 0.005 tick shows 103.895, not 103.90); values with no more than the layout's
// decimals look exactly as without the flag.
constexpr int MEMRECORD_KEEP_PRICE_DECIMALS = 0x1;

// Record sets that go keep their row memory for the sets filled next (a refilled list then writes into
// pages already there); this gives it back to the system. Call it when no set is about to be filled.
void ReleaseSpareRecordMemory();

class CMemData {
public:
    CMemData();
    virtual ~CMemData();
    CMemData(const CMemData& other);
    CMemData& operator=(const CMemData& other);

    // Cursor. The row pointers of GoTop/Skip are opaque and only tell whether a row is current.
    void* GoTop();
    void* GoBottom();
    void* Skip(int count = 1);
    void* Go(long row); // 0-based; past the end leaves the cursor at Eof
    BOOL Eof() const;   // past the last row; at once for an empty set
    BOOL Bof() const;
    long GetRecNo() const; // 0-based current row, GetRecordCount() at Eof
    long GetRecordCount() const;

    void* Append(void* unused = nullptr, int count = 1); // adds empty rows; the last becomes current
    void Delete(); // removes the current row; the following row becomes current
    void Zap();    // removes every row
    // Removes the given rows (0-based, ascending, each once; others are ignored) in one pass: the rows
    // after them move up. The current row stays current (a removed one passes to the next that stays).
    void DeleteRows(std::span<const long> rows);
    // Exchanges rows, columns and cursor with another set, without copying a row: a set filled aside
    // takes the place of the one shown. Each keeps its own change stamps, so readers see the change.
    void Swap(CMemData& other) noexcept;

    // A stamp that changes with every change of the set's columns, rows or cells (not with cursor moves),
    // and differs between sets: what a reader derived from the set (an index, say) is stale once the stamp
    // it was derived at is no longer the set's stamp.
    unsigned long long GetChangeStamp() const;

protected:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

class CMemRecord : public CMemData {
public:
    CMemRecord();
    ~CMemRecord() override;
    CMemRecord(const CMemRecord& other);
    // Copies columns and rows (the result is the row count, as the host's class gives it).
    int operator=(const CMemRecord& other);

    // Defines the columns and empties the set. False (and no columns) on a malformed layout. flags: 0 or
    // MEMRECORD_KEEP_PRICE_DECIMALS.
    BOOL Create(LPCTSTR layout, int flags = 0);

    // Current-row access by column name; row -1 is the current row, any other value that row (0-based).
    // With no current row or an unknown column, reads give "" / 0 / 0.0 and writes do nothing (FALSE).
    BOOL Set(LPCTSTR field, LPCTSTR value, int row = -1);
    BOOL Set(LPCTSTR field, long value, int row = -1);
    // Set(field, text) for text that is not NUL-terminated: the same as passing its bytes up to the first
    // NUL (all of them when it holds none) as a C string, without first copying them into one.
    BOOL SetText(LPCTSTR field, std::string_view value, int row = -1);
    // The same writes by column index (FindField), for fillers that resolve their columns once per query
    // rather than by name for every cell. An index out of range writes nothing (FALSE).
    BOOL SetFieldText(int field, std::string_view value, int row = -1);
    BOOL SetFieldLong(int field, long value, int row = -1);
    // A whole row's writes at once, each exactly as SetFieldText / SetFieldLong would do it, in order: one
    // call and one look-up of the row for a filler that writes every column. FALSE when there is no such
    // row (nothing written) or a write's column is out of range (that one skipped, the others done).
    BOOL SetFields(std::span<const FieldWrite> writes, int row = -1);
    CString GetString(LPCTSTR field, int row = -1) const;
    long GetLong(LPCTSTR field, int row = -1) const;
    double GetDouble(LPCTSTR field, int row = -1) const;

    // Makes the first row whose integer value of the column equals value current; FALSE if none.
    BOOL Locate(LPCTSTR field, long value);

    // Columns, for views and tools.
    int GetFieldCount() const;
    const FieldInfo& GetField(int index) const;
    int FindField(LPCTSTR field) const; // -1 when unknown
    CString GetLayout() const;          // the layout string as given to Create

    // Direct cell access by index, for views that draw many cells: row is 0-based.
    CString GetCellString(long row, int field) const;
    long GetCellLong(long row, int field) const;
    double GetCellDouble(long row, int field) const;
    // The sum of GetCellLong(row, field) over `rows`, for totals over a whole list without a call per row.
    long long SumCellLongs(int field, std::span<const long> rows) const;
    // Row `row` takes the cells of `source`'s row `sourceRow`; the two sets must have the same layout
    // (FALSE, nothing written, otherwise or for a bad row).
    BOOL CopyRow(long row, const CMemRecord& source, long sourceRow);
    // Do the two rows hold the same cells? FALSE for other layouts or a bad row.
    BOOL SameRow(long row, const CMemRecord& other, long otherRow) const;
    // The bytes of a text cell without a copy (empty for other columns and bad indexes); valid until the
    // cell or the set changes.
    std::string_view GetCellText(long row, int field) const;
};
