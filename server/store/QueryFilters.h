// The SQL filters of the rule queries, written once for both back-ends' query builders (a Query has
// sql(fragment), value(v) and valueList(values), which bind the values): an operator's permissions and a
// request's customer conditions over the customers (alias c), the rules' own conditions over the rules
// (alias r). Every filter is a fixed fragment with bound values; the dialects differ only in the few
// words given as arguments.
#pragma once

#include "server/store/Conditions.h"
#include "server/store/Operator.h"
#include "server/store/Store.h"

#include <string_view>

namespace orvo::server {

// " AND ..." terms of the operator's branches and groups; `never` is the dialect's always-false term.
template <typename Query> void appendPermitted(Query& q, const Operator& op, std::string_view never) {
    if (!op.allBranches) {
        if (op.branches.empty())
            q.sql(never);
        else
            q.sql(" AND c.branch IN ").valueList(op.branches);
    }
    if (!op.allGroups) {
        if (op.groups.empty())
            q.sql(never);
        else
            q.sql(" AND c.khqz IN ").valueList(op.groups);
    }
}

// The operator's permissions, then the branch, group and customer conditions. A branch code selects the
// accounts opened at that organisation and, for a branch, those of the offices under it.
template <typename Query>
void appendCustomerConditions(Query& q, const Operator& op, const Conditions& cond, std::string_view never) {
    appendPermitted(q, op, never);
    if (!cond.branches.empty()) {
        q.sql(" AND (c.yyb IN ").valueList(cond.branches);
        q.sql(" OR c.branch IN ").valueList(cond.branches).sql(")");
    }
    if (!cond.group.empty())
        q.sql(" AND c.khqz = ").value(cond.group);
    if (!cond.customer.empty())
        q.sql(" AND c.khh = ").value(cond.customer);
}

// The exchange, variety, contract, validity and date conditions, and the revision a change query starts
// from. Within validity: the validity date is today or later. Expired: it has passed; the date range then
// selects by the date the rule was set. `validDate` is the validity column as the dialect should read it.
// `changedSince` and `changedSinceEnd` enclose the position a change query starts from, in a term of the
// rules' revision (r.rev) as the dialect's commit order reads it.
template <typename Query>
void appendRuleConditions(Query& q, const RuleQuery& query, std::string_view validDate = " AND r.valid_date",
                          std::string_view changedSince = " AND r.rev >= ",
                          std::string_view changedSinceEnd = "") {
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
        q.sql(changedSince).value(query.changedFrom).sql(changedSinceEnd);
    if (cond.validity == Validity::Valid) {
        q.sql(validDate).sql(" >= ").value(query.today);
    } else if (cond.validity == Validity::Expired) {
        q.sql(validDate).sql(" < ").value(query.today);
        if (!cond.beginDate.empty())
            q.sql(" AND r.set_date >= ").value(cond.beginDate);
        if (!cond.endDate.empty())
            q.sql(" AND r.set_date <= ").value(cond.endDate);
    }
}

// " AND ..." terms of an order query over the orders (alias o): the rule's orders of the customer, of the
// current or history list, of the kind and dates asked for.
template <typename Query> void appendOrderConditions(Query& q, const OrderQuery& query) {
    q.sql(" AND o.lsh = ").value(query.ruleSerial);
    q.sql(" AND o.hist = ").value(std::int64_t{query.history ? 1 : 0});
    if (query.haveCategory)
        q.sql(" AND o.kind = ").value(query.category);
    if (!query.beginDate.empty())
        q.sql(" AND o.wtrq >= ").value(query.beginDate);
    if (!query.endDate.empty())
        q.sql(" AND o.wtrq <= ").value(query.endDate);
}

// "Has the list of this order query changed since `from`", one boolean term: its customer is one the
// operator may see, and an order the query lists was written at `from` or later, or one of the customer's
// orders of the rule was deleted since. `never` is the dialect's always-false term; `orderRevSince` and
// `tombstoneRevSince` open its term "written at that position or later" over o.rev and t.rev, and
// `sinceEnd` closes it after the position.
template <typename Query>
void appendOrdersChangedSince(Query& q, const OrderQuery& query, std::int64_t from, std::string_view never,
                              std::string_view orderRevSince, std::string_view tombstoneRevSince,
                              std::string_view sinceEnd) {
    q.sql("EXISTS(SELECT 1 FROM customers c WHERE c.khh = ").value(query.customer);
    appendPermitted(q, *query.op, never);
    q.sql(") AND (EXISTS(SELECT 1 FROM orders o WHERE o.khh = ").value(query.customer);
    appendOrderConditions(q, query);
    q.sql(orderRevSince).value(from).sql(sinceEnd);
    q.sql(") OR EXISTS(SELECT 1 FROM row_tombstones t WHERE t.lsh = ").value(query.ruleSerial);
    q.sql(" AND t.tbl = 'orders' AND t.khh = ").value(query.customer);
    if (query.haveCategory)
        q.sql(" AND t.kind = ").value(query.category);
    q.sql(tombstoneRevSince).value(from).sql(sinceEnd);
    q.sql("))");
}

} // namespace orvo::server
