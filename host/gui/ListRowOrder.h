// The order in which a record-bound list shows its record set's rows: a sort permutation and a text
// filter, held beside the set. The record set stays the source of truth (its rows and its cursor); this
// only maps the lines of the list to record rows and back. Nothing is copied from the set: with neither a
// sort nor a filter no memory is held at all, a sort holds 4 bytes per row, a filter 4 per kept row.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CMemRecord;

namespace orvo {

// Does `text` (GBK) contain `needle` (GBK)? ASCII letters compare without case; a match starts and ends
// on character boundaries, so the trail byte of a Chinese character never matches an ASCII letter.
bool ContainsGbkNoCase(std::string_view text, std::string_view needle);

// A text cell that is a comparison before a number ("<14525.00", ">=3589", "≤12"), or a plain number:
// the number, and the comparison's rank (<, <=, none or =, >=, >) that orders equal numbers.
struct SignedNumber {
    double value = 0;
    int signRank = 2;      // 0 "<", 1 "<=", 2 none or "=", 3 ">=", 4 ">"
    std::string_view sign; // the comparison as written (GBK), empty for none
    std::string_view number;
};
bool ParseSignedNumber(std::string_view text, SignedNumber& out);

class ListRowOrder {
public:
    static constexpr int kNoColumn = -1;
    struct SortKey {
        int column = kNoColumn;
        bool ascending = true;
        bool operator==(const SortKey&) const = default;
    };

    // Column to sort by (kNoColumn: the record set's order); drops a second key. Takes effect at the next
    // Rebuild.
    void SetSort(int column, bool ascending);
    // The first key, then the key that orders the rows the first leaves equal (at most two are kept).
    void SetSortKeys(std::vector<SortKey> keys);
    const std::vector<SortKey>& SortKeys() const { return m_keys; }
    int SortColumn() const { return m_keys.empty() ? kNoColumn : m_keys.front().column; }
    bool SortAscending() const { return m_keys.empty() || m_keys.front().ascending; }

    // Keeps the rows whose cells in `columns` contain the text (GBK; empty: every row). A text that
    // extends the previous one only narrows the rows kept so far. Applies at once to the rows as
    // last built.
    void SetFilter(const CMemRecord& record, std::string needle, std::vector<int> columns);
    const std::string& Filter() const { return m_needle; }

    // Sorts and filters the record set's rows afresh (after a refill, or a new sort column).
    void Rebuild(const CMemRecord& record);

    // What changed in the record set since the last build, in the order it was done: rows rewritten in
    // place (`changed`, record rows before the removal), then rows removed (`removed`, ascending, record
    // rows before the removal), then `appended` rows added at the end.
    struct RowChanges {
        std::vector<long> changed;
        std::vector<long> removed;
        long appended = 0;
    };
    // Brings the order up to date with the record set after `changes`, without sorting every row again:
    // the rows that stay keep their places, changed and new rows go where the sort and the filter put
    // them. Lines end up exactly as a Rebuild would give them.
    void ApplyChanges(const CMemRecord& record, const RowChanges& changes);
    // The record row each record row before `removed` becomes (-1: removed), for `oldCount` rows.
    static std::vector<std::int32_t> RowsAfterRemoval(long oldCount, const std::vector<long>& removed);

    // Record rows at the last build or change.
    long RecordRowCount() const { return m_rows; }
    // Lines shown, and the record row of each.
    long Count() const;
    long RecordRow(long line) const;
    // RecordRow of every line, in line order: what a loop over the lines gives, in one pass.
    std::vector<long> RecordRows() const;
    // The line showing a record row; -1 when the filter hides it.
    long LineOf(long recordRow) const;
    // Bytes held for the order (what the sort and the filter cost beyond the record set).
    std::size_t HeldBytes() const;

private:
    void ApplyFilter(const CMemRecord& record, bool narrowOnly);
    bool RowMatches(const CMemRecord& record, long row) const;

    void SortBy(const CMemRecord& record, std::size_t keyIndex);
    // Is row a before row b in the sort (ties: the record set's order)?
    bool Before(const CMemRecord& record, std::int32_t a, std::int32_t b) const;
    // Drops rows (remap -1) from `order`, renumbers the others, and puts `added` (in sort order) in place.
    void MergeInto(const CMemRecord& record, std::vector<std::int32_t>& order,
                   const std::vector<std::int32_t>& remap, const std::vector<std::int32_t>& added) const;

    std::vector<SortKey> m_keys;        // first key first; empty: the record set's order
    std::vector<bool> m_keyNumericText; // per key at the last build: a text column sorted by its numbers
    std::string m_needle;
    bool m_numericNeedle = true; // could match the text of a number
    std::vector<int> m_filterColumns;
    long m_rows = 0;                    // record rows at the last build
    std::vector<std::int32_t> m_sorted; // record rows in sort order; empty when unsorted
    std::vector<std::int32_t> m_shown;  // record rows kept by the filter, in display order
    bool m_filtered = false;
};

} // namespace orvo
