// The rows of a record set, shared by the files that implement CMemData and CMemRecord (not for users).
#pragma once

#include "host/dbm/MemRecord.h"
#include "host/dbm/RecordSchema.h"
#include "host/dbm/RowCells.h"
#include "host/dbm/RowPool.h"
#include "host/dbm/TextCell.h"

#include <atomic>
#include <cstddef>
#include <cstring>
#include <string_view>
#include <vector>

// Rows are blocks of RowSize() bytes from the row pool: text cells are TextCell objects built in
// place, integer cells long, real cells double, each at the offset the schema gives. The vector holds one
// pointer per row, so Append and Delete move pointers, never cells.
struct CMemData::Impl {
    orvo::dbm::RecordSchema schema;
    orvo::dbm::RowPool pool; // after the schema: its rows are destroyed while the schema still describes them
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
        const std::size_t textBytes = schema.TextOffsets().size() * sizeof(orvo::dbm::TextCell);
        std::memcpy(row + textBytes, source + textBytes, schema.RowSize() - textBytes); // the numbers
        for (const std::size_t offset : schema.TextOffsets())
            orvo::dbm::textCell(row, offset).Assign(orvo::dbm::textCell(source, offset));
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
