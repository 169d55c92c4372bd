#include "server/store/postgres/PgFilters.h"

namespace orvo::server::pg {

void filterPermitted(PgQuery& q, const Operator& op) {
    if (!op.allBranches) {
        if (op.branches.empty())
            q.sql(" AND false");
        else
            q.sql(" AND c.branch IN ").valueList(op.branches);
    }
    if (!op.allGroups) {
        if (op.groups.empty())
            q.sql(" AND false");
        else
            q.sql(" AND c.khqz IN ").valueList(op.groups);
    }
}

// The operator's permissions, then the branch (the opening organisation or the branch above it), group
// and customer conditions.
void filterCustomers(PgQuery& q, const Operator& op, const Conditions& cond) {
    filterPermitted(q, op);
    if (!cond.branches.empty()) {
        q.sql(" AND (c.yyb IN ").valueList(cond.branches);
        q.sql(" OR c.branch IN ").valueList(cond.branches).sql(")");
    }
    if (!cond.group.empty())
        q.sql(" AND c.khqz = ").value(cond.group);
    if (!cond.customer.empty())
        q.sql(" AND c.khh = ").value(cond.customer);
}

// The rules' own conditions.
void filterRules(PgQuery& q, const RuleQuery& query) {
    const Conditions& cond = *query.cond;
    if (!cond.exchange.empty())
        q.sql(" AND r.jys = ").value(cond.exchange);
    if (!cond.variety.empty())
        q.sql(" AND r.zqlb = ").value(cond.variety);
    if (!cond.contract.empty()) {
        if (query.contractOnEitherLeg)
            q.sql(" AND (r.hydm = ")
                .value(cond.contract)
                .sql(" OR r.src_hydm = ")
                .value(cond.contract)
                .sql(")");
        else
            q.sql(" AND r.hydm = ").value(cond.contract);
    }
    if (query.changedFrom > 0)
        q.sql(" AND r.rev >= ").value(query.changedFrom);
    if (cond.validity == Validity::Valid) {
        q.sql(" AND r.valid_date >= ").value(query.today);
    } else if (cond.validity == Validity::Expired) {
        q.sql(" AND r.valid_date < ").value(query.today);
        if (!cond.beginDate.empty())
            q.sql(" AND r.set_date >= ").value(cond.beginDate);
        if (!cond.endDate.empty())
            q.sql(" AND r.set_date <= ").value(cond.endDate);
    }
}

} // namespace orvo::server::pg
