#include "server/store/sqlite/SqliteFilters.h"

#include "server/store/QueryFilters.h"

namespace orvo::server::sqlite {

void filterPermitted(SqlQuery& q, const Operator& op) {
    appendPermitted(q, op, " AND 0");
}

void filterCustomers(SqlQuery& q, const Operator& op, const Conditions& cond) {
    appendCustomerConditions(q, op, cond, " AND 0");
}

} // namespace orvo::server::sqlite
