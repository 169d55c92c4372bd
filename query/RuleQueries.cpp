#include "query/RuleQueries.h"

#include "query/RuleRecordLayouts.h"

int QueryRules(int kind, const QueryConditions& cond, CMemRecord& rec) {
    switch (kind) {
    case KIND_PRICE_TRIGGER:
        return QueryPriceTriggerRules(cond, rec);
    case KIND_STOP_PROFIT:
        return QueryStopProfitRules(cond, rec);
    case KIND_FILL_TRIGGER:
        return QueryFillTriggerRules(cond, rec);
    case KIND_ARBITRAGE:
        return QueryArbitrageRules(cond, rec);
    case KIND_BATCH:
        return QueryBatchRules(cond, rec);
    case KIND_LINKED:
        return QueryLinkedRules(cond, rec);
    default:
        return 0;
    }
}
