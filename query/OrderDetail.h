// The order-detail query: the ordinary orders that one rule record produced, read into the detail record
// set. The window empties the detail list, calls QueryOrderDetail with the rule set of the selected tab
// (positioned on the selected row), then redraws the detail list.
#pragma once

#include "platform/CString.h"
#include "query/QueryConditions.h"

class CMemRecord;

// Reply flag (tag 755) of an order row that is not listed.
inline constexpr const char* DETAIL_HIDDEN_FLAG = "W";

// 16171 for validity "1" (expired rules), 16151 otherwise, including before any conditions were confirmed.
long DetailFunction(const QueryConditions& cond);

// Empties detail, then runs the builder of the kind (tab index 0..5) on the current row of rule. Result 1
// when a request was sent and detail rebuilt from its reply; 0 when the row's keys allow no request (no
// customer, serial number <= 0, for F1 also trigger state <= 0; also no current row), for an unknown kind,
// or without a request channel.
int QueryOrderDetail(int kind, const CMemRecord& rule, const QueryConditions& cond, CMemRecord& detail);

// The per-kind builders behind QueryOrderDetail (same results; they do not empty detail when the gate fails).
int QueryPriceTriggerDetail(const CMemRecord& rule, const QueryConditions& cond, CMemRecord& detail);
int QueryStopProfitDetail(const CMemRecord& rule, const QueryConditions& cond, CMemRecord& detail);
int QueryFillTriggerDetail(const CMemRecord& rule, const QueryConditions& cond, CMemRecord& detail);
int QueryArbitrageDetail(const CMemRecord& rule, const QueryConditions& cond, CMemRecord& detail);
int QueryBatchDetail(const CMemRecord& rule, const QueryConditions& cond, CMemRecord& detail);
int QueryLinkedDetail(const CMemRecord& rule, const QueryConditions& cond, CMemRecord& detail);

// Reads the reply of the request just framed on g_pFixComm into detail (emptied first), skipping rows whose
// tag 755 is exactly "W". A reply refused or cut off part-way leaves detail empty.
void FillDetail(CMemRecord& detail);
