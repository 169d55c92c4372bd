// The request frame the six rule queries share, and the value helpers of their row fillers.
#pragma once

#include "host/com/FixComm.h"
#include "host/dbm/MemRecord.h"
#include "platform/CString.h"
#include "query/QueryConditions.h"

#include <functional>

namespace rulequery {

// Request tag of the order category, sent by F1, F5, F6 and read back as column "WTDLB".
constexpr long TAG_ORDER_CATEGORY = 1842;

enum class CategoryItem { None, BeforeConditions, AfterConditions };

struct Frame {
    long function;
    CategoryItem categoryItem;
    long category;   // sent under 1842 as a long when categoryItem is not None
    bool goTopAfter; // F4..F6 end on the first row; F1..F3 stay on the last appended one
};

using RowFiller = std::function<void(CFixComm& fix, CMemRecord& rec)>;

// Empties rec, frames and sends the request, appends and fills one row per reply row. 0 (rec empty) when
// there is no request channel, else 1.
int RunRuleQuery(const Frame& frame, const QueryConditions& cond, CMemRecord& rec, const RowFiller& fill);

// "NOTE" of the futures code dictionary ("QHXTDM") for the category and the integer code; "" without a
// dictionary.
CString FuturesDictionaryText(LPCTSTR category, long code);

} // namespace rulequery
