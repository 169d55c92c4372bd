// Turns a code of a named category into its display text, through the data dictionary g_pDictionary and
// (category "ZQJCLB" only) the table "XTDM" of the host table map g_pTableMap.
#pragma once

#include "platform/CString.h"

// The category is matched exactly (case-sensitive); an unknown category gives "". The code is the text the
// reply delivered; categories keyed by number read its integer value (see CodeToInteger).
CString TranslateCode(const CString& strCategory, const CString& strCode);

// Integer value of a code as a 32-bit counter reads it: leading white space skipped, an optional sign, the
// decimal digits up to the first other character; 0 without digits; clamped to the 32-bit range.
long CodeToInteger(const CString& strCode);

// Number of categories TranslateCode knows.
int TranslateCodeCategoryCount();
