#include "host/dbm/MemRecord.h"

#include "host/dbm/MemDataImpl.h"

#include "host/dbm/RecordSchema.h"
#include "host/dbm/RowCells.h"
#include "host/dbm/RowPool.h"
#include "host/dbm/TextCell.h"
#include "platform/TextNumbers.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>

namespace {

using orvo::dbm::RecordSchema;

constexpr int kMaxPriceDecimals = 4;

using orvo::dbm::longCell;
using orvo::dbm::realCell;
using orvo::dbm::RowPool;
using orvo::dbm::TextCell;
using orvo::dbm::textCell;

} // namespace

namespace {

CString cellString(const RecordSchema& schema, const std::byte* row, int field) {
    const FieldInfo& info = schema.Field(field);
    const std::size_t offset = schema.Offset(field);
    switch (info.type) {
    case FieldType::Text:
        return CString(textCell(row, offset));
    case FieldType::Integer:
        return CString(std::to_string(longCell(row, offset)));
    case FieldType::Real:
        return CString(orvo::PriceToText(realCell(row, offset), info.decimals, info.maxDecimals));
    }
    return CString();
}

long cellLong(const RecordSchema& schema, const std::byte* row, int field) {
    const std::size_t offset = schema.Offset(field);
    switch (schema.Field(field).type) {
    case FieldType::Text:
        return orvo::TextToLong(textCell(row, offset));
    case FieldType::Integer:
        return longCell(row, offset);
    case FieldType::Real:
        return orvo::RealToLong(realCell(row, offset));
    }
    return 0;
}

double cellDouble(const RecordSchema& schema, const std::byte* row, int field) {
    const std::size_t offset = schema.Offset(field);
    switch (schema.Field(field).type) {
    case FieldType::Text:
        return orvo::TextToDouble(textCell(row, offset));
    case FieldType::Integer:
        return static_cast<double>(longCell(row, offset));
    case FieldType::Real:
        return realCell(row, offset);
    }
    return 0.0;
}

// Stores what a C string of `text`'s bytes would say (they end at the first NUL) in a cell: as it is in a
// text column, read as a number in a number column (a number's text ends before a NUL anyway). The
// column's packed cell entry (offset and type) is all a write needs: its description is not touched.
inline void writeText(const RecordSchema::Cell& cell, std::byte* cells, std::string_view text) {
    switch (cell.type) {
    case FieldType::Text:
        textCell(cells, cell.offset).AssignUpToNul(text);
        break; // never cut: the width is for display
    case FieldType::Integer:
        longCell(cells, cell.offset) = orvo::TextToLong(text);
        break;
    case FieldType::Real:
        realCell(cells, cell.offset) = orvo::TextToDouble(text);
        break;
    }
}

inline void writeLong(const RecordSchema::Cell& cell, std::byte* cells, long value) {
    switch (cell.type) {
    case FieldType::Text:
        char digits[24];
        textCell(cells, cell.offset)
            .Assign(std::string_view(
                digits,
                static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, value).ptr - digits)));
        break;
    case FieldType::Integer:
        longCell(cells, cell.offset) = value;
        break;
    case FieldType::Real:
        realCell(cells, cell.offset) = static_cast<double>(value);
        break;
    }
}

// Column `index` of `row`, range-checked once; false (nothing written) without either.
template <class SetImpl> BOOL setTextAt(SetImpl& d, int index, std::string_view text, int row) {
    const RecordSchema::Cell* cell = d.schema.CellAt(index);
    std::byte* cells = d.rowAt(row);
    if (!cell || !cells)
        return FALSE;
    writeText(*cell, cells, text);
    d.changed();
    return TRUE;
}

template <class SetImpl> BOOL setLongAt(SetImpl& d, int index, long value, int row) {
    const RecordSchema::Cell* cell = d.schema.CellAt(index);
    std::byte* cells = d.rowAt(row);
    if (!cell || !cells)
        return FALSE;
    writeLong(*cell, cells, value);
    d.changed();
    return TRUE;
}

} // namespace

// ---- CMemRecord --------------------------------------------------------------------------------------

CMemRecord::CMemRecord() = default;
CMemRecord::~CMemRecord() = default;
CMemRecord::CMemRecord(const CMemRecord& other) = default;

int CMemRecord::operator=(const CMemRecord& other) {
    CMemData::operator=(other);
    return static_cast<int>(GetRecordCount());
}

BOOL CMemRecord::Create(LPCTSTR layout, int flags) {
    const bool parsed = m_impl->redefine(layout ? layout : "");
    if (parsed && (flags & MEMRECORD_KEEP_PRICE_DECIMALS))
        m_impl->schema.WidenRealDecimals(kMaxPriceDecimals);
    m_impl->changed();
    return parsed ? TRUE : FALSE;
}

BOOL CMemRecord::Set(LPCTSTR field, LPCTSTR value, int row) {
    return setTextAt(*m_impl, m_impl->schema.Find(field), std::string_view(value ? value : ""), row);
}

BOOL CMemRecord::SetText(LPCTSTR field, std::string_view value, int row) {
    return setTextAt(*m_impl, m_impl->schema.Find(field), value, row);
}

BOOL CMemRecord::Set(LPCTSTR field, long value, int row) {
    return setLongAt(*m_impl, m_impl->schema.Find(field), value, row);
}

BOOL CMemRecord::SetFieldText(int field, std::string_view value, int row) {
    return setTextAt(*m_impl, field, value, row);
}

BOOL CMemRecord::SetFieldLong(int field, long value, int row) {
    return setLongAt(*m_impl, field, value, row);
}

BOOL CMemRecord::SetFields(std::span<const FieldWrite> writes, int row) {
    Impl& d = *m_impl;
    std::byte* cells = d.rowAt(row);
    if (!cells)
        return FALSE;
    const std::span<const RecordSchema::Cell> columns = d.schema.Cells();
    std::size_t written = 0;
    for (const FieldWrite& write : writes) {
        if (static_cast<std::size_t>(write.field) >= columns.size())
            continue; // also a negative index
        const RecordSchema::Cell& cell = columns[static_cast<std::size_t>(write.field)];
        if (write.isNumber)
            writeLong(cell, cells, write.number);
        else
            writeText(cell, cells, write.text);
        ++written;
    }
    if (written > 0)
        d.changed();
    return written == writes.size() ? TRUE : FALSE;
}

CString CMemRecord::GetString(LPCTSTR field, int row) const {
    const int index = m_impl->schema.Find(field);
    const std::byte* cells = m_impl->rowAt(row);
    return index < 0 || !cells ? CString() : cellString(m_impl->schema, cells, index);
}

long CMemRecord::GetLong(LPCTSTR field, int row) const {
    const int index = m_impl->schema.Find(field);
    const std::byte* cells = m_impl->rowAt(row);
    return index < 0 || !cells ? 0 : cellLong(m_impl->schema, cells, index);
}

double CMemRecord::GetDouble(LPCTSTR field, int row) const {
    const int index = m_impl->schema.Find(field);
    const std::byte* cells = m_impl->rowAt(row);
    return index < 0 || !cells ? 0.0 : cellDouble(m_impl->schema, cells, index);
}

BOOL CMemRecord::Locate(LPCTSTR field, long value) {
    const int index = m_impl->schema.Find(field);
    if (index < 0)
        return FALSE;
    for (std::size_t row = 0; row < m_impl->rows.size(); ++row)
        if (cellLong(m_impl->schema, m_impl->rows[row], index) == value) {
            m_impl->cursor = row;
            m_impl->bof = false;
            return TRUE;
        }
    return FALSE; // the cursor stays where it was
}

int CMemRecord::GetFieldCount() const {
    return m_impl->schema.FieldCount();
}

const FieldInfo& CMemRecord::GetField(int index) const {
    static const FieldInfo none{CString(), FieldType::Text, 0, 0};
    return index >= 0 && index < GetFieldCount() ? m_impl->schema.Field(index) : none;
}

int CMemRecord::FindField(LPCTSTR field) const {
    return m_impl->schema.Find(field);
}

CString CMemRecord::GetLayout() const {
    return CString(std::string_view(m_impl->schema.Layout()));
}

CString CMemRecord::GetCellString(long row, int field) const {
    const std::byte* cells = m_impl->rowAt(row < 0 ? -2 : row);
    return field < 0 || field >= GetFieldCount() || !cells ? CString()
                                                           : cellString(m_impl->schema, cells, field);
}

long CMemRecord::GetCellLong(long row, int field) const {
    const std::byte* cells = m_impl->rowAt(row < 0 ? -2 : row);
    return field < 0 || field >= GetFieldCount() || !cells ? 0 : cellLong(m_impl->schema, cells, field);
}

double CMemRecord::GetCellDouble(long row, int field) const {
    const std::byte* cells = m_impl->rowAt(row < 0 ? -2 : row);
    return field < 0 || field >= GetFieldCount() || !cells ? 0.0 : cellDouble(m_impl->schema, cells, field);
}

long long CMemRecord::SumCellLongs(int field, std::span<const long> rows) const {
    const Impl& d = *m_impl;
    const RecordSchema::Cell* cell = d.schema.CellAt(field);
    if (!cell)
        return 0;
    long long sum = 0;
    if (cell->type != FieldType::Integer) {
        for (const long row : rows)
            if (const std::byte* cells = d.rowAt(row < 0 ? -2 : row))
                sum += cellLong(d.schema, cells, field);
        return sum;
    }
    // Rows lie apart in memory, one cache line each: the lines a few rows ahead are asked for early.
    constexpr std::size_t kAhead = 32;
    const std::size_t count = d.rows.size();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (i + kAhead < rows.size()) {
            const auto ahead = static_cast<std::size_t>(rows[i + kAhead]);
            if (ahead < count)
                __builtin_prefetch(d.rows[ahead] + cell->offset);
        }
        const auto row = static_cast<std::size_t>(rows[i]); // a negative row becomes too large
        if (row < count)
            sum += longCell(d.rows[row], cell->offset);
    }
    return sum;
}

namespace {
bool sameLayout(const RecordSchema& a, const RecordSchema& b) {
    return a.FieldCount() == b.FieldCount() && a.RowSize() == b.RowSize() &&
           a.TextOffsets() == b.TextOffsets();
}
} // namespace

BOOL CMemRecord::CopyRow(long row, const CMemRecord& source, long sourceRow) {
    Impl& d = *m_impl;
    const Impl& s = *source.m_impl;
    std::byte* target = row >= 0 ? d.rowAt(row) : nullptr;
    const std::byte* from = sourceRow >= 0 ? s.rowAt(sourceRow) : nullptr;
    if (!target || !from || !sameLayout(d.schema, s.schema))
        return FALSE;
    if (target == from)
        return TRUE;
    const std::size_t textBytes = d.schema.TextOffsets().size() * sizeof(TextCell);
    std::memcpy(target + textBytes, from + textBytes, d.schema.RowSize() - textBytes); // the numbers
    for (const std::size_t offset : d.schema.TextOffsets())
        textCell(target, offset).Assign(textCell(from, offset));
    d.changed();
    return TRUE;
}

BOOL CMemRecord::SameRow(long row, const CMemRecord& other, long otherRow) const {
    const Impl& d = *m_impl;
    const Impl& o = *other.m_impl;
    const std::byte* a = row >= 0 ? d.rowAt(row) : nullptr;
    const std::byte* b = otherRow >= 0 ? o.rowAt(otherRow) : nullptr;
    if (!a || !b || !sameLayout(d.schema, o.schema))
        return FALSE;
    const std::size_t textBytes = d.schema.TextOffsets().size() * sizeof(TextCell);
    if (std::memcmp(a + textBytes, b + textBytes, d.schema.RowSize() - textBytes) != 0)
        return FALSE;
    for (const std::size_t offset : d.schema.TextOffsets())
        if (textCell(a, offset) != textCell(b, offset))
            return FALSE;
    return TRUE;
}

std::string_view CMemRecord::GetCellText(long row, int field) const {
    const std::byte* cells = m_impl->rowAt(row < 0 ? -2 : row);
    if (field < 0 || field >= GetFieldCount() || !cells ||
        m_impl->schema.Field(field).type != FieldType::Text)
        return {};
    return textCell(cells, m_impl->schema.Offset(field));
}
