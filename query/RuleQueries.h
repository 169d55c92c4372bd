// The six rule queries of the query window, one per order kind (tab). Each empties the kind's record set,
// sends one request over g_pFixComm with the query conditions, and appends one row per reply row, codes
// turned into text on the way. Redrawing the list and giving it the focus is left to the window.
//
// Each returns 1 when the request was sent (also when the reply had no rows); 0 when there is no request
// channel (the record set is then emptied and nothing is sent). A reply that is refused or cut off
// part-way leaves the record set empty, as one without rows does.
#pragma once

#include "platform/CString.h"
#include "query/QueryConditions.h"

#include <string_view>

class CFixComm;
class CMemRecord;

// The condition items every rule request carries, in this order: 697 always, 610, 605, 599, 720, 719
// when not empty, 9020 always, 618 and 590 only for validity "1". All as text, unchanged.
void AddConditionItems(CFixComm& comm, const QueryConditions& cond);

int QueryPriceTriggerRules(const QueryConditions& cond,
                           CMemRecord& rec);                             // F1, 16476, leaves last row current
int QueryStopProfitRules(const QueryConditions& cond, CMemRecord& rec);  // F2, 16477, leaves last row current
int QueryFillTriggerRules(const QueryConditions& cond, CMemRecord& rec); // F3, 16486, leaves last row current
int QueryArbitrageRules(const QueryConditions& cond, CMemRecord& rec);   // F4, 16479, ends on first row
int QueryBatchRules(const QueryConditions& cond, CMemRecord& rec);       // F5, 16485 category 6, first row
int QueryLinkedRules(const QueryConditions& cond, CMemRecord& rec);      // F6, 16425 + 16433 + 16485 cat. 5

// The query of the given order kind (tab index 0..5); for any other index 0, with nothing sent and the
// record set untouched.
int QueryRules(int kind, const QueryConditions& cond, CMemRecord& rec);

// The stop-loss / take-profit price columns: empty for an offset of exactly 0.0; otherwise the order
// price plus the offset for a take-profit column of direction 1 or a stop-loss column of any other
// direction, minus it in the other two cases; with the decimals the result has, at least two and at most
// four (103.895 on a 0.005 tick stays 103.895; 102.5 shows as 102.50).
CString StopProfitPrice(long direction, double price, double offset, bool takeProfit);
// The same from the texts a reply row holds (read as TextToDouble reads them), as the query computes it.
CString StopProfitPrice(long direction, std::string_view price, std::string_view offset, bool takeProfit);
