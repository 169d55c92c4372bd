#include "host/gui/ListRowOrder.h"

#include "host/dbm/MemRecord.h"
#include "platform/TextNumbers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <numeric>

namespace orvo {
namespace {

unsigned char foldAscii(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

bool isLeadByte(unsigned char c) {
    return c >= 0x81 && c <= 0xFE;
}

// NaN first, then the numbers in order: a strict weak order whatever the cells hold.
bool lessNumber(double a, double b) {
    if (std::isnan(a))
        return !std::isnan(b);
    if (std::isnan(b))
        return false;
    return a < b;
}

bool parseWhole(std::string_view text, double& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end;
}

// A text column whose every non-empty cell is a number, or a comparison before one (a price kept as text,
// a trigger condition), sorts by the numbers.
bool textColumnIsNumeric(const CMemRecord& record, int column) {
    const long rows = record.GetRecordCount();
    bool any = false;
    for (long r = 0; r < rows; ++r) {
        const std::string_view cell = record.GetCellText(r, column);
        SignedNumber number;
        if (cell.empty())
            continue;
        if (!ParseSignedNumber(cell, number))
            return false;
        any = true;
    }
    return any;
}

// Empty cells (and any the column check let through) first.
SignedNumber textNumber(std::string_view cell) {
    SignedNumber number;
    if (cell.empty() || !ParseSignedNumber(cell, number))
        number.value = -HUGE_VAL;
    return number;
}

bool lessSignedNumber(const SignedNumber& a, const SignedNumber& b) {
    if (a.value != b.value)
        return a.value < b.value;
    return a.signRank < b.signRank;
}

// Compares GBK texts with ASCII letters folded; the trail byte of a Chinese character compares as it is.
bool lessTextNoCase(std::string_view a, std::string_view b) {
    const std::size_t common = std::min(a.size(), b.size());
    bool trail = false;
    for (std::size_t i = 0; i < common; ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        const unsigned char fx = trail ? x : foldAscii(x);
        const unsigned char fy = trail ? y : foldAscii(y);
        if (fx != fy)
            return fx < fy;
        trail = !trail && isLeadByte(x);
    }
    return a.size() < b.size();
}

// A 32-bit key per row that orders as the cells do wherever two keys differ (equal keys say nothing):
// comparisons mostly read this small array instead of rows scattered over the record set's memory.
std::uint32_t numberKey(double value) {
    if (std::isnan(value))
        return 0;                        // NaN first, as lessNumber has it
    float f = static_cast<float>(value); // rounding keeps the order (never reverses it)
    if (f == 0.0f)
        f = 0.0f; // -0 and +0 alike
    std::uint32_t bits = 0;
    std::memcpy(&bits, &f, sizeof bits);
    return (bits & 0x80000000u) ? ~bits : (bits | 0x80000000u);
}

// The first four bytes, ASCII letters folded as lessTextNoCase folds them.
std::uint32_t textKey(std::string_view text) {
    std::uint32_t key = 0;
    bool trail = false;
    for (std::size_t i = 0; i < 4; ++i) {
        const unsigned c = i < text.size() ? static_cast<unsigned char>(text[i]) : 0u;
        key = (key << 8) | (trail ? c : foldAscii(static_cast<unsigned char>(c)));
        trail = !trail && isLeadByte(static_cast<unsigned char>(c));
    }
    return key;
}

template <class KeyOf, class Less>
void sortRows(std::vector<std::int32_t>& rows, bool ascending, KeyOf keyOf, Less exactLess) {
    std::vector<std::uint32_t> keys(rows.size());
    for (std::size_t r = 0; r < rows.size(); ++r)
        keys[r] = keyOf(static_cast<std::int32_t>(r));
    const auto keyOfRow = [&](std::int32_t row) { return keys[static_cast<std::size_t>(row)]; };
    // First by the keys alone (a small array, no row touched), then each run of equal keys by the cells:
    // a run's rows are few and are read while they are in the cache. Both passes are stable.
    if (ascending)
        std::stable_sort(rows.begin(), rows.end(),
                         [&](std::int32_t a, std::int32_t b) { return keyOfRow(a) < keyOfRow(b); });
    else
        std::stable_sort(rows.begin(), rows.end(),
                         [&](std::int32_t a, std::int32_t b) { return keyOfRow(b) < keyOfRow(a); });
    for (auto first = rows.begin(); first != rows.end();) {
        const std::uint32_t key = keyOfRow(*first);
        auto last = first + 1;
        while (last != rows.end() && keyOfRow(*last) == key)
            ++last;
        if (last - first > 1) {
            if (ascending)
                std::stable_sort(first, last, exactLess);
            else // ties keep the record set's order in both directions
                std::stable_sort(first, last,
                                 [&](std::int32_t a, std::int32_t b) { return exactLess(b, a); });
        }
        first = last;
    }
}

} // namespace

bool ParseSignedNumber(std::string_view text, SignedNumber& out) {
    struct Sign {
        std::string_view text;
        int rank;
    };
    // Longest first, so that "<=" is not read as "<" before "=...".
    static constexpr Sign kSigns[] = {{"<=", 1}, {">=", 3}, {"\xA1\xDC", 1}, {"\xA1\xDD", 3},
                                      {"<", 0},  {">", 4},  {"=", 2}};
    SignedNumber number;
    std::string_view rest = text;
    for (const Sign& sign : kSigns)
        if (rest.starts_with(sign.text)) {
            number.sign = rest.substr(0, sign.text.size());
            number.signRank = sign.rank;
            rest.remove_prefix(sign.text.size());
            break;
        }
    while (!number.sign.empty() && rest.starts_with(' '))
        rest.remove_prefix(1);
    if (rest.empty() || rest.front() == '+' || !parseWhole(rest, number.value) ||
        !std::isfinite(number.value))
        return false;
    number.number = rest;
    out = number;
    return true;
}

bool ContainsGbkNoCase(std::string_view text, std::string_view needle) {
    if (needle.empty())
        return true;
    if (text.size() < needle.size())
        return false;
    const auto first = foldAscii(static_cast<unsigned char>(needle[0]));
    const std::size_t last = text.size() - needle.size();
    for (std::size_t i = 0; i <= last;) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (foldAscii(c) == first) {
            // Both start on a character boundary, so their characters line up byte for byte. Only a
            // single-byte character folds: a trail byte compares exactly, even where it reads as a letter.
            bool trail = isLeadByte(static_cast<unsigned char>(needle[0]));
            std::size_t j = 1;
            for (; j < needle.size(); ++j) {
                const auto t = static_cast<unsigned char>(text[i + j]);
                const auto n = static_cast<unsigned char>(needle[j]);
                if (trail ? t != n : foldAscii(t) != foldAscii(n))
                    break;
                trail = !trail && isLeadByte(n);
            }
            if (j == needle.size())
                return true;
        }
        i += isLeadByte(c) && i + 1 < text.size() ? 2 : 1;
    }
    return false;
}

void ListRowOrder::SetSort(int column, bool ascending) {
    m_keys.clear();
    m_keyNumericText.clear(); // known again at the next Rebuild
    if (column >= 0)
        m_keys.push_back({column, ascending});
}

void ListRowOrder::SetSortKeys(std::vector<SortKey> keys) {
    std::erase_if(keys, [](const SortKey& key) { return key.column < 0; });
    if (keys.size() > 2)
        keys.resize(2);
    if (keys.size() == 2 && keys[0].column == keys[1].column)
        keys.pop_back();
    m_keys = std::move(keys);
    m_keyNumericText.clear();
}

void ListRowOrder::SortBy(const CMemRecord& record, std::size_t keyIndex) {
    const SortKey key = m_keys[keyIndex];
    const int column = key.column;
    const bool ascending = key.ascending;
    switch (record.GetField(column).type) {
    case FieldType::Integer:
        sortRows(
            m_sorted, ascending,
            [&](std::int32_t r) { return numberKey(static_cast<double>(record.GetCellLong(r, column))); },
            [&](std::int32_t a, std::int32_t b) {
                return record.GetCellLong(a, column) < record.GetCellLong(b, column);
            });
        break;
    case FieldType::Real:
        sortRows(
            m_sorted, ascending, [&](std::int32_t r) { return numberKey(record.GetCellDouble(r, column)); },
            [&](std::int32_t a, std::int32_t b) {
                return lessNumber(record.GetCellDouble(a, column), record.GetCellDouble(b, column));
            });
        break;
    case FieldType::Text:
        if (textColumnIsNumeric(record, column)) {
            m_keyNumericText[keyIndex] = true;
            sortRows(
                m_sorted, ascending,
                [&](std::int32_t r) { return numberKey(textNumber(record.GetCellText(r, column)).value); },
                [&](std::int32_t a, std::int32_t b) {
                    return lessSignedNumber(textNumber(record.GetCellText(a, column)),
                                            textNumber(record.GetCellText(b, column)));
                });
        } else // GBK orders its characters by their byte values; ASCII letters without case (codes)
            sortRows(
                m_sorted, ascending, [&](std::int32_t r) { return textKey(record.GetCellText(r, column)); },
                [&](std::int32_t a, std::int32_t b) {
                    return lessTextNoCase(record.GetCellText(a, column), record.GetCellText(b, column));
                });
        break;
    }
}

void ListRowOrder::Rebuild(const CMemRecord& record) {
    m_rows = record.GetRecordCount();
    m_sorted.clear();
    std::erase_if(m_keys, [&](const SortKey& key) { return key.column >= record.GetFieldCount(); });
    m_keyNumericText.assign(m_keys.size(), false);
    if (!m_keys.empty() && m_rows > 1) {
        m_sorted.resize(static_cast<std::size_t>(m_rows));
        std::iota(m_sorted.begin(), m_sorted.end(), 0);
        // Each pass is stable: sorting by the last key first leaves its order among the rows the earlier
        // keys find equal.
        for (std::size_t key = m_keys.size(); key-- > 0;)
            SortBy(record, key);
    }
    m_sorted.shrink_to_fit();
    ApplyFilter(record, false);
}

void ListRowOrder::SetFilter(const CMemRecord& record, std::string needle, std::vector<int> columns) {
    const bool narrowOnly = m_filtered && columns == m_filterColumns && m_rows == record.GetRecordCount() &&
                            needle.size() > m_needle.size() && ContainsGbkNoCase(needle, m_needle);
    m_needle = std::move(needle);
    m_numericNeedle = m_needle.find_first_not_of("0123456789.-") == std::string::npos;
    m_filterColumns = std::move(columns);
    ApplyFilter(record, narrowOnly);
}

bool ListRowOrder::RowMatches(const CMemRecord& record, long row) const {
    char digits[32];
    for (const int column : m_filterColumns) {
        const FieldInfo& field = record.GetField(column);
        if (field.type != FieldType::Text && !m_numericNeedle)
            continue; // a number's text holds only digits, '.' and '-'
        switch (field.type) {
        case FieldType::Text:
            if (ContainsGbkNoCase(record.GetCellText(row, column), m_needle))
                return true;
            break;
        case FieldType::Integer: {
            const auto [end, ec] =
                std::to_chars(digits, digits + sizeof digits, record.GetCellLong(row, column));
            if (ec == std::errc() && ContainsGbkNoCase(std::string_view(digits, end - digits), m_needle))
                return true;
            break;
        }
        case FieldType::Real:
            if (ContainsGbkNoCase(RealToText(record.GetCellDouble(row, column), field.decimals), m_needle))
                return true;
            break;
        }
    }
    return false;
}

void ListRowOrder::ApplyFilter(const CMemRecord& record, bool narrowOnly) {
    if (m_needle.empty()) {
        m_filtered = false;
        m_shown.clear();
        m_shown.shrink_to_fit();
        return;
    }
    if (narrowOnly) {
        std::erase_if(m_shown, [&](std::int32_t row) { return !RowMatches(record, row); });
    } else {
        // Room for every row at once: growing by doubling would hold twice as much for a moment.
        m_shown.clear();
        m_shown.reserve(static_cast<std::size_t>(m_rows));
        for (long line = 0; line < m_rows; ++line) {
            const long row = m_sorted.empty() ? line : m_sorted[static_cast<std::size_t>(line)];
            if (RowMatches(record, row))
                m_shown.push_back(static_cast<std::int32_t>(row));
        }
    }
    if (m_shown.size() < m_shown.capacity() / 4) // a few rows kept: give the rest back
        m_shown.shrink_to_fit();
    m_filtered = true;
}

bool ListRowOrder::Before(const CMemRecord& record, std::int32_t a, std::int32_t b) const {
    for (std::size_t k = 0; k < m_keys.size(); ++k) {
        const int column = m_keys[k].column;
        // Each comparison as the key's sort makes it, the direction applied to the cells only.
        const auto less = [&](std::int32_t x, std::int32_t y) {
            switch (record.GetField(column).type) {
            case FieldType::Integer:
                return record.GetCellLong(x, column) < record.GetCellLong(y, column);
            case FieldType::Real:
                return lessNumber(record.GetCellDouble(x, column), record.GetCellDouble(y, column));
            case FieldType::Text:
                break;
            }
            if (m_keyNumericText[k])
                return lessSignedNumber(textNumber(record.GetCellText(x, column)),
                                        textNumber(record.GetCellText(y, column)));
            return lessTextNoCase(record.GetCellText(x, column), record.GetCellText(y, column));
        };
        const bool aFirst = m_keys[k].ascending ? less(a, b) : less(b, a);
        if (aFirst)
            return true;
        if (m_keys[k].ascending ? less(b, a) : less(a, b))
            return false;
    }
    return a < b;
}

std::vector<std::int32_t> ListRowOrder::RowsAfterRemoval(long oldCount, const std::vector<long>& removed) {
    std::vector<std::int32_t> remap(static_cast<std::size_t>(std::max(oldCount, 0L)));
    std::int32_t gone = 0;
    auto next = removed.begin();
    for (std::size_t r = 0; r < remap.size(); ++r) {
        while (next != removed.end() && *next < static_cast<long>(r))
            ++next;
        if (next != removed.end() && *next == static_cast<long>(r)) {
            remap[r] = -1;
            ++gone;
        } else {
            remap[r] = static_cast<std::int32_t>(r) - gone;
        }
    }
    return remap;
}

void ListRowOrder::MergeInto(const CMemRecord& record, std::vector<std::int32_t>& order,
                             const std::vector<std::int32_t>& remap,
                             const std::vector<std::int32_t>& added) const {
    std::erase_if(order, [&](std::int32_t& row) {
        row = row >= 0 && static_cast<std::size_t>(row) < remap.size() ? remap[static_cast<std::size_t>(row)]
                                                                       : -1;
        return row < 0;
    });
    if (added.empty())
        return;
    // Each new row's place by a binary search over the rows that stay: k log n comparisons of cells, not
    // n; then one pass puts them in.
    std::vector<std::size_t> places(added.size());
    for (std::size_t i = 0; i < added.size(); ++i)
        places[i] = static_cast<std::size_t>(
            std::upper_bound(order.begin(), order.end(), added[i],
                             [&](std::int32_t x, std::int32_t y) { return Before(record, x, y); }) -
            order.begin());
    std::vector<std::int32_t> merged;
    merged.reserve(order.size() + added.size());
    std::size_t from = 0;
    for (std::size_t i = 0; i < added.size(); ++i) {
        merged.insert(merged.end(), order.begin() + static_cast<std::ptrdiff_t>(from),
                      order.begin() + static_cast<std::ptrdiff_t>(places[i]));
        merged.push_back(added[i]);
        from = places[i];
    }
    merged.insert(merged.end(), order.begin() + static_cast<std::ptrdiff_t>(from), order.end());
    order = std::move(merged);
}

void ListRowOrder::ApplyChanges(const CMemRecord& record, const RowChanges& changes) {
    const long newRows = record.GetRecordCount();
    const bool sorted = !m_keys.empty();
    // A sort that held no rows, or a text key whose cells stop being all numbers: as a Rebuild would.
    bool rebuild = sorted && (m_sorted.empty() || m_keyNumericText.size() != m_keys.size());
    std::vector<std::int32_t> remap = RowsAfterRemoval(m_rows, changes.removed);
    std::vector<std::int32_t> added;
    added.reserve(changes.changed.size() + static_cast<std::size_t>(std::max(changes.appended, 0L)));
    for (const long row : changes.changed)
        if (row >= 0 && row < m_rows && remap[static_cast<std::size_t>(row)] >= 0) {
            added.push_back(remap[static_cast<std::size_t>(row)]);
            remap[static_cast<std::size_t>(row)] = -1; // leaves its place, to be put where it now sorts
        }
    for (long row = newRows - std::max(changes.appended, 0L); row < newRows; ++row)
        added.push_back(static_cast<std::int32_t>(row));
    for (std::size_t k = 0; k < m_keys.size() && !rebuild; ++k)
        if (m_keyNumericText[k])
            for (const std::int32_t row : added) {
                const std::string_view cell = record.GetCellText(row, m_keys[k].column);
                SignedNumber number;
                if (!cell.empty() && !ParseSignedNumber(cell, number)) {
                    rebuild = true;
                    break;
                }
            }
    if (rebuild) {
        Rebuild(record);
        return;
    }
    std::sort(added.begin(), added.end(),
              [&](std::int32_t a, std::int32_t b) { return Before(record, a, b); });
    if (sorted)
        MergeInto(record, m_sorted, remap, added);
    m_rows = newRows;
    if (!m_filtered)
        return;
    std::erase_if(added, [&](std::int32_t row) { return !RowMatches(record, row); });
    MergeInto(record, m_shown, remap, added);
}

long ListRowOrder::Count() const {
    return m_filtered ? static_cast<long>(m_shown.size()) : m_rows;
}

long ListRowOrder::RecordRow(long line) const {
    if (line < 0 || line >= Count())
        return -1;
    if (m_filtered)
        return m_shown[static_cast<std::size_t>(line)];
    return m_sorted.empty() ? line : m_sorted[static_cast<std::size_t>(line)];
}

std::vector<long> ListRowOrder::RecordRows() const {
    const std::vector<std::int32_t>& order = m_filtered ? m_shown : m_sorted;
    if (!m_filtered && order.empty()) {
        std::vector<long> rows(static_cast<std::size_t>(m_rows));
        for (std::size_t line = 0; line < rows.size(); ++line)
            rows[line] = static_cast<long>(line);
        return rows;
    }
    return std::vector<long>(order.begin(), order.end());
}

long ListRowOrder::LineOf(long recordRow) const {
    if (recordRow < 0 || recordRow >= m_rows)
        return -1;
    const std::vector<std::int32_t>& order = m_filtered ? m_shown : m_sorted;
    if (!m_filtered && order.empty())
        return recordRow;
    const auto it = std::find(order.begin(), order.end(), static_cast<std::int32_t>(recordRow));
    return it == order.end() ? -1 : static_cast<long>(it - order.begin());
}

std::size_t ListRowOrder::HeldBytes() const {
    return (m_sorted.capacity() + m_shown.capacity()) * sizeof(std::int32_t);
}

} // namespace orvo
