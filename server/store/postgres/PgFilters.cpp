#include "server/store/postgres/PgFilters.h"

#include "server/store/QueryFilters.h"

namespace orvo::server::pg {

void filterPermitted(PgQuery& q, const Operator& op) {
    appendPermitted(q, op, " AND false");
}

void filterCustomers(PgQuery& q, const Operator& op, const Conditions& cond) {
    appendCustomerConditions(q, op, cond, " AND false");
}

void filterRules(PgQuery& q, const RuleQuery& query) {
    appendRuleConditions(q, query, " AND r.valid_date", kRevChangedSince, ")");
}

} // namespace orvo::server::pg
