#include "query/TranslateCode.h"

#include "host/dbm/MemRecord.h"
#include "host/stock/DataDictionary.h"
#include "module/ModuleState.h"
#include "platform/Collections.h"
#include "platform/GbkText.h"
#include "platform/TextNumbers.h"

#include <climits>
#include <cstdint>
#include <string_view>
#include <unordered_map>

namespace {

// How a category finds its text.
enum class Lookup : unsigned char {
    TableByText,   // host table keyed by the code text
    TableByNumber, // host table keyed by the code's integer value
    CodeItself,    // no lookup: the code is its own text
    SystemCode,    // "XTDM" code dictionary, integer code
    FuturesCode,   // "QHXTDM" code dictionary, integer code
    FuturesChar,   // "QHXTDM" code dictionary, character code
    BitSet,        // "XTDM" code dictionary, one text per set bit
    CharSet,       // table "XTDM" of the host table map, one text per contained character code
};

struct Category {
    Lookup lookup;
    const char* table = nullptr;     // TableBy*: table name
    const char* keyColumn = nullptr; // TableBy*: key column; code dictionaries: the "FLDM" passed
    const char* textColumn = nullptr;
};

using CategoryMap = std::unordered_map<std::string_view, Category>;

CategoryMap BuildCategories() {
    CategoryMap map;
    const auto table = [&](const char* name, Lookup lookup, const char* tableName, const char* key,
                           const char* text) {
        map.emplace(name, Category{lookup, tableName, key, text});
    };
    table("JYS", Lookup::TableByText, "JYS", "JYS", "JYSJC");
    table("BZ", Lookup::TableByText, "BZ", "BZ", "BZMC");
    table("YYB", Lookup::TableByText, "YYB", "JGBM", "JGJC");
    table("ZQLB", Lookup::TableByText, "ZQLB", "ZQLB", "ZQLBMC");
    table("YWKM", Lookup::TableByText, "YWKM", "YWKM", "YWMC");
    table("QHPZ", Lookup::TableByText, "QHPZ", "HYPZ", "PZMC");
    table("QHJYS", Lookup::TableByText, "QHJYS", "JYS", "JYSJC");
    table("JYLB", Lookup::TableByNumber, "JYLB", "JYLB", "JYLBMC");

    for (const char* name : {"YH", "YHMC"})
        map.emplace(name, Category{Lookup::CodeItself});

    for (const char* name : {"ZQTJFL", "KHTZFL", "KHZT",   "LPZSFS", "GDLB",   "WTSBJG", "JGFJBZ", "QSFYXM",
                             "ZQJYZT", "ZHZT",   "YHZHZT", "GYZT",   "ZJLB",   "XLDM",   "ZYDM",   "ZJZHLB",
                             "JGLB",   "CWLX",   "GDJSLX", "YWKMLB", "YWTJFL", "GDZT",   "GYFL",   "QSWJLX"})
        map.emplace(name, Category{Lookup::SystemCode, "XTDM", name});

    // The order-report result is filed under its short category name.
    const std::pair<const char*, const char*> futures[] = {{"QHKPFX", "QHKPFX"}, {"QHWTSBJG", "SBJG"},
                                                           {"QHTZLB", "QHTZLB"}, {"QHJSLX", "QHJSLX"},
                                                           {"QHMMFX", "QHMMFX"}, {"JYBMSX", "JYBMSX"}};
    for (const auto& [name, fldm] : futures)
        map.emplace(name, Category{Lookup::FuturesCode, "QHXTDM", fldm});
    map.emplace("QHCXBZ", Category{Lookup::FuturesChar, "QHXTDM", "QHCXBZ"});

    for (const char* name : {"DLQX", "WTFS", "ZHSX_ZJ", "FWXM", "JYSJYXZ", "ZJJDFX", "KHSX", "MMXZ", "SBSJXZ",
                             "CQLB", "GYFJQX", "GDSX"})
        map.emplace(name, Category{Lookup::BitSet, "XTDM", name});

    map.emplace("ZQJCLB", Category{Lookup::CharSet, "XTDM", "ZQJCLB"});
    return map;
}

const CategoryMap& Categories() {
    static const CategoryMap categories = BuildCategories();
    return categories;
}

CString DictionaryCode(const Category& c, long code) {
    if (!g_pDictionary)
        return CString();
    return g_pDictionary->GetXTDM(c.table, "FLDM", c.keyColumn, "IBM", code, "NOTE");
}

CString StripLeadingCommas(const std::string& text) {
    const size_t first = text.find_first_not_of(',');
    return first == std::string::npos ? CString() : CString(std::string_view(text).substr(first));
}

// Each set bit of the 32-bit value, lowest first, contributes "," and its text (also when that is empty).
CString TranslateBitSet(const Category& c, long value) {
    const auto bits = static_cast<std::uint32_t>(static_cast<std::int32_t>(value));
    std::string joined;
    for (int i = 0; i < 32; ++i) {
        const std::uint32_t bit = std::uint32_t{1} << i;
        if ((bits & bit) == 0)
            continue;
        // A 32-bit counter files the top bit under the negative value it has as a signed long.
        const long bitCode = static_cast<std::int32_t>(bit);
        joined += ',';
        joined += DictionaryCode(c, bitCode).str();
    }
    return StripLeadingCommas(joined);
}

// Byte search that only accepts matches starting on a GBK character boundary, so that a trail byte that
// looks like an ASCII letter never matches.
bool ContainsGbk(std::string_view text, std::string_view sub) {
    if (sub.empty())
        return true;
    size_t pos = 0;
    while (pos < text.size()) {
        if (text.compare(pos, sub.size(), sub) == 0)
            return true;
        pos += orvo::GbkCharLength(text, pos);
    }
    return false;
}

// Every "ZQJCLB" row of table "XTDM" whose character code occurs in the code, in table order.
CString TranslateCharSet(const Category& c, const CString& strCode) {
    void* found = nullptr;
    if (!g_pTableMap || !g_pTableMap->Lookup(c.table, found) || !found)
        return CString();
    auto* table = static_cast<CMemRecord*>(found);
    std::string joined;
    for (table->GoTop(); !table->Eof(); table->Skip(1)) {
        if (table->GetString("FLDM") != c.keyColumn)
            continue;
        if (!ContainsGbk(strCode.view(), table->GetString("CBM").view()))
            continue;
        joined += ',';
        joined += table->GetString("NOTE").str();
    }
    return StripLeadingCommas(joined);
}

} // namespace

long CodeToInteger(const CString& strCode) {
    return CodeTextToInteger(strCode.view());
}

long CodeTextToInteger(std::string_view code) {
    const long value = orvo::TextToLong(code);
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return value;
}

bool CodeTextCache::Fresh() const {
    if (g_pDictionary != m_dictionary)
        return false;
    if (!g_pDictionary)
        return true;
    if (g_pDictionary->GetChangeStamp() != m_dictionaryStamp)
        return false;
    return !m_rows || static_cast<const CMemRecord*>(m_rows)->GetChangeStamp() == m_rowsStamp;
}

const CString& CodeTextCache::Text(long code) {
    if (!Fresh()) {
        m_texts.clear();
        m_dictionary = g_pDictionary;
        m_rows = g_pDictionary ? g_pDictionary->GetTable(m_table) : nullptr;
        m_dictionaryStamp = g_pDictionary ? g_pDictionary->GetChangeStamp() : 0;
        m_rowsStamp = m_rows ? static_cast<const CMemRecord*>(m_rows)->GetChangeStamp() : 0;
    }
    for (const auto& [known, text] : m_texts)
        if (known == code)
            return text;
    CString text =
        g_pDictionary ? g_pDictionary->GetXTDM(m_table, "FLDM", m_category, "IBM", code, "NOTE") : CString();
    return m_texts.emplace_back(code, std::move(text)).second;
}

int TranslateCodeCategoryCount() {
    return static_cast<int>(Categories().size());
}

CString TranslateCode(const CString& strCategory, const CString& strCode) {
    const auto& categories = Categories();
    const auto it = categories.find(strCategory.view());
    if (it == categories.end())
        return CString();
    const Category& c = it->second;
    switch (c.lookup) {
    case Lookup::TableByText:
        return g_pDictionary ? g_pDictionary->GetXTDM(c.table, c.keyColumn, strCode, c.textColumn)
                             : CString();
    case Lookup::TableByNumber:
        return g_pDictionary ? g_pDictionary->GetXTDM(c.table, c.keyColumn,
                                                      static_cast<int>(CodeToInteger(strCode)), c.textColumn)
                             : CString();
    case Lookup::CodeItself:
        return strCode;
    case Lookup::SystemCode:
    case Lookup::FuturesCode:
        return DictionaryCode(c, CodeToInteger(strCode));
    case Lookup::FuturesChar:
        return g_pDictionary ? g_pDictionary->GetXTDM(c.table, "FLDM", c.keyColumn, "CBM", strCode, "NOTE")
                             : CString();
    case Lookup::BitSet:
        return TranslateBitSet(c, CodeToInteger(strCode));
    case Lookup::CharSet:
        return TranslateCharSet(c, strCode);
    }
    return CString();
}
