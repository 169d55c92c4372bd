// The SQL filters of the rule queries on PostgreSQL: an operator's permissions and a request's customer
// conditions over the customers (alias c), the rules' own conditions over the rules (alias r). Every
// filter is a fixed fragment with bound values.
#pragma once

#include "server/store/Conditions.h"
#include "server/store/Operator.h"
#include "server/store/Store.h"
#include "server/store/postgres/PgQuery.h"

#include <string_view>

namespace orvo::server::pg {

// Only the operator's permissions.
void filterPermitted(PgQuery& q, const Operator& op);

// The operator's permissions, then the branch (the opening organisation or the branch above it), group
// and customer conditions.
void filterCustomers(PgQuery& q, const Operator& op, const Conditions& cond);

// The rules' own conditions (and the position a change query starts from).
void filterRules(PgQuery& q, const RuleQuery& query);

// Rows carry the id of the transaction that wrote them; commit_order gives each committed one its
// position. kRevChangedSince, the position, then ")": a rule written at that position or later.
inline constexpr std::string_view kRevChangedSince =
    " AND r.rev IN (SELECT o.xid FROM commit_order o WHERE o.position >= ";

} // namespace orvo::server::pg
