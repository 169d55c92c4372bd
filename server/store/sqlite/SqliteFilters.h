// The SQL filters of an operator's permissions and a request's customer conditions, over the customers
// table (alias c). Every filter is a fixed fragment with bound values.
#pragma once

#include "server/store/Conditions.h"
#include "server/store/Operator.h"
#include "server/store/sqlite/SqlQuery.h"

namespace orvo::server::sqlite {

// Appends " AND ..." terms: the operator's branches and groups, then the branch, group and customer
// conditions.
void filterCustomers(SqlQuery& q, const Operator& op, const Conditions& cond);

// Only the operator's permissions, for queries without conditions.
void filterPermitted(SqlQuery& q, const Operator& op);

} // namespace orvo::server::sqlite
