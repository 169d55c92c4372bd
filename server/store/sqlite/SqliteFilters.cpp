#include "server/store/sqlite/SqliteFilters.h"

namespace orvo::server::sqlite {

void filterPermitted(SqlQuery& q, const Operator& op) {
    if (!op.allBranches) {
        if (op.branches.empty())
            q.sql(" AND 0");
        else
            q.sql(" AND c.branch IN ").valueList(op.branches);
    }
    if (!op.allGroups) {
        if (op.groups.empty())
            q.sql(" AND 0");
        else
            q.sql(" AND c.khqz IN ").valueList(op.groups);
    }
}

void filterCustomers(SqlQuery& q, const Operator& op, const Conditions& cond) {
    filterPermitted(q, op);
    // A branch code selects the accounts opened at that organisation and, for a branch, those of the
    // offices under it.
    if (!cond.branches.empty()) {
        q.sql(" AND (c.yyb IN ").valueList(cond.branches);
        q.sql(" OR c.branch IN ").valueList(cond.branches).sql(")");
    }
    if (!cond.group.empty())
        q.sql(" AND c.khqz = ").value(cond.group);
    if (!cond.customer.empty())
        q.sql(" AND c.khh = ").value(cond.customer);
}

} // namespace orvo::server::sqlite
