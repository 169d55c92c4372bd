#include "host/dbm/MemRecord.h"

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

// Rows are blocks of RowSize() bytes from the row pool: text cells are TextCell objects built in
// place, integer cells long, real cells double, each at the offset the schema gives. The vector holds one
// pointer per row, so Append and Delete move pointers, never cells.
struct CMemData::Impl {
    orvo::dbm::RecordSchema schema;
    RowPool pool; // after the schema: its rows are destroyed while the schema still describes them
    std::vector<std::byte*> rows;
    std::size_t cursor = 0; // rows.size() is Eof
    bool bof = true;
    // Each Impl starts its change stamps in a range of its own, so that a set replaced by assignment
    // never shows a stamp it had before.
    unsigned long long stamp = newStampRange();

    static unsigned long long newStampRange() {
        static std::atomic<unsigned long long> next{0};
        return next.fetch_add(1ull << 32, std::memory_order_relaxed) + (1ull << 32);
    }
    void changed() { ++stamp; }

    Impl() { pool.Adopt(schema); }
    Impl(const Impl& other) : schema(other.schema), cursor(other.cursor), bof(other.bof) {
        pool.Adopt(schema);
        rows.reserve(other.rows.size());
        for (std::byte* row : other.rows)
            rows.push_back(copyRow(row));
    }
    Impl& operator=(const Impl&) = delete;

    // New columns: every row goes, with the storage built for the old ones.
    bool redefine(std::string_view layout) {
        clearRows();
        pool.Release(); // while `schema` still describes the rows built
        const bool parsed = schema.Parse(layout);
        pool.Adopt(schema);
        return parsed;
    }

    std::byte* newRow() { return pool.Take(); }
    std::byte* copyRow(const std::byte* source) {
        std::byte* row = pool.Take();
        const std::size_t textBytes = schema.TextOffsets().size() * sizeof(TextCell);
        std::memcpy(row + textBytes, source + textBytes, schema.RowSize() - textBytes); // the numbers
        for (const std::size_t offset : schema.TextOffsets())
            textCell(row, offset).Assign(textCell(source, offset));
        return row;
    }
    void freeRow(std::byte* row) { pool.Give(row); }
    void clearRows() {
        rows.clear();
        pool.Recycle();
        cursor = 0;
        bof = true;
    }
    std::byte* current() const { return cursor < rows.size() ? rows[cursor] : nullptr; }
    // -1: the current row; 0..n-1: that row; anything else: none.
    std::byte* rowAt(long row) const {
        if (row == -1)
            return current();
        return row >= 0 && static_cast<std::size_t>(row) < rows.size() ? rows[static_cast<std::size_t>(row)]
                                                                       : nullptr;
    }
};

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

void ReleaseSpareRecordMemory() {
    orvo::dbm::ReleaseSpareRowChunks();
}

// ---- CMemData ----------------------------------------------------------------------------------------

CMemData::CMemData() : m_impl(std::make_unique<Impl>()) {}
CMemData::~CMemData() = default;
CMemData::CMemData(const CMemData& other) : m_impl(std::make_unique<Impl>(*other.m_impl)) {}

CMemData& CMemData::operator=(const CMemData& other) {
    if (this != &other)
        m_impl = std::make_unique<Impl>(*other.m_impl);
    return *this;
}

void CMemData::Swap(CMemData& other) noexcept {
    m_impl.swap(other.m_impl);
}

void* CMemData::GoTop() {
    m_impl->cursor = 0;
    m_impl->bof = m_impl->rows.empty();
    return m_impl->current();
}

void* CMemData::GoBottom() {
    m_impl->cursor = m_impl->rows.empty() ? 0 : m_impl->rows.size() - 1;
    m_impl->bof = m_impl->rows.empty();
    return m_impl->current();
}

void* CMemData::Skip(int count) {
    Impl& d = *m_impl;
    const long target = static_cast<long>(d.cursor) + count;
    if (d.rows.empty() || target < 0) {
        d.cursor = 0; // on the first row (if any), flagged as having tried to move before it
        d.bof = true;
    } else {
        d.cursor = static_cast<std::size_t>(target) >= d.rows.size() ? d.rows.size()
                                                                     : static_cast<std::size_t>(target);
        d.bof = false;
    }
    return d.current();
}

void* CMemData::Go(long row) {
    Impl& d = *m_impl;
    d.cursor = row >= 0 && static_cast<std::size_t>(row) < d.rows.size() ? static_cast<std::size_t>(row)
                                                                         : d.rows.size();
    d.bof = d.rows.empty();
    return d.current();
}

BOOL CMemData::Eof() const {
    return m_impl->cursor >= m_impl->rows.size();
}
BOOL CMemData::Bof() const {
    return m_impl->bof || m_impl->rows.empty();
}
long CMemData::GetRecNo() const {
    return static_cast<long>(m_impl->cursor);
}
long CMemData::GetRecordCount() const {
    return static_cast<long>(m_impl->rows.size());
}

void* CMemData::Append(void* /*unused*/, int count) {
    Impl& d = *m_impl;
    if (count <= 0)
        return d.current();
    for (int i = 0; i < count; ++i)
        d.rows.push_back(d.newRow());
    d.changed();
    d.cursor = d.rows.size() - 1;
    d.bof = false;
    return d.current();
}

void CMemData::Delete() {
    Impl& d = *m_impl;
    if (d.cursor >= d.rows.size())
        return;
    d.freeRow(d.rows[d.cursor]);
    d.rows.erase(d.rows.begin() + static_cast<std::ptrdiff_t>(d.cursor));
    d.changed();
    d.bof = d.rows.empty(); // the cursor index now names the following row, or Eof
}

void CMemData::Zap() {
    m_impl->clearRows();
    m_impl->changed();
}

void CMemData::DeleteRows(std::span<const long> rows) {
    Impl& d = *m_impl;
    if (rows.empty())
        return;
    const std::size_t oldCursor = d.cursor;
    std::size_t newCursor = d.rows.size();
    std::size_t kept = 0;
    auto next = rows.begin();
    for (std::size_t r = 0; r < d.rows.size(); ++r) {
        while (next != rows.end() && *next < static_cast<long>(r))
            ++next;
        if (next != rows.end() && *next == static_cast<long>(r)) {
            d.freeRow(d.rows[r]);
            continue;
        }
        if (r >= oldCursor && newCursor == d.rows.size())
            newCursor = kept; // the current row, or the first after it that stays
        d.rows[kept++] = d.rows[r];
    }
    d.rows.resize(kept);
    d.cursor = std::min(newCursor, kept);
    d.bof = d.rows.empty();
    d.changed();
}

unsigned long long CMemData::GetChangeStamp() const {
    return m_impl->stamp;
}

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
