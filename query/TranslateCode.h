// Turns a code of a named category into its display text, through the data dictionary g_pDictionary and
// (category "ZQJCLB" only) the table "XTDM" of the host table map g_pTableMap.
#pragma once

#include "platform/CString.h"

#include <string_view>
#include <utility>
#include <vector>

// The category is matched exactly (case-sensitive); an unknown category gives "". The code is the text the
// reply delivered; categories keyed by number read its integer value (see CodeToInteger).
CString TranslateCode(const CString& strCategory, const CString& strCode);

// Integer value of a code as a 32-bit counter reads it: leading white space skipped, an optional sign, the
// decimal digits up to the first other character; 0 without digits; clamped to the 32-bit range.
long CodeToInteger(const CString& strCode);
long CodeTextToInteger(std::string_view code); // the same for bytes of a received row

// The texts ("NOTE") of the integer codes of one category of a code dictionary ("QHXTDM", "XTDM") in
// g_pDictionary, remembered for the rows of one query: a long reply repeats a handful of codes. What is
// remembered is dropped as soon as the dictionary changes (a table added or refilled, the code table's
// rows changed in place, another dictionary installed), so no text outlives the dictionary it came from.
class CodeTextCache {
public:
    CodeTextCache(const char* table, const char* category) : m_table(table), m_category(category) {}
    // GetXTDM(table, "FLDM", category, "IBM", code, "NOTE"); "" without a dictionary.
    const CString& Text(long code);

private:
    bool Fresh() const;

    const char* m_table;
    const char* m_category;
    const void* m_dictionary = nullptr; // what the texts were read from
    const void* m_rows = nullptr;
    unsigned long long m_dictionaryStamp = 0, m_rowsStamp = 0;
    std::vector<std::pair<long, CString>> m_texts; // few: searched in order
};

// Number of categories TranslateCode knows.
int TranslateCodeCategoryCount();
