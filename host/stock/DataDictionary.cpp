#include "host/stock/DataDictionary.h"

#include "host/dbm/MemRecord.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

// An integer code column held as text matches only cells that hold a number: a blank cell is no code 0.
bool holdsIntegerCode(const CMemRecord& table, long row, int column) {
    if (table.GetField(column).type != FieldType::Text)
        return true;
    const CString text = table.GetCellString(row, column);
    int pos = 0;
    while (pos < text.GetLength() && (text[pos] == ' ' || text[pos] == '\t'))
        ++pos;
    if (pos < text.GetLength() && (text[pos] == '+' || text[pos] == '-'))
        ++pos;
    return pos < text.GetLength() && text[pos] >= '0' && text[pos] <= '9';
}

struct StringHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};

std::string_view IntegerBytes(const long& code) {
    return {reinterpret_cast<const char*>(&code), sizeof code};
}

// The first row of each (category, code) pair: open addressing over a hash of both, the pairs' bytes kept
// side by side in one string. A code is its text for the text forms and the 8 bytes of its integer value
// for the integer forms.
class PairIndex {
public:
    static constexpr long kNone = -1;

    void Clear() {
        m_slots.clear();
        m_keys.clear();
        m_count = 0;
    }

    // Keeps the first row given for a pair.
    void Insert(std::string_view category, std::string_view code, long row) {
        if ((m_count + 1) * 2 > m_slots.size())
            Grow();
        const std::uint64_t hash = Hash(category, code);
        const std::size_t mask = m_slots.size() - 1;
        for (std::size_t i = static_cast<std::size_t>(hash) & mask;; i = (i + 1) & mask) {
            Slot& slot = m_slots[i];
            if (slot.row == kNone) {
                slot = Slot{hash, m_keys.size(), static_cast<std::uint32_t>(category.size()),
                            static_cast<std::uint32_t>(code.size()), row};
                m_keys.append(category);
                m_keys.append(code);
                ++m_count;
                return;
            }
            if (Holds(slot, hash, category, code))
                return; // an earlier row has this pair
        }
    }

    long Find(std::string_view category, std::string_view code) const {
        if (m_slots.empty())
            return kNone;
        const std::uint64_t hash = Hash(category, code);
        const std::size_t mask = m_slots.size() - 1;
        for (std::size_t i = static_cast<std::size_t>(hash) & mask;; i = (i + 1) & mask) {
            const Slot& slot = m_slots[i];
            if (slot.row == kNone)
                return kNone;
            if (Holds(slot, hash, category, code))
                return slot.row;
        }
    }

private:
    struct Slot {
        std::uint64_t hash = 0;
        std::size_t key = 0; // offset of the pair's bytes in m_keys
        std::uint32_t categoryLength = 0;
        std::uint32_t codeLength = 0;
        long row = kNone; // kNone: free
    };

    // Eight bytes at a time (a code dictionary's keys are short), the category's length between the two
    // parts so that ("AB", "C") and ("A", "BC") spread apart.
    static std::uint64_t Hash(std::string_view category, std::string_view code) {
        constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
        std::uint64_t h = 0;
        const auto mix = [&h](std::string_view bytes) {
            while (!bytes.empty()) {
                std::uint64_t word = 0;
                const std::size_t take = std::min<std::size_t>(bytes.size(), sizeof word);
                std::memcpy(&word, bytes.data(), take);
                h = (h ^ word) * kMultiplier;
                h ^= h >> 32;
                bytes.remove_prefix(take);
            }
        };
        mix(category);
        h = (h ^ category.size()) * kMultiplier;
        mix(code);
        return h ^ (h >> 29); // the low bits pick the slot: fold the high ones in
    }

    bool Holds(const Slot& slot, std::uint64_t hash, std::string_view category, std::string_view code) const {
        return slot.hash == hash && slot.categoryLength == category.size() &&
               slot.codeLength == code.size() &&
               std::string_view(m_keys).substr(slot.key, category.size()) == category &&
               std::string_view(m_keys).substr(slot.key + category.size(), code.size()) == code;
    }

    void Grow() {
        std::vector<Slot> old = std::move(m_slots);
        m_slots.assign(old.empty() ? 16 : old.size() * 2, Slot{});
        const std::size_t mask = m_slots.size() - 1;
        for (const Slot& slot : old) {
            if (slot.row == kNone)
                continue;
            std::size_t i = static_cast<std::size_t>(slot.hash) & mask;
            while (m_slots[i].row != kNone)
                i = (i + 1) & mask;
            m_slots[i] = slot;
        }
    }

    std::vector<Slot> m_slots; // a power of two in size, at most half full
    std::string m_keys;
    std::size_t m_count = 0;
};

// One way of looking a table up: by which category column (-1: none) and which code column, and whether
// the code compares as an integer or as text.
struct CodeIndex {
    int categoryColumn = -1;
    int codeColumn = -1;
    bool integerCode = false;
    PairIndex firstRow;

    void Build(const CMemRecord& table) {
        firstRow.Clear();
        for (long row = 0; row < table.GetRecordCount(); ++row) {
            const CString category =
                categoryColumn < 0 ? CString() : table.GetCellString(row, categoryColumn);
            if (integerCode) {
                if (!holdsIntegerCode(table, row, codeColumn))
                    continue;
                const long code = table.GetCellLong(row, codeColumn);
                firstRow.Insert(category.view(), IntegerBytes(code), row);
            } else {
                firstRow.Insert(category.view(), table.GetCellString(row, codeColumn).view(), row);
            }
        }
    }
};

} // namespace

// Lookups go through indexes built on first use for each (category column, code column, kind of code)
// of a table, so that translating a reply of many rows does not walk the code table for every cell. An
// index remembers the table's change stamp and is rebuilt when the table changed since (a table changed
// through GetTable(), or replaced by AddTable()).
struct CDataDictionary::Impl {
    struct Table {
        std::unique_ptr<CMemRecord> rows;
        unsigned long long indexedStamp = 0;
        std::vector<CodeIndex> indexes;
    };
    std::unordered_map<std::string, Table, StringHash, std::equal_to<>> tables;
    std::atomic<unsigned long long> stamp{newStampRange()};
    static unsigned long long newStampRange() {
        static std::atomic<unsigned long long> next{0};
        return next.fetch_add(1ull << 32, std::memory_order_relaxed) + (1ull << 32);
    }
    std::mutex mutex; // lookups are const and may come from several threads; indexes are built lazily
    // The table of the last lookup. Tables are never removed, only refilled, so the pointer stays good.
    Table* lastTable = nullptr;
    std::string_view lastName; // its key in `tables`

    // The text column of the first row whose category and code match; "" when the table or a column is
    // missing or no row matches.
    CString find(LPCTSTR tableName, LPCTSTR categoryColumn, std::string_view category, LPCTSTR codeColumn,
                 bool integerCode, std::string_view code, LPCTSTR textColumn) {
        const std::lock_guard lock(mutex);
        const std::string_view name(tableName ? tableName : "");
        if (!lastTable || lastName != name) { // lookups come in runs on one table
            const auto it = tables.find(name);
            if (it == tables.end())
                return CString();
            lastTable = &it->second;
            lastName = it->first;
        }
        Table& table = *lastTable;
        const CMemRecord& rows = *table.rows;
        const int categoryIndex = categoryColumn ? rows.FindField(categoryColumn) : -1;
        const int codeIndex = rows.FindField(codeColumn);
        const int textIndex = rows.FindField(textColumn);
        if ((categoryColumn && categoryIndex < 0) || codeIndex < 0 || textIndex < 0)
            return CString();

        const long row = indexFor(table, categoryIndex, codeIndex, integerCode).firstRow.Find(category, code);
        // Read by row number so that the table's cursor stays where its owner left it.
        return row == PairIndex::kNone ? CString() : rows.GetCellString(row, textIndex);
    }

    const CodeIndex& indexFor(Table& table, int categoryIndex, int codeIndex, bool integerCode) {
        if (table.indexedStamp != table.rows->GetChangeStamp()) {
            table.indexes.clear();
            table.indexedStamp = table.rows->GetChangeStamp();
        }
        for (const CodeIndex& index : table.indexes)
            if (index.categoryColumn == categoryIndex && index.codeColumn == codeIndex &&
                index.integerCode == integerCode)
                return index;
        CodeIndex& index = table.indexes.emplace_back();
        index.categoryColumn = categoryIndex;
        index.codeColumn = codeIndex;
        index.integerCode = integerCode;
        index.Build(*table.rows);
        return index;
    }
};

CDataDictionary::CDataDictionary() : m_impl(new Impl) {}
CDataDictionary::~CDataDictionary() {
    delete m_impl;
}

void CDataDictionary::AddTable(LPCTSTR name, const CMemRecord& table) {
    const std::lock_guard lock(m_impl->mutex);
    Impl::Table& entry = m_impl->tables[name ? name : ""];
    entry.rows = std::make_unique<CMemRecord>(table);
    entry.indexes.clear();
    entry.indexedStamp = entry.rows->GetChangeStamp();
    m_impl->stamp.fetch_add(1, std::memory_order_release);
}

unsigned long long CDataDictionary::GetChangeStamp() const {
    return m_impl->stamp.load(std::memory_order_acquire);
}

CMemRecord* CDataDictionary::GetTable(LPCTSTR name) const {
    const std::lock_guard lock(m_impl->mutex);
    const auto it = m_impl->tables.find(std::string_view(name ? name : ""));
    return it == m_impl->tables.end() ? nullptr : it->second.rows.get();
}

CString CDataDictionary::GetXTDM(LPCTSTR table, LPCTSTR catColumn, LPCTSTR category, LPCTSTR codeColumn,
                                 long code, LPCTSTR textColumn) const {
    if (!catColumn)
        return CString();
    return m_impl->find(table, catColumn, category ? category : "", codeColumn, true, IntegerBytes(code),
                        textColumn);
}

CString CDataDictionary::GetXTDM(LPCTSTR table, LPCTSTR catColumn, LPCTSTR category, LPCTSTR codeColumn,
                                 LPCTSTR code, LPCTSTR textColumn) const {
    if (!catColumn)
        return CString();
    return m_impl->find(table, catColumn, category ? category : "", codeColumn, false, code ? code : "",
                        textColumn);
}

CString CDataDictionary::GetXTDM(LPCTSTR table, LPCTSTR codeColumn, int code, LPCTSTR textColumn) const {
    const long wide = code;
    return m_impl->find(table, nullptr, {}, codeColumn, true, IntegerBytes(wide), textColumn);
}

CString CDataDictionary::GetXTDM(LPCTSTR table, LPCTSTR codeColumn, LPCTSTR code, LPCTSTR textColumn) const {
    return m_impl->find(table, nullptr, {}, codeColumn, false, code ? code : "", textColumn);
}
