#include "host/dbm/RecordSchema.h"

#include "host/dbm/TextCell.h"
#include "platform/GbkText.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace orvo::dbm {
namespace {

constexpr std::size_t kMaxFields = 4096;
constexpr std::size_t kMaxNameBytes = 256;
constexpr int kMaxWidth = 1 << 20;
constexpr int kMaxDecimals = 30;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// Reads decimal digits at text[pos...]; false when there are none or the number exceeds limit.
bool readNumber(std::string_view text, std::size_t& pos, int limit, int& value) {
    const std::size_t start = pos;
    value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        value = value * 10 + (text[pos] - '0');
        if (value > limit)
            return false;
        ++pos;
    }
    return pos > start;
}

// "I", "C12", "C12.2", "R8.2" (digits optional after C and R).
bool parseType(std::string_view spec, FieldInfo& field) {
    if (spec.empty())
        return false;
    std::size_t pos = 1;
    switch (spec[0]) {
    case 'I':
        field.type = FieldType::Integer;
        break;
    case 'C':
        field.type = FieldType::Text;
        break;
    case 'R':
        field.type = FieldType::Real;
        break;
    default:
        return false;
    }
    if (pos < spec.size() && !readNumber(spec, pos, kMaxWidth, field.width))
        return false;
    if (pos < spec.size() && spec[pos] == '.') {
        ++pos;
        if (!readNumber(spec, pos, kMaxDecimals, field.decimals))
            return false;
    }
    return pos == spec.size();
}

// Splits one "name[type]" item, stepping over GBK characters so that a trail byte equal to '[' or ']'
// never ends the name.
bool parseItem(std::string_view item, FieldInfo& field) {
    item = trim(item);
    std::size_t open = std::string_view::npos;
    for (std::size_t pos = 0; pos < item.size(); pos += GbkCharLength(item, pos))
        if (item[pos] == '[' && GbkCharLength(item, pos) == 1) {
            open = pos;
            break;
        }
    if (open == std::string_view::npos || item.back() != ']')
        return false;
    const std::string_view name = trim(item.substr(0, open));
    if (name.empty() || name.size() > kMaxNameBytes || name.find('\0') != std::string_view::npos)
        return false;
    field.name = CString(name);
    return parseType(item.substr(open + 1, item.size() - open - 2), field);
}

} // namespace

RecordSchema::RecordSchema(const RecordSchema& other)
    : m_fields(other.m_fields), m_cells(other.m_cells), m_textOffsets(other.m_textOffsets),
      m_index(other.m_index), m_rowSize(other.m_rowSize), m_layout(other.m_layout) {}

RecordSchema& RecordSchema::operator=(const RecordSchema& other) {
    if (this != &other) {
        m_fields = other.m_fields;
        m_cells = other.m_cells;
        m_textOffsets = other.m_textOffsets;
        m_index = other.m_index;
        m_rowSize = other.m_rowSize;
        m_layout = other.m_layout;
        clearCache();
    }
    return *this;
}

void RecordSchema::clearCache() {
    for (CacheEntry& entry : m_cache) {
        entry.name.store(nullptr, std::memory_order_relaxed);
        entry.index.store(-1, std::memory_order_relaxed);
    }
}

void RecordSchema::WidenRealDecimals(int maxDecimals) {
    for (FieldInfo& field : m_fields)
        if (field.type == FieldType::Real)
            field.maxDecimals = std::max(field.decimals, maxDecimals);
}

void RecordSchema::Clear() {
    clearCache();
    m_fields.clear();
    m_cells.clear();
    m_textOffsets.clear();
    m_index.clear();
    m_rowSize = 0;
    m_layout.clear();
}

bool RecordSchema::Parse(std::string_view layout) {
    Clear();
    std::vector<FieldInfo> fields;
    std::size_t start = 0;
    while (start <= layout.size()) {
        std::size_t comma = layout.find(',', start); // ',' is never a GBK trail byte
        if (comma == std::string_view::npos)
            comma = layout.size();
        FieldInfo field{CString(), FieldType::Integer, 0, 0};
        if (fields.size() == kMaxFields || !parseItem(layout.substr(start, comma - start), field))
            return false;
        fields.push_back(std::move(field));
        start = comma + 1;
    }
    m_fields = std::move(fields);
    // Text cells first (TextCell), then the 8-byte numbers: every cell stays 8-byte aligned.
    std::size_t offset = 0;
    for (const FieldInfo& field : m_fields)
        if (field.type == FieldType::Text) {
            m_textOffsets.push_back(offset);
            offset += sizeof(TextCell);
        }
    std::size_t text = 0;
    m_cells.resize(m_fields.size());
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        m_cells[i].type = m_fields[i].type;
        if (m_fields[i].type == FieldType::Text) {
            m_cells[i].offset = m_textOffsets[text++];
        } else {
            m_cells[i].offset = offset;
            offset += 8;
        }
    }
    m_rowSize = offset;
    buildIndex();
    // A name given twice could never be reached the second time: refuse the layout.
    for (int i = 0; i < FieldCount(); ++i)
        if (Find(m_fields[static_cast<std::size_t>(i)].name) != i) {
            Clear();
            return false;
        }
    m_layout = std::string(layout);
    return true;
}

std::size_t RecordSchema::hash(const char* name, std::size_t* length) {
    std::size_t h = 14695981039346656037ull; // FNV-1a
    const char* p = name;
    for (; *p; ++p) {
        h ^= static_cast<unsigned char>(*p);
        h *= 1099511628211ull;
    }
    if (length)
        *length = static_cast<std::size_t>(p - name);
    return h;
}

void RecordSchema::buildIndex() {
    std::size_t capacity = 8;
    while (capacity < m_fields.size() * 2)
        capacity *= 2;
    m_index.assign(capacity, -1);
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        std::size_t slot = hash(m_fields[i].name, nullptr) & (capacity - 1);
        while (m_index[slot] != -1) {
            // The first of equal names keeps the slot.
            if (m_fields[static_cast<std::size_t>(m_index[slot])].name == m_fields[i].name)
                break;
            slot = (slot + 1) & (capacity - 1);
        }
        if (m_index[slot] == -1)
            m_index[slot] = static_cast<int>(i);
    }
}

// The home entry missed: look at its neighbours, then hash the name and remember where it was found.
int RecordSchema::findSlow(const char* name) const {
    if (!name || m_index.empty())
        return -1;
    const std::size_t home = cacheHome(name);
    CacheEntry* freeEntry = nullptr;
    for (std::size_t probe = 0; probe < kCacheProbes; ++probe) {
        CacheEntry& entry = m_cache[(home + probe) & (kCacheSize - 1)];
        const char* cachedName = entry.name.load(std::memory_order_relaxed);
        if (cachedName == name) {
            const int cached = entry.index.load(std::memory_order_relaxed);
            if (nameIs(cached, name))
                return cached;
            freeEntry = &entry; // stale: this pointer now holds another name
            break;
        }
        if (!cachedName && !freeEntry)
            freeEntry = &entry;
    }
    const int found = findByHash(name);
    if (found >= 0) {
        CacheEntry& entry = freeEntry ? *freeEntry : m_cache[home];
        entry.name.store(name, std::memory_order_relaxed);
        entry.index.store(found, std::memory_order_relaxed);
    }
    return found;
}

int RecordSchema::findByHash(const char* name) const {
    std::size_t length = 0;
    const std::size_t mask = m_index.size() - 1;
    for (std::size_t slot = hash(name, &length) & mask;; slot = (slot + 1) & mask) {
        const int candidate = m_index[slot];
        if (candidate < 0)
            return -1;
        const std::string& stored = m_fields[static_cast<std::size_t>(candidate)].name.str();
        if (stored.size() == length && std::memcmp(stored.data(), name, length) == 0)
            return candidate;
    }
}

} // namespace orvo::dbm
